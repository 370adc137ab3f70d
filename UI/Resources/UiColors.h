// The interface's colours, device RGB with 8-bit components.
#pragma once

#include <QColor>

namespace velmora::ui::colors {

// Title-bar windows: the bar is white in every state; the title is dark
// grey, half transparent while the window is inactive.
inline QColor TitleBar() {
    return QColor(255, 255, 255);
}
inline QColor TitleText(bool active) {
    return QColor(56, 56, 56, active ? 255 : 128);
}

// Progress strip.
inline QColor StripBackground() {
    return QColor(194, 198, 204);
}
inline QColor StripFill() {
    return QColor(53, 130, 248);
}

// Flat table headers.
inline QColor HeaderFill() {
    return QColor(250, 251, 252);
}
inline QColor HeaderLine() {
    return QColor(231, 233, 237);
}
inline QColor HeaderTitle() {
    return QColor(126, 143, 164);
}
inline QColor HeaderTitleInitial() {
    return QColor(194, 200, 230);
}

// Outline rows of the disk page.
inline QColor OutlineChosenRow() {
    return QColor(59, 153, 252);
}
inline QColor OutlineDiskRow() {
    return QColor(242, 242, 242);
}

// Text lines of the category buttons.
inline QColor ButtonTitle() {
    return QColor(34, 34, 34);
}
inline QColor ButtonSecondLine() {
    return QColor(102, 102, 102);
}

// Links and the deep-scan title.
inline QColor Link() {
    return QColor(24, 90, 166);
}
inline QColor DeepScanTitle() {
    return QColor(69, 150, 255);
}

// The grouping box's frame: black at 15 %.
inline QColor GroupFrame() {
    return QColor(0, 0, 0, 38);
}

}  // namespace velmora::ui::colors
