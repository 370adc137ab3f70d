// Photos judged by eye, on the program's own bridge and engine: a GPT disk
// whose FAT volume holds real JPEG and PNG pictures is attached to a loop
// device, scanned from the main window, and its /Photos folder is looked at
// in cover flow and in the grid. Run under Xvfb, as root (loop devices).
#include <gtest/gtest.h>

#include <QAbstractAnimation>
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMap>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <algorithm>

#include "BridgeSeam/IBridge.h"
#include "Browser/CommOutlineView.h"
#include "Browser/FileListModel.h"
#include "Browser/FileListPane.h"
#include "Browser/FileListSort.h"
#include "Browser/FileViewModes.h"
#include "Browser/ResultTreeModel.h"
#include "Browser/VKCoverFlowMode.h"
#include "Browser/VKCoverFlowView.h"
#include "Browser/VKDeletailWindowController.h"
#include "Browser/VKGridMode.h"
#include "Browser/VKResultFilePane.h"
#include "Browser/VKScanControl.h"
#include "CNGridView/CNGridView.h"
#include "EngineFactories.h"
#include "RealDevices.h"
#include "Resources/ImageRegistry.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "VKUIController.h"
#include "Widgets/VKNSTableView.h"
#include "Windows/VKRootWindowController.h"
#include "Windows/VKSelectDiskViewController.h"
#include "Windows/VKSelectTypeViewController.h"
#include "support/TestSupport.h"

namespace velmora::browser {
namespace {

// Loop devices, commands, bounded waits and the disk page's rows.
using namespace velmora::test::real;

QString FixtureDir() {
    return QString::fromStdString(velmora::test::SourceDir()) + "/tests/fixtures/windows";
}

// The pictures of /Photos by name, each with the sample file it was copied
// from, from the disk's manifest.
QMap<QString, QString> ManifestPictures() {
    QFile file(FixtureDir() + "/picture_disk.json");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QMap<QString, QString> pictures;
    const QJsonObject disk = QJsonDocument::fromJson(file.readAll()).object();
    for (const QJsonValue& volume : disk.value("volumes").toArray()) {
        for (const QJsonValue& value : volume.toObject().value("files").toArray()) {
            const QJsonObject entry = value.toObject();
            const QString path = entry.value("path").toString();
            if (entry.value("type").toString() == "file" && path.startsWith("/Photos/"))
                pictures.insert(path.mid(8), entry.value("source").toString());
        }
    }
    return pictures;
}

// Finds the folder `name` anywhere in the path tree, opening folders on the
// way as a user does.
QModelIndex FindFolder(CommOutlineView* tree, const QModelIndex& parent, const std::string& name) {
    if (parent.isValid())
        tree->expand(parent);
    QAbstractItemModel* model = tree->model();
    while (model->canFetchMore(parent))
        model->fetchMore(parent);
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        if (OpNodeData* node = tree->treeModel()->nodeAt(index); node && node->name() == name)
            return index;
        if (const QModelIndex found = FindFolder(tree, index, name); found.isValid())
            return found;
    }
    return {};
}

// The tree's rows as opened so far, for a failure's message.
std::string Outline(CommOutlineView* tree, const QModelIndex& parent, int depth = 0) {
    std::string text;
    QAbstractItemModel* model = tree->model();
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        OpNodeData* node = tree->treeModel()->nodeAt(index);
        text += std::string(static_cast<size_t>(depth) * 2, ' ') + (node ? node->name() : "?") +
                "\n" + Outline(tree, index, depth + 1);
    }
    return text;
}

