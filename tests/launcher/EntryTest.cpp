// The application's arguments: the language with the loader flag, the
// result file, and handing over to the launcher when opened directly.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ProgramEntry.h"

using velmora::app::EntryPlan;
using velmora::app::ParseEntryArgs;
using velmora::app::RunEntry;

namespace {

struct EntryCase {
    std::vector<std::string> args;
    bool startLauncher;
    std::optional<std::string> language;
    std::string rsfPath;
};

TEST(ProgramEntry, ArgumentTable) {
    const EntryCase cases[] = {
        {{}, true, std::nullopt, ""},
        {{""}, true, std::nullopt, ""},
        {{"en*loaderflag*"}, false, "en", ""},
        {{"*loaderflag*"}, false, "", ""},
        {{"fr"}, false, "fr", ""},
        // The flag test is case-sensitive: this is a language of its own.
        {{"de*LOADERFLAG*"}, false, "de*LOADERFLAG*", ""},
        {{"en*loaderflag*", "/home/u/scan.Velmora"}, false, "en", "/home/u/scan.Velmora"},
        {{"en*loaderflag*", "/home/u/notes.txt"}, false, "en", ""},
        {{"en*loaderflag*", "/home/u/old.Velmora.d/scan"},
         false,
         "en",
         "/home/u/old.Velmora.d/scan"},
        {{"zh-Hant*loaderflag*", "/home/u/\xe6\x81\xa2\xe5\xa4\x8d.Velmora", "extra"},
         false,
         "zh-Hant",
         "/home/u/\xe6\x81\xa2\xe5\xa4\x8d.Velmora"},
        {{"", "/home/u/scan.Velmora"}, true, std::nullopt, "/home/u/scan.Velmora"},
        // Read as ASCII, a first argument that is not counts as empty.
        {{"/home/u/r\xc3\xa9sultat.Velmora"}, true, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        std::string described;
        for (const auto& a : c.args)
            described += "[" + a + "] ";
        const EntryPlan plan = ParseEntryArgs(c.args);
        EXPECT_EQ(plan.startLauncher, c.startLauncher) << described;
        EXPECT_EQ(plan.language, c.language) << described;
        EXPECT_EQ(plan.rsfPath, c.rsfPath) << described;
    }
}

struct RunCase {
    std::vector<const char*> argv;
    bool launcherStarts;
    bool launcherAsked;
    bool applicationRuns;
};

TEST(ProgramEntry, HandsOverToTheLauncherOrRuns) {
    const RunCase cases[] = {
        {{"Tamsweld"}, true, true, false},
        {{"Tamsweld", ""}, true, true, false},
        {{"Tamsweld"}, false, true, true},  // no launcher: run normally
        {{"Tamsweld", "en*loaderflag*"}, true, false, true},
        {{"Tamsweld", "fr"}, true, false, true},
    };
    for (const auto& c : cases) {
        bool asked = false;
        std::optional<EntryPlan> ran;
        std::vector<char*> argv;
        for (const char* a : c.argv)
            argv.push_back(const_cast<char*>(a));
        argv.push_back(nullptr);
        const int rc = RunEntry(
            static_cast<int>(c.argv.size()), argv.data(),
            [&] {
                asked = true;
                return c.launcherStarts;
            },
            [&](const EntryPlan& plan) {
                ran = plan;
                return 7;
            });
        const std::string described = c.argv.size() > 1 ? c.argv[1] : "(none)";
        EXPECT_EQ(asked, c.launcherAsked) << described;
        EXPECT_EQ(ran.has_value(), c.applicationRuns) << described;
        EXPECT_EQ(rc, c.applicationRuns ? 7 : 0) << described;
    }
}

}  // namespace
