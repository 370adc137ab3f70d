// The fonts the windows name (Helvetica, Helvetica Light, Helvetica Neue
// Thin...) mapped to the metric-compatible family Debian ships, Nimbus Sans
// (fonts-urw-base35), with the weight the name asks for.
#pragma once

#include <QFont>
#include <QString>

namespace velmora::ui {

class FontRegistry {
public:
    // The family every mapped name resolves to.
    static QString Family();

    // A font by the name the windows use ("Helvetica", "Helvetica Light",
    // "Helvetica Neue Light", "Helvetica Neue Thin"...) at a size in points
    // of the windows' frames (1 point = 1 device-independent pixel). An
    // unknown name keeps its own family so a typo shows, rather than
    // silently looking right.
    static QFont Font(const QString& name, qreal points);

    // The system's text font at a size.
    static QFont SystemFont(qreal points);
};

}  // namespace velmora::ui
