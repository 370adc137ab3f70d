#include <gtest/gtest.h>

#include <QStandardItemModel>
#include <QTreeView>

#include "QtPrinters.h"
#include "Widgets/DetailTextAndImageCell.h"
#include "Widgets/GroupView.h"
#include "Widgets/ImageAndTextCell.h"

TEST(ImageAndTextCell, IconAndTextFramesCountTheImagesOwnWidth) {
    const QRect cell(10, 40, 200, 20);
    EXPECT_EQ(ImageAndTextCell::imageFrameForCellFrame(cell, QSize(32, 32)), QRect(13, 34, 32, 32));
    EXPECT_EQ(ImageAndTextCell::imageFrameForCellFrame(cell, QSize()), QRect());
    // Drawn in 18 x 18, rows 2 to 20 of a 20-point row.
    EXPECT_EQ(ImageAndTextCell::IconDrawRect(cell), QRect(13, 42, 18, 18));
    EXPECT_EQ(ImageAndTextCell::TextFrame(cell, QSize(32, 32)), QRect(45, 40, 165, 20));
    EXPECT_EQ(ImageAndTextCell::TextFrame(cell, QSize()), QRect(13, 40, 197, 20));
}

// A 32-point picture is drawn into 18 x 18 points, while the cell's width
// counts its own 32 points; without a picture the cell is a plain one.
TEST(ImageAndTextCell, DrawsABigPictureSmallButSizesByItsOwnWidth) {
    QStandardItemModel model;
    QPixmap red(32, 32);
    red.fill(Qt::red);
    auto* withImage = new QStandardItem(QStringLiteral("x"));
    withImage->setData(red, Qt::DecorationRole);
    model.appendRow(withImage);
    model.appendRow(new QStandardItem(QStringLiteral("x")));
    QTreeView view;
    view.setHeaderHidden(true);
    view.setRootIsDecorated(false);
    view.setUniformRowHeights(true);
    view.setModel(&model);
    ImageAndTextCell cell;
    view.setItemDelegate(&cell);
    view.resize(200, 100);
    view.show();

    QStyleOptionViewItem option;
    option.initFrom(&view);
    const QSize plain = cell.sizeHint(option, model.index(1, 0));
    const QSize wide = cell.sizeHint(option, model.index(0, 0));
    EXPECT_EQ(wide.width() - plain.width(), 32);

    const QRect row = view.visualRect(model.index(0, 0));
    const QImage image = view.viewport()->grab().toImage();
    const QRect icon = ImageAndTextCell::IconDrawRect(row);
    EXPECT_EQ(image.pixelColor(icon.center()), QColor(Qt::red));
    EXPECT_NE(image.pixelColor(icon.right() + 3, icon.center().y()), QColor(Qt::red));
}

TEST(DetailTextAndImageCell, TitleCentredVertically) {
    EXPECT_EQ(DetailTextAndImageCell::titleRectForBounds(QRectF(0, 10, 100, 30),
                                                         QRectF(24, 10, 76, 30), 16),
              QRectF(24, 16.5, 76, 30));
}

TEST(GroupView, FramePlacedByTheRedrawnSize) {
    EXPECT_EQ(GroupView::FrameRect(QSizeF(200, 100)), QRectF(18.5, 35.5, 163, 46));
    GroupView group;
    group.resize(200, 100);
    const QImage image = group.grab().toImage();
    EXPECT_EQ(image.pixelColor(100, 60), QColor(Qt::white));
    EXPECT_NE(image.pixelColor(100, 35), QColor(Qt::white));  // the frame's top line
}
