// User defaults and the settings overlay: what the program, running as root,
// writes for the user belongs to the user, and the installed file is never
// written.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QSize>

#include <filesystem>

#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/UserDefaults.h"
#include "platform/UserFiles.h"
#include "support/TestSupport.h"

using namespace velmora::ui;
using velmora::test::ScopedEnv;
using velmora::test::TempDir;

namespace {

constexpr uid_t kNobody = 65534;

// Runs as root for the user "nobody" when it can, as itself otherwise.
// The test's folder stands in for the user's home: open to the user.
struct InvokingUserEnv {
    ScopedEnv pkexec{"PKEXEC_UID", nullptr};
    ScopedEnv sudo{"SUDO_UID", velmora::test::IsRoot() ? "65534" : nullptr};
    ScopedEnv sudoGid{"SUDO_GID", velmora::test::IsRoot() ? "65534" : nullptr};
    uid_t expectedOwner = velmora::test::IsRoot() ? kNobody : geteuid();
    void Open(const TempDir& dir) const { chmod(dir.path().c_str(), 0777); }
};

uid_t OwnerOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const char* const kShipped = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>VersionCheck</key><integer>3</integer>
<key>SavePath</key><string></string>
<key>en</key><dict><key>IniURL</key><string></string></dict>
</dict></plist>)";

}  // namespace

TEST(UserDefaults, KeepsValuesInAFileOfTheInvokingUser) {
    InvokingUserEnv user;
    TempDir dir;
    user.Open(dir);
    const QString path = QString::fromStdString(dir / "config/Velmora/Velmora.conf");
    {
        UserDefaults defaults(path);
        EXPECT_FALSE(defaults.contains("Participate"));
        EXPECT_TRUE(defaults.setValue("AppleLanguages", QStringList{"fr", "en"}));
        EXPECT_TRUE(defaults.setValue("Participate", false));
        EXPECT_TRUE(defaults.setValue("rsfPath", "/home/u/scan.Velmora"));
    }
    UserDefaults reread(path);
    EXPECT_EQ(reread.stringList("AppleLanguages"), (QStringList{"fr", "en"}));
    EXPECT_FALSE(reread.boolValue("Participate", true));
    EXPECT_TRUE(reread.boolValue("isSelectDesktopDisk", true));
    EXPECT_EQ(reread.stringValue("rsfPath"), "/home/u/scan.Velmora");
    EXPECT_TRUE(reread.remove("rsfPath"));
    EXPECT_FALSE(UserDefaults(path).contains("rsfPath"));

    for (const char* made : {"config", "config/Velmora", "config/Velmora/Velmora.conf"})
        EXPECT_EQ(OwnerOf(dir / made), user.expectedOwner) << made;
}

int FailingSync(int) {
    errno = EIO;
    return -1;
}

// The defaults file is replaced whole, as the user: a link planted at its
// path is replaced, never written through, and a write that cannot be
// synced leaves the file as it was and says so.
TEST(UserDefaults, WritesNeverFollowALinkAndAFailedWriteKeepsTheFile) {
    InvokingUserEnv user;
    TempDir dir;
    user.Open(dir);
    velmora::test::WriteFile(dir / "victim", "precious");
    ::chown((dir / "victim").c_str(), user.expectedOwner, user.expectedOwner);
    const std::string file = dir / "Velmora.conf";
    ASSERT_EQ(symlink((dir / "victim").c_str(), file.c_str()), 0);
    UserDefaults defaults(QString::fromStdString(file));
    ASSERT_TRUE(defaults.setValue("Participate", true));
    EXPECT_EQ(velmora::test::ReadText(dir / "victim"), "precious");
    struct stat st {};
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, user.expectedOwner);
    const std::string written = velmora::test::ReadText(file);
    EXPECT_NE(written.find("Participate=true"), std::string::npos) << written;

    velmora::platform::SetSyncFunctionForTests(&FailingSync);
    EXPECT_FALSE(defaults.setValue("rsfPath", "/home/u/scan.Velmora"));
    velmora::platform::SetSyncFunctionForTests(nullptr);
    EXPECT_EQ(velmora::test::ReadText(file), written);
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"Velmora.conf", "victim"}));
    // The session keeps the value all the same.
    EXPECT_EQ(defaults.stringValue("rsfPath"), "/home/u/scan.Velmora");
}

TEST(UserDefaults, ReadsYesAndNoAsBooleans) {
    TempDir dir;
    velmora::test::WriteFile(dir / "d.conf", "[General]\nA=YES\nB=NO\nC=true\nD=0\n");
    UserDefaults defaults(QString::fromStdString(dir / "d.conf"));
    EXPECT_TRUE(defaults.boolValue("A"));
    EXPECT_FALSE(defaults.boolValue("B", true));
    EXPECT_TRUE(defaults.boolValue("C"));
    EXPECT_FALSE(defaults.boolValue("D", true));
}

TEST(UserDefaults, DefaultPathIsInTheInvokingUsersHome) {
    ScopedEnv pkexec("PKEXEC_UID", "0");
    EXPECT_EQ(UserDefaults::DefaultPath(), "/root/.config/Velmora/Velmora.conf");
}

