// The builder and the readers of the trees it hands over: the interface
// walks a shown folder's children (and ticks nodes) on its own threads under
// the receiver's tree lock, so every change the builder makes to a node it
// has handed over happens under that lock, and the lock is free whenever the
// builder calls the receiver.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "TreeBuilderHarness.h"
#include "support/LockProbe.h"

namespace {

constexpr long long kRoot = 5;

using velmora::test::HeldElsewhere;

// A folder that notes, each time the builder asks whether it is deleted
// (which it does just before it links a node below it), whether the tree
// lock was held.
class ProbeFolder : public TNode {
public:
    ProbeFolder(long long id, long long parent, std::mutex& lock)
        : TNode(id, parent, "probed", true), lock_(lock) {}
    int IsDeleted() override {
        held.push_back(HeldElsewhere(lock_));
        return TNode::IsDeleted();
    }
    std::vector<bool> held;

private:
    std::mutex& lock_;
};

class LockCheckingReceiver : public FakeReceiver {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int lost) override {
        freeWhenShown.push_back(!HeldElsewhere(*treeLock));
        FakeReceiver::ShowNodes(nodes, count, lost);
    }
    void ShowFilesystemNode(IFilesystemNode* root) override {
        freeWhenShown.push_back(!HeldElsewhere(*treeLock));
        FakeReceiver::ShowFilesystemNode(root);
    }
    std::vector<bool> freeWhenShown;
};

// Hands the root to the reader thread.
class RootReceiver : public FakeReceiver {
public:
    void ShowFilesystemNode(IFilesystemNode* node) override { root = node; }
    std::atomic<IFileNode*> root{nullptr};
};

IDirecotryTreeBuilder* MakeBuilder(FakeReceiver& receiver, FakeFilter& filter, double& clock) {
    TreeBuilderHooks hooks;
    hooks.now = [&clock] { return clock; };
    hooks.sleep = [](unsigned) {};
    hooks.userHome = [] { return std::string("/home/alice"); };
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    builder->Initialize("disk1", &receiver, &filter);
    builder->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    return builder;
}

}  // namespace

// Files joining a folder that is already shown, a copy that hands its runs
// to a shown file, and the final build's lost files: each change to the
// shown tree is made holding the lock, and the receiver is always called
// with the lock free (it takes the lock itself).
TEST(TreeBuilderLock, ShownNodesChangeOnlyUnderTheReceiversLock) {
    std::mutex lock;
    LockCheckingReceiver receiver;
    receiver.treeLock = &lock;
    FakeFilter filter;
    double clock = 100;
    IDirecotryTreeBuilder* builder = MakeBuilder(receiver, filter, clock);
    auto* folder = new ProbeFolder(10, kRoot, lock);
    ASSERT_EQ(builder->AddNode(folder, SEARCHER_NTFS), 1);
    ASSERT_EQ(builder->AddNode(File(11, 10, "a.bin"), SEARCHER_NTFS), 1);
    clock += 10;
    ASSERT_EQ(builder->AddNode(File(12, 10, "b.bin"), SEARCHER_NTFS), 1);
    ASSERT_TRUE(receiver.WasShown(folder)) << "the folder is handed over first";
    const size_t before = folder->held.size();
    clock += 10;
    ASSERT_EQ(builder->AddNode(File(13, 10, "c.bin"), SEARCHER_NTFS), 1);
    ASSERT_EQ(builder->AddNode(File(99, 77, "lost.bin"), SEARCHER_NTFS), 1);
    builder->FlashBuild(SEARCHER_NTFS);
    ASSERT_NE(receiver.ShownNamed("c.bin"), nullptr);
    ASSERT_NE(receiver.ShownNamed("lost.bin"), nullptr);
    ASSERT_GT(folder->held.size(), before);
    for (size_t i = before; i < folder->held.size(); ++i)
        EXPECT_TRUE(folder->held[i]) << "probe " << i << ": linked without the tree lock";
    ASSERT_FALSE(receiver.freeWhenShown.empty());
    for (bool free : receiver.freeWhenShown)
        EXPECT_TRUE(free) << "the receiver was called under the tree lock";
    builder->Release();
}

// A reader walks and ticks the shown trees under the lock while the builder
// grows them on its thread and ends with its final build. Under
// ThreadSanitizer any change made to a shown node without the lock is a
// reported race; everywhere, the walk meets a consistent tree.
TEST(TreeBuilderLock, ReaderWalksAndTicksWhileTheBuilderLinks) {
    std::mutex lock;
    RootReceiver receiver;
    receiver.treeLock = &lock;
    FakeFilter filter;
    double clock = 100;
    IDirecotryTreeBuilder* builder = MakeBuilder(receiver, filter, clock);
    std::atomic<IFileNode*>& root = receiver.root;
    std::atomic<bool> done{false};
    constexpr int kFolders = 8, kFiles = 600;
    std::thread scan([&] {
        // Folders arrive after their first files, so shown folders keep
        // gaining children and waiting nodes are linked late.
        for (int f = 0; f < kFolders; ++f) {
            for (int i = 0; i < kFiles; ++i) {
                const long long id = 1000 + f * kFiles + i;
                builder->AddNode(File(id, 100 + f, "f.bin"), SEARCHER_NTFS);
                if (i == kFiles / 2)
                    builder->AddNode(Folder(100 + f, kRoot, "d"), SEARCHER_NTFS);
            }
        }
        builder->FlashBuild(SEARCHER_NTFS);
        done = true;
    });
    bool consistent = true;
    // The nodes below the root, each child checked against its parent.
    auto walk = [&] {
        size_t seen = 0;
        std::vector<IFileNode*> stack{root.load()};
        while (!stack.empty() && consistent) {
            IFileNode* n = stack.back();
            stack.pop_back();
            ++seen;
            for (IFileNode* c = n->GetFirstChild(); c && consistent; c = c->GetNextNode()) {
                consistent = c->GetParent() == n;
                stack.push_back(c);
            }
        }
        return seen;
    };
    for (size_t walks = 0; !done && consistent;) {
        std::lock_guard<std::mutex> hold(lock);
        if (root == nullptr)
            continue;
        walk();
        root.load()->SetCheck(++walks % 2 ? CHECK_CHECKED : CHECK_UNCHECKED);
    }
    scan.join();
    ASSERT_NE(root.load(), nullptr);
    EXPECT_EQ(walk(), 1u + kFolders * (1u + kFiles));
    EXPECT_TRUE(consistent) << "a child whose parent is another node";
    builder->Release();
}
