// The results browser as the program hosts it: a scripted scan fills the
// trees, a folder chosen in a tree is listed in the file pane, the three view
// modes, the search field, the Recover and home buttons, closing with
// unsaved results, and pictures of the window in each mode.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <deque>

#include "Browser/BrowserTimers.h"
#include "Browser/CommOutlineView.h"
#include "Browser/FileListModel.h"
#include "Browser/FileListPane.h"
#include "Browser/FileViewModes.h"
#include "Browser/ProgramWindows.h"
#include "Browser/ResultTreeModel.h"
#include "Browser/VKCoverFlowMode.h"
#include "Browser/VKCoverFlowView.h"
#include "Browser/VKGridMode.h"
#include "Browser/VKRecoverController.h"
#include "Browser/VKRecoverFolderSheet.h"
#include "Browser/VKResultFilePane.h"
#include "Browser/VKScanControl.h"
#include "BrowserTestSupport.h"
#include "CNGridView/CNGridView.h"
#include "CNGridView/CNGridViewItem.h"
#include "TopView/ApplicationMenuButton.h"
#include "TopView/TCImageButton.h"
#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/UserDefaults.h"
#include "Widgets/VKNSTableView.h"
#include "Windows/DeviceListRefresher.h"
#include "Windows/VKRootWindowController.h"

namespace velmora::browser {
namespace {

using seam::FakeBridge;
using testing::NodeForest;
using windows::testing::PostRecorder;
using windows::testing::Pump;

// Turns the event loop until `done`, or gives up after 20 s.
bool RunUntilIdle(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 20000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// The recovery's folder sheet: answers from its script after Begin returned.
struct ScriptedFolderSheet : VKRecoverFolderSheet {
    std::deque<std::optional<QString>> answers;
    int begun = 0;
    void Begin(QWidget*, const QString&, const QString&, const QRect& frame, Done done) override {
        ++begun;
        std::optional<QString> answer;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        QMetaObject::invokeMethod(
            qApp, [done, answer, frame] { done(answer, frame); }, Qt::QueuedConnection);
    }
};

// A volume with two folders: DCIM (three pictures and a note) and Docs (one
// file), and an empty folder.
struct ScannedVolume {
    NodeForest forest;
    TestNode* volume;
    TestNode* dcim;
    TestNode* docs;
    TestNode* empty;
    std::vector<TestNode*> pictures;
    TestNode* note;

    ScannedVolume() {
        volume = forest.Add(nullptr, "DATA", true);
        dcim = forest.Add(volume, "DCIM", true);
        docs = forest.Add(volume, "Docs", true);
        empty = forest.Add(volume, "Empty", true);
        for (const char* name : {"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg"}) {
            pictures.push_back(forest.Add(dcim, name, false));
            pictures.back()->size = 2'000'000;
        }
        note = forest.Add(dcim, "note.txt", false);
        note->size = 1200;
        forest.Add(docs, "report.doc", false)->size = 50'000;
    }
};

class BrowserHostTest : public windows::testing::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ui::SetAlertPresenter(&alerts);
        ui::SetClock(&clock);
        CNGridView::SetAnimationScale(0);
        // The deep-scan offer is made after the first quick scans only.
        ui::PrivateSettings::shared().setValue(QStringLiteral("IsFristTime"), QStringLiteral("2"));
        ui::UserDefaults::standard().remove(QStringLiteral("searchRecent"));
    }
    void TearDown() override {
        browser.reset();
        WindowTest::TearDown();
        CNGridView::SetAnimationScale(1);
        ui::SetClock(nullptr);
        ui::SetAlertPresenter(nullptr);
    }

    VKDeletailWindowController& MakeBrowser() {
        BrowserSeams seams;
        seams.goHome = [this] { ++wentHome; };
        seams.folderSheet = &sheet;
        seams.timers = &timers;
        seams.chooseSaveFile = [this](const QString&) -> std::optional<QString> {
            ++savePanels;
            return savePath;
        };
        seams.runSaveProgress = [this](const QString&) { return saveSucceeds ? 1 : 0; };
        seams.pictures = [this](const OpNodePtr& node, std::stop_token stop) {
            return bridge.GetNSImageByNode(node, stop);
        };
        browser = std::make_unique<VKDeletailWindowController>(seams);
        return *browser;
    }

