#include "FontRegistry.h"

namespace velmora::ui {

namespace {

struct MappedFont {
    const char* name;
    QFont::Weight weight;
};
constexpr MappedFont kMapped[] = {
    {"Helvetica", QFont::Normal},           {"Helvetica Light", QFont::Light},
    {"Helvetica Bold", QFont::Bold},        {"Helvetica Neue", QFont::Normal},
    {"Helvetica Neue Light", QFont::Light}, {"Helvetica Neue Thin", QFont::Thin},
    {"Helvetica Neue Bold", QFont::Bold},
};

QFont MakeFont(const QString& family, QFont::Weight weight, qreal points) {
    QFont font(family);
    // Frames are in device-independent pixels: a 12-point text of the
    // windows is 12 pixels high at scale 1, whatever the screen's dpi.
    font.setPixelSize(qMax(1, qRound(points)));
    font.setWeight(weight);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

QString FontRegistry::Family() {
    return QStringLiteral("Nimbus Sans");
}

QFont FontRegistry::Font(const QString& name, qreal points) {
    for (const MappedFont& m : kMapped) {
        if (name == QLatin1String(m.name)) {
            return MakeFont(Family(), m.weight, points);
        }
    }
    return MakeFont(name, QFont::Normal, points);
}

QFont FontRegistry::SystemFont(qreal points) {
    return MakeFont(Family(), QFont::Normal, points);
}

}  // namespace velmora::ui
