// The browser's result trees over a million generated nodes (modified and
// created over ten years): a name search (the search thread, its trees
// rebuilt) against a plain loop comparing the same names, listing a folder
// of 100,000 files, and the counts below the roots of the date and type
// trees.
//
// The volume goes the program's own road: the tree builder links the nodes,
// the scan operation files what it shows (VKUIScan::ShowNodes), and the
// trees read the scan's indexes through the source the program installs
// (the file-type index over the program's category table, the date index).
// "scripted" runs the same figures over the tests' scripted source instead.
//
//   result_trees [nodes] [scripted]     default 1000000
#include <string.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "MainThread.h"
#include "ScanSources.h"
#include "SearchInterfaces.h"
#include "TreeDoubles.h"
#include "VKTimeMgr.h"
#include "VKTypeMgr.h"
#include "VKUIFilter.h"
#include "VKUIPublic.h"
#include "VKUIScan.h"
#include "VKUITreeData.h"
#include "platform/HeapPages.h"

using velmora::bridgetest::FakeTreeSource;
using velmora::bridgetest::FileTimeOf;

namespace {

constexpr long kBigFolder = 100000;
constexpr long kPerFolder = 900;

double Ms(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from)
        .count();
}

// The i-th file of the volume: its name and modification time.
std::string FileName(long i) {
    char name[64];
    std::snprintf(name, sizeof name, "file%07ld.%s", i, i % 3 == 0 ? "jpg" : "txt");
    return name;
}

long long FileTime(long i) {
    return FileTimeOf(2010 + static_cast<int>(i % 10), 1 + static_cast<int>((i / 10) % 12));
}

// Created up to a year before the modification.
long long CreatedTime(long i) {
    return FileTimeOf(2009 + static_cast<int>(i % 10), 1 + static_cast<int>((i / 7) % 12));
}

// A found node as a file system's searcher hands it to the tree builder.
class BenchNode final : public CFileNode {
public:
    BenchNode(long long id, long long parent, std::string name, bool dir, long long modified,
              long long created)
        : name_(std::move(name)), modified_(modified), created_(created), dir_(dir) {
        SetNodeId(id);
        SetParentNodeID(parent);
    }
    const char* GetFileName() override { return name_.c_str(); }
    long long GetFileSize() override { return dir_ ? 0 : 4096; }
    uint32_t GetAttribute() override { return dir_ ? 0x10 : 0; }
    long long GetCreationTime() override { return created_; }
    long long GetModificationTime() override { return modified_; }
    long long GetLastAccessTime() override { return 0; }
    int IsDirectory() override { return dir_ ? 1 : 0; }
    int IsDeleted() override { return 1; }
    _tagSearcherType GetSearcheType() const override { return SEARCHER_NTFS; }
    IFileNode* Clone() override {
        return new BenchNode(GetCurrentNodeID(), GetParentNodeID(), name_, dir_, modified_,
                             created_);
    }
    void MarkDeleted() override {}
    void FilterFileNameByDot() override { name_ = CFileNode::FilterFileNameByDot(name_.c_str()); }

private:
    std::string name_;
    long long modified_;
    long long created_;
    bool dir_;
};

// What the builder shows, handed to the scan operation afterwards.
class Capture final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int lost) override {
        batches.push_back({std::vector<IFileNode*>(nodes, nodes + count), lost});
    }
    void ShowFilesystemNode(IFilesystemNode* root) override { roots.push_back(root); }
    std::vector<std::pair<std::vector<IFileNode*>, int>> batches;
    std::vector<IFilesystemNode*> roots;
};

