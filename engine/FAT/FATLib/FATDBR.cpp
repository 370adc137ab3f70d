#include "FATDBR.h"

#include <cctype>

#include "FATLayout.h"
#include "Utility/CatchExeception.h"

namespace boot = fat_layout::boot;

namespace {

bool TypeTextIs(const vk::ByteReader& r, fat_layout::Field field, const char* text) {
    if (!r.Has(field.offset, field.size))
        return false;
    for (size_t i = 0; i < field.size; ++i) {
        if (std::toupper(r.U8(field.offset + i)) != static_cast<unsigned char>(text[i]))
            return false;
    }
    return true;
}

bool SignatureOk(const vk::ByteReader& r) {
    const size_t at = boot::kSignature.offset;
    return r.Has(at, boot::kSignature.size) && r.U8(at) == boot::kSignature0 &&
           r.U8(at + 1) == boot::kSignature1;
}

}  // namespace

CTempFATDBR::CTempFATDBR(const void* sector, size_t length, uint32_t deviceSectorSize)
    : m_reader(sector, length), m_sectorSize(deviceSectorSize), m_type(FILE_SYSTEM_UNKNOWN) {
    m_type = InitFileSystemType();
}

bool CTempFATDBR::SimpleCheck(const void* sector, size_t length) {
    vk::ByteReader r(sector, length);
    return r.Has(boot::kJump.offset, 1) && r.U8(boot::kJump.offset) != 0 && SignatureOk(r);
}

bool CTempFATDBR::CommonChecks() const {
    if (m_reader.U8(boot::kNumberOfFats.offset) != fat_layout::kNumberOfFats)
        return false;
    const uint8_t spc = m_reader.U8(boot::kSectorsPerCluster.offset);
    if (spc == 0 || (spc & (spc - 1)) != 0)
        return false;  // a power of two from 1 to 128
    if (m_reader.LE16(boot::kBytesPerSector.offset) != m_sectorSize)
        return false;
    return SignatureOk(m_reader);
}

bool CTempFATDBR::IsFullValidFAT16DBR() const {
    if (!TypeTextIs(m_reader, boot::kFat16TypeText, "FAT16   "))
        return false;
    if (!CommonChecks())
        return false;
    const uint32_t rootEntries = m_reader.LE16(boot::kRootEntries.offset);
    if (rootEntries < fat_layout::kMinFat16RootEntries ||
        (rootEntries * fat_layout::dirent::kSize) % m_sectorSize != 0)
        return false;
    return m_reader.LE16(boot::kSectorsPerFat16.offset) != 0;
}

bool CTempFATDBR::IsFullValidFAT32DBR() const {
    if (!TypeTextIs(m_reader, boot::kFat32TypeText, "FAT32   "))
        return false;
    if (!CommonChecks())
        return false;
    return m_reader.LE32(boot::kFat32SectorsPerFat.offset) != 0;
}

bool CTempFATDBR::LooksLikeFAT12() const {
    return TypeTextIs(m_reader, boot::kFat16TypeText, "FAT12   ");
}

enumFILE_SYSTEM_TYPE CTempFATDBR::InitFileSystemType() const {
    if (m_sectorSize == 0)
        return FILE_SYSTEM_UNKNOWN;
    if (IsFullValidFAT16DBR())
        return FILE_SYSTEM_FAT16;
    if (IsFullValidFAT32DBR())
        return FILE_SYSTEM_FAT32;
    return TypeFromClusterCount();
}

