#include "platform/HeapPages.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

TEST(HeapPagesTest, PrefaultedPagesArePresentWithTheirBytesKept) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t bytes = size_t{9} << 20;  // more pieces than one thread takes
    void* fresh =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(fresh, MAP_FAILED);
    auto* base = static_cast<uint8_t*>(fresh);
#ifdef MADV_POPULATE_WRITE
    if (::madvise(base, page, MADV_POPULATE_WRITE) != 0 && errno == EINVAL) {
        ::munmap(fresh, bytes);
        GTEST_SKIP() << "this kernel cannot populate pages without writing them";
    }
#endif
    // Bytes already written in the first pages, and in the pages that the
    // ranges cover only in part (those are left to their first touch).
    for (size_t i = 0; i < 3 * page; ++i)
        base[i] = static_cast<uint8_t>(i * 7 + 1);
    base[bytes - 1] = 0x5A;
    velmora::platform::PrefaultPages({{base + 10, 3 * page},
                                      {base + 3 * page, bytes - 3 * page - 1},
                                      {nullptr, bytes},
                                      {base, 0}});
    std::vector<unsigned char> present(bytes / page);
    ASSERT_EQ(::mincore(base, bytes, present.data()), 0);
    size_t missing = 0;
    for (size_t i = 0; i + 1 < present.size(); ++i)
        missing += (present[i] & 1) == 0;
    EXPECT_EQ(missing, 0u) << "of " << present.size() - 1 << " whole pages";
    for (size_t i = 0; i < 3 * page; ++i)
        ASSERT_EQ(base[i], static_cast<uint8_t>(i * 7 + 1)) << i;
    EXPECT_EQ(base[3 * page], 0);
    EXPECT_EQ(base[bytes - 2], 0);
    EXPECT_EQ(base[bytes - 1], 0x5A);
    ::munmap(fresh, bytes);
}

}  // namespace
