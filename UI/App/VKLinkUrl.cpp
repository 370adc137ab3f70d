#include "VKLinkUrl.h"

#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/UserDefaults.h"

using velmora::ui::PrivateSettings;
using velmora::ui::UserDefaults;

QString VKLinkUrl::CurrentLanguage() {
    const QStringList languages = UserDefaults::standard().stringList("AppleLanguages");
    return languages.isEmpty() || languages.front().isEmpty() ? QStringLiteral("en")
                                                              : languages.front();
}

QString VKLinkUrl::GetUrl(const QString& key, const QString& language,
                          const PrivateSettings& settings) {
    for (const QString& table : {language, QStringLiteral("en")}) {
        const QString url = settings.value(table).toMap().value(key).toString();
        if (!url.isEmpty())
            return url;
    }
    return {};
}

QString VKLinkUrl::GetUrl(const QString& key) {
    return GetUrl(key, CurrentLanguage(), PrivateSettings::shared());
}
