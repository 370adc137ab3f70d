// The C library's heap in transparent huge pages, and fresh memory made
// present before a scan fills it.
//
// A scan makes millions of small nodes and moves blocks of megabytes; in
// 4 KiB pages the first touch of each fresh page costs more than the work
// done in it (on a virtual machine several times more). The C library backs
// its heap with huge pages when its tunables ask for it, which it reads only
// as the program starts: so the program starts itself once more with them.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace velmora::platform {

// The environment variable that carries the value the tunables had before
// the program started itself again (absent in a first start).
inline constexpr const char* kHeapPagesMark = "VELMORA_HEAP_PAGES";

// The tunables asking for a heap in huge pages, given their value now (null:
// unset); empty when they say already what the heap should use.
std::string TunablesWithHugePageHeap(const char* current);

// Whether the system gives huge pages to memory that asks for them, from the
// text of /sys/kernel/mm/transparent_hugepage/enabled.
bool HugePagesOnRequest(const std::string& enabledText);

// Call first in main, before any thread starts. In a first start, when the
// system gives huge pages and the tunables do not decide already, replaces
// the process with the same program and arguments and the tunables set (it
// does not return then). In the second start, puts the environment back as
// it was, so that programs started from here do not inherit the setting.
// Returns when the program goes on as it is.
void StartWithHugePageHeap(char** argv);

// Makes the pages of each range present and writable, their contents kept,
// on a few threads at once. Fresh memory pays for its first touch (on a
// virtual machine the host may have to back every page again): megabytes a
// scan is about to fill page by page on one thread cost far less this way.
// Only what lies whole in the ranges' pages is touched; nothing is done
// where the system cannot populate pages without writing them.
void PrefaultPages(const std::vector<std::pair<void*, size_t>>& ranges);

}  // namespace velmora::platform
