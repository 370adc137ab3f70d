// A quick scan of a FAT volume through the program's windows and engine:
// the browser's path tree ends up with exactly the folders that lead to the
// volume's deleted files (the first page's categories all ticked, as it
// opens), the type tab with the seven categories and the files' extensions
// below theirs, the date tabs with the files' years and months.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QLabel>
#include <map>

#include "Browser/CommOutlineView.h"
#include "Browser/ResultTreeModel.h"
#include "Browser/real/RealScans.h"
#include "UIPlatform/Texts.h"
#include "Windows/VKRootWindowController.h"
#include "support/TestSupport.h"

namespace velmora::browser::real {
namespace {

QString Title(const char* key) {
    const QString text = ui::texts::Text(QString::fromLatin1(key));
    // A key shown as it is, or nothing, is a text missing from the table.
    EXPECT_NE(text, QString::fromLatin1(key));
    EXPECT_FALSE(text.isEmpty()) << key;
    return text;
}

QStringList Sorted(QStringList list) {
    list.sort();
    return list;
}

TEST(BrowserRealQuickScan, FillsTheTreesWithTheVolumesFoldersTypesAndMonths) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach loop devices";
    if (!Disks().why.isEmpty())
        GTEST_SKIP() << Disks().why.toStdString();
    const QJsonObject volume =
        Manifest(Disks().fatDisk).value("volumes").toArray().first().toObject();
    ASSERT_FALSE(volume.isEmpty());

    ScanSession session;
    ASSERT_TRUE(session.Start(Disks().fatDisk, 0, false)) << session.failure.toStdString();
    VKDeletailWindowController& browser = *session.browser();
    ASSERT_TRUE(session.WaitForScanEnd(60000)) << "the scan did not end";

    // What the browser must show, from the manifest: the deleted files, by
    // category and extension.
    const std::map<QString, const char*> categoryOf = {{"txt", "PLX_TWO_DOCUMENT_TITLE"},
                                                       {"pdf", "PLX_TWO_DOCUMENT_TITLE"},
                                                       {"jpg", "PLX_TWO_PICTURE_TITLE"},
                                                       {"mp4", "PLX_TWO_MOVIE_TITLE"},
                                                       {"mp3", "PLX_TWO_MUSIC_TITLE"}};
    QStringList files;
    std::map<QString, std::map<QString, int>> byCategory;  // key -> extension -> files
    std::map<QString, std::map<QString, int>> byMonth;     // year -> month -> files
    for (const QJsonValue& value : volume.value("files").toArray()) {
        const QJsonObject file = value.toObject();
        const QString path = file.value("path").toString();
        const QString extension = path.section('.', -1).toLower();
        if (file.value("type").toString() != "file" ||
            file.value("state").toString() != "deleted" || categoryOf.count(extension) == 0)
            continue;
        files << path;
        ++byCategory[categoryOf.at(extension)][extension];
        const QDateTime mtime = QDateTime::fromSecsSinceEpoch(
            file.value("times").toObject().value("mtime").toInteger());
        ++byMonth[mtime.toString("yyyy")][mtime.toString("MM")];
    }
    ASSERT_EQ(files.size(), 7) << "the fixture's deleted documents, photos, movie and song";

    // The path tree: one root, the volume's, and below it exactly the
    // folders on the way to those files.
    const QStringList paths = TreePaths(*browser.outline(OP_TREE_PATH));
    ASSERT_FALSE(paths.isEmpty()) << "the path tree is empty";
    const QString root = paths.first();
    // Named by the volume's label, also where the partition table alone
    // gives the volume (a loop device without partition nodes).
    EXPECT_EQ(root, "/" + volume.value("label").toString() + "(FAT/FAT32)");
    QStringList expected{root};
    for (const QString& folder : ManifestFolders(volume)) {
        const bool leadsToAFile = std::any_of(files.begin(), files.end(), [&](const QString& f) {
            return f.startsWith(folder + QLatin1Char('/'));
        });
        if (leadsToAFile)
            expected << root + folder;
    }
    EXPECT_EQ(Sorted(paths), Sorted(expected));

