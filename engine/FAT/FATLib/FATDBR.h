// The boot sector (DBR) of a FAT16 or FAT32 volume. FAT12 is deliberately not
// understood: its boot sector is answered as an unknown file system.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ByteReader.h"
#include "CheckedMath.h"
#include "FATLayout.h"

enum enumFILE_SYSTEM_TYPE : int {
    FILE_SYSTEM_FAT12 = 0,
    FILE_SYSTEM_FAT16 = 1,
    FILE_SYSTEM_FAT32 = 2,
    FILE_SYSTEM_UNKNOWN = 10,
};

// Where the parts of a volume lie, in sectors from the volume start, worked
// out in 64-bit arithmetic so that volumes past 2^32 sectors stay right.
struct FATGeometry {
    uint64_t fatStart = 0;        // first sector of the first FAT copy
    uint64_t rootDirStart = 0;    // FAT16: fixed root area; FAT32: root cluster's sector
    uint64_t rootDirSectors = 0;  // FAT16 root area length, 0 on FAT32
    uint64_t dataStart = 0;       // first sector of cluster 2
    uint64_t totalSectors = 0;    // as the boot sector says, cut to the device
    uint64_t totalClusters = 0;   // clusters that fit in the data area
    uint32_t sectorsPerCluster = 0;
};

// Wraps a caller's sector buffer (not copied) and the sector size of the
// device it was read from. The file-system type is settled at construction.
class CTempFATDBR {
public:
    CTempFATDBR(const void* sector, size_t length, uint32_t deviceSectorSize);
    // A buffer of one whole device sector.
    CTempFATDBR(const void* sector, uint32_t deviceSectorSize)
        : CTempFATDBR(sector, deviceSectorSize, deviceSectorSize) {}

    // Cheap first test: first byte non-zero and the 0x55 0xAA signature.
    static bool SimpleCheck(const void* sector, size_t length);

    bool IsValidDBR() const { return m_type != FILE_SYSTEM_UNKNOWN; }
    enumFILE_SYSTEM_TYPE GetFileSystemType() const { return m_type; }

    bool IsFullValidFAT16DBR() const;
    bool IsFullValidFAT32DBR() const;
    // "FAT12   " at the FAT16 type offset: recognised only to be refused.
    bool LooksLikeFAT12() const;

    uint32_t GetReservedSector() const;
    uint32_t GetFatTableStartSector() const;  // the reserved field, whatever the type
    uint32_t GetNumberOfFat() const;
    uint32_t GetSectorsperCluster() const;
    uint32_t GetRootEntries() const;  // the field, whatever the type
    uint32_t GetSectorsPerFat() const;
    uint64_t GetTotalSectors() const;
    uint32_t GetRootDirStartCluster() const;
    uint32_t GetBytesPerSector() const;

    // The volume layout, with the total cut to deviceTotalSectors when that
    // is non-zero and smaller. False (with a log line) for a layout whose
    // metadata does not fit inside the volume or that leaves no cluster.
    bool GetGeometry(uint64_t deviceTotalSectors, FATGeometry& out) const;

private:
    bool CommonChecks() const;
    enumFILE_SYSTEM_TYPE InitFileSystemType() const;
    // When the type text is damaged but the layout holds together: the type
    // its cluster count gives, as the on-disk format defines it (FAT12 stays
    // unknown).
    enumFILE_SYSTEM_TYPE TypeFromClusterCount() const;

    vk::ByteReader m_reader;
    uint32_t m_sectorSize;
    enumFILE_SYSTEM_TYPE m_type;
};

// First sector of a cluster (clusters count from 2); clusters below 2 give
// the data area's start. A position past 64 bits gives UINT64_MAX, a sector
// no device has, so reading it fails instead of reading a wrapped-around one.
constexpr uint64_t FATClusterToSector(uint64_t dataStart, uint64_t cluster,
                                      uint32_t sectorsPerCluster) {
    if (cluster < fat_layout::kFirstCluster)
        return dataStart;
    uint64_t sector = 0;
    return vk::ClusterToSector(cluster, fat_layout::kFirstCluster, sectorsPerCluster, dataStart,
                               &sector)
               ? sector
               : UINT64_MAX;
}
