#include "RestoreNodes.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "ByteReader.h"
#include "HFSPlusLib/HFSPlusCompress.h"
#include "HFSPlusLib/HFSPlusFileNode.h"
#include "HFSPlusLib/HFSPlusJournal.h"
#include "HFSPlusLib/HFSPlusKeys.h"
#include "HFSPlusLib/HFSPlusVolume.h"
#include "RecoveryInterfaces.h"
#include "ReleasePtr.h"
#include "ResultFrames.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"

namespace SaveRestoreResult {

namespace {

// A run list read back from a file keeps the resident mark it was saved
// with: recovery reads resident data from the file record, not from runs.
class CRestoredRunList final : public CDataRunList {
public:
    explicit CRestoredRunList(int resident) : resident_(resident) {}
    int IsResident() override { return resident_; }
    IDataRunList* Clone() override { return new CRestoredRunList(*this); }

private:
    int resident_;
};

// The list of a file of one run, which most files are: no index of
// extents to keep. Runs added later are checked against those held, as the
// plain list does.
class CRestoredShortRunList final : public IDataRunList {
public:
    explicit CRestoredShortRunList(int resident) : resident_(resident) {}
    const DataRun* GetFirst() override {
        cursor_ = 0;
        return At(0);
    }
    const DataRun* GetNext() override {
        if (cursor_ < Count())
            ++cursor_;
        return At(cursor_);
    }
    int IsDone() override { return cursor_ >= Count() ? 1 : 0; }
    int IsResident() override { return resident_; }
    IDataRunList* Clone() override { return new CRestoredShortRunList(*this); }
    void AddDataRun(const DataRun* run) override {
        if (run == nullptr || run->length <= 0)
            return;
        DataRun added = *run;
        if (added.start >= 0) {
            long long end = 0;
            bool bad = __builtin_add_overflow(added.start, added.length, &end);
            for (size_t i = 0; i < Count() && !bad; ++i) {
                const DataRun* held = At(i);
                bad = held->start >= 0 && held->start < end &&
                      added.start < held->start + held->length;
            }
            if (bad)
                added.start = kLostRunStart;
        }
        if (Count() != 0) {
            DataRun& last = *At(Count() - 1);
            if (added.start >= 0 && last.start >= 0 && last.start + last.length == added.start &&
                last.length <= INT64_MAX - added.length) {
                last.length += added.length;
                return;
            }
        }
        if (!hasOne_) {
            one_ = added;
            hasOne_ = true;
            return;
        }
        if (more_.empty())
            more_.push_back(one_);
        more_.push_back(added);
    }
    long long GetOffset() override { return 0; }
    int GetDataRunListType() override { return DATARUN_LIST_PLAIN; }
    void Release() override { delete this; }

private:
    // The one run lives in the list itself; a second moves them all out.
    size_t Count() const { return more_.empty() ? (hasOne_ ? 1 : 0) : more_.size(); }
    DataRun* At(size_t i) {
        if (!more_.empty())
            return i < more_.size() ? &more_[i] : nullptr;
        return hasOne_ && i == 0 ? &one_ : nullptr;
    }