    // The type tree: every category in its order, each with its count and
    // the extensions of its files (in the order the scan met them).
    expected.clear();
    QStringList categories;
    int total = 0;
    for (const char* key : {"PLX_TWO_DOCUMENT_TITLE", "PLX_TWO_PICTURE_TITLE",
                            "PLX_TWO_MOVIE_TITLE", "PLX_TWO_MUSIC_TITLE", "PLX_TWO_ARCHIVES_TITLE",
                            "PLX_TWO_EMAIL_TITLE", "PLX_TWO_OTHER_TITLE"}) {
        int count = 0;
        for (const auto& [extension, n] : byCategory[key])
            count += n;
        total += count;
        const QString category = QStringLiteral("/%1(%2)").arg(Title(key)).arg(count);
        categories << category;
        expected << category;
        for (const auto& [extension, n] : byCategory[key])
            expected << category + QStringLiteral("/%1(%2)").arg(extension).arg(n);
    }
    const QStringList types = TreePaths(*browser.outline(OP_TREE_FILE_TYPE));
    QStringList typeRoots;
    for (const QString& path : types)
        if (path.count('/') == 1)
            typeRoots << path;
    EXPECT_EQ(typeRoots, categories);
    EXPECT_EQ(Sorted(types), Sorted(expected));

    // The date trees: a root, the year, the months (mcopy -m writes the
    // modification time as the creation time too).
    const struct {
        int kind;
        const char* key;
    } dateTrees[] = {{OP_TREE_CREATION_DATE, "CREATE_TIME_ROOT_NAME"},
                     {OP_TREE_MODIFICATION_DATE, "MODIFY_TIME_ROOT_NAME"}};
    for (const auto& tree : dateTrees) {
        SCOPED_TRACE(tree.key);
        const QString top = QStringLiteral("/%1(%2)").arg(Title(tree.key)).arg(total);
        expected = QStringList{top};
        for (const auto& [year, months] : byMonth) {
            int inYear = 0;
            for (const auto& [month, n] : months)
                inYear += n;
            const QString yearPath = top + QStringLiteral("/%1(%2)").arg(year).arg(inYear);
            expected << yearPath;
            for (const auto& [month, n] : months)
                expected << yearPath + QStringLiteral("/%1(%2)").arg(month).arg(n);
        }
        EXPECT_EQ(TreePaths(*browser.outline(tree.kind)), expected);
    }

    // The scan's end chose the path tree's root and counted the files.
    EXPECT_EQ(browser.outline(OP_TREE_PATH)->currentIndex(),
              browser.outline(OP_TREE_PATH)->treeModel()->rootIndex(0));
    EXPECT_TRUE(browser.selectFilesLabel()->text().contains(QString::number(total)))
        << browser.selectFilesLabel()->text().toStdString();

    // Home, and the same scan again: the new browser shows nothing of the
    // first one's trees, not even before its own scan has found anything.
    // (The type tree's category rows are the bridge's own, the same for
    // every scan: only the other trees' rows are told apart.)
    const int kinds[] = {OP_TREE_PATH, OP_TREE_CREATION_DATE, OP_TREE_MODIFICATION_DATE};
    std::vector<OpNodePtr> before;
    for (int kind : kinds) {
        ResultTreeModel& model = *browser.outline(kind)->treeModel();
        for (int row = 0; row < model.rowCount(); ++row)
            before.push_back(model.sharedNodeAt(model.index(row, 0)));
    }
    browser.doBackHomeAction(0);
    ASSERT_TRUE(WaitFor(
        [&] {
            return session.windows().homes() == 1 &&
                   session.windows().root()->window()->isVisible() &&
                   !session.windows().root()->deletailWC();
        },
        10000))
        << "the main window did not come back";
    ASSERT_TRUE(session.Start(Disks().fatDisk, 0, false)) << session.failure.toStdString();
    // (The first browser has gone with the main window that opened it.)
    VKDeletailWindowController& again = *session.browser();
    for (int kind : kinds) {
        ResultTreeModel& model = *again.outline(kind)->treeModel();
        for (int row = 0; row < model.rowCount(); ++row) {
            const OpNodePtr node = model.sharedNodeAt(model.index(row, 0));
            EXPECT_EQ(std::count(before.begin(), before.end(), node), 0)
                << "tree " << kind << " shows "
                << model.data(model.index(row, 0), Qt::DisplayRole).toString().toStdString()
                << " of the first scan";
        }
    }
    ASSERT_TRUE(session.WaitForScanEnd(60000)) << "the second scan did not end";
    EXPECT_EQ(Sorted(TreePaths(*again.outline(OP_TREE_PATH))), Sorted(paths));
}

}  // namespace
}  // namespace velmora::browser::real
