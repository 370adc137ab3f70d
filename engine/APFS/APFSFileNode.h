// One file or folder of an APFS container, merged from the inode, directory
// and extent records that the deep search met in possibly many copies of
// the file-system tree. The container that made it owns it; the tree builder
// only borrows it (Release does nothing).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "DataRun.h"
#include "FileNode.h"

namespace apfs {

// Nanoseconds since 1970 to 100 ns units since 1601, whole seconds; 0 (not
// recorded) stays 0.
long long ApfsTimeToFileTime(uint64_t ns);

class APFSFileNode : public CFileNode {
public:
    enum Flags : uint8_t {
        kDirectory = 0x01,
        kDeleted = 0x02,
        kReported = 0x04,
        kCovered = 0x08,
        kKindSettled = 0x10,
        kTwin = 0x20,
        kParentSet = 0x40,
    };

    APFSFileNode() = default;
    ~APFSFileNode() override;

    const char* GetFileName() override { return name_.c_str(); }
    long long GetFileSize() override { return static_cast<long long>(size_); }
    uint32_t GetAttribute() override { return IsDirectory() ? 16u : 32u; }
    long long GetCreationTime() override { return ApfsTimeToFileTime(creation_); }
    long long GetModificationTime() override { return ApfsTimeToFileTime(modification_); }
    long long GetLastAccessTime() override { return ApfsTimeToFileTime(access_); }
    int IsDirectory() override { return (flags_ & kDirectory) != 0; }
    int IsDeleted() override { return (flags_ & kDeleted) != 0; }
    void SetParentNodeID(long long id) override;
    // A copy with no links, not reported; the caller owns it and frees it
    // with Release().
    IFileNode* Clone() override;
    // The container frees its nodes; only a copy made by Clone() frees itself.
    void Release() override;
    void MarkDeleted() override { flags_ |= kDeleted; }
    void FilterFileNameByDot() override {}
    // The tree this node lands in.
    int GetTreeType() const { return 37; }

    // Merging.
    void SetKind(bool directory);
    void SetSize(uint64_t size);
    void SetName(std::string_view name);
    // Links child under parent in the merge tree (or under the folder that
    // parent is a twin of) and gives it the parent's node identifier.
    static void AttachToParent(APFSFileNode* parent, APFSFileNode* child);
    bool IsReadyToReport(bool final);
    // Adds an extent: start and length in sectors relative to the container
    // (a negative start is a hole), logical offset in bytes. Answers whether
    // the extents now cover the size.
    bool AddExtent(long long start, long long length, int sectorSize, uint64_t logical);

    // Fields the record handling reads and writes.
    const std::string& Name() const { return name_; }
    uint64_t Size() const { return size_; }
    uint64_t creation_ = 0, modification_ = 0, access_ = 0;
    uint64_t block_ = 0;
    uint64_t identifier_ = 0;
    uint64_t storedParent_ = UINT64_MAX;
    APFSFileNode* parentLink_ = nullptr;
    APFSFileNode* firstChild_ = nullptr;
    APFSFileNode* nextSibling_ = nullptr;
    APFSFileNode* twinTarget_ = nullptr;
    uint8_t flags_ = 0;

    void SetCurrentId(long long id) { SetNodeId(id); }
    const std::map<uint64_t, DataRun>& Extents() const { return extents_; }

private:
    uint64_t CoveredBytes(int sectorSize) const;
    void RebuildRuns(int sectorSize);

    std::string name_;
    uint64_t size_ = 0;
    std::map<uint64_t, DataRun> extents_;
    bool ownedByCaller_ = false;
};

}  // namespace apfs
