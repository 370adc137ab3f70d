// The pkexec call that starts the application, and running it against
// doubles of pkexec, the application and xhost.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "Report.h"
#include "RunScript.h"
#include "support/TestSupport.h"

using velmora::loader::Environment;
using velmora::loader::LaunchPlan;
using velmora::loader::LaunchTools;
using velmora::loader::PlanLaunch;
using velmora::loader::RunTool;
using velmora::test::ReadText;
using velmora::test::TempDir;
using velmora::test::WriteFile;

namespace {

using Args = std::vector<std::string>;

void WriteScript(const std::string& path, const std::string& text) {
    WriteFile(path, "#!/bin/sh\n" + text);
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

void WritePolicy(const std::string& folder, const std::string& app) {
    mkdir(folder.c_str(), 0755);
    WriteFile(folder + "/org.velmora.tamsweld.run.policy",
              "<policyconfig><action id=\"org.velmora.tamsweld.run\">\n"
              "<annotate key=\"org.freedesktop.policykit.exec.path\">" +
                  app +
                  "</annotate>\n"
                  "<annotate key=\"org.freedesktop.policykit.exec.allow_gui\">true</annotate>\n"
                  "</action></policyconfig>\n");
}

struct PlanCase {
    const char* name;
    bool policyInstalled;
    Environment env;
    const char* language;
    const char* rsfPath;
    Args expected;  // "@" stands for the application's path
    bool grantXWayland;
};

TEST(LauncherPlan, PkexecArgumentVectors) {
    TempDir dir;
    const std::string app = dir / "lib/Tamsweld";
    const Environment x11{{"DISPLAY", ":0"}, {"XAUTHORITY", "/run/user/1000/xauth"}};
    const Environment wayland{{"DISPLAY", ":1"}, {"WAYLAND_DISPLAY", "wayland-0"}};
    const PlanCase cases[] = {
        {"installed action, no file: one argument",
         true,
         x11,
         "de",
         "",
         {"/usr/bin/pkexec", "@", "de*loaderflag*"},
         false},
        {"installed action with a file",
         true,
         x11,
         "zh-Hant",
         "/home/u/My scan.Velmora",
         {"/usr/bin/pkexec", "@", "zh-Hant*loaderflag*", "/home/u/My scan.Velmora"},
         false},
        {"no action: display through env",
         false,
         x11,
         "en",
         "/r/a.Velmora",
         {"/usr/bin/pkexec", "/usr/bin/env", "DISPLAY=:0", "XAUTHORITY=/run/user/1000/xauth", "@",
          "en*loaderflag*", "/r/a.Velmora"},
         false},
        {"no action, no display",
         false,
         {},
         "en",
         "",
         {"/usr/bin/pkexec", "/usr/bin/env", "@", "en*loaderflag*"},
         false},
        {"wayland session asks for the X grant",
         true,
         wayland,
         "en",
         "",
         {"/usr/bin/pkexec", "@", "en*loaderflag*"},
         true},
        {"a code that is not ASCII is not handed on",
         true,
         x11,
         "d\xc3\xa9",
         "",
         {"/usr/bin/pkexec", "@", "en*loaderflag*"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LaunchTools tools;
        tools.polkitActions = dir / (c.policyInstalled ? "actions" : "none");
        if (c.policyInstalled)
            WritePolicy(tools.polkitActions, app);
        const LaunchPlan plan = PlanLaunch(app, c.language, c.rsfPath, c.env, tools);
        Args expected = c.expected;
        for (auto& a : expected) {
            if (a == "@")
                a = app;
        }
        EXPECT_EQ(plan.argv, expected);
        EXPECT_EQ(plan.grantXWayland, c.grantXWayland);
    }
}

TEST(LauncherPlan, ActionForAnotherProgramIsNotUsed) {
    TempDir dir;
    LaunchTools tools;
    tools.polkitActions = dir / "actions";
    WritePolicy(tools.polkitActions, "/usr/lib/tamsweld/Tamsweld");
    const LaunchPlan plan = PlanLaunch(dir / "Tamsweld", "en", "", {}, tools);
    EXPECT_EQ(plan.argv,
              (Args{"/usr/bin/pkexec", "/usr/bin/env", dir / "Tamsweld", "en*loaderflag*"}));
}

TEST(LauncherPlan, XauthorityDefaultsToTheUsersFileAndBadPathsAreRefused) {
    TempDir dir;
    WriteFile(dir / ".Xauthority", "cookie");
    LaunchTools tools;
    tools.polkitActions = dir / "none";
    LaunchPlan plan =
        PlanLaunch("/opt/t/Tamsweld", "en", "", {{"HOME", dir.path()}, {"DISPLAY", ":0"}}, tools);
    EXPECT_EQ(plan.env.at("XAUTHORITY"), dir / ".Xauthority");
    EXPECT_EQ(plan.argv,
              (Args{"/usr/bin/pkexec", "/usr/bin/env", "DISPLAY=:0",
                    "XAUTHORITY=" + (dir / ".Xauthority"), "/opt/t/Tamsweld", "en*loaderflag*"}));
    // env would read a path holding "=" as one more assignment.
    plan = PlanLaunch("/opt/a=b/Tamsweld", "en", "", {}, tools);
    EXPECT_TRUE(plan.argv.empty());
    plan = PlanLaunch("Tamsweld", "en", "", {}, tools);
    EXPECT_TRUE(plan.argv.empty());
    EXPECT_EQ(RunTool(plan, tools), -1);
}

// Doubles: pkexec refuses with a status or runs its arguments; the
// application writes its arguments, one a line; xhost lists what it is
// told to and logs every change.
struct RunCase {
    const char* name;
    int pkexecRefusal;  // 0: authorized
    bool wayland;
    bool rootAlreadyAllowed;
    const char* rsfPath;
    int status;
    const char* appArgs;  // nullptr: the application never ran
    const char* xhostChanges;
};

TEST(LauncherRun, RefusalStartsNothingAndTheGrantLastsTheProgramsLife) {
    const RunCase cases[] = {
        {"authorized, no file", 0, false, false, "", 3, "en*loaderflag*\n", ""},
        {"authorized with a file", 0, false, false, "/home/u/a b.Velmora", 3,
         "en*loaderflag*\n/home/u/a b.Velmora\n", ""},
        {"dialog dismissed", 126, false, false, "/home/u/a.Velmora", 126, nullptr, ""},
        {"password refused", 127, false, false, "", 127, nullptr, ""},
        {"wayland: root let in, then out", 0, true, false, "", 3, "en*loaderflag*\n",
         "+si:localuser:root\n-si:localuser:root\n"},
        {"wayland refused: let out all the same", 127, true, false, "", 127, nullptr,
         "+si:localuser:root\n-si:localuser:root\n"},
        {"wayland, root allowed before: left as it was", 0, true, true, "", 3, "en*loaderflag*\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string app = dir / "Tamsweld";
        WriteScript(app, "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + (dir / "app.args") +
                             "\nexit 3\n");
        LaunchTools tools;
        tools.pkexec = dir / "pkexec";
        tools.xhost = dir / "xhost";
        tools.polkitActions = dir / "actions";
        WritePolicy(tools.polkitActions, app);
        WriteScript(tools.pkexec, c.pkexecRefusal ? "exit " + std::to_string(c.pkexecRefusal) + "\n"
                                                  : std::string("exec \"$@\"\n"));
        WriteScript(tools.xhost,
                    std::string("if [ $# -eq 0 ]; then echo 'access control enabled'; ") +
                        (c.rootAlreadyAllowed ? "echo 'SI:localuser:root'; " : "") +
                        "exit 0; fi\necho \"$1\" >> " + (dir / "xhost.log") + "\n");
        Environment env{{"DISPLAY", ":1"}};
        if (c.wayland)
            env["WAYLAND_DISPLAY"] = "wayland-0";
        const LaunchPlan plan = PlanLaunch(app, "en", c.rsfPath, env, tools);
        EXPECT_EQ(RunTool(plan, tools), c.status);
        struct stat st {};
        if (c.appArgs) {
            EXPECT_EQ(ReadText(dir / "app.args"), c.appArgs);
        } else {
            EXPECT_NE(stat((dir / "app.args").c_str(), &st), 0) << "the application ran";
        }
        const std::string changes =
            stat((dir / "xhost.log").c_str(), &st) == 0 ? ReadText(dir / "xhost.log") : "";
        EXPECT_EQ(changes, c.xhostChanges);
    }
}

}  // namespace

namespace {

// The user typed a password and sees the launcher end: whatever went wrong
// after that is said, and only a dismissed dialog or a normal end is not.
TEST(LaunchReport, EveryFailureIsSaidButADismissedDialog) {
    using velmora::loader::LaunchFailureMessage;
    EXPECT_EQ(LaunchFailureMessage(0), std::nullopt);
    EXPECT_EQ(LaunchFailureMessage(126), std::nullopt);
    const struct {
        int status;
        const char* mentions;
    } said[] = {{127, "administrator right"}, {-1, "pkexec"},
                {1, "exit status 1"},         {134, "signal 6"},
                {139, "signal 11"},           {2, "exit status 2"}};
    for (const auto& c : said) {
        const auto message = LaunchFailureMessage(c.status);
        ASSERT_TRUE(message.has_value()) << c.status;
        EXPECT_NE(message->find(c.mentions), std::string::npos) << *message;
    }
}

}  // namespace