    static void PostScanValue() {
        ui::NotificationCenter::defaultCenter().post(QStringLiteral("NormalScranValue"),
                                                     QStringLiteral("VKUIPublic"));
    }

    // The scan starts, finds the volume's root, and ends.
    VKDeletailWindowController& ScanToTheEnd() {
        auto& window = MakeBrowser();
        window.setSelectDiskVolumeData(FakeBridge::Volume("DATA", 1'000'000, 7));
        window.getData();
        window.window()->show();
        {
            auto lock = bridge.LockTreeData();
            bridge.treeArrays.path->push_back(NodeForest::Root(volume.volume));
        }
        bridge.scanPercent = 40;
        bridge.scanFiles = 5;
        PostScanValue();
        bridge.scanPercent = 100;
        bridge.SetScanStatus(4);
        PostScanValue();
        Pump();
        return window;
    }

    // Chooses the root's folder `name` in the path tree, as a click does.
    static void ChooseFolder(VKDeletailWindowController& window, const std::string& name) {
        CommOutlineView* tree = window.outline(OP_TREE_PATH);
        const QModelIndex root = tree->treeModel()->rootIndex(0);
        tree->expand(root);
        for (int row = 0; row < tree->model()->rowCount(root); ++row) {
            const QModelIndex index = tree->model()->index(row, 0, root);
            if (tree->treeModel()->nodeAt(index)->name() == name) {
                tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
                return;
            }
        }
        ADD_FAILURE() << name << " is not in the path tree";
    }

    static std::vector<std::string> Listed(VKDeletailWindowController& window) {
        FileListModel* model = window.resultFilePane()->list()->model();
        std::vector<std::string> names;
        for (int row = 0; row < model->rowCount(); ++row)
            names.push_back(model->cellText(row, kNameColumn).toStdString());
        std::sort(names.begin(), names.end());
        return names;
    }

    ScannedVolume volume;
    ui::ScriptedAlerts alerts;
    ui::ManualClock clock{QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))};
    ManualTimers timers{clock};
    ScriptedFolderSheet sheet;
    std::optional<QString> savePath;
    bool saveSucceeds = true;
    int savePanels = 0;
    int wentHome = 0;
    std::unique_ptr<VKDeletailWindowController> browser;
};

TEST_F(BrowserHostTest, HostsTheFilePaneWithItsModesAndTheControllers) {
    auto& window = MakeBrowser();
    VKResultFilePane* pane = window.resultFilePane();
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->widget()->parentWidget(), window.filePaneSlot());
    EXPECT_NE(window.scanControl(), nullptr);
    EXPECT_NE(window.searchController(), nullptr);
    EXPECT_NE(window.saveController(), nullptr);
    EXPECT_NE(window.recoverController(), nullptr);
    // Before the scan ends there is nothing to search, save or recover.
    EXPECT_FALSE(window.searchField()->isEnabled());
    EXPECT_FALSE(window.exportButton()->isButtonUsable());
    EXPECT_FALSE(window.recovertyButton()->isButtonUsable());
}

// A browser that goes takes its root arrays back from the bridge: a scan
// told to stop may still be winding down and would fill freed arrays.
TEST_F(BrowserHostTest, ABrowserThatGoesLeavesTheBridgeNoArraysOfItsOwn) {
    MakeBrowser();
    ASSERT_NE(bridge.treeArrays.path, nullptr);
    browser.reset();
    EXPECT_EQ(bridge.treeArrays.path, nullptr);
    EXPECT_EQ(bridge.treeArrays.type, nullptr);
    EXPECT_EQ(bridge.treeArrays.createTime, nullptr);
    EXPECT_EQ(bridge.treeArrays.modifyTime, nullptr);
}

