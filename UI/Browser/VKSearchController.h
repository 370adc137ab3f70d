// The search of the results: the field's text normalised and handed to the
// bridge's search thread, the recent searches, the display while the
// search fills the trees and at its end, and a new search when the user
// typed on while one ran.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "Browser/VKBrowserControls.h"

class QMenu;
class QWidget;

namespace velmora::browser {

class VKSearchController : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxRecents = 10;

    // Observes "DoSearchValue" and "DoSearchFinished" while it lives and
    // restores the recents from the user defaults.
    explicit VKSearchController(IBrowserControls& view, QObject* parent = nullptr);
    ~VKSearchController() override;

    void setSelectDesktop(bool desktop) { selectDesktop_ = desktop; }

    // No-break spaces become plain ones (a run of them one space), then one
    // leading and one trailing space go.
    static QString NormalizeSearchText(const QString& text);

    // Return in the field: true when the bridge started a search.
    bool doSearch();
    // The field's cancel button: an empty search brings the full trees back.
    bool searchClearButtonClick();
    // The Desktop entry's search when its scan ended.
    void doEndScanSearch();
    // The recents menu's "clear".
    void selectClear();
    // The recents kept in the settings file.
    void addSearchHistory();
    void saveSearchHistroy();

    // The field's recents menu as it stands: the title over the recents,
    // the recents (or the no-recents line), a separator and "clear". A
    // recent chosen is put in the field and searched. The caller owns it.
    QMenu* searchMenu(QWidget* parent) const;

    // While the search thread adds results, and at its end.
    void SearchTreeView(bool final);
    void reloadTreeView();

    const QStringList& recentSearches() const { return recents_; }
    const QString& lastSearchStr() const { return lastSearchStr_; }
    int searchCount() const { return iSearchClickCN_; }

private:
    void remember(const QString& key);

    IBrowserControls& view_;
    QStringList recents_;
    QString lastSearchStr_;
    bool selectDesktop_ = false;
    int iSearchClickCN_ = 0;
};

}  // namespace velmora::browser
