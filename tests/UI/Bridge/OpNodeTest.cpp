// Group nodes of the browser's result trees, file leaves, and the rows of
// the disk list.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BridgeDoubles.h"
#include "DiskVolumeNodeData.h"
#include "OpNodeData.h"
#include "VKUIPublic.h"
#include "support/TestNode.h"

using velmora::bridgetest::BridgeWorld;

// Group nodes: icons by tree kind and title; texts and values of a group.
TEST(OpNode, GroupIconsAndTexts) {
    BridgeWorld world;
    struct Case {
        int kind;
        const char* title;
        bool withParent;
        int icon;
    } const cases[] = {
        {OP_TREE_FILE_TYPE, "Documents", false, OP_ICON_DOCUMENT},
        {OP_TREE_FILE_TYPE, "Pictures", true, OP_ICON_PICTURE},
        {OP_TREE_FILE_TYPE, "Movies", false, OP_ICON_MOVIE},
        {OP_TREE_FILE_TYPE, "Music", false, OP_ICON_MUSIC},
        {OP_TREE_FILE_TYPE, "Archives", false, OP_ICON_ARCHIVE},
        {OP_TREE_FILE_TYPE, "E-mail", false, OP_ICON_EMAIL},
        {OP_TREE_FILE_TYPE, "Other", false, OP_ICON_OTHER},
        {OP_TREE_FILE_TYPE, "jpg", true, OP_ICON_OTHER},
        {OP_TREE_CREATION_DATE, "root", false, OP_ICON_DATE_ROOT},
        {OP_TREE_MODIFICATION_DATE, "2020", true, OP_ICON_DATE_GROUP},
        {OP_TREE_ACCESS_DATE, "2020", true, OP_ICON_GROUP},
    };
    OpNodePtr parent = OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "Pictures");
    for (const Case& c : cases) {
        OpNodePtr group = OpNodeData::makeGroup(c.kind, c.title);
        if (c.withParent)
            group->setParent(parent.get());
        EXPECT_EQ(group->nodeType(), c.icon) << c.title;
        EXPECT_EQ(group->isFadeNode(), 1);
        EXPECT_EQ(group->isDirect(), 1);
        EXPECT_EQ(group->name(), c.title);
        EXPECT_EQ(group->path(), "");
        EXPECT_EQ(group->createTime(), "");
        EXPECT_EQ(group->createTimeValue(), 0u);
        EXPECT_EQ(group->IsShow(), 1);
        EXPECT_EQ(group->createtime(), BridgeWorld::kNow);
    }
    // A path-tree node without engine node is no group.
    OpNodePtr empty = OpNodeData::initWithFileNode(nullptr);
    EXPECT_EQ(empty->isFadeNode(), 0);
    EXPECT_EQ(empty->name(), "");
    EXPECT_EQ(empty->IsShow(), 0);
    EXPECT_EQ(empty->isDirect(), 0);
}

// A partly ticked group keeps its children as they are; the leaf calls
// take 0 to 2 only; times of 0 are not shown; names that are not UTF-8
// show as "Unknown".
TEST(OpNode, LeavesAndPartlyTickedGroups) {
    BridgeWorld world;
    TestNode a(1, -1, "a.jpg"), b(2, -1, "b\xff.jpg");
    b.modified = static_cast<long long>(kFileTimeUnixEpoch + 60 * kFileTimeTicksPerSecond);
    OpNodePtr ext = OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "jpg");
    ext->setSubNode({&a, &b});
    ext->SetChildrenNodeState(2);
    EXPECT_EQ(a.GetCheckedStatus(), CHECK_CHECKED);
    ext->SetChildrenNodeState(1);
    EXPECT_EQ(ext->state(), CHECK_PARTLY);
    EXPECT_EQ(a.GetCheckedStatus(), CHECK_CHECKED);

    struct Case {
        int state;
        int after;
    } const cases[] = {{0, 0}, {2, 2}, {3, 2}, {-1, 2}, {1, 2}, {0, 0}, {3, 0}, {-1, 0}};
    for (const Case& c : cases) {
        OpNodeData::setFileNode(&b, c.state);
        EXPECT_EQ(OpNodeData::fileNodeState(&b), c.after) << c.state;
    }
    OpNodeData::setFileNode(nullptr, 2);
    EXPECT_EQ(OpNodeData::fileNodeState(nullptr), 0);
    EXPECT_EQ(OpNodeData::fileNodeName(nullptr), "");
    EXPECT_EQ(OpNodeData::isFileNodeDirect(nullptr), 0);

    OpNodePtr wrapped = OpNodeData::initWithFileNode(&b);
    EXPECT_EQ(wrapped->name(), "Unknown");
    EXPECT_EQ(wrapped->createTime(), "");
    EXPECT_EQ(wrapped->modifyTime(), "@60");
    ext->free();
    EXPECT_TRUE(ext->children().empty());
}

TEST(DiskRow, RowsFromDeviceRecords) {
    BridgeWorld world;
    const std::string longName(300, 'x');
    struct Case {
        const char* name;
        const char* bsd;
        const char* shownName;
        const char* path;  // null: none
    } const cases[] = {
        {"Backup", "sdb1", "Backup", "/dev/sdb1"},   {"", "sdc", "Untitled", "/dev/sdc"},
        {nullptr, nullptr, "Untitled", nullptr},     {"bad\xc3", "sdd", "Unknown", "/dev/sdd"},
        {"Long", longName.c_str(), "Long", nullptr},
    };
    for (const Case& c : cases) {
        _DiskVolumeData record;
        record.name = c.name;
        record.bsdName = c.bsd;
        record.capacity = 1LL << 40;
        record.diskIndex = 2;
        record.volumeIndex = 1;
        record.fileSystem = 2;
        record.isUSB = 1;
        record.permitted = 0;
        DiskVolumeNodeData row(record);
        EXPECT_EQ(row.name(), c.shownName);
        if (c.bsd == nullptr) {
            EXPECT_FALSE(row.diskPath().has_value());
        } else if (c.path != nullptr) {
            EXPECT_EQ(row.diskPath(), c.path);
        } else {
            ASSERT_TRUE(row.diskPath().has_value());
            EXPECT_EQ(row.diskPath()->size(), 255u);
        }
        EXPECT_EQ(row.capacity(), 1LL << 40);
        EXPECT_EQ(row.diskIndex(), 2);
        EXPECT_EQ(row.volumeIndex(), 1);
        EXPECT_EQ(row.fileSystem(), 2);
        EXPECT_EQ(row.isUSB(), 1);
        EXPECT_EQ(row.beCanOpen(), 0);
        EXPECT_EQ(row.isSystemVolume(), 0);
    }
    // A disk row holds its volume rows; a new set replaces the old.
    _DiskVolumeData disk;
    disk.name = "Disk";
    DiskVolumeNodeData row(disk);
    EXPECT_EQ(row.numberOfChildren(), 0u);
    EXPECT_FALSE(row.children().has_value());
    auto volume = std::make_shared<DiskVolumeNodeData>(disk);
    row.setSubNode(std::vector<DiskVolumeNodePtr>{volume, volume});
    EXPECT_EQ(row.numberOfChildren(), 2u);
    EXPECT_EQ(row.childAtIndex(1), volume);
    EXPECT_EQ(row.childAtIndex(2), nullptr);
    row.setSubNode(std::vector<DiskVolumeNodePtr>{volume});
    EXPECT_EQ(row.numberOfChildren(), 1u);
}
