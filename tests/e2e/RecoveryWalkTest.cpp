// The whole road a user takes to get files back, in the real program on an
// X server of the test's own, on each file system the quick scan reads: the
// wizard (mode, disk), the quick scan, files ticked in two folders of the
// results browser, Recover, the destination chosen in the folder panel, the
// end window. Every recovered file must equal the fixture's manifest byte
// for byte, and the scanned image must not change. Needs root (loop
// devices, and FUSE to fill the exFAT and NTFS volumes).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RealProgram.h"
#include "support/TestSupport.h"

namespace velmora::e2e {
namespace {

struct ManifestFile {
    std::string path;  // "/Music/old tune.mp3"
    std::string sha256;
    bool deleted = false;
};

// A walk volume (tests/fixtures/e2e/make_walk_volume.py) and its manifest.
struct WalkVolume {
    std::string image;
    std::map<std::string, ManifestFile> files;  // by path
    std::string error;
    bool toolMissing = false;
};

std::map<std::string, ManifestFile> ReadManifest(const std::string& path) {
    std::map<std::string, ManifestFile> out;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return out;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    for (const QJsonValue volume : root.value(QStringLiteral("volumes")).toArray()) {
        for (const QJsonValue entry : volume.toObject().value(QStringLiteral("files")).toArray()) {
            const QJsonObject f = entry.toObject();
            if (f.value(QStringLiteral("type")).toString() != QStringLiteral("file"))
                continue;
            ManifestFile m;
            m.path = f.value(QStringLiteral("path")).toString().toStdString();
            m.sha256 = f.value(QStringLiteral("sha256")).toString().toStdString();
            m.deleted = f.value(QStringLiteral("state")).toString() == QStringLiteral("deleted");
            out[m.path] = m;
        }
    }
    return out;
}

// Each file system's volume, made once per test program.
const WalkVolume& WalkVolumeOf(const std::string& fs) {
    static test::TempDir scratch;
    static std::map<std::string, WalkVolume> made;
    auto found = made.find(fs);
    if (found != made.end())
        return found->second;
    WalkVolume& out = made[fs];
    chmod(scratch.path().c_str(), 0755);
    out.image = scratch / (fs + ".img");
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    // APFS and HFS+ come from their own generators, with names of films and
    // songs.
    const std::vector<std::string> argv =
        fs == "apfs"
            ? std::vector<std::string>{"python3",
                                       test::SourceDir() + "/tests/fixtures/apfs/mkapfs_fixture.py",
                                       "--media-names", out.image}
        : fs == "hfsplus"
            ? std::vector<std::string>{"python3",
                                       test::SourceDir() + "/tests/fixtures/hfsplus/mkhfsplus.py",
                                       out.image, "--media-names"}
            : std::vector<std::string>{
                  "python3", test::SourceDir() + "/tests/fixtures/e2e/make_walk_volume.py", fs,
                  out.image};
    Process make(argv, {{"PATH", path}, {"LC_ALL", "C.UTF-8"}, {"TZ", "UTC"}},
                 scratch / ("make-" + fs));
    const std::optional<int> status = make.WaitExit(Millis(120000));
    if (status != 0) {
        out.error = "making the " + fs + " walk volume failed: " + make.Output();
        out.toolMissing = status == 77;
        return out;
    }
    out.files = ReadManifest(scratch / (fs + ".json"));
    if (out.files.empty())
        out.error = "no files in the manifest of " + out.image;
    return out;
}

// Every regular file under `folder`, by its path.
std::vector<std::string> FilesUnder(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file())
            out.push_back(it->path().string());
    }
    return out;
}

// The label every walk volume carries; the disk page lists the volume by it
// and the browser's path tree names its top after it.
constexpr const char* kLabel = "WALKVOL";

// A file to tick: the path tree's row (a folder, or the volume's top) and
// the file's name in the list beside it; its path in the manifest.
struct Tick {
    const char* treeRow;
    const char* name;
    const char* manifestPath;
};

struct WalkCase {
    const char* fs;
    const char* shot;   // the pictures' name stem
    const char* label;  // the volume's label on the disk page
    bool deep;          // the wizard's third mode instead of its first
    std::vector<Tick> ticks;
};

// Test names and messages show the case by its file system.
void PrintTo(const WalkCase& c, std::ostream* out) {
    *out << c.fs;
}

// Deleted music and films in two folders of each walk volume.
const std::vector<Tick> kWalkTicks = {{"Music", "old tune.mp3", "/Music/old tune.mp3"},
                                      {"Movies", "old clip.mov", "/Movies/old clip.mov"}};

class RecoveryWalk : public ::testing::TestWithParam<WalkCase> {};

// How many rows of a "rows" answer have a column that is exactly `text`.
int CountNamed(const std::string& rows, const std::string& text) {
    int count = 0;
    const std::string needle = "|" + text + "|";
    for (size_t at = 0; (at = rows.find(needle, at)) != std::string::npos; at += needle.size())
        ++count;
    for (size_t at = 0; (at = rows.find("=" + text + "|", at)) != std::string::npos; ++at)
        ++count;
    return count;
}

