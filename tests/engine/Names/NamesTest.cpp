// Neither a name nor one damaged entry costs a file. Copies of the committed
// exFAT and NTFS fixtures are renamed or have directory entries zeroed, and
// volumes of hostile names are made, by the scripts of tests/fixtures/names
// (checksums and index entries kept consistent, so Sleuth Kit still lists
// every file); each is scanned and recovered through the scan driver: the
// whole way through the controllers, the searchers, the tree builder and the
// recovery. check_names.py wants every file of the manifest and of Sleuth
// Kit's listing back with its bytes, at its name as recovery cleans it, and
// nothing else.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using velmora::test::RunProgram;
using velmora::test::SourceDir;
using velmora::test::TempDir;

bool HaveTool(const std::string& name) {
    for (const char* dir : {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/"})
        if (access((dir + name).c_str(), X_OK) == 0)
            return true;
    return false;
}

// Unpacks tests/fixtures/<fixture>/committed/<fixture>.img.gz and its
// manifest into `dir`.
bool Unpack(const std::string& fixture, const std::string& dir) {
    const std::string source = SourceDir() + "/tests/fixtures/" + fixture + "/committed/" + fixture;
    return RunProgram({"python3", "-c",
                       "import gzip, shutil, sys\n"
                       "with gzip.open(sys.argv[1]) as i, open(sys.argv[2], 'wb') as o:\n"
                       "    shutil.copyfileobj(i, o)\n"
                       "shutil.copyfile(sys.argv[3], sys.argv[4])\n",
                       source + ".img.gz", dir + "/source.img", source + ".json",
                       dir + "/source.json"});
}

struct RenameCase {
    const char* what;
    const char* fixture;
    int fsType;
    std::vector<std::string> renames;  // path, new name (Python escapes), ...
    const char* namespaceByte = nullptr;
};

class NamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELMORA_REQUIRE_TOOL(HaveTool("python3"), "python3");
        VELMORA_REQUIRE_TOOL(HaveTool("fls") && HaveTool("icat"), "Sleuth Kit");
    }

    // Makes named.img from the committed image of `fixture` with
    // tests/fixtures/names/<script> (its arguments after the source and the
    // output), scans and recovers it with the scan driver's `scan`
    // arguments; the checker's report, "" when it passed.
    std::string Check(const std::string& fixture, const std::string& script,
                      const std::vector<std::string>& options, const std::vector<std::string>& args,
                      const std::vector<std::string>& scan) {
        return Check(fixture, scan, [&](const TempDir& dir) {
            std::vector<std::string> make = {"python3",
                                             SourceDir() + "/tests/fixtures/names/" + script};
            make.insert(make.end(), options.begin(), options.end());
            make.insert(make.end(), {dir / "source.img", dir / "source.json", dir / "named.img"});
            make.insert(make.end(), args.begin(), args.end());
            return make;
        });
    }

    // The same with the command that makes named.img given by `command`;
    // `fixture` may be "" (nothing unpacked).
    std::string Check(const std::string& fixture, const std::vector<std::string>& scan,
                      const std::function<std::vector<std::string>(const TempDir&)>& command) {
        TempDir dir;
        if (!fixture.empty() && !Unpack(fixture, dir.path()))
            return "the committed image could not be unpacked";
        const std::vector<std::string> make = command(dir);
        std::string out;
        if (!RunProgram(make, &out))
            return make[1] + " failed: " + out;

        // The destination is a folder of its own inside `dir`: whatever
        // recovery writes must stay inside it.
        const std::string destination = dir / "out";
        fs::create_directories(destination);
        std::vector<std::string> driver = {VELMORA_SCAN_DRIVER};
        driver.insert(driver.end(), scan.begin(), scan.end());
        driver.insert(driver.end(), {"--rounds", "1", "--recover", destination, dir / "named.img"});
        std::string log;
        RunProgram(driver, &log);
        const std::string mark = "recovered tree: ";
        const size_t at = log.find(mark);
        if (at == std::string::npos || log.find(" 0 failed") == std::string::npos)
            return "the scan driver recovered nothing or failed:\n" + log;
        const std::string tree =
            log.substr(at + mark.size(), log.find('\n', at) - at - mark.size());
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename() != "source.img" && e.path().filename() != "source.json")
                left.push_back(e.path().filename());
        std::sort(left.begin(), left.end());
        if (left != std::vector<std::string>{"named.img", "named.json", "out"})
            return "recovery wrote outside its destination";

        std::string report;
        if (!RunProgram({"python3", SourceDir() + "/tests/engine/Names/check_names.py",
                         dir / "named.img", dir / "named.json", tree},
                        &report))
            return report;
        return {};
    }

    std::string Check(const RenameCase& c) {
        std::vector<std::string> options;
        if (c.namespaceByte)
            options = {"--namespace", c.namespaceByte};
        return Check(c.fixture, "rename.py", options, c.renames,
                     {"--quick", "--fs-type", std::to_string(c.fsType), "--sector-size", "512"});
    }
};

