#include "Widgets/VKCustomOutlineView.h"

#include <gtest/gtest.h>

#include <QStandardItemModel>

#include "QtPrinters.h"

TEST(VKCustomOutlineView, DiskRowsMatchTheirDecimalTextOnly) {
    VKCustomOutlineView outline;
    outline.setIsRootArr({"3"});
    const struct {
        int row;
        QColor colour;
    } cases[] = {{3, QColor(242, 242, 242)}, {13, Qt::white}, {30, Qt::white}, {0, Qt::white}};
    for (const auto& c : cases) {
        EXPECT_EQ(outline.rowBackground(c.row), c.colour) << c.row;
    }
}

// Row colours read back from a grab: the chosen row is blue even when it is
// also a disk row; disk rows are light grey; the rest white. The view's own
// selection is not painted.
TEST(VKCustomOutlineView, RowColoursReadBackFromAGrab) {
    QStandardItemModel model;
    for (const char* disk : {"disk0", "disk1"}) {
        auto* item = new QStandardItem(QLatin1String(disk));
        item->appendRow(new QStandardItem(QStringLiteral("volume")));
        model.appendRow(item);
    }
    VKCustomOutlineView outline;
    outline.setHeaderHidden(true);
    outline.setModel(&model);
    outline.expandAll();
    outline.resize(300, 200);
    outline.show();
    outline.setIsRootArr({"0", "2"});
    outline.setSelectCellBackgroundColorWithRow(2);
    const QModelIndex rows[] = {model.index(0, 0), model.index(0, 0, model.index(0, 0)),
                                model.index(1, 0), model.index(0, 0, model.index(1, 0))};
    outline.setCurrentIndex(rows[1]);  // the view's own selection
    const QImage image = outline.viewport()->grab().toImage();
    const QColor expected[] = {QColor(242, 242, 242), Qt::white, QColor(59, 153, 252), Qt::white};
    for (int row = 0; row < 4; ++row) {
        const QRect rect = outline.visualRect(rows[row]);
        EXPECT_EQ(outline.rowNumber(rows[row]), row);
        EXPECT_EQ(image.pixelColor(290, rect.center().y()), expected[row]) << "row " << row;
    }
}
