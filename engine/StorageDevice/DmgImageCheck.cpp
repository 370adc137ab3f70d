#include "DmgImageCheck.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ByteReader.h"
#include "Utility/CatchExeception.h"
#include "platform/FdIo.h"

namespace {

constexpr size_t kTrailerSize = 512;
constexpr size_t kMishHeaderSize = 204;
constexpr size_t kChunkSize = 40;
// A property list larger than this is no UDIF resource fork.
constexpr uint64_t kMaxPlistBytes = 64u << 20;

constexpr uint32_t kChunkZeroFill = 0x00000000;
constexpr uint32_t kChunkRaw = 0x00000001;
constexpr uint32_t kChunkIgnore = 0x00000002;
constexpr uint32_t kChunkComment = 0x7FFFFFFE;
constexpr uint32_t kChunkAdc = 0x80000004;
constexpr uint32_t kChunkZlib = 0x80000005;
constexpr uint32_t kChunkBzip2 = 0x80000006;
constexpr uint32_t kChunkLast = 0xFFFFFFFF;

// Whole or nothing: a trailer or table cut short by the end of the file is
// not there.
bool PreadFully(int fd, void* buffer, size_t length, off_t offset) {
    return velmora::platform::PreadRetrying(fd, buffer, length, offset).done == length;
}

// The "Data" of every "blkx" element under "resource-fork"; false when the
// property list cannot be read as one.
bool BlockTablesOf(const std::vector<char>& xml, std::vector<std::vector<uint8_t>>& tables) {
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    if (root == nullptr)
        return false;
    bool ok = false;
    plist_t fork = plist_get_node_type(root) == PLIST_DICT
                       ? plist_dict_get_item(root, "resource-fork")
                       : nullptr;
    plist_t blkx = fork && plist_get_node_type(fork) == PLIST_DICT
                       ? plist_dict_get_item(fork, "blkx")
                       : nullptr;
    if (blkx && plist_get_node_type(blkx) == PLIST_ARRAY) {
        ok = true;
        const uint32_t n = plist_array_get_size(blkx);
        for (uint32_t i = 0; i < n; ++i) {
            plist_t item = plist_array_get_item(blkx, i);
            plist_t data = item && plist_get_node_type(item) == PLIST_DICT
                               ? plist_dict_get_item(item, "Data")
                               : nullptr;
            if (!data || plist_get_node_type(data) != PLIST_DATA) {
                tables.emplace_back();  // an element without a table is checked as an empty one
                continue;
            }
            char* bytes = nullptr;
            uint64_t length = 0;
            plist_get_data_val(data, &bytes, &length);
            tables.emplace_back(reinterpret_cast<uint8_t*>(bytes),
                                reinterpret_cast<uint8_t*>(bytes) + (bytes ? length : 0));
            free(bytes);
        }
    }
    plist_free(root);
    return ok;
}

}  // namespace

uint32_t swap_uint32(uint32_t v) {
    return __builtin_bswap32(v);
}
int32_t swap_int32(int32_t v) {
    return static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(v)));
}
int64_t swap_int64(int64_t v) {
    return static_cast<int64_t>(__builtin_bswap64(static_cast<uint64_t>(v)));
}
uint64_t swap_uint64(uint64_t v) {
    return __builtin_bswap64(v);
}

bool InitDmgRecord(const char* path, CDMGDeviceInfoStruct& record) {
    std::memset(&record, 0, sizeof(record));
    record.sectorSize = 512;
    if (path == nullptr)
        return false;
    const size_t len = std::strlen(path);
    if (len == 0 || len >= sizeof(record.filePath) - 8)
        return false;
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    std::strncpy(record.fileName, name, sizeof(record.fileName) - 1);
    std::memcpy(record.filePath, path, len);
    return true;
}