TEST(PrivateSettings, OverlayWinsAndTheInstalledFileIsNeverWritten) {
    InvokingUserEnv user;
    TempDir dir;
    user.Open(dir);
    velmora::test::WriteFile(dir / "PrivateData.plist", kShipped);
    const std::string overlayFolder = dir / "home/.config/Velmora";
    PrivateSettings settings(QString::fromStdString(dir / "PrivateData.plist"),
                             QString::fromStdString(overlayFolder + "/PrivateData.plist"));
    EXPECT_EQ(settings.value("VersionCheck").toLongLong(), 3);
    EXPECT_FALSE(settings.value("upDataTimeStr").isValid());

    ASSERT_TRUE(settings.setValue("upDataTimeStr", "2026-12-01 10:00:00"));
    ASSERT_TRUE(settings.setValue("SavePath", "/home/u/results"));
    ASSERT_TRUE(settings.setValue("SearchHistory", QStringList{"jpg", "report"}));
    EXPECT_EQ(settings.stringValue("upDataTimeStr"), "2026-12-01 10:00:00");
    EXPECT_EQ(settings.stringValue("SavePath"), "/home/u/results");
    EXPECT_EQ(settings.value("SearchHistory").toStringList(), (QStringList{"jpg", "report"}));
    EXPECT_EQ(velmora::test::ReadText(dir / "PrivateData.plist"), kShipped);

    // An upgrade's installed values show through where nothing was written.
    std::string upgraded = kShipped;
    upgraded.replace(upgraded.find("<integer>3<"), 11, "<integer>4<");
    velmora::test::WriteFile(dir / "PrivateData.plist", upgraded);
    EXPECT_EQ(settings.value("VersionCheck").toLongLong(), 4);
    EXPECT_EQ(settings.all().value("SavePath").toString(), "/home/u/results");
    EXPECT_TRUE(settings.all().contains("en"));

    EXPECT_EQ(Entries(overlayFolder), std::vector<std::string>{"PrivateData.plist"})
        << "no temporary file is left beside the overlay";
    EXPECT_EQ(OwnerOf(overlayFolder + "/PrivateData.plist"), user.expectedOwner);
    EXPECT_EQ(OwnerOf(overlayFolder), user.expectedOwner);

    ASSERT_TRUE(settings.remove("SavePath"));
    EXPECT_EQ(settings.stringValue("SavePath"), "");
}

TEST(PrivateSettings, OverlayWriteNeverFollowsAPlantedLink) {
    InvokingUserEnv user;
    TempDir dir;
    user.Open(dir);
    velmora::test::WriteFile(dir / "victim", "precious");
    ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / "PrivateData.plist").c_str()), 0);
    PrivateSettings settings(QString::fromStdString(dir / "missing.plist"),
                             QString::fromStdString(dir / "PrivateData.plist"));
    ASSERT_TRUE(settings.setValue("IsFristTime", "NO"));
    EXPECT_EQ(velmora::test::ReadText(dir / "victim"), "precious");
    struct stat st {};
    ASSERT_EQ(lstat((dir / "PrivateData.plist").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(settings.stringValue("IsFristTime"), "NO");

    if (!velmora::test::IsRoot())
        return;
    // A folder link into a place only root may write: root, writing for the
    // user, must not write there.
    ASSERT_EQ(mkdir((dir / "root-only").c_str(), 0700), 0);
    ASSERT_EQ(symlink((dir / "root-only").c_str(), (dir / "Velmora").c_str()), 0);
    PrivateSettings redirected(QString::fromStdString(dir / "missing.plist"),
                               QString::fromStdString(dir / "Velmora/PrivateData.plist"));
    EXPECT_FALSE(redirected.setValue("IsFristTime", "NO"));
    EXPECT_TRUE(Entries(dir / "root-only").empty());
}

TEST(PrivateSettings, MissingFilesAndFailedWrites) {
    TempDir dir;
    PrivateSettings none(QString::fromStdString(dir / "no-shipped.plist"),
                         QString::fromStdString(dir / "no-overlay.plist"));
    EXPECT_FALSE(none.value("INSTALL_VERSION").isValid());
    EXPECT_TRUE(none.all().isEmpty());

    // The overlay's folder cannot be made: a file stands in its way.
    velmora::test::WriteFile(dir / "blocker", "x");
    PrivateSettings blocked(QString::fromStdString(dir / "no-shipped.plist"),
                            QString::fromStdString(dir / "blocker/sub/PrivateData.plist"));
    EXPECT_FALSE(blocked.setValue("SavePath", "/x"));
    EXPECT_FALSE(blocked.setValue("Bad", QVariant::fromValue(QSize(1, 2))))
        << "a value no property list holds";

    velmora::test::WriteFile(dir / "garbage.plist", "not a property list");
    PrivateSettings garbage(QString::fromStdString(dir / "garbage.plist"),
                            QString::fromStdString(dir / "no-overlay.plist"));
    EXPECT_FALSE(garbage.value("VersionCheck").isValid());
}
