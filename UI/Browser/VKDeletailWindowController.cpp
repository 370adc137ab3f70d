#include "Browser/VKDeletailWindowController.h"

#include <QAction>
#include <QDebug>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "BridgeSeam/IBridge.h"
#include "Browser/Autoresizing.h"
#include "Browser/BrowserSplitView.h"
#include "Browser/BrowserTabButton.h"
#include "Browser/CommOutlineView.h"
#include "Browser/FileViewModes.h"
#include "Browser/VKRecoverController.h"
#include "Browser/VKRecoverHost.h"
#include "Browser/VKResultFilePane.h"
#include "Browser/VKScanControl.h"
#include "Browser/VKSearchController.h"
#include "Resources/FontRegistry.h"
#include "Resources/ImageRegistry.h"
#include "TopView/ApplicationMenuButton.h"
#include "TopView/TCImageButton.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "UIPlatform/WindowBuilder.h"
#include "Widgets/VKProgressView.h"
#include "Windows/DiskTexts.h"

namespace velmora::browser {

namespace {

const QString kNormalScranValue = QStringLiteral("NormalScranValue");
const QString kRefreshDetachDevice = QStringLiteral("RefreshDetachDevice");
const QString kRefreshTableView = QStringLiteral("RefreshTableView");
const QString kChangeWindowTitle = QStringLiteral("ChangeWindowTitle");
const QString kAppWillTerminate = QStringLiteral("appWillTerminate");

// Frames of the designs, in points from the bottom left of their parent.
QRect Frame(double x, double y, double w, double h, int parentHeight) {
    return ui::ToQtRect({x, y, w, h}, parentHeight);
}

QLabel* MakeText(QWidget* parent, const QRect& frame, const QString& text, const QFont& font) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(frame);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    return label;
}

TCImageButton* MakeButton(QWidget* parent, const QString& outlet, const QRect& frame,
                          const QString& stem, const QString& tip) {
    auto* button = new TCImageButton(frame, parent);
    button->setObjectName(outlet);
    button->setImageFromFileNormalName(
        stem + QStringLiteral("_normal"), stem + QStringLiteral("_press"),
        stem + QStringLiteral("_hover"), stem + QStringLiteral("_disable"));
    if (!tip.isEmpty())
        button->setToolTip(tip);
    return button;
}

QString SelectedText(const QString& size, int count) {
    return ui::texts::FormatText(QStringLiteral("You have selected %@ in %d file(s)."),
                                 {size, count});
}

}  // namespace

// What the recovery asks of the browser.
class VKDeletailWindowController::RecoverHost : public VKRecoverHost {
public:
    explicit RecoverHost(VKDeletailWindowController& browser) : browser_(browser) {}
    QWidget* browserWindow() override { return browser_.aWindow_; }
    bool isScanRunningUnpaused() override { return browser_.scanRunningUnpaused(); }
    int64_t selectTypeCount() override { return browser_.selectTypeCount_; }
    std::vector<OpNodePtr>* rootArray(int kind) override {
        if (kind < 0 || kind > 3)
            return nullptr;
        return &browser_.roots_[static_cast<size_t>(kind)];
    }
    void setRecoverButtonEnabled(bool enabled) override {
        browser_.recovertyButton_->setButtonEnabled(enabled);
    }
    void setSelectFilesText(const QString& text) override {
        browser_.selectFilesLabel_->setText(text);
    }

private:
    VKDeletailWindowController& browser_;
};

VKDeletailWindowController::VKDeletailWindowController(BrowserSeams seams, QObject* parent)
    : QObject(parent), seams_(std::move(seams)), autoresizing_(new Autoresizing(this)) {
    aWindow_ = new TCImageWindow();
    aWindow_->setObjectName(QStringLiteral("ExhibitionXib"));
    aWindow_->resize(kWidth, kContentHeight + static_cast<int>(kTitleBarHeight));
    // The bottom bar's texts and buttons share its designed width: narrower,
    // the buttons that keep to the right edge would cover the texts.
    aWindow_->setMinimumSize(kWidth, kMinimumHeight);
    // Every close from outside (the window's close button) goes through
    // closeWindow, which asks first while a scan runs.
    aWindow_->installEventFilter(this);
    awakeFromNib();
    windowDidLoad();
    makeControllers();
    setFilePane(seams_.makeFilePane ? seams_.makeFilePane()
                                    : std::make_unique<VKResultFilePane>(seams_.pictures));
}

VKDeletailWindowController::~VKDeletailWindowController() {
    ui::NotificationCenter::defaultCenter().removeObserver(this);
    // The controllers and the pane hold the window's controls, and the
    // pane's loaders may still hand pictures to its views: they go first.
    recover_.reset();
    scanControl_.reset();
    save_.reset();
    search_.reset();
    filePane_.reset();
    // The bridge must not fill the root arrays of a browser that is gone
    // (a scan told to stop may still be winding down).
    const seam::TreeNodeArrays none{};
    seam::Bridge().VKSetTreeNodeData(&none);
    // The window sends events while it is torn down; we are gone by then.
    autoresizing_->detach();
    if (aWindow_) {
        aWindow_->removeEventFilter(this);
        contentView_->removeEventFilter(this);
    }
    delete aWindow_;
}

