// Flat header cells of the results tables.
//
// CustomHeaderCell: a near-white cell with light lines, its title in grey
// Helvetica 12, and a small sort triangle, filled white on the primary sort
// column and clear elsewhere.
// CustomTableHeaderView: a white cell with thin black lines, for tables that
// ask for it.
#pragma once

#include <QRect>
#include <QString>

class QPainter;

class HeaderCell {
public:
    virtual ~HeaderCell() = default;
    virtual void drawWithFrame(QPainter& painter, const QRect& frame, const QString& title) = 0;
    virtual void drawSortIndicatorWithFrame(QPainter&, const QRect&, bool /*ascending*/,
                                            qint64 /*priority*/) {}
    virtual void setSortAscending(bool /*ascending*/, qint64 /*priority*/) {}
};

class CustomHeaderCell : public HeaderCell {
public:
    bool ascending() const { return ascending_; }
    qint64 priority() const { return priority_; }
    void setSortAscending(bool ascending, qint64 priority) override {
        ascending_ = ascending;
        priority_ = priority;
    }

    // Where the title goes in a cell frame.
    QRect titleRect(const QRect& frame) const;
    // The sort triangle's three corners in a cell frame.
    static void TrianglePoints(const QRect& frame, bool ascending, QPointF points[3]);

    void drawWithFrame(QPainter& painter, const QRect& frame, const QString& title) override;
    void drawSortIndicatorWithFrame(QPainter& painter, const QRect& frame, bool ascending,
                                    qint64 priority) override;

private:
    bool ascending_ = true;
    qint64 priority_ = 1;
};

class CustomTableHeaderView : public HeaderCell {
public:
    void drawWithFrame(QPainter& painter, const QRect& frame, const QString& title) override {
        drawWithFrame(painter, frame, false, title);
    }
    void highlight(QPainter& painter, const QRect& frame, bool flag, const QString& title) {
        drawWithFrame(painter, frame, flag, title);
    }
    // The highlighted flag does not change the drawing.
    void drawWithFrame(QPainter& painter, const QRect& frame, bool highlighted,
                       const QString& title);
};
