#include "Utility/ScanDamage.h"

#include "Utility/CatchExeception.h"

namespace vk {

Parse DamageCounter::Skip(const char* structure, uint64_t position, const char* reason) {
    const uint64_t n = count_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (n <= kMaxLoggedSkips) {
        CatchExeception::WriteLog(
            "%s: damaged %s at %llu skipped: %s\n", name_, structure ? structure : "structure",
            static_cast<unsigned long long>(position), reason ? reason : "unreadable");
    } else if (n == kMaxLoggedSkips + 1) {
        CatchExeception::WriteLog("%s: further damaged structures are counted, not logged\n",
                                  name_);
    }
    return Parse::Damaged;
}

void DamageCounter::LogSummary() const {
    const uint64_t n = Count();
    if (n > 0) {
        CatchExeception::WriteLog("%s: %llu damaged structures skipped\n", name_,
                                  static_cast<unsigned long long>(n));
    }
}

}  // namespace vk
