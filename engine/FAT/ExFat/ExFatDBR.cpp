#include "ExFatDBR.h"

#include "ExFatLayout.h"

using namespace exfat;

bool CExFatDBR::IsValid(uint32_t deviceSectorSize) const {
    if (!m_reader.Has(0, boot::kSize))
        return false;
    if (m_reader.LE16(boot::kSignature) != boot::kSignatureValue ||
        !m_reader.Matches(boot::kFileSystemName, "EXFAT   "))
        return false;
    for (size_t i = boot::kMustBeZero; i < boot::kMustBeZeroEnd; ++i) {
        if (m_reader.U8(i) != 0)
            return false;
    }
    const uint8_t sectorShift = GetBytesPerSectorShift();
    const uint8_t clusterShift = GetSectorsPerClusterShift();
    if (sectorShift < boot::kMinSectorShift || sectorShift > boot::kMaxSectorShift ||
        (1u << sectorShift) != deviceSectorSize)
        return false;
    if (sectorShift + clusterShift > boot::kMaxClusterShift)
        return false;
    const uint32_t fats = GetNumberOfFat();
    if (fats != 1 && fats != 2)
        return false;
    const uint64_t volumeLength = GetTotalSectors();
    const uint64_t fatOffset = GetFatStartSector();
    const uint64_t fatLength = GetSectorsPerFat();
    const uint64_t heap = GetDataRegionStartSector();
    const uint64_t clusters = GetTotalCluster();
    if (fatLength == 0 || heap == 0 || fatOffset == 0 || volumeLength == 0 || clusters == 0)
        return false;
    if (GetRootDirStartCluster() < kFirstCluster)
        return false;
    if (volumeLength < fatOffset || volumeLength < heap)
        return false;
    if (heap < fatOffset + fatLength)
        return false;
    // 64-bit arithmetic: a cluster count of 2^32 - 1 shifted by 25 still fits.
    return volumeLength >= ((clusters - 1) << clusterShift) + heap;
}

uint8_t CExFatDBR::GetBytesPerSectorShift() const {
    return m_reader.U8(boot::kBytesPerSectorShift);
}
uint8_t CExFatDBR::GetSectorsPerClusterShift() const {
    return m_reader.U8(boot::kSectorsPerClusterShift);
}
uint32_t CExFatDBR::GetBytePerSector() const {
    const uint8_t shift = GetBytesPerSectorShift();
    return shift < 32 ? 1u << shift : 0;
}
uint32_t CExFatDBR::GetSectorsperCluster() const {
    const uint8_t shift = GetSectorsPerClusterShift();
    return shift < 32 ? 1u << shift : 0;
}
uint32_t CExFatDBR::GetFatStartSector() const {
    return m_reader.LE32(boot::kFatOffset);
}
uint32_t CExFatDBR::GetSectorsPerFat() const {
    return m_reader.LE32(boot::kFatLength);
}
uint32_t CExFatDBR::GetNumberOfFat() const {
    return m_reader.U8(boot::kNumberOfFats);
}
uint32_t CExFatDBR::GetActiveFatNumber() const {
    return m_reader.LE16(boot::kVolumeFlags) & boot::kActiveFatFlag;
}
uint64_t CExFatDBR::GetTotalSectors() const {
    return m_reader.LE64(boot::kVolumeLength);
}
uint32_t CExFatDBR::GetRootDirStartCluster() const {
    return m_reader.LE32(boot::kRootCluster);
}
uint32_t CExFatDBR::GetDataRegionStartSector() const {
    return m_reader.LE32(boot::kClusterHeapOffset);
}
uint32_t CExFatDBR::GetTotalCluster() const {
    return m_reader.LE32(boot::kClusterCount);
}