enumFILE_SYSTEM_TYPE CTempFATDBR::TypeFromClusterCount() const {
    // A type text that names a type was judged by that type's checks above;
    // only a text that names none (a damaged byte) is read past.
    for (const char* text : {"FAT12   ", "FAT16   ", "FAT32   "})
        if (TypeTextIs(m_reader, boot::kFat16TypeText, text) ||
            TypeTextIs(m_reader, boot::kFat32TypeText, text))
            return FILE_SYSTEM_UNKNOWN;
    if (!CommonChecks())
        return FILE_SYSTEM_UNKNOWN;
    const uint64_t reserved = m_reader.LE16(boot::kReservedSectors.offset);
    const uint64_t spc = m_reader.U8(boot::kSectorsPerCluster.offset);
    const uint64_t rootEntries = m_reader.LE16(boot::kRootEntries.offset);
    const uint64_t spf16 = m_reader.LE16(boot::kSectorsPerFat16.offset);
    const uint64_t spf32 = m_reader.LE32(boot::kFat32SectorsPerFat.offset);
    const uint64_t total16 = m_reader.LE16(boot::kTotalSectors16.offset);
    const uint64_t total = total16 != 0 ? total16 : m_reader.LE32(boot::kTotalSectors32.offset);
    if (reserved == 0 || total == 0)
        return FILE_SYSTEM_UNKNOWN;
    const bool fat16Layout = spf16 != 0 && rootEntries >= fat_layout::kMinFat16RootEntries &&
                             (rootEntries * fat_layout::dirent::kSize) % m_sectorSize == 0;
    const bool fat32Layout = spf16 == 0 && rootEntries == 0 && spf32 != 0 &&
                             m_reader.LE32(boot::kFat32RootCluster.offset) >= 2;
    if (fat16Layout == fat32Layout)
        return FILE_SYSTEM_UNKNOWN;
    const uint64_t spf = fat16Layout ? spf16 : spf32;
    const uint64_t dataStart = reserved + fat_layout::kNumberOfFats * spf +
                               rootEntries * fat_layout::dirent::kSize / m_sectorSize;
    if (dataStart >= total)
        return FILE_SYSTEM_UNKNOWN;
    const uint64_t clusters = (total - dataStart) / spc;
    // Every cluster must have its entry in the FAT.
    const uint64_t entries = spf * m_sectorSize / (fat16Layout ? 2 : 4);
    if (entries < clusters + 2)
        return FILE_SYSTEM_UNKNOWN;
    const enumFILE_SYSTEM_TYPE type =
        clusters < fat_layout::kMinFat16Clusters   ? FILE_SYSTEM_UNKNOWN  // FAT12
        : clusters < fat_layout::kMinFat32Clusters ? FILE_SYSTEM_FAT16
                                                   : FILE_SYSTEM_FAT32;
    if ((type == FILE_SYSTEM_FAT16) != fat16Layout || type == FILE_SYSTEM_UNKNOWN)
        return FILE_SYSTEM_UNKNOWN;
    return type;
}

uint32_t CTempFATDBR::GetReservedSector() const {
    return IsValidDBR() ? m_reader.LE16(boot::kReservedSectors.offset) : 0;
}
uint32_t CTempFATDBR::GetFatTableStartSector() const {
    return m_reader.LE16(boot::kReservedSectors.offset);
}
uint32_t CTempFATDBR::GetNumberOfFat() const {
    return IsValidDBR() ? m_reader.U8(boot::kNumberOfFats.offset) : 0;
}
uint32_t CTempFATDBR::GetSectorsperCluster() const {
    return IsValidDBR() ? m_reader.U8(boot::kSectorsPerCluster.offset) : 0;
}
uint32_t CTempFATDBR::GetRootEntries() const {
    return m_reader.LE16(boot::kRootEntries.offset);
}

uint32_t CTempFATDBR::GetSectorsPerFat() const {
    switch (m_type) {
        case FILE_SYSTEM_FAT16:
            return m_reader.LE16(boot::kSectorsPerFat16.offset);
        case FILE_SYSTEM_FAT32:
            return m_reader.LE32(boot::kFat32SectorsPerFat.offset);
        default:
            return 0;
    }
}

uint64_t CTempFATDBR::GetTotalSectors() const {
    switch (m_type) {
        case FILE_SYSTEM_FAT32:
            return m_reader.LE32(boot::kTotalSectors32.offset);
        case FILE_SYSTEM_FAT16: {
            const uint16_t small = m_reader.LE16(boot::kTotalSectors16.offset);
            return small != 0 ? small : m_reader.LE32(boot::kTotalSectors32.offset);
        }
        default:
            return 0;
    }
}

uint32_t CTempFATDBR::GetBytesPerSector() const {
    return m_reader.LE16(boot::kBytesPerSector.offset);
}

uint32_t CTempFATDBR::GetRootDirStartCluster() const {
    return m_type == FILE_SYSTEM_FAT32 ? m_reader.LE32(boot::kFat32RootCluster.offset) : 0;
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
        out.rootDirSectors =
            static_cast<uint64_t>(GetRootEntries()) * fat_layout::dirent::kSize / m_sectorSize;
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
