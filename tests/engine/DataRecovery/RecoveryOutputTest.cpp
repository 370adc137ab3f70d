// Where recovered files land, how their names are cleaned, their dates and
// their owner.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "RecoveryOutput.h"
#include "RecoveryTestSupport.h"
#include "support/TestSupport.h"

using namespace rectest;
using namespace velmora::recovery;
using velmora::test::TempDir;

namespace {

long long Ticks(long long unixSeconds) {
    return (unixSeconds + 11644473600LL) * 10000000LL;
}

time_t MTime(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

// A tree: root (a volume) / folders... / file.
struct Tree {
    explicit Tree(const std::string& volume, const std::vector<std::string>& folders,
                  const std::string& file)
        : root("root", volume.c_str(), SEARCHER_FAT, 0) {
        CFileNode* parent = &root;
        long long id = 10;
        for (const auto& name : folders) {
            dirs.push_back(std::make_unique<RecNode>(name, 0, std::vector<DataRun>{}, true));
            parent->AddChild(dirs.back().get());
            dirs.back()->created = Ticks(1000000000 + id);
            parent = dirs.back().get();
            ++id;
        }
        leaf = std::make_unique<RecNode>(file, 10, std::vector<DataRun>{});
        parent->AddChild(leaf.get());
    }
    ~Tree() {
        // Unlink before the nodes go, children first.
        leaf->GetParent()->RemoveChild(leaf.get());
        for (auto it = dirs.rbegin(); it != dirs.rend(); ++it)
            (*it)->GetParent()->RemoveChild(it->get());
    }
    CFilesystemNode root;
    std::vector<std::unique_ptr<RecNode>> dirs;
    std::unique_ptr<RecNode> leaf;
};

// Sets (or with null, removes) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (had_) {
            ::setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

private:
    std::string name_, old_;
    bool had_ = false;
};

// `n` times "é" (two bytes each).
std::string eAcute(size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += "\xc3\xa9";
    return out;
}

}  // namespace

TEST(RecoveryOutput, CleansNamesFromDisk) {
    const std::string longName(300, 'a');
    const std::string cut = std::string(254, 'b') + "\xc3\xa9";
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"report.pdf", "report.pdf"},
        {"", "_"},
        {".", "_"},
        {"..", "_"},
        {"../../etc/passwd", ".._.._etc_passwd"},
        {"a/b", "a_b"},
        {std::string("nul\0x", 5), "nul_x"},
        {"tab\there\n", "tab_here_"},
        {"del\x7f", "del_"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
        {"bad\xff\xfe", "bad__"},
        {"cut\xe2\x82", "cut__"},
        {longName, std::string(255, 'a')},
        {cut, std::string(254, 'b')},
        // Cut to 255 bytes: the stem on a character boundary, the extension
        // kept.
        {longName + ".jpeg", std::string(250, 'a') + ".jpeg"},
        {eAcute(200) + ".txt", eAcute(125) + ".txt"},
        // A long "extension" is part of the name.
        {"x." + longName, "x." + std::string(253, 'a')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CleanPathComponent(c.in), c.out) << c.in;
}

// Two files of one name at the length limit: the second still gets its
// number and its extension, within 255 bytes.
TEST(RecoveryOutput, NumberedNamesStayWithinTheLimit) {
    TempDir dest;
    for (const std::string& name : {std::string(251, 'a') + ".txt", eAcute(125) + ".txt"}) {
        SCOPED_TRACE(name.size());
        Tree tree("Vol", {"Same"}, name);
        RecoveryPathBuilder paths(dest.path(), "Recovered Data2024-01-02");
        const std::string first = paths.PathFor(tree.leaf.get());
        velmora::test::WriteFile(first, std::string("1"));
        const std::string second = paths.PathFor(tree.leaf.get());
        ASSERT_NE(second, "");
        const std::string leaf = second.substr(second.rfind('/') + 1);
        EXPECT_LE(leaf.size(), 255u);
        EXPECT_EQ(leaf.substr(leaf.size() - 9), "_0001.txt");
        velmora::test::WriteFile(second, std::string("2"));
        EXPECT_EQ(velmora::test::ReadText(second), "2");
        EXPECT_EQ(velmora::test::ReadText(first), "1");
    }
}

