#include "HFSPlusStructs.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "ByteReader.h"
#include "HFSPlusLayout.h"

namespace hfsplus {

namespace L = layout;

namespace {
std::atomic<bool> g_errorLines{true};
}  // namespace

void SetErrorLines(bool on) {
    g_errorLines.store(on, std::memory_order_relaxed);
}

bool ErrorLinesOn() {
    return g_errorLines.load(std::memory_order_relaxed);
}

VKRESULT FormatError(VKRESULT code, const char* sourcePath, int line, const char* function) {
    if (!g_errorLines.load(std::memory_order_relaxed))
        return code;
    const char* base = sourcePath ? sourcePath : "";
    for (const char* p = base; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    std::printf("Return Error:0x%llx\tFile:%s\tLine:%d\tFuction:%s\n",
                static_cast<unsigned long long>(code), base, line, function ? function : "");
    return code;
}

bool HFSPlusVolumeHeader::IsJournaled() const {
    return (attributes & L::kVolumeJournaledBit) != 0;
}

const HFSPlusForkData* HFSPlusVolumeHeader::ForkOf(uint32_t fileID) const {
    switch (fileID) {
        case L::kExtentsFileID:
            return &extentsFile;
        case L::kCatalogFileID:
            return &catalogFile;
        case L::kAllocationFileID:
            return &allocationFile;
        case L::kStartupFileID:
            return &startupFile;
        case L::kAttributesFileID:
            return &attributesFile;
        default:
            return nullptr;
    }
}

namespace {

VKRESULT Short() {
    return VK_ERROR(kModuleHFSPlus, kHFSNullArgument);
}
VKRESULT Damaged() {
    return VK_ERROR(kModuleHFSPlus, kHFSDamaged);
}

void ReadExtents(const vk::ByteReader& r, size_t at, HFSPlusExtentRecord* out) {
    for (size_t i = 0; i < L::kExtentsPerRecord; ++i) {
        (*out)[i].startBlock = r.BE32(at + i * L::kExtentDescriptorSize);
        (*out)[i].blockCount = r.BE32(at + i * L::kExtentDescriptorSize + 4);
    }
}

void ReadFork(const vk::ByteReader& r, size_t at, HFSPlusForkData* out) {
    out->logicalSize = r.BE64(at + L::kForkLogicalSize);
    out->clumpSize = r.BE32(at + 8);
    out->totalBlocks = r.BE32(at + L::kForkTotalBlocks);
    ReadExtents(r, at + L::kForkExtents, &out->extents);
}

// Name characters: at most `limit` units, each "/" read as ":".
bool ReadName(const vk::ByteReader& r, size_t at, size_t units, std::vector<uint16_t>* out) {
    if (!r.Has(at, units * 2))
        return false;
    out->resize(units);
    for (size_t i = 0; i < units; ++i) {
        uint16_t c = r.BE16(at + 2 * i);
        (*out)[i] = c == 0x002F ? 0x003A : c;
    }
    return true;
}

}  // namespace

VKRESULT flipExtentRecord(const uint8_t* bytes, size_t size, HFSPlusExtentRecord* out) {
    if (!bytes || !out || size < L::kExtentRecordSize)
        return Short();
    ReadExtents(vk::ByteReader(bytes, size), 0, out);
    return VK_OK;
}

VKRESULT flipForkData(const uint8_t* bytes, size_t size, HFSPlusForkData* out) {
    if (!bytes || !out || size < L::kForkDataSize)
        return Short();
    ReadFork(vk::ByteReader(bytes, size), 0, out);
    return VK_OK;
}

VKRESULT flipVolumeHeader(const uint8_t* bytes, size_t size, HFSPlusVolumeHeader* out) {
    if (!bytes || !out || size < L::kVolumeHeaderSize)
        return Short();
    vk::ByteReader r(bytes, size);
    out->signature = r.BE16(L::kVHSignature);
    out->version = r.BE16(L::kVHVersion);
    out->attributes = r.BE32(L::kVHAttributes);
    out->journalInfoBlock = r.BE32(L::kVHJournalInfoBlock);
    out->createDate = r.BE32(L::kVHCreateDate);
    out->modifyDate = r.BE32(L::kVHModifyDate);
    out->fileCount = r.BE32(L::kVHFileCount);
    out->folderCount = r.BE32(L::kVHFolderCount);
    out->blockSize = r.BE32(L::kVHBlockSize);
    out->totalBlocks = r.BE32(L::kVHTotalBlocks);
    out->freeBlocks = r.BE32(L::kVHFreeBlocks);
    out->nextCatalogID = r.BE32(L::kVHNextCatalogID);
    for (size_t i = 0; i < out->finderInfo.size(); ++i)
        out->finderInfo[i] = r.BE32(L::kVHFinderInfo + 4 * i);
    ReadFork(r, L::kVHAllocationFile, &out->allocationFile);
    ReadFork(r, L::kVHExtentsFile, &out->extentsFile);
    ReadFork(r, L::kVHCatalogFile, &out->catalogFile);
    ReadFork(r, L::kVHAttributesFile, &out->attributesFile);
    ReadFork(r, L::kVHStartupFile, &out->startupFile);
    return VK_OK;
}

VKRESULT flipNodeDescriptor(const uint8_t* bytes, size_t size, BTNodeDescriptor* out) {
    if (!bytes || !out || size < L::kNodeDescriptorSize)
        return Short();
    vk::ByteReader r(bytes, size);
    out->fLink = r.BE32(L::kNodeFLink);
    out->bLink = r.BE32(L::kNodeBLink);
    out->kind = r.S8(L::kNodeKind);
    out->height = r.U8(L::kNodeHeight);
    out->numRecords = r.BE16(L::kNodeNumRecords);
    out->reserved = r.BE16(L::kNodeReserved);
    return VK_OK;
}

VKRESULT flipBTHeaderRec(const uint8_t* bytes, size_t size, BTHeaderRec* out) {
    if (!bytes || !out || size < L::kHeaderRecSize)
        return Short();
    vk::ByteReader r(bytes, size);
    out->treeDepth = r.BE16(L::kHdrTreeDepth);
    out->rootNode = r.BE32(L::kHdrRootNode);
    out->leafRecords = r.BE32(L::kHdrLeafRecords);
    out->firstLeafNode = r.BE32(L::kHdrFirstLeaf);
    out->lastLeafNode = r.BE32(L::kHdrLastLeaf);
    out->nodeSize = r.BE16(L::kHdrNodeSize);
    out->maxKeyLength = r.BE16(L::kHdrMaxKeyLength);
    out->totalNodes = r.BE32(L::kHdrTotalNodes);
    out->freeNodes = r.BE32(L::kHdrFreeNodes);
    out->keyCompareType = r.U8(L::kHdrKeyCompareType);
    out->attributes = r.BE32(L::kHdrAttributes);
    return VK_OK;
}

VKRESULT flipJournalInfoBlock(const uint8_t* bytes, size_t size, JournalInfoBlock* out) {
    if (!bytes || !out || size < L::kJIBRecordSize)
        return Short();
    vk::ByteReader r(bytes, size);
    out->flags = r.BE32(L::kJIBFlags);
    out->offset = r.BE64(L::kJIBOffset);
    out->size = r.BE64(L::kJIBSize);
    return VK_OK;
}

VKRESULT flipJournalHeader(const uint8_t* bytes, size_t size, JournalHeader* out) {
    if (!bytes || !out || size < L::kJournalHeaderSize)
        return Short();
    vk::ByteReader r(bytes, size);
    out->magic = r.LE32(L::kJHMagic);
    out->endian = r.LE32(L::kJHEndian);
    out->start = r.LE64(L::kJHStart);
    out->end = r.LE64(L::kJHEnd);
    out->size = r.LE64(L::kJHSize);
    out->blhdrSize = r.LE32(L::kJHBlhdrSize);
    out->checksum = r.LE32(L::kJHChecksum);
    out->jhdrSize = r.LE32(L::kJHJhdrSize);
    return VK_OK;
}

VKRESULT flipHFSPlusDecmpfs(const uint8_t* bytes, size_t size, HFSPlusDecmpfs* out) {
    if (!bytes || !out || size < L::kDecmpfsHeaderSize)
        return Short();
    vk::ByteReader r(bytes, size);
    out->magic = r.LE32(0);
    out->compressionType = r.LE32(L::kDecmpfsType);
    out->uncompressedSize = r.LE64(L::kDecmpfsSize);
    return VK_OK;
}

VKRESULT filpCatalogKey(const uint8_t* bytes, size_t size, BTKey* out) {
    if (!bytes || !out)
        return Short();
    vk::ByteReader r(bytes, size);
    const uint16_t keyLength = r.BE16(L::kKeyLength);
    const uint16_t units = r.BE16(L::kCatKeyNameLength);
    // The name must fit the key, and the key the record; a 255-unit name is
    // the longest HFS+ allows and is converted whole.
    if (r.failed() || keyLength < L::kCatKeyMinLength || size_t{keyLength} + 2 > size ||
        units > L::kMaxNameUnits || L::kCatKeyMinLength + 2 * size_t{units} > keyLength)
        return Damaged();
    out->keyLength = keyLength;
    out->id = r.BE32(L::kCatKeyParentID);
    out->forkType = 0;
    out->startBlock = 0;
    if (!ReadName(r, L::kCatKeyName, units, &out->name))
        return Damaged();
    return VK_OK;
}

VKRESULT filpExtentKey(const uint8_t* bytes, size_t size, BTKey* out) {
    if (!bytes || !out)
        return Short();
    if (size < L::kExtKeySize)
        return Damaged();
    vk::ByteReader r(bytes, size);
    out->keyLength = r.BE16(L::kKeyLength);
    if (out->keyLength != L::kExtKeySize - 2)
        return Damaged();
    out->forkType = r.U8(L::kExtKeyForkType);
    out->id = r.BE32(L::kExtKeyFileID);
    out->startBlock = r.BE32(L::kExtKeyStartBlock);
    out->name.clear();
    return VK_OK;
}

VKRESULT filpAttributeKey(const uint8_t* bytes, size_t size, BTKey* out) {
    if (!bytes || !out)
        return Short();
    vk::ByteReader r(bytes, size);
    const uint16_t keyLength = r.BE16(L::kKeyLength);
    const uint16_t units = r.BE16(L::kAttrKeyNameLength);
    if (r.failed() || keyLength < L::kAttrKeyMinLength || size_t{keyLength} + 2 > size ||
        units > L::kMaxAttrNameUnits || L::kAttrKeyMinLength + 2 * size_t{units} > keyLength)
        return Damaged();
    out->keyLength = keyLength;
    out->forkType = 0;
    out->id = r.BE32(L::kAttrKeyFileID);
    out->startBlock = r.BE32(L::kAttrKeyStartBlock);
    out->name.resize(units);
    for (size_t i = 0; i < units; ++i)
        out->name[i] = r.BE16(L::kAttrKeyName + 2 * i);
    return VK_OK;
}

size_t CatalogRecordSize(int16_t type) {
    switch (type) {
        case L::kRecFolder:
            return L::kFolderRecordSize;
        case L::kRecFile:
            return L::kFileRecordSize;
        case L::kRecFolderThread:
        case L::kRecFileThread:
            return L::kThreadMaxSize;
        default:
            return 0;
    }
}

VKRESULT flipCatalogRecord(const uint8_t* bytes, size_t size, HFSPlusCatalogRecord* out) {
    if (!bytes || !out)
        return Short();
    vk::ByteReader r(bytes, size);
    *out = HFSPlusCatalogRecord{};
    out->recordType = r.BES16(L::kRecType);
    if (r.failed())
        return Damaged();
    switch (out->recordType) {
        case L::kRecFolder:
        case L::kRecFile: {
            const size_t need =
                out->recordType == L::kRecFolder ? L::kFolderRecordSize : L::kFileRecordSize;
            if (size < need)
                return Damaged();
            out->flags = r.BE16(L::kRecFlags);
            out->valence = out->recordType == L::kRecFolder ? r.BE32(L::kRecValence) : 0;
            out->id = r.BE32(L::kRecID);
            out->createDate = r.BE32(L::kRecCreateDate);
            out->contentModDate = r.BE32(L::kRecContentModDate);
            out->attributeModDate = r.BE32(L::kRecAttributeModDate);
            out->accessDate = r.BE32(L::kRecAccessDate);
            out->bsd.ownerID = r.BE32(32);
            out->bsd.groupID = r.BE32(36);
            out->bsd.adminFlags = r.U8(40);
            out->bsd.ownerFlags = r.U8(L::kRecBSDOwnerFlags);
            out->bsd.fileMode = r.BE16(L::kRecBSDFileMode);
            out->bsd.special = r.BE32(L::kRecBSDSpecial);
            out->fileType = r.BE32(L::kRecFinderType);
            out->fileCreator = r.BE32(L::kRecFinderCreator);
            if (out->recordType == L::kRecFile) {
                ReadFork(r, L::kRecDataFork, &out->dataFork);
                ReadFork(r, L::kRecResourceFork, &out->resourceFork);
            }
            return VK_OK;
        }
        case L::kRecFolderThread:
        case L::kRecFileThread: {
            const uint16_t units = r.BE16(L::kThreadNameLength);
            if (r.failed() || units > L::kMaxNameUnits)
                return Damaged();
            out->threadParentID = r.BE32(L::kThreadParentID);
            if (!ReadName(r, L::kThreadName, units, &out->threadName))
                return Damaged();
            return VK_OK;
        }
        default:
            return Damaged();
    }
}

VKRESULT flipAttrRecord(const uint8_t* bytes, size_t size, HFSPlusAttrRecord* out) {
    if (!bytes || !out)
        return Short();
    vk::ByteReader r(bytes, size);
    *out = HFSPlusAttrRecord{};
    out->recordType = r.BE32(0);
    if (r.failed())
        return Damaged();
    switch (out->recordType) {
        case L::kAttrInline: {
            const uint32_t length = r.BE32(L::kAttrInlineSizeField);
            // The inline data's length comes from disk: it must lie inside
            // the record, never "size + 16" bytes taken on trust.
            if (r.failed() || !r.Has(L::kAttrInlineData, length))
                return Damaged();
            out->data.assign(bytes + L::kAttrInlineData, bytes + L::kAttrInlineData + length);
            return VK_OK;
        }
        case L::kAttrFork:
            if (size < L::kAttrForkRecordSize)
                return Damaged();
            ReadFork(r, 8, &out->fork);
            return VK_OK;
        case L::kAttrExtents:
            if (size < L::kAttrExtentsRecordSize)
                return Damaged();
            ReadExtents(r, 8, &out->extents);
            return VK_OK;
        default:
            return Damaged();
    }
}

std::vector<uint16_t> Utf16Units(const char* text) {
    std::vector<uint16_t> out;
    if (!text)
        return out;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t n = std::strlen(text);
    for (size_t i = 0; i < n;) {
        uint32_t cp = s[i];
        size_t len = 1;
        if (cp >= 0xF0 && i + 3 < n) {
            cp = ((cp & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
                 (s[i + 3] & 0x3F);
            len = 4;
        } else if (cp >= 0xE0 && i + 2 < n) {
            cp = ((cp & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            len = 3;
        } else if (cp >= 0xC0 && i + 1 < n) {
            cp = ((cp & 0x1F) << 6) | (s[i + 1] & 0x3F);
            len = 2;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<uint16_t>(0xD800 | (cp >> 10)));
            out.push_back(static_cast<uint16_t>(0xDC00 | (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<uint16_t>(cp));
        }
        i += len;
    }
    return out;
}

}  // namespace hfsplus
