// The outline of the disk page: it paints its own row backgrounds, a blue
// band on the chosen row, light grey on the disk rows and white elsewhere.
// The view's own selection highlight is not drawn: the chosen row is the one
// the page names.
#pragma once

#include <QStringList>
#include <QTreeView>

class VKCustomOutlineView : public QTreeView {
    Q_OBJECT

public:
    explicit VKCustomOutlineView(QWidget* parent = nullptr);

    // Rows drawn as disk rows, written in decimal ("3").
    const QStringList& isRootArr() const { return isRootArr_; }
    void setIsRootArr(const QStringList& rows) { isRootArr_ = rows; }
    qint32 isSelectRow() const { return isSelectRow_; }
    void setIsSelectRow(qint32 row) { isSelectRow_ = row; }
    // Names the chosen row; the caller redraws.
    void setSelectCellBackgroundColorWithRow(qint32 row) { isSelectRow_ = row; }

    // The background of a row by its number from the top of the outline.
    QColor rowBackground(int row) const;
    // The number of a shown row from the top of the outline.
    int rowNumber(const QModelIndex& index) const;

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

private:
    QStringList isRootArr_;
    qint32 isSelectRow_ = -1;
};