// The scan fills the path tree; its end chooses the root and lists it; a
// folder chosen in the tree is listed in the pane.
TEST_F(BrowserHostTest, AScriptedScanFillsTheTreesAndAChosenFolderIsListed) {
    auto& window = ScanToTheEnd();
    EXPECT_EQ(window.outline(OP_TREE_PATH)->model()->rowCount(), 1);
    EXPECT_EQ(Listed(window), (std::vector<std::string>{"DCIM", "Docs", "Empty"}));
    // The scan's end changed the bar over: search and save open, the scan
    // controls gone.
    EXPECT_TRUE(window.searchField()->isEnabled());
    EXPECT_TRUE(window.exportButton()->isButtonUsable());
    EXPECT_TRUE(window.pauseButton()->isHidden());
    EXPECT_TRUE(window.stopButton()->isHidden());
    EXPECT_FALSE(window.selectFilesLabel()->isHidden());

    const struct {
        const char* folder;
        std::vector<std::string> files;
        bool note;
    } cases[] = {
        {"DCIM", {"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg", "note.txt"}, false},
        {"Docs", {"report.doc"}, false},
        {"Empty", {}, true},
    };
    FileViewModes* modes = window.resultFilePane()->modes();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        ChooseFolder(window, c.folder);
        EXPECT_EQ(window.opDataFile()->name(), c.folder);
        EXPECT_EQ(Listed(window), c.files);
        EXPECT_EQ(modes->gridNoValueView() != nullptr, c.note);
    }
}

// A refresh under way when the scan ended finds it ended as well: only the
// first takes the end (the offer, the root chosen); the later one brings its
// nodes in under the folder the user has chosen since. A new scan in the
// same window takes its own end again.
TEST_F(BrowserHostTest, TheScansEndIsTakenOnceWhateverTheRefreshesThatFindIt) {
    ui::PrivateSettings& settings = ui::PrivateSettings::shared();
    settings.setValue(QStringLiteral("IsFristTime"), QStringLiteral("0"));
    auto& window = ScanToTheEnd();
    EXPECT_EQ(settings.value(QStringLiteral("IsFristTime")).toInt(), 1);
    ChooseFolder(window, "Docs");
    volume.forest.Add(volume.docs, "late.doc", false);
    PostScanValue();
    Pump();
    ASSERT_NE(window.opDataFile(), nullptr);
    EXPECT_EQ(window.opDataFile()->name(), "Docs");
    EXPECT_EQ(settings.value(QStringLiteral("IsFristTime")).toInt(), 1);

    window.getData();
    {
        auto lock = bridge.LockTreeData();
        bridge.treeArrays.path->push_back(NodeForest::Root(volume.volume));
    }
    // It ends before any refresh has seen it run.
    bridge.SetScanStatus(4);
    PostScanValue();
    Pump();
    ASSERT_NE(window.opDataFile(), nullptr);
    EXPECT_EQ(window.opDataFile()->name(), "DATA");
}

TEST_F(BrowserHostTest, TheSegmentSwitchesListGridAndCoverFlow) {
    auto& window = ScanToTheEnd();
    ChooseFolder(window, "DCIM");
    VKResultFilePane* pane = window.resultFilePane();
    FileViewModes* modes = pane->modes();
    ASSERT_TRUE(modes->segment()->isEnabled());
    const struct {
        int segment;
        QWidget* shown;
    } steps[] = {
        {FileListPane::kGridMode, modes->gridView()},
        {FileListPane::kCoverFlowMode, modes->coverFlower()},
        {FileListPane::kListMode, modes->listTableViewBlowView()},
        {FileListPane::kCoverFlowMode, modes->coverFlower()},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.segment);
        modes->segmentButtons()->button(step.segment)->click();
        Pump();
        EXPECT_EQ(modes->selectSegmentCount(), step.segment);
        EXPECT_TRUE(step.shown->isVisible());
        if (step.segment == FileListPane::kGridMode)
            EXPECT_EQ(pane->gridMode()->numberOfItemsInSection(pane->grid(), 0), 4);
        if (step.segment == FileListPane::kCoverFlowMode) {
            EXPECT_EQ(pane->coverFlow()->itemsCount(), 4);
            EXPECT_EQ(pane->coverFlow()->selectedIndex(), 0);
        }
    }
    // Another folder in cover-flow mode: the flow follows the list.
    ChooseFolder(window, "Docs");
    EXPECT_EQ(pane->coverFlow()->itemsCount(), 1);
    pane->stopImageLoading();
}

