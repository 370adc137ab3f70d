#include "Windows/CFIconAdditions.h"

#include <QBuffer>
#include <QDebug>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>

namespace velmora::windows {

namespace {

constexpr int kIconSize = 128;

}  // namespace

QByteArray copyIconDataForPath(const QString& path) {
    if (path.isEmpty())
        return {};
    return copyIconDataForURL(QUrl::fromLocalFile(path));
}

QByteArray copyIconDataForURL(const QUrl& url) {
    if (!url.isValid() || !url.isLocalFile())
        return {};
    const QFileInfo info(url.toLocalFile());
    if (!info.exists()) {
        qWarning().noquote() << "copyIconDataForURL: no file at" << url.toString();
        return {};
    }
    // Device nodes and other special files have no icon of their own: they
    // get the plain file's.
    const QFileIconProvider provider;
    QIcon icon = provider.icon(info);
    if (icon.isNull())
        icon = provider.icon(QAbstractFileIconProvider::File);
    const QPixmap pixmap = icon.pixmap(kIconSize, kIconSize);
    if (pixmap.isNull()) {
        qWarning().noquote() << "copyIconDataForURL: no icon for" << url.toString();
        return {};
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!pixmap.save(&buffer, "PNG")) {
        qWarning().noquote() << "copyIconDataForURL: the icon of" << url.toString()
                             << "could not be written";
        return {};
    }
    return data;
}

}  // namespace velmora::windows