TEST(RecoveryOutput, PathsStayInsideNumberedFolders) {
    TempDir dest;
    Tree tree("Vol/../x", {"..", "Docs"}, "../../etc/passwd.txt");
    RecoveryPathBuilder paths(dest.path(), "Recovered Data2024-01-02");
    const std::string path = paths.PathFor(tree.leaf.get());
    const std::string root = dest / "Fat_Recovered Data2024-01-02_0001";
    EXPECT_EQ(path, root + "/Vol_.._x/_/Docs/.._.._etc_passwd.txt");
    EXPECT_EQ(paths.RootFor(SEARCHER_FAT), root);
    EXPECT_TRUE(std::filesystem::is_directory(root + "/Vol_.._x/_/Docs"));

    // A name that exists gets the first free number before its extension.
    velmora::test::WriteFile(path, std::string("x"));
    EXPECT_EQ(paths.PathFor(tree.leaf.get()), root + "/Vol_.._x/_/Docs/.._.._etc_passwd_0001.txt");
    // A folder node makes its folder and has no path.
    EXPECT_EQ(paths.PathFor(tree.dirs[1].get()), "");
    // The next recovery takes the next number.
    RecoveryPathBuilder again(dest.path(), "Recovered Data2024-01-02");
    EXPECT_EQ(again.PathFor(tree.leaf.get()).rfind(dest / "Fat_Recovered Data2024-01-02_0002/", 0),
              0u);
    // A node of no searcher has no place.
    RecNode loose("loose", 1, {});
    EXPECT_EQ(paths.PathFor(&loose), "");
}

TEST(RecoveryOutput, FolderDatesFollowTheParentsButStopAtTheDestination) {
    TempDir dest;
    Tree tree("Vol", {"A", "B"}, "f.txt");
    const std::string folderA = dest / "Out/Vol/A", folderB = folderA + "/B";
    std::filesystem::create_directories(folderB);
    const time_t destTime = MTime(dest.path()), outTime = MTime(dest / "Out");
    const std::string file = folderB + "/f.txt";
    velmora::test::WriteFile(file, std::string("x"));

    DateParentFolders(file.c_str(), tree.leaf.get());
    EXPECT_EQ(MTime(folderB), 1000000000 + 11);
    EXPECT_EQ(MTime(folderA), 1000000000 + 10);
    EXPECT_EQ(MTime(dest / "Out"), outTime);
    EXPECT_EQ(MTime(dest.path()), destTime);

    // A node deeper than its path: folders whose names do not match the
    // parents keep their dates.
    Tree deep("Vol", {"x", "y", "z", "B"}, "g.txt");
    const std::string shallow = dest / "g.txt";
    velmora::test::WriteFile(shallow, std::string("x"));
    DateParentFolders(shallow.c_str(), deep.leaf.get());
    EXPECT_EQ(MTime(dest.path()), destTime);
}