// The wizard's mode page, the first mode (deleted files, a quick scan) or
// the third (a deep scan), on to the disk page.
void ToDiskPage(Walk& walk, Process& program, bool deep) {
    ASSERT_TRUE(walk.WaitVisible("TypeXib", Millis(60000))) << program.Output();
    if (deep)
        ASSERT_EQ(walk.Ask("click completeButton"), "ok");
    ASSERT_EQ(walk.Ask("click backHomeButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("ListDiskXib", Millis(60000))) << walk.Ask("windows") << "\n"
                                                                << program.Output();
}

// Scans the disk page's `row`, up to the results browser.
void ScanRow(Walk& walk, Process& program, const std::string& row) {
    ASSERT_EQ(walk.Ask("clickrow outlineView " + row), "ok");
    ASSERT_TRUE(walk.WaitVisible("continueButton", Millis(20000)));
    ASSERT_EQ(walk.Ask("click continueButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("ExhibitionXib", Millis(60000))) << walk.Ask("windows") << "\n"
                                                                  << program.Output();
}

// Recover on the ticked files, `destination` typed into the folder panel
// and taken with Return.
void RecoverInto(Walk& walk, const std::string& destination) {
    ASSERT_EQ(walk.Ask("click recovertyButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("fileNameEdit", Millis(20000))) << walk.Ask("windows");
    ASSERT_EQ(walk.Ask("type fileNameEdit " + destination), "ok");
    ASSERT_EQ(walk.Ask("key fileNameEdit Return"), "ok");
}

// The wizard: the first mode (deleted files, a quick scan), then the volume
// on `loop`, up to the results browser; `top` gets the name the browser
// gives the volume (its label, or its device's when the label is not read).
void OpenBrowserOnVolume(Walk& walk, Process& program, const LoopDevice& loop, std::string* top,
                         const std::string& label = kLabel, bool deep = false) {
    ASSERT_NO_FATAL_FAILURE(ToDiskPage(walk, program, deep));
    // A volume whose label is not read is listed by its device's name.
    const std::string node = loop.name();
    std::string rows, row;
    ASSERT_TRUE(WaitUntil(
        [&] {
            rows = walk.Ask("rows outlineView");
            // By the device's own name first: a label can be another disk's
            // too (another copy of the fixture, attached by someone else).
            row = RowNamed(rows, *top = node);
            if (row.empty() && CountNamed(rows, label) == 1)
                row = RowNamed(rows, *top = label);
            return !row.empty();
        },
        Millis(60000)))
        << "no row names " << label << " on " << loop.node() << ":\n"
        << rows;
    ScanRow(walk, program, row);
}

// Ticks the file `name` in the list of the path tree's `folder` (of the
// row chosen already when `folder` is empty).
void TickFile(Walk& walk, Process& program, const std::string& folder, const std::string& name) {
    // Ticks are inert while the scan runs, and the scan's thread ends a
    // moment before the browser takes its end: the files' total shows then.
    ASSERT_TRUE(walk.WaitVisible("selectFilesLabel", Millis(60000))) << walk.Ask("windows") << "\n"
                                                                     << program.Output();
    std::string rows;
    std::string folderRow;
    if (!folder.empty()) {
        ASSERT_TRUE(WaitUntil(
            [&] {
                folderRow = RowNamed(rows = walk.Ask("rows pathOutlineView"), folder);
                return !folderRow.empty();
            },
            Millis(60000)))
            << "no folder " << folder << " in the path tree:\n"
            << rows << "\n"
            << program.Output();
        ASSERT_EQ(walk.Ask("clickrow pathOutlineView " + folderRow), "ok");
    }
    std::string fileRow;
    ASSERT_TRUE(WaitUntil(
        [&] {
            fileRow = RowNamed(rows = walk.Ask("rows tableView"), name);
            return !fileRow.empty();
        },
        Millis(20000)))
        << "no " << name << " in the list of " << folder << ":\n"
        << rows;
    // The first column is the tick box.
    ASSERT_EQ(walk.Ask("clickrow tableView " + fileRow), "ok");
}

// Ticks the deleted "Music/old tune.mp3" of a walk volume, recovers it
// into `destination` (empty before) and checks it arrived alone and whole.
void RecoverOldTune(Walk& walk, Process& program, const std::string& destination,
                    const WalkVolume& volume) {
    TickFile(walk, program, "Music", "old tune.mp3");
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    ASSERT_NO_FATAL_FAILURE(RecoverInto(walk, destination));
    ASSERT_TRUE(walk.WaitVisible("VKScanEndSaveWindowController", Millis(60000)))
        << walk.Ask("windows") << "\n"
        << program.Output();
    ASSERT_EQ(walk.Ask("click okButton"), "ok");
    const std::vector<std::string> recovered = FilesUnder(destination);
    ASSERT_EQ(recovered.size(), 1u) << ::testing::PrintToString(recovered);
    EXPECT_TRUE(recovered[0].ends_with("/Music/old tune.mp3")) << recovered[0];
    EXPECT_EQ(Sha256Of(recovered[0]), volume.files.at("/Music/old tune.mp3").sha256);
}

TEST_P(RecoveryWalk, ScanTickTwoFoldersRecoverByteIdentical) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the fixture image to a loop device";
    const WalkVolume& volume = WalkVolumeOf(GetParam().fs);
    VELMORA_REQUIRE_FIXTURE(volume);
    const std::string shot = GetParam().shot;
    const std::string before = Sha256Of(volume.image);
    VELMORA_ATTACH_LOOP(loop, volume.image);

    WalkedProgram run;
    const test::TempDir& home = run.home();
    const std::string destination = home / "recovered";
    ASSERT_EQ(mkdir(destination.c_str(), 0755), 0);
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();

    std::string top, rows;
    OpenBrowserOnVolume(walk, program, loop, &top, GetParam().label, GetParam().deep);
    ASSERT_FALSE(HasFatalFailure());
    // A deep scan's trees grow until its end: the ticks wait for it.
    if (GetParam().deep) {
        ASSERT_TRUE(
            WaitUntil([&] { return program.Output().find("DoScan:137") != std::string::npos; },
                      Millis(300000)))
            << program.Output();
    }

    // The two folders show once the scan has put them in the path tree;
    // each folder's deleted file is ticked in the list beside it.
    const std::vector<Tick>& ticks = GetParam().ticks;
    for (const auto& tick : ticks) {
        // The volume's top row is named after it with its kind: "LABEL(APFS)".
        if (std::string(tick.treeRow) == GetParam().label) {
            std::string row, rows;
            ASSERT_TRUE(WaitUntil(
                [&] {
                    rows = walk.Ask("rows pathOutlineView");
                    row = RowMentioning(rows, std::string(tick.treeRow) + "(");
                    return !row.empty();
                },
                Millis(120000)))
                << rows;
            ASSERT_EQ(walk.Ask("clickrow pathOutlineView " + row), "ok");
            TickFile(walk, program, "", tick.name);
        } else {
            TickFile(walk, program, tick.treeRow, tick.name);
        }
        ASSERT_FALSE(HasFatalFailure());
    }
    // The file-type tree names the categories in words, never by their keys.
    const std::string types = walk.Ask("rows typeOutlineView");
    EXPECT_NE(types.find("Music"), std::string::npos) << types;
    EXPECT_EQ(types.find("PLX_"), std::string::npos) << types;
    std::string selected;
    EXPECT_TRUE(WaitUntil(
        [&] {
            selected = walk.Ask("text selectFilesLabel");
            return selected.find(" 2 file") != std::string::npos;
        },
        Millis(20000)))
        << selected;
    EXPECT_EQ(walk.Ask("shot ExhibitionXib " + ShotPath(shot + "_browser_ticked")).rfind("ok ", 0),
              0u);

    // Recover: the folder panel, the destination typed and taken with Return.
    ASSERT_NO_FATAL_FAILURE(RecoverInto(walk, destination));
    ASSERT_TRUE(walk.WaitVisible("VKScanEndSaveWindowController", Millis(60000)))
        << walk.Ask("windows") << " " << walk.Ask("text alert") << "\n"
        << program.Output();
    EXPECT_EQ(walk.Ask("shot VKScanEndSaveWindowController " + ShotPath(shot + "_recovery_end"))
                  .rfind("ok ", 0),
              0u);
    std::string shown = walk.Ask("text savePathLabel");
    EXPECT_NE(shown.find(destination), std::string::npos) << shown;
    ASSERT_EQ(walk.Ask("click okButton"), "ok");
    EXPECT_TRUE(walk.WaitGone("VKScanEndSaveWindowController", Millis(20000)));

    // What was ticked, and nothing else, under the volume's folder.
    const std::vector<std::string> recovered = FilesUnder(destination);
    EXPECT_EQ(recovered.size(), ticks.size()) << ::testing::PrintToString(recovered);
    for (const Tick& tick : ticks) {
        const std::string tail = "/" + top + tick.manifestPath;
        const auto it = volume.files.find(tick.manifestPath);
        ASSERT_NE(it, volume.files.end()) << tail << " is not in the manifest";
        std::string match;
        for (const std::string& path : recovered) {
            if (path.size() >= tail.size() && path.ends_with(tail))
                match = path;
        }
        ASSERT_FALSE(match.empty())
            << "no recovered " << tail << " in " << ::testing::PrintToString(recovered);
        EXPECT_EQ(Sha256Of(match), it->second.sha256) << match;
    }

    run.QuitCleanly();
    EXPECT_EQ(Sha256Of(volume.image), before) << "the scanned image changed";
}

// Home while the recovery's end window is still open: the end window waits
// for its answer, so the browser's home button under it neither takes the
// user's click nor stacks a second question over it; once the end window is
// answered, home asks to save, goes to the main window, and the program
// lives on and quits cleanly. The search field is open once the scan ends.
TEST(RecoveryWalkHome, HomeWithTheRecoveryEndWindowOpen) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the fixture image to a loop device";
    const WalkVolume& volume = WalkVolumeOf("fat16");
    VELMORA_REQUIRE_FIXTURE(volume);
    VELMORA_ATTACH_LOOP(loop, volume.image);

    WalkedProgram run;
    const std::string destination = run.home() / "recovered";
    ASSERT_EQ(mkdir(destination.c_str(), 0755), 0);
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();
    std::string top;
    OpenBrowserOnVolume(walk, program, loop, &top);
    ASSERT_FALSE(HasFatalFailure());
    TickFile(walk, program, "Music", "old tune.mp3");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(walk.Ask("find search").rfind("ok 1 1 ", 0), 0u)
        << "the search field stays off after the scan: " << walk.Ask("find search");
    ASSERT_NO_FATAL_FAILURE(RecoverInto(walk, destination));
    ASSERT_TRUE(walk.WaitVisible("VKScanEndSaveWindowController", Millis(60000)))
        << walk.Ask("windows") << "\n"
        << program.Output();

    auto nothingElseHappened = [&](const char* how) {
        SCOPED_TRACE(how);
        // Time for a question or a new main window to come up.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_EQ(walk.Ask("find alertDefaultButton").rfind("ok 1 ", 0), std::string::npos)
            << "a question over the end window: " << walk.Ask("text alert");
        EXPECT_EQ(walk.Ask("find VKScanEndSaveWindowController").rfind("ok 1 ", 0), 0u)
            << walk.Ask("windows");
        EXPECT_EQ(walk.Ask("find ExhibitionXib").rfind("ok 1 ", 0), 0u) << walk.Ask("windows");
        EXPECT_NE(walk.Ask("find MainXib").rfind("ok 1 ", 0), 0u) << walk.Ask("windows");
        EXPECT_TRUE(program.Running()) << program.Output();
    };
    // The user's click on the home button under the end window.
    ASSERT_EQ(walk.Ask("userclick backHomeButton"), "ok");
    nothingElseHappened("a click through the window system");
    // The same click reaching the button itself (a desktop that lets it by).
    ASSERT_EQ(walk.Ask("click backHomeButton"), "ok");
    nothingElseHappened("a click on the button itself");
    walk.Ask("screen VKScanEndSaveWindowController " + ShotPath("home_under_the_end_window"));

    // Answered, the end window goes; home asks to save (leave) and the main
    // window comes back.
    ASSERT_EQ(walk.Ask("click okButton"), "ok");
    ASSERT_TRUE(walk.WaitGone("VKScanEndSaveWindowController", Millis(20000)));
    ASSERT_EQ(walk.Ask("userclick backHomeButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("alertOtherButton", Millis(20000)))
        << walk.Ask("windows") << " " << walk.Ask("state");
    ASSERT_EQ(walk.Ask("click alertOtherButton"), "ok");
    EXPECT_TRUE(walk.WaitVisible("MainXib", Millis(60000))) << walk.Ask("windows");
    EXPECT_TRUE(walk.WaitGone("ExhibitionXib", Millis(60000))) << walk.Ask("windows");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_TRUE(program.Running()) << program.Output();
    EXPECT_EQ(FilesUnder(destination).size(), 1u);
    run.QuitCleanly();
}

// The destination fills up during the recovery (a 40 KiB tmpfs for 61 KB of
// files): the folder check warns first, the user goes on, the recovery
// pauses on the full disk and is stopped there. The end window counts the
// files that are really there, and each of them is whole.
TEST(RecoveryWalkBadInput, DestinationFillsUpAndTheRecoveryIsStopped) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root for loop devices and a small tmpfs";
    const WalkVolume& volume = WalkVolumeOf("fat16");
    VELMORA_REQUIRE_FIXTURE(volume);
    VELMORA_ATTACH_LOOP(loop, volume.image);

    WalkedProgram run;
    const test::TempDir& home = run.home();
    const std::string destination = home / "small";
    ASSERT_EQ(mkdir(destination.c_str(), 0755), 0);
    // The test program has a mount namespace of its own (see RealProgram.cpp).
    ASSERT_EQ(mount("tmpfs", destination.c_str(), "tmpfs", 0, "size=40k,mode=0755"), 0)
        << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{destination};

    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();
    std::string top;
    OpenBrowserOnVolume(walk, program, loop, &top);
    ASSERT_FALSE(HasFatalFailure());
    for (const auto& [folder, name] : std::vector<std::pair<std::string, std::string>>{
             {"Music", "old tune.mp3"}, {"Music", "gone song.mp3"}, {"Movies", "old clip.mov"}}) {
        TickFile(walk, program, folder, name);
        ASSERT_FALSE(HasFatalFailure());
    }

    ASSERT_NO_FATAL_FAILURE(RecoverInto(walk, destination));
    // Too little room: said before anything is written; the user goes on.
    ASSERT_TRUE(walk.WaitVisible("alertAlternateButton", Millis(20000))) << walk.Ask("windows");
    const std::string warned = walk.Ask("text alert");
    EXPECT_NE(warned.find("Not enough free space"), std::string::npos) << warned;
    ASSERT_EQ(walk.Ask("click alertAlternateButton"), "ok");
    // The full disk pauses the recovery and the progress window says so.
    ASSERT_TRUE(walk.WaitVisible("noMemeryCancelButton", Millis(60000)))
        << walk.Ask("windows") << "\n"
        << program.Output();
    walk.Ask("shot VKShowScanProgressWindowController " + ShotPath("recovery_destination_full"));
    ASSERT_EQ(walk.Ask("click noMemeryCancelButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("VKScanNotEndSaveWindowController", Millis(60000)))
        << walk.Ask("windows");
    walk.Ask("shot VKScanNotEndSaveWindowController " + ShotPath("recovery_stopped"));
    const std::string said =
        walk.Ask("text recoveryEndTitle") + " " + walk.Ask("text recoveryEndNode");

    // Whatever is there is whole, and the window counts just that.
    const std::vector<std::string> recovered = FilesUnder(destination);
    EXPECT_GE(recovered.size(), 1u);
    EXPECT_LT(recovered.size(), 3u);
    for (const std::string& path : recovered) {
        const std::string tail = path.substr(path.find("/" + top + "/") + top.size() + 1);
        const auto it = volume.files.find(tail);
        ASSERT_NE(it, volume.files.end()) << path;
        EXPECT_EQ(Sha256Of(path), it->second.sha256) << path << " is not whole";
    }
    EXPECT_NE(said.find("after " + std::to_string(recovered.size()) + " file"), std::string::npos)
        << said << "\n"
        << ::testing::PrintToString(recovered);
    ASSERT_EQ(walk.Ask("click okButton"), "ok");

    run.QuitCleanly();
}

// The scanned disk goes away during a deep scan: the kernel's remove event
// for the loop device (what the program hears when a disk is pulled) stops
// the scan, the browser says so and goes home, and the program lives on.
TEST(RecoveryWalkBadInput, ScannedDiskRemovedMidScan) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the image to a loop device";
    // A blank disk big enough for its deep scan to outlast the test's steps
    // on a loaded machine (sparse: it takes no room; the deep scan reads
    // 4 GiB of it in well under half a minute now).
    test::TempDir scratch;
    chmod(scratch.path().c_str(), 0755);
    const std::string image = scratch / "blank.img";
    { std::ofstream make(image, std::ios::binary); }
    ASSERT_EQ(truncate(image.c_str(), 32LL << 30), 0);
    VELMORA_ATTACH_LOOP(loop, image);
    const std::string node = loop.name();

    WalkedProgram run;
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();
    ASSERT_NO_FATAL_FAILURE(ToDiskPage(walk, program, /*deep=*/true));
    std::string rows, row;
    ASSERT_TRUE(WaitUntil(
        [&] { return !(row = RowNamed(rows = walk.Ask("rows outlineView"), node)).empty(); },
        Millis(60000)))
        << "no row names " << node << ":\n"
        << rows;
    ASSERT_NO_FATAL_FAILURE(ScanRow(walk, program, row));
    ASSERT_TRUE(
        WaitUntil([&] { return program.Output().find("DoScan:43 started") != std::string::npos; },
                  Millis(30000)))
        << program.Output();

    test::WriteFile("/sys/block/" + node + "/uevent", std::string("remove"));
    ASSERT_TRUE(walk.WaitVisible("alertDefaultButton", Millis(60000)))
        << walk.Ask("windows") << "\n"
        << program.Output();
    const std::string said = walk.Ask("text alert");
    EXPECT_NE(said.find("detatched"), std::string::npos) << said;
    walk.Ask("shot alert " + ShotPath("scanned_disk_removed"));
    ASSERT_EQ(walk.Ask("click alertDefaultButton"), "ok");
    // Home: the main window again, the browser gone, the program running.
    EXPECT_TRUE(walk.WaitVisible("MainXib", Millis(60000))) << walk.Ask("windows");
    EXPECT_TRUE(walk.WaitGone("ExhibitionXib", Millis(60000))) << walk.Ask("windows");
    EXPECT_TRUE(program.Running()) << program.Output();
    // The device is back for whoever detaches it.
    test::WriteFile("/sys/block/" + node + "/uevent", std::string("add"));
    run.QuitCleanly();
}

// A disk whose partition table is gone: the deep scan of the whole disk
// finds its FAT32 volume again (its folders and deleted files) and carves
// the MP3 it holds; a deleted song of the rebuilt volume is recovered whole.
TEST(RecoveryWalkDeep, LostPartitionDiskRebuiltCarvedAndRecovered) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the fixture image to a loop device";
    const WalkVolume& disk = WalkVolumeOf("lostdisk");
    VELMORA_REQUIRE_FIXTURE(disk);
    const std::string before = Sha256Of(disk.image);
    VELMORA_ATTACH_LOOP(loop, disk.image);
    const std::string node = loop.name();

    WalkedProgram run;
    const test::TempDir& home = run.home();
    const std::string destination = home / "recovered";
    ASSERT_EQ(mkdir(destination.c_str(), 0755), 0);
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();
    ASSERT_NO_FATAL_FAILURE(ToDiskPage(walk, program, /*deep=*/true));
    // Without a table the disk holds one unknown volume named by its
    // device; the whole disk (its parent row) is scanned.
    std::string rows, row;
    ASSERT_TRUE(WaitUntil(
        [&] { return !(row = RowNamed(rows = walk.Ask("rows outlineView"), node)).empty(); },
        Millis(60000)))
        << rows;
    ASSERT_NE(row.find('/'), std::string::npos) << rows;
    ASSERT_NO_FATAL_FAILURE(ScanRow(walk, program, row.substr(0, row.find('/'))));

    // The rebuilt volume and the carved files each have a top in the tree,
    // once the scan is over (the file count no longer moves).
    ASSERT_TRUE(WaitUntil(
        [&] {
            rows = walk.Ask("rows pathOutlineView");
            return rows.find("(FAT/FAT32)") != std::string::npos &&
                   rows.find("RAW Files)") != std::string::npos &&
                   program.Output().find("DoScan:137") != std::string::npos;
        },
        Millis(120000)))
        << rows << "\n"
        << program.Output();
    // Five songs of the volume and the one carved from the disk.
    std::string types;
    EXPECT_TRUE(WaitUntil(
        [&] {
            return (types = walk.Ask("rows typeOutlineView")).find("Music(6)") != std::string::npos;
        },
        Millis(20000)))
        << types;
    EXPECT_EQ(walk.Ask("shot ExhibitionXib " + ShotPath("deep_lost_partition")).rfind("ok ", 0),
              0u);
    const std::string raw = RowMentioning(rows, "RAW Files)");
    ASSERT_EQ(walk.Ask("clickrow pathOutlineView " + raw), "ok");
    EXPECT_TRUE(
        WaitUntil([&] { return !RowNamed(rows = walk.Ask("rows tableView"), "Artists").empty(); },
                  Millis(20000)))
        << "no carved music: " << rows;

    ASSERT_NO_FATAL_FAILURE(RecoverOldTune(walk, program, destination, disk));

    run.QuitCleanly();
    EXPECT_EQ(Sha256Of(disk.image), before) << "the scanned image changed";
}

// A disk image and an edi image of a walk volume, added to the disk list
// through the main window's image panel: an image is always scanned deep,
// its volume found again, and a deleted song of it recovered whole.
struct ImageCase {
    const char* kind;  // "dmg" (the raw image as it is) or "edi" (wrapped)
};

void PrintTo(const ImageCase& c, std::ostream* out) {
    *out << c.kind;
}

class ImageWalk : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageWalk, ImageOpenedFromTheMainWindowIsScannedAndRecovered) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the fixture image to a loop device";
    const WalkVolume& volume = WalkVolumeOf("fat16");
    VELMORA_REQUIRE_FIXTURE(volume);
    // A disk beside the machine's own, as a user has who recovers from a
    // card: with one volume alone the wizard skips the disk page.
    VELMORA_ATTACH_LOOP(loop, volume.image);
    const std::string kind = GetParam().kind;
    test::TempDir scratch;
    chmod(scratch.path().c_str(), 0755);
    const std::string image = scratch / ("walk." + kind);
    if (kind == "edi") {
        Process wrap(
            {"python3", test::SourceDir() + "/tests/fixtures/e2e/make_edi.py", volume.image, image},
            {}, scratch / "make-edi");
        ASSERT_EQ(wrap.WaitExit(Millis(60000)), 0) << wrap.Output();
    } else {
        std::filesystem::copy_file(volume.image, image);
    }
    const std::string checksum = Sha256Of(image);

    WalkedProgram run;
    const std::string destination = run.home() / "recovered";
    ASSERT_EQ(mkdir(destination.c_str(), 0755), 0);
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();
    ASSERT_NO_FATAL_FAILURE(ToDiskPage(walk, program, /*deep=*/false));

    // The image panel: the path typed and taken with Return; the disk list
    // grows by the image.
    const std::string listed = walk.Ask("rows outlineView");
    ASSERT_EQ(walk.Ask("invoke MainXib doSowExportEdiWindow"), "ok");
    ASSERT_TRUE(walk.WaitVisible("fileNameEdit", Millis(20000))) << walk.Ask("windows");
    ASSERT_EQ(walk.Ask("type fileNameEdit " + image), "ok");
    ASSERT_EQ(walk.Ask("key fileNameEdit Return"), "ok");
    // The image joins the list under its own name (an edi image's is in
    // its record; a disk image is named by its file).
    const std::string name = kind == "edi" ? "WALKEDI" : "walk.dmg";
    std::string rows, row;
    ASSERT_TRUE(WaitUntil(
        [&] { return !(row = RowMentioning(rows = walk.Ask("rows outlineView"), name)).empty(); },
        Millis(60000)))
        << "the image did not join the list: " << walk.Ask("windows") << " "
        << walk.Ask("text fileNameEdit") << "\n"
        << listed << "\n"
        << rows << "\n"
        << program.Output();
    EXPECT_EQ(walk.Ask("shot MainXib " + ShotPath("image_" + kind + "_listed")).rfind("ok ", 0),
              0u);
    ASSERT_NO_FATAL_FAILURE(ScanRow(walk, program, row));
    ASSERT_TRUE(WaitUntil([&] { return program.Output().find("DoScan:137") != std::string::npos; },
                          Millis(300000)))
        << program.Output();
    ASSERT_TRUE(WaitUntil(
        [&] {
            return (rows = walk.Ask("rows pathOutlineView")).find("(FAT/") != std::string::npos;
        },
        Millis(60000)))
        << rows << "\n"
        << walk.Ask("shot ExhibitionXib " + ShotPath("image_" + kind + "_failed")) << "\n"
        << program.Output();
    EXPECT_EQ(
        walk.Ask("shot ExhibitionXib " + ShotPath("image_" + kind + "_scanned")).rfind("ok ", 0),
        0u);

    ASSERT_NO_FATAL_FAILURE(RecoverOldTune(walk, program, destination, volume));

    run.QuitCleanly();
    EXPECT_EQ(Sha256Of(image), checksum) << "the scanned image changed";
}

INSTANTIATE_TEST_SUITE_P(Kinds, ImageWalk, ::testing::Values(ImageCase{"dmg"}, ImageCase{"edi"}),
                         [](const ::testing::TestParamInfo<ImageCase>& info) {
                             return std::string(info.param.kind);
                         });

// The rest of a user's road through the results: a quick scan's results
// saved, home, the file loaded from the main window and a deleted song
// recovered from it whole; home again, a second quick scan, the deep scan
// started from the browser, and the program quit while that runs.
TEST(ResultsWalk, SaveHomeLoadRecoverThenDeepScanAndQuitDuringIt) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the fixture image to a loop device";
    const WalkVolume& volume = WalkVolumeOf("fat16");
    VELMORA_REQUIRE_FIXTURE(volume);
    const std::string before = Sha256Of(volume.image);
    VELMORA_ATTACH_LOOP(loop, volume.image);

    WalkedProgram run;
    const test::TempDir& home = run.home();
    const std::string destination = home / "recovered";
    const std::string saved = home / "walk.Velmora";
    ASSERT_EQ(mkdir(destination.c_str(), 0755), 0);
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();
    // How often the program's log says a scan started, or ended.
    auto logged = [&](const std::string& line) {
        int count = 0;
        const std::string out = program.Output();
        for (size_t at = 0; (at = out.find(line, at)) != std::string::npos; ++at)
            ++count;
        return count;
    };
    auto scansStarted = [&] { return logged("DoScan:43 started"); };
    auto scansEnded = [&] { return logged("DoScan:137"); };

    std::string top, rows;
    ASSERT_NO_FATAL_FAILURE(OpenBrowserOnVolume(walk, program, loop, &top));
    ASSERT_TRUE(WaitUntil([&] { return scansEnded() == 1; }, Millis(120000))) << program.Output();
    ASSERT_TRUE(WaitUntil(
        [&] { return !RowNamed(rows = walk.Ask("rows pathOutlineView"), "Music").empty(); },
        Millis(30000)))
        << rows;

    // Save: the panel, the file's path typed, the progress window.
    ASSERT_TRUE(walk.WaitVisible("exportButton", Millis(20000), /*enabled=*/true))
        << walk.Ask("find exportButton");
    ASSERT_EQ(walk.Ask("click exportButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("fileNameEdit", Millis(20000))) << walk.Ask("windows");
    EXPECT_EQ(walk.Ask("shot fileNameEdit " + ShotPath("save_panel")).rfind("ok ", 0), 0u);
    // The panel opens in the user's home: a name alone is saved there.
    ASSERT_EQ(walk.Ask("key fileNameEdit Ctrl+A"), "ok");
    ASSERT_EQ(walk.Ask("type fileNameEdit walk.Velmora"), "ok");
    ASSERT_EQ(walk.Ask("key fileNameEdit Return"), "ok");
    ASSERT_TRUE(WaitUntil(
        [&] {
            struct stat info {};
            return stat(saved.c_str(), &info) == 0 && info.st_size > 0 &&
                   walk.Ask("find ProgressXib").rfind("ok 1 ", 0) != 0;
        },
        Millis(60000)))
        << walk.Ask("windows") << " " << walk.Ask("text alert") << "\n"
        << program.Output();

    // Home: nothing left to save, so straight to the main window.
    ASSERT_EQ(walk.Ask("click backHomeButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("MainXib", Millis(30000)))
        << walk.Ask("windows") << " " << walk.Ask("text alert");
    ASSERT_TRUE(walk.WaitGone("ExhibitionXib", Millis(30000))) << walk.Ask("windows");

    // Load: the import panel, the progress window, the browser on the
    // loaded result; a deleted song of it recovered byte for byte.
    ASSERT_TRUE(walk.WaitVisible("importButton", Millis(30000))) << walk.Ask("windows");
    ASSERT_EQ(walk.Ask("click importButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("fileNameEdit", Millis(20000))) << walk.Ask("windows");
    ASSERT_EQ(walk.Ask("type fileNameEdit " + saved), "ok");
    ASSERT_EQ(walk.Ask("key fileNameEdit Return"), "ok");
    ASSERT_TRUE(walk.WaitVisible("ExhibitionXib", Millis(60000)))
        << walk.Ask("windows") << " " << walk.Ask("text alert") << "\n"
        << program.Output();
    EXPECT_EQ(walk.Ask("shot ExhibitionXib " + ShotPath("loaded_result")).rfind("ok ", 0), 0u);
    ASSERT_NO_FATAL_FAILURE(RecoverOldTune(walk, program, destination, volume));

    // Home again, a second quick scan, and from its browser the deep scan.
    ASSERT_EQ(walk.Ask("click backHomeButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("MainXib", Millis(30000)))
        << walk.Ask("windows") << " " << walk.Ask("text alert");
    // (A load replays the file through the scan's road, which logs as a scan.)
    const int started = scansStarted();
    const int ended = scansEnded();
    ASSERT_NO_FATAL_FAILURE(OpenBrowserOnVolume(walk, program, loop, &top));
    ASSERT_TRUE(WaitUntil([&] { return scansEnded() == ended + 1; }, Millis(120000)))
        << program.Output();
    ASSERT_TRUE(WaitUntil(
        [&] { return !RowNamed(rows = walk.Ask("rows pathOutlineView"), "Music").empty(); },
        Millis(30000)))
        << rows << "\n"
        << program.Output();
    ASSERT_TRUE(walk.WaitVisible("advButton", Millis(20000), /*enabled=*/true))
        << walk.Ask("find advButton");
    ASSERT_EQ(walk.Ask("click advButton"), "ok");
    ASSERT_TRUE(WaitUntil([&] { return scansStarted() == started + 2; }, Millis(30000)))
        << walk.Ask("windows") << " " << walk.Ask("state") << "\n"
        << program.Output();
    EXPECT_EQ(walk.Ask("shot ExhibitionXib " + ShotPath("deep_from_browser")).rfind("ok ", 0), 0u);

    // Quit while the deep scan runs: the program asks, stops the scan and
    // ends cleanly.
    run.QuitCleanly();
    EXPECT_EQ(Sha256Of(volume.image), before) << "the scanned image changed";
}

// The object name of the widget with the keyboard focus.
std::string FocusName(Walk& walk) {
    const std::string state = walk.Ask("state");
    const size_t at = state.find("focus=");
    return at == std::string::npos ? std::string() : state.substr(at + 6);
}

// The focus names met pressing Tab `count` times from where the focus is.
std::vector<std::string> TabWalk(Walk& walk, int count) {
    std::vector<std::string> met;
    for (int i = 0; i < count; ++i) {
        walk.Ask("key @focus Tab");
        std::string name;
        WaitUntil([&] { return !(name = FocusName(walk)).empty(); }, Millis(5000));
        met.push_back(name);
    }
    return met;
}

// Presses Tab until `name` has the focus; false after a whole round.
bool TabTo(Walk& walk, const std::string& name) {
    for (int i = 0; i < 20 && FocusName(walk) != name; ++i)
        walk.Ask("key @focus Tab");
    return FocusName(walk) == name;
}

// The wizard and the browser without a mouse: Tab runs through each page's
// controls in order and never sticks, Return takes the focused default
// button, the arrows choose the disk, Escape closes a panel.
TEST(KeyboardWalk, WizardAndBrowserWithoutAMouse) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the fixture image to a loop device";
    const WalkVolume& volume = WalkVolumeOf("fat16");
    VELMORA_REQUIRE_FIXTURE(volume);
    // A copy of its own under a name nobody else attaches: the disk page
    // names a disk image by its file, so the row is this walk's even while
    // another run on the machine has the same fixture attached.
    const test::TempDir copies;
    const std::string imageName = "keyboard-walk-" + std::to_string(::getpid()) + ".img";
    const std::string image = copies / imageName;
    std::error_code copyError;
    ASSERT_TRUE(std::filesystem::copy_file(volume.image, image, copyError)) << copyError.message();
    VELMORA_ATTACH_LOOP(loop, image);
    WalkedProgram run;
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();

    // The mode page starts on its default, the next button, and Tab goes
    // round the window's controls and the page's modes.
    ASSERT_TRUE(walk.WaitVisible("TypeXib", Millis(60000))) << program.Output();
    std::string focus;
    ASSERT_TRUE(WaitUntil([&] { return (focus = FocusName(walk)) == "nextButton"; }, Millis(20000)))
        << focus;
    const std::vector<std::string> round = TabWalk(walk, 9);
    EXPECT_EQ(round, (std::vector<std::string>{"backHomeButton", "aboutButton", "importButton",
                                               "menuButton", "deleteButton", "formatButton",
                                               "completeButton", "alltypesButton", "nextButton"}))
        << ::testing::PrintToString(round);
    ASSERT_EQ(walk.Ask("key @focus Return"), "ok");
    ASSERT_TRUE(walk.WaitVisible("ListDiskXib", Millis(60000))) << program.Output();

    // The import panel opened from the keyboard closes with Escape.
    ASSERT_TRUE(TabTo(walk, "importButton")) << FocusName(walk);
    ASSERT_EQ(walk.Ask("key @focus Return"), "ok");
    ASSERT_TRUE(walk.WaitVisible("QFileDialog", Millis(20000))) << walk.Ask("windows");
    // The panel shows before the X server hands it the keyboard (on a busy
    // machine noticeably so): a key pressed earlier goes to the main window,
    // which the panel blocks. A person waits for the panel's caret; so does
    // the walk.
    ASSERT_TRUE(WaitUntil(
        [&] {
            focus = walk.Ask("find @focus");
            return focus.size() > 12 && focus.compare(focus.size() - 12, 12, " QFileDialog") == 0;
        },
        Millis(20000)))
        << focus << " " << walk.Ask("state");
    ASSERT_EQ(walk.Ask("key @focus Escape"), "ok");
    ASSERT_TRUE(walk.WaitGone("QFileDialog", Millis(20000))) << walk.Ask("windows");
    ASSERT_TRUE(walk.WaitVisible("ListDiskXib", Millis(5000)));
    // The main window takes the keyboard back itself (no window manager
    // runs here to give it back).
    ASSERT_TRUE(WaitUntil(
        [&] {
            focus = walk.Ask("find @focus");
            return focus.size() > 8 && focus.compare(focus.size() - 8, 8, " MainXib") == 0;
        },
        Millis(20000)))
        << focus << " " << walk.Ask("state");

    // The arrows choose the row: Up goes to the first, each Down the next.
    std::string rows, row;
    ASSERT_TRUE(WaitUntil(
        [&] {
            rows = walk.Ask("rows outlineView");
            // The copy's disk row, and its volume under it.
            row.clear();
            const std::string disk = RowNamed(rows, imageName);
            for (const auto& [path, columns] : SplitRows(rows)) {
                if (!disk.empty() && path == disk + "/0" && !columns.empty() &&
                    columns.front() == kLabel)
                    row = path;
            }
            return !row.empty();
        },
        Millis(60000)))
        << "no " << kLabel << " row under " << imageName << ":\n"
        << rows;
    int index = -1;
    {
        const std::string list = rows.substr(3);
        int n = 0;
        for (size_t at = 0; at != std::string::npos; ++n) {
            if (list.compare(at, row.size() + 1, row + "=") == 0) {
                index = n;
                break;
            }
            at = list.find(" ;; ", at);
            if (at != std::string::npos)
                at += 4;
        }
    }
    ASSERT_GE(index, 0) << rows;
    // Up as often as there are rows reaches the first wherever the choice was.
    for (size_t at = 0; (at = rows.find(" ;; ", at)) != std::string::npos; at += 4)
        walk.Ask("key ListDiskXib Up");
    walk.Ask("key ListDiskXib Up");
    for (int i = 0; i < index; ++i)
        walk.Ask("key ListDiskXib Down");
    EXPECT_EQ(walk.Ask("shot MainXib " + ShotPath("keyboard_disk_chosen")).rfind("ok ", 0), 0u);
    ASSERT_TRUE(TabTo(walk, "continueButton")) << FocusName(walk);
    ASSERT_EQ(walk.Ask("key @focus Return"), "ok");
    ASSERT_TRUE(walk.WaitVisible("ExhibitionXib", Millis(60000))) << walk.Ask("windows") << "\n"
                                                                  << program.Output();
    ASSERT_TRUE(WaitUntil(
        [&] { return !RowNamed(rows = walk.Ask("rows pathOutlineView"), "Music").empty(); },
        Millis(60000)))
        << rows << "\n"
        << program.Output();
    EXPECT_NE(rows.find(kLabel), std::string::npos) << "another row was scanned: " << rows;

    // The browser: Tab goes round the tabs, the tree, the search field, the
    // view switch and the list, and out of the list again.
    ASSERT_TRUE(TabTo(walk, "tableView")) << FocusName(walk);
    const std::vector<std::string> browserRound = TabWalk(walk, 7);
    EXPECT_EQ(browserRound,
              (std::vector<std::string>{"pathButton", "typeButton", "timeButton", "pathOutlineView",
                                        "search", "segmentList", "tableView"}))
        << ::testing::PrintToString(browserRound);
    // The tree is walked with the arrows; the list follows the folder (the
    // volume's first, Docs).
    ASSERT_TRUE(TabTo(walk, "pathOutlineView")) << FocusName(walk);
    walk.Ask("key @focus Down");
    EXPECT_TRUE(WaitUntil(
        [&] {
            rows = walk.Ask("rows tableView");
            return !RowNamed(rows, "gone note.txt").empty();
        },
        Millis(20000)))
        << rows;
    EXPECT_EQ(walk.Ask("shot ExhibitionXib " + ShotPath("keyboard_browser")).rfind("ok ", 0), 0u);

    run.QuitCleanly();
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, RecoveryWalk,
    ::testing::Values(WalkCase{"fat16", "walk_fat16", kLabel, false, kWalkTicks},
                      WalkCase{"fat32", "walk_fat32", kLabel, false, kWalkTicks},
                      WalkCase{"exfat", "walk_exfat", kLabel, false, kWalkTicks},
                      WalkCase{"ntfs", "walk_ntfs", kLabel, false, kWalkTicks},
                      // HFS+ keeps its deleted files' records in the journal.
                      WalkCase{"hfsplus", "walk_hfsplus", kLabel, false, kWalkTicks},
                      // APFS is read by the deep scan; its deleted files lie in
                      // the root and in docs.
                      WalkCase{"apfs",
                               "walk_apfs",
                               "FIXAPFS",
                               true,
                               {{"FIXAPFS", "gone.mp3", "/gone.mp3"},
                                {"docs", "lost clip.mov", "/docs/lost clip.mov"}}}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.fs); });

}  // namespace
}  // namespace velmora::e2e
