// Readable failure messages for the Qt values the widget tests compare.
#pragma once

#include <QColor>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QSize& s, std::ostream* os) {
    *os << s.width() << 'x' << s.height();
}
inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << '(' << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ')';
}
inline void PrintTo(const QRectF& r, std::ostream* os) {
    *os << '(' << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ')';
}
inline void PrintTo(const QColor& c, std::ostream* os) {
    *os << "rgba(" << c.red() << ", " << c.green() << ", " << c.blue() << ", " << c.alpha() << ')';
}
