// The catalog, extents-overflow and attributes files are B-trees of
// fixed-size nodes. This reads them: node validation and record access,
// exact-key search and a depth-first walk of the leaves. Every offset,
// length and child pointer comes from disk and is checked against the node
// and the file before use; searches and walks are bounded in depth and
// never visit a node twice, so a damaged or cyclic tree cannot hang them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "HFSPlusStructs.h"

namespace hfsplus {

class CHFSPlusVolume;
class CHFSPlusRawfile;

// Deepest tree searched or walked; real HFS+ trees stay far below it.
constexpr unsigned kMaxTreeDepth = 16;

class CHFSPlusBTNode {
public:
    // A copy of `size` bytes; IsValid() says whether they form a node.
    CHFSPlusBTNode(const uint8_t* bytes, size_t size);
    // Takes the bytes over.
    explicit CHFSPlusBTNode(std::vector<uint8_t>&& bytes);

    // Size a multiple of 512 from 512 to 32 KiB; a known kind with its
    // height (header 0, leaf 1, index above 1); record 0 at 14; record
    // offsets rising and ending before the offset table, which itself must
    // fit behind the descriptor.
    static bool IsValidNode(const uint8_t* bytes, size_t size);

    bool IsValid() const { return valid_; }
    const BTNodeDescriptor& Descriptor() const { return descriptor_; }
    uint16_t GetRecordCount() const { return valid_ ? descriptor_.numRecords : 0; }
    // Record `index`: its first byte and length, or null (code 5 kept).
    const uint8_t* GetRecord(uint16_t index, uint16_t* size) const;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
    BTNodeDescriptor descriptor_;
    bool valid_ = false;
};

struct HFSPlusSearchResult {
    uint32_t node = 0;
    uint16_t index = 0;
    uint16_t found = 0;
};

// Called for every leaf record of a walk: its key and the data after the
// key. Returns false to stop the walk.
using LeafAction = std::function<bool(const BTKey& key, const uint8_t* data, size_t size)>;
// Asked before each node; false stops the walk (code 0xd).
using ContinueQuery = std::function<bool()>;

class CHFSPlusBTreeOptionBase;

class CHFSPlusBTree {
public:
    explicit CHFSPlusBTree(CHFSPlusBTreeOptionBase* option) : option_(option) {}
    // Exact-key search; on a match the record's data (after the key) is
    // copied into `record` when given.
    VKRESULT Search(const BTKey& key, HFSPlusSearchResult& result, std::vector<uint8_t>* record);
    // Depth first over every leaf record. A damaged node is skipped (and
    // counted in DamagedNodes()); the walk goes on with the rest and answers
    // the first damage code at its end, 0xd when stopped.
    VKRESULT Traverse(const LeafAction& action, const ContinueQuery& continued);
    unsigned DamagedNodes() const { return damaged_; }

private:
    CHFSPlusBTreeOptionBase* option_;
    unsigned damaged_ = 0;
};

// The per-tree policy: node reading through the special file's fork reader,
// the header record, and the tree's own key reader and order.
class CHFSPlusBTreeOptionBase {
public:
    CHFSPlusBTreeOptionBase(CHFSPlusVolume* volume, CHFSPlusRawfile* fork);
    virtual ~CHFSPlusBTreeOptionBase() = default;
    CHFSPlusBTreeOptionBase(const CHFSPlusBTreeOptionBase&) = delete;
    CHFSPlusBTreeOptionBase& operator=(const CHFSPlusBTreeOptionBase&) = delete;

    virtual int Compare(const BTKey& a, const BTKey& b) const = 0;
    // The key at the start of a record.
    virtual VKRESULT KeyRead(const uint8_t* record, size_t size, BTKey* key) const = 0;

    VKRESULT GetLastError() const { return lastError_; }
    const BTHeaderRec* GetHeaderRec() const { return haveHeader_ ? &header_ : nullptr; }
    uint32_t GetNodeSize() const { return header_.nodeSize; }
    // The root node's number: the header's, or, when the header says the
    // tree holds records but its root field is 0, the node found at the
    // tree's height (0 when that is not one node).
    uint32_t GetRoot();
    // Node n of the tree, or null (not in the file, short read, not a node).
    std::unique_ptr<CHFSPlusBTNode> CreateNode(uint32_t n);
    // Number of the child of index record `index`, or 0 with code 6.
    uint32_t GetChild(const CHFSPlusBTNode& node, uint16_t index);
    // The data after the key of a leaf record.
    bool DataRead(const CHFSPlusBTNode& node, uint16_t index, BTKey* key, const uint8_t** data,
                  size_t* size);

    VKRESULT Search(const BTKey& key, HFSPlusSearchResult& result, std::vector<uint8_t>* record) {
        return tree_.Search(key, result, record);
    }
    VKRESULT Traverse(const LeafAction& action, const ContinueQuery& continued) {
        return tree_.Traverse(action, continued);
    }
    CHFSPlusBTree& Tree() { return tree_; }

protected:
    // Reads the header node; subclasses call it from their constructors.
    void Open();
    uint32_t FindRoot();

    CHFSPlusVolume* volume_;
    CHFSPlusRawfile* fork_;
    VKRESULT lastError_ = 0;
    BTHeaderRec header_;
    bool haveHeader_ = false;
    uint64_t nodeCount_ = 0;
    bool rootSearched_ = false;
    uint32_t foundRoot_ = 0;
    CHFSPlusBTree tree_{this};
};

class CHFSPlusCatalog final : public CHFSPlusBTreeOptionBase {
public:
    CHFSPlusCatalog(CHFSPlusVolume* volume, CHFSPlusRawfile* fork)
        : CHFSPlusBTreeOptionBase(volume, fork) {
        Open();
    }
    int Compare(const BTKey& a, const BTKey& b) const override;
    VKRESULT KeyRead(const uint8_t* record, size_t size, BTKey* key) const override {
        return filpCatalogKey(record, size, key);
    }
    uint8_t KeyCompareType() const { return header_.keyCompareType; }
};

class CHFSPlusExtents final : public CHFSPlusBTreeOptionBase {
public:
    CHFSPlusExtents(CHFSPlusVolume* volume, CHFSPlusRawfile* fork)
        : CHFSPlusBTreeOptionBase(volume, fork) {
        Open();
    }
    int Compare(const BTKey& a, const BTKey& b) const override;
    VKRESULT KeyRead(const uint8_t* record, size_t size, BTKey* key) const override {
        return filpExtentKey(record, size, key);
    }
};

class CHFSPlusAttribute final : public CHFSPlusBTreeOptionBase {
public:
    CHFSPlusAttribute(CHFSPlusVolume* volume, CHFSPlusRawfile* fork)
        : CHFSPlusBTreeOptionBase(volume, fork) {
        Open();
    }
    int Compare(const BTKey& a, const BTKey& b) const override;
    VKRESULT KeyRead(const uint8_t* record, size_t size, BTKey* key) const override {
        return filpAttributeKey(record, size, key);
    }
};

}  // namespace hfsplus
