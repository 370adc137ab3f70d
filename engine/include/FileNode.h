// The file-node model: one node per file or folder a searcher finds. Nodes
// are what the searchers hand to the tree builder, what the interface shows
// and ticks, what the filter sorts and what recovery reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "EngineTypes.h"

class IDataRunList;
class IFileReader;
class IFileProperties;

// Every node, seen from outside the engine core.
class IFileNode {
public:
    virtual ~IFileNode() = default;
    virtual int IsNodeShow() const = 0;
    virtual void ShowNode(int show) = 0;
    virtual long long GetCurrentNodeID() const = 0;
    virtual long long GetParentNodeID() const = 0;
    virtual IFileNode* GetParent() const = 0;
    virtual IFileNode* GetFirstChild() = 0;
    virtual IFileNode* GetNextNode() = 0;
    // UTF-8; may be null.
    virtual const char* GetFileName() = 0;
    virtual long long GetFileSize() = 0;
    // Bit 0x10 marks a folder.
    virtual uint32_t GetAttribute() = 0;
    // Times in 100 ns units since 1601-01-01; 0 when not recorded.
    virtual long long GetCreationTime() = 0;
    virtual long long GetModificationTime() = 0;
    virtual long long GetLastAccessTime() = 0;
    virtual int IsDirectory() = 0;
    virtual int IsDeleted() = 0;
    virtual _tagCheckedStatus GetCheckedStatus() = 0;
    // 0 or 2; the node carries the mark through its own tree.
    virtual void SetCheck(_tagCheckedStatus status) = 0;
    virtual _tagSearcherType GetSearcheType() const = 0;
    virtual const char* GetVolumeName() const = 0;
    virtual int AddChild(IFileNode* child) = 0;
    virtual int AddNext(IFileNode* node) = 0;
    virtual void SetParentNodeID(long long id) = 0;
    virtual IFileNode* Clone() = 0;
    virtual void Release() = 0;
    virtual void MarkDeleted() = 0;
    virtual IFileReader* CreateCompressFileReader(void* fileSystemContext) = 0;
    virtual int IsCompressed() const = 0;
    virtual void SetMetaDataSector(long long sector) = 0;
    virtual void FilterFileNameByDot() = 0;
    virtual void UpdateFileSize(long long size) = 0;
    virtual void UpdateNodeInfo() = 0;
    virtual void SetFileName(const char* name) = 0;
};

// A node that can stand as the root of a file system's result tree.
class IFilesystemNode : public IFileNode {};

// Per-file-system metadata behind NTFS, FAT and signature-search nodes.
class IFileProperties {
public:
    virtual ~IFileProperties() = default;
    virtual int GetFileNameLength() = 0;
    virtual void SetFileName(const char* name) = 0;
    virtual const char* GetFileName() = 0;
    virtual long long GetFileSize() = 0;
    virtual uint32_t GetAttribute() = 0;
    virtual long long GetRawFileCreateTime() = 0;
    virtual long long GetCreationTime() = 0;
    virtual long long GetModificationTime() = 0;
    virtual long long GetLastAccessTime() = 0;
    virtual unsigned short GetState() = 0;
    virtual void SetState(unsigned short state) = 0;
    virtual IDataRunList* GetDataRunList() = 0;
    virtual IFileProperties* Clone() = 0;
};

// The base of every file system's node class.
//
// Links: a parent owns an intrusive list of children (newest first). The
// links only describe the tree; they do not own: whoever made the nodes
// (the tree builder) frees them. A node never sits in two lists and a parent
// chain never loops: the operations that link refuse what would break that.
//
// Tick marks: a folder is checked when all its shown children are, unchecked
// when none is, partly checked otherwise. Each node keeps the sum of its
// shown children's marks so that a change climbs only as far as it matters.
class CFileNode : public IFilesystemNode {
public:
    CFileNode() = default;
    ~CFileNode() override;

    int IsNodeShow() const override { return static_cast<int>((state_ >> 4) & 0xF); }
    void ShowNode(int show) override;
    long long GetCurrentNodeID() const override { return nodeId_; }
    long long GetParentNodeID() const override { return parentNodeId_; }
    CFileNode* GetParent() const override { return parent_; }
    CFileNode* GetFirstChild() override { return firstChild_; }
    CFileNode* GetNextNode() override { return next_; }
    const CFileNode* GetFirstChild() const { return firstChild_; }
    const CFileNode* GetNextNode() const { return next_; }
    _tagCheckedStatus GetCheckedStatus() override {
        return static_cast<_tagCheckedStatus>(state_ & 0xF);
    }
    void SetCheck(_tagCheckedStatus status) override;
    _tagSearcherType GetSearcheType() const override { return SEARCHER_NONE; }
    const char* GetVolumeName() const override { return nullptr; }
    // Refuses (0) a null or foreign node, this node, a node already linked
    // into a tree (it has a parent or a next sibling) and this node's
    // ancestors. The child goes in front of the list.
    int AddChild(IFileNode* child) override;
    // Inserts an unlinked node directly after this one; 0 when refused.
    int AddNext(IFileNode* node) override;
    void SetParentNodeID(long long id) override { parentNodeId_ = id; }
    void Release() override { delete this; }
    IFileReader* CreateCompressFileReader(void*) override { return nullptr; }
    int IsCompressed() const override { return static_cast<int>(compressed_); }
    void SetMetaDataSector(long long sector) override;
    void UpdateFileSize(long long) override {}
    void UpdateNodeInfo() override {}
    void SetFileName(const char*) override {}

