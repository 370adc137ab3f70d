// The scan's indexes (path, type, creation and modification month) filed
// from a million generated nodes as the tree builder hands them over,
// against the tree builder's own time for those nodes; the bridge's memory
// per node on top of the nodes and the builder; and how many
// "NormalScranValue" posts ever wait on the main thread at once.
//
//   scan_indexes [nodes]     default 1000000
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "MainThread.h"
#include "SearchInterfaces.h"
#include "VKUIController.h"
#include "VKUIFilter.h"
#include "VKUIScan.h"
#include "platform/HeapPages.h"

namespace {

using bench::Seconds;

class BenchNode : public CFileNode {
public:
    BenchNode(long long id, long long parent, std::string name, bool dir, long long size,
              long long created, long long modified)
        : name_(std::move(name)), size_(size), created_(created), modified_(modified), dir_(dir) {
        SetNodeId(id);
        SetParentNodeID(parent);
    }
    const char* GetFileName() override { return name_.c_str(); }
    long long GetFileSize() override { return size_; }
    uint32_t GetAttribute() override { return dir_ ? 0x10 : 0; }
    long long GetCreationTime() override { return created_; }
    long long GetModificationTime() override { return modified_; }
    long long GetLastAccessTime() override { return 0; }
    int IsDirectory() override { return dir_ ? 1 : 0; }
    int IsDeleted() override { return 1; }
    _tagSearcherType GetSearcheType() const override { return SEARCHER_NTFS; }
    IFileNode* Clone() override {
        return new BenchNode(GetCurrentNodeID(), GetParentNodeID(), name_, dir_, size_, created_,
                             modified_);
    }
    void MarkDeleted() override {}
    void FilterFileNameByDot() override { name_ = CFileNode::FilterFileNameByDot(name_.c_str()); }

private:
    std::string name_;
    long long size_, created_, modified_;
    bool dir_;
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

// Keeps what the builder shows, to hand it to the bridge afterwards.
class Capture : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int lost) override {
        batches.push_back({std::vector<IFileNode*>(nodes, nodes + count), lost});
    }
    void ShowFilesystemNode(IFilesystemNode* root) override { roots.push_back(root); }
    std::vector<std::pair<std::vector<IFileNode*>, int>> batches;
    std::vector<IFilesystemNode*> roots;
};

long MaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    const long long total = argc > 1 ? std::atoll(argv[1]) : 1000000;
    if (total < 100) {
        std::fprintf(stderr, "usage: scan_indexes [nodes >= 100]\n");
        return 2;
    }
    constexpr long long kRoot = 5;
    const char* exts[] = {"jpg", "pdf", "mp3", "mov", "zip", "eml", "docx", "weird", "PNG", ""};
    std::mt19937_64 rng(12345);
    // 2000-01-01 to 2024 in engine ticks.
    const long long from = (946684800LL + 11644473600LL) * 10000000LL;
    const long long span = 24LL * 365 * 86400 * 10000000LL;
    const long long folders = total / 10;
    std::vector<IFileNode*> nodes;
    nodes.reserve(static_cast<size_t>(total));
    for (long long i = 0; i < folders; ++i) {
        const long long parent = i == 0 ? kRoot : 100 + (i - 1) / 8;
        nodes.push_back(
            new BenchNode(100 + i, parent, "folder" + std::to_string(i), true, 0, 0, 0));
    }
    for (long long i = folders; i < total; ++i) {
        const long long parent = 100 + static_cast<long long>(rng() % folders);
        const std::string ext = exts[rng() % 10];
        const long long created = rng() % 10 == 0 ? 0 : from + static_cast<long long>(rng() % span);
        const long long modified = from + static_cast<long long>(rng() % span);
        nodes.push_back(new BenchNode(
            100 + i, parent, "file" + std::to_string(i) + (ext.empty() ? "" : "." + ext), false,
            1 + static_cast<long long>(rng() % 100000), created, modified));
    }
    std::shuffle(nodes.begin(), nodes.end(), rng);

    ShowAll filter;
    Capture capture;
    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    hooks.userHome = [] { return std::string("/home/bench"); };
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    builder->Initialize("bench", &capture, &filter);
    builder->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    for (IFileNode* n : nodes) {
        if (!builder->AddNode(n, SEARCHER_NTFS))
            n->Release();
    }
    builder->FlashBuild(SEARCHER_NTFS);
    const double builderSeconds = Seconds(start);

    // The bridge files what the builder showed, as its receiver would have,
    // with a main loop that never runs: the posts pile up unless held back.
    auto poster = std::make_shared<velmora::bridge::ManualPoster>();
    velmora::bridge::InstallPoster(poster);
    VKUIFilter::instance().ResetFilter(127);
    VKUIScan& scan = VKUIScan::instance();
    size_t maxQueued = 0;
    long long shown = 0;
    const long rssBefore = MaxRssKiB();
    const auto fileStart = std::chrono::steady_clock::now();
    for (IFilesystemNode* root : capture.roots)
        scan.ShowFilesystemNode(root);
    for (auto& [batch, lost] : capture.batches) {
        scan.ShowNodes(batch.data(), static_cast<unsigned>(batch.size()), lost);
        shown += static_cast<long long>(batch.size());
        maxQueued = std::max(maxQueued, poster->PendingCount());
    }
    VKNotifyUIUpdateData(1);
    maxQueued = std::max(maxQueued, poster->PendingCount());
    const double fileSeconds = Seconds(fileStart);
    const long rssAfter = MaxRssKiB();

    std::printf("\nnodes %lld, shown %lld in %zu batches\n", total, shown, capture.batches.size());
    std::printf("tree builder %.2f s; filing into the indexes and trees %.2f s: ratio %.2f\n",
                builderSeconds, fileSeconds, fileSeconds / builderSeconds);
    std::printf("bridge memory on top: %ld KiB = %.0f bytes/node\n", rssAfter - rssBefore,
                static_cast<double>(rssAfter - rssBefore) * 1024.0 / static_cast<double>(shown));
    std::printf("most \"NormalScranValue\" posts waiting at once: %zu\n", maxQueued);
    std::fflush(stdout);
    // The nodes belong to the builder; the process ends here.
    std::_Exit(maxQueued <= 1 ? 0 : 1);
}
