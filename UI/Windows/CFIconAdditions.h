// The icon of a file, folder or device node as picture data, for records of
// volumes that come and go. Empty data when there is nothing to show.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace velmora::windows {

// PNG data of the icon the desktop shows for `path`; empty for an empty
// path or one that does not exist.
QByteArray copyIconDataForPath(const QString& path);
// The same for a file URL; empty for any other URL.
QByteArray copyIconDataForURL(const QUrl& url);

}  // namespace velmora::windows