    // The node's file properties, for the file systems that keep them
    // (FAT, NTFS, signature search); null otherwise. Owned by the node.
    virtual IFileProperties* GetFileProperties() const { return nullptr; }
    // Takes over the file properties of `other` where both nodes' file
    // system supports it (FAT); does nothing otherwise. Used by operator==.
    virtual void CopyFilePropertiesFrom(CFileNode& other) { (void)other; }

    void SetParent(CFileNode* parent);
    // Unlinks a child (1), or 0 when it is not a child of this node. The
    // child keeps its own children.
    int RemoveChild(CFileNode* child);
    // 1 when `b` is found climbing from the parent of `a`.
    static int IsLoopedToSelf(const IFileNode* a, const IFileNode* b);
    // Whether the tree builder may drop `other` as a copy of this node. A
    // FAT node may take over a directory's properties on the way (see .cpp),
    // so neither side is const.
    int operator==(CFileNode& other);
    // Copies every base field, links included.
    CFileNode& operator=(const CFileNode& other);
    CFileNode(const CFileNode&) = delete;

    // The name without its leading blanks and dots (a pointer into `name`);
    // "" when nothing else is left or the name is null.
    static const char* FilterFileNameByDot(const char* name);
    using IFileNode::FilterFileNameByDot;

    // A file system that keeps its runs packed elsewhere (NTFS, in the
    // properties) decodes them on the first call: a scan holds millions of
    // nodes whose runs are never read. Safe to call from several threads.
    IDataRunList* GetDataRunList() const {
        IDataRunList* runs = dataRuns_.load(std::memory_order_acquire);
        return runs != nullptr || runsOnDemand_ == 0 ? runs : DecodeRunsOnDemand();
    }
    // The node owns the list from now on; a previous list is released.
    void SetDataRunList(IDataRunList* list);
    void SetBelongedPartition(unsigned short index);
    unsigned short GetBelongedPartition() const {
        return static_cast<unsigned short>((state_ >> 8) & 0xFFFF);
    }
    long long GetMetadataStartPosition() const { return static_cast<long long>(state_) >> 24; }
    // Takes over `other`'s run list (other keeps none) and its size.
    void MergeNode(CFileNode* other);
    // AddChild for a caller that holds a CFileNode already: the same checks
    // and the same answer, without the class test.
    int AddChildNode(CFileNode* child);

    // What the scan already knows is missing. A file: part of its data could
    // not be located (its runs hold lost runs), its runs reach past the end
    // of the device, or where its data lies could not be verified (its
    // allocation chain was unreadable and the data was placed by a guess).
    // A folder: some of its entries could not be read, so what is listed
    // below it may be short; it is shown even when nothing was found in it.
    // Recovery of a damaged file ends with kErrRecoveryIncomplete.
    void MarkDamaged() { damaged_ = 1; }
    int IsDamaged() const { return static_cast<int>(damaged_); }
    // A file whose recorded size its volume cannot hold keeps the size it
    // recorded here while its size is cut to what the volume can hold; the
    // difference is reported as lost when it is recovered. 0: not cut.
    void SetClaimedSize(long long size) { claimedSize_ = size; }
    long long GetClaimedSize() const { return claimedSize_; }
    // How many bytes from the start of the file were ever written: the file
    // system defines every byte after them as zero, whatever its clusters
    // still hold (NTFS's initialized size, exFAT's valid data length).
    // Readers give zeros there, as the volume's own system does. -1: the
    // whole file is written (file systems without such a length).
    virtual long long GetValidDataLength() const { return -1; }

    // Tick and show propagation, used by SetCheck and ShowNode.
    void SetParentStatus(int delta);
    void SetChildStatus(_tagCheckedStatus status, int first);
    void ShowParent(int delta);

    uint64_t GetStateWord() const { return state_; }

