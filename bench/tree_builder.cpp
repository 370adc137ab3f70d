// Feeds the directory-tree builder a large synthetic volume the way a deep
// scan does (nodes in scan order, files before their folders, deleted and
// orphaned nodes, copies) and prints nodes per second and the builder's
// peak memory per node on top of the nodes themselves.
//
//   tree_builder [nodes] [--digest]     default 1000000
//
// With --digest it also prints a fingerprint of the batches and the finished
// tree (bench::TreeDigest), to show that a change to the builder left its
// results as they were.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "SearchInterfaces.h"
#include "platform/HeapPages.h"

namespace {

using bench::Seconds;

class BenchNode : public CFileNode {
public:
    BenchNode(long long id, long long parent, std::string name, bool dir, bool deleted,
              long long size)
        : name_(std::move(name)), size_(size), dir_(dir), deleted_(deleted) {
        SetNodeId(id);
        SetParentNodeID(parent);
    }
    const char* GetFileName() override { return name_.c_str(); }
    long long GetFileSize() override { return size_; }
    uint32_t GetAttribute() override { return dir_ ? 0x10 : 0; }
    long long GetCreationTime() override { return 0; }
    long long GetModificationTime() override { return 0; }
    long long GetLastAccessTime() override { return 0; }
    int IsDirectory() override { return dir_ ? 1 : 0; }
    int IsDeleted() override { return deleted_ ? 1 : 0; }
    _tagSearcherType GetSearcheType() const override { return SEARCHER_NTFS; }
    IFileNode* Clone() override {
        return new BenchNode(GetCurrentNodeID(), GetParentNodeID(), name_, dir_, deleted_, size_);
    }
    void MarkDeleted() override { deleted_ = true; }
    void FilterFileNameByDot() override { name_ = CFileNode::FilterFileNameByDot(name_.c_str()); }

private:
    std::string name_;
    long long size_;
    bool dir_;
    bool deleted_;
};

class ShowAll : public IRecoveryFilter {
public:
    int ShowNormalFiles() const override { return 1; }
    void SetScanType(_SCAN_TYPE) override {}
    int IsFileNodeValid(IFileNode*) override { return 1; }
    void SetFilterTypes(unsigned) override {}
    unsigned GetNodeFileType(IFileNode*) override { return 64; }
    void Release() override {}
};

class CountingReceiver : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int lost) override {
        if (digest)
            digest->AddBatch(nodes, count, lost, false);
        shown += count;
        ++batches;
        if (lost)
            lostBatch = count;
    }
    void ShowFilesystemNode(IFilesystemNode* node) override {
        ++roots;
        root = node;
    }
    long long shown = 0, batches = 0, lostBatch = 0, roots = 0;
    IFilesystemNode* root = nullptr;
    bench::TreeDigest* digest = nullptr;
};

long MaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    long long total = 1000000;
    bool withDigest = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--digest")
            withDigest = true;
        else
            total = std::atoll(argv[i]);
    }
    if (total < 100) {
        std::fprintf(stderr, "usage: tree_builder [nodes >= 100] [--digest]\n");
        return 2;
    }
    constexpr long long kRoot = 5;
    std::mt19937_64 rng(12345);
    auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };

    // One folder in ten. Folders fan out eight wide from the root, so most
    // of the tree is five to seven levels deep; four folders in a hundred
    // form chains forty levels deep instead. One in five hundred has lost
    // its parent, and two files in a hundred.
    const long long folders = total / 10;
    const long long files = total - folders;
    const long long firstFolderId = 100;
    const long long firstFileId = firstFolderId + folders;
    const long long missing = firstFileId + files + 1000000;  // ids that never arrive
    std::vector<IFileNode*> nodes;
    nodes.reserve(static_cast<size_t>(total + total / 100));
    for (long long i = 0; i < folders; ++i) {
        long long parent = i == 0 ? kRoot : firstFolderId + (i - 1) / 8;
        if (i > 1000 && i % 1000 < 40)
            parent = firstFolderId + i - 1;  // the deep chains
        if (chance(0.002))
            parent = missing + static_cast<long long>(rng() % 1000);  // orphaned
        nodes.push_back(new BenchNode(firstFolderId + i, parent, "folder" + std::to_string(i % 997),
                                      true, chance(0.10), 0));
    }
    for (long long i = 0; i < files; ++i) {
        long long parent = firstFolderId +
                           static_cast<long long>(rng() % static_cast<unsigned long long>(folders));
        if (chance(0.02))
            parent = missing + static_cast<long long>(rng() % 5000);
        const long long size = chance(0.01) ? 0 : 1 + static_cast<long long>(rng() % 1000000);
        auto* file =
            new BenchNode(firstFileId + i, parent, "IMG_" + std::to_string(i % 9999) + ".jpg",
                          false, chance(0.10), size);
        nodes.push_back(file);
        // A deleted record seen again: the copy is refused.
        if (chance(0.01)) {
            nodes.push_back(new BenchNode(firstFileId + i, parent,
                                          "IMG_" + std::to_string(i % 9999) + ".jpg", false,
                                          file->IsDeleted(), size));
        }
    }
    // Scan order is disk order, not tree order: mostly shuffled, so many
    // files arrive before their folders.
    std::shuffle(nodes.begin(), nodes.end(), rng);
    const long fed = static_cast<long>(nodes.size());
    const long rssBefore = MaxRssKiB();

    ShowAll filter;
    CountingReceiver receiver;
    bench::TreeDigest digest;
    if (withDigest)
        receiver.digest = &digest;
    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    hooks.userHome = [] { return std::string("/home/bench"); };
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    builder->Initialize("bench", &receiver, &filter);
    builder->AddSearcherInfo(SEARCHER_NTFS, kRoot);

    // The builder's own messages go to standard output; keep them apart
    // from the figures.
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    long refused = 0;
    for (IFileNode* n : nodes) {
        if (!builder->AddNode(n, SEARCHER_NTFS)) {
            n->Release();
            ++refused;
        }
    }
    const double addSeconds = Seconds(start);
    builder->FlashBuild(SEARCHER_NTFS);
    const double buildSeconds = Seconds(start);
    const long rssPeak = MaxRssKiB();
    if (withDigest && receiver.root)
        digest.AddTree(receiver.root, false);
    const auto releaseStart = std::chrono::steady_clock::now();
    builder->Release();
    const double releaseSeconds = Seconds(releaseStart);

    const double perNode =
        static_cast<double>(rssPeak - rssBefore) * 1024.0 / static_cast<double>(fed);
    std::printf(
        "\nnodes fed %ld (refused %ld), shown %lld in %lld batches, lost-files batch %lld\n", fed,
        refused, receiver.shown, receiver.batches, receiver.lostBatch);
    std::printf("AddNode %.2f s, with FlashBuild %.2f s: %.0f nodes/s; Release %.2f s\n",
                addSeconds, buildSeconds, static_cast<double>(fed) / buildSeconds, releaseSeconds);
    std::printf(
        "node objects before feeding: %ld KiB max RSS; builder peak on top: %ld KiB = %.0f "
        "bytes/node\n",
        rssBefore, rssPeak - rssBefore, perNode);
    if (withDigest)
        std::printf("digest %016llx\n", static_cast<unsigned long long>(digest.Value()));
    return 0;
}
