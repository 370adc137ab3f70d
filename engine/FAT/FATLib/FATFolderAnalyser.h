// Tells whether a sector read from the surface looks like part of a FAT
// directory, and whether it is the first sector of a sub-folder ("." and "..").
#pragma once

#include <cstddef>
#include <cstdint>

#include "FATLayout.h"

class CFATFolderAnalyser;

// Called for every ordinary short entry: the analyser, the entry, -1, the
// entry's index in the sector, whether "." and ".." were both seen, userData.
using CFatFolderAnalyzeCB = void (*)(CFATFolderAnalyser* analyser, const uint8_t* entry,
                                     int reserved, int index, bool bothDots, void* userData);

class CFATFolderAnalyser {
public:
    enum Verdict : int { kNone = 0, kDirectorySector = 1, kSubFolderFirstSector = 2 };

    explicit CFATFolderAnalyser(uint32_t length) : m_length(length) {}

    bool AnalyseSector(const uint8_t* sector, CFatFolderAnalyzeCB callback = nullptr,
                       void* userData = nullptr);

    int GetVerdict() const { return m_verdict; }
    uint32_t GetEntryCount() const { return m_entries; }
    uint64_t GetCurDirCluster() const { return m_dotCluster; }
    uint64_t GetParentDirCluster() const { return m_dotDotCluster; }
    uint64_t GetMaxFirstCluster() const { return m_maxCluster; }

    static bool IsCurDirFileName(const uint8_t* entry);
    static bool IsParentDirFileName(const uint8_t* entry);
    static bool IsBlankFATDirEntry(const uint8_t* entry);

    static const uint8_t m_s_BlankEntry[fat_layout::dirent::kSize];

private:
    void Clear();

    uint32_t m_length;
    int m_verdict = kNone;
    uint32_t m_entries = 0;
    uint64_t m_dotCluster = 0;
    uint64_t m_dotDotCluster = 0;
    uint64_t m_maxCluster = 0;
};
