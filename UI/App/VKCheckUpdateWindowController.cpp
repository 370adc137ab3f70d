#include "VKCheckUpdateWindowController.h"

#include <QCloseEvent>
#include <QFontMetricsF>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <limits>

#include "Resources/FontRegistry.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/Network.h"
#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "UIPlatform/WindowBuilder.h"
#include "UpdateSchedule.h"
#include "VKLinkUrl.h"
#include "platform/desktop/Workspace.h"

using velmora::app::NetworkTimeouts;
using velmora::app::VersionNumber;
using velmora::ui::CocoaFrame;
using velmora::ui::FontRegistry;
using velmora::ui::Network;
using velmora::ui::WindowBuilder;
namespace texts = velmora::ui::texts;

namespace {

constexpr int kContentHeight = VKCheckUpdateWindowController::kHeight -
                               static_cast<int>(TCImageWindow::kStandardTitleBarHeight);

QLabel* MakeText(const QString& text, int points, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(FontRegistry::Font("Helvetica Neue Light", points));
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

QPushButton* MakeButton(const QString& key, QWidget* parent) {
    auto* button = new QPushButton(texts::Text(key), parent);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

}  // namespace

VKCheckUpdateWindowController::VKCheckUpdateWindowController(
    velmora::platform::Workspace* workspace, QObject* parent)
    : QObject(parent), workspace_(workspace) {}

VKCheckUpdateWindowController::~VKCheckUpdateWindowController() {
    if (aWindow_) {
        // The window sends events while it is torn down; we are gone by then.
        aWindow_->removeEventFilter(this);
        delete aWindow_.data();
    }
}

TCImageWindow* VKCheckUpdateWindowController::window() {
    if (!aWindow_)
        windowDidLoad();
    return aWindow_;
}

QWidget* VKCheckUpdateWindowController::makePanel(const QString& outlet) {
    auto* panel = new QWidget(aWindow_->contentView());
    panel->setObjectName(outlet);
    panel->setGeometry(0, 0, kWidth, kContentHeight);
    panel->hide();
    return panel;
}

void VKCheckUpdateWindowController::windowDidLoad() {
    aWindow_ = new TCImageWindow;
    aWindow_->setObjectName("UpdateVersionXib");
    WindowBuilder(aWindow_, kWidth, kHeight);
    // The bar shows the window's title; the title is the label below, so the
    // window's own stays empty rather than drawn twice.
    aWindow_->setShowsTitle(true);
    windowObject_ = aWindow_;
    aWindow_->installEventFilter(this);

    // The checking panel.
    checkProgressView_ = makePanel("checkProgressView");
    WindowBuilder checking(checkProgressView_, kWidth, kContentHeight);
    checking.Place(MakeText(texts::Text("PLX_UPDATE_CHECKING"), 14, checkProgressView_),
                   "checkingText", CocoaFrame{40, 190, 400, 28});
    progressBar_ = checking.Add<QProgressBar>("progressBar", CocoaFrame{40, 160, 400, 16});
    progressBar_->setTextVisible(false);

    // No network, and no newer version: a text and the close button.
    const struct {
        QWidget** view;
        const char* outlet;
        const char* key;
    } plain[] = {{&noNetworkView_, "noNetworkView", "PLX_UPDATE_NO_NETWORK"},
                 {&noUpdateView_, "noUpdateView", "PLX_UPDATE_NO_UPDATE"}};
    for (const auto& p : plain) {
        QWidget* view = *p.view = makePanel(p.outlet);
        WindowBuilder builder(view, kWidth, kContentHeight);
        builder.Place(MakeText(texts::Text(p.key), 14, view), "noteText",
                      CocoaFrame{40, 150, 400, 80});
        QPushButton* close = MakeButton("PLX_UPDATE_CLOSE", view);
        builder.Place(close, "closeButton", CocoaFrame{180, 30, 120, 30});
        connect(close, &QPushButton::clicked, this,
                &VKCheckUpdateWindowController::closeWindowAction);
    }

    // A newer version: headline, feature list, download link.
    haveUpdateView_ = makePanel("haveUpdateView");
    WindowBuilder update(haveUpdateView_, kWidth, kContentHeight);
    titleLable_ = MakeText({}, 16, haveUpdateView_);
    update.Place(titleLable_, "titleLable", CocoaFrame{20, 286, 440, 28});
    versionLabel_ = MakeText({}, 13, haveUpdateView_);
    update.Place(versionLabel_, "versionLabel", CocoaFrame{20, 258, 440, 22});
    changeValueScrollView_ =
        update.Add<QScrollArea>("changeValueScrollView", CocoaFrame{20, 80, 450, 172});
    changeValueScrollView_->setFrameShape(QFrame::NoFrame);
    changeValueScrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    showVersionScrollView_ = new QWidget;
    showVersionScrollView_->setObjectName("showVersionScrollView");
    changeValueScrollView_->setWidget(showVersionScrollView_);
    QPushButton* download = MakeButton("PLX_UPDATE_DOWNLOAD", haveUpdateView_);
    update.Place(download, "updateClickHere", CocoaFrame{20, 30, 240, 30});
    connect(download, &QPushButton::clicked, this,
            &VKCheckUpdateWindowController::updateClickHereAction);
    QPushButton* close = MakeButton("PLX_UPDATE_CLOSE", haveUpdateView_);
    update.Place(close, "closeButton", CocoaFrame{340, 30, 120, 30});
    connect(close, &QPushButton::clicked, this, &VKCheckUpdateWindowController::closeWindowAction);

    // The title label in the bar.
    titleLabel_ = new QLabel(aWindow_->titleBarView());
    titleLabel_->setGeometry(80, 0, 300, 25);
    titleLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titleLabel_->setFont(FontRegistry::Font("Helvetica Neue Light", 14));
    titleLabel_->setText(texts::Text("WINDOW_TOP_TITLE"));

    // Busy: no known end.
    progressBar_->setRange(0, 0);
    showPanel(Panel::Checking);
    getVersionChange();
    changeValueScrollView_->verticalScrollBar()->setValue(0);
}

void VKCheckUpdateWindowController::showPanel(Panel panel) {
    panel_ = panel;
    checkProgressView_->setVisible(panel == Panel::Checking);
    noNetworkView_->setVisible(panel == Panel::NoNetwork);
    noUpdateView_->setVisible(panel == Panel::NoUpdate);
    haveUpdateView_->setVisible(panel == Panel::HaveUpdate);
}

void VKCheckUpdateWindowController::getVersionChange() {
    if (!aWindow_) {
        windowDidLoad();
        return;
    }
    const int generation = ++checkGeneration_;
    showPanel(Panel::Checking);
    const QString address = VKLinkUrl::GetUrl("IniURL");
    Network::Probe(address, NetworkTimeouts().probeMs, this, [this, address, generation](bool up) {
        if (generation != checkGeneration_)
            return;
        if (!up) {
            showPanel(Panel::NoNetwork);
            emit checkFinished();
            return;
        }
        Network::FetchPlist(address, NetworkTimeouts().fetchMs, this,
                            [this, generation](const QVariant& remote) {
                                if (generation != checkGeneration_)
                                    return;
                                whatIsNewVersionDiff(remote);
                                emit checkFinished();
                            });
    });
}

qreal VKCheckUpdateWindowController::heightForStringDrawing(const QString& text, const QFont& font,
                                                            qreal width) {
    const QFontMetricsF metrics(font);
    const QRectF used = metrics.boundingRect(QRectF(0, 0, width, std::numeric_limits<float>::max()),
                                             Qt::TextWordWrap, text);
    return used.height();
}

void VKCheckUpdateWindowController::whatIsNewVersionDiff(const QVariant& remoteValue) {
    QVariantMap remote = remoteValue.toMap();
    const qint64 own = VersionNumber(velmora::ui::PrivateSettings::shared().value("VersionCheck"));
    const qint64 theirs = VersionNumber(remote.value("VersionCheck"));
    if (own >= theirs) {
        showPanel(Panel::NoUpdate);
        return;
    }
    showPanel(Panel::HaveUpdate);
    const QString version = remote.value("Version").toString();
    versionLabel_->setText(texts::Format("PLX_UPDATE_NEW_FEATURES", {version}));
    titleLable_->setText(texts::Format("PLX_UPDATE_RELEASED", {version}));
    remote.remove("VersionCheck");
    remote.remove("Version");

    // The description holds feature lines only now, numbered from 1.
    for (QObject* old : showVersionScrollView_->children())
        delete old;
    const QFont measure = FontRegistry::SystemFont(10);
    qreal total = 0;
    for (const QVariant& value : remote)
        total += std::max<qreal>(heightForStringDrawing(value.toString(), measure, kMeasureWidth),
                                 kEntryMinHeight);
    const int listHeight = static_cast<int>(std::max<qreal>(total, kListMinHeight));
    showVersionScrollView_->setFixedSize(430, listHeight);

    qreal y = 0;
    for (int i = 1; i <= remote.size(); ++i) {
        const QString text = remote.value(QString::number(i)).toString();
        auto* line = MakeText(QStringLiteral("%1.%2").arg(i).arg(text), 13, showVersionScrollView_);
        line->setObjectName(QStringLiteral("feature%1").arg(i));
        line->setToolTip(text);
        const qreal h =
            std::max<qreal>(heightForStringDrawing(text, measure, kMeasureWidth), kLineMinHeight);
        y += h;
        line->setGeometry(velmora::ui::ToQtRect(CocoaFrame{0, listHeight - y, 380, h}, listHeight));
        line->show();
    }
}

void VKCheckUpdateWindowController::closeWindow() {
    if (!aWindow_)
        return;
    velmora::ui::Modal().StopModal(aWindow_, 0);
    aWindow_->hide();
    if (delegate_)
        delegate_->runRootWindow();
}

void VKCheckUpdateWindowController::updateClickHereAction() {
    const QString address = VKLinkUrl::GetUrl("UpdateURL");
    if (!address.isEmpty() && workspace_)
        workspace_->OpenUrl(address.toStdString());
}

bool VKCheckUpdateWindowController::eventFilter(QObject* watched, QEvent* event) {
    // The title bar's close button closes the window: end the run the same
    // way as the panels' buttons do.
    // Compared as plain objects: a window being destroyed is no longer a
    // TCImageWindow, and the guarded pointer would cast it to one.
    if (event->type() == QEvent::Close && watched == windowObject_) {
        event->ignore();
        closeWindow();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
