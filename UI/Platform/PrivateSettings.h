// The application's settings file "PrivateData": a read-only file installed
// with the program, and the invoking user's overlay that holds what the
// program changed. The installed file is never written (it belongs to the
// package and may sit on a read-only system); an upgrade's new values show
// through for every key the overlay does not hold.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace velmora::ui {

class PrivateSettings {
public:
    PrivateSettings(const QString& shippedPath, const QString& overlayPath);
    // The installed file beside the program (resources/PrivateData.plist in
    // the work folder, or ../share/tamsweld/), the overlay in the invoking
    // user's configuration folder.
    static PrivateSettings& shared();

    // Read afresh on every call, the overlay's keys over the installed ones;
    // an invalid QVariant when neither has the key.
    QVariant value(const QString& key) const;
    QString stringValue(const QString& key) const { return value(key).toString(); }
    QVariantMap all() const;

    // Writes the whole overlay with the key changed, atomically, owned by
    // the invoking user. False when the overlay cannot be written or the
    // value cannot be stored in a property list.
    bool setValue(const QString& key, const QVariant& value);
    bool remove(const QString& key);

    const QString& shippedPath() const { return shipped_; }
    const QString& overlayPath() const { return overlay_; }

private:
    bool writeOverlay(const QVariantMap& map);
    QString shipped_, overlay_;
};

}  // namespace velmora::ui
