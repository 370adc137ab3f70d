#include "UIPlatform/UserDefaults.h"

#include <stdlib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "platform/UserFiles.h"
#include "platform/desktop/InvokingUser.h"

namespace velmora::ui {

namespace {

// The file as the user may read it; a link there leads nowhere the user
// could not read themselves.
QVariantMap ReadIni(const QString& path) {
    QVariantMap values;
    platform::AsInvokingUser as;
    if (!QFileInfo(path).isFile())
        return values;
    QSettings settings(path, QSettings::IniFormat);
    for (const QString& key : settings.allKeys())
        values.insert(key, settings.value(key));
    return values;
}

// The INI text of `values` exactly as QSettings writes it: made in a private
// folder of the program's own (mkdtemp), read back and removed, so that the
// user's file itself is only ever written by the one safe road.
std::optional<QByteArray> IniBytes(const QVariantMap& values) {
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + "/velmora-defaults-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr)
        return std::nullopt;
    const QString folder = QFile::decodeName(pattern);
    const QString file = folder + "/defaults.ini";
    std::optional<QByteArray> bytes;
    {
        QSettings settings(file, QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            settings.setValue(it.key(), it.value());
        settings.sync();
        if (settings.status() == QSettings::NoError) {
            QFile in(file);
            if (values.isEmpty())
                bytes = QByteArray();
            else if (in.open(QIODevice::ReadOnly))
                bytes = in.readAll();
        }
    }
    QDir(folder).removeRecursively();
    return bytes;
}

}  // namespace

UserDefaults::UserDefaults(const QString& filePath) : path_(filePath), values_(ReadIni(filePath)) {}

UserDefaults::~UserDefaults() = default;

UserDefaults& UserDefaults::standard() {
    static UserDefaults defaults(DefaultPath());
    return defaults;
}

QString UserDefaults::DefaultPath() {
    return QString::fromStdString(platform::InvokingUserConfigFolder()) + "/Velmora/Velmora.conf";
}

QVariant UserDefaults::value(const QString& key, const QVariant& fallback) const {
    return values_.value(key, fallback);
}

bool UserDefaults::boolValue(const QString& key, bool fallback) const {
    const QVariant v = values_.value(key);
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
    return values_.value(key).toString();
}

QStringList UserDefaults::stringList(const QString& key) const {
    return values_.value(key).toStringList();
}

bool UserDefaults::contains(const QString& key) const {
    return values_.contains(key);
}

// The session keeps a change even when the file cannot take it; the answer
// says whether it was written.
bool UserDefaults::setValue(const QString& key, const QVariant& value) {
    values_.insert(key, value);
    return flush();
}

bool UserDefaults::remove(const QString& key) {
    values_.remove(key);
    return flush();
}

bool UserDefaults::flush() {
    const std::string folder = QFileInfo(path_).absolutePath().toStdString();
    if (!platform::MakeFolderForInvokingUser(folder))
        return false;
    const std::optional<QByteArray> bytes = IniBytes(values_);
    if (!bytes)
        return false;
    return platform::ReplaceUserFile(QFileInfo(path_).absoluteFilePath().toStdString(),
                                     bytes->toStdString());
}

}  // namespace velmora::ui