// The picture a sample file of the source tree decodes to.
QImage PictureOf(const QString& source) {
    QFile file(QString::fromStdString(velmora::test::SourceDir()) + "/" + source);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return DecodePicture(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// How many different colours are drawn in the middle of `outline`: the
// placeholder is one grey frame with a word on it, a photo has hundreds.
int ColoursInside(const QImage& drawn, const QPolygonF& outline) {
    const QRect box = outline.boundingRect().toRect();
    const QRect middle =
        box.adjusted(box.width() / 4, box.height() / 4, -box.width() / 4, -box.height() / 4) &
        drawn.rect();
    QSet<QRgb> colours;
    for (int y = middle.top(); y <= middle.bottom(); y += 2) {
        for (int x = middle.left(); x <= middle.right(); x += 2)
            colours.insert(drawn.pixel(x, y));
    }
    return static_cast<int>(colours.size());
}

void Save(QWidget* window, const QString& name) {
    const QString shots = QStringLiteral(VELMORA_WINDOW_SHOTS_DIR);
    QDir().mkpath(shots);
    EXPECT_TRUE(window->grab().save(shots + "/" + name));
}

// Lets the window's slides and fades (grid items moving to their new
// places, the flow sliding) come to their ends.
bool Settle(QWidget* window) {
    return WaitFor(
        [&] {
            const auto animations = window->findChildren<QAbstractAnimation*>();
            return std::none_of(animations.begin(), animations.end(), [](auto* animation) {
                return animation->state() == QAbstractAnimation::Running;
            });
        },
        3000);
}

// The window at its smallest, then back at the size the test gave it.
void SaveSmall(QWidget* window, const QString& name) {
    const QSize size = window->size();
    window->resize(window->minimumSize());
    QCoreApplication::processEvents();
    EXPECT_TRUE(Settle(window));
    Save(window, name);
    window->resize(size);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Settle(window));
}

// What the screen shows over `area` (windows of their own included).
void SaveScreen(const QRect& area, const QString& name) {
    const QString shots = QStringLiteral(VELMORA_WINDOW_SHOTS_DIR);
    QDir().mkpath(shots);
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    EXPECT_TRUE(shot.save(shots + "/" + name));
}

class BrowserPicturesReal : public ::testing::Test {
protected:
    // Scans the picture disk from the main window; the browser is left
    // showing the scan's end.
    // Makes the picture disk and attaches it; the reason when it cannot.
    std::string AttachThePictureDisk() {
        const QString folder = QString::fromStdString(dir_.path());
        if (!RunTool({"bash", FixtureDir() + "/make_picture_disk.sh", folder}))
            return "make_picture_disk.sh failed (needs sgdisk, mkfs.fat, mtools)";
        disk_ = std::make_unique<AttachedLoop>(folder + "/picture_disk.img");
        if (disk_->node().isEmpty())
            return "cannot attach a loop device (losetup failed)";
        return {};
    }

    VKDeletailWindowController* ScanThePictureDisk() {
        InstallResultsBrowser(seams_, BrowserSeams{});
        controller_ = std::make_unique<windows::VKRootWindowController>(seams_);
        if (!controller_->windowDidLoad())
            return nullptr;
        controller_->showWindow();
        controller_->selectTypeVC()->nextButtonAction();
        if (!WaitFor(
                [&] {
                    return controller_->selectDiskVC() &&
                           RowOf(*controller_->selectDiskVC(), disk_->node());
                },
                10000)) {
            ADD_FAILURE() << disk_->node().toStdString() << " not listed";
            return nullptr;
        }
        // The wizard's scans look for movies and music only (its mask is set
        // as the disk page opens); pictures are kept by the mask of every
        // category, which a loaded result uses.
        seam::Bridge().SetRecoveryType(127);
        windows::VKSelectDiskViewController* page = controller_->selectDiskVC();
        const DiskVolumeNodePtr listed = RowOf(*page, disk_->node());
        page->clickRow(page->rowForItem(listed->childAtIndex(0).get()));
        page->scanButtonAction();
        if (!WaitFor([&] { return controller_->deletailWC() != nullptr; }, 5000))
            return nullptr;
        auto* browser = dynamic_cast<VKDeletailWindowController*>(controller_->deletailWC());
        if (browser == nullptr ||
            !WaitFor([&] { return !browser->selectFilesLabel()->isHidden(); }, 60000)) {
            ADD_FAILURE() << "the scan of the picture disk did not end";
            return nullptr;
        }
        return browser;
    }

    void TearDown() override {
        VKUIController::StopScan(1);
        VKUIController::WaitForScanThread();
        controller_.reset();
        disk_.reset();
    }

    velmora::test::TempDir dir_;
    std::unique_ptr<AttachedLoop> disk_;
    windows::RootWindowSeams seams_;
    std::unique_ptr<windows::VKRootWindowController> controller_;
};

TEST_F(BrowserPicturesReal, CoverFlowAndGridShowThePicturesOfTheChosenFolder) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to attach loop devices";
    const QMap<QString, QString> pictures = ManifestPictures();
    ASSERT_EQ(pictures.size(), 9) << "picture_disk.json unreadable";
    if (const std::string why = AttachThePictureDisk(); !why.empty())
        GTEST_SKIP() << why;
    VKDeletailWindowController* browser = ScanThePictureDisk();
    ASSERT_NE(browser, nullptr);
    QWidget* window = browser->window();
    // The first quick scan of an installation ends with the offer of a deep
    // scan, a bubble over the window. The bubble is a window of its own: its
    // picture is taken off the screen, once both are drawn.
    ASSERT_TRUE(WaitFor([&] { return browser->scanControl()->attachedWindow() != nullptr; }, 3000));
    QWidget* bubble = browser->scanControl()->attachedWindow();
    ASSERT_TRUE(
        WaitFor([&] { return bubble->isVisible() && window->windowOpacity() == 1.0; }, 3000));
    EXPECT_TRUE(QTest::qWaitForWindowExposed(bubble, 2000));
    SaveScreen(window->frameGeometry().united(bubble->frameGeometry()),
               QStringLiteral("browser_real_deep_scan_offer.png"));
    browser->scanControl()->popupViewHidden();
    window->resize(1100, 720);
    VKResultFilePane* pane = browser->resultFilePane();
    ASSERT_NE(pane, nullptr);
    FileViewModes* modes = pane->modes();
    FileListModel* list = pane->list()->model();

    // The user opens /Photos in the path tree: the pane lists its pictures.
    CommOutlineView* tree = browser->outline(OP_TREE_PATH);
    QModelIndex photos;
    WaitFor([&] { return (photos = FindFolder(tree, {}, "Photos")).isValid(); }, 10000);
    ASSERT_TRUE(photos.isValid()) << "no Photos folder in the path tree:\n" << Outline(tree, {});
    tree->selectionModel()->setCurrentIndex(photos, QItemSelectionModel::ClearAndSelect);
    ASSERT_TRUE(WaitFor([&] { return list->rowCount() == pictures.size(); }, 5000))
        << list->rowCount() << " rows listed";

    // The list of the finished scan, at the window's size and at its
    // smallest.
    Save(window, QStringLiteral("browser_real_list.png"));
    SaveSmall(window, QStringLiteral("browser_real_list_small.png"));

    // Cover flow: every picture of the folder is loaded (nine items: the
    // loader takes them all) and none keeps the placeholder.
    modes->segmentButtons()->button(FileListPane::kCoverFlowMode)->click();
    ASSERT_TRUE(modes->coverFlower()->isVisible());
    VKCoverFlowView* flow = pane->coverFlow();
    VKPhotoLoader& loader = pane->coverFlowMode()->loader();
    ASSERT_EQ(flow->itemsCount(), pictures.size());
    ASSERT_TRUE(WaitFor(
        [&] {
            return std::none_of(loader.photos().begin(), loader.photos().end(),
                                [](const Photo& photo) { return photo.isPlaceholder(); });
        },
        20000))
        << "a picture kept the placeholder; the first item's bytes: "
        << seam::Bridge().GetNSImageByNode(loader.nodes().front(), {}).size();
    QStringList shown;
    for (size_t k = 0; k < loader.photos().size(); ++k) {
        const QString name = QString::fromStdString(loader.nodes()[k]->name());
        SCOPED_TRACE(name.toStdString());
        shown << name;
        // The engine read the file's own bytes off the volume: the picture
        // is the one the sample decodes to.
        const QImage expected = PictureOf(pictures.value(name));
        ASSERT_FALSE(expected.isNull());
        EXPECT_EQ(loader.photos()[k].imageRepresentation().convertToFormat(QImage::Format_RGB32),
                  expected.convertToFormat(QImage::Format_RGB32));
    }
    shown.sort();
    EXPECT_EQ(shown, pictures.keys());

    // The table under the flow follows the flow's selection, and the flow
    // follows a row clicked in the table; the front cover is drawn as a
    // photo each time.
    VKNSTableView* table = modes->coverFlowerTableView();
    auto selectedRow = [&] {
        const QModelIndexList rows = table->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.front().row() : -1;
    };
    const struct {
        const char* how;
        std::function<void()> act;
        qint64 expected;
    } steps[] = {
        {"Right arrow on the flow", [&] { QTest::keyClick(flow, Qt::Key_Right); }, 1},
        {"click on the third cover to the right",
         [&] {
             const QPointF point = flow->itemOutline(4).boundingRect().center();
             QTest::mouseClick(flow, Qt::LeftButton, {}, point.toPoint());
         },
         4},
        {"click on the table's seventh row",
         [&] {
             const QRect cell = table->visualRect(table->model()->index(6, kNameColumn));
             QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
         },
         6},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.how);
        step.act();
        ASSERT_TRUE(WaitFor(
            [&] {
                return flow->selectedIndex() == step.expected && selectedRow() == step.expected &&
                       flow->position() == static_cast<double>(step.expected);
            },
            3000))
            << "flow at " << flow->selectedIndex() << ", table row " << selectedRow();
        EXPECT_EQ(list->cellText(static_cast<int>(step.expected), kNameColumn).toStdString(),
                  loader.nodes()[static_cast<size_t>(step.expected)]->name());
        const QImage drawn = flow->grab().toImage();
        EXPECT_GT(ColoursInside(drawn, flow->itemOutline(step.expected)), 40);
    }
    Save(window, QStringLiteral("browser_real_cover_flow.png"));
    SaveSmall(window, QStringLiteral("browser_real_cover_flow_small.png"));

    // Grid: every item shows its file's thumbnail, not the loading picture,
    // with an unticked check box that ticks the file (the scan is over).
    modes->segmentButtons()->button(FileListPane::kGridMode)->click();
    ASSERT_TRUE(modes->gridView()->isVisible());
    VKGridMode* grid = pane->gridMode();
    const QImage loading = ui::ImageRegistry::Pixmap(QStringLiteral("loading.png")).toImage();
    auto item = [&](qint64 index) {
        return static_cast<CNGridViewItem*>(pane->grid()->visibleItemAtIndex(index));
    };
    ASSERT_TRUE(WaitFor(
        [&] {
            if (grid->thumbnails().pending() != 0)
                return false;
            for (qint64 k = 0; k < pictures.size(); ++k) {
                // Shown once faded in, with the file's picture.
                if (item(k) == nullptr || item(k)->itemImage() == loading ||
                    item(k)->alphaValue() < 1)
                    return false;
            }
            return true;
        },
        20000))
        << "a grid item kept the loading picture";
    for (qint64 k = 0; k < pictures.size(); ++k) {
        CNGridViewItem* shownItem = item(k);
        SCOPED_TRACE(shownItem->itemTitle().toStdString());
        EXPECT_TRUE(pictures.contains(shownItem->itemTitle()));
        const QImage thumbnail = shownItem->itemImage();
        EXPECT_FALSE(thumbnail.isNull());
        EXPECT_GT(thumbnail.width(), 8);
        EXPECT_TRUE(shownItem->isVisible());
        EXPECT_TRUE(shownItem->itemButton()->isVisible());
        EXPECT_TRUE(shownItem->itemButton()->imageName().endsWith("checkbox_no"));
    }
    Save(window, QStringLiteral("browser_real_grid.png"));
    SaveSmall(window, QStringLiteral("browser_real_grid_small.png"));
    CNGridViewItem* first = item(0);
    auto* cell = dynamic_cast<OpCellNode*>(first->node());
    ASSERT_NE(cell, nullptr);
    QTest::mouseClick(first->itemButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return cell->node()->state() == 2; }, 1000));
    EXPECT_TRUE(first->itemButton()->imageName().endsWith("checkbox_yes"));
    pane->stopImageLoading();
}

}  // namespace
}  // namespace velmora::browser

int main(int argc, char** argv) {
    // The windows' own timing, as a user meets it: the offer of a deep
    // scan stays for its seconds, the flow slides.
    return velmora::test::real::RunRealWindowTests(argc, argv, {.durationScale = 1});
}
