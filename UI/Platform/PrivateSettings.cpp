#include "UIPlatform/PrivateSettings.h"

#include <QDebug>
#include <QFileInfo>

#include "UIPlatform/PlistVariant.h"
#include "platform/AppPaths.h"
#include "platform/desktop/InvokingUser.h"

namespace velmora::ui {

namespace {

QVariantMap ReadDict(const QString& path) {
    auto parsed = platform::ReadPlistFile(path.toStdString());
    if (!parsed)
        return {};
    return ToVariant(*parsed).toMap();
}

}  // namespace

PrivateSettings::PrivateSettings(const QString& shippedPath, const QString& overlayPath)
    : shipped_(shippedPath), overlay_(overlayPath) {}

PrivateSettings& PrivateSettings::shared() {
    static PrivateSettings settings = [] {
        const QString work = QString::fromStdString(platform::ExecutableFolder());
        QString shipped = work + "/resources/PrivateData.plist";
        if (!QFileInfo::exists(shipped))
            shipped = work + "/../share/tamsweld/PrivateData.plist";
        const QString overlay = QString::fromStdString(platform::InvokingUserConfigFolder()) +
                                "/Velmora/PrivateData.plist";
        return PrivateSettings(shipped, overlay);
    }();
    return settings;
}

QVariantMap PrivateSettings::all() const {
    QVariantMap merged = ReadDict(shipped_);
    const QVariantMap overlay = ReadDict(overlay_);
    for (auto it = overlay.begin(); it != overlay.end(); ++it)
        merged.insert(it.key(), it.value());
    return merged;
}

QVariant PrivateSettings::value(const QString& key) const {
    const QVariantMap overlay = ReadDict(overlay_);
    if (auto it = overlay.find(key); it != overlay.end())
        return it.value();
    return ReadDict(shipped_).value(key);
}

bool PrivateSettings::setValue(const QString& key, const QVariant& value) {
    QVariantMap overlay = ReadDict(overlay_);
    overlay.insert(key, value);
    return writeOverlay(overlay);
}

bool PrivateSettings::remove(const QString& key) {
    QVariantMap overlay = ReadDict(overlay_);
    if (overlay.remove(key) == 0)
        return true;
    return writeOverlay(overlay);
}

bool PrivateSettings::writeOverlay(const QVariantMap& map) {
    auto plist = FromVariant(map);
    if (!plist) {
        qWarning() << "PrivateData: a value cannot be kept in a property list";
        return false;
    }
    const std::string folder = QFileInfo(overlay_).absolutePath().toStdString();
    if (!platform::MakeFolderForInvokingUser(folder))
        return false;
    return platform::WritePlistFile(overlay_.toStdString(), *plist);
}

}  // namespace velmora::ui