    int resident_;
    DataRun one_;
    bool hasOne_ = false;
    std::vector<DataRun> more_;
    size_t cursor_ = 0;
};

// Parent links of a restored tree are the builder's, so a walk up ends;
// the bound only guards against a tree that is still being linked.
constexpr int kMaxClimb = 1 << 20;

}  // namespace

// ---------------------------------------------------------------------------
// Records

namespace {

RecordRead Short(const FrameReader&) {
    return RecordRead::kTruncated;
}

// Reads a length-prefixed text; lengths past the frame are cut short, a
// negative one is damage.
RecordRead ReadText(FrameReader& in, std::string* text) {
    int32_t length = 0;
    if (!in.I32(&length))
        return Short(in);
    if (length < 0)
        return RecordRead::kDamaged;
    if (static_cast<uint64_t>(length) > in.Remaining())
        return Short(in);
    text->resize(static_cast<size_t>(length));
    if (!in.Bytes(text->data(), text->size()))
        return Short(in);
    return RecordRead::kOk;
}

}  // namespace

RecordRead ReadFileNodeRecord(FrameReader& in, FileNodeRecord* record) {
    // The fixed fields before the runs, and those after the name.
    constexpr size_t kHead = 66, kTail = 18;
    uint8_t head[kHead];
    if (!in.Bytes(head, sizeof head))
        return Short(in);
    FileNodeRecord& r = *record;
    r.id = vk::LoadLE<int64_t>(head);
    r.parentId = vk::LoadLE<int64_t>(head + 8);
    r.size = vk::LoadLE<int64_t>(head + 16);
    r.attribute = vk::LoadLE<uint16_t>(head + 24);
    r.creationTime = vk::LoadLE<int64_t>(head + 26);
    r.modificationTime = vk::LoadLE<int64_t>(head + 34);
    r.accessTime = vk::LoadLE<int64_t>(head + 42);
    r.directory = vk::LoadLE<int32_t>(head + 50);
    r.deleted = vk::LoadLE<int32_t>(head + 54);
    const int32_t runCount = vk::LoadLE<int32_t>(head + 58);
    r.resident = vk::LoadLE<int32_t>(head + 62);
    if (runCount < 0)
        return RecordRead::kDamaged;
    // Sized by the frame, never by the count alone.
    if (static_cast<uint64_t>(runCount) * 16 > in.Remaining())
        return Short(in);
    r.hasRunList = runCount > 0;
    r.runs.resize(static_cast<size_t>(runCount));
    for (DataRun& run : r.runs) {
        uint8_t bytes[16];
        if (!in.Bytes(bytes, sizeof bytes))
            return Short(in);
        run = DataRun(vk::LoadLE<int64_t>(bytes), vk::LoadLE<int64_t>(bytes + 8));
    }
    if (RecordRead text = ReadText(in, &r.name); text != RecordRead::kOk)
        return text;
    uint8_t tail[kTail];
    if (!in.Bytes(tail, sizeof tail))
        return Short(in);
    r.shown = vk::LoadLE<int32_t>(tail);
    r.partitionIndex = vk::LoadLE<uint16_t>(tail + 4);
    r.metadataSector = vk::LoadLE<int64_t>(tail + 6);
    r.compressed = vk::LoadLE<int32_t>(tail + 14);
    return RecordRead::kOk;
}

RecordRead ReadSystemNodeRecord(FrameReader& in, SystemNodeRecord* record) {
    SystemNodeRecord r;
    if (RecordRead node = ReadFileNodeRecord(in, &r.node); node != RecordRead::kOk)
        return node;
    if (!in.I32(&r.searcherType))
        return Short(in);
    if (RecordRead text = ReadText(in, &r.volumeName); text != RecordRead::kOk)
        return text;
    // A name the interface cannot hold is dropped after it was consumed.
    if (r.volumeName.size() > kMaxVolumeNameLength)
        r.volumeName.clear();
    *record = std::move(r);
    return RecordRead::kOk;
}

// Streams the record straight from the node: a save of millions of nodes
// makes no copy of any of them.
FileNodeRecord FileNodeRecordOf(IFileNode* node) {
    FileNodeRecord r;
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    IDataRunList* list = fileNode != nullptr ? fileNode->GetDataRunList() : nullptr;
    r.id = node->GetCurrentNodeID();
    r.parentId = node->GetParentNodeID();
    r.size = node->GetFileSize();
    r.attribute = static_cast<uint16_t>(node->GetAttribute());
    r.creationTime = node->GetCreationTime();
    r.modificationTime = node->GetModificationTime();
    r.accessTime = node->GetLastAccessTime();
    r.directory = node->IsDirectory();
    r.deleted = node->IsDeleted();
    r.hasRunList = list != nullptr;
    if (list != nullptr) {
        r.resident = list->IsResident();
        for (const DataRun* run = list->GetFirst(); run != nullptr && r.runs.size() < INT32_MAX;
             run = list->GetNext())
            r.runs.push_back(*run);
    }
    const char* name = node->GetFileName();
    if (name != nullptr)
        r.name.assign(name, std::min<size_t>(std::strlen(name), INT32_MAX));
    r.shown = node->IsNodeShow();
    r.partitionIndex = fileNode != nullptr ? fileNode->GetBelongedPartition() : 0xFFFF;
    r.metadataSector = fileNode != nullptr ? fileNode->GetMetadataStartPosition() : 0;
    r.compressed = node->IsCompressed();
    return r;
}

// Byte for byte what WriteFileNode streams.
void WriteFileNodeRecord(const FileNodeRecord& r, FrameWriter& out) {
    out.I64(r.id);
    out.I64(r.parentId);
    out.I64(r.size);
    out.I16(r.attribute);
    out.I64(r.creationTime);
    out.I64(r.modificationTime);
    out.I64(r.accessTime);
    out.I32(r.directory);
    out.I32(r.deleted);
    out.I32(static_cast<int32_t>(r.runs.size()));
    out.I32(r.hasRunList ? r.resident : 0);
    for (const DataRun& run : r.runs) {
        out.I64(run.start);
        out.I64(run.length);
    }
    out.I32(static_cast<int32_t>(r.name.size()));
    out.Bytes(r.name.data(), r.name.size());
    out.I32(r.shown);
    out.I16(r.partitionIndex);
    out.I64(r.metadataSector);
    out.I32(r.compressed);
}

int WriteFileNode(IFileNode* node, FrameWriter& out) {
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    IDataRunList* list = fileNode != nullptr ? fileNode->GetDataRunList() : nullptr;
    out.I64(node->GetCurrentNodeID());
    out.I64(node->GetParentNodeID());
    out.I64(node->GetFileSize());
    out.I16(static_cast<uint16_t>(node->GetAttribute()));
    out.I64(node->GetCreationTime());
    out.I64(node->GetModificationTime());
    out.I64(node->GetLastAccessTime());
    out.I32(node->IsDirectory());
    out.I32(node->IsDeleted());
    int32_t runs = 0;
    if (list != nullptr) {
        for (const DataRun* run = list->GetFirst(); run != nullptr && runs < INT32_MAX;
             run = list->GetNext())
            ++runs;
    }
    out.I32(runs);
    out.I32(list != nullptr ? list->IsResident() : 0);
    if (list != nullptr) {
        int32_t written = 0;
        for (const DataRun* run = list->GetFirst(); run != nullptr && written < runs;
             run = list->GetNext(), ++written) {
            out.I64(run->start);
            out.I64(run->length);
        }
    }
    const char* name = node->GetFileName();
    const size_t length = name != nullptr ? std::min<size_t>(std::strlen(name), INT32_MAX) : 0;
    out.I32(static_cast<int32_t>(length));
    out.Bytes(name, length);
    out.I32(node->IsNodeShow());
    out.I16(fileNode != nullptr ? fileNode->GetBelongedPartition() : 0xFFFF);
    out.I64(fileNode != nullptr ? fileNode->GetMetadataStartPosition() : 0);
    out.I32(node->IsCompressed());
    return 1;
}

int WriteSystemNode(IFilesystemNode* root, FrameWriter& out) {
    WriteFileNode(root, out);
    out.I32(root->GetSearcheType());
    const char* volume = root->GetVolumeName();
    const size_t length = volume != nullptr ? std::min<size_t>(std::strlen(volume), INT32_MAX) : 0;
    out.I32(static_cast<int32_t>(length));
    out.Bytes(volume, length);
    return 1;
}

// ---------------------------------------------------------------------------
// Nodes

RestoreFileNode::RestoreFileNode(const FileNodeRecord& r)
    : name_(r.name.c_str()),  // a name is text up to its first NUL
      size_(r.size),
      attribute_(r.attribute),
      creationTime_(r.creationTime),
      modificationTime_(r.modificationTime),
      accessTime_(r.accessTime),
      directory_(r.directory != 0 ? 1 : 0),
      deleted_(r.deleted != 0 ? 1 : 0) {
    SetNodeId(r.id);
    SetParentNodeID(r.parentId);
    if (r.hasRunList) {
        IDataRunList* list = r.runs.size() == 1
                                 ? static_cast<IDataRunList*>(new CRestoredShortRunList(r.resident))
                                 : new CRestoredRunList(r.resident);
        // Runs that continue each other are joined, overlapping ones kept
        // as lost (the list's own rules).
        for (const DataRun& run : r.runs)
            list->AddDataRun(&run);
        SetDataRunList(list);
    }
    ShowNode(1);
    SetBelongedPartition(r.partitionIndex);
    SetMetaDataSector(r.metadataSector);
    SetCompressed(r.compressed);
}

IFileNode* RestoreFileNode::Clone() {
    auto* copy = new RestoreFileNode();
    copy->SetNodeId(GetCurrentNodeID());
    copy->SetParentNodeID(GetParentNodeID());
    copy->SetStateWord(GetStateWord());
    copy->SetCompressed(IsCompressed());
    if (IDataRunList* list = GetDataRunList())
        copy->SetDataRunList(list->Clone());
    copy->name_ = name_;
    copy->size_ = size_;
    copy->attribute_ = attribute_;
    copy->creationTime_ = creationTime_;
    copy->modificationTime_ = modificationTime_;
    copy->accessTime_ = accessTime_;
    copy->directory_ = directory_;
    copy->deleted_ = deleted_;
    copy->validLength_ = validLength_;
    return copy;
}

namespace {

// Reads an HFS+ compressed file of a restored node through the catalog
// record its parent and name lead to, on the volume the load opened. Owns
// the HFS+ node it reads through.
class CRestoredHfsReader final : public IFileReader {
public:
    static IFileReader* Open(hfsplus::CHFSPlusVolume* volume, RestoreFileNode* node) {
        const char* name = node->GetFileName();
        if (volume == nullptr || name == nullptr || node->GetParentNodeID() < 0 ||
            node->GetParentNodeID() > UINT32_MAX)
            return nullptr;
        const hfsplus::BTKey key = hfsplus::MakeCatalogKey(
            static_cast<uint32_t>(node->GetParentNodeID()), hfsplus::Utf16Units(name));
        hfsplus::HFSPlusCatalogRecord record;
        if (!volume->LookupCatalog(key, &record))
            return nullptr;
        auto hfsNode =
            std::make_shared<hfsplus::CHFSPlusFileNode>(volume, key, record, node->IsDeleted());
        // The record must be the node's: same id, a compressed file.
        if (hfsNode->GetCurrentNodeID() != node->GetCurrentNodeID() || !hfsNode->IsCompressed())
            return nullptr;
        hfsNode->UpdateNodeInfo();
        return new CRestoredHfsReader(
            hfsNode, new hfsplus::CHFSPlusCompressFileReader(volume, hfsNode.get()));
    }
    ~CRestoredHfsReader() override { inner_->Release(); }

