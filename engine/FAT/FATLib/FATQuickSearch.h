// The FAT faces the engine core creates through its factory table: the
// quick searcher of a live FAT16/FAT32 volume and the volume recogniser
// (type and label). FAT12 is not understood: the recogniser answers
// "unknown" (10) and the searcher refuses such a volume.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ResultCode.h"
#include "SearchInterfaces.h"

class CFATSearchedPartitionInfo;
class CTempFATDBR;
class IStorageDevice;

IQuickFileSystemSearchController* CreateFATQuickSearcher();
IVolumeAnalyze* CreateFatVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);

// Flags the quick search puts in its partition record.
constexpr uint32_t kFATQuickFlagsFat32 = 0x3CC;
constexpr uint32_t kFATQuickFlagsFat16 = 0x3C3;

class CFATQuickSearcher final : public IQuickFileSystemSearchController {
public:
    CFATQuickSearcher() = default;
    ~CFATQuickSearcher() override;
    CFATQuickSearcher(const CFATQuickSearcher&) = delete;
    CFATQuickSearcher& operator=(const CFATQuickSearcher&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // The one volume searched (a copy the caller owns).
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    // Always ends with a finished progress record, also on failure.
    VKRESULT QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override;

    // The file-system type of the volume record: 0-10, or a failure.
    VKRESULT GetFsType(int& type) const;

private:
    VKRESULT FatQuickSearchFiles(int type);

    IDirecotryTreeBuilder* m_builder = nullptr;
    std::vector<CFATSearchedPartitionInfo*> m_partitions;
    IStorageDevice* m_device = nullptr;
    IProgress* m_progress = nullptr;
    // The record of the last walk (owned by m_partitions), or null.
    CFATSearchedPartitionInfo* m_lastRecord = nullptr;
};

class CFatVolumeAnalyze final : public IVolumeAnalyze {
public:
    CFatVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);
    int GetFileSystemType() override { return m_type; }
    long long GetTotalSector() override { return static_cast<long long>(m_totalSectors); }
    // Copies min(size, 100) bytes of the label buffer (always terminated
    // within it); a size of 0 or less copies nothing.
    int GetLabel(char* buffer, int size) override;

private:
    int m_type = 10;
    char m_label[100] = {};
    uint64_t m_totalSectors = 0;
};

// Reads a FAT volume's label from its root directory.
class CFATVolume {
public:
    explicit CFATVolume(IStorageDevice* device);
    // The label entry of the root directory (without the dot of 8.3 names,
    // trailing blanks removed); false when none was found.
    bool GetPartitionLabel(uint64_t startSector, const CTempFATDBR& boot, std::string& out);

private:
    bool GetFatLabel(uint64_t startSector, const CTempFATDBR& boot, std::string& out);
    bool GetFat32Label(uint64_t startSector, const CTempFATDBR& boot, std::string& out);
    // 1 label found, 0 none in this cluster (go on), -1 stop searching.
    int AnalyzeDirClusterToGetLabel(uint64_t sector, uint32_t sectors, std::string& out);

    IStorageDevice* m_device;
    uint32_t m_sectorSize;
};
