#include "ImageRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QSet>
#include <QSvgRenderer>
#include <QtDebug>

namespace velmora::ui {

namespace {

// Names whose meaning a theme icon already carries. Everything else the
// windows ask for is drawn by us (resources/images, compiled in).
struct ThemedName {
    const char* name;
    const char* icon;
};
constexpr ThemedName kThemed[] = {
    {"icon_disk", "drive-harddisk"},
    {"icon_usb", "drive-removable-media"},
    {"icon_mirror", "media-optical"},
    {"icon_desktop", "user-desktop"},
    {"warning", "dialog-warning"},
    // The trees' node icons: "%dIconImage" of the node's kind.
    {"0IconImage", "drive-harddisk"},      // a file system's root
    {"1IconImage", "folder"},              // any other folder or file
    {"2IconImage", "x-office-document"},   // documents
    {"3IconImage", "image-x-generic"},     // pictures
    {"4IconImage", "video-x-generic"},     // movies
    {"5IconImage", "audio-x-generic"},     // music
    {"6IconImage", "package-x-generic"},   // archives
    {"7IconImage", "mail-read"},           // e-mail
    {"8IconImage", "text-x-generic"},      // other files
    {"9IconImage", "x-office-calendar"},   // a year
    {"10IconImage", "x-office-calendar"},  // a month, and every creation-date node
    {"11IconImage", "folder"},             // anything else
};

constexpr const char* kThemeName = "Adwaita";
constexpr int kThemedSize = 32;

const char* ThemedIconName(const QString& name) {
    for (const ThemedName& t : kThemed) {
        if (name == QLatin1String(t.name)) {
            return t.icon;
        }
    }
    return nullptr;
}

QString DrawnPath(const QString& name) {
    return QStringLiteral(":/images/") + name + ".svg";
}

// The theme's pictures of one icon, from its fixed-size folders. Looked up
// directly so every desktop shows the same icons, whatever theme it runs.
QIcon ThemeIcon(const char* icon) {
    QIcon result;
    QStringList roots = QIcon::themeSearchPaths();
    roots << QStringLiteral("/usr/share/icons");
    for (const QString& root : roots) {
        QDir theme(root + '/' + kThemeName);
        if (!theme.exists()) {
            continue;
        }
        const QStringList sizes = theme.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& size : sizes) {
            if (!size.contains('x')) {
                continue;
            }
            const QStringList contexts =
                QDir(theme.filePath(size)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            for (const QString& context : contexts) {
                const QString file =
                    theme.filePath(size + '/' + context + '/' + QLatin1String(icon) + ".png");
                if (QFileInfo::exists(file)) {
                    result.addFile(file);
                }
            }
        }
        if (!result.isNull()) {
            break;
        }
    }
    return result;
}

QIcon CachedThemeIcon(const char* icon) {
    static QHash<QString, QIcon> cache;
    const QString key = QLatin1String(icon);
    auto it = cache.find(key);
    if (it == cache.end()) {
        it = cache.insert(key, ThemeIcon(icon));
    }
    return *it;
}

QSet<QString>& PlaceholdersAsked() {
    static QSet<QString> names;
    return names;
}

qreal DevicePixelRatio() {
    return qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
}

QPixmap PlaceholderPixmap(const QString& name, const QSize& size) {
    if (!PlaceholdersAsked().contains(name)) {
        PlaceholdersAsked().insert(name);
        qWarning("image \"%s\" has no picture; showing a placeholder", qPrintable(name));
    }
    const QSize s = size.isValid() && !size.isEmpty() ? size : QSize(32, 32);
    QPixmap pixmap(s);
    pixmap.fill(QColor(230, 230, 230));
    QPainter painter(&pixmap);
    painter.setPen(QPen(QColor(150, 150, 150), 1, Qt::DashLine));
    painter.drawRect(QRect(QPoint(0, 0), s).adjusted(0, 0, -1, -1));
    QFont font = painter.font();
    font.setPixelSize(qMax(6, qMin(11, s.height() / 3)));
    painter.setFont(font);
    painter.setPen(QColor(90, 90, 90));
    painter.drawText(QRect(QPoint(0, 0), s), Qt::AlignCenter | Qt::TextWrapAnywhere, name);
    return pixmap;
}

}  // namespace

ImageOrigin ImageRegistry::Origin(const QString& name) {
    if (QFile::exists(DrawnPath(name))) {
        return ImageOrigin::Drawn;
    }
    if (const char* icon = ThemedIconName(name)) {
        return CachedThemeIcon(icon).isNull() ? ImageOrigin::Placeholder : ImageOrigin::Themed;
    }
    return ImageOrigin::Placeholder;
}

QSize ImageRegistry::NaturalSize(const QString& name) {
    switch (Origin(name)) {
        case ImageOrigin::Drawn:
            return QSvgRenderer(DrawnPath(name)).defaultSize();
        case ImageOrigin::Themed:
            return QSize(kThemedSize, kThemedSize);
        case ImageOrigin::Placeholder:
            break;
    }
    return QSize(32, 32);
}

QPixmap ImageRegistry::Pixmap(const QString& name) {
    return Pixmap(name, NaturalSize(name));
}

QPixmap ImageRegistry::Pixmap(const QString& name, const QSize& size) {
    static QHash<QString, QPixmap> cache;
    const qreal ratio = DevicePixelRatio();
    const QString key =
        QStringLiteral("%1@%2x%3@%4").arg(name).arg(size.width()).arg(size.height()).arg(ratio);
    if (auto it = cache.constFind(key); it != cache.constEnd()) {
        return *it;
    }
    QPixmap pixmap;
    switch (Origin(name)) {
        case ImageOrigin::Drawn: {
            QSvgRenderer renderer(DrawnPath(name));
            pixmap = QPixmap(size * ratio);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            renderer.render(&painter);
            painter.end();
            pixmap.setDevicePixelRatio(ratio);
            break;
        }
        case ImageOrigin::Themed:
            pixmap = CachedThemeIcon(ThemedIconName(name)).pixmap(size, ratio);
            if (pixmap.deviceIndependentSize().toSize() != size) {
                pixmap =
                    pixmap.scaled(size * ratio, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                pixmap.setDevicePixelRatio(ratio);
            }
            break;
        case ImageOrigin::Placeholder:
            return PlaceholderPixmap(name, size);
    }
    cache.insert(key, pixmap);
    return pixmap;
}

QIcon ImageRegistry::Icon(const QString& name) {
    if (const char* icon = ThemedIconName(name); icon && Origin(name) == ImageOrigin::Themed) {
        return CachedThemeIcon(icon);
    }
    return QIcon(Pixmap(name));
}

QStringList ImageRegistry::KnownNames() {
    QStringList names;
    const QStringList files = QDir(QStringLiteral(":/images")).entryList({"*.svg"}, QDir::Files);
    for (const QString& file : files) {
        names << file.chopped(4);
    }
    for (const ThemedName& t : kThemed) {
        names << QLatin1String(t.name);
    }
    names.sort();
    return names;
}

QStringList ImageRegistry::PlaceholderNamesAsked() {
    QStringList names(PlaceholdersAsked().begin(), PlaceholdersAsked().end());
    names.sort();
    return names;
}

}  // namespace velmora::ui
