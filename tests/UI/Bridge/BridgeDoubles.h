// Doubles of what the bridge asks of its surroundings, and a guard that
// installs them for one test and puts the defaults back after it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BridgeServices.h"
#include "MainThread.h"
#include "StartThread.h"

namespace velmora::bridgetest {

class MemorySettings final : public bridge::ISettings {
public:
    bool GetBool(const std::string& key, bool fallback) const override {
        std::lock_guard<std::mutex> hold(mutex_);
        auto it = bools_.find(key);
        return it != bools_.end() ? it->second : fallback;
    }
    void SetBool(const std::string& key, bool value) override {
        std::lock_guard<std::mutex> hold(mutex_);
        bools_[key] = value;
    }
    std::string GetString(const std::string& key, const std::string& fallback) const override {
        std::lock_guard<std::mutex> hold(mutex_);
        auto it = strings_.find(key);
        return it != strings_.end() ? it->second : fallback;
    }
    void SetString(const std::string& key, const std::string& value) override {
        std::lock_guard<std::mutex> hold(mutex_);
        strings_[key] = value;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, bool> bools_;
    std::map<std::string, std::string> strings_;
};

// English titles of the categories and the untitled device; times as
// "@<seconds since 1970>" so that tests see the exact value formatted.
class TableCatalog final : public bridge::ITextCatalog {
public:
    std::string Text(const std::string& key, const std::string& fallback) const override {
        static const std::map<std::string, std::string> texts = {
            {"PLX_TWO_DOCUMENT_TITLE", "Documents"}, {"PLX_TWO_PICTURE_TITLE", "Pictures"},
            {"PLX_TWO_MOVIE_TITLE", "Movies"},       {"PLX_TWO_MUSIC_TITLE", "Music"},
            {"PLX_TWO_ARCHIVES_TITLE", "Archives"},  {"PLX_TWO_EMAIL_TITLE", "E-mail"},
            {"PLX_TWO_OTHER_TITLE", "Other"},        {"DEVICE_NAME_UNTITILED", "Untitled"},
        };
        auto it = texts.find(key);
        return it != texts.end() ? it->second : fallback;
    }
    std::string DateTimeText(time_t seconds) const override {
        return "@" + std::to_string(static_cast<long long>(seconds));
    }
};

class ManualClock final : public bridge::IClock {
public:
    explicit ManualClock(time_t now) : now_(now) {}
    time_t Now() const override { return now_; }

private:
    time_t now_;
};

// Installs a manual poster (the test's main loop), memory settings, the
// table catalogue and a fixed clock; the defaults come back at the end.
class BridgeWorld {
public:
    BridgeWorld()
        : poster(std::make_shared<bridge::ManualPoster>()),
          settings(std::make_shared<MemorySettings>()) {
        bridge::InstallPoster(poster);
        bridge::InstallSettings(settings);
        bridge::InstallTextCatalog(std::make_shared<TableCatalog>());
        bridge::InstallClock(std::make_shared<ManualClock>(kNow));
    }
    ~BridgeWorld() {
        bridge::JoinBackgroundThreads();
        bridge::InstallPoster(nullptr);
        bridge::InstallSettings(nullptr);
        bridge::InstallTextCatalog(nullptr);
        bridge::InstallClock(nullptr);
    }
    BridgeWorld(const BridgeWorld&) = delete;
    BridgeWorld& operator=(const BridgeWorld&) = delete;

    static constexpr time_t kNow = 1700000000;
    std::shared_ptr<bridge::ManualPoster> poster;
    std::shared_ptr<MemorySettings> settings;
};

// Records the notifications of one name while it lives.
class NotificationLog {
public:
    explicit NotificationLog(const std::string& name) {
        token_ = bridge::NotificationCentre::Default().AddObserver(
            name, [this](const bridge::Notification& n) {
                objects.push_back(n.object);
                threads.push_back(std::this_thread::get_id());
            });
    }
    ~NotificationLog() { bridge::NotificationCentre::Default().RemoveObserver(token_); }
    NotificationLog(const NotificationLog&) = delete;
    NotificationLog& operator=(const NotificationLog&) = delete;

    std::vector<const void*> objects;
    std::vector<std::thread::id> threads;

private:
    bridge::NotificationCentre::Token token_ = 0;
};

}  // namespace velmora::bridgetest
