#include "FATDBR.h"

#include <cctype>

#include "Utility/CatchExeception.h"

namespace {

constexpr size_t kFat16TypeOffset = 54;
constexpr size_t kFat32TypeOffset = 82;

bool TypeTextIs(const vk::ByteReader& r, size_t off, const char* text) {
    if (!r.Has(off, 8))
        return false;
    for (size_t i = 0; i < 8; ++i) {
        if (std::toupper(r.U8(off + i)) != static_cast<unsigned char>(text[i]))
            return false;
    }
    return true;
}

bool SignatureOk(const vk::ByteReader& r) {
    return r.Has(510, 2) && r.U8(510) == 0x55 && r.U8(511) == 0xAA;
}

}  // namespace

CTempFATDBR::CTempFATDBR(const void* sector, size_t length, uint32_t deviceSectorSize)
    : m_reader(sector, length), m_sectorSize(deviceSectorSize), m_type(FILE_SYSTEM_UNKNOWN) {
    m_type = InitFileSystemType();
}

bool CTempFATDBR::SimpleCheck(const void* sector, size_t length) {
    vk::ByteReader r(sector, length);
    return r.Has(0, 1) && r.U8(0) != 0 && SignatureOk(r);
}

bool CTempFATDBR::CommonChecks() const {
    if (m_reader.U8(16) != 2)
        return false;
    const uint8_t spc = m_reader.U8(13);
    if (spc == 0 || (spc & (spc - 1)) != 0)
        return false;  // a power of two from 1 to 128
    if (m_reader.LE16(11) != m_sectorSize)
        return false;
    return SignatureOk(m_reader);
}

bool CTempFATDBR::IsFullValidFAT16DBR() const {
    if (!TypeTextIs(m_reader, kFat16TypeOffset, "FAT16   "))
        return false;
    if (!CommonChecks())
        return false;
    const uint32_t rootEntries = m_reader.LE16(17);
    if (rootEntries < 224 || (rootEntries * 32) % m_sectorSize != 0)
        return false;
    return m_reader.LE16(22) != 0;
}

bool CTempFATDBR::IsFullValidFAT32DBR() const {
    if (!TypeTextIs(m_reader, kFat32TypeOffset, "FAT32   "))
        return false;
    if (!CommonChecks())
        return false;
    return m_reader.LE32(36) != 0;
}

bool CTempFATDBR::LooksLikeFAT12() const {
    return TypeTextIs(m_reader, kFat16TypeOffset, "FAT12   ");
}

enumFILE_SYSTEM_TYPE CTempFATDBR::InitFileSystemType() const {
    if (m_sectorSize == 0)
        return FILE_SYSTEM_UNKNOWN;
    if (IsFullValidFAT16DBR())
        return FILE_SYSTEM_FAT16;
    if (IsFullValidFAT32DBR())
        return FILE_SYSTEM_FAT32;
    return FILE_SYSTEM_UNKNOWN;
}

uint32_t CTempFATDBR::GetReservedSector() const {
    return IsValidDBR() ? m_reader.LE16(14) : 0;
}
uint32_t CTempFATDBR::GetFatTableStartSector() const {
    return m_reader.LE16(14);
}
uint32_t CTempFATDBR::GetNumberOfFat() const {
    return IsValidDBR() ? m_reader.U8(16) : 0;
}
uint32_t CTempFATDBR::GetSectorsperCluster() const {
    return IsValidDBR() ? m_reader.U8(13) : 0;
}
uint32_t CTempFATDBR::GetRootEntries() const {
    return m_reader.LE16(17);
}

uint32_t CTempFATDBR::GetSectorsPerFat() const {
    switch (m_type) {
        case FILE_SYSTEM_FAT16:
            return m_reader.LE16(22);
        case FILE_SYSTEM_FAT32:
            return m_reader.LE32(36);
        default:
            return 0;
    }
}

uint64_t CTempFATDBR::GetTotalSectors() const {
    switch (m_type) {
        case FILE_SYSTEM_FAT32:
            return m_reader.LE32(32);
        case FILE_SYSTEM_FAT16: {
            const uint16_t small = m_reader.LE16(19);
            return small != 0 ? small : m_reader.LE32(32);
        }
        default:
            return 0;
    }
}

uint32_t CTempFATDBR::GetRootDirStartCluster() const {
    return m_type == FILE_SYSTEM_FAT32 ? m_reader.LE32(44) : 0;
}

bool CTempFATDBR::GetGeometry(uint64_t deviceTotalSectors, FATGeometry& out) const {
    out = FATGeometry{};
    if (!IsValidDBR())
        return false;
    const uint64_t reserved = GetReservedSector();
    const uint64_t fats = static_cast<uint64_t>(GetNumberOfFat()) * GetSectorsPerFat();
    const uint32_t spc = GetSectorsperCluster();
    uint64_t total = GetTotalSectors();
    if (deviceTotalSectors != 0 && deviceTotalSectors < total)
        total = deviceTotalSectors;

    out.sectorsPerCluster = spc;
    out.fatStart = reserved;
    out.totalSectors = total;
    if (m_type == FILE_SYSTEM_FAT16) {
        out.rootDirSectors = static_cast<uint64_t>(GetRootEntries()) * 32 / m_sectorSize;
        out.rootDirStart = reserved + fats;
        out.dataStart = reserved + fats + out.rootDirSectors;
    } else {
        out.dataStart = reserved + fats;
        const uint32_t rootCluster = GetRootDirStartCluster();
        out.rootDirStart = FATClusterToSector(out.dataStart, rootCluster, spc);
    }
    if (reserved == 0 || out.dataStart >= total) {
        CatchExeception::WriteLog(
            "FAT boot sector refused: data area at sector %llu, volume of %llu sectors\n",
            static_cast<unsigned long long>(out.dataStart), static_cast<unsigned long long>(total));
        return false;
    }
    out.totalClusters = (total - out.dataStart) / spc;
    if (m_type == FILE_SYSTEM_FAT32 &&
        (GetRootDirStartCluster() < 2 || GetRootDirStartCluster() - 2ULL >= out.totalClusters)) {
        CatchExeception::WriteLog(
            "FAT32 boot sector refused: root cluster %u outside %llu clusters\n",
            GetRootDirStartCluster(), static_cast<unsigned long long>(out.totalClusters));
        return false;
    }
    return true;
}
