#include "HeapPages.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

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

}  // namespace velmora::platform