bool VKDeletailWindowController::eventFilter(QObject* watched, QEvent* event) {
    // The event's type first: the guarded pointer would cast a window that
    // is being destroyed to the window class it no longer is.
    if (event->type() == QEvent::Resize && watched == contentView_) {
        layoutContent();
        return false;
    }
    if (event->type() == QEvent::Resize && watched == splistLeftView_) {
        layoutLeftPane();
        return false;
    }
    if (event->type() == QEvent::Close && watched == aWindow_) {
        event->ignore();
        QMetaObject::invokeMethod(
            this, [this] { closeWindow(); }, Qt::QueuedConnection);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

QWidget* VKDeletailWindowController::window() {
    return aWindow_;
}

void VKDeletailWindowController::awakeFromNib() {
    ui::NotificationCenter::defaultCenter().addObserver(
        this, kRefreshDetachDevice,
        [this](const ui::Notification& note) { RefreshDevice(note.object); });

    contentView_ = new QWidget();
    contentView_->setObjectName(QStringLiteral("contentView"));
    contentView_->setAutoFillBackground(true);
    QPalette palette = contentView_->palette();
    palette.setColor(QPalette::Window, Qt::white);
    contentView_->setPalette(palette);
    aWindow_->setContentView(contentView_);
    contentView_->installEventFilter(this);

    const int splitHeight = kContentHeight - kBottomBarHeight;
    // The trees and the file pane share the width; the user moves the line
    // between them within the split view's limits.
    splistView_ = new BrowserSplitView(contentView_);
    splistView_->setObjectName(QStringLiteral("splistView"));
    splistView_->setHandleWidth(1);
    splistView_->setStyleSheet(
        QStringLiteral("QSplitter::handle { background: rgb(217, 217, 217); }"));
    splistView_->setGeometry(0, 0, kWidth, splitHeight);

    splistLeftView_ = new QWidget();
    splistLeftView_->setObjectName(QStringLiteral("splistLeftView"));
    splistLeftView_->setAutoFillBackground(true);
    QPalette left = splistLeftView_->palette();
    left.setColor(QPalette::Window, QColor(245, 245, 245));
    splistLeftView_->setPalette(left);
    splistView_->addWidget(splistLeftView_);

    filePaneSlot_ = new QWidget();
    filePaneSlot_->setObjectName(QStringLiteral("filePaneSlot"));
    splistView_->addWidget(filePaneSlot_);
    // A wider window widens the file pane; the trees keep their width.
    splistView_->setStretchFactor(0, 0);
    splistView_->setStretchFactor(1, 1);
    splistView_->setSizes({kLeftPaneWidth, kWidth - kLeftPaneWidth - 1});
    splistLeftView_->installEventFilter(this);
    auto* slotLayout = new QVBoxLayout(filePaneSlot_);
    slotLayout->setContentsMargins(0, 0, 0, 0);

    blowView_ = new QWidget(contentView_);
    blowView_->setObjectName(QStringLiteral("blowView"));
    blowView_->setGeometry(0, splitHeight, kWidth, kBottomBarHeight);
    blowView_->setAutoFillBackground(true);
    QPalette bar = blowView_->palette();
    bar.setColor(QPalette::Window, QColor(237, 237, 237));
    blowView_->setPalette(bar);

    buildTrees();

    if (selectDesktop_)
        setSelectDesktop(1);
}

// The bottom bar keeps to the bottom and follows the width; the trees and
// the file pane share the height above it.
void VKDeletailWindowController::layoutContent() {
    const int width = contentView_->width();
    const int splitHeight = std::max(0, contentView_->height() - kBottomBarHeight);
    splistView_->setGeometry(0, 0, width, splitHeight);
    layoutLeftPane();
    blowView_->setGeometry(0, splitHeight, width, kBottomBarHeight);
}

// The tabs and the trees fill the left pane, whatever width the divider
// gives it.
void VKDeletailWindowController::layoutLeftPane() {
    if (!changeTimeBlowView_ || !outlines_[3])
        return;  // not built yet
    const int width = splistLeftView_->width();
    const int height = splistLeftView_->height();
    const int third = width / 3;
    for (const Tab tab : {kPathTab, kTypeTab, kTimeTab}) {
        const int x = third * static_cast<int>(tab);
        tabs_[tab]->setGeometry(x, 0, tab == kTimeTab ? width - x : third, kTabBarHeight);
    }
    changeTimeBlowView_->setGeometry(0, kTabBarHeight, width, 25);
    const int half = width / 2;
    tabs_[kCreatTab]->setGeometry(0, 0, half, 25);
    tabs_[kModifyTab]->setGeometry(half, 0, width - half, 25);
    for (int kind = 0; kind < 4; ++kind) {
        const int top = kind >= OP_TREE_CREATION_DATE ? kTabBarHeight + 25 : kTabBarHeight;
        outlines_[static_cast<size_t>(kind)]->setGeometry(0, top, width, std::max(0, height - top));
    }
}

int VKDeletailWindowController::leftPaneWidth() const {
    return splistLeftView_->width();
}

// A control of the box that keeps its distance to the right edge, placed
// by its frame in the box as designed (720 points wide).
void VKDeletailWindowController::placeFromRight(QWidget* control, const QRect& frame) {
    control->setGeometry(frame.translated(abox_->width() - kBoxWidth, 0));
    autoresizing_->track(control, Autoresizing::kFlexibleLeftMargin);
}

void VKDeletailWindowController::buildTrees() {
    struct TabButtonDef {
        Tab tab;
        const char* outlet;
        QString title;
    };
    const TabButtonDef tabDefs[] = {
        {kPathTab, "pathButton",
         ui::texts::Text(QStringLiteral("PLX_FOUR_SELECT_TYPE_BUTTON_PATH"))},
        {kTypeTab, "typeButton",
         ui::texts::Text(QStringLiteral("PLX_FOUR_SELECT_TYPE_BUTTON_TYPE"))},
        {kTimeTab, "timeButton",
         ui::texts::Text(QStringLiteral("PLX_FOUR_SELECT_TYPE_BUTTON_TIME"))},
        {kCreatTab, "creatButton",
         ui::texts::Text(QStringLiteral("PLX_FOUR_SELECT_TYPE_BUTTON_CREATED"))},
        {kModifyTab, "modifyButton",
         ui::texts::Text(QStringLiteral("PLX_FOUR_SELECT_TYPE_BUTTON_MODIFIED"))},
    };
    changeTimeBlowView_ = new QWidget(splistLeftView_);
    changeTimeBlowView_->setObjectName(QStringLiteral("changeTimeBlowView"));
    changeTimeBlowView_->setGeometry(0, kTabBarHeight, kLeftPaneWidth, 25);
    changeTimeBlowView_->hide();
    const int third = kLeftPaneWidth / 3;
    for (const TabButtonDef& def : tabDefs) {
        const bool dateSubTab = def.tab == kCreatTab || def.tab == kModifyTab;
        auto* button = new BrowserTabButton(dateSubTab ? changeTimeBlowView_ : splistLeftView_);
        button->setObjectName(QString::fromLatin1(def.outlet));
        button->setText(def.title);
        if (dateSubTab) {
            const int half = kLeftPaneWidth / 2;
            button->setGeometry(def.tab == kCreatTab ? 0 : half, 0, half, 25);
        } else {
            const int x = third * static_cast<int>(def.tab);
            const int w = def.tab == kTimeTab ? kLeftPaneWidth - x : third;
            button->setGeometry(x, 0, w, kTabBarHeight);
        }
        tabs_[static_cast<size_t>(def.tab)] = button;
    }
    tabs_[kPathTab]->setImageName(QStringLiteral("bg_tab"));
    connect(tabs_[kPathTab], &QAbstractButton::clicked, this, [this] { pathButtonClick(); });
    connect(tabs_[kTypeTab], &QAbstractButton::clicked, this, [this] { typeButtonClick(); });
    connect(tabs_[kTimeTab], &QAbstractButton::clicked, this, [this] { timeButtonClick(); });
    connect(tabs_[kCreatTab], &QAbstractButton::clicked, this, [this] { timeButtonClick(); });
    connect(tabs_[kModifyTab], &QAbstractButton::clicked, this,
            [this] { modifyTimeButtonClick(); });

    const char* outlets[] = {"pathOutlineView", "typeOutlineView", "createTimeOutlineView",
                             "modifyTimeOutlineView"};
    const int splitHeight = kContentHeight - kBottomBarHeight;
    for (int kind = 0; kind < 4; ++kind) {
        auto* view = new CommOutlineView(splistLeftView_);
        view->setObjectName(QString::fromLatin1(outlets[kind]));
        const int top = kind >= OP_TREE_CREATION_DATE ? kTabBarHeight + 25 : kTabBarHeight;
        view->setGeometry(0, top, kLeftPaneWidth, splitHeight - top);
        view->setVisible(kind == OP_TREE_PATH);
        view->onSelectNode = [this](const OpNodePtr& node, bool refreshCounts) {
            selectOutlineList(node, refreshCounts);
        };
        view->onClickCheck = [this](CommOutlineView* outline, const QModelIndex& index) {
            clickButtonAction(outline, index);
        };
        outlines_[static_cast<size_t>(kind)] = view;
    }
}

void VKDeletailWindowController::windowDidLoad() {
    aWindow_->setTitleBarHeight(kTitleBarHeight);
    aWindow_->setTrafficLightButtonsLeftMargin(8);
    aWindow_->setTopButtonMoveUp(0);
    if (!titleLabel_) {
        titleLabel_ = MakeText(aWindow_->titleBarView(),
                               Frame(80, 7, 300, 25, static_cast<int>(kTitleBarHeight)),
                               ui::texts::Text(QStringLiteral("WINDOW_TOP_TITLE")),
                               ui::FontRegistry::Font(QStringLiteral("Helvetica Neue Light"), 14));
        titleLabel_->setObjectName(QStringLiteral("titleLabel"));
    }
    isCanClick_ = 1;
    isCloseWindow_ = isPause_ = isImport_ = isBackHome_ = 0;

    buildDetailViewWindowTitleBar();

    // The bridge adds the roots of each tree to these arrays from now on.
    for (auto& roots : roots_)
        roots.clear();
    const seam::TreeNodeArrays arrays{&roots_[OP_TREE_PATH], &roots_[OP_TREE_FILE_TYPE],
                                      &roots_[OP_TREE_CREATION_DATE],
                                      &roots_[OP_TREE_MODIFICATION_DATE]};
    seam::Bridge().VKSetTreeNodeData(&arrays);
    for (int kind = 0; kind < 4; ++kind)
        outlines_[static_cast<size_t>(kind)]->loadDataFormDetail(&roots_[static_cast<size_t>(kind)],
                                                                 kind);
    isDeepScan_ = seam::Bridge().IsDeepScan();
}

void VKDeletailWindowController::setSelectDesktop(int desktop) {
    selectDesktop_ = desktop;
    if (scanControl_)
        scanControl_->setSelectDesktop(desktop != 0);
    if (search_)
        search_->setSelectDesktop(desktop != 0);
    if (!desktop)
        return;
    // The Desktop entry has one folder to show: no tabs to switch, and it
    // searches itself for its folder.
    for (Tab tab : {kPathTab, kTypeTab, kTimeTab})
        tabs_[tab]->setEnabled(false);
    if (searchField_)
        searchField_->hide();
}

void VKDeletailWindowController::setFilePane(std::unique_ptr<IResultFilePane> pane) {
    if (filePane_)
        filePane_->stopImageLoading();
    filePane_ = std::move(pane);
    if (!filePane_)
        return;
    if (filePane_->widget())
        filePaneSlot_->layout()->addWidget(filePane_->widget());
    for (int kind = 0; kind < 4; ++kind)
        filePane_->setTreeRoots(kind, &roots_[static_cast<size_t>(kind)]);
    filePane_->setTreeKind(static_cast<int>(selectTypeCount_));
    connectFilePane();
}

VKResultFilePane* VKDeletailWindowController::resultFilePane() const {
    return dynamic_cast<VKResultFilePane*>(filePane_.get());
}

void VKDeletailWindowController::connectFilePane() {
    VKResultFilePane* pane = resultFilePane();
    if (!pane)
        return;
    connect(pane, &VKResultFilePane::ticksChanged, this, [this] {
        if (recover_)
            recover_->showSelectFilesCountAndSize();
    });
    connect(pane, &VKResultFilePane::outlinesNeedReload, this, [this] {
        for (CommOutlineView* view : outlines_)
            view->reloadData();
    });
}

void VKDeletailWindowController::makeControllers() {
    recoverHost_ = std::make_unique<RecoverHost>(*this);
    search_ = std::make_unique<VKSearchController>(*this);
    save_ = std::make_unique<VKSaveResultController>(aWindow_, seams_.chooseSaveFile,
                                                     seams_.runSaveProgress);
    scanControl_ =
        std::make_unique<VKScanControl>(*this, search_.get(), save_.get(), seams_.timers);
    recover_ =
        std::make_unique<VKRecoverController>(*recoverHost_, seams_.folderSheet, seams_.workspace);
    scanControl_->setSelectDesktop(selectDesktop_ != 0);
    search_->setSelectDesktop(selectDesktop_ != 0);

    connect(pauseButton_, &QAbstractButton::clicked, this,
            [this] { scanControl_->pauseButtonClick(); });
    connect(continueScanButton_, &QAbstractButton::clicked, this,
            [this] { scanControl_->pauseButtonClick(); });
    connect(stopButton_, &QAbstractButton::clicked, this,
            [this] { scanControl_->stopButtonClick(); });
    connect(advButton_, &QAbstractButton::clicked, this,
            [this] { scanControl_->deepSrcanButtonAction(); });
    connect(recovertyButton_, &QAbstractButton::clicked, this,
            [this] { recover_->recoveryButtonClick(); });
    connect(exportButton_, &QAbstractButton::clicked, this,
            [this] { save_->exportButtonAction(); });
    connect(searchField_, &QLineEdit::returnPressed, this, [this] { search_->doSearch(); });
}

void VKDeletailWindowController::buildDetailViewWindowTitleBar() {
    const int barHeight = kBottomBarHeight;
    if (!backHomeButton_) {
        backHomeButton_ = MakeButton(blowView_, QStringLiteral("backHomeButton"),
                                     Frame(20, 15, 60, 60, barHeight), QStringLiteral("icon_home"),
                                     QStringLiteral("Back home"));
        backHomeButton_->setButtonEnabled(false);
        connect(backHomeButton_, &QAbstractButton::clicked, this, [this] {
            if (scanControl_)
                scanControl_->backButtonAction();
        });
    }
    if (!progressView_) {
        progressView_ = new VKProgressView(blowView_);
        progressView_->setObjectName(QStringLiteral("progressView"));
        progressView_->setGeometry(Frame(0, 86, 900, 4, barHeight));
        autoresizing_->track(progressView_, Autoresizing::kFlexibleWidth);
    }
    createExportButton(1);
    if (!abox_) {
        mainBox_ = new QWidget(blowView_);
        mainBox_->setObjectName(QStringLiteral("mainBox"));
        mainBox_->setGeometry(Frame(175, 0, 720, 90, barHeight));
        abox_ = new QWidget(mainBox_);
        abox_->setObjectName(QStringLiteral("abox"));
        abox_->setGeometry(0, 0, 720, 90);
        autoresizing_->track(mainBox_, Autoresizing::kFlexibleWidth);
        autoresizing_->track(abox_, Autoresizing::kFlexibleWidth);

        pauseButton_ =
            MakeButton(abox_, QStringLiteral("pauseButton"), Frame(322, 32, 18, 18, barHeight),
                       QStringLiteral("pause"), QStringLiteral("Pause"));
        pauseButton_->setButtonEnabled(false);
        continueScanButton_ = MakeButton(abox_, QStringLiteral("continueScanButton"),
                                         Frame(322, 32, 18, 18, barHeight), QStringLiteral("play"),
                                         QStringLiteral("Continue"));
        continueScanButton_->setButtonEnabled(true);
        continueScanButton_->hide();
        stopButton_ =
            MakeButton(abox_, QStringLiteral("stopButton"), Frame(352, 32, 18, 18, barHeight),
                       QStringLiteral("stop"), QStringLiteral("Stop"));
        stopButton_->setButtonEnabled(false);

        selectFilesLabel_ = MakeText(
            abox_, Frame(0, 32, 300, 22, barHeight), SelectedText(QStringLiteral("0 byte"), 0),
            ui::FontRegistry::Font(QStringLiteral("Helvetica Neue Thin"), 16));
        selectFilesLabel_->setObjectName(QStringLiteral("selectFilesLabel"));
        selectFilesLabel_->hide();

        recovertyButton_ =
            MakeButton(abox_, QStringLiteral("recovertyButton"), Frame(386, 22, 138, 41, barHeight),
                       QStringLiteral("btn_recover"), {});
        recovertyButton_->setButtonEnabled(false);
        // Our button pictures carry no words: the button says what it does.
        recovertyButton_->setTextWithName(
            ui::texts::Text(QStringLiteral("PLX_BROWSER_RECOVER_BUTTON")), QRect(0, 0, 138, 41));

        const QFont light = ui::FontRegistry::Font(QStringLiteral("Helvetica Light"), 13);
        findFilesLabel_ = MakeText(abox_, Frame(0, 43, 300, 17, barHeight), {}, light);
        findFilesLabel_->setObjectName(QStringLiteral("findFilesLabel"));
        remainTimeLabel_ = MakeText(abox_, Frame(0, 23, 300, 17, barHeight), {}, light);
        remainTimeLabel_->setObjectName(QStringLiteral("remainTimeLabel"));
        autoresizing_->track(selectFilesLabel_, Autoresizing::kFlexibleWidth);
        for (QWidget* control : std::initializer_list<QWidget*>{pauseButton_, continueScanButton_,
                                                                stopButton_, recovertyButton_})
            autoresizing_->track(control, Autoresizing::kFlexibleLeftMargin);
    }
    if (!advButton_) {
        advButton_ =
            MakeButton(abox_, QStringLiteral("advButton"), Frame(534, 22, 166, 41, barHeight),
                       QStringLiteral("btn_ds"), QStringLiteral("deep scan"));
        advButton_->setButtonEnabled(false);
        advButton_->setTextWithName(ui::texts::Text(QStringLiteral("PLX_BROWSER_DEEPSCAN_BUTTON")),
                                    QRect(0, 0, 166, 41));
        autoresizing_->track(advButton_, Autoresizing::kFlexibleLeftMargin);
    }
    buildSearchField();
    findFilesLabel_->setText(QStringLiteral("Please wait..."));
    remainTimeLabel_->setText(QStringLiteral("Prepare to scan your drive"));
    progressView_->changeProgressValue(0);
    buildTileBarView();
}

// Saving the results: beside the home button, off until the scan ends.
void VKDeletailWindowController::createExportButton(int show) {
    if (isImport_) {
        if (exportButton_)
            exportButton_->hide();
        if (advButton_)
            advButton_->hide();
        return;
    }
    if (!exportButton_) {
        exportButton_ =
            MakeButton(blowView_, QStringLiteral("exportButton"),
                       Frame(80, 15, 60, 60, kBottomBarHeight), QStringLiteral("icon_export"),
                       ui::texts::Text(QStringLiteral("PLX_FOUR_SAVE_BUTTON_TIP")));
        exportButton_->setButtonEnabled(false);
    }
    if (show)
        exportButton_->show();
}

// The search field sits in the title bar left of the About button and keeps
// its distance to the right edge; it is off until the scan ends or pauses.
void VKDeletailWindowController::buildSearchField() {
    if (searchField_)
        return;
    searchField_ = new QLineEdit(aWindow_->titleBarView());
    searchField_->setObjectName(QStringLiteral("search"));
    searchField_->setGeometry(Frame(640, 6, 200, 24, static_cast<int>(kTitleBarHeight)));
    searchField_->setClearButtonEnabled(true);
    searchField_->setPlaceholderText(ui::texts::Text(QStringLiteral("SEARCH_MENU")));
    searchField_->setEnabled(false);
    autoresizing_->track(searchField_, Autoresizing::kFlexibleLeftMargin);
    // The recents menu behind the magnifier.
    // The magnifier is the desktop theme's (Adwaita's "edit-find").
    QAction* recents = searchField_->addAction(
        QIcon::fromTheme(QStringLiteral("edit-find"),
                         searchField_->style()->standardIcon(QStyle::SP_FileDialogContentsView)),
        QLineEdit::LeadingPosition);
    recents->setObjectName(QStringLiteral("searchRecents"));
    connect(recents, &QAction::triggered, this, [this] {
        if (!search_)
            return;
        QMenu* menu = search_->searchMenu(searchField_);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(searchField_->mapToGlobal(QPoint(0, searchField_->height())));
    });
    // The clear button empties the field: an empty search brings the full
    // trees back.
    connect(searchField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty() && search_ && !seam::Bridge().GetSearchString().empty())
            search_->searchClearButtonClick();
    });
}

