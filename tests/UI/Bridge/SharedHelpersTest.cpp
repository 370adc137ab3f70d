// The helpers every part of the bridge shares: engine times, category
// titles, the name search, display paths, the root of a node, the node sort
// and the test for another running copy of the program.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "BridgeDoubles.h"
#include "VKUIPublic.h"
#include "support/TestNode.h"
#include "support/TestSupport.h"

using velmora::bridgetest::BridgeWorld;

namespace {

// A chain root <- n1 <- ... <- n`depth`; nodes[0] is the root.
struct Chain {
    explicit Chain(int depth) {
        nodes.push_back(std::make_unique<CFilesystemNode>("root", "Data", SEARCHER_FAT, 0));
        for (int i = 1; i <= depth; ++i) {
            nodes.push_back(std::make_unique<TestNode>(i, i - 1, "n" + std::to_string(i), true));
            EXPECT_EQ(nodes[i - 1]->AddChild(nodes[i].get()), 1);
        }
    }
    ~Chain() {
        // Children first, so no node is freed while linked below another.
        while (!nodes.empty()) {
            CFileNode* last = nodes.back().get();
            if (last->GetParent() != nullptr)
                last->GetParent()->RemoveChild(last);
            nodes.pop_back();
        }
    }
    CFileNode* tip() const { return nodes.back().get(); }
    std::vector<std::unique_ptr<CFileNode>> nodes;
};

}  // namespace

