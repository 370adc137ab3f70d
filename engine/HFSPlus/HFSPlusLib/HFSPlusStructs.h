// Host-order copies of the HFS+ records and the routines that read them out
// of on-disk bytes (each checks the length it is given). Names follow the
// published format; "flip" is the historic name of the big-endian readers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ResultCode.h"

namespace hfsplus {

// Error numbers of module 0x05.
enum HFSError : uint32_t {
    kHFSNotReady = 0x2,
    kHFSUnknownFile = 0x3,
    kHFSOutOfMemory = 0x4,
    kHFSNullArgument = 0x5,
    kHFSDamaged = 0x6,
    kHFSStopped = 0xd,
    kHFSShortRead = 0xe,
    kHFSReadFailure = 0x501,
};

// Prints "Return Error:0x<code>\tFile:<base name>\tLine:<n>\tFuction:<name>"
// on standard output and returns the code.
VKRESULT FormatError(VKRESULT code, const char* sourcePath, int line, const char* function);
// Turns those lines off (fuzzing and benchmarks meet damage by the million).
void SetErrorLines(bool on);
// Whether this module's diagnostic lines (errors, warnings, log lines) are on.
bool ErrorLinesOn();

// A failure of this module, printed once where it is raised.
#define HFS_ERROR(error) \
    ::hfsplus::FormatError(VK_ERROR(kModuleHFSPlus, (error)), __FILE__, __LINE__, __func__)

struct HFSPlusExtentDescriptor {
    uint32_t startBlock = 0;
    uint32_t blockCount = 0;
};
using HFSPlusExtentRecord = std::array<HFSPlusExtentDescriptor, 8>;

struct HFSPlusForkData {
    uint64_t logicalSize = 0;
    uint32_t clumpSize = 0;
    uint32_t totalBlocks = 0;
    HFSPlusExtentRecord extents{};
};

struct HFSPlusVolumeHeader {
    uint16_t signature = 0;
    uint16_t version = 0;
    uint32_t attributes = 0;
    uint32_t journalInfoBlock = 0;
    uint32_t createDate = 0;
    uint32_t modifyDate = 0;
    uint32_t fileCount = 0;
    uint32_t folderCount = 0;
    uint32_t blockSize = 0;
    uint32_t totalBlocks = 0;
    uint32_t freeBlocks = 0;
    uint32_t nextCatalogID = 0;
    std::array<uint32_t, 8> finderInfo{};
    HFSPlusForkData allocationFile, extentsFile, catalogFile, attributesFile, startupFile;

