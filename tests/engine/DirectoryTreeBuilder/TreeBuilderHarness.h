// What the tree-builder tests share: nodes that count themselves, a receiver
// that keeps what it is shown, a filter, and a clock the test moves.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DirectoryTreeBuilder.h"
#include "IRecoveryFilter.h"
#include "support/TestNode.h"

// A node that keeps a count of live nodes and can be renamed.
class TNode : public TestNode {
public:
    TNode(long long id, long long parentId, std::string name, bool dir = false,
          _tagSearcherType type = SEARCHER_NTFS)
        : TestNode(id, parentId, std::move(name), dir, type) {
        ++live;
    }
    ~TNode() override { --live; }
    const char* GetFileName() override {
        return renamed.empty() ? TestNode::GetFileName() : renamed.c_str();
    }
    void SetFileName(const char* name) override { renamed = name; }

    std::string renamed;
    static inline int live = 0;
};

inline TNode* File(long long id, long long parent, const char* name, long long size = 10,
                   bool deleted = true, _tagSearcherType type = SEARCHER_NTFS) {
    auto* n = new TNode(id, parent, name, false, type);
    n->size = size;
    n->deleted = deleted;
    return n;
}

inline TNode* Folder(long long id, long long parent, const char* name, bool deleted = false,
                     _tagSearcherType type = SEARCHER_NTFS) {
    auto* n = new TNode(id, parent, name, true, type);
    n->deleted = deleted;
    return n;
}

class FakeFilter : public IRecoveryFilter {
public:
    int ShowNormalFiles() const override { return showNormal; }
    void SetScanType(_SCAN_TYPE) override {}
    int IsFileNodeValid(IFileNode* node) override {
        const char* name = node->GetFileName();
        return !(name && reject == name);
    }
    void SetFilterTypes(unsigned) override {}
    unsigned GetNodeFileType(IFileNode*) override { return 64; }
    void Release() override {}

    int showNormal = 1;
    std::string reject = "rejected.bin";
};

class FakeReceiver : public IDrirectoryTree {
public:
    struct Batch {
        std::vector<IFileNode*> nodes;
        int lost;
    };
    void ShowNodes(IFileNode** nodes, unsigned count, int lost) override {
        batches.push_back({std::vector<IFileNode*>(nodes, nodes + count), lost});
    }
    void ShowFilesystemNode(IFilesystemNode* root) override { roots.push_back(root); }
    std::mutex* GetTreeLock() override { return treeLock; }

    // Every node shown so far, in order.
    std::vector<IFileNode*> Shown() const {
        std::vector<IFileNode*> all;
        for (const Batch& b : batches)
            all.insert(all.end(), b.nodes.begin(), b.nodes.end());
        return all;
    }
    bool WasShown(const IFileNode* n) const {
        for (IFileNode* s : Shown()) {
            if (s == n)
                return true;
        }
        return false;
    }
    IFileNode* ShownNamed(const std::string& name) const {
        for (IFileNode* s : Shown()) {
            if (s->GetFileName() && name == s->GetFileName())
                return s;
        }
        return nullptr;
    }

    std::vector<IFilesystemNode*> roots;
    std::vector<Batch> batches;
    // The lock the builder is to link under; none unless a test sets one.
    std::mutex* treeLock = nullptr;
};

// A builder on a fake clock and home; `clock` is moved by the test.
struct BuilderFixture {
    explicit BuilderFixture(bool replay = false, std::string home = "/home/alice")
        : home(std::move(home)) {
        TreeBuilderHooks hooks;
        hooks.now = [this] { return clock; };
        hooks.sleep = [this](unsigned s) { slept += s; };
        hooks.userHome = [this] { return this->home; };
        builder = CreateTreeBuilder(replay, hooks);
        builder->Initialize("disk1", &receiver, &filter);
    }
    ~BuilderFixture() {
        if (builder)
            builder->Release();
    }
    void ReleaseBuilder() {
        builder->Release();
        builder = nullptr;
    }

    double clock = 100;
    unsigned slept = 0;
    std::string home;
    FakeFilter filter;
    FakeReceiver receiver;
    IDirecotryTreeBuilder* builder = nullptr;
};

// `lead` zero bytes, then the UTF-16LE text and its terminator: the layout
// of a recycle bin's index file (the header is left zero).
inline std::vector<uint8_t> Utf16Record(const std::u16string& text, size_t lead) {
    std::vector<uint8_t> out(lead, 0);
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}