void VKDeletailWindowController::buildTileBarView() {
    aWindow_->setShowsTitle(false);
    if (aboutButton_)
        return;
    aboutButton_ = new TCImageButton(Frame(848, 10, 16, 16, static_cast<int>(kTitleBarHeight)),
                                     aWindow_->titleBarView());
    aboutButton_->setObjectName(QStringLiteral("aboutButton"));
    aboutButton_->setImageFromFileNormalName("icon_infor", "icon_infor_hover", "icon_infor_hover",
                                             "icon_infor");
    aboutButton_->setButtonEnabled(true);
    aboutButton_->setToolTip(QStringLiteral("About us"));
    autoresizing_->track(aboutButton_, Autoresizing::kFlexibleLeftMargin);
    connect(aboutButton_, &QAbstractButton::clicked, this, [this] { aboutAction(); });
    // The application menu at the title bar's right end (the window has no
    // desktop title bar or menu bar to hold it).
    if (seams_.applicationMenu) {
        menuButton_ =
            new ApplicationMenuButton(Frame(874, 10, 16, 16, static_cast<int>(kTitleBarHeight)),
                                      aWindow_->titleBarView(), seams_.applicationMenu);
        autoresizing_->track(menuButton_, Autoresizing::kFlexibleLeftMargin);
    }
}

