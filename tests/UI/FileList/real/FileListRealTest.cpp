// The file list on the program's bridge over a real quick scan of the FAT16
// fixture, checked against Sleuth Kit's fls, the fixture's manifest and
// sort(1); then the space-bar preview of a real JPEG copied into the
// fixture, read back by icat, with pictures of both windows. Run under Xvfb.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "BridgeSeam/VKBridge.h"
#include "Browser/FileListModel.h"
#include "Browser/FileListPane.h"
#include "Browser/FileViewModes.h"
#include "Browser/SpacePreviewWindow.h"
#include "FatFixtureScan.h"
#include "Widgets/VKNSTableView.h"

namespace velmora::browser {
namespace {

using bridgetest::FatFixtureScan;

// The program's bridge, with pictures read by icat where the bridge's own
// thumbnailer is still to come.
class IcatPictures : public seam::VKBridge {
public:
    IcatPictures(std::string image, std::map<std::string, std::string> inodes)
        : image_(std::move(image)), inodes_(std::move(inodes)) {}
    QImage GetNSImageByNode(const OpNodePtr& node) override {
        ++asked;
        const auto found = node ? inodes_.find(node->name()) : inodes_.end();
        if (found == inodes_.end())
            return {};
        std::string bytes;
        if (!velmora::test::RunProgram({"icat", image_, found->second}, &bytes))
            return {};
        return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()),
                                static_cast<int>(bytes.size()));
    }
    // Asked on the preview's worker.
    std::atomic<int> asked = 0;

private:
    std::string image_;
    std::map<std::string, std::string> inodes_;
};

struct FlsEntry {
    std::string name;
    std::string inode;
    bool deleted;
    bool folder;
};

// fls -r -p: "r/r * 526:\tDocs/deleted note.txt".
std::vector<FlsEntry> FlsFolder(const std::string& listing, const std::string& folder) {
    std::vector<FlsEntry> entries;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || line.size() < 4)
            continue;
        const std::string path = line.substr(tab + 1);
        if (path.rfind(folder + "/", 0) != 0 ||
            path.find('/', folder.size() + 1) != std::string::npos)
            continue;
        const bool deleted = line.find(" * ") < tab;
        const size_t at = line.find_last_of(' ', tab);
        const std::string inode = line.substr(at + 1, tab - at - 2);
        entries.push_back({path.substr(folder.size() + 1), inode, deleted, line[0] == 'd'});
    }
    return entries;
}

void Save(QWidget* window, const QString& name) {
    QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
    EXPECT_TRUE(window->grab().save(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR "/") + name));
}

void ClickHeader(VKNSTableView* table, int column) {
    QHeaderView* header = table->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

class FileListReal : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!FatFixtureScan::MakeImage(dir_.path(), &why))
            VELMORA_REQUIRE_TOOL(false, why);
        // The fixture's pictures are JPEG-shaped bytes; a real one joins them.
        ASSERT_TRUE(velmora::test::RunProgram(
            {"env", "MTOOLS_SKIP_CHECK=1", "mcopy", "-i", dir_ / "fat16.img",
             velmora::test::SourceDir() + "/tests/carve/samples/exif_camera.jpg",
             "::/Pics/camera.jpg"}));
        if (!velmora::test::RunProgram({"fls", "-r", "-p", dir_ / "fat16.img"}, &fls_))
            VELMORA_REQUIRE_TOOL(false, "fls (sleuthkit) is not installed");
        scan_ = std::make_unique<FatFixtureScan>(dir_ / "fat16.img");
        bridgetest::RunToEnd progress;
        ASSERT_EQ(scan_->Run(&progress), VK_OK);
        std::ifstream manifest(dir_ / "fat16.json");
        const nlohmann::json m = nlohmann::json::parse(manifest);
        for (const auto& file : m["volumes"][0]["files"])
            sizes_[file["path"].get<std::string>()] = file.value("size", 0);
        std::map<std::string, std::string> inodes;
        for (const FlsEntry& e : FlsFolder(fls_, "Pics"))
            inodes[e.name] = e.inode;
        bridge_ = std::make_unique<IcatPictures>(dir_ / "fat16.img", inodes);
        seam::SetBridge(bridge_.get());
        modes_ = std::make_unique<FileViewModes>();
        modes_->resize(900, 400);
        modes_->setAllDiskArr(&roots_);
        modes_->show();
    }
    void TearDown() override {
        modes_.reset();
        seam::SetBridge(nullptr);
    }
    void Choose(const std::string& path) {
        IFileNode* folder = scan_->Find(path);
        ASSERT_NE(folder, nullptr) << path;
        modes_->pane()->selectOutlineListWithOpNodeData(OpNodeData::initWithFileNode(folder), 1);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        const FileListModel& model = *modes_->pane()->model();
        for (int row = 0; row < model.rowCount(); ++row)
            names.push_back(model.cellText(row, kNameColumn).toStdString());
        return names;
    }

    velmora::test::TempDir dir_;
    std::string fls_;
    std::map<std::string, int64_t> sizes_;
    std::unique_ptr<FatFixtureScan> scan_;
    std::unique_ptr<IcatPictures> bridge_;
    std::vector<OpNodePtr> roots_;
    std::unique_ptr<FileViewModes> modes_;
};