    unsigned ReadData(long long offset, char* buffer, unsigned length, int* error) override {
        return inner_->ReadData(offset, buffer, length, error);
    }
    IFileReader* Clone() override { return new CRestoredHfsReader(node_, inner_->Clone()); }
    long long GetDataSize() const override { return inner_->GetDataSize(); }
    int IsCompressFile() override { return 1; }
    void Release() override { delete this; }
    const CLostRanges* GetLostRanges() const override { return inner_->GetLostRanges(); }
    void ClearLostRanges() override { inner_->ClearLostRanges(); }

private:
    CRestoredHfsReader(std::shared_ptr<hfsplus::CHFSPlusFileNode> node, IFileReader* inner)
        : node_(std::move(node)), inner_(inner) {}

    std::shared_ptr<hfsplus::CHFSPlusFileNode> node_;
    IFileReader* inner_;
};

}  // namespace

IFileReader* RestoreFileNode::CreateCompressFileReader(void* fileSystemContext) {
    IFileNode* top = GetParent();
    if (top == nullptr)
        return nullptr;
    for (int steps = 0; top->GetParent() != nullptr && steps < kMaxClimb; ++steps)
        top = top->GetParent();
    switch (top->GetSearcheType()) {
        case SEARCHER_HFSPLUS:
            // The volume of the node's own partition when the load opened
            // one for it, else the one of the root's type.
            return CRestoredHfsReader::Open(
                fileSystemContext != nullptr
                    ? static_cast<hfsplus::CHFSPlusVolume*>(fileSystemContext)
                    : RestoredVolumeCache::Find(SEARCHER_HFSPLUS),
                this);
        case SEARCHER_NTFS:
            return CreateNTFSCompressFileReader();
        default:
            return nullptr;
    }
}

RestoreSystemNode::RestoreSystemNode(const SystemNodeRecord& record)
    : RestoreFileNode(record.node),
      searcherType_(record.searcherType),
      volumeName_(record.volumeName.c_str()) {}

RestoreSystemNode::~RestoreSystemNode() = default;

void RestoreSystemNode::SetCHFSPlusVolume(std::unique_ptr<hfsplus::CHFSPlusVolume> volume) {
    volume_ = std::move(volume);
}

std::unique_ptr<hfsplus::CHFSPlusVolume> RestoreSystemNode::TakeCHFSPlusVolume() {
    return std::move(volume_);
}

// ---------------------------------------------------------------------------
// HFS+ volumes of the last load

namespace {

std::mutex& CacheLock() {
    static std::mutex lock;
    return lock;
}

std::map<int, std::unique_ptr<hfsplus::CHFSPlusVolume>>& CacheMap() {
    static std::map<int, std::unique_ptr<hfsplus::CHFSPlusVolume>> map;
    return map;
}

// A partition's volume and the window it reads through (the window goes
// after the volume).
struct PartitionVolume {
    std::unique_ptr<IStorageDevice> window;
    std::unique_ptr<hfsplus::CHFSPlusVolume> volume;
};

std::vector<PartitionVolume>& PartitionVolumes() {
    static std::vector<PartitionVolume> volumes;
    return volumes;
}

}  // namespace

void RestoredVolumeCache::Clear() {
    std::lock_guard<std::mutex> hold(CacheLock());
    CacheMap().clear();
    for (PartitionVolume& p : PartitionVolumes())
        p.volume.reset();
    PartitionVolumes().clear();
}

hfsplus::CHFSPlusVolume* RestoredVolumeCache::OpenForPartition(
    IStorageDevice* device, const CSearchedPartitionInfo& partition) {
    if (device == nullptr || partition.startSector < 0 || partition.totalSectors < 0)
        return nullptr;
    const long long deviceSector = device->GetSectorSize() > 0 ? device->GetSectorSize() : 512;
    // The record counts its own sectors; the window counts the device's.
    long long startByte = 0, lengthBytes = 0;
    if (__builtin_mul_overflow(partition.startSector, static_cast<long long>(partition.sectorSize),
                               &startByte) ||
        __builtin_mul_overflow(partition.totalSectors, static_cast<long long>(partition.sectorSize),
                               &lengthBytes))
        return nullptr;
    const long long start = startByte / deviceSector;
    const long long total = device->GetTotalSectors();
    if (start >= total)
        return nullptr;
    long long count = lengthBytes / deviceSector;
    if (count <= 0 || count > total - start)
        count = total - start;
    PartitionVolume p;
    p.window.reset(CreatePartitionDevice(device, start, count));
    if (!p.window)
        return nullptr;
    p.volume = OpenRestoredHfsVolume(p.window.get());
    if (!p.volume)
        return nullptr;
    hfsplus::CHFSPlusVolume* volume = p.volume.get();
    std::lock_guard<std::mutex> hold(CacheLock());
    PartitionVolumes().push_back(std::move(p));
    return volume;
}

bool RestoredVolumeCache::Offer(int searcherType,
                                std::unique_ptr<hfsplus::CHFSPlusVolume>& volume) {
    if (!volume)
        return false;
    std::lock_guard<std::mutex> hold(CacheLock());
    auto [it, inserted] = CacheMap().try_emplace(searcherType);
    if (!inserted)
        return false;
    it->second = std::move(volume);
    return true;
}

hfsplus::CHFSPlusVolume* RestoredVolumeCache::Find(int searcherType) {
    std::lock_guard<std::mutex> hold(CacheLock());
    auto it = CacheMap().find(searcherType);
    return it != CacheMap().end() ? it->second.get() : nullptr;
}

std::unique_ptr<hfsplus::CHFSPlusVolume> OpenRestoredHfsVolume(IStorageDevice* device) {
    if (device == nullptr)
        return nullptr;
    hfsplus::VolumeOptions options;
    options.skipJournal = false;
    auto volume = std::make_unique<hfsplus::CHFSPlusVolume>(device, options);
    if (ResultFailed(volume->GetLastError()) || volume->Header() == nullptr)
        return nullptr;
    // Deleted files are read through the records the journal still holds.
    if (hfsplus::CHFSPlusJournal* journal = volume->Journal(); journal && journal->IsOpen())
        journal->GetDeleteRecord([] { return true; }, {});
    return volume;
}

}  // namespace SaveRestoreResult
