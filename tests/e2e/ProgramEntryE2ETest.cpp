// The program as the launcher starts it, on an X server of the test's own:
// the language with the loader flag and a result file given at start show
// the main window and take the file; a second start leaves the first
// running; no display is said plainly.
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "RealProgram.h"
#include "support/TestSupport.h"

namespace velmora::e2e {
namespace {

// Records whether a file was opened, and whether it was written, from the
// moment it is made.
class FileWatch {
public:
    explicit FileWatch(const std::string& path) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0)
            inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB);
    }
    ~FileWatch() {
        if (fd_ >= 0)
            close(fd_);
    }
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;
    bool opened() {
        Drain();
        return opened_;
    }
    bool written() {
        Drain();
        return written_;
    }

private:
    void Drain() {
        alignas(inotify_event) char buffer[sizeof(inotify_event) + NAME_MAX + 1];
        ssize_t n;
        while (fd_ >= 0 && (n = read(fd_, buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                opened_ = opened_ || (event->mask & IN_OPEN);
                written_ = written_ || (event->mask & (IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB));
                p += sizeof(inotify_event) + event->len;
            }
        }
    }
    int fd_ = -1;
    bool opened_ = false;
    bool written_ = false;
};

class ProgramEntryE2E : public ::testing::Test {
protected:
    void SetUp() override {
        const Installed& installed = InstalledPrograms();
        ASSERT_TRUE(installed.error.empty()) << installed.error;
        app_ = installed.app;
        chmod(home_.path().c_str(), 0755);
    }

    // The launcher's argument vector without pkexec.
    std::unique_ptr<Process> Start(const std::vector<std::string>& args, const std::string& display,
                                   const std::string& walkSocket, const std::string& name) {
        std::vector<std::string> argv = {app_};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<Process>(
            argv, ProgramEnvironment(home_.path(), display, walkSocket), home_ / name);
    }

    std::string app_;
    test::TempDir home_;
};

TEST_F(ProgramEntryE2E, ResultFileGivenAtStartShowsTheMainWindowAndIsTaken) {
    XServer x;
    VELMORA_REQUIRE_TOOL(!x.display().empty(), "Xvfb");
    const Fixture& fixture = Fat16Fixture();
    VELMORA_REQUIRE_FIXTURE(fixture);
    // The fixture is opened by nothing else from here on.
    FileWatch watch(fixture.resultFile);

    const std::string socket = home_ / "walk.sock";
    auto program = Start({"en*loaderflag*", fixture.resultFile}, x.display(), socket, "first");
    ASSERT_TRUE(program->started());
    Walk walk(socket);
    ASSERT_TRUE(walk.Connect(Millis(60000))) << program->Output();
    ASSERT_TRUE(walk.WaitVisible("MainXib", Millis(60000))) << walk.Ask("windows") << "\n"
                                                            << program->Output();
    EXPECT_EQ(walk.Ask("shot MainXib " + ShotPath("entry_main_window")).rfind("ok ", 0), 0u);

    // The path reached the main window, which starts loading the file.
    EXPECT_TRUE(WaitUntil(
        [&] {
            return program->Output().find("loading the result file " + fixture.resultFile) !=
                   std::string::npos;
        },
        Millis(30000)))
        << program->Output();
    // The load shows a window of its own (its progress, then the results
    // browser) and reads the file; a program without the results browser
    // makes neither, which is said here rather than passed over.
    std::string windows, shown;
    const bool loadShown = WaitUntil(
        [&] {
            windows = walk.Ask("windows");
            std::istringstream list(windows.substr(windows.rfind("ok ", 0) == 0 ? 3 : 0));
            std::string entry;
            while (list >> entry) {
                if (entry.rfind("MainXib:", 0) != 0 && entry.ends_with(":1")) {
                    shown = entry.substr(0, entry.find(':'));
                    return true;
                }
            }
            return false;
        },
        Millis(15000));
    if (loadShown) {
        EXPECT_TRUE(WaitUntil([&] { return watch.opened(); }, Millis(30000)))
            << "the load showed " << windows << " but never opened the result file\n"
            << program->Output();
        walk.Ask("shot " + shown + " " + ShotPath("entry_load"));
    } else {
        std::printf(
            "note: no load window or results browser came up (%s); the program "
            "has no results browser yet\n",
            windows.c_str());
    }
    EXPECT_FALSE(watch.written()) << "the result file was written to";
    const std::string output = program->Output();
    EXPECT_NE(output.find("set lanague to = en\n"), std::string::npos) << output;
    EXPECT_NE(output.find("para[1] = en*loaderflag*"), std::string::npos) << output;
    EXPECT_TRUE(program->Running()) << output;

    EXPECT_EQ(walk.Ask("quit"), "ok");
    const std::optional<int> status = program->WaitExit(Millis(60000));
    ASSERT_TRUE(status.has_value()) << "still running after quit\n" << program->Output();
    EXPECT_EQ(*status, 0) << program->Output();
}

