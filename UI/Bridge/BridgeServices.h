// What the bridge asks of its surroundings: the clock, the user's settings
// and the texts of the interface language. The program installs
// implementations over Qt; until then (and in headless tests) the defaults
// below answer.
#pragma once

#include <ctime>
#include <memory>
#include <string>

namespace velmora::bridge {

// Wall-clock seconds, for the throttles and time stamps of the operations.
class IClock {
public:
    virtual ~IClock() = default;
    virtual time_t Now() const = 0;
};

// The user's settings ("isSelectDesktopDisk", "rsfPath", "SavePath"...).
class ISettings {
public:
    virtual ~ISettings() = default;
    // `fallback` when the key is not set.
    virtual bool GetBool(const std::string& key, bool fallback) const = 0;
    virtual void SetBool(const std::string& key, bool value) = 0;
    virtual std::string GetString(const std::string& key, const std::string& fallback) const = 0;
    virtual void SetString(const std::string& key, const std::string& value) = 0;
};

// Texts of the interface language, by key ("PLX_TWO_PICTURE_TITLE"), and
// times written the way the user's language writes them.
class ITextCatalog {
public:
    virtual ~ITextCatalog() = default;
    // The text of the key, `fallback` when the catalogue has none.
    virtual std::string Text(const std::string& key, const std::string& fallback) const = 0;
    // A date with its time: the long date form and the short time form.
    virtual std::string DateTimeText(time_t seconds) const = 0;
};

// "1 May 2026 09:30" in local time (no leading zero on the day); empty when
// the time cannot be converted.
std::string PlainDateTimeText(time_t seconds);

// The installed services; each install replaces the previous one, null
// puts the default back. Defaults: the system clock; settings that keep
// nothing (every key unset); a catalogue that answers each key itself and
// writes times as "10 December 2026 09:30" in local time.
void InstallClock(std::shared_ptr<IClock> clock);
void InstallSettings(std::shared_ptr<ISettings> settings);
void InstallTextCatalog(std::shared_ptr<ITextCatalog> catalog);
std::shared_ptr<IClock> CurrentClock();
std::shared_ptr<ISettings> CurrentSettings();
std::shared_ptr<ITextCatalog> CurrentTextCatalog();

}  // namespace velmora::bridge