TEST(SharedHelpers, WindowsTimesBecomeUnixSecondsWrappingBefore1970) {
    struct Case {
        uint64_t ticks;
        uint64_t seconds;
    } const cases[] = {
        {116444736000000000ULL, 0},
        {0, 0 - 11644473600ULL},
        {116444736000000000ULL + 15000000ULL, 1},  // sub-second part dropped
        {116444736000000000ULL + 1700000000ULL * 10000000ULL, 1700000000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(convertWindowsTimeToUnixTime(U64ToFileTime(c.ticks)), c.seconds) << c.ticks;
}

// Year and month (1 to 12) in local time; a missing out-pointer is skipped.
TEST(SharedHelpers, YearAndMonthOfEngineTimes) {
    auto utc = std::make_unique<velmora::test::ScopedEnv>("TZ", "UTC");
    ::tzset();
    struct Case {
        int64_t unix;
        int year, month;
    } const cases[] = {
        {0, 1970, 1},
        {1600000000, 2020, 9},
        {1609459199, 2020, 12},  // 2020-12-31 23:59:59
        {1609459200, 2021, 1},
    };
    for (const Case& c : cases) {
        const _FILETIME ft = U64ToFileTime(UnixTimeToFileTime(c.unix));
        int year = 0, month = 0;
        VKUIPublic::GetYear(&year, &month, ft);
        EXPECT_EQ(year, c.year) << c.unix;
        EXPECT_EQ(month, c.month) << c.unix;
        year = 0;
        VKCPPPublic::instance().GetYearMonthByFileTime(&year, nullptr, ft);
        EXPECT_EQ(year, c.year) << c.unix;
        month = 0;
        VKCPPPublic::instance().GetYearMonthByTimeT(nullptr, &month, static_cast<time_t>(c.unix));
        EXPECT_EQ(month, c.month) << c.unix;
    }
    utc.reset();
    ::tzset();
}

TEST(SharedHelpers, CategoryTitlesBothWays) {
    BridgeWorld world;
    VKCPPPublic& pub = VKCPPPublic::instance();
    struct Case {
        unsigned bit;
        const char* title;
    } const titles[] = {{1, "Documents"}, {2, "Pictures"}, {4, "Movies"}, {8, "Music"},
                        {16, "Archives"}, {32, "E-mail"},  {64, "Other"}, {3, ""},
                        {128, ""},        {0, ""},         {127, ""}};
    for (const Case& c : titles)
        EXPECT_EQ(pub.FilterTypeToString(c.bit), c.title) << c.bit;

    struct Back {
        const char* text;
        unsigned bit;
    } const back[] = {{"Pictures", 2}, {"Documents", 1}, {"E-mail", 32},
                      {"jpg", 64},     {"pictures", 64}, {"", 64},
                      {nullptr, 64},   {"Other", 64},    {"\xff", 64}};
    for (const Back& b : back)
        EXPECT_EQ(pub.StringToFilterType(b.text), b.bit) << (b.text ? b.text : "(null)");
}

TEST(SharedHelpers, NameSearchIgnoresCaseOverUtf8) {
    struct Case {
        const char* needle;
        const char* text;
        int match;
    } const cases[] = {
        {"", nullptr, 1},
        {nullptr, "x", 1},
        {"JPG", "photo.jpg", 1},
        {"jpg", nullptr, 0},
        {"png", "photo.jpg", 0},
        {"ÉTÉ", "photos d'été.jpg", 1},
        {"naïve", "Ünïcödé NAÏVE.txt", 1},
        {"a", "\xc3\x28", 0},      // not UTF-8
        {"\xed\xa0\x80", "x", 0},  // a surrogate
        {"photo.jpg", "photo", 0},
        {"AAB", "xaAab", 1},      // a start that fails halfway, then a match
        {"TXT", "naïve.txt", 1},  // plain needle, text beyond ASCII
        {"Ï", "NAÏVE", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VKUIPublic::IsStringInString(c.needle, c.text), c.match)
            << (c.needle ? c.needle : "(null)") << " in " << (c.text ? c.text : "(null)");
}

TEST(SharedHelpers, NodeSearchLooksBelowFoldersAndHonoursTheDesktopChoice) {
    BridgeWorld world;
    CFilesystemNode root("root", "Data", SEARCHER_FAT, 0);
    TestNode desktop(1, 0, "Desktop", true), docs(2, 0, "Docs", true);
    TestNode a(3, 1, "a.jpg"), b(4, 2, "report.pdf"), loose(5, -1, "loose.txt");
    ASSERT_TRUE(root.AddChild(&desktop) && root.AddChild(&docs));
    ASSERT_TRUE(desktop.AddChild(&a) && docs.AddChild(&b));
    struct Case {
        bool desktopChoice;
        const char* needle;
        IFileNode* node;
        int match;
    } const cases[] = {
        {false, "REPORT", &root, 1}, {false, "report", &desktop, 0}, {false, "Docs", &docs, 0},
        {false, "x", nullptr, 0},    {false, "", nullptr, 1},        {true, "zzz", &a, 1},
        {true, "zzz", &b, 0},        {true, "zzz", &root, 1},        {true, "zzz", &loose, 0},
    };
    for (const Case& c : cases) {
        world.settings->SetBool("isSelectDesktopDisk", c.desktopChoice);
        EXPECT_EQ(VKUIPublic::IsStringInFileNode(c.needle, c.node), c.match)
            << c.desktopChoice << " " << c.needle << " "
            << (c.node ? c.node->GetFileName() : "(null)");
    }
    EXPECT_EQ(VKUIPublic::IsStringInFileNodeVector("PDF", {nullptr, &a, &b}), 1);
    EXPECT_EQ(VKUIPublic::IsStringInFileNodeVector("gif", {&a, &b}), 0);
    docs.RemoveChild(&b);
    desktop.RemoveChild(&a);
    root.RemoveChild(&docs);
    root.RemoveChild(&desktop);
}

// Folders of recovered files are dated by the bridge's clock, in local time.
TEST(SharedHelpers, RecoveredFolderPrefixesCarryTodaysDate) {
    BridgeWorld world;  // 2023-11-14 22:13:20 UTC
    auto prefixIn = [](const char* zone, _tagSearcherType type) {
        velmora::test::ScopedEnv tz("TZ", zone);
        ::tzset();
        std::string prefix = VKUIPublic::GetFileSystemStrByType(type);
        return prefix;
    };
    struct Case {
        _tagSearcherType type;
        const char* prefix;
    } const cases[] = {
        {SEARCHER_HFSPLUS, "HFS+_Recovered Data2023-11-14_"},
        {SEARCHER_FAT, "Fat_Recovered Data2023-11-14_"},
        {SEARCHER_EXFAT, "ExFat_Recovered Data2023-11-14_"},
        {SEARCHER_RAW, "RAW_"},
        {SEARCHER_RAW_LABEL, "Lable_RAW_Recovered Data2023-11-14_"},
        {SEARCHER_NTFS, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(prefixIn("UTC", c.type), c.prefix) << c.type;
    EXPECT_EQ(prefixIn("Asia/Tokyo", SEARCHER_FAT), "Fat_Recovered Data2023-11-15_");
    ::tzset();
}

TEST(SharedHelpers, DisplayPathStartsAtTheVolumeName) {
    Chain chain(2);
    EXPECT_EQ(VKUIPublic::GetPathByFileNode(chain.tip()), "/Data/n1/n2");
    EXPECT_EQ(VKUIPublic::GetPathByFileNode(chain.nodes[0].get()), "/Data");
    EXPECT_EQ(VKUIPublic::GetPathByFileNode(nullptr), "");
}

// Root lookups follow at most 1,024 parent links: a longer chain answers the
// ancestor reached there, which is no file-system node here.
TEST(SharedHelpers, RootIsFoundWithinTheStepLimit) {
    struct Case {
        int depth;
        bool reachesRoot;
    } const cases[] = {{0, true}, {1, true}, {1024, true}, {1025, false}, {1100, false}};
    for (const Case& c : cases) {
        Chain chain(c.depth);
        IFilesystemNode* root = VKCPPPublic::instance().GetFileSystemNode(chain.tip());
        if (c.reachesRoot) {
            EXPECT_EQ(root, chain.nodes[0].get()) << c.depth;
            EXPECT_EQ(VKCPPPublic::instance().GetNodeSearcheType(chain.tip()), SEARCHER_FAT);
        } else {
            // The node 1,024 steps up; it is a CFileNode, hence an
            // IFilesystemNode too, but not the root.
            EXPECT_EQ(root, chain.nodes[c.depth - 1024].get()) << c.depth;
            EXPECT_EQ(VKCPPPublic::instance().GetNodeSearcheType(chain.tip()), SEARCHER_NONE);
        }
    }
    EXPECT_EQ(VKCPPPublic::instance().GetFileSystemNode(nullptr), nullptr);
    EXPECT_EQ(VKCPPPublic::instance().GetNodeSearcheType(nullptr), SEARCHER_NONE);
}

// Sorting by name or time, newest or last name first; lists with holes
// keep the nodes in order and the holes at the end.
TEST(SharedHelpers, NodeSortPutsHolesLast) {
    TestNode a(1, -1, "alpha"), b(2, -1, "beta"), c(3, -1, "gamma");
    a.modified = 300;
    b.modified = 100;
    c.modified = 200;
    struct Case {
        int key;
        std::vector<IFileNode*> in;
        std::vector<IFileNode*> out;
    } const cases[] = {
        {0, {&a, &b, &c}, {&c, &b, &a}},
        {3, {&a, &b, &c}, {&a, &c, &b}},
        {0, {&a, nullptr, &c, nullptr, &b}, {&c, &b, &a, nullptr, nullptr}},
        {3, {nullptr, &b, &a, nullptr, &c}, {&a, &c, &b, nullptr, nullptr}},
    };
    for (const Case& k : cases) {
        std::vector<IFileNode*> nodes = k.in;
        VKCPPPublic::instance().SortFileNodeVector(nodes, k.key);
        EXPECT_EQ(nodes, k.out) << "key " << k.key;
    }
    // A long list with holes everywhere (insertion sort is not the only
    // algorithm std::sort uses).
    std::vector<std::unique_ptr<TestNode>> many;
    std::vector<IFileNode*> nodes;
    for (int i = 0; i < 200; ++i) {
        many.push_back(std::make_unique<TestNode>(i, -1, std::to_string(1000 + (i * 37) % 200)));
        nodes.push_back(many.back().get());
        if (i % 3 == 0)
            nodes.push_back(nullptr);
    }
    VKCPPPublic::instance().SortFileNodeVector(nodes, 0);
    const auto firstHole = std::find(nodes.begin(), nodes.end(), nullptr);
    EXPECT_EQ(firstHole - nodes.begin(), 200);
    EXPECT_TRUE(std::all_of(firstHole, nodes.end(), [](IFileNode* n) { return n == nullptr; }));
    EXPECT_TRUE(std::is_sorted(nodes.begin(), firstHole, [](IFileNode* x, IFileNode* y) {
        return std::string(x->GetFileName()) > y->GetFileName();
    }));
}

// Another copy is a process with the program's whole name, not one whose
// short name merely begins it.
TEST(SharedHelpers, AnotherCopyIsFoundByItsWholeName) {
    struct Case {
        std::vector<std::pair<int, std::string>> processes;
        int running;
    } const cases[] = {
        {{{1, "systemd"}, {77, "Velmora"}}, 1},
        {{{1, "systemd"}, {77, "velmora"}}, 1},
        {{{1, "systemd"}, {42, "Velmora"}}, 0},  // this process
        {{{1, "v"}, {2, "Vel"}, {3, "vELMOR"}}, 0},
        {{{1, "Velmora-helper"}, {2, ""}}, 0},
        {{}, 0},
    };
    for (const Case& c : cases) {
        velmora::test::TempDir proc;
        velmora::test::WriteFile(proc / "self", "not a process");
        for (const auto& [pid, name] : c.processes) {
            ASSERT_EQ(::mkdir((proc / std::to_string(pid)).c_str(), 0700), 0);
            velmora::test::WriteFile(proc / (std::to_string(pid) + "/comm"), name + "\n");
        }
        EXPECT_EQ(VKCPPPublic::IsAppRunningIn(proc.path(), "Velmora", 42), c.running)
            << (c.processes.empty() ? "none" : c.processes.back().second);
    }
    // The real process list never holds a program of that name while the
    // tests run; the call must still read it.
    EXPECT_EQ(VKCPPPublic::instance().IsAppRunning(), 0);
}
