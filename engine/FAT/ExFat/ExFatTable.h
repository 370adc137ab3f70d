// The exFAT FAT read through a small cache of 1 MiB windows: a volume's FAT
// can be hundreds of megabytes, while a walk touches few parts of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

class IStorageDevice;

class CFatTable {
public:
    static constexpr uint32_t kWindowBytes = 0x100000;
    static constexpr size_t kMaxWindows = 9;

    CFatTable() = default;
    CFatTable(const CFatTable&) = delete;
    CFatTable& operator=(const CFatTable&) = delete;

    // Reads the first window of the FAT at `fatStart` (device sectors,
    // `fatLength` of them). The table stays invalid without a device, with a
    // length of 0, a FAT that does not end before the device does, or when
    // that read fails. `clusters` is kept for the caller's bounds only.
    void CreateFatTable(IStorageDevice* device, long long fatStart, uint32_t fatLength,
                        uint32_t clusters);
    bool IsValid() const { return !m_windows.empty(); }
    // The FAT entry of `cluster`; kEndOfChain when no window is loaded, when
    // the entry lies past the FAT's own sectors, or when its window cannot be
    // read. A window not held is read, dropping the one with the lowest
    // first sector when nine are held.
    uint32_t GetNextCluster(uint32_t cluster);
    void ClearFatData();

    // The cluster count the table was made for.
    uint32_t GetClusterCount() const { return m_clusters; }
    // The number of entries the FAT's sectors hold.
    uint64_t GetEntryCapacity() const;
    size_t GetWindowCount() const { return m_windows.size(); }
    // First sectors of the windows held, lowest first.
    std::vector<uint64_t> GetWindowStarts() const;

private:
    bool ReadWindow(uint64_t first, std::vector<uint8_t>& buffer) const;

    IStorageDevice* m_device = nullptr;
    uint64_t m_fatStart = 0;
    uint32_t m_fatLength = 0;
    uint32_t m_sectorSize = 0;
    uint32_t m_windowSectors = 0;
    uint32_t m_clusters = 0;
    std::map<uint64_t, std::vector<uint8_t>> m_windows;
    // The window of the last lookup: chains mostly stay inside one.
    uint64_t m_lastStart = UINT64_MAX;
    const std::vector<uint8_t>* m_last = nullptr;
};
