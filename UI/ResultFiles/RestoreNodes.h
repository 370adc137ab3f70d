// The node records of a result file and the nodes they are read back into.
// Reading goes through a plain record first, so that what the file says
// can be checked before any node is made of it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DataRun.h"
#include "FileNode.h"

class IStorageDevice;
class IFilesystemNode;
class CSearchedPartitionInfo;

namespace hfsplus {
class CHFSPlusVolume;
}

namespace SaveRestoreResult {

class FrameReader;
class FrameWriter;

// One file-node record as stored: 88 bytes plus 16 per run plus the name.
struct FileNodeRecord {
    int64_t id = 0;
    int64_t parentId = 0;
    int64_t size = 0;
    uint16_t attribute = 0;
    int64_t creationTime = 0;
    int64_t modificationTime = 0;
    int64_t accessTime = 0;
    int32_t directory = 0;
    int32_t deleted = 0;
    int32_t resident = 0;
    bool hasRunList = false;
    std::vector<DataRun> runs;
    std::string name;
    int32_t shown = 1;
    uint16_t partitionIndex = 0xFFFF;
    int64_t metadataSector = 0;
    int32_t compressed = 0;
};

// A root's record: its file-node record, searcher type and volume name.
struct SystemNodeRecord {
    FileNodeRecord node;
    int32_t searcherType = 0;
    std::string volumeName;
};

// How reading a record went.
enum class RecordRead {
    kOk,
    // The record declared counts that cannot be right (a negative run count
    // or name length): what follows cannot be placed, the frame is damaged.
    kDamaged,
    // The frame ends inside the record.
    kTruncated,
};

constexpr size_t kFileNodeFixedBytes = 88;
// Volume names the interface can hold (a volume record's field).
constexpr size_t kMaxVolumeNameLength = 1023;

// Every byte the record declares is consumed, whatever its counts, as long
// as the frame holds them. On failure the record is left part filled.
RecordRead ReadFileNodeRecord(FrameReader& in, FileNodeRecord* record);
RecordRead ReadSystemNodeRecord(FrameReader& in, SystemNodeRecord* record);

// A node read back from a result file.
class RestoreFileNode : public CFileNode {
public:
    RestoreFileNode() = default;
    // Takes the record's fields; every restored node is shown.
    explicit RestoreFileNode(const FileNodeRecord& record);

    const char* GetFileName() override { return name_.c_str(); }
    long long GetFileSize() override { return size_; }
    uint32_t GetAttribute() override { return attribute_; }
    long long GetCreationTime() override { return creationTime_; }
    long long GetModificationTime() override { return modificationTime_; }
    long long GetLastAccessTime() override { return accessTime_; }
    int IsDirectory() override { return directory_; }
    int IsDeleted() override { return deleted_; }
    IFileNode* Clone() override;
    void MarkDeleted() override { deleted_ = 1; }
    // Climbs to the tree's root: an NTFS root gives the NTFS compression
    // reader, an HFS+ root the HFS+ one through the volume the last load
    // opened; any other root, none.
    IFileReader* CreateCompressFileReader(void* fileSystemContext) override;
    // The stored name stays as it is.
    void FilterFileNameByDot() override {}
    // Kept beside the node records (frValidDataLengths); -1 when the file
    // has none for this node.
    long long GetValidDataLength() const override { return validLength_; }
    void SetValidDataLength(long long length) { validLength_ = length < 0 ? -1 : length; }

protected:
    void UpdateValidDataLength(long long length) override { SetValidDataLength(length); }

    std::string name_;
    long long size_ = 0;
    uint16_t attribute_ = 0;
    long long creationTime_ = 0;
    long long modificationTime_ = 0;
    long long accessTime_ = 0;
    int directory_ = 0;
    int deleted_ = 0;
    long long validLength_ = -1;
};

// A root read back from a result file. The tree builder makes its own
// roots, so this one only carries what the replay needs.
class RestoreSystemNode : public RestoreFileNode {
public:
    explicit RestoreSystemNode(const SystemNodeRecord& record);
    ~RestoreSystemNode() override;

    _tagSearcherType GetSearcheType() const override {
        return static_cast<_tagSearcherType>(searcherType_);
    }
    const char* GetVolumeName() const override { return volumeName_.c_str(); }
    // The HFS+ volume opened for this root, still owned by the node.
    hfsplus::CHFSPlusVolume* GetCHFSPlusVolume() const { return volume_.get(); }
    void SetCHFSPlusVolume(std::unique_ptr<hfsplus::CHFSPlusVolume> volume);
    std::unique_ptr<hfsplus::CHFSPlusVolume> TakeCHFSPlusVolume();

private:
    int32_t searcherType_;
    std::string volumeName_;
    std::unique_ptr<hfsplus::CHFSPlusVolume> volume_;
};

// The file-node record of `node`, appended to the open frame.
int WriteFileNode(IFileNode* node, FrameWriter& out);
// The same in two steps, for a tree another thread may change: the record
// is taken under that tree's lock, then written (perhaps to disk) without it.
FileNodeRecord FileNodeRecordOf(IFileNode* node);
void WriteFileNodeRecord(const FileNodeRecord& record, FrameWriter& out);
// The root's record with its searcher type and volume name.
int WriteSystemNode(IFilesystemNode* root, FrameWriter& out);

// The HFS+ volumes that restored HFS+ nodes read compressed files through:
// one per searcher type, kept from one load to the next, emptied when a load
// begins.
class RestoredVolumeCache {
public:
    static void Clear();
    // Keeps the volume for the type unless one is kept already; true when
    // it was taken.
    static bool Offer(int searcherType, std::unique_ptr<hfsplus::CHFSPlusVolume>& volume);
    // Null when none is kept. Valid until the next Clear.
    static hfsplus::CHFSPlusVolume* Find(int searcherType);
    // Opens the HFS+ volume of one stored partition record of `device` and
    // keeps it (with the window it reads through) until the next Clear;
    // null when the partition holds none.
    static hfsplus::CHFSPlusVolume* OpenForPartition(IStorageDevice* device,
                                                     const CSearchedPartitionInfo& partition);
};

// Opens the HFS+ volume a restored HFS+ root reads compressed files through;
// null when the device holds none.
std::unique_ptr<hfsplus::CHFSPlusVolume> OpenRestoredHfsVolume(IStorageDevice* device);

}  // namespace SaveRestoreResult
