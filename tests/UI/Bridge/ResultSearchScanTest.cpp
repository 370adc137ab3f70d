// The search of the results browser over a real scan of the FAT fixture:
// it finds the files `find -iname` finds among the fixture's files (its
// manifest laid out as a folder tree), live and deleted, and the path tree
// of the search shows exactly the folders that hold them.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BridgeDoubles.h"
#include "FatFixtureScan.h"
#include "TreeDoubles.h"
#include "VKUITreeData.h"

using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::FakeTreeSource;
using velmora::bridgetest::FatFixtureScan;

namespace {

// "/Docs/report.pdf": the names below the root.
std::string PathBelowRoot(IFileNode* node) {
    std::string path;
    for (; node != nullptr && node->GetParent() != nullptr; node = node->GetParent())
        path.insert(0, "/" + std::string(node->GetFileName()));
    return path;
}

std::set<std::string> Lines(const std::string& text, const std::string& cut) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(cut, 0) == 0)
            lines.insert(line.substr(cut.size()));
    }
    return lines;
}

}  // namespace

TEST(ResultSearchOverScan, FindsWhatFindFinds) {
    velmora::test::TempDir dir;
    BridgeWorld world;
    const std::unique_ptr<FatFixtureScan> scan = FatFixtureScan::MadeAndScanned(dir.path());
    if (!scan)
        return;

    // The manifest's files, live and deleted, as empty files of a tree.
    const std::string layout = dir / "layout";
    ASSERT_TRUE(
        velmora::test::RunProgram({"python3", "-c",
                                   "import json, os, sys\n"
                                   "m = json.load(open(sys.argv[1]))\n"
                                   "for f in m['volumes'][0]['files']:\n"
                                   "    p = sys.argv[2] + f['path']\n"
                                   "    if f['type'] == 'dir':\n"
                                   "        os.makedirs(p, exist_ok=True)\n"
                                   "    else:\n"
                                   "        os.makedirs(os.path.dirname(p), exist_ok=True)\n"
                                   "        open(p, 'w').close()\n",
                                   dir / "fat16.json", layout}));

    // The scan's nodes as the scan operation indexes them.
    auto source = std::make_shared<FakeTreeSource>();
    IFileNode* root = scan->roots().front();
    source->AddRootNode(root);
    std::vector<IFileNode*> pending{root};
    while (!pending.empty()) {
        IFileNode* folder = pending.back();
        pending.pop_back();
        for (IFileNode* child = folder->GetFirstChild(); child != nullptr;
             child = child->GetNextNode()) {
            if (child->IsDirectory()) {
                source->Report(child);
                pending.push_back(child);
            } else {
                source->IndexFile(child);
            }
        }
    }
    VKUITreeData trees(source);
    trees.VKGetTreeNodeData(1);

    for (const char* key : {"photo", "REPORT", ".TXT", "gone", "naïve", "e n", "zzz"}) {
        SCOPED_TRACE(key);
        std::string out;
        ASSERT_TRUE(velmora::test::RunProgram(
            {"find", layout, "-type", "f", "-iname", std::string("*") + key + "*"}, &out));
        const std::set<std::string> expected = Lines(out, layout);
        EXPECT_EQ(expected.empty(), std::string(key) == "zzz");

        ASSERT_EQ(trees.DoSearchWithString(key, "DoSearchValue"), 1);
        trees.WaitSearch();
        std::vector<IFileNode*> hits;
        trees.GetSearchResultToArr(hits);
        std::set<std::string> found, folders;
        for (IFileNode* hit : hits) {
            found.insert(PathBelowRoot(hit));
            for (IFileNode* up = hit->GetParent(); up != nullptr; up = up->GetParent())
                folders.insert(PathBelowRoot(up));
        }
        EXPECT_EQ(found, expected);
        EXPECT_EQ(found.size(), hits.size());

        std::set<std::string> shown;
        std::vector<OpNodePtr> walk = trees.Snapshot(OP_TREE_PATH);
        while (!walk.empty()) {
            OpNodePtr node = walk.back();
            walk.pop_back();
            EXPECT_TRUE(shown.insert(PathBelowRoot(node->fileNode())).second);
            for (const OpChild& child : node->children())
                walk.push_back(std::get<OpNodePtr>(child));
        }
        EXPECT_EQ(shown, folders);
        trees.StopSearch();
        world.poster->RunPending();
    }
    trees.VKResetTreeNodeData();
}
