// Web addresses by key ("IniURL", "UpdateURL", "OnlineHelp", ...) from the
// settings file's table of the interface language, falling back to the
// English table. The shipped tables hold empty addresses.
#pragma once

#include <QString>

namespace velmora::ui {
class PrivateSettings;
}

class VKLinkUrl {
public:
    VKLinkUrl() = delete;
    // The address, or an empty string when no table holds one.
    static QString GetUrl(const QString& key);
    static QString GetUrl(const QString& key, const QString& language,
                          const velmora::ui::PrivateSettings& settings);
    // The interface language's code ("en", "fr"...): the first of
    // "AppleLanguages" in the user defaults, else "en".
    static QString CurrentLanguage();
};
