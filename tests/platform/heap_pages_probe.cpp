// Started by HeapPagesTest: prints the environment each start of it sees,
// before and after the start with a heap in huge pages is asked for.
#include <cstdio>
#include <cstdlib>

#include "platform/HeapPages.h"

namespace {
void Print(const char* when, int argc, char** argv) {
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    const char* mark = std::getenv(velmora::platform::kHeapPagesMark);
    std::printf("%s tunables=%s mark=%s args=%d", when, tunables ? tunables : "(unset)",
                mark ? mark : "(unset)", argc);
    for (int i = 1; i < argc; ++i)
        std::printf(" %s", argv[i]);
    std::printf("\n");
    std::fflush(stdout);
}
}  // namespace

int main(int argc, char** argv) {
    Print("entry", argc, argv);
    velmora::platform::StartWithHugePageHeap(argv);
    Print("after", argc, argv);
    return 0;
}