// Return in the search field runs the search through the controller; its
// end lists the hits.
TEST_F(BrowserHostTest, TheSearchFieldSearchesAndListsTheHits) {
    auto& window = ScanToTheEnd();
    QLineEdit* field = window.searchField();
    field->setText(QStringLiteral(" IMG "));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(bridge.CountOf("DoSearchWithString:IMG:DoSearchValue"), 1);
    // The home button waits for the search.
    EXPECT_FALSE(window.backHomeButton()->isButtonUsable());
    EXPECT_TRUE(Listed(window).empty());
    // The bridge refills the trees, then ends.
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("DoSearchValue"));
    bridge.searchHits = {volume.pictures[0], volume.pictures[2]};
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("DoSearchFinished"));
    Pump();
    EXPECT_EQ(bridge.CountOf("StopSearch"), 1);
    EXPECT_EQ(Listed(window), (std::vector<std::string>{"IMG_1.jpg", "IMG_3.jpg"}));
    EXPECT_TRUE(window.backHomeButton()->isButtonUsable());
    // The same text again searches nothing.
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(bridge.CountOf("DoSearchWithString"), 1);
}

// Ticking files opens the Recover button; it asks for a folder (the sheet)
// and starts the recovery of the shown tab's roots there.
TEST_F(BrowserHostTest, RecoverAsksForAFolderAndStartsTheRecovery) {
    auto& window = ScanToTheEnd();
    ChooseFolder(window, "DCIM");
    bridge.selectedCount = 2;
    bridge.selectedSize = 4'000'000;
    FileListPane* list = window.resultFilePane()->list();
    list->nsbuttonCellClick(0);
    list->nsbuttonCellClick(1);
    ASSERT_TRUE(window.recovertyButton()->isButtonUsable());
    EXPECT_TRUE(window.selectFilesLabel()->text().contains(QStringLiteral("2")));

    QTemporaryDir destination;
    sheet.answers = {destination.path()};
    modal.Answer(0);  // the progress window, run while the recovery goes
    window.recovertyButton()->click();
    Pump();
    EXPECT_EQ(sheet.begun, 1);
    ASSERT_EQ(bridge.CountOf("DoRecovery"), 1);
    EXPECT_EQ(bridge.CountOf("DoRecovery:" + destination.path().toStdString() + ":DoRecovery"), 1);
    EXPECT_EQ(bridge.recoveryRoots, &window.rootArray(OP_TREE_PATH));
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("DoRecovery"));
    Pump();
    ASSERT_EQ(modal.shown.size(), 1u);
    EXPECT_NE(window.recoverController()->recoveryProgressWindow(), nullptr);
}