void VKDeletailWindowController::aboutAction() {
    if (seams_.showAbout)
        seams_.showAbout();
    if (aWindow_)
        aWindow_->activateWindow();
}

void VKDeletailWindowController::changeWindowTitle() {
    if (titleLabel_)
        titleLabel_->setText(ui::texts::Text(QStringLiteral("WINDOW_TOP_TITLE")));
}

void VKDeletailWindowController::setNotification() {
    auto& center = ui::NotificationCenter::defaultCenter();
    center.removeObserver(this, kNormalScranValue);
    center.removeObserver(this, kChangeWindowTitle);
    center.addObserver(this, kNormalScranValue,
                       [this](const ui::Notification&) { DataInitFinished(); });
    center.addObserver(this, kChangeWindowTitle,
                       [this](const ui::Notification&) { changeWindowTitle(); });
}

void VKDeletailWindowController::getData() {
    // The bridge hands a new browser the trees it held, those of an earlier
    // scan: this scan shows only what it finds, from its first moment.
    emptyTrees();
    if (filePane_)
        filePane_->showNoValueNote();
    isDeepScan_ = 0;
    scanEndTaken_ = false;
    setNotification();
    seam::IBridge& bridge = seam::Bridge();
    const std::string post = kNormalScranValue.toStdString();
    // An image is always scanned deep.
    if (selectDiskVolumeData_ &&
        (selectDiskVolumeData_->isEdi() || selectDiskVolumeData_->isAppleDmg())) {
        bridge.ResetShouldBuild();
        bridge.isEdiDoDeepScanWithData(selectDiskVolumeData_, post);
    } else if (scanTypeNum_ == 1) {
        bridge.DoScanWithData(selectDiskVolumeData_, post);
    } else {
        bridge.DoDeepScanWithData(selectDiskVolumeData_, post);
    }
    isDeepScan_ = bridge.IsDeepScan();
    if (isDeepScan_)
        placeScanControlsForDeepScan();
    if (filePane_)
        filePane_->setSegmentEnabled(!isDeepScan_);
    if (save_)
        save_->setBSave(false);
}