    // Marks the tree builder that holds the node keeps on it (recorded,
    // shown, waiting for its folder...): a field of the node, so that the
    // builder answers them without a lookup. No meaning anywhere else; not
    // copied by operator=.
    uint32_t GetBuilderMarks() const { return builderMarks_; }
    void SetBuilderMarks(uint32_t marks) { builderMarks_ = marks; }
    unsigned GetShownChildrenCount() const { return shownChildren_; }
    unsigned GetCheckedSum() const { return checkedSum_; }

protected:
    void SetNodeId(long long id) { nodeId_ = id; }
    void SetCompressed(int compressed) { compressed_ = compressed ? 1u : 0u; }
    // From now on the run list is made by MakeDataRunList when it is first
    // asked for (until SetDataRunList or MergeNode sets one).
    void SetRunsOnDemand() { runsOnDemand_ = 1; }
    bool HasRunsOnDemand() const {
        return runsOnDemand_ != 0 && dataRuns_.load(std::memory_order_acquire) == nullptr;
    }
    // The run list a node with runs on demand makes; null when it has none.
    virtual IDataRunList* MakeDataRunList() const { return nullptr; }
    // Takes the written length of a copy whose runs MergeNode takes over.
    virtual void UpdateValidDataLength(long long length) { (void)length; }
    void SetStateWord(uint64_t word) { state_ = word; }

private:
    void SetCheckBits(int status) {
        state_ = (state_ & ~uint64_t{0xF}) | (static_cast<uint64_t>(status) & 0xF);
    }
    void SetShowBits(int show) {
        state_ = (state_ & ~uint64_t{0xF0}) | ((static_cast<uint64_t>(show) & 0xF) << 4);
    }
    IDataRunList* DecodeRunsOnDemand() const;
    // Adds to the checked sum and the shown count, then works out this
    // node's mark again and carries a change up the parent chain.
    void ApplyChildChange(long long sumDelta, long long countDelta);
    int StateFromSum() const;
    void Unlink(CFileNode* child);

    CFileNode* firstChild_ = nullptr;
    CFileNode* next_ = nullptr;
    CFileNode* prev_ = nullptr;
    unsigned shownChildren_ = 0;
    uint32_t builderMarks_ = 0;
    mutable std::atomic<IDataRunList*> dataRuns_{nullptr};
    long long nodeId_ = -1;
    long long parentNodeId_ = -1;
    // bits 0-3 tick mark, 4-7 show state, 8-23 found-partition index
    // (0xFFFF none), 24-63 metadata sector (signed).
    uint64_t state_ = 0xFFFFFFFFFFFFFF10ULL;
    CFileNode* parent_ = nullptr;
    unsigned checkedSum_ = 0;
    uint8_t compressed_ = 0;
    uint8_t runsOnDemand_ = 0;
    uint16_t damaged_ = 0;
    long long claimedSize_ = 0;
};

namespace vk {

// A node whose name, size, attribute and times are those of its file
// properties (FAT, NTFS): without properties it answers null, 0 and no
// attribute.
class PropertiesFileNode : public CFileNode {
public:
    const char* GetFileName() override {
        IFileProperties* properties = GetFileProperties();
        return properties ? properties->GetFileName() : nullptr;
    }
    long long GetFileSize() override {
        IFileProperties* properties = GetFileProperties();
        return properties ? properties->GetFileSize() : 0;
    }
    uint32_t GetAttribute() override {
        IFileProperties* properties = GetFileProperties();
        return properties ? properties->GetAttribute() : 0;
    }
    long long GetCreationTime() override {
        IFileProperties* properties = GetFileProperties();
        return properties ? properties->GetCreationTime() : 0;
    }
    long long GetModificationTime() override {
        IFileProperties* properties = GetFileProperties();
        return properties ? properties->GetModificationTime() : 0;
    }
    long long GetLastAccessTime() override {
        IFileProperties* properties = GetFileProperties();
        return properties ? properties->GetLastAccessTime() : 0;
    }
};

}  // namespace vk

// A folder that exists only in the result tree: tree roots and the folder of
// lost files.
class CFilesystemNode : public CFileNode {
public:
    CFilesystemNode(const char* name, const char* volumeName, _tagSearcherType type,
                    long long nodeId);

    const char* GetFileName() override { return name_.c_str(); }
    long long GetFileSize() override { return 0; }
    uint32_t GetAttribute() override { return 0; }
    long long GetCreationTime() override { return GetModificationTime(); }
    long long GetModificationTime() override { return 0; }
    long long GetLastAccessTime() override { return GetModificationTime(); }
    int IsDirectory() override { return 1; }
    int IsDeleted() override { return 0; }
    _tagSearcherType GetSearcheType() const override { return type_; }
    const char* GetVolumeName() const override { return volumeName_.c_str(); }
    IFileNode* Clone() override;
    void MarkDeleted() override {}
    void FilterFileNameByDot() override {}

private:
    _tagSearcherType type_;
    std::string name_;
    std::string volumeName_;
};
