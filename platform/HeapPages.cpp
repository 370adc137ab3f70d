#include "HeapPages.h"

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

namespace velmora::platform {

namespace {

constexpr const char* kTunables = "GLIBC_TUNABLES";
constexpr const char* kHugeHeap = "glibc.malloc.hugetlb";
// The mark's value when the tunables were unset, and the prefix before their
// value when they were set (an empty value is a value).
constexpr const char* kWasUnset = "unset";
constexpr const char* kWasSet = "set:";

}  // namespace

std::string TunablesWithHugePageHeap(const char* current) {
    const std::string now = current != nullptr ? current : "";
    if (now.find(kHugeHeap) != std::string::npos)
        return {};
    const std::string ask = std::string(kHugeHeap) + "=1";
    return now.empty() ? ask : now + ":" + ask;
}

bool HugePagesOnRequest(const std::string& enabledText) {
    // "always [madvise] never": the bracketed word is the mode in force.
    return enabledText.find("[always]") != std::string::npos ||
           enabledText.find("[madvise]") != std::string::npos;
}

void StartWithHugePageHeap(char** argv) {
    if (const char* mark = std::getenv(kHeapPagesMark)) {
        // The second start: the library has read its tunables.
        const std::string before = mark;
        if (before.rfind(kWasSet, 0) == 0)
            ::setenv(kTunables, before.c_str() + std::strlen(kWasSet), 1);
        else
            ::unsetenv(kTunables);
        ::unsetenv(kHeapPagesMark);
        return;
    }
    if (argv == nullptr || argv[0] == nullptr)
        return;
    std::ifstream enabled("/sys/kernel/mm/transparent_hugepage/enabled");
    const std::string text((std::istreambuf_iterator<char>(enabled)),
                           std::istreambuf_iterator<char>());
    if (!HugePagesOnRequest(text))
        return;
    const char* current = std::getenv(kTunables);
    const std::string tunables = TunablesWithHugePageHeap(current);
    if (tunables.empty())
        return;
    // The mark also ends the restarts where the library ignores its
    // tunables (a program started with raised rights drops them).
    const std::string mark = current != nullptr ? std::string(kWasSet) + current : kWasUnset;
    const std::string keep = current != nullptr ? current : "";
    if (::setenv(kHeapPagesMark, mark.c_str(), 1) != 0)
        return;
    if (::setenv(kTunables, tunables.c_str(), 1) == 0)
        ::execv("/proc/self/exe", argv);
    // Not started again: go on as we are, with the environment as it was.
    if (current != nullptr)
        ::setenv(kTunables, keep.c_str(), 1);
    else
        ::unsetenv(kTunables);
    ::unsetenv(kHeapPagesMark);
}

void PrefaultPages(const std::vector<std::pair<void*, size_t>>& ranges) {
#ifdef MADV_POPULATE_WRITE
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pageSize <= 0)
        return;
    const uintptr_t page = static_cast<uintptr_t>(pageSize);
    // Pieces end on 2 MiB boundaries, so that no huge page is split between
    // two threads (the second would wait for the first).
    constexpr uintptr_t kPiece = uintptr_t{2} << 20;
    std::vector<std::pair<uintptr_t, size_t>> pieces;
    for (const auto& [start, length] : ranges) {
        const auto at = reinterpret_cast<uintptr_t>(start);
        if (start == nullptr || length == 0 || length > UINTPTR_MAX - at)
            continue;
        const uintptr_t from = (at + page - 1) / page * page;
        const uintptr_t to = (at + length) / page * page;
        for (uintptr_t p = from; p < to;) {
            const uintptr_t end = std::min(to, (p / kPiece + 1) * kPiece);
            pieces.emplace_back(p, static_cast<size_t>(end - p));
            p = end;
        }
    }
    if (pieces.empty())
        return;
    std::atomic<size_t> next{0};
    std::atomic<bool> unsupported{false};
    const auto work = [&] {
        for (size_t i = next++; i < pieces.size() && !unsupported; i = next++) {
            void* start = reinterpret_cast<void*>(pieces[i].first);
            // Kernels before 5.14 do not know the advice: leave every page to
            // its first touch.
            if (::madvise(start, pieces[i].second, MADV_POPULATE_WRITE) != 0 && errno == EINVAL)
                unsupported = true;
        }
    };
    // A few threads are enough to keep the host busy; more only wait. Each
    // takes a few pieces at least, or starting it costs more than it saves.
    constexpr size_t kMaxThreads = 4;
    constexpr size_t kPiecesPerThread = 4;
    size_t cpus = kMaxThreads;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof(allowed), &allowed) == 0)
        cpus = static_cast<size_t>(std::max(1, CPU_COUNT(&allowed)));
    const size_t helpers =
        std::min({kMaxThreads, cpus, (pieces.size() + kPiecesPerThread - 1) / kPiecesPerThread}) -
        1;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < helpers; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer threads do the same work
        }
    }
    work();
    for (std::thread& t : threads)
        t.join();
#else
    (void)ranges;
#endif
}

}  // namespace velmora::platform