TEST_F(FileListReal, FolderListsSortsAndTicksAsTheIndependentTools) {
    Choose("/Docs");
    const FileListModel& model = *modes_->pane()->model();
    // The same entries as fls, deleted ones marked.
    std::vector<std::pair<std::string, bool>> listed, expected;
    for (int row = 0; row < model.rowCount(); ++row)
        listed.emplace_back(model.cellText(row, kNameColumn).toStdString(),
                            model.cellImageName(row, kNameColumn) == "deletered");
    for (const FlsEntry& e : FlsFolder(fls_, "Docs"))
        expected.emplace_back(e.name, e.deleted);
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);

    // First click on Size: the manifest's sizes from the largest down.
    ClickHeader(modes_->tableView(), kSizeColumn);
    std::vector<int64_t> shown;
    for (const std::string& name : Names())
        shown.push_back(sizes_["/Docs/" + name]);
    EXPECT_TRUE(std::is_sorted(shown.rbegin(), shown.rend())) << ::testing::PrintToString(shown);
    EXPECT_EQ(Names().front(), "report.pdf");

    // Second click, on Name: ascending, as sort(1) orders bytes.
    ClickHeader(modes_->tableView(), kNameColumn);
    std::string input;
    for (const auto& [name, deleted] : expected)
        input += name + "\n";
    const std::string list = dir_ / "names.txt";
    velmora::test::WriteFile(list, input);
    std::string sorted;
    ASSERT_TRUE(velmora::test::RunProgram({"env", "LC_ALL=C", "sort", list}, &sorted));
    std::string mine;
    for (const std::string& name : Names())
        mine += name + "\n";
    EXPECT_EQ(mine, sorted);

    // Three files ticked: the box is half; the header box ticks every file
    // and leaves the sub-folder.
    for (const char* name : {"report.pdf", "empty.txt", "deleted note.txt"}) {
        const auto names = Names();
        modes_->pane()->nsbuttonCellClick(
            static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin()));
    }
    EXPECT_EQ(modes_->pane()->selectAllImageName(), "pf_checkbox_half");
    modes_->pane()->listViewSelectAllButton()->click();
    int ticked = 0;
    for (IFileNode* node : modes_->pane()->arrList())
        ticked += node->GetCheckedStatus() == CHECK_CHECKED ? 1 : 0;
    EXPECT_EQ(ticked, 4);
    EXPECT_EQ(scan_->Find("/Docs/Sub")->GetCheckedStatus(), CHECK_UNCHECKED);
    EXPECT_EQ(modes_->pane()->selectAllImageName(), "pf_checkbox_yes");
    Save(modes_.get(), QStringLiteral("file_list_real.png"));
}

TEST_F(FileListReal, SpacePreviewsAJpegOfTheScan) {
    Choose("/Pics");
    const auto names = Names();
    const int row =
        static_cast<int>(std::find(names.begin(), names.end(), "camera.jpg") - names.begin());
    ASSERT_LT(row, static_cast<int>(names.size()));
    VKNSTableView* table = modes_->tableView();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualRect(table->model()->index(row, kNameColumn)).center());
    QTest::keyClick(table, Qt::Key_Space);
    SpacePreviewWindow* preview = modes_->pane()->previewWindow();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->titleLabel()->text(), QStringLiteral("camera.jpg"));
    // The window opens at once; the picture follows from its worker.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return preview->showImage().size() == QSize(640, 480); }, 20000))
        << preview->showImage().width() << "x" << preview->showImage().height();
    EXPECT_EQ(bridge_->asked, 1);
    QApplication::processEvents();
    Save(preview->window(), QStringLiteral("quick_preview_real.png"));
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_EQ(modes_->pane()->previewWindow(), nullptr);
}

}  // namespace
}  // namespace velmora::browser
