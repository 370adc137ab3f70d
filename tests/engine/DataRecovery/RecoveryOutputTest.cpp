// Where recovered files land, how their names are cleaned, their dates and
// their owner.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
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
