// The browser's result trees over a million generated nodes: a name search
// (the search thread, its trees rebuilt) against a plain loop comparing the
// same names, listing a folder of 100,000 files, and the counts below the
// root of a date tree and of the type tree, each against a plain loop over
// the same nodes.
//
//   result_trees [nodes]     default 1000000
#include <string.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TreeDoubles.h"
#include "VKUITreeData.h"

using velmora::bridgetest::FakeTreeSource;
using velmora::bridgetest::FileTimeOf;

namespace {

double Ms(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from)
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    const long total = argc > 1 ? std::atol(argv[1]) : 1000000;
    constexpr long kBigFolder = 100000;
    constexpr long kPerFolder = 900;

    auto source = std::make_shared<FakeTreeSource>();
    VKUITreeData trees(source);
    TestNode* root = source->AddRoot("VOL");
    TestNode* big = source->AddFolder(root, "big");
    std::vector<IFileNode*> files;
    files.reserve(static_cast<size_t>(total));
    TestNode* folder = big;
    char name[64];
    for (long i = 0; i < total; ++i) {
        if (i >= kBigFolder && (i - kBigFolder) % kPerFolder == 0)
            folder = source->AddFolder(root, "folder" + std::to_string(i));
        std::snprintf(name, sizeof name, "file%07ld.%s", i, i % 3 == 0 ? "jpg" : "txt");
        const int year = 2010 + static_cast<int>(i % 10);
        const int month = 1 + static_cast<int>((i / 10) % 12);
        files.push_back(source->AddFile(folder, name, FileTimeOf(year, month)));
    }
    auto start = std::chrono::steady_clock::now();
    trees.VKGetTreeNodeData(1);
    std::printf("trees filled from %ld files: %.1f ms\n", total, Ms(start));

    // Name search: the whole search (hits shown, the four trees rebuilt)
    // against a loop comparing the same names.
    const char* key = "FILE00123";
    start = std::chrono::steady_clock::now();
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
    trees.DoSearchWithString("", "DoSearchValue");
    trees.WaitSearch();
    trees.StopSearch();

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
    std::printf("listing %zu files: %.2f ms, plain walk %.2f ms, ratio %.2f\n", list.size(), listMs,
                walkMs, listMs / walkMs);

    // Counts below the roots of the modification-date and type trees.
    const std::vector<OpNodePtr> dates = trees.Snapshot(OP_TREE_MODIFICATION_DATE);
    const std::vector<OpNodePtr> types = trees.Snapshot(OP_TREE_FILE_TYPE);
    start = std::chrono::steady_clock::now();
    const uint64_t dateCount = trees.GetNodeChildrenCnt(dates.at(0).get());
    const uint64_t typeCount = trees.GetNodeChildrenCnt(types.at(0).get());
    const double countMs = Ms(start);
    std::printf("counts below the roots: %.3f ms (%llu dated, %llu typed of %zu shown)\n", countMs,
                static_cast<unsigned long long>(dateCount),
                static_cast<unsigned long long>(typeCount), shown);
    return 0;
}