// A deep scan offers no second deep scan: the scan controls move right into
// the deep-scan button's place.
void VKDeletailWindowController::placeScanControlsForDeepScan() {
    const int barHeight = kBottomBarHeight;
    placeFromRight(stopButton_, Frame(527, 32, 18, 18, barHeight));
    placeFromRight(pauseButton_, Frame(497, 32, 18, 18, barHeight));
    placeFromRight(continueScanButton_, Frame(497, 32, 18, 18, barHeight));
    placeFromRight(recovertyButton_, Frame(562, 22, 138, 41, barHeight));
    advButton_->hide();
}

void VKDeletailWindowController::getImportData(const QString&) {
    isImport_ = 1;
    createExportButton(1);
    if (scanControl_)
        scanControl_->setIsImport(true);
    if (save_)
        save_->setIsImport(true);
    for (QWidget* control : std::initializer_list<QWidget*>{
             findFilesLabel_, remainTimeLabel_, pauseButton_, stopButton_, progressView_}) {
        control->hide();
    }
    placeScanControlsForDeepScan();
    backHomeButton_->setButtonEnabled(true);
    seam::Bridge().RestorPostUIUpdate(kNormalScranValue.toStdString(), 0);
    setNotification();
}

void VKDeletailWindowController::clearImportData() {
    ui::NotificationCenter::defaultCenter().removeObserver(this);
}

