// The results browser's window: the start of a scan or a load, the device
// removal, closing during a scan, and the bars.
#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QSplitter>
#include <QTest>

#include "Browser/BrowserSplitView.h"
#include "Browser/BrowserTabButton.h"
#include "Browser/CommOutlineView.h"
#include "Browser/ResultTreeModel.h"
#include "BrowserTestSupport.h"
#include "TopView/TCImageButton.h"
#include "Widgets/VKProgressView.h"
#include "Windows/VKRootWindowController.h"

namespace velmora::browser {
namespace {

using seam::FakeBridge;
using testing::BrowserTest;
using windows::testing::PostRecorder;
using windows::testing::Pump;

DiskVolumeNodePtr Row(const std::string& name, int edi, int appleDmg) {
    _DiskVolumeData data;
    data.name = name.c_str();
    data.bsdName = name.c_str();
    data.capacity = 1'000'000;
    data.isEdi = edi;
    data.isAppleDmg = appleDmg;
    data.permitted = 1;
    return std::make_shared<DiskVolumeNodeData>(data);
}

TEST_F(BrowserTest, MainWindowSeamOpensABrowser) {
    windows::RootWindowSeams seams;
    InstallResultsBrowser(seams);
    ASSERT_TRUE(seams.makeDetailWindow);
    const auto first = seams.makeDetailWindow();
    const auto second = seams.makeDetailWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first->window(), second->window());
    EXPECT_EQ(first->window()->objectName(), QStringLiteral("ExhibitionXib"));
}

// From the wizard's last step to a running scan in the browser.
TEST_F(BrowserTest, TheWizardOpensTheBrowserWhichStartsTheScan) {
    bridge.devices = {
        FakeBridge::Disk("sda", 500'000'000, {FakeBridge::Volume("sda1", 500'000'000, 2)})};
    windows::RootWindowSeams seams;
    InstallResultsBrowser(seams);
    seams.exitProcess = [](int) {};
    windows::VKRootWindowController controller(seams);
    ASSERT_TRUE(controller.windowDidLoad());
    controller.showWindow();
    Pump();
    controller.selectTypeVC()->nextButtonAction();
    Pump();
    EXPECT_EQ(bridge.CountOf("DoScanWithData:sda1"), 1);
    auto* opened = dynamic_cast<VKDeletailWindowController*>(controller.deletailWC());
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(opened->window()->isVisible());
    EXPECT_EQ(bridge.treeArrays.path, &opened->rootArray(OP_TREE_PATH));
}

TEST_F(BrowserTest, HandsItsFourRootArraysToTheBridge) {
    auto& window = MakeBrowser();
    ASSERT_EQ(bridge.CountOf("VKSetTreeNodeData"), 1);
    EXPECT_EQ(bridge.treeArrays.path, &window.rootArray(OP_TREE_PATH));
    EXPECT_EQ(bridge.treeArrays.type, &window.rootArray(OP_TREE_FILE_TYPE));
    EXPECT_EQ(bridge.treeArrays.createTime, &window.rootArray(OP_TREE_CREATION_DATE));
    EXPECT_EQ(bridge.treeArrays.modifyTime, &window.rootArray(OP_TREE_MODIFICATION_DATE));
}

// Images are always scanned deep; a deep scan moves the scan controls into
// the deep-scan button's place.
TEST_F(BrowserTest, ScanKindAndRowChooseTheScan) {
    struct Case {
        const char* what;
        int edi, appleDmg, kind;
        const char* call;
        bool reset, deep;
    } const cases[] = {
        {"volume, quick", 0, 0, 1, "DoScanWithData:v", false, false},
        {"volume, deep", 0, 0, 2, "DoDeepScanWithData:v", false, true},
        {"edi image, quick", 1, 0, 1, "isEdiDoDeepScanWithData:v", true, true},
        {"disk image, quick", 0, 1, 1, "isEdiDoDeepScanWithData:v", true, true},
    };
    for (const Case& c : cases) {
        FakeBridge fresh;
        seam::SetBridge(&fresh);
        auto& window = MakeBrowser();
        // What the bridge handed over from an earlier browser's scan.
        for (int kind = 0; kind < 4; ++kind) {
            window.rootArray(kind).push_back(OpNodeData::makeGroup(kind, "earlier"));
            window.outline(kind)->reloadData();
        }
        window.setSelectDiskVolumeData(Row("v", c.edi, c.appleDmg));
        window.setScanTypeNum(c.kind);
        window.getData();
        EXPECT_EQ(fresh.CountOf(c.call), 1) << c.what;
        // The scan shows only what it finds, from its start.
        for (int kind = 0; kind < 4; ++kind) {
            EXPECT_TRUE(window.rootArray(kind).empty()) << c.what << " " << kind;
            EXPECT_EQ(window.outline(kind)->treeModel()->rowCount(), 0) << c.what << " " << kind;
        }
        EXPECT_EQ(fresh.CountOf("DoScanWithData") + fresh.CountOf("DoDeepScanWithData") +
                      fresh.CountOf("isEdiDoDeepScanWithData"),
                  1)
            << c.what;
        EXPECT_EQ(fresh.CountOf("ResetShouldBuild"), c.reset ? 1 : 0) << c.what;
        EXPECT_EQ(window.isDeepScan(), c.deep ? 1 : 0) << c.what;
        EXPECT_EQ(window.advButton()->isHidden(), c.deep) << c.what;
        const int stopX = c.deep ? 175 + 527 : 175 + 352;
        EXPECT_EQ(
            window.stopButton()->mapTo(window.stopButton()->window(), QPoint()).x() -
                window.backHomeButton()->mapTo(window.backHomeButton()->window(), QPoint()).x(),
            stopX - 20)
            << c.what;
        browser.reset();
        seam::SetBridge(&bridge);
    }
}

TEST_F(BrowserTest, LoadedResultHidesTheScanControlsAndFollowsTheLoad) {
    auto& window = MakeBrowser();
    window.getImportData(QStringLiteral("/tmp/x.Velmora"));
    EXPECT_EQ(window.isImport(), 1);
    EXPECT_EQ(bridge.CountOf("RestorPostUIUpdate:NormalScranValue:0"), 1);
    for (QWidget* hidden : std::initializer_list<QWidget*>{
             window.findFilesLabel(), window.remainTimeLabel(), window.pauseButton(),
             window.stopButton(), window.progressView(), window.advButton()})
        EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
    EXPECT_TRUE(window.backHomeButton()->isButtonUsable());
}

// Only a removal naming the disk of the scanned row stops the scan; it says
// so once and leads home.
TEST_F(BrowserTest, DeviceRemoval) {
    struct Case {
        const char* what;
        QVariant object;
        bool stops;
    } const cases[] = {
        {"another disk", QVariantMap{{"USBPath", "sdc"}}, false},
        {"no name", QVariantMap{{"VolumePath", "/dev/sdb"}}, false},
        {"no dictionary", QVariant(), false},
        {"the scanned disk", QVariantMap{{"USBPath", "sdb"}}, true},
    };
    for (const Case& c : cases) {
        FakeBridge fresh;
        seam::SetBridge(&fresh);
        wentHome = 0;
        alerts.shown.clear();
        alerts.answers = {1};
        auto volume = FakeBridge::Volume("DATA", 1'000'000, 7);
        auto disk = FakeBridge::Disk("sdb", 2'000'000, {volume});
        auto& window = MakeBrowser();
        window.setSelectDiskVolumeData(volume);
        window.getData();
        auto& center = ui::NotificationCenter::defaultCenter();
        center.post(QStringLiteral("RefreshDetachDevice"), c.object);
        Pump();
        EXPECT_EQ(fresh.CountOf("StopScan:1"), c.stops ? 1 : 0) << c.what;
        EXPECT_EQ(alerts.shown.size(), c.stops ? 1u : 0u) << c.what;
        EXPECT_EQ(wentHome, c.stops ? 1 : 0) << c.what;
        EXPECT_EQ(center.observerCount(QStringLiteral("RefreshDetachDevice")), c.stops ? 0 : 1)
            << c.what;
        if (c.stops) {
            EXPECT_EQ(alerts.shown[0].informative, QStringLiteral("The usb device is detatched!"));
            // A second removal of the same disk finds no observer.
            center.post(QStringLiteral("RefreshDetachDevice"), c.object);
            Pump();
            EXPECT_EQ(alerts.shown.size(), 1u);
            EXPECT_EQ(fresh.CountOf("StopScan:1"), 1);
        }
        browser.reset();
        seam::SetBridge(&bridge);
    }
    EXPECT_EQ(alerts.unscripted, 0);
}

// A disk shown by its model (or as untitled) is removed under its kernel
// name, which the disk page gives the row as its parent's name: that
// removal stops the scan of its volume too.
TEST_F(BrowserTest, DeviceRemovalByTheDisksKernelName) {
    alerts.answers = {1};
    auto volume = FakeBridge::Volume("DATA", 1'000'000, 7);
    volume->setParentName("loop6");
    auto& window = MakeBrowser();
    window.setSelectDiskVolumeData(volume);
    window.getData();
    auto& center = ui::NotificationCenter::defaultCenter();
    center.post(QStringLiteral("RefreshDetachDevice"), QVariantMap{{"USBPath", "loop7"}});
    Pump();
    EXPECT_EQ(bridge.CountOf("StopScan:1"), 0);
    center.post(QStringLiteral("RefreshDetachDevice"), QVariantMap{{"USBPath", "loop6"}});
    Pump();
    EXPECT_EQ(bridge.CountOf("StopScan:1"), 1);
    EXPECT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(wentHome, 1);
}

TEST_F(BrowserTest, ClosingDuringAScan) {
    struct Case {
        const char* what;
        int answer;
        int statusAfter;  // 1 stop asked, 2 running again
    } const cases[] = {
        {"stop", 1, 1},
        {"go on", 0, 2},
    };
    for (const Case& c : cases) {
        FakeBridge fresh;
        seam::SetBridge(&fresh);
        alerts.shown.clear();
        alerts.answers = {c.answer};
        PostRecorder terminate(QStringLiteral("appWillTerminate"));
        auto& window = MakeBrowser();
        window.setSelectDiskVolumeData(FakeBridge::Volume("DATA", 1'000'000, 7));
        window.getData();
        window.closeWindow();
        // The scan waits while the user decides.
        EXPECT_EQ(fresh.ScanStatus(), 3) << c.what;
        Pump();
        EXPECT_EQ(fresh.ScanStatus(), c.statusAfter) << c.what;
        ASSERT_EQ(alerts.shown.size(), 1u) << c.what;
        EXPECT_EQ(window.isCloseWindow(), c.answer == 1 ? 1 : 0) << c.what;

        // Closing again after confirming does nothing at all.
        const auto callsBefore = fresh.calls.size();
        if (c.answer == 1) {
            window.closeWindow();
            Pump();
            EXPECT_EQ(alerts.shown.size(), 1u);
            EXPECT_EQ(fresh.calls.size(), callsBefore);
            // The scan winds down: the program ends, once.
            fresh.SetScanStatus(4);
            PostScanValue();
            PostScanValue();
            EXPECT_EQ(terminate.posts.size(), 1u);
            EXPECT_FALSE(window.window()->isVisible());
        } else {
            EXPECT_EQ(window.isCanClick(), 1);
            EXPECT_TRUE(terminate.posts.empty());
        }
        browser.reset();
        seam::SetBridge(&bridge);
    }
}

TEST_F(BrowserTest, ClosingWithoutAScanOffersTheSaveFirst) {
    for (const bool save : {false, true}) {
        saveAnswer = save;
        PostRecorder terminate(QStringLiteral("appWillTerminate"));
        auto& window = MakeBrowser();
        window.window()->show();
        // The window's own close button.
        window.imageWindow()->buttonToLayout(TCImageWindow::ButtonKind::Close)->click();
        Pump();
        EXPECT_EQ(terminate.posts.size(), save ? 1u : 0u);
        EXPECT_EQ(window.window()->isVisible(), !save);
        EXPECT_TRUE(alerts.shown.empty());
        browser.reset();
    }
}

// The controls of the bars, as built; building again makes none twice but
// puts the waiting texts and the strip back.
// Without a mouse: Tab leaves the file list for the controls after it,
// instead of walking its cells for ever (a keyboard trap).
TEST_F(BrowserTest, TabLeavesTheFileList) {
    auto& window = MakeBrowser();
    QWidget* browser = window.window();
    browser->show();
    QApplication::setActiveWindow(browser);
    for (const char* name : {"tableView", "coverFlowerTableView"}) {
        auto* table = browser->findChild<QAbstractItemView*>(QString::fromLatin1(name));
        ASSERT_NE(table, nullptr) << name;
        EXPECT_FALSE(table->tabKeyNavigation()) << name;
    }
    auto* table = browser->findChild<QAbstractItemView*>(QStringLiteral("tableView"));
    table->setFocus(Qt::TabFocusReason);
    Pump();
    ASSERT_EQ(QApplication::focusWidget(), table);
    QTest::keyClick(table, Qt::Key_Tab);
    Pump();
    EXPECT_NE(QApplication::focusWidget(), table);
}

TEST_F(BrowserTest, BarsBuiltTwiceHaveNoDuplicates) {
    auto& window = MakeBrowser();
    struct Case {
        TCImageButton* button;
        const char* name;
        bool usable, hidden;
        const char* tip;
        const char* image;
    } const cases[] = {
        {window.backHomeButton(), "backHomeButton", false, false, "Back home", "icon_home_disable"},
        {window.pauseButton(), "pauseButton", false, false, "Pause", "pause_disable"},
        {window.continueScanButton(), "continueScanButton", true, true, "Continue", "play_normal"},
        {window.stopButton(), "stopButton", false, false, "Stop", "stop_disable"},
        {window.recovertyButton(), "recovertyButton", false, false, "", "btn_recover_disable"},
        {window.advButton(), "advButton", false, false, "deep scan", "btn_ds_disable"},
        {window.aboutButton(), "aboutButton", true, false, "About us", "icon_infor"},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.button, nullptr) << c.name;
        EXPECT_EQ(c.button->objectName(), QString::fromLatin1(c.name));
        EXPECT_EQ(c.button->isButtonUsable(), c.usable) << c.name;
        EXPECT_EQ(c.button->isHidden(), c.hidden) << c.name;
        EXPECT_EQ(c.button->toolTip(), QString::fromLatin1(c.tip)) << c.name;
        EXPECT_EQ(c.button->currentImageName(), QString::fromLatin1(c.image)) << c.name;
    }
    EXPECT_TRUE(window.selectFilesLabel()->isHidden());

