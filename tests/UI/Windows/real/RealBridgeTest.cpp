// The main window on the program's own bridge, on a real X server (Xvfb),
// as root: a GPT disk attached to a loop device, and loop devices attached
// and detached while the disk page is open.
#include <gtest/gtest.h>

#include "BridgeSeam/VKBridge.h"
#include "RealDevices.h"
#include "UIPlatform/NotificationCenter.h"
#include "Windows/USBNotifier.h"
#include "Windows/VKRootWindowController.h"
#include "support/TestSupport.h"

namespace velmora::windows {
namespace {

using test::real::AttachedLoop;
using test::real::RowOf;
using test::real::RunTool;
using test::real::WaitFor;

class Recorder : public QObject {
public:
    explicit Recorder(const QString& name) {
        ui::NotificationCenter::defaultCenter().addObserver(
            this, name, [this](const ui::Notification& note) { posts.push_back(note); });
    }
    bool Names(const QString& key, const QString& value) const {
        for (const ui::Notification& note : posts) {
            const QVariantList list = note.object.toList();
            for (const QVariant& item : list.isEmpty() ? QVariantList{note.object} : list) {
                if (item.toMap().value(key).toString() == value)
                    return true;
            }
        }
        return false;
    }
    std::vector<ui::Notification> posts;
};

TEST(RealBridge, TheDiskPageListsAnAttachedGptDiskAndFollowsLoopDevices) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to attach loop devices";
    velmora::test::TempDir dir;
    const QString folder = QString::fromStdString(dir.path());
    const QString script = QString::fromStdString(velmora::test::SourceDir()) +
                           "/tests/fixtures/windows/make_gpt_disk.sh";
    if (!RunTool({"bash", script, folder}))
        GTEST_SKIP() << "make_gpt_disk.sh failed (needs sgdisk, mkfs.fat)";
    const QString image = folder + "/gpt_disk.img";

    USBNotifier notifier;
    if (!notifier.Start())
        GTEST_SKIP() << "no udev or kernel block events can be read here";
    AttachedLoop disk(image);
    if (disk.node().isEmpty())
        GTEST_SKIP() << "cannot attach a loop device (losetup failed)";

    std::vector<DiskVolumeNodePtr> scanned;
    RootWindowSeams seams;
    seams.makeDetailWindow = [&]() -> std::unique_ptr<IDetailWindow> {
        scanned.push_back(nullptr);
        return nullptr;
    };
    VKRootWindowController controller(seams);
    ASSERT_TRUE(controller.windowDidLoad());
    controller.showWindow();
    controller.selectTypeVC()->nextButtonAction();
    ASSERT_TRUE(WaitFor([&] { return controller.whichPage() == 3; }, 5000));

    // A loop device attached while the page is open is announced within a
    // second, and so is its detachment.
    Recorder attached(QStringLiteral("RefreshAttachDevice"));
    Recorder detached(QStringLiteral("RefreshDetachDevice"));
    AttachedLoop another(image);
    ASSERT_FALSE(another.node().isEmpty());
    const QString anotherNode = another.node();
    const QString anotherName = another.name();
    EXPECT_TRUE(WaitFor([&] { return attached.Names("VolumePath", anotherNode); }, 1000));
    another.Detach();
    EXPECT_TRUE(WaitFor([&] { return detached.Names("USBPath", anotherName); }, 1000));

    if (!seam::VKBridge::kDeviceCatalogueBuilt) {
        GTEST_SKIP() << "the program's bridge has no device catalogue yet (issue 38): the "
                        "disk page lists only Desktop; the watcher part above ran";
    }

    // The disk page lists the GPT disk with its two volumes, as lsblk does.
    VKSelectDiskViewController* page = controller.selectDiskVC();
    ASSERT_TRUE(page);
    const DiskVolumeNodePtr row = RowOf(*page, disk.node());
    ASSERT_TRUE(row) << disk.node().toStdString() << " not listed";
    ASSERT_EQ(row->numberOfChildren(), 2u);
    const struct {
        int64_t size;
        int fileSystem;
    } volumes[] = {{16 * 1024 * 1024, 1}, {40 * 1024 * 1024, 2}};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row->childAtIndex(i)->capacity(), volumes[i].size);
        EXPECT_EQ(row->childAtIndex(i)->fileSystem(), volumes[i].fileSystem);
    }

    // A loop attached now appears on the page within a second and goes again.
    AttachedLoop third(image);
    ASSERT_FALSE(third.node().isEmpty());
    EXPECT_TRUE(
        WaitFor([&] { return RowOf(*controller.selectDiskVC(), third.node()) != nullptr; }, 1000));
    const QString thirdNode = third.node();
    third.Detach();
    EXPECT_TRUE(
        WaitFor([&] { return RowOf(*controller.selectDiskVC(), thirdNode) == nullptr; }, 1000));

    // The removal of the loop's partitions comes as events of their own,
    // each rebuilding the page's rows: let them pass before picking a row.
    WaitFor([] { return false; }, 500);

    // A volume and the quick mode open the browser on it.
    page = controller.selectDiskVC();
    const DiskVolumeNodePtr listed = RowOf(*page, disk.node());
    ASSERT_TRUE(listed);
    page->clickRow(page->rowForItem(listed->childAtIndex(1).get()));
    page->scanButtonAction();
    EXPECT_EQ(controller.selectVolumeData(), listed->childAtIndex(1));
    EXPECT_EQ(controller.selectScanType(), 1);
    EXPECT_EQ(scanned.size(), 1u);
}

}  // namespace
}  // namespace velmora::windows

int main(int argc, char** argv) {
    return velmora::test::real::RunRealWindowTests(argc, argv);
}