// The names an intact file may carry although its file system forbids them,
// or that the tree used to drop: each costs no file, and no other file.
TEST_F(NamesTest, OddNamesCostNoFile) {
    const RenameCase cases[] = {
        // One "/" in a name used to end the walk of the whole root folder.
        {"exFAT: a slash in a root file's name", "exfat", 7, {"/short.txt", "sho/t.txt"}},
        {"exFAT: forbidden characters and a control character",
         "exfat",
         7,
         {"/fragB.bin", "fr:g*B?.bin", "/Docs/report.pdf", "re\\x01port<>|.pdf"}},
        // Hidden on Unix, never lost; "..Docs" and "Docs" stay two folders.
        {"exFAT: names with leading dots",
         "exfat",
         7,
         {"/fragA.bin", ".DS_Store", "/Pics", "..Docs", "/Docs/Sub", ".Sub", "/Gone/Inner",
          "...."}},
        {"NTFS: a slash in a POSIX name", "ntfs", 3, {"/short.txt", "sho/t.txt"}},
        {"NTFS: Windows-forbidden characters in a Win32 name",
         "ntfs",
         3,
         {"/Docs/report.pdf", "rep?r*.pdf", "/frag1.bin", "fr\\\\g|.bin"},
         "1"},
        {"NTFS: names with leading dots",
         "ntfs",
         3,
         {"/short.txt", ".DS_Store", "/Pics", ".Pic", "/Docs", "..Do"}},
    };
    for (const RenameCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Check(c), "");
    }
}

// Zeroed entries in the middle of a folder: only the sets they hit are
// lost. The walk goes on past them, and the deep scan keeps the sets after
// them in the volume its intact boot sector describes, under their folder,
// instead of reading them with a guessed geometry.
TEST_F(NamesTest, ZeroedEntriesCostOnlyTheirOwnSets) {
    const struct {
        const char* what;
        std::vector<std::string> damage;  // folder, offset in its first cluster, length
    } cases[] = {
        {"the head of a folder's first sector", {"/Many", "0", "64"}},
        {"two whole sets in the middle of a sector", {"/Many", "1280", "256"}},
        {"the head of a set that begins a later sector", {"/Many", "3072", "64"}},
        {"the first set of a deleted folder", {"/Gone", "0", "96"}},
        // The file keeps the name its first name entry gives, as Sleuth Kit
        // lists it.
        {"a set's second name entry", {"/Docs", "288", "32"}},
    };
    const std::vector<std::string> scans[] = {
        {"--quick", "--fs-type", "7", "--sector-size", "512"},
        {"--deep", "--only", "33"},
    };
    for (const auto& c : cases) {
        for (const auto& scan : scans) {
            SCOPED_TRACE(std::string(c.what) + " " + scan[0]);
            EXPECT_EQ(Check("exfat", "zero_entries.py", {}, c.damage, scan), "");
        }
    }
}

// Volumes full of hostile names (tests/fixtures/names/make_hostile.py):
// control characters, "../" climbs, backslashes, leading dots, forbidden
// characters, names differing only in case, an emoji, 255 characters. Count
// in equals count out, each file with its bytes, nothing outside the
// destination.
TEST_F(NamesTest, HostileNamesCountInEqualsCountOut) {
    const struct {
        const char* kind;
        const char* fixture;  // committed image renamed, or "" for a new volume
        int fsType;
    } cases[] = {
        {"fat", "", 1},
        {"exfat", "exfat", 7},
        {"ntfs", "ntfs", 3},
        {"hfsplus", "", 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        if (std::string(c.kind) == "fat" &&
            !VELMORA_HAVE_TOOL(HaveTool("mkfs.fat") && HaveTool("mcopy"), "mkfs.fat or mtools"))
            continue;
        const std::string report = Check(
            c.fixture, {"--quick", "--fs-type", std::to_string(c.fsType), "--sector-size", "512"},
            [&](const TempDir& dir) {
                std::vector<std::string> make = {
                    "python3", SourceDir() + "/tests/fixtures/names/make_hostile.py", c.kind,
                    dir / "named.img"};
                if (*c.fixture)
                    make.insert(make.end(), {dir / "source.img", dir / "source.json"});
                return make;
            });
        EXPECT_EQ(report, "");
    }
}

// Short entries whose 11 name bytes hold "/", "\\", ":" or "*", or begin
// with "..": as a foreign driver or a damaged volume leaves them. The entry
// is otherwise sound, so its file comes back under the cleaned name, by the
// quick scan's walk and by the deep scan's rebuilding of the volume alike.
TEST_F(NamesTest, FatShortNamesWithForbiddenCharactersKeepTheirFiles) {
    if (!VELMORA_HAVE_TOOL(HaveTool("mkfs.fat") && HaveTool("mcopy"), "mkfs.fat or mtools"))
        return;
    const std::vector<std::string> scans[] = {
        {"--quick", "--fs-type", "1", "--sector-size", "512"},
        {"--deep", "--only", "32"},
    };
    for (const auto& scan : scans) {
        SCOPED_TRACE(scan[0]);
        EXPECT_EQ(Check("", scan,
                        [](const TempDir& dir) {
                            return std::vector<std::string>{
                                "python3", SourceDir() + "/tests/fixtures/names/make_hostile.py",
                                "fat-short", dir / "named.img"};
                        }),
                  "");
    }
}

}  // namespace