    window.findFilesLabel()->setText(QStringLiteral("12 files"));
    window.remainTimeLabel()->setText(QStringLiteral("00:01:00"));
    window.progressView()->changeProgressValue(50);
    window.buildDetailViewWindowTitleBar();
    for (const Case& c : cases) {
        EXPECT_EQ(window.window()->findChildren<TCImageButton*>(QString::fromLatin1(c.name)).size(),
                  1)
            << c.name;
    }
    EXPECT_EQ(window.window()->findChildren<VKProgressView*>().size(), 1);
    EXPECT_EQ(window.window()->findChildren<QLabel*>(QStringLiteral("findFilesLabel")).size(), 1);
    EXPECT_EQ(window.findFilesLabel()->text(), QStringLiteral("Please wait..."));
    EXPECT_EQ(window.remainTimeLabel()->text(), QStringLiteral("Prepare to scan your drive"));
    EXPECT_EQ(VKProgressView::FillWidth(0, 900), 10);
}

// A wider window: the strip and the box follow the width, the scan
// controls and About keep their distance to the right edge, the home button
// its place; the bar stays at the bottom.
TEST_F(BrowserTest, BarsFollowTheWindowsWidth) {
    auto& window = MakeBrowser();
    window.setSelectDiskVolumeData(FakeBridge::Volume("v", 1'000'000, 7));
    window.setScanTypeNum(2);
    window.getData();
    QWidget* top = window.window();
    top->show();
    Pump();
    const auto rightGap = [top](QWidget* control) {
        return top->width() - control->mapTo(top, QPoint(control->width(), 0)).x();
    };
    const std::vector<QWidget*> anchored{window.stopButton(), window.pauseButton(),
                                         window.recovertyButton(), window.aboutButton()};
    std::vector<int> gaps;
    for (QWidget* control : anchored)
        gaps.push_back(rightGap(control));
    const QPoint home = window.backHomeButton()->mapTo(top, QPoint());
    top->resize(1300, 800);
    Pump();
    for (size_t i = 0; i < anchored.size(); ++i)
        EXPECT_EQ(rightGap(anchored[i]), gaps[i]) << anchored[i]->objectName().toStdString();
    EXPECT_EQ(window.progressView()->width(), 1300);
    EXPECT_EQ(window.backHomeButton()->mapTo(top, QPoint()).x(), home.x());
    EXPECT_EQ(window.backHomeButton()->mapTo(top, QPoint()).y(), home.y() + 800 - 596);
    EXPECT_EQ(window.filePaneSlot()->width(),
              1300 - VKDeletailWindowController::kLeftPaneWidth - 1);
}

