// The application's arguments: the language with the loader flag, the
// result file, and handing over to the launcher when opened directly.
#include <gtest/gtest.h>

#include <map>
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
        // The desktop hands over result files in any case of the extension.
        {{"en*loaderflag*", "/home/u/scan.velmora"}, false, "en", "/home/u/scan.velmora"},
        {{"en*loaderflag*", "/home/u/SCAN.VELMORA"}, false, "en", "/home/u/SCAN.VELMORA"},
        {{"en*loaderflag*", "/home/u/scan.velmor"}, false, "en", ""},
        {{"en*loaderflag*", "/home/u/scan\x0evelmora"}, false, "en", ""},
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
    int exitCode;  // the fake application returns 7
    // The environment's display variables.
    std::map<std::string, std::string> env = {{"DISPLAY", ":0"}};
};

TEST(ProgramEntry, HandsOverToTheLauncherOrRuns) {
    const RunCase cases[] = {
        {{"Tamsweld"}, true, true, false, 0},
        {{"Tamsweld", ""}, true, true, false, 0},
        {{"Tamsweld"}, false, true, true, 7},  // no launcher: run normally
        {{"Tamsweld", "en*loaderflag*"}, true, false, true, 7},
        {{"Tamsweld", "fr"}, true, false, true, 7},
        // No display: the windows are not started, and the user is told.
        {{"Tamsweld", "en*loaderflag*"}, true, false, false, 1, {}},
        {{"Tamsweld", "en*loaderflag*"}, true, false, false, 1, {{"DISPLAY", ""}}},
        {{"Tamsweld", "en*loaderflag*"}, true, false, true, 7, {{"WAYLAND_DISPLAY", "wayland-0"}}},
        {{"Tamsweld", "en*loaderflag*"}, true, false, true, 7, {{"QT_QPA_PLATFORM", "offscreen"}}},
        // The launcher needs no display of ours: it is still handed over to.
        {{"Tamsweld"}, true, true, false, 0, {}},
        {{"Tamsweld"}, false, true, false, 1, {}},
    };
    for (const auto& c : cases) {
        bool asked = false;
        int sleepHeld = 0;
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
            },
            [&](const char* name) -> const char* {
                const auto it = c.env.find(name);
                return it == c.env.end() ? nullptr : it->second.c_str();
            },
            [&] {
                // Taken before the windows start, as they may scan at once.
                EXPECT_FALSE(ran.has_value());
                ++sleepHeld;
            });
        std::string described = c.argv.size() > 1 ? c.argv[1] : "(none)";
        for (const auto& [name, value] : c.env)
            described += " " + name + "=" + value;
        EXPECT_EQ(asked, c.launcherAsked) << described;
        EXPECT_EQ(ran.has_value(), c.applicationRuns) << described;
        EXPECT_EQ(rc, c.exitCode) << described;
        // Kept awake exactly when the application runs.
        EXPECT_EQ(sleepHeld, c.applicationRuns ? 1 : 0) << described;
    }
}

TEST(ProgramEntry, UnreachableDisplayIsNamedWithoutTheToolkitsAdvice) {
    const std::map<std::string, std::string> env = {{"DISPLAY", ":99"},
                                                    {"WAYLAND_DISPLAY", "wayland-9"}};
    const std::string message = velmora::app::UnreachableDisplayMessage(
        [&](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        },
        "could not connect to display :99. Reinstalling the application may fix this problem.");
    EXPECT_NE(message.find("DISPLAY=:99"), std::string::npos) << message;
    EXPECT_NE(message.find("WAYLAND_DISPLAY=wayland-9"), std::string::npos) << message;
    EXPECT_NE(message.find("could not connect to display :99"), std::string::npos) << message;
    EXPECT_EQ(message.find("Reinstalling"), std::string::npos) << message;
}

}  // namespace
