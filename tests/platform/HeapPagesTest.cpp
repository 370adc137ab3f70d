#include "platform/HeapPages.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using velmora::platform::HugePagesOnRequest;
using velmora::platform::TunablesWithHugePageHeap;

TEST(HeapPagesTest, TheTunablesAskForHugePagesUnlessTheyDecideAlready) {
    struct Case {
        const char* now;
        const char* want;
    };
    const Case cases[] = {
        {nullptr, "glibc.malloc.hugetlb=1"},
        {"", "glibc.malloc.hugetlb=1"},
        {"glibc.malloc.arena_max=2", "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1"},
        // Whoever set it decided: also for "no".
        {"glibc.malloc.hugetlb=0", ""},
        {"glibc.malloc.arena_max=2:glibc.malloc.hugetlb=2", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TunablesWithHugePageHeap(c.now), c.want) << (c.now ? c.now : "(unset)");
}

TEST(HeapPagesTest, OnlyAModeThatGivesPagesOnRequestCounts) {
    EXPECT_TRUE(HugePagesOnRequest("always [madvise] never\n"));
    EXPECT_TRUE(HugePagesOnRequest("[always] madvise never\n"));
    EXPECT_FALSE(HugePagesOnRequest("always madvise [never]\n"));
    EXPECT_FALSE(HugePagesOnRequest(""));
}

// Runs the probe with GLIBC_TUNABLES as given (null: unset) and returns
// what it printed.
std::string RunProbe(const char* tunables) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::unsetenv(velmora::platform::kHeapPagesMark);
        if (tunables != nullptr)
            ::setenv("GLIBC_TUNABLES", tunables, 1);
        else
            ::unsetenv("GLIBC_TUNABLES");
        char* argv[] = {const_cast<char*>(VELMORA_HEAP_PAGES_PROBE), const_cast<char*>("a b"),
                        const_cast<char*>("--x"), nullptr};
        ::execv(VELMORA_HEAP_PAGES_PROBE, argv);
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof(buffer))) > 0;)
        out.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    return out;
}

TEST(HeapPagesTest, TheProgramStartsOnceMoreWithTheArgumentsAndThenPutsTheEnvironmentBack) {
    std::ifstream enabled("/sys/kernel/mm/transparent_hugepage/enabled");
    const std::string mode((std::istreambuf_iterator<char>(enabled)),
                           std::istreambuf_iterator<char>());
    if (!HugePagesOnRequest(mode)) {
        EXPECT_EQ(RunProbe(nullptr),
                  "entry tunables=(unset) mark=(unset) args=3 a b --x\n"
                  "after tunables=(unset) mark=(unset) args=3 a b --x\n");
        GTEST_SKIP() << "this system gives no huge pages: " << mode;
    }
    EXPECT_EQ(RunProbe(nullptr),
              "entry tunables=(unset) mark=(unset) args=3 a b --x\n"
              "entry tunables=glibc.malloc.hugetlb=1 mark=unset args=3 a b --x\n"
              "after tunables=(unset) mark=(unset) args=3 a b --x\n");
    EXPECT_EQ(RunProbe("glibc.malloc.arena_max=2"),
              "entry tunables=glibc.malloc.arena_max=2 mark=(unset) args=3 a b --x\n"
              "entry tunables=glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1 "
              "mark=set:glibc.malloc.arena_max=2 args=3 a b --x\n"
              "after tunables=glibc.malloc.arena_max=2 mark=(unset) args=3 a b --x\n");
    // Decided already: one start.
    EXPECT_EQ(RunProbe("glibc.malloc.hugetlb=0"),
              "entry tunables=glibc.malloc.hugetlb=0 mark=(unset) args=3 a b --x\n"
              "after tunables=glibc.malloc.hugetlb=0 mark=(unset) args=3 a b --x\n");
}

}  // namespace