void VKDeletailWindowController::DataInitFinished() {
    seam::IBridge& bridge = seam::Bridge();
    const bool running = bridge.IsScanRunning() != 0;
    if (running)
        scanEndTaken_ = false;
    // The Desktop entry shows its one folder once the scan is over.
    if (selectDesktop_ && running) {
        scanControl_->scanDataArrived();
        return;
    }
    for (CommOutlineView* view : outlines_)
        view->reloadData();
    if (running) {
        scanControl_->scanDataArrived();
        return;
    }
    if (isCloseWindow_) {
        // The user asked to quit during the scan; it has wound down now.
        if (!terminated_) {
            terminated_ = true;
            aWindow_->hide();
            ui::NotificationCenter::defaultCenter().post(kAppWillTerminate);
        }
        return;
    }
    // A refresh already under way when the scan ended finds it ended too.
    // The first one takes the end; a later one has brought the last nodes
    // into the trees above and leaves what the user has chosen since alone.
    if (scanEndTaken_) {
        setFoundAllFiles();
        return;
    }
    scanEndTaken_ = true;
    // The scan's end: the controls change over, the offer, the totals.
    scanControl_->scanDataArrived();
    if (terminated_)
        return;
    if (!selectDesktop_) {
        for (Tab tab : {kTimeTab, kPathTab, kTypeTab})
            tabs_[tab]->setEnabled(true);
    }
    selectRootItem();
    setFoundAllFiles();
    if (!roots_[OP_TREE_PATH].empty())
        outlines_[OP_TREE_PATH]->expand(outlines_[OP_TREE_PATH]->treeModel()->rootIndex(0));
    if (filePane_)
        filePane_->showNoValueNote();
}

void VKDeletailWindowController::setFoundAllFiles() {
    uint64_t bytes = 0;
    int64_t count = 0;
    seam::Bridge().GetScanFileSize(&bytes, &count);
    selectFilesLabel_->setText(ui::texts::Format(
        QStringLiteral("PLX_FOUR_ALL_FILES"),
        {windows::LongLongDiskSize(static_cast<int64_t>(bytes)), static_cast<qlonglong>(count)}));
}

void VKDeletailWindowController::selectRootItem() {
    if (selectTypeCount_ >= 0 && selectTypeCount_ <= 3)
        outlines_[static_cast<size_t>(selectTypeCount_)]->selectRootItem();
}

void VKDeletailWindowController::RefreshDevice(const QVariant& object) {
    const QVariantMap info = object.toMap();
    const auto path = info.find(QStringLiteral("USBPath"));
    if (path == info.end() || !selectDiskVolumeData_)
        return;
    // A removal names the disk by its kernel name, which the disk page gave
    // the row as its parent's name.
    if (path->toString().toStdString() != selectDiskVolumeData_->parentName())
        return;
    seam::Bridge().StopScan(1);
    ui::NotificationCenter::defaultCenter().removeObserver(this, kRefreshDetachDevice);
    ui::AlertContent alert;
    alert.message = QStringLiteral("Message");
    alert.informative = QStringLiteral("The usb device is detatched!");
    alert.defaultButton = QStringLiteral("OK");
    alert.icon = ui::ImageRegistry::Pixmap(QStringLiteral("warning"));
    QPointer<VKDeletailWindowController> self(this);
    ui::Alerts().BeginSheet(alert, aWindow_, [self](int code) {
        if (self && code == 1)
            self->doBackHomeAction(0);
    });
}

void VKDeletailWindowController::doBackHomeAction(int flag) {
    scanControl_->doBackHomeAction(flag);
}

