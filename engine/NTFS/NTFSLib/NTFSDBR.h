// The NTFS boot sector: whether a sector is one, and the volume geometry it
// gives (where the $MFT lies, how large clusters and file records are).
#pragma once

#include <array>
#include <cstdint>

#include "NTFSLayout.h"

class CNTFSDBR {
public:
    CNTFSDBR() { m_sector.fill(0); }

    // The full test the searches use: "NTFS    ", a sector size that is a
    // multiple of 512, a power-of-two cluster of at most 128 sectors, the
    // FAT-only fields zero and the 0x55 0xAA end marker. `sector` holds at
    // least 512 bytes.
    static bool IsFullValidDBR(const uint8_t* sector);
    // Only the OEM identifier.
    static bool IsValidDBR(const uint8_t* sector);

    // Keeps a copy of a sector that passes the full test; otherwise keeps
    // what it held and answers false.
    bool InitFromBuffer(const uint8_t* sector);

    // Bytes of one file record: a negative byte v at 0x40 means 2^(-v)
    // bytes, a positive one v clusters, 0 the usual 1,024.
    uint32_t GetFileRecordSizeByByte() const;
    // The same rule for index blocks (byte 0x44).
    uint32_t GetIndexRecordSizeByByte() const;
    uint32_t GetSectorsperCluster() const;
    uint32_t GetBytesPerSector() const;
    uint64_t GetClusterBytes() const {
        return uint64_t{GetBytesPerSector()} * GetSectorsperCluster();
    }
    uint64_t GetTotalSectors() const;
    uint64_t GetSerialNumber() const;
    uint64_t GetMFTStartCluster() const;
    uint64_t GetMFTMirrorStartCluster() const;
    // The 8 bytes at 0x03, unterminated.
    void GetFileSystemID(char* out) const;

    const uint8_t* Data() const { return m_sector.data(); }

private:
    uint32_t SizeFromSignedByte(size_t offset) const;

    std::array<uint8_t, ntfs::layout::boot::kSize> m_sector;
};

// The geometry of a volume as a device with `deviceSectorSize`-byte sectors
// sees it. A boot sector may state a sector size other than the device's
// (a volume copied between disks, a USB bridge that shows 4 KiB sectors):
// positions are worked out in bytes and turned into device sectors here.
struct NTFSVolumeGeometry {
    uint32_t deviceSectorSize = 512;
    uint32_t sectorsPerCluster = 0;  // device sectors
    uint64_t clusterBytes = 0;
    uint32_t recordBytes = 0;
    uint64_t totalClusters = 0;
    uint64_t mftCluster = 0;
    uint64_t mftMirrCluster = 0;

    // Device sectors of one record, at least 1 (records may share a sector).
    uint32_t SectorsPerRecordRoundedUp() const {
        return static_cast<uint32_t>((recordBytes + deviceSectorSize - 1) / deviceSectorSize);
    }
};

// False when the boot sector's clusters or records cannot be addressed on
// such a device: a cluster that is not a whole number of device sectors, a
// record size other than 1, 2 or 4 KiB, no clusters at all.
bool GetNTFSVolumeGeometry(const CNTFSDBR& dbr, uint32_t deviceSectorSize, NTFSVolumeGeometry* out);