// Home with results not saved: the offer to save; leaving without saving
// hides the browser and opens the main window.
TEST_F(BrowserHostTest, BackHomeOffersTheSaveAndReturnsToTheMainWindow) {
    const struct {
        const char* what;
        int answer;
        bool home;
        int panels;
    } cases[] = {
        {"stay", 0, false, 0},
        {"leave without saving", -1, true, 0},
        {"save, then leave", 1, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        wentHome = 0;
        savePanels = 0;
        alerts.shown.clear();
        alerts.answers = {c.answer};
        QTemporaryDir folder;
        savePath = folder.filePath(QStringLiteral("scan.Velmora"));
        bridge.SetScanStatus(0);
        auto& window = ScanToTheEnd();
        window.backHomeButton()->click();
        Pump();
        timers.advanceMs(1000);
        ASSERT_EQ(alerts.shown.size(), 1u);
        EXPECT_EQ(alerts.shown[0].message, ui::texts::Text(QStringLiteral("PLX_SAVE_OFFER_TITLE")));
        EXPECT_EQ(wentHome, c.home ? 1 : 0);
        EXPECT_EQ(window.window()->isVisible(), !c.home);
        EXPECT_EQ(savePanels, c.panels);
        if (c.panels)
            EXPECT_EQ(bridge.CountOf("beginSaveOrRestoreNode:1:" + savePath->toStdString()), 1);
        browser.reset();
    }
}

// The window's close button with results not saved asks first; staying
// keeps the window, a save that failed keeps it too.
TEST_F(BrowserHostTest, ClosingWithUnsavedResultsAsks) {
    const struct {
        const char* what;
        int answer;
        bool saves;
        bool closes;
    } cases[] = {
        {"stay", 0, true, false},
        {"leave", -1, true, true},
        {"save", 1, true, true},
        {"save fails", 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        alerts.shown.clear();
        alerts.answers = {c.answer};
        saveSucceeds = c.saves;
        QTemporaryDir folder;
        savePath = folder.filePath(QStringLiteral("scan.Velmora"));
        bridge.SetScanStatus(0);
        PostRecorder terminate(QStringLiteral("appWillTerminate"));
        auto& window = ScanToTheEnd();
        window.imageWindow()->buttonToLayout(TCImageWindow::ButtonKind::Close)->click();
        Pump();
        ASSERT_EQ(alerts.shown.size(), 1u);
        EXPECT_EQ(terminate.posts.size(), c.closes ? 1u : 0u);
        EXPECT_EQ(window.window()->isVisible(), !c.closes);
        // Saved once: closing again asks nothing.
        if (c.answer == 1 && c.saves) {
            EXPECT_TRUE(window.saveController()->bSave());
        }
        browser.reset();
    }
    EXPECT_EQ(alerts.unscripted, 0);
}

// The main window opens the hosted browser when its scan starts.
TEST_F(BrowserHostTest, TheMainWindowsScanOpensTheHostedBrowser) {
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
    auto* opened = dynamic_cast<VKDeletailWindowController*>(controller.deletailWC());
    ASSERT_NE(opened, nullptr);
    EXPECT_NE(opened->resultFilePane(), nullptr);
    EXPECT_NE(opened->scanControl(), nullptr);
    EXPECT_TRUE(opened->window()->isVisible());
}

// The program's way home: the browser goes and a new main window comes in
// place of the one that opened it.
TEST_F(BrowserHostTest, HomeFromTheProgramsBrowserOpensANewMainWindow) {
    bridge.devices = {
        FakeBridge::Disk("sda", 500'000'000, {FakeBridge::Volume("sda1", 500'000'000, 2)})};
    windows::RootWindowSeams seams;
    seams.exitProcess = [](int) {};
    BrowserSeams browserSeams;
    browserSeams.timers = &timers;
    browserSeams.folderSheet = &sheet;
    int afterHome = 0;
    browserSeams.goHome = [&afterHome] { ++afterHome; };
    ProgramWindows program(seams, browserSeams);
    ASSERT_NE(program.openRootWindow({}), nullptr);
    windows::VKRootWindowController* first = program.root();
    first->showWindow();
    Pump();
    first->selectTypeVC()->nextButtonAction();
    Pump();
    auto* opened = dynamic_cast<VKDeletailWindowController*>(first->deletailWC());
    ASSERT_NE(opened, nullptr);
    ASSERT_EQ(bridge.CountOf("DoScanWithData:sda1"), 1);
    EXPECT_FALSE(first->window()->isVisible());
    {
        auto lock = bridge.LockTreeData();
        bridge.treeArrays.path->push_back(NodeForest::Root(volume.volume));
    }
    bridge.SetScanStatus(4);
    PostScanValue();
    Pump();

    // A disk coming while the browser is open rebuilds nothing: that would
    // stop the scan.
    windows::DeviceListRefresher::shared().request();
    Pump();
    windows::DeviceListRefresher::shared().waitIdle();
    EXPECT_EQ(bridge.CountOf("RefreshDeviceInfo"), 0);

    alerts.answers = {-1};  // leave without saving
    opened->backHomeButton()->click();
    EXPECT_EQ(program.homes(), 1);
    EXPECT_FALSE(opened->window()->isVisible());
    Pump();
    ASSERT_NE(program.root(), nullptr);
    EXPECT_NE(static_cast<void*>(program.root()), static_cast<void*>(first));
    EXPECT_TRUE(program.root()->window()->isVisible());
    EXPECT_EQ(program.root()->deletailWC(), nullptr);
    EXPECT_EQ(afterHome, 1);
    // The disks are listed again on the way home (one pulled during the
    // scan is gone, one plugged in is there), off the interface thread.
    windows::DeviceListRefresher::shared().waitIdle();
    EXPECT_EQ(bridge.CountOf("RefreshDeviceInfo"), 1);
    // The new main window opens a browser again.
    program.root()->selectTypeVC()->nextButtonAction();
    Pump();
    EXPECT_EQ(bridge.CountOf("DoScanWithData:sda1"), 2);
    EXPECT_NE(program.root()->deletailWC(), nullptr);
}

// The program's windows draw their own title bars: the main window, the
// browser it opens and the main window after going home each carry the
// button opening the application menu, and the menu's key equivalents work
// in each of them.
TEST_F(BrowserHostTest, EveryProgramWindowOpensTheApplicationMenu) {
    bridge.devices = {
        FakeBridge::Disk("sda", 500'000'000, {FakeBridge::Volume("sda1", 500'000'000, 2)})};
    QMenu menu;
    int quits = 0;
    QAction* quit = menu.addAction(QStringLiteral("Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(quit, &QAction::triggered, [&quits] { ++quits; });
    windows::RootWindowSeams seams;
    seams.exitProcess = [](int) {};
    seams.applicationMenu = [&menu] { return &menu; };
    BrowserSeams browserSeams;
    browserSeams.timers = &timers;
    browserSeams.folderSheet = &sheet;
    browserSeams.applicationMenu = seams.applicationMenu;
    ProgramWindows program(seams, browserSeams);
    ASSERT_NE(program.openRootWindow({}), nullptr);

    auto opensTheMenu = [&](QWidget* window, ApplicationMenuButton* button) {
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->isVisible());
        // Inside the window, right of everything else in the title bar.
        EXPECT_TRUE(window->rect().contains(button->mapTo(window, button->rect().bottomRight())));
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isVisible(); }, 2000));
        menu.hide();
        const int before = quits;
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(quits, before + 1) << "Ctrl+Q in " << window->objectName().toStdString();
    };
    windows::VKRootWindowController* first = program.root();
    first->showWindow();
    Pump();
    opensTheMenu(first->window(), first->menuButton());
    first->selectTypeVC()->nextButtonAction();
    Pump();
    auto* opened = dynamic_cast<VKDeletailWindowController*>(first->deletailWC());
    ASSERT_NE(opened, nullptr);
    Pump();
    opensTheMenu(opened->window(), opened->menuButton());
    EXPECT_GT(opened->menuButton()->x(), opened->aboutButton()->x() + 16);
    bridge.SetScanStatus(4);
    PostScanValue();
    Pump();
    alerts.answers = {-1};  // leave without saving
    opened->backHomeButton()->click();
    QTest::qWait(400);
    ASSERT_NE(program.root(), first);
    opensTheMenu(program.root()->window(), program.root()->menuButton());
}

