#include "FATFolderAnalyser.h"

#include <cassert>
#include <cstring>

#include "FATDirEntry.h"

const uint8_t CFATFolderAnalyser::m_s_BlankEntry[fat_layout::dirent::kSize] = {};

bool CFATFolderAnalyser::IsCurDirFileName(const uint8_t* entry) {
    CTempFATDirEntry e(entry);
    return e.IsFilenameEqual(".       ", "   ") && e.IsDirectory();
}

bool CFATFolderAnalyser::IsParentDirFileName(const uint8_t* entry) {
    CTempFATDirEntry e(entry);
    return e.IsFilenameEqual("..      ", "   ") && e.IsDirectory();
}

bool CFATFolderAnalyser::IsBlankFATDirEntry(const uint8_t* entry) {
    assert(entry);
    return std::memcmp(entry, m_s_BlankEntry, sizeof(m_s_BlankEntry)) == 0;
}

void CFATFolderAnalyser::Clear() {
    m_verdict = kNone;
    m_entries = 0;
    m_dotCluster = 0;
    m_dotDotCluster = 0;
    m_maxCluster = 0;
}

bool CFATFolderAnalyser::AnalyseSector(const uint8_t* sector, CFatFolderAnalyzeCB callback,
                                       void* userData) {
    assert(sector);
    Clear();
    bool bad = false;
    bool seenDot = false;
    bool seenDotDot = false;
    bool havePrevious = false;
    uint64_t previousCluster = 0;
    const uint32_t count = m_length / kFATDirEntrySize;
    for (uint32_t index = 0; index < count; ++index) {
        const uint8_t* raw = sector + static_cast<size_t>(index) * kFATDirEntrySize;
        CTempFATDirEntry entry(raw);
        if (!entry.IsValidFATDirEntry(true)) {
            // Zeros after real entries are the unused tail of a directory.
            bad = (m_entries > 0 || (seenDot && seenDotDot)) ? !IsBlankFATDirEntry(raw) : true;
            break;
        }
        if (entry.IsLongFileNameEntry())
            continue;
        const uint64_t cluster = entry.GetFirstClusterNO();
        if (cluster > m_maxCluster)
            m_maxCluster = cluster;
        if (index == 0 && IsCurDirFileName(raw)) {
            m_dotCluster = cluster;
            seenDot = true;
            continue;
        }
        if (index == 1 && IsParentDirFileName(raw)) {
            m_dotDotCluster = cluster;
            seenDotDot = true;
            continue;
        }
        if (callback)
            callback(this, raw, -1, static_cast<int>(index), seenDot && seenDotDot, userData);
        if (!entry.IsErased()) {
            // Two live entries naming the same first cluster are a sign of
            // garbage; cluster 0 is shared by every empty file, so it proves
            // nothing.
            if (havePrevious && cluster != 0 && cluster == previousCluster) {
                bad = true;
                break;
            }
            havePrevious = true;
            previousCluster = cluster;
        }
        ++m_entries;
    }
    if (seenDot && seenDotDot) {
        m_verdict = kSubFolderFirstSector;
        return true;
    }
    if (m_entries == 0 || bad) {
        Clear();
        return false;
    }
    m_verdict = kDirectorySector;
    m_dotCluster = 0;
    m_dotDotCluster = 0;
    return true;
}
