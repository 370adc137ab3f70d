// A volume with documents, photos, songs and films (the fixture script
// tests/fixtures/e2e/make_media_volume.py) walked in the real program on an
// X server of the test's own: the wizard's scan brings back every category
// ticked on its first page; cover flow over songs shows their type's icon
// rather than waiting for a picture for ever; a deep scan shows its
// progress and count before its end. Needs root (loop devices).
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>
#include <string>
#include <vector>

#include "RealProgram.h"
#include "support/TestSupport.h"

namespace velmora::e2e {
namespace {

constexpr const char* kMediaLabel = "MEDIAVOL";

struct MediaVolume {
    std::string image;
    // Deleted files by folder: what a quick scan lists.
    std::map<std::string, std::vector<std::string>> deleted;
    std::string error;
    bool toolMissing = false;
};

// Made once per test program.
const MediaVolume& MediaVolumeOnce() {
    static test::TempDir scratch;
    static MediaVolume made;
    static bool done = false;
    if (done)
        return made;
    done = true;
    made.image = scratch / "media.img";
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    Process make(
        {"python3", test::SourceDir() + "/tests/fixtures/e2e/make_media_volume.py", made.image},
        {{"PATH", path}, {"LC_ALL", "C.UTF-8"}, {"TZ", "UTC"}}, scratch / "make");
    const std::optional<int> status = make.WaitExit(Millis(180000));
    if (status != 0) {
        made.error = "making the media volume failed: " + make.Output();
        made.toolMissing = status == 77;
        return made;
    }
    QFile file(QString::fromStdString(scratch / "media.json"));
    if (!file.open(QIODevice::ReadOnly)) {
        made.error = "no manifest beside " + made.image;
        return made;
    }
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    for (const QJsonValue volume : root.value(QStringLiteral("volumes")).toArray()) {
        for (const QJsonValue entry : volume.toObject().value(QStringLiteral("files")).toArray()) {
            const QJsonObject f = entry.toObject();
            if (f.value(QStringLiteral("type")).toString() != QStringLiteral("file") ||
                f.value(QStringLiteral("state")).toString() != QStringLiteral("deleted"))
                continue;
            const std::string full = f.value(QStringLiteral("path")).toString().toStdString();
            const size_t slash = full.rfind('/');
            made.deleted[full.substr(1, slash - 1)].push_back(full.substr(slash + 1));
        }
    }
    if (made.deleted.size() < 4)
        made.error = "the manifest names fewer than four folders of deleted files";
    return made;
}

// The wizard with its first page as it opens (every category ticked), the
// `deep` mode or the first, on to the results browser over the volume.
void ScanFromTheWizard(Walk& walk, Process& program, const LoopDevice& loop, bool deep) {
    ASSERT_TRUE(walk.WaitVisible("TypeXib", Millis(60000))) << program.Output();
    if (deep)
        ASSERT_EQ(walk.Ask("click completeButton"), "ok");
    ASSERT_EQ(walk.Ask("click backHomeButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("ListDiskXib", Millis(60000))) << program.Output();
    std::string rows, row;
    ASSERT_TRUE(WaitUntil(
        [&] {
            rows = walk.Ask("rows outlineView");
            row = RowNamed(rows, loop.name());
            if (row.empty())
                row = RowNamed(rows, kMediaLabel);
            return !row.empty();
        },
        Millis(60000)))
        << rows;
    ASSERT_EQ(walk.Ask("clickrow outlineView " + row), "ok");
    ASSERT_TRUE(walk.WaitVisible("continueButton", Millis(20000)));
    ASSERT_EQ(walk.Ask("click continueButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("ExhibitionXib", Millis(60000))) << program.Output();
}

// Chooses the path tree's `folder` once the scan has ended; the list's rows.
std::string ListOf(Walk& walk, Process& program, const std::string& folder) {
    EXPECT_TRUE(walk.WaitVisible("selectFilesLabel", Millis(120000))) << program.Output();
    std::string rows, row;
    EXPECT_TRUE(WaitUntil(
        [&] {
            row = RowNamed(rows = walk.Ask("rows pathOutlineView"), folder);
            return !row.empty();
        },
        Millis(60000)))
        << "no " << folder << " in the path tree: " << rows;
    if (row.empty())
        return {};
    EXPECT_EQ(walk.Ask("clickrow pathOutlineView " + row), "ok");
    std::string list;
    WaitUntil([&] { return (list = walk.Ask("rows tableView")).find('=') != std::string::npos; },
              Millis(20000));
    return list;
}

TEST(MediaWalk, QuickScanListsEveryCategoryAndCoverFlowShowsSongIcons) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the fixture image to a loop device";
    const MediaVolume& volume = MediaVolumeOnce();
    VELMORA_REQUIRE_FIXTURE(volume);
    const std::string before = Sha256Of(volume.image);
    VELMORA_ATTACH_LOOP(loop, volume.image);
    WalkedProgram run;
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();
    ScanFromTheWizard(walk, program, loop, false);
    ASSERT_FALSE(HasFatalFailure());

    // Documents, photos, songs and films: each folder lists its deleted files.
    for (const auto& [folder, names] : volume.deleted) {
        SCOPED_TRACE(folder);
        const std::string list = ListOf(walk, program, folder);
        for (const std::string& name : names)
            EXPECT_FALSE(RowNamed(list, name).empty()) << name << " missing from " << list;
    }
    const std::string types = walk.Ask("rows typeOutlineView");
    for (const char* category : {"Documents", "Pictures", "Music", "Movies"})
        EXPECT_NE(types.find(category), std::string::npos) << category << " in " << types;

    // Cover flow over the songs: no tile waits for a picture for ever.
    ListOf(walk, program, "Music");
    ASSERT_EQ(walk.Ask("click segmentCoverFlow"), "ok");
    ASSERT_TRUE(walk.WaitVisible("flowView", Millis(20000))) << walk.Ask("windows");
    std::string waiting;
    EXPECT_TRUE(
        WaitUntil([&] { return (waiting = walk.Ask("prop flowView placeholderCount")) == "ok 0"; },
                  Millis(30000)))
        << waiting;
    EXPECT_EQ(walk.Ask("shot ExhibitionXib " + ShotPath("media_coverflow_songs")).rfind("ok ", 0),
              0u);

    run.QuitCleanly();
    EXPECT_EQ(Sha256Of(volume.image), before) << "the scanned image changed";
}

TEST(MediaWalk, DeepScanShowsItsProgressAndCountBeforeTheEnd) {
    if (!test::IsRoot())
        GTEST_SKIP() << "needs root to attach the fixture image to a loop device";
    const MediaVolume& volume = MediaVolumeOnce();
    VELMORA_REQUIRE_FIXTURE(volume);
    VELMORA_ATTACH_LOOP(loop, volume.image);
    WalkedProgram run;
    VELMORA_START_WALK(run);
    Walk& walk = run.walk();
    Process& program = run.program();
    ScanFromTheWizard(walk, program, loop, true);
    ASSERT_FALSE(HasFatalFailure());

    // While the scan runs, the found-files label leaves its waiting text
    // for a count: seen before the scan's end shows the files' total.
    std::string found;
    bool counted = false;
    bool ended = false;
    WaitUntil(
        [&] {
            ended = walk.Ask("find selectFilesLabel").rfind("ok 1 ", 0) == 0;
            found = walk.Ask("text findFilesLabel");
            if (!ended && found.find("Files found") != std::string::npos && !counted) {
                counted = true;
                walk.Ask("shot ExhibitionXib " + ShotPath("media_deep_scan_progress"));
            }
            return counted || ended;
        },
        Millis(300000));
    EXPECT_TRUE(counted) << "the scan ended before any count showed; last: " << found << "\n"
                         << program.Output();
    EXPECT_TRUE(walk.WaitVisible("selectFilesLabel", Millis(300000))) << program.Output();
    run.QuitCleanly();
}

}  // namespace
}  // namespace velmora::e2e
