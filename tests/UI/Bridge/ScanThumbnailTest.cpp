// The browser's pictures through the program's bridge over a real scan: a
// JPEG found on the FAT16 fixture gives a picture (offscreen), both as the
// preview's image and as the bytes the cover flow decodes itself.
#include <gtest/gtest.h>

#include <strings.h>

#include <QGuiApplication>
#include <QImage>

#include <filesystem>
#include <memory>
#include <string>

#include "BridgeSeam/VKBridge.h"
#include "ImageScanWorld.h"
#include "ScanSources.h"
#include "VKUIController.h"
#include "VKUIScan.h"
#include "VKUITreeData.h"
#include "support/TestNode.h"

using velmora::bridgetest::FixturePath;
using velmora::bridgetest::ScanWorld;

namespace {

// A found file whose name ends with `tail` (ASCII case ignored): a deleted
// FAT entry has lost its first letter.
IFileNode* FoundFile(const std::string& tail) {
    for (const auto& [category, nodes] : VKUIScan::instance().GetTypeMap()) {
        for (IFileNode* node : nodes) {
            const std::string name = node->GetFileName() != nullptr ? node->GetFileName() : "";
            if (name.size() >= tail.size() &&
                ::strcasecmp(name.c_str() + name.size() - tail.size(), tail.c_str()) == 0)
                return node;
        }
    }
    return nullptr;
}

// Real pictures (the fixture's own are JPEG-shaped bytes only) written to a
// fresh FAT16 volume and deleted, as a quick scan finds them.
TEST(ScanRoadPictures, AFoundJpegAndPngGivePictures) {
    velmora::test::TempDir dir;
    const std::string image = dir / "pictures.img";
    if (!velmora::test::RunProgram({"mkfs.fat", "-F", "16", "-C", image, "16384"}))
        VELMORA_REQUIRE_TOOL(false, "mkfs.fat (dosfstools) is not installed");
    const std::string samples = velmora::test::SourceDir() + "/tests/carve/samples/";
    // Both written before either is deleted: a deleted entry's slot and
    // clusters would be taken by the next file.
    const std::pair<const char*, const char*> pictures[] = {{"exif_camera.jpg", "::/CAMERA.JPG"},
                                                            {"picture.png", "::/PICTURE.PNG"}};
    for (const auto& [sample, target] : pictures) {
        if (!velmora::test::RunProgram(
                {"env", "MTOOLS_SKIP_CHECK=1", "mcopy", "-i", image, samples + sample, target}))
            VELMORA_REQUIRE_TOOL(false, "mcopy (mtools) is not installed");
    }
    for (const auto& [sample, target] : pictures) {
        ASSERT_TRUE(
            velmora::test::RunProgram({"env", "MTOOLS_SKIP_CHECK=1", "mdel", "-i", image, target}));
    }
    // Made first: the program's bridge installs the thumbnailer and the
    // sources, which the test then points at its own catalogue.
    velmora::seam::VKBridge bridge(dir / "lock");
    ScanWorld world(image, {{-1, 0, FS_FAT16}});
    velmora::bridge::InstallScanSources(&world.catalogue);
    ASSERT_TRUE(world.ScanToEnd(0, 0, false));

    for (const char* name : {"AMERA.JPG", "ICTURE.PNG"}) {
        SCOPED_TRACE(name);
        IFileNode* node = FoundFile(name);
        ASSERT_NE(node, nullptr);
        const OpNodePtr op = OpNodeData::initWithFileNode(node);
        const QImage shown = bridge.GetNSImageByNode(op);
        EXPECT_FALSE(shown.isNull());
        const std::vector<uint8_t> bytes = bridge.GetNSImageByNode(op, {});
        ASSERT_EQ(bytes.size(), static_cast<size_t>(node->GetFileSize()));
        QImage decoded;
        EXPECT_TRUE(decoded.loadFromData(bytes.data(), static_cast<int>(bytes.size())));
        EXPECT_FALSE(decoded.isNull());
        // A stop asked before the read gives nothing.
        std::stop_source stop;
        stop.request_stop();
        EXPECT_TRUE(bridge.GetNSImageByNode(op, stop.get_token()).empty());
    }
    EXPECT_TRUE(bridge.GetNSImageByNode(OpNodePtr()).isNull());
    velmora::bridge::UninstallScanSources();
}

// The browser's tree questions through the program's bridge: the trees grow
// on the arrays the browser hands over, the counts below the modification
// date root and the files of each of its months add up to the scan's dated
// files.
TEST(ScanRoadPictures, TreeQuestionsAnswerFromTheResultTrees) {
    const std::string image = FixturePath("fat/fat16.img");
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << image << " was not made (the \"fixtures\" test)";
    velmora::test::TempDir dir;
    velmora::seam::VKBridge bridge(dir / "lock");
    ScanWorld world(image, {{-1, 0, FS_FAT16}});
    velmora::bridge::InstallScanSources(&world.catalogue);
    std::vector<OpNodePtr> path, type, created, modified;
    const velmora::seam::TreeNodeArrays arrays{&path, &type, &created, &modified};
    ASSERT_EQ(bridge.VKSetTreeNodeData(&arrays), 1);
    ASSERT_TRUE(world.ScanToEnd(0, 0, false));
    uint64_t dated = 0;
    for (const auto& [year, months] : VKUIScan::instance().GetModifyTimeMap()) {
        for (const auto& [month, nodes] : months)
            dated += nodes.size();
    }
    ASSERT_GT(dated, 0u);
    std::vector<OpNodePtr> roots;
    {
        auto hold = bridge.LockTreeData();
        roots = modified;
    }
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(bridge.GetNodeChildrenCnt(*roots[0]), dated);
    uint64_t listed = 0;
    for (const OpChild& year : roots[0]->children()) {
        for (const OpChild& month : std::get<OpNodePtr>(year)->children()) {
            std::vector<IFileNode*> files;
            bridge.GetFileNodeToArray(&files, std::get<OpNodePtr>(month));
            listed += files.size();
        }
    }
    EXPECT_EQ(listed, dated);
    // Ticks counted into the month marks after the list changed them.
    for (IFileNode* root : VKUIScan::instance().GetFileSystemNode())
        root->SetCheck(CHECK_CHECKED);
    bridge.VKTableViewCellCilck();
    VKUIScan::instance().SetScanType(OP_TREE_MODIFICATION_DATE);
    bridge.RefreshTimeTreeState(&modified, 1);
    EXPECT_EQ(roots[0]->state(), CHECK_CHECKED);
    bridge.UnselectedAllNodes();
    for (IFileNode* root : VKUIScan::instance().GetFileSystemNode())
        EXPECT_EQ(root->GetCheckedStatus(), CHECK_UNCHECKED);
    VKUIScan::instance().SetScanType(OP_TREE_PATH);
    VKUIController::VKResetTreeNodeData();
    VKUITreeData::instance().UseArrays(nullptr, nullptr, nullptr, nullptr);
    velmora::bridge::UninstallScanSources();
}

// A folder whose sibling chain loops back lists each entry once. The chain
// ends after a bounded number of steps, so a walk that misses the loop
// fails at once with repeated entries rather than by running out of memory.
TEST(FolderEntries, ASiblingLoopIsListedOnce) {
    constexpr int kStepBound = 64;
    static int steps = 0;
    class LoopingNode : public TestNode {
    public:
        using TestNode::TestNode;
        CFileNode* GetNextNode() override {
            if (++steps > kStepBound)
                return nullptr;
            return next ? next : TestNode::GetNextNode();
        }
        CFileNode* next = nullptr;
    };
    TestNode folder(1, -1, "F", true);
    LoopingNode a(2, 1, "a"), b(3, 1, "b");
    folder.AddChild(&a);
    folder.AddChild(&b);  // b, a
    a.next = &b;          // a leads back to b
    const OpNodePtr wrapper = OpNodeData::initWithNodeData({1, 0, 1, &folder});
    std::vector<IFileNode*> list;
    steps = 0;
    EXPECT_EQ(velmora::seam::AppendPathChildren(&list, wrapper.get()), 1);
    EXPECT_LT(steps, kStepBound);
    EXPECT_EQ(list, (std::vector<IFileNode*>{&b, &a}));
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
