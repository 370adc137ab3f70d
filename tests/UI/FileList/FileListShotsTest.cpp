// Pictures of the file list and of the quick preview of a real JPEG, for
// looking at by eye (written to the build's window_shots folder).
#include <QDir>
#include <QLabel>
#include <QPixmap>

#include "Browser/SpacePreviewWindow.h"
#include "FileListFixture.h"
#include "support/TestSupport.h"

namespace velmora::browser::testing {
namespace {

using FileListShotsTest = FilePaneTest;

void Save(QWidget* window, const QString& name) {
    QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
    const QPixmap shot = window->grab();
    EXPECT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR "/") + name));
}

TEST_F(FileListShotsTest, ListAndPreviewOfAJpeg) {
    const QImage jpeg(QString::fromStdString(velmora::test::SourceDir() +
                                             "/tests/carve/samples/exif_camera.jpg"));
    ASSERT_FALSE(jpeg.isNull()) << "Qt's JPEG reader is missing";
    NodeFolder photos("Photos");
    photos.Add({{"exif_camera.jpg", 48211, 132470000000000000LL},
                {"holiday.jpg", 2300000, 132480000000000000LL, false, true},
                {"notes.txt", 812, 132460000000000000LL},
                {"Archive", 0, 132450000000000000LL, true}});
    pane->selectOutlineListWithOpNodeData(photos.op(), 1);
    ClickCell(modes->tableView(), 1, kCheckBoxColumn);
    ClickHeader(modes->tableView(), kSizeColumn);
    bridge.previews[NodeNamed("exif_camera.jpg")] = jpeg;
    ClickCell(modes->tableView(), RowOf("exif_camera.jpg"), kNameColumn);
    QTest::keyClick(modes->tableView(), Qt::Key_Space);
    windows::testing::Pump();
    Save(modes.get(), QStringLiteral("file_list.png"));
    ASSERT_NE(pane->previewWindow(), nullptr);
    EXPECT_EQ(pane->previewWindow()->showImage().size(), QSize(640, 480));
    Save(pane->previewWindow()->window(), QStringLiteral("quick_preview.png"));
}

}  // namespace
}  // namespace velmora::browser::testing
