// A deep scan of a whole disk through the program's windows and engine: the
// disk's table lists only a small empty volume; after it lie a song and a
// movie in no partition and an NTFS volume in no partition whose /Pics
// folder record is gone. The browser shows the volume found again with its
// folderless files under "Other lost files", the carved files by type, and
// the type and date tabs counting them. The first page has only movies and
// music ticked: nothing of the other kinds is shown. A picture of the
// browser is taken while the scan runs.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <map>

#include "Browser/CommOutlineView.h"
#include "Browser/FileListPane.h"
#include "Browser/ResultTreeModel.h"
#include "Browser/VKResultFilePane.h"
#include "Browser/real/RealScans.h"
#include "FileNode.h"
#include "UIPlatform/Texts.h"
#include "VKUIController.h"
#include "Widgets/NSProgressBar.h"
#include "Widgets/VKProgressView.h"
#include "support/TestSupport.h"

namespace velmora::browser::real {
namespace {

// The root rows of a tree whose names end with `suffix`.
QStringList RootsEndingWith(const QStringList& paths, const QString& suffix) {
    QStringList roots;
    for (const QString& path : paths) {
        if (path.count('/') == 1 && path.endsWith(suffix))
            roots << path;
    }
    return roots;
}

QModelIndex RowNamed(ResultTreeModel& model, const QModelIndex& parent, const QString& name) {
    if (model.canFetchMore(parent))
        model.fetchMore(parent);
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (model.data(index, Qt::DisplayRole).toString() == name)
            return index;
    }
    return {};
}

TEST(BrowserRealDeepScan, ShowsTheLostVolumeOtherLostFilesAndTheCarvedFiles) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach loop devices";
    if (!Disks().why.isEmpty())
        GTEST_SKIP() << Disks().why.toStdString();
    const QJsonObject manifest = Manifest(Disks().lostDisk);
    QJsonObject lost;
    for (const QJsonValue& volume : manifest.value("volumes").toArray()) {
        if (volume.toObject().value("lost").toBool())
            lost = volume.toObject();
    }
    ASSERT_FALSE(lost.isEmpty());

    // What the browser must show (the first page asks for movies and music
    // only): the lost volume's folderless files and the carved ones.
    const std::map<QString, const char*> categoryOf = {{"mp4", "PLX_TWO_MOVIE_TITLE"},
                                                       {"mp3", "PLX_TWO_MUSIC_TITLE"}};
    std::map<QString, int> byExtension;
    QStringList orphans;
    std::map<QString, std::map<QString, int>> modified;  // year -> month -> files
    for (const QJsonValue& value : lost.value("files").toArray()) {
        const QJsonObject file = value.toObject();
        if (!file.value("orphaned").toBool())
            continue;
        const QString path = file.value("path").toString();
        orphans << path.section('/', -1);
        ++byExtension[path.section('.', -1)];
        const QDateTime mtime = QDateTime::fromSecsSinceEpoch(
            file.value("times").toObject().value("mtime").toInteger());
        ++modified[mtime.toString("yyyy")][mtime.toString("MM")];
    }
    std::set<QString> carvedTypes;
    for (const QJsonValue& carved : manifest.value("carved").toArray()) {
        const QString extension = carved.toObject().value("sample").toString().section('.', -1);
        carvedTypes.insert(extension);
        ++byExtension[extension];
    }
    ASSERT_EQ(orphans.size(), 2);
    ASSERT_EQ(carvedTypes, (std::set<QString>{"mp3", "mp4"}));

    QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
    ScanSession session;
    // The categories' keys are their bits: movies 4, music 8.
    ASSERT_TRUE(
        session.Start(Disks().lostDisk, -1, true, {QStringLiteral("4"), QStringLiteral("8")}))
        << session.failure.toStdString();
    VKDeletailWindowController& browser = *session.browser();
    // While the scan runs: the trees on the left with what was found so
    // far, the list of the first root on the right, the bar with the scan's
    // controls and progress. Looked at by eye.
    const bool midScan = WaitFor(
        [&] {
            return !VKUIController::IsScanRunning() ||
                   browser.outline(OP_TREE_PATH)->treeModel()->rowCount() > 0;
        },
        60000);
    ASSERT_TRUE(midScan) << "the scan showed nothing within a minute";
    EXPECT_TRUE(VKUIController::IsScanRunning()) << "the scan ended before it showed anything";
    if (VKUIController::IsScanRunning()) {
        EXPECT_FALSE(browser.pauseButton()->isHidden());
        EXPECT_FALSE(browser.stopButton()->isHidden());
        EXPECT_FALSE(browser.progressView()->isHidden());
        EXPECT_GT(browser.progressView()->bar()->width(), 0);
        browser.outline(OP_TREE_PATH)->selectRootItem();
        EXPECT_TRUE(browser.window()->grab().save(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR) +
                                                  "/browser_real_deep_scan_running.png"));
        // Searching waits while the scan runs; it opens when the user pauses
        // the scan and closes again when it goes on.
        EXPECT_FALSE(browser.searchField()->isEnabled());
        EXPECT_TRUE(WaitFor(
            [&] {
                return browser.pauseButton()->isButtonUsable() || !VKUIController::IsScanRunning();
            },
            10000))
            << "the pause button stays unusable during the scan";
        browser.pauseButton()->click();
        if (VKUIController::IsScanRunning()) {
            EXPECT_TRUE(browser.searchField()->isEnabled());
            EXPECT_FALSE(browser.continueScanButton()->isHidden());
            browser.continueScanButton()->click();
            if (VKUIController::IsScanRunning())
                EXPECT_FALSE(browser.searchField()->isEnabled());
        }
    }
    ASSERT_TRUE(session.WaitForScanEnd(120000)) << "the scan did not end";
    EXPECT_TRUE(browser.searchField()->isEnabled()) << "searching stays off after the scan";

    // The path tree: the NTFS volume found again, its files without a
    // folder in "Other lost files"; the carved files by extension.
    const QStringList paths = TreePaths(*browser.outline(OP_TREE_PATH));
    const QStringList volumes = RootsEndingWith(paths, "(NTFS)");
    const QStringList carved = RootsEndingWith(paths, "(RAW Files)");
    ASSERT_EQ(volumes.size(), 1) << paths.join(", ").toStdString();
    ASSERT_EQ(carved.size(), 1) << paths.join(", ").toStdString();
    QStringList expected{volumes[0], volumes[0] + "/Other lost files", carved[0]};
    for (const QString& extension : carvedTypes)
        expected << carved[0] + "/" + extension;
    expected.sort();
    QStringList shown = paths;
    shown.sort();
    EXPECT_EQ(shown, expected);

    // The folderless files are listed when their folder is chosen.
    ResultTreeModel& model = *browser.outline(OP_TREE_PATH)->treeModel();
    const QModelIndex otherLost =
        RowNamed(model, RowNamed(model, {}, volumes[0].mid(1)), "Other lost files");
    ASSERT_TRUE(otherLost.isValid());
    browser.outline(OP_TREE_PATH)->setCurrentIndex(otherLost);
    orphans.sort();
    QStringList listed;
    // The list follows the selection through the event loop: on a busy
    // machine that takes more than a moment.
    WaitFor(
        [&] {
            listed.clear();
            if (browser.resultFilePane() != nullptr)
                for (IFileNode* file : browser.resultFilePane()->list()->arrList())
                    listed << QString::fromUtf8(file->GetFileName());
            listed.sort();
            return listed == orphans;
        },
        10000);
    ASSERT_TRUE(browser.resultFilePane());
    EXPECT_EQ(listed, orphans);
    browser.outline(OP_TREE_PATH)->expandAll();
    EXPECT_TRUE(browser.window()->grab().save(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR) +
                                              "/browser_real_deep_scan_end.png"));

    // The type tree counts the found and the carved files by category and
    // extension; the modification-date tree the found ones by month (the
    // carved files carry no times).
    expected.clear();
    for (const char* key : {"PLX_TWO_DOCUMENT_TITLE", "PLX_TWO_PICTURE_TITLE",
                            "PLX_TWO_MOVIE_TITLE", "PLX_TWO_MUSIC_TITLE", "PLX_TWO_ARCHIVES_TITLE",
                            "PLX_TWO_EMAIL_TITLE", "PLX_TWO_OTHER_TITLE"}) {
        int count = 0;
        QStringList below;
        for (const auto& [extension, n] : byExtension) {
            if (categoryOf.count(extension) != 0 && qstrcmp(categoryOf.at(extension), key) == 0) {
                count += n;
                below << QStringLiteral("/%1(%2)").arg(extension).arg(n);
            }
        }
        const QString category =
            QStringLiteral("/%1(%2)").arg(ui::texts::Text(QString::fromLatin1(key))).arg(count);
        expected << category;
        for (const QString& extension : below)
            expected << category + extension;
    }
    EXPECT_EQ(TreePaths(*browser.outline(OP_TREE_FILE_TYPE)), expected);

    const QString top =
        QStringLiteral("/%1(%2)").arg(ui::texts::Text("MODIFY_TIME_ROOT_NAME")).arg(orphans.size());
    expected = QStringList{top};
    for (const auto& [year, months] : modified) {
        int inYear = 0;
        for (const auto& [month, n] : months)
            inYear += n;
        expected << top + QStringLiteral("/%1(%2)").arg(year).arg(inYear);
        for (const auto& [month, n] : months)
            expected
                << top + QStringLiteral("/%1(%2)/%3(%4)").arg(year).arg(inYear).arg(month).arg(n);
    }
    EXPECT_EQ(TreePaths(*browser.outline(OP_TREE_MODIFICATION_DATE)), expected);
    const QStringList created = TreePaths(*browser.outline(OP_TREE_CREATION_DATE));
    ASSERT_FALSE(created.isEmpty());
    EXPECT_EQ(created.first(), QStringLiteral("/%1(%2)")
                                   .arg(ui::texts::Text("CREATE_TIME_ROOT_NAME"))
                                   .arg(orphans.size()));
}

}  // namespace
}  // namespace velmora::browser::real