int ParseChunkEntry(const std::vector<std::vector<uint8_t>>& blockTables) {
    CatchExeception::WriteLog("========= mish info begin =============\n");
    for (const auto& table : blockTables) {
        if (table.empty())
            continue;
        vk::ByteReader mish(table.data(), table.size());
        // A table too short for its header or for the entries it counts
        // cannot show that no chunk is compressed.
        if (!mish.Has(0, kMishHeaderSize) || mish.BE32(0) != 0x6D697368)
            return 0;  // "mish"
        const uint64_t firstSector = mish.BE64(8);
        const uint64_t sectorCount = mish.BE64(16);
        const uint64_t dataOffset = mish.BE64(24);
        const uint32_t buffersNeeded = mish.BE32(32);
        const uint32_t entries = mish.BE32(200);
        CatchExeception::WriteLog("sectorcount: %llu, start sectorNum: %llu\n",
                                  static_cast<unsigned long long>(sectorCount),
                                  static_cast<unsigned long long>(firstSector));
        CatchExeception::WriteLog("mish dataoffset: %llu, bufferneed: %u\n",
                                  static_cast<unsigned long long>(dataOffset), buffersNeeded);
        if (entries > (table.size() - kMishHeaderSize) / kChunkSize)
            return 0;
        for (uint32_t i = 0; i < entries; ++i) {
            const size_t at = kMishHeaderSize + kChunkSize * i;
            const uint32_t type = mish.BE32(at);
            const uint64_t chunkFirst = mish.BE64(at + 8);
            const uint64_t chunkCount = mish.BE64(at + 16);
            const uint64_t packedOffset = mish.BE64(at + 24);
            const uint64_t packedLength = mish.BE64(at + 32);
            if (type == kChunkAdc || type == kChunkZlib || type == kChunkBzip2)
                return 0;
            CatchExeception::WriteLog(
                "Bkl %d,start sector:%llu (have %llu sectors) - Compressed to %llu, %llu bytes, "
                "type = %u\n",
                static_cast<int>(i), static_cast<unsigned long long>(chunkFirst),
                static_cast<unsigned long long>(chunkCount),
                static_cast<unsigned long long>(packedOffset),
                static_cast<unsigned long long>(packedLength), type);
            if (type == kChunkRaw) {
                // The device reads sector s at byte 512 × s; a stored chunk
                // elsewhere would be read as other sectors' bytes.
                const unsigned __int128 sector =
                    static_cast<unsigned __int128>(firstSector) + chunkFirst;
                const unsigned __int128 at512 = sector * 512;
                const unsigned __int128 stored =
                    static_cast<unsigned __int128>(dataOffset) + packedOffset;
                if (at512 != stored ||
                    static_cast<unsigned __int128>(chunkCount) * 512 != packedLength)
                    return 0;
            } else if (type != kChunkZeroFill && type != kChunkIgnore && type != kChunkComment &&
                       type != kChunkLast) {
                return 0;  // a kind this reader does not know may be compressed
            }
        }
    }
    return 1;
}

int ParseDmgFile(const char* path, CDMGDeviceInfoStruct& record) {
    if (path == nullptr)
        return 0;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    char head[8];
    if (PreadFully(fd, head, sizeof(head), 0) && std::memcmp(head, "encrcdsa", 8) == 0)
        return 0;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size <= static_cast<off_t>(kTrailerSize))
        return 0;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    record.fileSize = st.st_size;

    uint8_t trailer[kTrailerSize];
    if (!PreadFully(fd, trailer, sizeof(trailer), static_cast<off_t>(size - kTrailerSize)))
        return 0;
    if (std::memcmp(trailer, "koly", 4) != 0) {
        record.totalSectors = size / 512 + (size % 512 != 0 ? 1 : 0);
        return 1;
    }
    vk::ByteReader koly(trailer, sizeof(trailer));
    const uint64_t xmlOffset = koly.BE64(216);
    const uint64_t xmlLength = koly.BE64(224);
    const uint64_t sectors = koly.BE64(492);
    record.totalSectors = sectors;
    CatchExeception::WriteLog("========= koly info begin =============\n");
    CatchExeception::WriteLog("XML plist from: %llu, spanning %llu types\n",
                              static_cast<unsigned long long>(xmlOffset),
                              static_cast<unsigned long long>(xmlLength));
    CatchExeception::WriteLog("Original total sectors: %llu\n",
                              static_cast<unsigned long long>(sectors));
    CatchExeception::WriteLog("========= koly info end ===============\n");
    // The sectors the trailer claims must lie in the file from its first
    // byte on, where the device reads them, and so must the property list.
    if (koly.BE64(24) != 0 || sectors > size / 512)
        return 0;
    if (xmlLength == 0 || xmlLength > kMaxPlistBytes || xmlOffset > size ||
        xmlLength > size - xmlOffset)
        return 0;

    // Read in memory: nothing is written next to the image.
    std::vector<char> xml(static_cast<size_t>(xmlLength));
    if (!PreadFully(fd, xml.data(), xml.size(), static_cast<off_t>(xmlOffset)))
        return 0;
    std::vector<std::vector<uint8_t>> tables;
    if (!BlockTablesOf(xml, tables))
        return 0;
    return ParseChunkEntry(tables);
}
