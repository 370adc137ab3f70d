// One APFS container found on the surface: follows its superblock copies to
// its object maps, the volumes they list and every file-system tree node
// those maps reach, turns the records of those nodes (and of lost nodes the
// deep search finds later) into file nodes, and owns them.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "APFSFileNode.h"

namespace apfs {

class APFSContainer;

// What a container needs from the deep search.
class APFSDelegate {
public:
    virtual ~APFSDelegate() = default;
    virtual bool Continued() = 0;
    // Hands a node to the tree builder; each node at most once.
    virtual int AddNode(APFSFileNode* node) = 0;
    // Reads `bytes` at 4096-byte block `block` of the container (of the
    // device when container is null); non-zero on success.
    virtual int ReadBlocks(APFSContainer* container, unsigned long long block, int bytes,
                           void* buffer) = 0;
};

// The object-header test: identifier set, type and subtype in range.
bool PassesObjectHeader(const uint8_t* block, size_t size);

class APFSContainer {
public:
    APFSContainer(APFSDelegate* delegate, int ordinal, unsigned long long startSector);
    ~APFSContainer();
    APFSContainer(const APFSContainer&) = delete;
    APFSContainer& operator=(const APFSContainer&) = delete;

    void SetSectorSize(int n) {
        if (n >= 512)
            sectorSize_ = n;
    }
    // 0 when walked; -1 when the superblock cannot be read, -2 when refused.
    int WalkFromContainerSuperblock();
    // 0 when walked; -1 when the block cannot be read, -2 when refused.
    int WalkFromVolumeSuperblock(uint64_t block);
    // A block the deep search found that no superblock step took: `block`
    // in 4096-byte blocks of the device, `sector` its device sector.
    void AnalyzeLostNode(unsigned long long sector, uint64_t block, const uint8_t* data);
    // Reports the pending nodes whose folder is known by now, or all of them
    // when block is -1 (the final pass).
    void FlushPending(long long block);

    // The records of one file-system tree node; `block` is where the node
    // was seen, in blocks of the container.
    void HandleFsTreeNode(const uint8_t* node, uint64_t block);

    unsigned long long StartSector() const { return startSector_; }
    unsigned long long SizeInSectors() const { return sizeInSectors_; }
    void SetSizeInSectors(unsigned long long n) { sizeInSectors_ = n; }
    uint64_t BlockCount() const { return blockCount_; }
    int Ordinal() const { return ordinal_; }
    const std::string& Name() const { return name_; }
    const uint8_t* Uuid() const { return uuid_; }
    bool Walked() const { return walked_; }
    void SetWalked() { walked_ = true; }
    // The names of the volume superblocks the walk read, in object-map order.
    const std::vector<std::string>& VolumeNames() const { return volumeNames_; }
    // Every node made, for tests and the owner.
    std::vector<APFSFileNode*> Nodes() const;
    size_t PendingCount() const { return pending_.size(); }

private:
    enum class Kind { Inode, DirRecord, Extent };
    struct Record {
        Kind kind;
        uint64_t identifier;
        uint64_t parent;  // UINT64_MAX for extents
        std::string name;
        bool directory = false;
        uint64_t createTime = 0;  // create time (inode) or date added (dir record)
    };

    bool ReadBlock(uint64_t block);
    // Blocks the container may hold: its block count, or for a container
    // made from a volume superblock what its size in sectors allows.
    uint64_t BlockLimit() const;
    void TakeVolumeName();
    void RunNodeQueue(uint64_t first);
    void HandleObjectMapNode(const uint8_t* node, std::vector<uint64_t>& queue);

    void HandleInode(const uint8_t* value, size_t valueLength, uint64_t block);
    void HandleDirRecord(const uint8_t* key, size_t keyLength, const uint8_t* value,
                         size_t valueLength, uint64_t block);
    void HandleExtent(const uint8_t* key, const uint8_t* value, uint64_t block);

    APFSFileNode* FindOrCreate(const Record& record, uint64_t block);
    APFSFileNode* NearestDirectory(uint64_t identifier, uint64_t block);
    void AttachNearest(APFSFileNode* node, uint64_t parent, uint64_t block);
    void Report(APFSFileNode* node);
    bool Plausible(uint64_t ns) const;
    uint64_t Tag(uint64_t id) const { return (static_cast<uint64_t>(ordinal_) << 32) | id; }

    APFSDelegate* delegate_;
    int blockSize_ = 4096;
    int sectorSize_ = 512;
    int ordinal_;
    std::unique_ptr<uint8_t[]> buffer_;
    unsigned long long startSector_;
    uint64_t startBlock_ = 0;
    uint64_t blockCount_ = 0;
    unsigned long long sizeInSectors_ = 0;
    std::string name_;
    bool walked_ = false;
    uint8_t uuid_[16] = {};
    std::multimap<uint64_t, APFSFileNode*> files_;
    std::multimap<uint64_t, APFSFileNode*> directories_;
    std::set<APFSFileNode*> pending_;
    std::map<uint64_t, uint32_t> visited_;
    std::vector<std::string> volumeNames_;
    // Latest time a record may carry and still count as plausible.
    uint64_t timeCeiling_;
};

}  // namespace apfs
