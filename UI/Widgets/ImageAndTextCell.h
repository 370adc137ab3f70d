// A text cell of tables and outlines with an 18 x 18 point icon left of the
// text. The icon comes from the row's decoration, or the cell's own image
// when the row has none; whatever its own size, it is drawn into 18 x 18
// points, while the cell's size and its editing frame count the image's own
// width.
#pragma once

#include <QPixmap>
#include <QStyledItemDelegate>

class ImageAndTextCell : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int kIconSide = 18;
    static constexpr int kIconInset = 3;
    static constexpr int kRowHeight = 20;

    explicit ImageAndTextCell(QObject* parent = nullptr);

    const QPixmap& image() const { return image_; }
    void setImage(const QPixmap& image) { image_ = image; }

    // Where an image of its own size sits in a cell frame.
    static QRect imageFrameForCellFrame(const QRect& cell, const QSize& imageSize);
    // The icon's drawing rectangle in a top-down cell frame.
    static QRect IconDrawRect(const QRect& cell);
    // The text's part of a cell frame (editing and selecting happen there).
    static QRect TextFrame(const QRect& cell, const QSize& imageSize);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

protected:
    // The text part's options: the icon is drawn by the cell itself.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
    QPixmap imageFor(const QModelIndex& index) const;
    virtual void drawText(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const;

private:
    QPixmap image_;
};
