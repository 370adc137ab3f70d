// Compound (OLE) files: Word, Excel and PowerPoint documents, installer
// databases, drawings and the other formats stored as a small file system
// of streams. The analyser recognises the header, sizes the file from its
// FAT, types it from the names of its first directory entries and names
// it from its summary-information property set.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "FileProperty.h"
#include "OfficeMetadata.h"
#include "RawFileInfo.h"

class FileOLEAnalyser : public IRawFileAnalyser {
public:
    // Picks the header, the DIFAT, FAT and directory sectors and the summary
    // out of the sectors as the search streams them past, in whatever order
    // they lie. What it cannot finish the analyser sizes from the device.
    class OleRawFileInfo : public CRawFileInfo {
    public:
        // A FAT sector may be any sector the FAT describes; while the DIFAT
        // is incomplete every passing sector's FAT use is kept, up to this
        // many sectors.
        static constexpr uint32_t kMaxRemembered = 1u << 22;

        OleRawFileInfo();
        bool WhetherImplementGuess() override { return true; }
        // The candidate keeps the analyser as its owner, whose whole-file
        // sizer then reads it from the device.
        void WillBeRemove(unsigned char*, long long) override {}
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        const FileProperty& Property() const { return m_property; }
        bool SummaryFound() const { return m_summaryFound; }

    private:
        bool CheckStorageHeader(const uint8_t* header);
        void CheckSectDifStart(const uint8_t* unit);
        void OnUnit(uint64_t unit, const uint8_t* data, uint64_t availableAfter);
        void AddFatSector(uint32_t sector);
        void DifatDone();
        void NoteFatUse(uint32_t sector, uint16_t used);
        void TrySize();
        int Finish(long long sectorSize);
        void SetFileName();

        FileProperty m_property;
        CSummaryInFormation m_summary;
        bool m_headerRead = false;
        bool m_summaryFound = false;
        bool m_difatDone = false;
        bool m_directoryRead = false;
        bool m_lost = false;  // something needed passed unseen: the whole-file sizer decides
        unsigned m_fileSector = 512;
        uint64_t m_processed = 0;           // units up to here were offered
        uint64_t m_maxUnits = 0;            // no FAT, DIFAT or directory unit lies beyond
        uint64_t m_nextDifat = UINT64_MAX;  // unit of the next DIFAT sector
        uint64_t m_directoryUnit = UINT64_MAX;
        std::vector<uint32_t> m_fatSectors;  // in FAT order
        std::unordered_map<uint32_t, uint32_t> m_fatPosition;
        std::vector<int32_t> m_fatUse;  // entries used per FAT sector, -1 unknown
        uint32_t m_fatUnknown = 0;
        std::vector<uint16_t> m_seenUse;  // per file sector, while the DIFAT is incomplete
        uint64_t m_lastListed = 0;        // the last FAT or DIFAT sector, plus one
        uint64_t m_sizeBytes = 0;
    };

    FileOLEAnalyser() : IRawFileAnalyser(RAW_OLE) {}
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new OleRawFileInfo(); }

    // The type a directory's first entries give (`length` bytes of it).
    static RAW_FILE_TYPE CheckSectDirData(const uint8_t* directory, size_t length);
    // Bytes of one compound-file sector (512 or 4096) for a valid header;
    // 0 when the header is none.
    static unsigned FileSectorBytes(const uint8_t* header);
    // Index of the last FAT entry that holds a stream's or the directory's
    // sector, plus one; 0 when none does.
    static uint16_t UsedEntries(const uint8_t* fatSector, unsigned bytes);
    // The name and office label a summary gives a candidate of `type`.
    static void NameFromSummary(CRawFileInfo& info, const FileProperty& property);
};
