// The main boot sector of an exFAT volume and its validity test.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ByteReader.h"

// Wraps a caller's buffer holding one boot sector (not copied).
class CExFatDBR {
public:
    CExFatDBR(const void* sector, size_t length) : m_reader(sector, length) {}

    // Every check a boot sector must pass before its geometry is used: the
    // signatures, the must-be-zero area, a sector shift that equals the
    // device's sector size, clusters of at most 32 MiB, one or two FATs, and
    // a FAT, cluster heap and cluster count that fit inside the volume.
    bool IsValid(uint32_t deviceSectorSize) const;

    uint32_t GetBytePerSector() const;
    uint32_t GetSectorsperCluster() const;
    uint8_t GetBytesPerSectorShift() const;
    uint8_t GetSectorsPerClusterShift() const;
    uint32_t GetFatStartSector() const;
    uint32_t GetSectorsPerFat() const;
    uint32_t GetNumberOfFat() const;
    uint32_t GetActiveFatNumber() const;
    uint64_t GetTotalSectors() const;
    uint32_t GetRootDirStartCluster() const;
    uint32_t GetDataRegionStartSector() const;
    uint32_t GetTotalCluster() const;
    int GetFileSystemType() const { return 7; }

private:
    vk::ByteReader m_reader;
};