// The figures over trees already filled from `files`, `big` the folder of
// 100,000 files.
int Measure(VKUITreeData& trees, const std::vector<IFileNode*>& files, IFileNode* big) {
    // Name search: the whole search (hits shown, the four trees rebuilt)
    // against a loop comparing the same names.
    const char* key = "FILE00123";
    auto start = std::chrono::steady_clock::now();
    size_t plain = 0;
    for (IFileNode* file : files)
        plain += ::strcasestr(file->GetFileName(), key) != nullptr ? 1 : 0;
    const double loopMs = Ms(start);
    start = std::chrono::steady_clock::now();
    size_t matched = 0;
    for (IFileNode* file : files)
        matched += static_cast<size_t>(VKUIPublic::IsStringInFileNode(key, file));
    const double matchMs = Ms(start);
    start = std::chrono::steady_clock::now();
    trees.DoSearchWithString(key, "DoSearchValue");
    trees.WaitSearch();
    const double searchMs = Ms(start);
    std::vector<IFileNode*> hits;
    trees.GetSearchResultToArr(hits);
    std::printf("name search: %.1f ms, plain loop %.1f ms, ratio %.2f (%zu hits, loop %zu)\n",
                searchMs, loopMs, searchMs / loopMs, hits.size(), plain);
    std::printf("  of which the name matching alone: %.1f ms, ratio %.2f (%zu)\n", matchMs,
                matchMs / loopMs, matched);
    trees.StopSearch();
    start = std::chrono::steady_clock::now();
    trees.DoSearchWithString("", "DoSearchValue");
    trees.WaitSearch();
    const double clearMs = Ms(start);
    trees.StopSearch();
    std::printf("search cleared (every file shown again): %.1f ms\n", clearMs);
    if (hits.size() != plain) {
        std::fprintf(stderr, "the search found %zu files, the loop %zu\n", hits.size(), plain);
        return 1;
    }

    // Listing the folder of 100,000 files.
    OpNodeData* bigWrapper = nullptr;
    for (const OpNodePtr& top : trees.Snapshot(OP_TREE_PATH)) {
        for (const OpChild& child : top->children()) {
            const OpNodePtr& node = std::get<OpNodePtr>(child);
            if (node->fileNode() == big)
                bigWrapper = node.get();
        }
    }
    if (bigWrapper == nullptr) {
        std::fprintf(stderr, "no folder \"big\" in the path tree\n");
        return 1;
    }
    start = std::chrono::steady_clock::now();
    size_t shown = 0;
    for (IFileNode* child = big->GetFirstChild(); child != nullptr; child = child->GetNextNode())
        shown += !child->IsDirectory() && child->IsNodeShow() ? 1 : 0;
    const double walkMs = Ms(start);
    std::vector<OpChild> list;
    start = std::chrono::steady_clock::now();
    trees.GetFileNodeToArray(list, bigWrapper);
    const double listMs = Ms(start);
    std::printf("listing %zu files: %.2f ms, plain walk %.2f ms (%zu), ratio %.2f\n", list.size(),
                listMs, walkMs, shown, listMs / walkMs);

    // Counts below the roots of the modification-date and type trees.
    const std::vector<OpNodePtr> dates = trees.Snapshot(OP_TREE_MODIFICATION_DATE);
    const std::vector<OpNodePtr> types = trees.Snapshot(OP_TREE_FILE_TYPE);
    start = std::chrono::steady_clock::now();
    const uint64_t dateCount = trees.GetNodeChildrenCnt(dates.at(0).get());
    uint64_t typeCount = 0;
    for (const OpNodePtr& group : types)
        typeCount += trees.GetNodeChildrenCnt(group.get());
    const double countMs = Ms(start);
    std::printf("counts below the roots: %.3f ms (%llu dated, %llu typed of %zu files)\n", countMs,
                static_cast<unsigned long long>(dateCount),
                static_cast<unsigned long long>(typeCount), files.size());
    return 0;
}