// A result file that is not one (cut short, random bytes, empty) given at
// start: the program says it cannot be read, stays up on the main window
// after the alert, and quits cleanly.
TEST_F(ProgramEntryE2E, HostileResultFileAtStartIsRefusedWithAnAlert) {
    XServer x;
    VELMORA_REQUIRE_TOOL(!x.display().empty(), "Xvfb");
    const Fixture& fixture = Fat16Fixture();
    VELMORA_REQUIRE_FIXTURE(fixture);
    const std::vector<uint8_t> good = test::ReadFile(fixture.resultFile);
    ASSERT_GT(good.size(), 64u);
    std::vector<uint8_t> noise(4096);
    uint32_t seed = 0x5eed;
    for (uint8_t& byte : noise) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    // A cut file is known by its checks as damaged; what is no result file
    // at all cannot be read.
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* said;
    } cases[] = {
        {"truncated", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2),
         "is damaged"},
        {"garbled", noise, "could not be read"},
        {"empty", {}, "could not be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = home_ / (std::string(c.name) + ".Velmora");
        test::WriteFile(file, c.bytes);
        const std::string socket = home_ / (std::string(c.name) + ".sock");
        auto program = Start({"en*loaderflag*", file}, x.display(), socket, c.name);
        Walk walk(socket);
        ASSERT_TRUE(walk.Connect(Millis(60000))) << program->Output();
        ASSERT_TRUE(walk.WaitVisible("alertDefaultButton", Millis(60000)))
            << walk.Ask("windows") << "\n"
            << program->Output();
        const std::string said = walk.Ask("text alert");
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        walk.Ask("shot alert " + ShotPath(std::string("hostile_result_") + c.name));
        ASSERT_EQ(walk.Ask("click alertDefaultButton"), "ok");
        EXPECT_TRUE(walk.WaitGone("alert", Millis(20000))) << walk.Ask("windows");
        EXPECT_TRUE(walk.WaitVisible("MainXib", Millis(20000))) << walk.Ask("windows");
        EXPECT_TRUE(program->Running()) << program->Output();
        const std::optional<int> status = QuitAnsweringAlerts(walk, *program);
        ASSERT_TRUE(status.has_value()) << "still running after quit\n" << program->Output();
        EXPECT_EQ(*status, 0) << program->Output();
    }
}

TEST_F(ProgramEntryE2E, SecondStartEndsAtOnceAndTheFirstKeepsRunning) {
    XServer x;
    VELMORA_REQUIRE_TOOL(!x.display().empty(), "Xvfb");
    const std::string socket = home_ / "walk.sock";
    auto first = Start({"en*loaderflag*"}, x.display(), socket, "first");
    Walk walk(socket);
    ASSERT_TRUE(walk.Connect(Millis(60000))) << first->Output();
    ASSERT_TRUE(walk.WaitVisible("MainXib", Millis(60000))) << first->Output();

    // The second copy is driven by a walk of its own: it must end with 0
    // before it has shown a window.
    const std::string secondSocket = home_ / "walk2.sock";
    auto second = Start({"en*loaderflag*"}, x.display(), secondSocket, "second");
    const std::optional<int> status = second->WaitExit(Millis(60000));
    ASSERT_TRUE(status.has_value()) << "the second copy still runs\n" << second->Output();
    EXPECT_EQ(*status, 0) << second->Output();

    EXPECT_TRUE(first->Running()) << first->Output();
    EXPECT_EQ(walk.Ask("ping"), "ok");
    EXPECT_TRUE(walk.WaitVisible("MainXib", Millis(5000)));
    EXPECT_EQ(walk.Ask("quit"), "ok");
    EXPECT_EQ(first->WaitExit(Millis(60000)), std::optional<int>(0)) << first->Output();
}

