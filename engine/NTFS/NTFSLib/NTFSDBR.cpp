#include "NTFSDBR.h"

#include <cstring>

#include "ByteReader.h"
#include "SectorSize.h"

namespace b = ntfs::layout::boot;

bool CNTFSDBR::IsValidDBR(const uint8_t* sector) {
    return sector != nullptr && std::memcmp(sector + b::kOemId, "NTFS    ", b::kOemIdSize) == 0;
}

bool CNTFSDBR::IsFullValidDBR(const uint8_t* sector) {
    if (!IsValidDBR(sector))
        return false;
    vk::ByteReader r(sector, b::kSize);
    const uint16_t bps = r.LE16(b::kBytesPerSector);
    if (bps == 0 || (bps & 0x1FF) != 0)
        return false;
    if (r.LE16(b::kReservedSectors) != 0)
        return false;
    const uint8_t spc = r.U8(b::kSectorsPerCluster);
    if (spc == 0 || (spc & (spc - 1)) != 0)
        return false;
    for (size_t at : {0x10, 0x11, 0x12, 0x13, 0x14, 0x16, 0x17, 0x20, 0x21, 0x22, 0x23}) {
        if (r.U8(at) != 0)
            return false;
    }
    return r.U8(b::kEndMarker) == 0x55 && r.U8(b::kEndMarker + 1) == 0xAA;
}

bool CNTFSDBR::InitFromBuffer(const uint8_t* sector) {
    if (!IsFullValidDBR(sector))
        return false;
    std::memcpy(m_sector.data(), sector, m_sector.size());
    return true;
}

uint32_t CNTFSDBR::SizeFromSignedByte(size_t offset) const {
    const int8_t v = static_cast<int8_t>(m_sector[offset]);
    if (v < 0)
        return uint32_t{1} << ((-static_cast<int>(v)) % 32);
    if (v == 0)
        return 1024;
    return static_cast<uint32_t>(v) * GetBytesPerSector() * GetSectorsperCluster();
}

uint32_t CNTFSDBR::GetFileRecordSizeByByte() const {
    return SizeFromSignedByte(b::kClustersPerRecord);
}
uint32_t CNTFSDBR::GetIndexRecordSizeByByte() const {
    return SizeFromSignedByte(b::kClustersPerIndex);
}

uint32_t CNTFSDBR::GetSectorsperCluster() const {
    return m_sector[b::kSectorsPerCluster];
}
uint32_t CNTFSDBR::GetBytesPerSector() const {
    return vk::LoadLE<uint16_t>(&m_sector[b::kBytesPerSector]);
}
uint64_t CNTFSDBR::GetTotalSectors() const {
    return vk::LoadLE<uint64_t>(&m_sector[b::kTotalSectors]);
}
uint64_t CNTFSDBR::GetSerialNumber() const {
    return vk::LoadLE<uint64_t>(&m_sector[b::kSerialNumber]);
}
uint64_t CNTFSDBR::GetMFTStartCluster() const {
    return vk::LoadLE<uint64_t>(&m_sector[b::kMftCluster]);
}
uint64_t CNTFSDBR::GetMFTMirrorStartCluster() const {
    return vk::LoadLE<uint64_t>(&m_sector[b::kMftMirrCluster]);
}

void CNTFSDBR::GetFileSystemID(char* out) const {
    if (out != nullptr)
        std::memcpy(out, &m_sector[b::kOemId], b::kOemIdSize);
}

bool GetNTFSVolumeGeometry(const CNTFSDBR& dbr, uint32_t deviceSectorSize,
                           NTFSVolumeGeometry* out) {
    if (out == nullptr || !vk::IsValidSectorSize(deviceSectorSize))
        return false;
    const uint32_t bps = dbr.GetBytesPerSector();
    const uint32_t spc = dbr.GetSectorsperCluster();
    if (!vk::IsValidSectorSize(bps) || spc == 0)
        return false;
    const uint64_t clusterBytes = uint64_t{bps} * spc;
    if (clusterBytes < deviceSectorSize || clusterBytes % deviceSectorSize != 0)
        return false;
    const uint32_t record = dbr.GetFileRecordSizeByByte();
    if (record != 1024 && record != 2048 && record != 4096)
        return false;
    const uint64_t totalBytes = dbr.GetTotalSectors() * uint64_t{bps};
    if (dbr.GetTotalSectors() == 0 || totalBytes / bps != dbr.GetTotalSectors())
        return false;
    NTFSVolumeGeometry g;
    g.deviceSectorSize = deviceSectorSize;
    g.sectorsPerCluster = static_cast<uint32_t>(clusterBytes / deviceSectorSize);
    g.clusterBytes = clusterBytes;
    g.recordBytes = record;
    g.totalClusters = totalBytes / clusterBytes;
    g.mftCluster = dbr.GetMFTStartCluster();
    g.mftMirrCluster = dbr.GetMFTMirrorStartCluster();
    if (g.totalClusters == 0)
        return false;
    *out = g;
    return true;
}
