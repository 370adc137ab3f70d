// What the exFAT tests share: 32-byte entries and entry sets built in
// memory, an in-memory device that can fail chosen sectors, the committed
// fixture images, and a small independent reader of those images that finds
// an entry set by its path (so tests can damage exactly that set).
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "StorageDeviceData.h"
#include "support/MemoryStorageDevice.h"
#include "support/TestSupport.h"

namespace velmora::exfattest {

// 2020-09-13 12:26:42 in the DOS layout: date high, time low.
constexpr uint32_t kStamp = 0x512D6355;

using Entry = std::vector<uint8_t>;

inline Entry FileEntry(uint8_t secondaries, uint16_t attributes = 0x20, bool inUse = true) {
    Entry e(32, 0);
    e[0] = inUse ? 0x85 : 0x05;
    e[1] = secondaries;
    vk::StoreLE<uint16_t>(&e[4], attributes);
    for (size_t off : {8u, 12u, 16u})
        vk::StoreLE<uint32_t>(&e[off], kStamp);
    return e;
}

inline Entry StreamEntry(uint32_t firstCluster, uint64_t length, uint8_t nameLength,
                         bool noFatChain = true, bool inUse = true) {
    Entry e(32, 0);
    e[0] = inUse ? 0xC0 : 0x40;
    e[1] = static_cast<uint8_t>(0x01 | (noFatChain ? 0x02 : 0));
    e[3] = nameLength;
    vk::StoreLE<uint64_t>(&e[8], length);
    vk::StoreLE<uint32_t>(&e[20], firstCluster);
    vk::StoreLE<uint64_t>(&e[24], length);
    return e;
}

inline Entry NameEntry(const std::u16string& units, bool inUse = true) {
    Entry e(32, 0);
    e[0] = inUse ? 0xC1 : 0x41;
    for (size_t i = 0; i < units.size() && i < 15; ++i)
        vk::StoreLE<uint16_t>(&e[2 + 2 * i], static_cast<uint16_t>(units[i]));
    return e;
}

inline Entry RawEntry(uint8_t type) {
    Entry e(32, 0);
    e[0] = type;
    return e;
}

// A whole set: file entry, stream, as many name entries as the name needs.
inline std::vector<uint8_t> Set(const std::u16string& name, uint32_t firstCluster = 5,
                                uint64_t length = 100, uint16_t attributes = 0x20,
                                bool inUse = true) {
    const uint8_t names = static_cast<uint8_t>((name.size() + 14) / 15);
    std::vector<uint8_t> out = FileEntry(static_cast<uint8_t>(names + 1), attributes, inUse);
    const Entry s =
        StreamEntry(firstCluster, length, static_cast<uint8_t>(name.size()), true, inUse);
    out.insert(out.end(), s.begin(), s.end());
    for (size_t i = 0; i < name.size(); i += 15) {
        const Entry n = NameEntry(name.substr(i, 15), inUse);
        out.insert(out.end(), n.begin(), n.end());
    }
    return out;
}

inline std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A volume in memory whose reads of chosen sectors fail.
class FlakyDevice : public velmora::test::MemoryStorageDevice {
public:
    FlakyDevice(std::vector<uint8_t> bytes, int sectorSize)
        : MemoryStorageDevice(std::move(bytes), sectorSize, false) {
        SetType(kDeviceVolume);
    }
    int ReadSector(void* buffer, long long first, long long count) override {
        for (long long s = first; s < first + count; ++s) {
            if (bad.count(s))
                return 0;
        }
        return MemoryStorageDevice::ReadSector(buffer, first, count);
    }
    // A volume record naming exFAT, as the enumeration attaches one.
    void AttachVolumeRecord() {
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = 7;
        record->sectorSize = GetSectorSize();
        record->totalSectors = GetTotalSectors();
        record->partitionNumber = -1;
        std::snprintf(record->volumeName, sizeof(record->volumeName), "%s", "fixture");
        SetPrivateData(CreateVolumeDeviceData(record));
    }
    std::set<long long> bad;
};

// The committed fixture images of tests/fixtures/exfat, unpacked once.
inline std::string CommittedImage(const std::string& name, const std::string& folder) {
    const std::string source =
        velmora::test::SourceDir() + "/tests/fixtures/exfat/committed/" + name;
    const std::string image = folder + "/" + name + ".img";
    if (!std::filesystem::exists(image)) {
        velmora::test::RunProgram(
            {"python3", "-c",
             "import gzip, shutil, sys\n"
             "with gzip.open(sys.argv[1]) as i, open(sys.argv[2], 'wb') as o:\n"
             "    shutil.copyfileobj(i, o)\n"
             "shutil.copyfile(sys.argv[3], sys.argv[4])\n",
             source + ".img.gz", image, source + ".json", folder + "/" + name + ".json"});
    }
    return image;
}

// Reads what the tests need of an exFAT image without the code under test.
struct RawVolume {
    explicit RawVolume(const std::vector<uint8_t>& image) : bytes(image) {
        const vk::ByteReader r(bytes.data(), bytes.size());
        fatOffset = r.LE32(80);
        fatLength = r.LE32(84);
        heap = r.LE32(88);
        count = r.LE32(92);
        root = r.LE32(96);
        sectorSize = 1u << r.U8(108);
        spc = 1u << r.U8(109);
    }
    uint64_t ClusterOffset(uint64_t cluster) const {
        return (heap + (cluster - 2) * spc) * static_cast<uint64_t>(sectorSize);
    }
    uint64_t ClusterBytes() const { return static_cast<uint64_t>(spc) * sectorSize; }
    uint32_t FatEntry(uint32_t cluster) const {
        return vk::LoadLE<uint32_t>(&bytes[fatOffset * sectorSize + cluster * 4u]);
    }
    void SetFatEntry(std::vector<uint8_t>& image, uint32_t cluster, uint32_t value) const {
        vk::StoreLE<uint32_t>(&image[fatOffset * sectorSize + cluster * 4u], value);
    }
    // The folder's clusters (the FAT chain, or contiguous with no FAT chain).
    std::vector<uint32_t> Clusters(uint32_t first, uint64_t length, bool noFatChain) const {
        std::vector<uint32_t> out;
        const uint64_t n = length == 0 ? 1 << 16 : (length + ClusterBytes() - 1) / ClusterBytes();
        uint32_t c = first;
        while (c >= 2 && c < count + 2 && out.size() < n) {
            out.push_back(c);
            c = noFatChain ? c + 1 : FatEntry(c);
        }
        return out;
    }
    // Byte offset in the image of the file entry of `path` ("/Docs/Sub"),
    // live or deleted; 0 when not found.
    uint64_t FindSet(const std::string& path) const {
        uint32_t first = root;
        uint64_t length = 0;
        bool noFat = false;
        uint64_t found = 0;
        size_t start = 1;
        while (start <= path.size()) {
            const size_t slash = path.find('/', start);
            const std::string part =
                path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            found = 0;
            for (uint32_t c : Clusters(first, length, noFat)) {
                const uint64_t base = ClusterOffset(c);
                for (uint64_t off = base; off < base + ClusterBytes(); off += 32) {
                    const uint8_t type = bytes[off];
                    if ((type & 0x7F) != 0x05 || NameAt(off) != part)
                        continue;
                    found = off;
                    first = vk::LoadLE<uint32_t>(&bytes[off + 32 + 20]);
                    length = vk::LoadLE<uint64_t>(&bytes[off + 32 + 24]);
                    noFat = (bytes[off + 33] & 2) != 0;
                    break;
                }
                if (found)
                    break;
            }
            if (!found)
                return 0;
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        return found;
    }
    // The name of the set whose file entry is at `off`, with every unit
    // outside ASCII as "?" (enough for the tests' names).
    std::string NameAt(uint64_t off) const {
        std::string name;
        const unsigned secondaries = bytes[off + 1];
        for (unsigned k = 1; k < secondaries && off + 32 * (k + 2) <= bytes.size(); ++k) {
            for (size_t i = 0; i < 15; ++i) {
                const uint16_t u = vk::LoadLE<uint16_t>(&bytes[off + 32 * (k + 1) + 2 + 2 * i]);
                if (u == 0)
                    return name;
                name += u < 128 ? static_cast<char>(u) : '?';
            }
        }
        return name;
    }
    uint32_t FirstCluster(uint64_t setOffset) const {
        return vk::LoadLE<uint32_t>(&bytes[setOffset + 32 + 20]);
    }

    const std::vector<uint8_t>& bytes;
    uint32_t fatOffset = 0, fatLength = 0, heap = 0, count = 0, root = 0;
    uint32_t sectorSize = 512, spc = 1;
};

}  // namespace velmora::exfattest
