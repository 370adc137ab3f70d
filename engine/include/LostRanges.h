// The incomplete-file report: which byte ranges of a recovered file could
// not be given back.
//
// A recovery tool works on damaged media. When part of a file's data cannot
// be read (an unreadable sector), cannot be located (a broken allocation
// chain, a run that overlaps another, data past the end of a cut image) or
// cannot exist (a recorded size the volume cannot hold), the file still
// comes back with every byte that could be read, and the rest is reported
// here instead of being passed off as data:
//
//   - a file reader (IFileReader) delivers zeros for such bytes, sets its
//     error to kReadDataLost and adds their range to its GetLostRanges();
//   - the data-recovery object (IDataRecovery::RecoverTo) writes the file
//     with zeros there, returns module 0x0d error kErrRecoveryIncomplete
//     (0xd04) and lists the ranges in IDataRecovery::GetLostRanges();
//   - the event relay carries kEventFileIncomplete with the file's path and
//     the number of lost bytes to the interface (Utility/MessageCenter.h).
//
// Offsets are bytes from the start of the file as its metadata describes
// it. A range may lie past the end of the written file: a size cut to what
// the volume can hold is reported as the range from the cut to the recorded
// size.
//
// File systems say what they already know at scan time through their run
// lists: a run whose start is kLostRunStart (DataRun.h) stands for data the
// file has but that could not be located; readers fill it with zeros and
// report it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

struct LostRange {
    long long offset = 0;
    long long length = 0;
    bool operator==(const LostRange& o) const { return offset == o.offset && length == o.length; }
};

// Sorted, disjoint, merged byte ranges.
class CLostRanges {
public:
    // A dying disk can fail every other sector; beyond this many separate
    // ranges a new range is joined to its nearest neighbour, so a range may
    // then also cover bytes that were read.
    static constexpr size_t kMaxRanges = 4096;

    // Adds [offset, offset + length); empty or negative ranges are ignored.
    void Add(long long offset, long long length) {
        if (length <= 0 || offset < 0)
            return;
        long long end = offset + length;
        if (end < offset)
            end = static_cast<long long>(~0ULL >> 1);
        // First range that ends at or after the new start: everything from
        // there that starts at or before the new end is merged into it.
        auto first = std::lower_bound(
            ranges_.begin(), ranges_.end(), offset,
            [](const LostRange& r, long long at) { return r.offset + r.length < at; });
        auto last = first;
        while (last != ranges_.end() && last->offset <= end) {
            offset = std::min(offset, last->offset);
            end = std::max(end, last->offset + last->length);
            ++last;
        }
        first = ranges_.erase(first, last);
        if (ranges_.size() >= kMaxRanges) {
            // Join with the neighbour before (or after, at the front).
            auto near = first == ranges_.begin() ? first : first - 1;
            const long long from = std::min(near->offset, offset);
            const long long to = std::max(near->offset + near->length, end);
            near->offset = from;
            near->length = to - from;
            return;
        }
        ranges_.insert(first, LostRange{offset, end - offset});
    }
    void Add(const CLostRanges& other) {
        for (const LostRange& r : other.ranges_)
            Add(r.offset, r.length);
    }
    const std::vector<LostRange>& Ranges() const { return ranges_; }
    long long TotalBytes() const {
        long long total = 0;
        for (const LostRange& r : ranges_)
            total += r.length;
        return total;
    }
    bool Empty() const { return ranges_.empty(); }
    void Clear() { ranges_.clear(); }

private:
    std::vector<LostRange> ranges_;
};