    // Finder-info words 6 (high) and 7: the volume's 64-bit identifier.
    uint64_t VolumeID() const { return (uint64_t{finderInfo[6]} << 32) | finderInfo[7]; }
    bool IsJournaled() const;
    // The fork of a special file (3, 4, 6, 7, 8), or null.
    const HFSPlusForkData* ForkOf(uint32_t fileID) const;
};

struct BTNodeDescriptor {
    uint32_t fLink = 0;
    uint32_t bLink = 0;
    int8_t kind = 0;
    uint8_t height = 0;
    uint16_t numRecords = 0;
    uint16_t reserved = 0;
};

struct BTHeaderRec {
    uint16_t treeDepth = 0;
    uint32_t rootNode = 0;
    uint32_t leafRecords = 0;
    uint32_t firstLeafNode = 0;
    uint32_t lastLeafNode = 0;
    uint16_t nodeSize = 0;
    uint16_t maxKeyLength = 0;
    uint32_t totalNodes = 0;
    uint32_t freeNodes = 0;
    uint8_t keyCompareType = 0;
    uint32_t attributes = 0;
};

// A key of any of the three trees, host order. `id` is the catalog key's
// parentID or the extent / attribute key's fileID. Names are UTF-16 units;
// catalog names hold ":" where the disk has "/" (the POSIX view of a
// Carbon name).
struct BTKey {
    uint16_t keyLength = 0;
    uint32_t id = 0;
    uint8_t forkType = 0;
    uint32_t startBlock = 0;
    std::vector<uint16_t> name;
};
using HFSPlusCatalogKey = BTKey;
using HFSPlusExtentKey = BTKey;
using HFSPlusAttrKey = BTKey;

struct HFSPlusBSDInfo {
    uint32_t ownerID = 0;
    uint32_t groupID = 0;
    uint8_t adminFlags = 0;
    uint8_t ownerFlags = 0;
    uint16_t fileMode = 0;
    uint32_t special = 0;
};

// A folder, file or thread record of the catalog.
struct HFSPlusCatalogRecord {
    int16_t recordType = 0;
    uint16_t flags = 0;
    uint32_t valence = 0;
    uint32_t id = 0;  // folderID or fileID
    uint32_t createDate = 0;
    uint32_t contentModDate = 0;
    uint32_t attributeModDate = 0;
    uint32_t accessDate = 0;
    HFSPlusBSDInfo bsd;
    uint32_t fileType = 0;
    uint32_t fileCreator = 0;
    HFSPlusForkData dataFork, resourceFork;
    // Threads.
    uint32_t threadParentID = 0;
    std::vector<uint16_t> threadName;
};

// An attribute record: inline data, a fork, or more extents of a fork.
struct HFSPlusAttrRecord {
    uint32_t recordType = 0;
    std::vector<uint8_t> data;
    HFSPlusForkData fork;
    HFSPlusExtentRecord extents{};
};

struct JournalInfoBlock {
    uint32_t flags = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
};

struct JournalHeader {
    uint32_t magic = 0;
    uint32_t endian = 0;
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t size = 0;
    uint32_t blhdrSize = 0;
    uint32_t checksum = 0;
    uint32_t jhdrSize = 0;
};

struct HFSPlusDecmpfs {
    uint32_t magic = 0;
    uint32_t compressionType = 0;
    uint64_t uncompressedSize = 0;
};

// Readers: each takes the bytes and their length and answers 0 or code 5
// (a null or short buffer, the record left default).
VKRESULT flipExtentRecord(const uint8_t* bytes, size_t size, HFSPlusExtentRecord* out);
VKRESULT flipForkData(const uint8_t* bytes, size_t size, HFSPlusForkData* out);
VKRESULT flipVolumeHeader(const uint8_t* bytes, size_t size, HFSPlusVolumeHeader* out);
VKRESULT flipNodeDescriptor(const uint8_t* bytes, size_t size, BTNodeDescriptor* out);
VKRESULT flipBTHeaderRec(const uint8_t* bytes, size_t size, BTHeaderRec* out);
VKRESULT flipJournalInfoBlock(const uint8_t* bytes, size_t size, JournalInfoBlock* out);
VKRESULT flipJournalHeader(const uint8_t* bytes, size_t size, JournalHeader* out);
VKRESULT flipHFSPlusDecmpfs(const uint8_t* bytes, size_t size, HFSPlusDecmpfs* out);

// Keys and records: `size` is what the record holds; a key or record whose
// own lengths pass it is refused (code 6) rather than read short.
VKRESULT filpCatalogKey(const uint8_t* bytes, size_t size, BTKey* out);
VKRESULT filpExtentKey(const uint8_t* bytes, size_t size, BTKey* out);
VKRESULT filpAttributeKey(const uint8_t* bytes, size_t size, BTKey* out);
VKRESULT flipCatalogRecord(const uint8_t* bytes, size_t size, HFSPlusCatalogRecord* out);
VKRESULT flipAttrRecord(const uint8_t* bytes, size_t size, HFSPlusAttrRecord* out);

// The bytes a catalog record of this type takes (0 for an unknown type; a
// thread's size depends on its name and is given for the longest name).
size_t CatalogRecordSize(int16_t type);

// UTF-16 units of an ASCII or UTF-8 string (attribute names, test keys).
std::vector<uint16_t> Utf16Units(const char* utf8);

}  // namespace hfsplus
