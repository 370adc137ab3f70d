// The program's main window on the program's own bridge opens the hosted
// results browser when a scan starts: a small GPT disk attached to a loop
// device, its first volume chosen on the disk page, a quick scan. Run under
// Xvfb, as root (loop devices).
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>

#include "Browser/VKDeletailWindowController.h"
#include "Browser/VKResultFilePane.h"
#include "RealDevices.h"
#include "VKUIController.h"
#include "Windows/VKRootWindowController.h"
#include "Windows/VKSelectDiskViewController.h"
#include "Windows/VKSelectTypeViewController.h"
#include "support/TestSupport.h"

namespace velmora::browser {
namespace {

using test::real::AttachedLoop;
using test::real::RowOf;
using test::real::RunTool;
using test::real::WaitFor;

TEST(BrowserRealBridge, TheMainWindowsScanOpensTheBrowser) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to attach loop devices";
    velmora::test::TempDir dir;
    const QString folder = QString::fromStdString(dir.path());
    const QString script = QString::fromStdString(velmora::test::SourceDir()) +
                           "/tests/fixtures/windows/make_gpt_disk.sh";
    if (!RunTool({"bash", script, folder}))
        GTEST_SKIP() << "make_gpt_disk.sh failed (needs sgdisk, mkfs.fat)";
    AttachedLoop disk(folder + "/gpt_disk.img");
    if (disk.node().isEmpty())
        GTEST_SKIP() << "cannot attach a loop device (losetup failed)";

    windows::RootWindowSeams seams;
    int wentHome = 0;
    BrowserSeams browserSeams;
    browserSeams.goHome = [&wentHome] { ++wentHome; };
    InstallResultsBrowser(seams, browserSeams);
    windows::VKRootWindowController controller(seams);
    ASSERT_TRUE(controller.windowDidLoad());
    controller.showWindow();
    controller.selectTypeVC()->nextButtonAction();
    ASSERT_TRUE(WaitFor([&] { return controller.whichPage() == 3; }, 10000));
    ASSERT_TRUE(WaitFor(
        [&] { return controller.selectDiskVC() && RowOf(*controller.selectDiskVC(), disk.node()); },
        10000))
        << disk.node().toStdString() << " not listed";
    windows::VKSelectDiskViewController* page = controller.selectDiskVC();
    const DiskVolumeNodePtr listed = RowOf(*page, disk.node());
    page->clickRow(page->rowForItem(listed->childAtIndex(0).get()));
    page->scanButtonAction();

    // The browser opens in the main window's place and its scan starts.
    ASSERT_TRUE(WaitFor([&] { return controller.deletailWC() != nullptr; }, 5000));
    auto* browser = dynamic_cast<VKDeletailWindowController*>(controller.deletailWC());
    ASSERT_NE(browser, nullptr);
    EXPECT_NE(browser->resultFilePane(), nullptr);
    EXPECT_TRUE(WaitFor([&] { return browser->window()->isVisible(); }, 5000));
    EXPECT_FALSE(controller.window()->isVisible());
    // The scan of a small volume ends; the browser takes its end over: the
    // scan controls go, the totals show.
    EXPECT_TRUE(WaitFor([&] { return !browser->selectFilesLabel()->isHidden(); }, 60000));
    EXPECT_TRUE(browser->pauseButton()->isHidden());
    const QString shots = QStringLiteral(VELMORA_WINDOW_SHOTS_DIR);
    QDir().mkpath(shots);
    browser->window()->grab().save(shots + QStringLiteral("/browser_real_scan.png"));
    VKUIController::StopScan(1);
    VKUIController::WaitForScanThread();
    EXPECT_EQ(wentHome, 0);
}

}  // namespace
}  // namespace velmora::browser

int main(int argc, char** argv) {
    return velmora::test::real::RunRealWindowTests(argc, argv);
}
