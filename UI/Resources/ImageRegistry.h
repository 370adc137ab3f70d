// Pictures by name: the windows ask for "next_normal" or "0IconImage" and get
// the program's own drawing, or the desktop theme's icon where one says the
// same thing (disks, folders, kinds of files).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

namespace velmora::ui {

enum class ImageOrigin {
    Drawn,        // one of our SVG files
    Themed,       // an icon of the Adwaita theme
    Placeholder,  // nobody drew it: a labelled grey box
};

class ImageRegistry {
public:
    // Where the picture of a name comes from. A themed name whose icon is
    // not installed counts as a placeholder.
    static ImageOrigin Origin(const QString& name);

    // The picture at its own size (SVG drawings keep their document size,
    // theme icons are 32 x 32). A name nobody drew gives a labelled
    // placeholder and logs the name once.
    static QPixmap Pixmap(const QString& name);
    // The same picture drawn at another size.
    static QPixmap Pixmap(const QString& name, const QSize& size);
    static QIcon Icon(const QString& name);
    static QSize NaturalSize(const QString& name);

    // Every name the registry knows, drawn or themed.
    static QStringList KnownNames();
    // Names that were asked for and fell back to the placeholder.
    static QStringList PlaceholderNamesAsked();
};

}  // namespace velmora::ui
