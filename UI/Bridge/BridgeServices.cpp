#include "BridgeServices.h"

#include <mutex>

namespace velmora::bridge {

namespace {

class SystemClock final : public IClock {
public:
    time_t Now() const override { return ::time(nullptr); }
};

class NoSettings final : public ISettings {
public:
    bool GetBool(const std::string&, bool fallback) const override { return fallback; }
    void SetBool(const std::string&, bool) override {}
    std::string GetString(const std::string&, const std::string& fallback) const override {
        return fallback;
    }
    void SetString(const std::string&, const std::string&) override {}
};

class KeyCatalog final : public ITextCatalog {
public:
    std::string Text(const std::string& key, const std::string&) const override { return key; }
    std::string DateTimeText(time_t seconds) const override { return PlainDateTimeText(seconds); }
};

std::mutex g_servicesMutex;

template <class T, class Default>
std::shared_ptr<T>& Slot() {
    static std::shared_ptr<T> slot = std::make_shared<Default>();
    return slot;
}

template <class T, class Default>
void Install(std::shared_ptr<T> value) {
    std::lock_guard<std::mutex> hold(g_servicesMutex);
    Slot<T, Default>() = value ? std::move(value) : std::make_shared<Default>();
}

template <class T, class Default>
std::shared_ptr<T> Current() {
    std::lock_guard<std::mutex> hold(g_servicesMutex);
    return Slot<T, Default>();
}

}  // namespace

std::string PlainDateTimeText(time_t seconds) {
    struct tm local {};
    if (::localtime_r(&seconds, &local) == nullptr)
        return {};
    char text[64];
    const size_t n = std::strftime(text, sizeof text, "%d %B %Y %H:%M", &local);
    std::string out(text, n);
    // "01 May" reads as "1 May".
    if (out.size() > 1 && out[0] == '0')
        out.erase(0, 1);
    return out;
}

void InstallClock(std::shared_ptr<IClock> clock) {
    Install<IClock, SystemClock>(std::move(clock));
}
void InstallSettings(std::shared_ptr<ISettings> settings) {
    Install<ISettings, NoSettings>(std::move(settings));
}
void InstallTextCatalog(std::shared_ptr<ITextCatalog> catalog) {
    Install<ITextCatalog, KeyCatalog>(std::move(catalog));
}
std::shared_ptr<IClock> CurrentClock() {
    return Current<IClock, SystemClock>();
}
std::shared_ptr<ISettings> CurrentSettings() {
    return Current<ISettings, NoSettings>();
}
std::shared_ptr<ITextCatalog> CurrentTextCatalog() {
    return Current<ITextCatalog, KeyCatalog>();
}

}  // namespace velmora::bridge
