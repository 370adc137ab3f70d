// Small helpers shared by the tests: private temporary folders and files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// For a check that is made only when a tool is there: true when `present`;
// otherwise false, and a failure of the test when tools are required.
#define VELMORA_HAVE_TOOL(present, what)  \
    ((present) ||                         \
     (::velmora::test::ToolsRequired() && \
      (ADD_FAILURE() << what << " is not installed, and this run requires it", false)))

namespace velmora::test {

// A private folder made with mkdtemp, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFile(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadFile(const std::string& path);
std::string ReadText(const std::string& path);

// The source tree's root (tests find fixture scripts through it).
std::string SourceDir();
// The build tree's root.
std::string BinaryDir();

// Runs a program from an argument vector (never a shell string); whether it
// exited with 0, and its standard output when asked for.
bool RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// True when running as root (loop devices, mounts).
bool IsRoot();

// Sets (or, with nullptr, removes) an environment variable for its lifetime
// and gives back the value it had, or its absence, at the end.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    void Set(const char* value);

private:
    std::string name_, saved_;
    bool hadValue_ = false;
};

// Whether an outside tool a test checks against (Sleuth Kit, mkfs.*) must be
// there: VELMORA_REQUIRE_TOOLS=1, set by the CI run, which installs them all.
// Elsewhere a missing tool skips the check.
bool ToolsRequired();

}  // namespace velmora::test

// Skips the test when `present` is false, or fails it when tools are
// required (see ToolsRequired): a comparison must not pass unseen in CI.
#define VELMORA_REQUIRE_TOOL(present, what)                                      \
    do {                                                                         \
        if (!(present)) {                                                        \
            if (::velmora::test::ToolsRequired())                                \
                FAIL() << what << " is not installed, and this run requires it"; \
            else                                                                 \
                GTEST_SKIP() << what << " is not installed";                     \
        }                                                                        \
    } while (0)

namespace velmora::test {}  // namespace velmora::test
