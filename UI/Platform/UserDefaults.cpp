#include "UIPlatform/UserDefaults.h"

#include <QFileInfo>

#include "platform/desktop/InvokingUser.h"

namespace velmora::ui {

UserDefaults::UserDefaults(const QString& filePath)
    : path_(filePath), settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {}

UserDefaults::~UserDefaults() = default;

UserDefaults& UserDefaults::standard() {
    static UserDefaults defaults(DefaultPath());
    return defaults;
}

QString UserDefaults::DefaultPath() {
    return QString::fromStdString(platform::InvokingUserConfigFolder()) + "/Velmora/Velmora.conf";
}

QVariant UserDefaults::value(const QString& key, const QVariant& fallback) const {
    return settings_->value(key, fallback);
}

bool UserDefaults::boolValue(const QString& key, bool fallback) const {
    const QVariant v = settings_->value(key);
    if (!v.isValid())
        return fallback;
    // INI files keep booleans as text; "YES"/"NO" come from older files.
    const QString text = v.toString().trimmed().toLower();
    if (text == "yes")
        return true;
    if (text == "no")
        return false;
    return v.toBool();
}

QString UserDefaults::stringValue(const QString& key) const {
    return settings_->value(key).toString();
}

QStringList UserDefaults::stringList(const QString& key) const {
    return settings_->value(key).toStringList();
}

bool UserDefaults::contains(const QString& key) const {
    return settings_->contains(key);
}

bool UserDefaults::setValue(const QString& key, const QVariant& value) {
    settings_->setValue(key, value);
    return flush();
}

bool UserDefaults::remove(const QString& key) {
    settings_->remove(key);
    return flush();
}

bool UserDefaults::flush() {
    const std::string folder = QFileInfo(path_).absolutePath().toStdString();
    if (!platform::MakeFolderForInvokingUser(folder))
        return false;
    platform::AsInvokingUser as;
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

}  // namespace velmora::ui
