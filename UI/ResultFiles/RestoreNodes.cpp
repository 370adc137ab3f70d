#include "RestoreNodes.h"

#include <map>
#include <mutex>

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

// Parent links of a restored tree are the builder's, so a walk up ends;
// the bound only guards against a tree that is still being linked.
constexpr int kMaxClimb = 1 << 20;

}  // namespace

// ---------------------------------------------------------------------------
// Records

FileNodeRecord RecordOfNode(IFileNode* node) {
    FileNodeRecord r;
    r.id = node->GetCurrentNodeID();
    r.parentId = node->GetParentNodeID();
    r.size = node->GetFileSize();
    r.attribute = static_cast<uint16_t>(node->GetAttribute());
    r.creationTime = node->GetCreationTime();
    r.modificationTime = node->GetModificationTime();
    r.accessTime = node->GetLastAccessTime();
    r.directory = node->IsDirectory();
    r.deleted = node->IsDeleted();
    const char* name = node->GetFileName();
    r.name = name != nullptr ? name : "";
    r.shown = node->IsNodeShow();
    r.compressed = node->IsCompressed();
    if (auto* fileNode = dynamic_cast<CFileNode*>(node)) {
        r.partitionIndex = fileNode->GetBelongedPartition();
        r.metadataSector = fileNode->GetMetadataStartPosition();
        if (IDataRunList* list = fileNode->GetDataRunList()) {
            r.hasRunList = true;
            r.resident = list->IsResident();
            for (const DataRun* run = list->GetFirst(); run != nullptr; run = list->GetNext())
                r.runs.push_back(*run);
        }
    }
    return r;
}

void WriteFileNodeRecord(FrameWriter& out, const FileNodeRecord& r) {
    out.I64(r.id);
    out.I64(r.parentId);
    out.I64(r.size);
    out.I16(r.attribute);
    out.I64(r.creationTime);
    out.I64(r.modificationTime);
    out.I64(r.accessTime);
    out.I32(r.directory);
    out.I32(r.deleted);
    // Counts are 32-bit: a list that could not be counted so is cut, which
    // leaves the record readable (no file system comes near it).
    const size_t runs = std::min<size_t>(r.runs.size(), INT32_MAX);
    out.I32(static_cast<int32_t>(runs));
    out.I32(r.hasRunList ? r.resident : 0);
    for (size_t i = 0; i < runs; ++i) {
        out.I64(r.runs[i].start);
        out.I64(r.runs[i].length);
    }
    const size_t name = std::min<size_t>(r.name.size(), INT32_MAX);
    out.I32(static_cast<int32_t>(name));
    out.Bytes(r.name.data(), name);
    out.I32(r.shown);
    out.I16(r.partitionIndex);
    out.I64(r.metadataSector);
    out.I32(r.compressed);
}

void WriteSystemNodeRecord(FrameWriter& out, const SystemNodeRecord& r) {
    WriteFileNodeRecord(out, r.node);
    out.I32(r.searcherType);
    const size_t n = std::min<size_t>(r.volumeName.size(), INT32_MAX);
    out.I32(static_cast<int32_t>(n));
    out.Bytes(r.volumeName.data(), n);
}

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
    FileNodeRecord r;
    int32_t runCount = 0;
    if (!in.I64(&r.id) || !in.I64(&r.parentId) || !in.I64(&r.size) || !in.U16(&r.attribute) ||
        !in.I64(&r.creationTime) || !in.I64(&r.modificationTime) || !in.I64(&r.accessTime) ||
        !in.I32(&r.directory) || !in.I32(&r.deleted) || !in.I32(&runCount) || !in.I32(&r.resident))
        return Short(in);
    if (runCount < 0)
        return RecordRead::kDamaged;
    // Sized by the frame, never by the count alone.
    if (static_cast<uint64_t>(runCount) * 16 > in.Remaining())
        return Short(in);
    r.hasRunList = runCount > 0;
    r.runs.resize(static_cast<size_t>(runCount));
    for (DataRun& run : r.runs) {
        int64_t start = 0, length = 0;
        if (!in.I64(&start) || !in.I64(&length))
            return Short(in);
        run = DataRun(start, length);
    }
    if (RecordRead text = ReadText(in, &r.name); text != RecordRead::kOk)
        return text;
    if (!in.I32(&r.shown) || !in.U16(&r.partitionIndex) || !in.I64(&r.metadataSector) ||
        !in.I32(&r.compressed))
        return Short(in);
    *record = std::move(r);
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

int WriteFileNode(IFileNode* node, FrameWriter& out) {
    WriteFileNodeRecord(out, RecordOfNode(node));
    return 1;
}

int WriteSystemNode(IFilesystemNode* root, FrameWriter& out) {
    SystemNodeRecord r;
    r.node = RecordOfNode(root);
    r.searcherType = root->GetSearcheType();
    const char* volume = root->GetVolumeName();
    r.volumeName = volume != nullptr ? volume : "";
    WriteSystemNodeRecord(out, r);
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
        auto* list = new CRestoredRunList(r.resident);
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