// The line between the trees and the file pane moves with the mouse within
// its limits; the tabs and the trees take the width it gives, the file
// pane the rest.
TEST_F(BrowserTest, TheDividerBetweenTheTreesAndTheFilesMoves) {
    auto& window = MakeBrowser();
    window.setSelectDiskVolumeData(FakeBridge::Volume("v", 1'000'000, 7));
    window.setScanTypeNum(2);
    window.getData();
    window.window()->show();
    Pump();
    BrowserSplitView* split = window.splitView();
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(window.leftPaneWidth(), VKDeletailWindowController::kLeftPaneWidth);
    QSplitterHandle* handle = split->handle(1);
    auto send = [handle](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, handle->mapToGlobal(at), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(handle, &event);
    };
    const struct {
        int dx;
        int width;
    } drags[] = {{100, 324}, {500, BrowserSplitView::kLeftMax}, {-500, BrowserSplitView::kLeftMin}};
    for (const auto& drag : drags) {
        SCOPED_TRACE(drag.dx);
        const QPoint from = handle->rect().center();
        const QPoint to = from + QPoint(drag.dx, 0);
        send(QEvent::MouseButtonPress, from, Qt::LeftButton);
        send(QEvent::MouseMove, to, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to, Qt::NoButton);
        Pump();
        // The grab area of the thin line is a few points wider than the
        // line: a drag may land that much short of the mouse.
        const int width = window.leftPaneWidth();
        EXPECT_NEAR(width, drag.width, 2);
        EXPECT_EQ(window.outline(OP_TREE_PATH)->width(), width);
        EXPECT_EQ(
            window.window()->findChild<QWidget*>(QStringLiteral("timeButton"))->geometry().right(),
            width - 1);
        EXPECT_EQ(window.filePaneSlot()->width(), split->width() - width - 1);
    }
}

