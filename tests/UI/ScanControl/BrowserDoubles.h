// A results browser that records what the controllers set on it, and the
// fixture that puts the scripted bridge, alerts and hand-moved timers in
// place.
#pragma once

#include <QWidget>

#include <map>
#include <memory>

#include "Browser/BrowserTimers.h"
#include "Browser/VKBrowserControls.h"
#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/UserDefaults.h"
#include "WindowTestSupport.h"

namespace velmora::browser::testing {

class RecordingBrowser : public IBrowserControls {
public:
    RecordingBrowser() : window_(std::make_unique<QWidget>()) { window_->resize(900, 600); }

    QWidget* window() override { return window_.get(); }
    void setControlEnabled(BrowserControl c, bool enabled) override { enabled_[c] = enabled; }
    void setControlVisible(BrowserControl c, bool visible) override { visible_[c] = visible; }
    void setControlText(BrowserControl c, const QString& text) override { texts_[c] = text; }
    void setProgressValue(double percent) override { progress = percent; }
    QString searchText() const override { return search; }
    void setSearchText(const QString& text) override { search = text; }
    void reloadTrees() override { ++treeReloads; }
    void clearForSearch() override { ++searchClears; }
    void showSearchResult(bool hits) override { shownHits.push_back(hits); }
    void showRootWindow() override { ++homes; }

    bool enabled(BrowserControl c) const {
        const auto it = enabled_.find(c);
        return it != enabled_.end() && it->second;
    }
    bool visible(BrowserControl c) const {
        const auto it = visible_.find(c);
        return it != visible_.end() && it->second;
    }
    QString text(BrowserControl c) const {
        const auto it = texts_.find(c);
        return it == texts_.end() ? QString() : it->second;
    }

    QString search;
    double progress = -1;
    int treeReloads = 0;
    int searchClears = 0;
    int homes = 0;
    std::vector<bool> shownHits;

private:
    std::unique_ptr<QWidget> window_;
    std::map<BrowserControl, bool> enabled_, visible_;
    std::map<BrowserControl, QString> texts_;
};

class BrowserTest : public windows::testing::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ui::SetAlertPresenter(&alerts);
        ui::SetClock(&clock);
        ui::PrivateSettings::shared().remove(QStringLiteral("IsFristTime"));
        ui::UserDefaults::standard().remove(QStringLiteral("searchRecent"));
    }
    void TearDown() override {
        ui::SetClock(nullptr);
        ui::SetAlertPresenter(nullptr);
        WindowTest::TearDown();
    }

    ui::ManualClock clock{QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))};
    ManualTimers timers{clock};
    ui::ScriptedAlerts alerts;
    RecordingBrowser browser;
};

}  // namespace velmora::browser::testing
