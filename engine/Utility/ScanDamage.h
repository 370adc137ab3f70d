// How a parser says "this structure is damaged; I skipped it and carried
// on", and how a scan counts those skips. Damaged media are the normal case
// for a recovery tool: a broken directory entry, B-tree node or record must
// cost only what depends on it, and the loss must be visible (in the log
// and in the scan's totals), never passed off as a clean result.
#pragma once

#include <atomic>
#include <cstdint>

namespace vk {

enum class Parse : uint8_t {
    Ok = 0,       // read as it is on disk
    Damaged = 1,  // damaged: skipped (or read in part); the caller goes on
    Failed = 2,   // cannot go on at all (the caller's own structure is gone)
};

// True for results a caller may use.
constexpr bool Usable(Parse p) {
    return p == Parse::Ok;
}

// Counts what one scan skipped. Each skip is logged with the structure, its
// position and the reason; after kMaxLoggedSkips lines per counter further
// skips are only counted (a dying disk may produce millions), and the total
// is logged once by LogSummary().
class DamageCounter {
public:
    static constexpr uint64_t kMaxLoggedSkips = 200;

    explicit DamageCounter(const char* scanName = "scan") : name_(scanName) {}

    // Records one skipped structure and answers Parse::Damaged, so a
    // parser can write `return damage.Skip(...)`.
    Parse Skip(const char* structure, uint64_t position, const char* reason);

    uint64_t Count() const { return count_.load(std::memory_order_relaxed); }
    void Reset() { count_.store(0, std::memory_order_relaxed); }

    // Logs "<scan>: N damaged structures skipped" when N > 0.
    void LogSummary() const;

private:
    const char* name_;
    std::atomic<uint64_t> count_{0};
};

}  // namespace vk