void VKDeletailWindowController::closeWindow() {
    if (isCloseWindow_)
        return;
    seam::IBridge& bridge = seam::Bridge();
    if (bridge.IsScanRunning()) {
        if (!bridge.IsPause())
            bridge.PauseOrResumeScan();
        ui::AlertContent alert = ui::AlertFromKeys(QStringLiteral("PLX_FOUR_SCAN_STOP_"));
        alert.icon = ui::ImageRegistry::Pixmap(QStringLiteral("warning"));
        QPointer<VKDeletailWindowController> self(this);
        ui::Alerts().BeginSheet(alert, aWindow_, [self](int code) {
            if (self)
                self->alertEnded(code);
        });
        return;
    }
    const bool leave =
        seams_.saveScanResult ? seams_.saveScanResult() : scanControl_->SaveScanResult();
    if (!leave)
        return;
    stopImageLoading();
    terminated_ = true;
    aWindow_->hide();
    ui::NotificationCenter::defaultCenter().post(kAppWillTerminate);
}

void VKDeletailWindowController::alertEnded(int code) {
    seam::IBridge& bridge = seam::Bridge();
    if (code != 1) {
        // The user goes on: a pause of the user's own stays.
        if (isPause_ == 0)
            bridge.PauseOrResumeScan();
        isCanClick_ = 1;
        return;
    }
    bridge.StopScan(1);
    isCanClick_ = 0;
    isCloseWindow_ = 1;
    isPause_ = 0;
    for (TCImageButton* button : {backHomeButton_, pauseButton_, stopButton_, continueScanButton_})
        button->setButtonEnabled(false);
    // A scan that ended while the question was open posts nothing more:
    // the window ends the program now instead of waiting for that post.
    if (!bridge.IsScanRunning())
        DataInitFinished();
}

void VKDeletailWindowController::showTab(int kind) {
    struct TabLook {
        const char* images[5];  // path, type, time, creat, modify
        bool subTabs;
    };
    static const TabLook looks[4] = {
        {{"bg_tab", " ", " ", " ", " "}, false},
        {{" ", "bg_tab", " ", " ", " "}, false},
        {{"", "", "bg_tab", "text_bg", ""}, true},
        {{"", "", "bg_tab", "", "text_bg"}, true},
    };
    const TabLook& look = looks[kind];
    for (int tab = 0; tab < 5; ++tab)
        tabs_[static_cast<size_t>(tab)]->setImageName(QString::fromLatin1(look.images[tab]));
    changeTimeBlowView_->setVisible(look.subTabs);
    for (int other = 0; other < 4; ++other)
        outlines_[static_cast<size_t>(other)]->setVisible(other == kind);
    selectTypeCount_ = kind;
    seam::IBridge& bridge = seam::Bridge();
    bridge.SetViewType(kind);
    // While the scan adds nodes the marks of the type and date trees are
    // counted at its end.
    const bool quiet = !bridge.IsScanRunning() || bridge.IsPause();
    if (quiet && kind == OP_TREE_FILE_TYPE)
        bridge.RefreshTypeTreeState(nullptr);
    else if (quiet && kind >= OP_TREE_CREATION_DATE)
        bridge.RefreshTimeTreeState(&roots_[static_cast<size_t>(kind)], 1);
    outlines_[static_cast<size_t>(kind)]->viewport()->update();
    if (filePane_)
        filePane_->setTreeKind(kind);
    if (!roots_[static_cast<size_t>(kind)].empty())
        outlines_[static_cast<size_t>(kind)]->selectRootItem();
}

void VKDeletailWindowController::pathButtonClick() {
    if (selectTypeCount_ != OP_TREE_PATH)
        showTab(OP_TREE_PATH);
}

void VKDeletailWindowController::typeButtonClick() {
    if (selectTypeCount_ != OP_TREE_FILE_TYPE)
        showTab(OP_TREE_FILE_TYPE);
}

void VKDeletailWindowController::timeButtonClick() {
    if (selectTypeCount_ != OP_TREE_CREATION_DATE)
        showTab(OP_TREE_CREATION_DATE);
}

void VKDeletailWindowController::modifyTimeButtonClick() {
    if (selectTypeCount_ != OP_TREE_MODIFICATION_DATE)
        showTab(OP_TREE_MODIFICATION_DATE);
}

void VKDeletailWindowController::selectOutlineList(const OpNodePtr& node, bool refreshCounts) {
    opDataFile_ = node;
    isSelectOutlineList_ = 1;
    if (filePane_)
        filePane_->selectOutlineListWithOpNodeData(node, refreshCounts);
}

void VKDeletailWindowController::clickButtonAction(CommOutlineView* view,
                                                   const QModelIndex& index) {
    seam::IBridge& bridge = seam::Bridge();
    // The scan is still adding nodes: the marks would be counted wrong.
    if (bridge.IsScanRunning() && !bridge.IsPause()) {
        view->viewport()->update();
        return;
    }
    view->clickButtonAction(index);
    selectOutlineList(view->opDataFile(), true);
    bridge.VKTableViewCellCilck();
    recover_->showSelectFilesCountAndSize();
}

bool VKDeletailWindowController::isRootNodeUnselected(const std::vector<OpNodePtr>& roots) {
    for (const OpNodePtr& root : roots) {
        if (root && root->state() != 0)
            return true;
    }
    return false;
}

bool VKDeletailWindowController::scanRunningUnpaused() {
    seam::IBridge& bridge = seam::Bridge();
    return bridge.IsScanRunning() && !bridge.IsPause();
}

QWidget* VKDeletailWindowController::controlWidget(BrowserControl control) const {
    switch (control) {
        case BrowserControl::BackHome:
            return backHomeButton_;
        case BrowserControl::Pause:
            return pauseButton_;
        case BrowserControl::ContinueScan:
            return continueScanButton_;
        case BrowserControl::Stop:
            return stopButton_;
        case BrowserControl::Recovery:
            return recovertyButton_;
        case BrowserControl::Adv:
            return advButton_;
        case BrowserControl::Export:
            return exportButton_;
        case BrowserControl::Search:
            return searchField_;
        case BrowserControl::Progress:
            return progressView_;
        case BrowserControl::FoundFiles:
            return findFilesLabel_;
        case BrowserControl::RemainTime:
            return remainTimeLabel_;
        case BrowserControl::SelectFiles:
            return selectFilesLabel_;
        case BrowserControl::CloseButton:
            return aWindow_ ? aWindow_->buttonToLayout(TCImageWindow::ButtonKind::Close) : nullptr;
        case BrowserControl::Segment:
        // The designs' caption of the deep-scan offer under the bar: this
        // window shows the offer in its pop-over only.
        case BrowserControl::Continue:
        case BrowserControl::DeepScanLabel:
            return nullptr;
    }
    return nullptr;
}

