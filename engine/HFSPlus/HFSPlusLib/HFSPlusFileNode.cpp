#include "HFSPlusFileNode.h"

#include <cstdio>
#include <string>

#include "DataRun.h"
#include "HFSPlusCompress.h"
#include "HFSPlusKeys.h"
#include "HFSPlusLayout.h"
#include "HFSPlusVolume.h"
#include "Utility/TextConvert.h"

namespace hfsplus {

namespace L = layout;

std::string CatalogNameToUtf8(const std::vector<uint16_t>& name) {
    size_t first = 0;
    while (first < name.size() && name[first] == 0)
        ++first;
    return vk::Utf16UnitsToUtf8(name.data() + first, name.size() - first);
}

long long HFSTimeToTicks(uint32_t seconds) {
    if (seconds == 0)
        return 0;
    return (static_cast<long long>(seconds) + L::kSeconds1601To1904) * L::kTicksPerSecond;
}

CHFSPlusFileNode::CHFSPlusFileNode(CHFSPlusVolume* volume, const BTKey& key,
                                   const HFSPlusCatalogRecord& record, int deleted)
    : volume_(volume) {
    Build(key, record, deleted, 0, 0);
}

CHFSPlusFileNode::CHFSPlusFileNode(CHFSPlusVolume* volume, long long metadataSector,
                                   unsigned partitionIndex, const BTKey& key,
                                   const HFSPlusCatalogRecord& record)
    : volume_(volume) {
    Build(key, record, 0, metadataSector, partitionIndex);
}

void CHFSPlusFileNode::Build(const BTKey& key, const HFSPlusCatalogRecord& record, int deleted,
                             long long metadataSector, unsigned partitionIndex) {
    SetParentNodeID(key.id);
    name_ = CatalogNameToUtf8(key.name);
    SetBelongedPartition(static_cast<unsigned short>(partitionIndex));
    SetMetaDataSector(metadataSector);
    createDate_ = record.createDate;
    modifyDate_ = record.contentModDate;
    accessDate_ = record.accessDate;

    if (record.recordType == L::kRecFolder) {
        flags_ |= kDirectory;
        if (record.id == L::kRootParentID) {
            createDate_ = modifyDate_ = accessDate_ = 0;
            return;  // the root's parent: no node
        }
        SetNodeId(record.id);
        dataFileID_ = record.id;
        // The root folder itself is never deleted.
        if (deleted && record.id != L::kRootFolderID)
            flags_ |= kDeleted;
        return;
    }
    if (record.recordType != L::kRecFile) {
        createDate_ = modifyDate_ = accessDate_ = 0;
        return;
    }
    SetNodeId(record.id);
    dataFileID_ = record.id;

    // A hard link has no data of its own: it names an indirect node in the
    // private folder, whose forks and attributes hold the file.
    const HFSPlusCatalogRecord* source = &record;
    HFSPlusCatalogRecord target;
    if (record.fileType == L::kTypeHardLink && record.fileCreator == L::kCreatorHFSPlus &&
        volume_ && volume_->PrivateFolderID() != 0) {
        const std::string inode = "iNode" + std::to_string(record.bsd.special);
        if (volume_->LookupCatalog(
                MakeCatalogKey(volume_->PrivateFolderID(), Utf16Units(inode.c_str())), &target) &&
            target.recordType == L::kRecFile && target.id == record.bsd.special) {
            source = &target;
            dataFileID_ = target.id;
            hardLink_ = true;
            linkTarget_ = target.id;
        }
    }

    if (source->bsd.ownerFlags & L::kOwnerFlagCompressed) {
        SetCompressed(1);
        flags_ |= kCompressed;
        forkLength_ = source->resourceFork.logicalSize;
        size_ = static_cast<long long>(forkLength_);
        if (source->resourceFork.totalBlocks != 0)
            BuildFileDataRun(source->resourceFork, L::kForkResource);
        // Reported and recovered at the uncompressed size, never at the
        // size of the compressed fork.
        UpdateNodeInfo();
    } else {
        forkLength_ = source->dataFork.logicalSize;
        size_ = static_cast<long long>(source->dataFork.logicalSize);
        if (size_ == 0 && volume_)
            size_ = static_cast<long long>(uint64_t{source->dataFork.totalBlocks} *
                                           volume_->BlockSize());
        if (source->dataFork.totalBlocks != 0)
            BuildFileDataRun(source->dataFork, L::kForkData);
    }
    if (key.id == 0 && name_.empty() && size_ > 0x40000000LL) {
        createDate_ = modifyDate_ = accessDate_ = 0;
        return;
    }
    // Folder aliases are shown as folders.
    if (record.fileType == L::kTypeFolderAlias)
        flags_ |= kDirectory;
    if (deleted)
        flags_ |= kDeleted;
}

void CHFSPlusFileNode::BuildFileDataRun(const HFSPlusForkData& fork, uint8_t forkType) {
    std::vector<HFSPlusExtentDescriptor> extents;
    if (volume_) {
        volume_->CollectExtents(dataFileID_, forkType, fork, &extents, true);
    } else {
        for (const HFSPlusExtentDescriptor& e : fork.extents)
            if (e.blockCount)
                extents.push_back(e);
    }
    auto* list = new CDataRunList();
    for (const HFSPlusExtentDescriptor& e : extents) {
        const DataRun run(e.startBlock, e.blockCount);
        list->AddDataRun(&run);
    }
    SetDataRunList(list);
}

void CHFSPlusFileNode::UpdateNodeInfo() {
    if (!(flags_ & kCompressed) || !volume_)
        return;
    std::vector<uint8_t> data;
    HFSPlusDecmpfs header;
    if (volume_->getAttribute(dataFileID_, L::kDecmpfsName, &data) < L::kDecmpfsHeaderSize ||
        ResultFailed(flipHFSPlusDecmpfs(data.data(), data.size(), &header))) {
        if (ErrorLinesOn())
            std::printf("Warn:Can't find file 0x%llx Attribute\n",
                        static_cast<unsigned long long>(GetCurrentNodeID()));
        return;
    }
    if (header.uncompressedSize > kMaxUncompressedSize) {
        if (ErrorLinesOn())
            std::printf("Warn:file 0x%llx claims %llu uncompressed bytes\n",
                        static_cast<unsigned long long>(GetCurrentNodeID()),
                        static_cast<unsigned long long>(header.uncompressedSize));
        return;
    }
    size_ = static_cast<long long>(header.uncompressedSize);
}

IFileReader* CHFSPlusFileNode::CreateCompressFileReader(void*) {
    return new CHFSPlusCompressFileReader(volume_, this);
}

void CHFSPlusFileNode::FilterFileNameByDot() {
    name_ = CFileNode::FilterFileNameByDot(name_.c_str());
}

}  // namespace hfsplus