// The end of a recovery waits for its OK: the home button under it asks
// nothing, and going home all the same (the disk was pulled) keeps the
// browser whose code waits for that window until the window is answered.
TEST_F(BrowserHostTest, HomeWhileTheRecoveryEndWindowIsOpen) {
    bridge.devices = {
        FakeBridge::Disk("sda", 500'000'000, {FakeBridge::Volume("sda1", 500'000'000, 2)})};
    windows::RootWindowSeams seams;
    seams.exitProcess = [](int) {};
    BrowserSeams browserSeams;
    browserSeams.timers = &timers;
    browserSeams.folderSheet = &sheet;
    ProgramWindows program(seams, browserSeams);
    ASSERT_NE(program.openRootWindow({}), nullptr);
    windows::VKRootWindowController* first = program.root();
    first->showWindow();
    Pump();
    first->selectTypeVC()->nextButtonAction();
    Pump();
    auto* opened = dynamic_cast<VKDeletailWindowController*>(first->deletailWC());
    ASSERT_NE(opened, nullptr);
    {
        auto lock = bridge.LockTreeData();
        bridge.treeArrays.path->push_back(NodeForest::Root(volume.volume));
    }
    bridge.SetScanStatus(4);
    PostScanValue();
    Pump();

    ChooseFolder(*opened, "DCIM");
    bridge.selectedCount = 2;
    bridge.selectedSize = 4'000'000;
    opened->resultFilePane()->list()->nsbuttonCellClick(0);
    QTemporaryDir destination;
    sheet.answers = {destination.path()};
    modal.Answer(0);  // the progress window
    bool endWindowRan = false;
    modal.script.push_back([&](QWidget* window) {
        endWindowRan = true;
        EXPECT_EQ(window->objectName(), QStringLiteral("VKScanEndSaveWindowController"));
        opened->backHomeButton()->click();
        Pump();
        EXPECT_TRUE(alerts.shown.empty()) << "a question over the end window";
        EXPECT_EQ(program.homes(), 0);
        // Home without a question, as a pulled disk leads there.
        opened->doBackHomeAction(0);
        QTest::qWait(400);
        EXPECT_EQ(program.homes(), 1);
        EXPECT_NE(program.root(), first);
        return 0;
    });
    opened->recovertyButton()->click();
    Pump();
    bridge.recoveryStatus = 2;
    bridge.recoveryTotal = 4;
    bridge.recoveryCurrent = 1;
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("DoRecovery"),
                                                 QStringLiteral("VKUIPublic"));
    Pump();
    bridge.recoveryStatus = 4;
    bridge.recoveryCurrent = 4;
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("DoRecovery"),
                                                 QStringLiteral("VKUIPublic"));
    Pump();
    EXPECT_TRUE(endWindowRan);
    QTest::qWait(400);
    EXPECT_TRUE(program.root()->window()->isVisible());
    EXPECT_EQ(modal.unscripted, 0);
}