TEST_F(BrowserTest, ScanEndOpensTheTabsChoosesTheFirstRootAndShowsTheTotals) {
    testing::NodeForest forest;
    TestNode* fs = forest.Add(nullptr, "DATA", true);
    forest.Add(forest.Add(fs, "Photos", true), "a.jpg", false);
    auto& window = MakeBrowser();
    window.setSelectDiskVolumeData(FakeBridge::Volume("DATA", 1'000'000, 7));
    window.getData();
    window.rootArray(OP_TREE_PATH).push_back(testing::NodeForest::Root(fs));
    PostScanValue();
    // While the scan runs the tree fills but nothing is chosen.
    EXPECT_EQ(window.outline(OP_TREE_PATH)->model()->rowCount(), 1);
    EXPECT_EQ(window.opDataFile(), nullptr);

    bridge.foundBytes = 1500000;
    bridge.foundCount = 3;
    bridge.SetScanStatus(4);
    PostScanValue();
    EXPECT_EQ(window.opDataFile(), window.rootArray(OP_TREE_PATH)[0]);
    EXPECT_EQ(window.selectFilesLabel()->text(), QStringLiteral("Found 1.50 MB in 3 file(s)."));
    EXPECT_TRUE(window.outline(OP_TREE_PATH)
                    ->isExpanded(window.outline(OP_TREE_PATH)->treeModel()->rootIndex(0)));
}