TEST(RecoveryOutput, FilesAndFoldersGoToTheInvokingUser) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to change owners";
    TempDir dest;
    ::chmod(dest.path().c_str(), 0755);
    // The user's own folder: everything below it is made as that user.
    ASSERT_EQ(::chown(dest.path().c_str(), 4321, 4322), 0);
    ScopedEnv pkexec("PKEXEC_UID", nullptr), uid("SUDO_UID", "4321"), gid("SUDO_GID", "4322");
    Tree tree("Vol", {"A"}, "f.txt");
    RecoveryPathBuilder paths(dest.path(), "D");
    const std::string path = paths.PathFor(tree.leaf.get());
    ASSERT_FALSE(path.empty());
    const int fd = OpenRecoveredFile(path.c_str());
    ASSERT_GE(fd, 0);
    ::close(fd);
    GiveToInvokingUser(path.c_str());
    GiveToInvokingUser("/dev/null");  // never a device
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
    ASSERT_EQ(::stat((paths.RootFor(SEARCHER_FAT) + "/Vol/A").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
}

namespace {

// Every entry below `folder`, relative to it.
std::vector<std::string> Everything(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        out.push_back(std::filesystem::relative(entry.path(), folder).string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

// The numbered folder is moved out of the destination while the recovery
// runs (its builder holds it open): the folders the walk reaches then lie
// elsewhere, and the last check refuses them before anything is made there.
TEST(RecoveryOutput, AFolderMovedOutOfTheDestinationTakesNoFiles) {
    TempDir dest, outside;
    Tree first("Vol", {"A"}, "one.txt");
    Tree second("Vol", {"B"}, "two.txt");
    RecoveryPathBuilder paths(dest.path(), "D");
    const std::string one = paths.PathFor(first.leaf.get());
    ASSERT_EQ(one, paths.RootFor(SEARCHER_FAT) + "/Vol/A/one.txt");
    ASSERT_EQ(::rename(paths.RootFor(SEARCHER_FAT).c_str(), (outside / "moved").c_str()), 0);
    const std::vector<std::string> before = Everything(outside.path());
    EXPECT_EQ(paths.PathFor(second.leaf.get()), "");
    EXPECT_EQ(Everything(outside.path()), before);
}

// A folder of the file's path is swapped for a link to elsewhere after the
// path was made (as a slow recovery leaves time for): the file is not
// written through it, and nothing lands elsewhere.
TEST(RecoveryOutput, ALinkSwappedInAfterThePathWasMadeIsNeverFollowed) {
    TempDir dest, outside;
    Tree tree("Vol", {"Docs"}, "a.txt");
    RecoveryPathBuilder paths(dest.path(), "D");
    const std::string path = paths.PathFor(tree.leaf.get());
    const std::string docs = paths.RootFor(SEARCHER_FAT) + "/Vol/Docs";
    ASSERT_EQ(path, docs + "/a.txt");
    ASSERT_EQ(::rmdir(docs.c_str()), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), docs.c_str()), 0);
    errno = 0;
    EXPECT_LT(OpenRecoveredFile(path.c_str()), 0);
    EXPECT_TRUE(errno == ELOOP || errno == ENOTDIR) << std::strerror(errno);
    EXPECT_TRUE(Everything(outside.path()).empty());
    // Its times and owner are not set through it either.
    velmora::test::WriteFile(outside / "a.txt", std::string("theirs"));
    EXPECT_FALSE(SetFileTimes(path.c_str(), Ticks(1000000000), Ticks(1000000000), 0));
    EXPECT_NE(MTime(outside / "a.txt"), 1000000000);
    // Nor is a file of the same name there ever removed as partial.
    EXPECT_FALSE(RemovePartialFile(path.c_str()));
    EXPECT_EQ(velmora::test::ReadText(outside / "a.txt"), "theirs");
}

// A new file never replaces one that is there, and abandoning a file
// removes only the very file that was made.
TEST(RecoveryOutput, NewFilesAreExclusiveAndOnlyTheirOwnAreAbandoned) {
    TempDir dest;
    const std::string path = dest / "f.bin";
    velmora::test::WriteFile(path, std::string("older"));
    errno = 0;
    EXPECT_LT(OpenRecoveredFile(path.c_str()), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(RemovePartialFile(path.c_str()));
    EXPECT_EQ(velmora::test::ReadText(path), "older");

    const std::string made = dest / "made.bin";
    const int fd = OpenRecoveredFile(made.c_str());
    ASSERT_GE(fd, 0);
    // Replaced by another file before the abandon: that one stays. (The
    // first is held open so that the new one cannot take its inode.)
    ASSERT_EQ(::unlink(made.c_str()), 0);
    velmora::test::WriteFile(made, std::string("someone else's"));
    EXPECT_FALSE(RemovePartialFile(made.c_str()));
    EXPECT_EQ(velmora::test::ReadText(made), "someone else's");
    ::close(fd);
    ASSERT_EQ(::unlink(made.c_str()), 0);
    const int again = OpenRecoveredFile(made.c_str());
    ASSERT_GE(again, 0);
    ::close(again);
    EXPECT_TRUE(RemovePartialFile(made.c_str()));
    EXPECT_FALSE(std::filesystem::exists(made));
}

// Two names from disk that clean to one ("a/b" the file, "a/b" the folder:
// both "a_b"): the folder is numbered as a clashing file would be, and its
// files are written, not lost.
TEST(RecoveryOutput, AFolderWhoseNameAFileHoldsIsNumbered) {
    TempDir dest;
    Tree file("Vol", {}, "a/b");
    Tree inFolder("Vol", {"a/b"}, "c.txt");
    RecoveryPathBuilder paths(dest.path(), "D");
    const std::string first = paths.PathFor(file.leaf.get());
    const std::string root = paths.RootFor(SEARCHER_FAT);
    ASSERT_EQ(first, root + "/Vol/a_b");
    velmora::test::WriteFile(first, std::string("file"));
    EXPECT_EQ(paths.PathFor(inFolder.leaf.get()), root + "/Vol/a_b_0001/c.txt");
    // The next file of that folder goes to the same numbered folder.
    Tree another("Vol", {"a/b"}, "d.txt");
    EXPECT_EQ(paths.PathFor(another.leaf.get()), root + "/Vol/a_b_0001/d.txt");
}

// A destination not made yet is made from its nearest existing parent, as
// the invoking user; one below a folder that user may not write is refused.
TEST(RecoveryOutput, TheDestinationIsMadeAsTheInvokingUser) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to act for another user";
    TempDir dest;
    ::chmod(dest.path().c_str(), 0755);
    ASSERT_EQ(::mkdir((dest / "theirs").c_str(), 0755), 0);
    ASSERT_EQ(::chown((dest / "theirs").c_str(), 65534, 65534), 0);
    ScopedEnv pkexec("PKEXEC_UID", nullptr), uid("SUDO_UID", "65534"), gid("SUDO_GID", "65534");
    Tree tree("Vol", {"A"}, "f.txt");
    RecoveryPathBuilder mine(dest / "theirs/new/out", "D");
    const std::string path = mine.PathFor(tree.leaf.get());
    ASSERT_EQ(path, dest / "theirs/new/out/Fat_D_0001/Vol/A/f.txt");
    struct stat st {};
    ASSERT_EQ(::stat((dest / "theirs/new").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    RecoveryPathBuilder rootOnly(dest / "not theirs", "D");
    EXPECT_EQ(rootOnly.PathFor(tree.leaf.get()), "");
    EXPECT_FALSE(std::filesystem::exists(dest / "not theirs"));
}