// Pictures for the eye: the browser in each mode at its own size and at a
// small one. Nothing may be cut off or show a raw key.
TEST_F(BrowserHostTest, Screenshots) {
    QTemporaryDir pictures;
    const QColor colours[] = {QColor(200, 80, 60), QColor(60, 140, 200), QColor(90, 170, 90)};
    for (size_t i = 0; i < volume.pictures.size(); ++i) {
        QImage image(320, 240, QImage::Format_RGB32);
        image.fill(colours[i]);
        const QString path = pictures.filePath(QStringLiteral("p%1.png").arg(i));
        ASSERT_TRUE(image.save(path));
        bridge.pictureFiles[volume.pictures[i]->GetFileName()] = path.toStdString();
    }
    auto& window = ScanToTheEnd();
    ChooseFolder(window, "DCIM");
    VKResultFilePane* pane = window.resultFilePane();
    const QString dir = QStringLiteral(VELMORA_WINDOW_SHOTS_DIR);
    QDir().mkpath(dir);
    const struct {
        const char* name;
        int mode;
    } modes[] = {{"list", 0}, {"grid", 1}, {"coverflow", 2}};
    for (const QSize asked : {QSize(900, 596), QSize(720, 400), QSize(1280, 800)}) {
        window.window()->resize(asked);
        Pump();
        // Never narrower than the bottom bar's design.
        const QSize size = window.window()->size();
        EXPECT_GE(size.width(), VKDeletailWindowController::kWidth);
        EXPECT_GE(size.height(), VKDeletailWindowController::kMinimumHeight);
        for (const auto& m : modes) {
            pane->modes()->segmentButtons()->button(m.mode)->click();
            if (m.mode == FileListPane::kGridMode) {
                // The grid asks for its items once laid out: every item in
                // sight shows its picture, the note its file's placeholder.
                ASSERT_TRUE(RunUntilIdle([&] {
                    int shown = 0;
                    for (qint64 index : pane->grid()->visibleIndexes()) {
                        auto* item =
                            static_cast<CNGridViewItem*>(pane->grid()->visibleItemAtIndex(index));
                        shown += item && item->itemImage().size() == QSize(320, 240) ? 1 : 0;
                    }
                    return shown == 3;
                }));
            }
            if (m.mode == FileListPane::kCoverFlowMode)
                ASSERT_TRUE(RunUntilIdle(
                    [&] { return pane->coverFlowMode()->loader().state() == kLoaderStopped; }));
            Pump();
            const QString file = QStringLiteral("%1/browser_%2_%3x%4.png")
                                     .arg(dir, QLatin1String(m.name))
                                     .arg(size.width())
                                     .arg(size.height());
            ASSERT_TRUE(window.window()->grab().save(file)) << file.toStdString();
        }
    }
    // At the smallest size every column of the list is in sight.
    window.window()->resize(VKDeletailWindowController::kWidth,
                            VKDeletailWindowController::kMinimumHeight);
    pane->modes()->segmentButtons()->button(FileListPane::kListMode)->click();
    Pump();
    VKNSTableView* table = pane->modes()->tableView();
    EXPECT_FALSE(table->horizontalScrollBar()->isVisible());
    EXPECT_GE(table->horizontalHeader()->sectionSize(kCreatedColumn), 100);
    // No text of the window is a key without its English.
    for (QLabel* label : window.window()->findChildren<QLabel*>()) {
        EXPECT_FALSE(label->text().startsWith(QStringLiteral("PLX_")))
            << label->objectName().toStdString();
    }
    pane->stopImageLoading();
}

}  // namespace
}  // namespace velmora::browser