// The Desktop entry shows its folder once the scan is over: while it runs
// the trees stay as they are, and the tabs stay off.
TEST_F(BrowserTest, DesktopEntryFillsTheTreesOnlyAtTheScanEnd) {
    testing::NodeForest forest;
    TestNode* fs = forest.Add(nullptr, "Macintosh HD", true);
    auto& window = MakeBrowser();
    window.setSelectDesktop(1);
    window.setSelectDiskVolumeData(FakeBridge::Volume("Macintosh HD", 1'000'000, 7));
    window.getData();
    window.rootArray(OP_TREE_PATH).push_back(testing::NodeForest::Root(fs));
    PostScanValue();
    EXPECT_EQ(window.outline(OP_TREE_PATH)->model()->rowCount(), 0);
    bridge.SetScanStatus(4);
    PostScanValue();
    EXPECT_EQ(window.outline(OP_TREE_PATH)->model()->rowCount(), 1);
    EXPECT_FALSE(window.tabButton(VKDeletailWindowController::kTypeTab)->isEnabled());
}

TEST_F(BrowserTest, TabsSwitchTreesAndAskForRecountsOnlyWhenTheScanRests) {
    struct Case {
        const char* what;
        int status;  // of the scan
        bool recount;
    } const cases[] = {
        {"no scan", 0, true},
        {"scan running", 2, false},
        {"scan paused", 3, true},
    };
    for (const Case& c : cases) {
        FakeBridge fresh;
        seam::SetBridge(&fresh);
        auto& window = MakeBrowser();
        fresh.SetScanStatus(c.status);
        window.typeButtonClick();
        window.typeButtonClick();  // already shown: nothing
        EXPECT_EQ(fresh.CountOf("SetViewType:1"), 1) << c.what;
        EXPECT_EQ(fresh.CountOf("RefreshTypeTreeState:nil"), c.recount ? 1 : 0) << c.what;
        window.modifyTimeButtonClick();
        EXPECT_EQ(fresh.CountOf("RefreshTimeTreeState:1"), c.recount ? 1 : 0) << c.what;
        EXPECT_EQ(window.selectTypeCount(), 3);
        for (int kind = 0; kind < 4; ++kind)
            EXPECT_EQ(window.outline(kind)->isHidden(), kind != 3) << c.what << kind;
        EXPECT_EQ(window.tabButton(VKDeletailWindowController::kModifyTab)->imageName(),
                  QStringLiteral("text_bg"));
        EXPECT_EQ(window.tabButton(VKDeletailWindowController::kTimeTab)->imageName(),
                  QStringLiteral("bg_tab"));
        window.pathButtonClick();
        EXPECT_EQ(window.tabButton(VKDeletailWindowController::kPathTab)->imageName(),
                  QStringLiteral("bg_tab"));
        EXPECT_TRUE(window.tabButton(VKDeletailWindowController::kTimeTab)->imageName().isEmpty());
        browser.reset();
        seam::SetBridge(&bridge);
    }
}

}  // namespace
}  // namespace velmora::browser
