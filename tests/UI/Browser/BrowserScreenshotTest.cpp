// A picture of the browser during a scan for a person to look at: trees on
// the left, the file pane's slot on the right, the bars with progress. The
// test checks only that nothing drawn is a placeholder or a raw key.
#include <QDir>
#include <QLabel>
#include <QRegularExpression>

#include "Browser/CommOutlineView.h"
#include "BrowserTestSupport.h"
#include "Resources/ImageRegistry.h"
#include "Widgets/VKProgressView.h"

namespace velmora::browser {
namespace {

using testing::BrowserTest;
using testing::NodeForest;
using windows::testing::Pump;

TEST_F(BrowserTest, ScreenshotDuringAScan) {
    NodeForest forest;
    TestNode* fs = forest.Add(nullptr, "USB STICK(FAT/FAT32)", true);
    for (const char* name : {"Thesis", "Music", "Holidays 2019", "DCIM"}) {
        TestNode* folder = forest.Add(fs, name, true);
        forest.Add(folder, "a.jpg", false);
        if (std::string(name) == "DCIM")
            forest.Add(forest.Add(folder, "100CANON", true), "IMG_0001.JPG", false);
    }
    TestNode* lost = forest.Add(nullptr, "Other lost files", true);
    forest.Add(forest.Add(lost, "jpg", true), "f001.jpg", false);

    auto& window = MakeBrowser();
    window.setSelectDiskVolumeData(seam::FakeBridge::Volume("USB STICK", 16'000'000'000, 7));
    window.getData();
    window.rootArray(OP_TREE_PATH).push_back(NodeForest::Root(fs));
    window.rootArray(OP_TREE_PATH).push_back(NodeForest::Root(lost));
    PostScanValue();
    CommOutlineView* tree = window.outline(OP_TREE_PATH);
    tree->expand(tree->treeModel()->rootIndex(0));
    tree->selectRootItem();
    window.findFilesLabel()->setText(QStringLiteral("Found 1,204 files"));
    window.remainTimeLabel()->setText(QStringLiteral("Remaining time: 00:03:12"));
    window.progressView()->changeProgressValue(42);
    window.window()->show();
    Pump();

    QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
    const QPixmap shot = window.window()->grab();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR "/results_browser.png")));
    for (auto* label : window.window()->findChildren<QLabel*>()) {
        if (label->isVisibleTo(window.window())) {
            EXPECT_FALSE(label->text().contains(QRegularExpression("^[A-Z_]+$")))
                << label->text().toStdString();
        }
    }
    EXPECT_TRUE(ui::ImageRegistry::PlaceholderNamesAsked().isEmpty())
        << ui::ImageRegistry::PlaceholderNamesAsked().join(", ").toStdString();
}

}  // namespace
}  // namespace velmora::browser