// The volume through the tree builder and the scan operation's receiver,
// read through the program's sources.
int ProgramRoad(long total) {
    constexpr long long kRoot = 5;
    constexpr long long kBig = 100;
    constexpr long long kFirstFolder = 101;
    constexpr long long kFirstFile = 10000;
    std::vector<IFileNode*> made;
    made.reserve(static_cast<size_t>(total) + 2000);
    made.push_back(new BenchNode(kBig, kRoot, "big", true, 0, 0));
    long long folder = kBig;
    long long nextFolder = kFirstFolder;
    for (long i = 0; i < total; ++i) {
        if (i >= kBigFolder && (i - kBigFolder) % kPerFolder == 0) {
            folder = nextFolder++;
            made.push_back(new BenchNode(folder, kRoot, "folder" + std::to_string(i), true, 0, 0));
        }
        made.push_back(
            new BenchNode(kFirstFile + i, folder, FileName(i), false, FileTime(i), CreatedTime(i)));
    }

    // The program's category table, for the filter and the type index.
    const std::string table = std::string(VELMORA_SOURCE_DIR) + "/resources/FileType.plist";
    VKUIScan scan;
    VKTypeMgr types(table, &scan);
    VKTimeMgr times(&scan);
    std::map<int, std::string> lists;
    for (int bit : {1, 2, 4, 8, 16, 32}) {
        if (std::optional<std::string> text = types.getTypeString(bit))
            lists[bit] = *text;
    }
    InitializeFileTypeLists(lists);
    VKUIFilter::instance().ResetFilter(127);

    Capture capture;
    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    hooks.userHome = [] { return std::string("/home/bench"); };
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    builder->Initialize("bench", &capture, VKUIFilter::instance().GetFilter());
    builder->AddSearcherInfo(SEARCHER_NTFS, kRoot);
    auto start = std::chrono::steady_clock::now();
    for (IFileNode* node : made) {
        if (!builder->AddNode(node, SEARCHER_NTFS))
            node->Release();
    }
    builder->FlashBuild(SEARCHER_NTFS);
    std::printf("tree builder over %ld files: %.1f ms\n", total, Ms(start));

    // The scan operation's receiver, as during a scan; the windows' posts
    // wait on a main loop that never runs.
    velmora::bridge::InstallPoster(std::make_shared<velmora::bridge::ManualPoster>());
    start = std::chrono::steady_clock::now();
    for (IFilesystemNode* root : capture.roots)
        scan.ShowFilesystemNode(root);
    std::vector<IFileNode*> files;
    IFileNode* big = nullptr;
    for (auto& [batch, lost] : capture.batches) {
        scan.ShowNodes(batch.data(), static_cast<unsigned>(batch.size()), lost);
        for (IFileNode* node : batch) {
            if (node->IsDirectory() == 0)
                files.push_back(node);
            else if (std::strcmp(node->GetFileName(), "big") == 0)
                big = node;
        }
    }
    std::printf("scan indexes filed: %.1f ms (%zu files)\n", Ms(start), files.size());
    if (big == nullptr || files.size() != static_cast<size_t>(total)) {
        std::fprintf(stderr, "the builder showed %zu of %ld files\n", files.size(), total);
        return 1;
    }

    auto source = std::make_shared<velmora::bridge::ScanTreeSource>(scan, types, times);
    int failed = 0;
    {
        VKUITreeData trees(source);
        start = std::chrono::steady_clock::now();
        trees.VKGetTreeNodeData(1);
        std::printf("trees filled from %ld files: %.1f ms\n", total, Ms(start));
        failed = Measure(trees, files, big);
        auto hold = trees.Lock();
        types.clear();
        times.clear();
    }
    std::fflush(stdout);
    // The nodes belong to the builder, which lives until the process ends.
    std::_Exit(failed);
}

// The same volume behind the tests' scripted source.
int ScriptedRoad(long total) {
    auto source = std::make_shared<FakeTreeSource>();
    VKUITreeData trees(source);
    TestNode* root = source->AddRoot("VOL");
    TestNode* big = source->AddFolder(root, "big");
    std::vector<IFileNode*> files;
    files.reserve(static_cast<size_t>(total));
    TestNode* folder = big;
    for (long i = 0; i < total; ++i) {
        if (i >= kBigFolder && (i - kBigFolder) % kPerFolder == 0)
            folder = source->AddFolder(root, "folder" + std::to_string(i));
        files.push_back(source->AddFile(folder, FileName(i), FileTime(i), CreatedTime(i)));
    }
    const auto start = std::chrono::steady_clock::now();
    trees.VKGetTreeNodeData(1);
    std::printf("trees filled from %ld files: %.1f ms\n", total, Ms(start));
    return Measure(trees, files, big);
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    const long total = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (total < kBigFolder + 1) {
        std::fprintf(stderr, "usage: result_trees [nodes > %ld] [scripted]\n", kBigFolder);
        return 2;
    }
    const bool scripted = argc > 2 && std::strcmp(argv[2], "scripted") == 0;
    std::printf("%s source, %ld files\n", scripted ? "scripted" : "scan road", total);
    return scripted ? ScriptedRoad(total) : ProgramRoad(total);
}