void VKDeletailWindowController::setControlEnabled(BrowserControl control, bool enabled) {
    if (control == BrowserControl::Segment) {
        if (filePane_)
            filePane_->setSegmentEnabled(enabled);
        return;
    }
    QWidget* widget = controlWidget(control);
    if (auto* button = qobject_cast<TCImageButton*>(widget))
        button->setButtonEnabled(enabled);
    else if (widget)
        widget->setEnabled(enabled);
}

void VKDeletailWindowController::setControlVisible(BrowserControl control, bool visible) {
    // A loaded result has nothing to save again.
    if (control == BrowserControl::Export && isImport_)
        visible = false;
    if (QWidget* widget = controlWidget(control))
        widget->setVisible(visible);
}

void VKDeletailWindowController::setControlText(BrowserControl control, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(controlWidget(control)))
        label->setText(text);
}

void VKDeletailWindowController::setProgressValue(double percent) {
    progressView_->changeProgressValue(percent);
}

QString VKDeletailWindowController::searchText() const {
    return searchField_ ? searchField_->text() : QString();
}

void VKDeletailWindowController::setSearchText(const QString& text) {
    if (!searchField_)
        return;
    // Put by the program, not typed: no search of its own.
    const QSignalBlocker quiet(searchField_);
    searchField_->setText(text);
}

void VKDeletailWindowController::reloadTrees() {
    for (int kind = 0; kind < 4; ++kind) {
        CommOutlineView* view = outlines_[static_cast<size_t>(kind)];
        if (treesDetached_)
            view->loadDataFormDetail(&roots_[static_cast<size_t>(kind)], kind);
        else
            view->reloadData();
    }
    treesDetached_ = false;
}

// After a scan shown by another tab, the path tree takes over the roots the
// scan built in the end.
void VKDeletailWindowController::rebuildTreesAfterScan() {
    if (selectTypeCount_ == OP_TREE_PATH || selectDesktop_)
        return;
    seam::IBridge& bridge = seam::Bridge();
    bridge.SetViewType(OP_TREE_PATH);
    bridge.GetScanTreeNodeData(&roots_[OP_TREE_PATH], 0);
    bridge.SetViewType(static_cast<int>(selectTypeCount_));
}

void VKDeletailWindowController::clearForSearch() {
    for (int kind = 0; kind < 4; ++kind)
        outlines_[static_cast<size_t>(kind)]->loadDataFormDetail(nullptr, kind);
    treesDetached_ = true;
    opDataFile_.reset();
    if (filePane_) {
        filePane_->clearFiles();
        filePane_->showNoValueNote();
    }
}

void VKDeletailWindowController::showSearchResult(bool hits) {
    reloadTrees();
    if (!filePane_)
        return;
    filePane_->stopImageLoading();
    std::vector<IFileNode*> files;
    seam::IBridge& bridge = seam::Bridge();
    if (hits)
        bridge.GetSearchResultToArr(&files);
    else if (opDataFile_)
        bridge.GetFileNodeToArray(&files, opDataFile_);
    isSelectOutlineList_ = 1;
    filePane_->showFiles(std::move(files));
    filePane_->showNoValueNote();
}

void VKDeletailWindowController::stopImageLoading() {
    if (filePane_)
        filePane_->stopImageLoading();
}

void VKDeletailWindowController::selectListMode() {
    if (filePane_)
        filePane_->selectListMode();
}

void VKDeletailWindowController::refreshDetailPage(bool sizeAndCount) {
    if (filePane_ && opDataFile_)
        filePane_->selectOutlineListWithOpNodeData(opDataFile_, sizeAndCount);
    if (sizeAndCount && recover_)
        recover_->showSelectFilesCountAndSize();
}

// The trees and the file pane start over, empty.
void VKDeletailWindowController::emptyTrees() {
    {
        auto lock = seam::Bridge().LockTreeData();
        for (auto& roots : roots_)
            roots.clear();
    }
    opDataFile_.reset();
    for (int kind = 0; kind < 4; ++kind)
        outlines_[static_cast<size_t>(kind)]->loadDataFormDetail(&roots_[static_cast<size_t>(kind)],
                                                                 kind);
    treesDetached_ = false;
    if (filePane_)
        filePane_->clearFiles();
}

void VKDeletailWindowController::resetForNewScan() {
    emptyTrees();
    scanEndTaken_ = false;
    if (filePane_) {
        filePane_->selectListMode();
        filePane_->showNoValueNote();
    }
    isDeepScan_ = 1;
    placeScanControlsForDeepScan();
}

void VKDeletailWindowController::setStopButtonCanBeUseState() {
    stopButton_->setButtonEnabled(true);
}

// Going home: the window goes, its owner opens the main window.
void VKDeletailWindowController::showRootWindow() {
    isBackHome_ = 1;
    ui::NotificationCenter::defaultCenter().removeObserver(this);
    if (aWindow_)
        aWindow_->hide();
    if (seams_.goHome)
        seams_.goHome();
}

void InstallResultsBrowser(windows::RootWindowSeams& seams, BrowserSeams browserSeams) {
    seams.makeDetailWindow = [browserSeams]() -> std::unique_ptr<windows::IDetailWindow> {
        return std::make_unique<VKDeletailWindowController>(browserSeams);
    };
}

}  // namespace velmora::browser
