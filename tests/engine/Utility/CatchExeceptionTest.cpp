#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Utility/CatchExeception.h"
#include "support/TestSupport.h"

namespace {

// Each test process logs into a private folder, so lines of other processes
// (ctest runs them in parallel) cannot mix into what a test reads.
class PrivateWorkFolder : public testing::Environment {
public:
    void SetUp() override {
        dir_ = std::make_unique<velmora::test::TempDir>();
        workPath_ =
            std::make_unique<velmora::test::ScopedEnv>("VELMORA_WORK_PATH", dir_->path().c_str());
    }
    void TearDown() override {
        workPath_.reset();
        dir_.reset();
    }

private:
    std::unique_ptr<velmora::test::TempDir> dir_;
    std::unique_ptr<velmora::test::ScopedEnv> workPath_;
};
const auto* const kWorkFolder = testing::AddGlobalTestEnvironment(new PrivateWorkFolder);

std::string LogPath() {
    return std::string(CatchExeception::GetWorkPath()) + "/sMAC_Velmora.log";
}

// The log's lines that carry `token` (other test processes share the file).
std::vector<std::string> LinesWith(const std::string& token) {
    std::istringstream in(velmora::test::ReadText(LogPath()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (line.find(token) != std::string::npos)
            lines.push_back(line);
    return lines;
}

std::string Token(const char* what) {
    return std::string(what) + "-" + std::to_string(getpid());
}

}  // namespace

TEST(Log, LineHasTimePrefixAndReachesFile) {
    const std::string token = Token("prefix");
    int n = CatchExeception::WriteLog("hello %s %d\n", token.c_str(), 42);
    EXPECT_EQ(n, static_cast<int>(("hello " + token + " 42\n").size()));
    auto lines = LinesWith(token);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9] hello " + token + " 42")))
        << lines[0];
}

TEST(Log, LongMessageIsCutAndFileHoldsExactlyWhatWasKept) {
    const std::string token = Token("long");
    const std::string next = Token("after-long");
    const std::string body = token + std::string(5000 - token.size(), 'x');
    struct Case {
        const char* what;
        std::string end;   // what the message ends with
        std::string kept;  // the last character kept
    } cases[] = {
        {"a cut line keeps its line end", "\n", "\n"},
        {"a message without one gets none", "", "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = velmora::test::ReadFile(LogPath()).size();
        const int n = CatchExeception::WriteLog("%s%s", body.c_str(), c.end.c_str());
        EXPECT_EQ(n, CatchExeception::kMaxMessage);
        const auto log = velmora::test::ReadFile(LogPath());
        // "hh:mm:ss " is 9 characters.
        ASSERT_EQ(log.size() - before, 9u + CatchExeception::kMaxMessage);
        const std::string written(log.begin() + static_cast<long>(before), log.end());
        EXPECT_EQ(written.substr(9, CatchExeception::kMaxMessage - 1),
                  body.substr(0, CatchExeception::kMaxMessage - 1));
        EXPECT_EQ(written.substr(written.size() - 1), c.kept);
        if (c.end.empty())
            CatchExeception::WriteLog("\n");
    }
    // The line after a cut one is a line of its own.
    CatchExeception::WriteLog("%s\n", next.c_str());
    const auto lines = LinesWith(next);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(9), next);
}

// Traces are the lines the Parts print to standard output: never the log
// file, and silent for the whole process when switched off.
TEST(Log, TracesGoToStandardOutputOnly) {
    const std::string token = Token("trace");
    testing::internal::CaptureStdout();
    CatchExeception::Trace("traced %s\n", token.c_str());
    CatchExeception::SetTracesEnabled(false);
    CatchExeception::Trace("silenced %s\n", token.c_str());
    CatchExeception::SetTracesEnabled(true);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("traced " + token + "\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("silenced " + token), std::string::npos) << out;
    EXPECT_TRUE(LinesWith(token).empty());
}

TEST(Log, ConcurrentWritersProduceWholeLines) {
    const std::string token = Token("conc");
    constexpr int kThreads = 8, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i)
                CatchExeception::WriteLog("%s t%d i%d %s\n", token.c_str(), t, i,
                                          std::string(100, 'a' + t).c_str());
        });
    for (auto& th : threads)
        th.join();
    auto lines = LinesWith(token);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex whole("[0-9:]{8} " + token + " t([0-7]) i[0-9]+ ([a-h]{100})");
    std::vector<int> perThread(kThreads);
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        int t = std::stoi(m[1]);
        EXPECT_EQ(m[2].str(), std::string(100, 'a' + t));
        ++perThread[t];
    }
    for (int count : perThread)
        EXPECT_EQ(count, kLines);
}

TEST(Log, CrashLoggerAnnouncesProcess) {
    CatchExeception::Instance();
    auto lines = LinesWith("process[");
    bool found = false;
    for (const auto& l : lines)
        if (l.find(":" + std::to_string(getpid()) + "] started") != std::string::npos)
            found = true;
    EXPECT_TRUE(found);
    EXPECT_EQ(CatchExeception::Install(), 0);
}

TEST(LogDeath, CrashHandlerPrintsStackAndDies) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            CatchExeception::Install();
            raise(SIGSEGV);
        },
        "");
}
