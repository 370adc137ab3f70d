#include "Browser/VKSearchController.h"

#include <QChar>
#include <QMenu>

#include "BridgeSeam/IBridge.h"
#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/UserDefaults.h"

namespace velmora::browser {

namespace {

const QString kRecentsKey = QStringLiteral("searchRecent");
const QString kHistoryKey = QStringLiteral("SearchHistory");
const QString kSearchPostName = QStringLiteral("DoSearchValue");

}  // namespace

VKSearchController::VKSearchController(IBrowserControls& view, QObject* parent)
    : QObject(parent), view_(view) {
    auto& centre = ui::NotificationCenter::defaultCenter();
    centre.addObserver(this, kSearchPostName,
                       [this](const ui::Notification&) { SearchTreeView(false); });
    centre.addObserver(this, QStringLiteral("DoSearchFinished"),
                       [this](const ui::Notification&) { reloadTreeView(); });
    recents_ = ui::UserDefaults::standard().stringList(kRecentsKey).mid(0, kMaxRecents);
}

VKSearchController::~VKSearchController() = default;

// Text pasted from other programs often carries no-break spaces where the
// user sees spaces; they would never match a file name's plain space.
QString VKSearchController::NormalizeSearchText(const QString& text) {
    QString key;
    key.reserve(text.size());
    for (const QChar c : text) {
        if (c == QChar(0x00A0)) {
            if (!key.endsWith(QChar(0x00A0)))
                key.append(QChar(0x00A0));
            continue;
        }
        key.append(c);
    }
    key.replace(QChar(0x00A0), QLatin1Char(' '));
    if (key.startsWith(QLatin1Char(' ')))
        key.remove(0, 1);
    if (key.endsWith(QLatin1Char(' ')))
        key.chop(1);
    return key;
}

bool VKSearchController::doSearch() {
    const QString text = view_.searchText();
    // A blank query is neither searched nor remembered.
    if (text == QStringLiteral(" ") || text == QStringLiteral("  "))
        return false;
    const QString key = NormalizeSearchText(text);
    seam::IBridge& bridge = seam::Bridge();
    if (!selectDesktop_ && key.toStdString() == bridge.GetSearchString())
        return false;
    view_.clearForSearch();
    if (!selectDesktop_)
        remember(key);
    const int started = bridge.DoSearchWithString(key.toStdString(), kSearchPostName.toStdString());
    if (started) {
        lastSearchStr_ = key;
        view_.setControlEnabled(BrowserControl::BackHome, false);
    }
    return started != 0;
}

void VKSearchController::remember(const QString& key) {
    if (key.isEmpty())
        return;
    recents_.removeAll(key);
    recents_.prepend(key);
    while (recents_.size() > kMaxRecents)
        recents_.removeLast();
    ui::UserDefaults::standard().setValue(kRecentsKey, recents_);
}

bool VKSearchController::searchClearButtonClick() {
    view_.setSearchText(QString());
    return doSearch();
}

void VKSearchController::doEndScanSearch() {
    view_.setSearchText(QStringLiteral("Desktop"));
    doSearch();
}

void VKSearchController::selectClear() {
    recents_.clear();
    ui::UserDefaults::standard().setValue(kRecentsKey, recents_);
}

void VKSearchController::addSearchHistory() {
    const QStringList history = ui::PrivateSettings::shared().value(kHistoryKey).toStringList();
    if (!history.isEmpty())
        recents_ = history.mid(0, kMaxRecents);
}

void VKSearchController::saveSearchHistroy() {
    ui::PrivateSettings::shared().setValue(kHistoryKey, recents_);
}

QMenu* VKSearchController::searchMenu(QWidget* parent) const {
    auto* menu = new QMenu(ui::texts::Text(QStringLiteral("SEARCH_MENU")), parent);
    menu->addSection(ui::texts::Text(QStringLiteral("RECENT_SEARCH")));
    if (recents_.isEmpty()) {
        menu->addAction(ui::texts::Text(QStringLiteral("NO_RECENT_SEARCH")))->setEnabled(false);
    }
    auto* self = const_cast<VKSearchController*>(this);
    for (const QString& recent : recents_) {
        QObject::connect(menu->addAction(recent), &QAction::triggered, self, [self, recent] {
            self->view_.setSearchText(recent);
            self->doSearch();
        });
    }
    menu->addSeparator();
    QObject::connect(menu->addAction(ui::texts::Text(QStringLiteral("CLEAR"))), &QAction::triggered,
                     self, [self] { self->selectClear(); });
    return menu;
}

// The close button stays off while the search thread fills the trees, so
// the window cannot be torn down under it.
void VKSearchController::SearchTreeView(bool final) {
    view_.setControlEnabled(BrowserControl::CloseButton, false);
    view_.reloadTrees();
    if (!final)
        return;
    view_.stopImageLoading();
    const QString text = view_.searchText();
    view_.showSearchResult(!(text.isEmpty() || text == QStringLiteral(" ")));
    view_.setControlEnabled(BrowserControl::CloseButton, true);
}

void VKSearchController::reloadTreeView() {
    ++iSearchClickCN_;
    seam::Bridge().StopSearch();
    view_.setControlEnabled(BrowserControl::BackHome, true);
    const QString key = NormalizeSearchText(view_.searchText());
    if (key != lastSearchStr_ && doSearch()) {
        lastSearchStr_ = key;
        view_.setControlEnabled(BrowserControl::BackHome, false);
        return;
    }
    SearchTreeView(true);
}

}  // namespace velmora::browser
