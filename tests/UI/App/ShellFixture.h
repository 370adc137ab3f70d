// What every shell test starts from: the shipped settings without an
// overlay, empty user defaults, scripted modal runs and alerts, a clock that
// stands still, and a record of every host the network layer was asked for.
#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QTest>
#include <QUrl>

#include "UIPlatform/Modal.h"
#include "UIPlatform/Network.h"
#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/Timing.h"
#include "UIPlatform/UserDefaults.h"
#include "UpdateSchedule.h"

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        using namespace velmora::ui;
        QFile::remove(PrivateSettings::shared().overlayPath());
        for (const char* key : {"rsfPath", "Participate", "AppleLanguages"})
            UserDefaults::standard().remove(key);
        // Cases of a table start afresh here too.
        modal.script.clear();
        modal.shown.clear();
        modal.unscripted = 0;
        alerts.answers.clear();
        alerts.shown.clear();
        alerts.unscripted = 0;
        asked.clear();
        SetModalRunner(&modal);
        SetAlertPresenter(&alerts);
        SetClock(&clock);
        Network::SetRequestWatcher([this](const QUrl& url) { asked.push_back(url); });
        velmora::app::NetworkTimeouts() = {5000, 5000};
    }
    void TearDown() override {
        using namespace velmora::ui;
        Network::SetRequestWatcher({});
        SetModalRunner(nullptr);
        SetAlertPresenter(nullptr);
        SetClock(nullptr);
        velmora::app::NetworkTimeouts() = {};
        // Replies still under way answer into objects that are gone.
        QTest::qWait(0);
        for (const QUrl& url : asked)
            EXPECT_EQ(url.host(), "127.0.0.1") << "asked " << url.toString().toStdString();
    }

    // The overlay's link table: the update description and the download page.
    static void SetLinks(const QString& iniUrl, const QString& updateUrl = {}) {
        velmora::ui::PrivateSettings::shared().setValue(
            "en", QVariantMap{{"IniURL", iniUrl}, {"UpdateURL", updateUrl}});
    }

    velmora::ui::ScriptedModalRunner modal;
    velmora::ui::ScriptedAlerts alerts;
    velmora::ui::ManualClock clock{QDateTime(QDate(2026, 12, 10), QTime(9, 0), Qt::LocalTime)};
    std::vector<QUrl> asked;
};

// The update description the loopback server hands out.
inline QByteArray UpdatePlist(const QByteArray& versionCheck, const QByteArray& extra = {}) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>VersionCheck</key>)" +
           versionCheck + "<key>Version</key><string>2.0</string>" + extra + "</dict></plist>";
}