// A second start given a result file (as the desktop does when the user
// opens one while the program runs) hands it to the first, which opens it
// in its results browser; the second ends with 0 and shows nothing.
TEST_F(ProgramEntryE2E, SecondStartHandsItsResultFileToTheFirst) {
    XServer x;
    VELMORA_REQUIRE_TOOL(!x.display().empty(), "Xvfb");
    const Fixture& fixture = Fat16Fixture();
    VELMORA_REQUIRE_FIXTURE(fixture);
    const std::string socket = home_ / "walk.sock";
    auto first = Start({"en*loaderflag*"}, x.display(), socket, "first");
    Walk walk(socket);
    ASSERT_TRUE(walk.Connect(Millis(60000))) << first->Output();
    ASSERT_TRUE(walk.WaitVisible("MainXib", Millis(60000))) << first->Output();

    auto second =
        Start({"en*loaderflag*", fixture.resultFile}, x.display(), home_ / "walk2.sock", "second");
    const std::optional<int> status = second->WaitExit(Millis(60000));
    ASSERT_TRUE(status.has_value()) << "the second copy still runs\n" << second->Output();
    EXPECT_EQ(*status, 0) << second->Output();

    EXPECT_TRUE(WaitUntil(
        [&] {
            return first->Output().find("loading the result file " + fixture.resultFile) !=
                   std::string::npos;
        },
        Millis(30000)))
        << first->Output() << "\n--- second ---\n"
        << second->Output();
    // The first program's load takes the file (its progress window, then
    // the browser on the result, or the load's own verdict on it): the
    // same road as Import, in the first program and not in the second.
    std::string windows;
    EXPECT_TRUE(WaitUntil(
        [&] {
            windows = walk.Ask("windows");
            return windows.find("ProgressXib:TCImageWindow:1") != std::string::npos ||
                   windows.find("ExhibitionXib:TCImageWindow:1") != std::string::npos ||
                   walk.Ask("text alert").find("scan result") != std::string::npos;
        },
        Millis(60000)))
        << windows << "\n"
        << first->Output();
    walk.Ask("shot MainXib " + ShotPath("entry_handed_over"));
    EXPECT_EQ(second->Output().find("loading the result file"), std::string::npos)
        << second->Output();
    EXPECT_TRUE(first->Running()) << first->Output();
    const std::optional<int> end = QuitAnsweringAlerts(walk, *first);
    ASSERT_TRUE(end.has_value()) << "still running after quit\n" << first->Output();
    EXPECT_EQ(*end, 0) << first->Output();
}

TEST_F(ProgramEntryE2E, ImportButtonLoadsTheResultFileChosenInItsPanel) {
    XServer x;
    VELMORA_REQUIRE_TOOL(!x.display().empty(), "Xvfb");
    const Fixture& fixture = Fat16Fixture();
    VELMORA_REQUIRE_FIXTURE(fixture);
    const std::string socket = home_ / "walk.sock";
    auto program = Start({"en*loaderflag*"}, x.display(), socket, "import");
    Walk walk(socket);
    ASSERT_TRUE(walk.Connect(Millis(60000))) << program->Output();
    ASSERT_TRUE(walk.WaitVisible("MainXib", Millis(60000))) << program->Output();

    // The title bar's import button opens the panel, where the file is
    // named and taken with Return.
    ASSERT_EQ(walk.Ask("click importButton"), "ok");
    ASSERT_TRUE(walk.WaitVisible("fileNameEdit", Millis(20000))) << walk.Ask("windows");
    EXPECT_EQ(walk.Ask("shot fileNameEdit " + ShotPath("import_panel")).rfind("ok ", 0), 0u);
    ASSERT_EQ(walk.Ask("type fileNameEdit " + fixture.resultFile), "ok");
    ASSERT_EQ(walk.Ask("key fileNameEdit Return"), "ok");
    EXPECT_TRUE(WaitUntil(
        [&] {
            return program->Output().find("loading the result file " + fixture.resultFile) !=
                   std::string::npos;
        },
        Millis(30000)))
        << walk.Ask("windows") << "\n"
        << program->Output();
    EXPECT_TRUE(walk.WaitGone("QFileDialog", Millis(20000))) << walk.Ask("windows");

    EXPECT_EQ(walk.Ask("quit"), "ok");
    EXPECT_EQ(program->WaitExit(Millis(60000)), std::optional<int>(0)) << program->Output();
}

TEST_F(ProgramEntryE2E, WithoutADisplayItSaysSoAndEndsWithAnError) {
    auto program = Start({"en*loaderflag*"}, "", "", "nodisplay");
    const std::optional<int> status = program->WaitExit(Millis(60000));
    ASSERT_TRUE(status.has_value()) << program->Output();
    // An exit code of its own, not an abort (128 + SIGABRT).
    EXPECT_EQ(*status, 1) << program->Output();
    EXPECT_NE(program->Output().find("needs a graphical display"), std::string::npos)
        << program->Output();
}

// A display that is named but has no server behind it: the program and
// the launcher (before it asks for any password) say so and end with 1,
// not with the toolkit's abort and its advice to reinstall.
TEST_F(ProgramEntryE2E, UnreachableDisplayIsSaidPlainlyByProgramAndLauncher) {
    const Installed& installed = InstalledPrograms();
    const struct {
        const char* what;
        std::vector<std::string> argv;
    } cases[] = {{"program", {app_, "en*loaderflag*"}}, {"launcher", {installed.launcher}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto env = ProgramEnvironment(home_.path(), ":99", "");
        Process program(c.argv, env, home_ / (std::string("unreachable_") + c.what));
        const std::optional<int> status = program.WaitExit(Millis(60000));
        ASSERT_TRUE(status.has_value()) << program.Output();
        EXPECT_EQ(*status, 1) << program.Output();
        EXPECT_NE(program.Output().find("DISPLAY=:99) cannot be reached"), std::string::npos)
            << program.Output();
        EXPECT_EQ(program.Output().find("Reinstalling"), std::string::npos) << program.Output();
    }
}

}  // namespace
}  // namespace velmora::e2e
