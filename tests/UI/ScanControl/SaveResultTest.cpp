// Saving the browser's results: the folder checks, the hand-over to the
// bridge and what is remembered.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <deque>
#include <set>

#include <unistd.h>

#include "Browser/VKSaveResultController.h"
#include "BrowserDoubles.h"

namespace velmora::browser {
namespace {

class SaveResultTest : public testing::BrowserTest {};

TEST_F(SaveResultTest, FolderChecksAndWhatIsStored) {
    struct Case {
        const char* name;
        std::vector<QString> panel;  // the panel's answers in turn
        std::set<QString> writable;
        int sameDevice;
        std::deque<int> answers;
        int progressResult;
        bool saved;
        const char* savedFile;     // handed to the bridge
        const char* storedFolder;  // remembered
    };
    const Case cases[] = {
        {"plain", {"/r/a/x.Velmora"}, {"/r/a"}, 0, {}, 1, true, "/r/a/x.Velmora", "/r/a"},
        {"unwritable folder, writable parent, give up",
         {"/r/a/x.Velmora"},
         {"/r"},
         0,
         {0},
         1,
         false,
         nullptr,
         nullptr},
        {"unwritable folder, choose again",
         {"/r/a/x.Velmora", "/r/b/y.Velmora"},
         {"/r", "/r/b"},
         0,
         {1},
         1,
         true,
         "/r/b/y.Velmora",
         "/r/b"},
        {"same device, save there",
         {"/r/a/x.Velmora"},
         {"/r/a"},
         1,
         {-1},
         1,
         true,
         "/r/a/x.Velmora",
         "/r/a"},
        {"same device, no", {"/r/a/x.Velmora"}, {"/r/a"}, 1, {0}, 1, false, nullptr, nullptr},
        {"same device, choose again then cancel",
         {"/r/a/x.Velmora"},
         {"/r/a"},
         1,
         {1},
         1,
         false,
         nullptr,
         nullptr},
        {"cancelled", {}, {"/r/a"}, 0, {}, 1, false, nullptr, nullptr},
        {"save failed", {"/r/a/x.Velmora"}, {"/r/a"}, 0, {}, 0, false, "/r/a/x.Velmora", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.calls.clear();
        bridge.storedSavePath.reset();
        bridge.sameDevice = c.sameDevice;
        alerts.answers = c.answers;
        alerts.shown.clear();
        size_t next = 0;
        std::vector<QString> proposed;
        VKSaveResultController save(
            browser.window(),
            [&](const QString& name) {
                proposed.push_back(name);
                return next < c.panel.size() ? std::optional<QString>(c.panel[next++])
                                             : std::nullopt;
            },
            [&](const QString& post) {
                EXPECT_EQ(post, QStringLiteral("QueryProgressInfo"));
                return c.progressResult;
            },
            [&](const QString& folder) { return c.writable.count(folder) != 0; });
        EXPECT_EQ(save.exportButtonAction(), c.saved);
        EXPECT_EQ(save.bSave(), c.saved);
        EXPECT_EQ(alerts.shown.size(), c.answers.size());
        EXPECT_EQ(alerts.unscripted, 0);
        ASSERT_FALSE(proposed.empty());
        EXPECT_EQ(proposed[0], QString::fromStdString(bridge.saveFileName));
        if (c.savedFile) {
            EXPECT_EQ(bridge.CountOf("RestorPostUIUpdate:QueryProgressInfo:1"), 1);
            EXPECT_EQ(bridge.CountOf(std::string("beginSaveOrRestoreNode:1:") + c.savedFile), 1);
        } else {
            EXPECT_EQ(bridge.CountOf("beginSaveOrRestoreNode"), 0);
        }
        if (c.storedFolder)
            EXPECT_EQ(bridge.storedSavePath, std::optional<std::string>(c.storedFolder));
        else
            EXPECT_FALSE(bridge.storedSavePath);
    }
}

TEST_F(SaveResultTest, RealWritableCheck) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(VKSaveResultController::FolderIsWritable(dir.path()));
    EXPECT_FALSE(VKSaveResultController::FolderIsWritable(dir.path() + QStringLiteral("/none")));
    const QString locked = dir.path() + QStringLiteral("/locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    // Root without an invoking user may write anywhere: the check is made
    // as a plain user then, the way the program runs on someone's behalf.
    const bool standIn = geteuid() == 0 && qEnvironmentVariableIsEmpty("SUDO_UID") &&
                         qEnvironmentVariableIsEmpty("PKEXEC_UID");
    if (standIn) {
        qputenv("SUDO_UID", "65534");
        qputenv("SUDO_GID", "65534");
        // The user may go through the folders above and write beside them.
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::WriteOther |
                                              QFile::ExeOther);
        QFile::setPermissions(
            locked, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        EXPECT_TRUE(VKSaveResultController::FolderIsWritable(dir.path()));
    }
    EXPECT_FALSE(VKSaveResultController::FolderIsWritable(locked));
    if (standIn) {
        qunsetenv("SUDO_UID");
        qunsetenv("SUDO_GID");
    }
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace
}  // namespace velmora::browser
