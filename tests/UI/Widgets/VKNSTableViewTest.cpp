#include "Widgets/VKNSTableView.h"

#include <gtest/gtest.h>

#include <QStandardItemModel>
#include <QTest>

#include "QtPrinters.h"
#include "Widgets/CustomHeaderCell.h"
#include "Widgets/VKTableHeaderView.h"
#include "Widgets/WidgetHooks.h"

namespace {

// Records what reaches the table's type-ahead search.
class SearchRecordingTable : public VKNSTableView {
public:
    void keyboardSearch(const QString& text) override {
        searched << text;
        VKNSTableView::keyboardSearch(text);
    }
    QStringList searched;
};

struct Fixture {
    Fixture() : model(3, 2) {
        model.setHorizontalHeaderLabels({"Name", "Size"});
        for (int r = 0; r < 3; ++r) {
            model.setItem(r, 0, new QStandardItem(QStringLiteral("file%1").arg(r)));
        }
        table.setModel(&model);
        table.resize(600, 300);
        table.show();
        previous = velmora::ui::SetWidgetNotificationPoster(
            [this](const QString& name) { posted << name; });
    }
    ~Fixture() { velmora::ui::SetWidgetNotificationPoster(previous); }

    QStandardItemModel model;
    SearchRecordingTable table;
    QStringList posted;
    velmora::ui::NotificationPoster previous;
};

int Overlays(const VKNSTableView& table) {
    return table.viewport()->findChildren<QWidget*>("noValueView").size();
}

}  // namespace

TEST(VKNSTableView, NoValueTwiceBuildsOneOverlayAndYesRemovesIt) {
    Fixture f;
    f.table.changeNoValue(true);  // nothing shown: nothing changes
    EXPECT_EQ(Overlays(f.table), 0);
    f.table.changeNoValue(false);
    QWidget* first = f.table.noValueView();
    f.table.changeNoValue(false);
    EXPECT_EQ(Overlays(f.table), 1);
    EXPECT_EQ(f.table.noValueView(), first);
    f.table.changeNoValue(true);
    EXPECT_EQ(Overlays(f.table), 0);
    EXPECT_EQ(f.table.noValueView(), nullptr);
    f.table.changeNoValue(false);
    EXPECT_EQ(Overlays(f.table), 1);
}

TEST(VKNSTableView, NoteHeightByInterfaceLanguage) {
    const struct {
        const char* language;
        float height;
    } cases[] = {{"de", 40}, {"fr", 40}, {"es", 40}, {"it", 40},   {"pt-BR", 40},
                 {"pt", 25}, {"en", 25}, {"ja", 25}, {"de-DE", 25}};
    VKNSTableView table;
    for (const auto& c : cases) {
        VKNSTableView::SetInterfaceLanguageSource([&c] { return QString::fromLatin1(c.language); });
        EXPECT_EQ(table.getLableHight(), c.height) << c.language;
    }
    VKNSTableView::SetInterfaceLanguageSource(nullptr);
}

TEST(VKNSTableView, NoteStaysUntilChangeFrameWhileTheBackgroundStretches) {
    Fixture f;
    f.table.changeNoValue(false);
    const QSize port = f.table.viewport()->size();
    const QRect note = f.table.nodeView()->geometry();
    EXPECT_EQ(note.topLeft(), QPoint(port.width() / 2 - 200, port.height() / 2));
    f.table.resize(800, 400);
    QApplication::processEvents();
    EXPECT_EQ(f.table.nodeView()->geometry(), note);
    EXPECT_EQ(f.table.noValueView()->size(), f.table.viewport()->size());
    f.table.changeFrame();
    const QSize bigger = f.table.viewport()->size();
    EXPECT_EQ(f.table.nodeView()->geometry().topLeft(),
              QPoint(bigger.width() / 2 - 200, bigger.height() / 2));
}

TEST(VKNSTableView, SpacePostsThePreviewAndNeverReachesTypeAheadSearch) {
    Fixture f;
    f.table.setFocus();
    QTest::keyClick(&f.table, Qt::Key_Space);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
    QApplication::sendEvent(&f.table, &repeat);
    EXPECT_EQ(f.posted, QStringList({"SpacePreviewFile", "SpacePreviewFile"}));
    EXPECT_TRUE(f.table.searched.isEmpty());
    // Other keys still search.
    QTest::keyClick(&f.table, Qt::Key_F);
    EXPECT_EQ(f.table.searched, QStringList({"f"}));
    EXPECT_EQ(f.posted.size(), 2);
}

TEST(CustomHeaderCell, TitlePlaceAndTriangleFollowTheSortPriority) {
    const QRect frame(100, 0, 150, 20);
    CustomHeaderCell never;  // priority 1
    EXPECT_EQ(never.titleRect(frame), QRect(103, 3, 150, 17));
    CustomHeaderCell primary;
    primary.setSortAscending(false, 0);
    EXPECT_EQ(primary.titleRect(frame), QRect(100, 3, 142, 17));

    QPointF up[3], down[3];
    CustomHeaderCell::TrianglePoints(frame, true, up);
    CustomHeaderCell::TrianglePoints(frame, false, down);
    EXPECT_EQ(up[0], QPointF(238, 10));
    EXPECT_EQ(up[1], QPointF(242, 3));
    EXPECT_EQ(down[1], QPointF(242, 17));
}

// The header read back from a grab: flat fill, light lines, a white
// triangle on the primary sort column only.
TEST(VKTableHeaderView, FlatHeaderWithAWhiteTriangleOnTheSortColumn) {
    Fixture f;
    f.table.setColumnWidth(0, 200);
    f.table.setColumnWidth(1, 200);
    VKTableHeaderView* header = f.table.customHeader();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(1, Qt::DescendingOrder);
    QApplication::processEvents();
    const QImage image = header->grab().toImage();
    ASSERT_EQ(image.height(), 20);
    EXPECT_EQ(image.pixelColor(150, 10), QColor(250, 251, 252));  // fill
    EXPECT_EQ(image.pixelColor(150, 0), QColor(231, 233, 237));   // top line
    EXPECT_EQ(image.pixelColor(199, 10), QColor(231, 233, 237));  // separator
    EXPECT_EQ(image.pixelColor(150, 19), QColor(231, 233, 237));  // bottom line
    // Column 1 sorts descending: the triangle points down, centred at x 392.
    EXPECT_EQ(image.pixelColor(392, 12), QColor(Qt::white));
    // Column 0 is no sort column: no triangle there.
    EXPECT_EQ(image.pixelColor(192, 12), QColor(250, 251, 252));
    EXPECT_EQ(static_cast<CustomHeaderCell&>(header->cell(1)).priority(), 0);
    EXPECT_EQ(static_cast<CustomHeaderCell&>(header->cell(0)).priority(), 1);
}
