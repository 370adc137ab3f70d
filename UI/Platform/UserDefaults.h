// The user's preferences ("rsfPath", "AppleLanguages", "Participate", ...)
// in an INI file in the invoking user's configuration folder. The program
// runs as root, so the file and its folder are written as that user: root's
// home never collects them, and the user can still change or remove them.
// The file is replaced whole on every change, by the same road as every
// other file written for the user (platform/UserFiles.h): a new file beside
// it, synced, renamed over it; a link planted at its path is never followed.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

namespace velmora::ui {

class UserDefaults {
public:
    explicit UserDefaults(const QString& filePath);
    ~UserDefaults();
    // The process's defaults in DefaultPath().
    static UserDefaults& standard();
    // <configuration folder>/Velmora/Velmora.conf of the invoking user.
    static QString DefaultPath();

    QVariant value(const QString& key, const QVariant& fallback = {}) const;
    bool boolValue(const QString& key, bool fallback = false) const;
    QString stringValue(const QString& key) const;
    QStringList stringList(const QString& key) const;
    bool contains(const QString& key) const;

    // Written at once, as the invoking user.
    bool setValue(const QString& key, const QVariant& value);
    bool remove(const QString& key);

    const QString& filePath() const { return path_; }

private:
    bool flush();
    QString path_;
    // What the file held when read, with this session's changes.
    QVariantMap values_;
};

}  // namespace velmora::ui
