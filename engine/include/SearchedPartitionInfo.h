// The record of a partition or volume that a search found (or that a quick
// search works on); file systems derive their own records from it.
#pragma once

#include <cstddef>
#include <cstdint>

class CSearchedPartitionInfo {
public:
    // Sector size in bytes; 0 or a size that is not a multiple of 512
    // counts as 512.
    explicit CSearchedPartitionInfo(unsigned sectorSize = 512);
    virtual ~CSearchedPartitionInfo() = default;
    // Record kind; 4 for this base record.
    virtual int GetType() { return 4; }

    CSearchedPartitionInfo(const CSearchedPartitionInfo&) = default;
    CSearchedPartitionInfo& operator=(const CSearchedPartitionInfo&) = default;

    // Result files keep this fixed 104-byte little-endian image of the
    // record. Bytes 0-15 carry no information (written as zero, ignored
    // when read); reading an image leaves the file-system context null.
    static constexpr size_t kImageSize = 104;
    void ToImage(uint8_t* out) const;
    // False (record unchanged) for a null or short buffer.
    bool FromImage(const uint8_t* image, size_t size);

    unsigned long long GetTotalSectors() const {
        return static_cast<unsigned long long>(totalSectors);
    }
    void SetTotalSectors(unsigned long long n) { totalSectors = static_cast<long long>(n); }
    unsigned GetSectorSize() const { return sectorSize; }

    // The searcher's own volume object for this partition; not owned.
    void* fileSystemContext = nullptr;
    // Matches the partition index in the nodes' state word; -1 for none.
    int16_t partitionIndex = -1;
    int32_t fileSystemType = 10;
    uint32_t sectorsPerCluster = 0;
    // Device sector of cluster 0 of the partition's data runs; the file
    // reader adds it to every run address (0 for live volumes; the first
    // sector of the data area for FAT).
    long long runOriginSector = 0;
    long long startSector = 0;
    // File-system specific.
    long long position1 = 0;
    long long position2 = 0;
    uint32_t sectorSize = 512;
    uint32_t reserved1 = 0;
    long long totalSectors = 0;
    // File-system specific 64-bit value: the FAT search keeps its
    // partition score (10 to 100) and counters here.
    long long fsValue = 1;
    // Reliability of a partition rebuilt by a deep search; recovery tries
    // higher scores first.
    double score = 0.0;
    uint32_t reserved2 = 0;
    uint32_t reserved3 = 0;
};
