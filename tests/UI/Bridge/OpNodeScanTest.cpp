// The nodes of the browser's result trees over the engine's nodes of a real
// FAT scan: the three-state tick mark carried through the interface's group
// nodes (date trees) and the engine's own tree (path tree), and what the
// browser shows of the nodes.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BridgeDoubles.h"
#include "FatFixtureScan.h"
#include "OpNodeData.h"
#include "VKUIPublic.h"

using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::FatFixtureScan;

namespace {

// The fixture's files in a modification-date tree, as the date index files
// them: root, one group per year, one per month, the files as leaves.
struct DateTree {
    explicit DateTree(const std::vector<IFileNode*>& files) {
        root = OpNodeData::makeGroup(OP_TREE_MODIFICATION_DATE, "root");
        std::map<int, OpNodePtr> years;
        std::map<std::pair<int, int>, OpNodePtr> months;
        for (IFileNode* file : files) {
            int year = 0, month = 0;
            VKCPPPublic::instance().GetYearMonthByFileTime(
                &year, &month, U64ToFileTime(static_cast<uint64_t>(file->GetModificationTime())));
            OpNodePtr& y = years[year];
            if (!y) {
                y = OpNodeData::makeGroup(OP_TREE_MODIFICATION_DATE, std::to_string(year));
                root->addChildObject(y);
                y->setParent(root.get());
            }
            OpNodePtr& m = months[{year, month}];
            if (!m) {
                m = OpNodeData::makeGroup(OP_TREE_MODIFICATION_DATE, std::to_string(month));
                y->addChildObject(m);
                m->setParent(y.get());
            }
            m->addChildObject(file);
        }
        for (auto& [key, month] : months)
            byMonth[key.first * 100 + key.second] = month;
    }
    ~DateTree() { root->free(); }
    OpNodePtr root;
    std::map<int, OpNodePtr> byMonth;  // yyyymm
};

}  // namespace

class OpNodeOverScan : public ::testing::Test {
protected:
    void SetUp() override { scan_ = FatFixtureScan::MadeAndScanned(dir_.path()); }
    velmora::test::TempDir dir_;
    BridgeWorld world_;
    std::unique_ptr<FatFixtureScan> scan_;
};

// The fixture's files were written in September 2020 but one, in October:
// ticking both months lifts the year and the root step by step; a partly
// ticked month marks every group above it partly ticked without counting.
TEST_F(OpNodeOverScan, TickMarksClimbTheDateTree) {
    DateTree tree(scan_->Files());
    ASSERT_EQ(tree.byMonth.size(), 2u);
    OpNodePtr september = tree.byMonth.at(202009), october = tree.byMonth.at(202010);
    OpNodeData* year = september->parent();
    ASSERT_EQ(year, october->parent());
    ASSERT_EQ(year->parent(), tree.root.get());
    IFileNode* rootGone = scan_->Find("/root gone.jpg");
    IFileNode* report = scan_->Find("/Docs/report.pdf");
    ASSERT_NE(rootGone, nullptr);
    ASSERT_NE(report, nullptr);

    struct Step {
        OpNodePtr month;
        int state;
        int septemberAfter, octoberAfter, yearAfter, rootAfter;
        int reportAfter, rootGoneAfter;
    } const steps[] = {
        {september, 2, 2, 0, 1, 1, 2, 0},
        {october, 2, 2, 2, 2, 2, 2, 2},  // the last month lifts year and root
        {october, 1, 2, 1, 1, 1, 2, 2},  // partly: no counting, leaves kept
        {october, 0, 2, 0, 1, 1, 2, 0},
        {september, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Step& s : steps) {
        s.month->setNodeState(s.state);
        EXPECT_EQ(september->state(), s.septemberAfter) << s.month->name() << s.state;
        EXPECT_EQ(october->state(), s.octoberAfter) << s.month->name() << s.state;
        EXPECT_EQ(year->state(), s.yearAfter) << s.month->name() << s.state;
        EXPECT_EQ(tree.root->state(), s.rootAfter) << s.month->name() << s.state;
        EXPECT_EQ(report->GetCheckedStatus(), s.reportAfter) << s.month->name() << s.state;
        EXPECT_EQ(rootGone->GetCheckedStatus(), s.rootGoneAfter) << s.month->name() << s.state;
    }
    // Ticking the root reaches every file.
    tree.root->setNodeState(2);
    for (IFileNode* file : scan_->Files())
        EXPECT_EQ(file->GetCheckedStatus(), CHECK_CHECKED) << file->GetFileName();
    tree.root->setNodeState(0);
}

// In the path tree the engine carries the mark through its own nodes.
TEST_F(OpNodeOverScan, PathTreeWrappersTickTheEngineTree) {
    TreeNodeData rootData;
    rootData.isFileSystem = 1;
    rootData.node = scan_->roots().front();
    OpNodePtr root = OpNodeData::initWithNodeData(rootData);
    OpNodePtr docs = OpNodeData::initWithFileNode(scan_->Find("/Docs"));
    ASSERT_NE(docs->fileNode(), nullptr);
    docs->setParent(root.get());

    docs->setNodeState(2);
    EXPECT_EQ(scan_->Find("/Docs/Sub/A very long file name with spaces.txt")->GetCheckedStatus(),
              CHECK_CHECKED);
    EXPECT_EQ(root->state(), CHECK_PARTLY);
    EXPECT_EQ(OpNodeData::initWithFileNode(scan_->Find("/Pics"))->state(), CHECK_UNCHECKED);
    docs->setNodeState(0);
    EXPECT_EQ(root->state(), CHECK_UNCHECKED);

    // What the browser shows of them.
    const std::string volume = scan_->roots().front()->GetVolumeName();
    OpNodePtr report = OpNodeData::initWithFileNode(scan_->Find("/Docs/report.pdf"));
    EXPECT_EQ(report->path(), "/" + volume + "/Docs/report.pdf");
    EXPECT_EQ(report->name(), "report.pdf");
    // The fixture's report.pdf (its manifest).
    EXPECT_EQ(report->size(), 5017u);
    EXPECT_EQ(report->modifyTime(), "@1600003600");
    EXPECT_EQ(report->nodeType(), OP_ICON_FILE);
    EXPECT_EQ(root->nodeType(), OP_ICON_FILE_SYSTEM);
    EXPECT_EQ(root->isHasFolderChildren(), 1);
    EXPECT_EQ(docs->isDirect(), 1);
    EXPECT_EQ(docs->size(), 0u);
    EXPECT_EQ(OpNodeData::initWithFileNode(scan_->Find("/Pics/deleted photo.jpg"))->isDeleted(), 1);
    EXPECT_EQ(report->isDeleted(), 0);
    EXPECT_EQ(report->IsShow(), 1);
}
