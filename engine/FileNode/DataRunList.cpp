#include "DataRun.h"

#include <limits>

#include "Utility/CatchExeception.h"

IDataRunList* CreateDataRunList() {
    return new CDataRunList();
}

const DataRun* CDataRunList::GetFirst() {
    cursor_ = 0;
    return runs_.empty() ? nullptr : &runs_[0];
}

const DataRun* CDataRunList::GetNext() {
    if (cursor_ < runs_.size())
        ++cursor_;
    return cursor_ < runs_.size() ? &runs_[cursor_] : nullptr;
}

int CDataRunList::IsDone() {
    return cursor_ >= runs_.size() ? 1 : 0;
}

IDataRunList* CDataRunList::Clone() {
    auto* copy = new CDataRunList();
    for (const DataRun& run : runs_)
        copy->AddDataRun(&run);
    return copy;
}

bool CDataRunList::Overlaps(long long start, long long length) const {
    const long long end = start + length;
    // The first extent starting at or after `start`, and the one before it.
    auto it = allocated_.lower_bound(start);
    if (it != allocated_.end() && it->first < end)
        return true;
    if (it != allocated_.begin()) {
        --it;
        if (it->first + it->second > start)
            return true;
    }
    return false;
}

void CDataRunList::AddDataRun(const DataRun* run) {
    if (!run)
        return;
    if (run->length <= 0) {
        CatchExeception::WriteLog("CDataRunList: run (%lld, %lld) has no length, ignored\n",
                                  run->start, run->length);
        return;
    }
    DataRun added = *run;
    if (added.start >= 0) {
        const char* why = nullptr;
        if (added.start > std::numeric_limits<long long>::max() - added.length)
            why = "runs past the address space";
        else if (Overlaps(added.start, added.length))
            why = "overlaps an earlier run";
        if (why) {
            CatchExeception::WriteLog("CDataRunList: run (%lld, %lld) %s, kept as lost\n",
                                      added.start, added.length, why);
            added.start = kLostRunStart;
        }
    }
    const bool allocated = added.start >= 0;
    if (!runs_.empty()) {
        DataRun& last = runs_.back();
        if (allocated && last.start >= 0 && last.start + last.length == added.start &&
            last.length <= std::numeric_limits<long long>::max() - added.length) {
            allocated_[last.start] += added.length;
            last.length += added.length;
            return;
        }
    }
    runs_.push_back(added);
    if (allocated)
        allocated_[added.start] = added.length;
    else if (added.IsLost())
        ++lostRuns_;
}

long long CDataRunList::GetTotalLength() const {
    long long total = 0;
    for (const DataRun& run : runs_) {
        if (run.length > std::numeric_limits<long long>::max() - total)
            return std::numeric_limits<long long>::max();
        total += run.length;
    }
    return total;
}

const DataRun* CDataRunList::FindRunByOffset(long long offset, long long* within) const {
    if (offset < 0)
        return nullptr;
    long long begin = 0;
    for (const DataRun& run : runs_) {
        if (offset - begin < run.length) {
            if (within)
                *within = offset - begin;
            return &run;
        }
        begin += run.length;
    }
    return nullptr;
}
