// The colours of the thumbnail grid.
#pragma once

#include <QColor>

namespace CNGridViewPalette {

inline QColor itemBackgroundColor() {
    return QColor::fromRgbF(0, 0, 0, 0.05f);
}
inline QColor itemBackgroundHoverColor() {
    return QColor::fromRgbF(0, 0, 0, 0.3f);
}
inline QColor itemBackgroundSelectionColor() {
    return QColor::fromRgbF(0, 0, 0, 0.25f);
}
inline QColor itemSelectionRingColor() {
    return QColor::fromRgbF(0.346f, 0.531f, 0.792f, 1.0f);
}
inline QColor itemTitleColor() {
    return QColor::fromRgbF(0.196f, 0.2f, 0.2f, 1.0f);
}
inline QColor itemTitleShadowColor() {
    return QColor::fromRgbF(1, 1, 1, 0.8f);
}
inline QColor selectionFrameColor() {
    return QColor(128, 128, 128);
}

}  // namespace CNGridViewPalette
