// Drawing settings of grid items: the selection ring and the title's text
// attributes.
#pragma once

#include <QColor>
#include <QFont>
#include <QPointF>
#include <Qt>
#include <cstdint>

class CNGridViewItemLayout {
public:
    CNGridViewItemLayout();
    static CNGridViewItemLayout defaultLayout() { return {}; }

    int visibleContentMask = 3;
    QColor backgroundColor;
    QColor selectionRingColor;
    double selectionRingLineWidth = 3.0;
    std::uint64_t contentInset = 3;
    std::uint64_t itemBorderRadius = 5;

    // The title's text attributes.
    QFont titleFont;
    QColor titleColor;
    QColor titleShadowColor;
    QPointF titleShadowOffset{0, -1};
    Qt::Alignment titleAlignment = Qt::AlignHCenter;
};
