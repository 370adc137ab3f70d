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
    const bool allocated = run->start >= 0;
    if (allocated) {
        if (run->start > std::numeric_limits<long long>::max() - run->length) {
            CatchExeception::WriteLog(
                "CDataRunList: run (%lld, %lld) runs past the address space, ignored\n", run->start,
                run->length);
            return;
        }
        if (Overlaps(run->start, run->length)) {
            CatchExeception::WriteLog(
                "CDataRunList: run (%lld, %lld) overlaps an earlier run, ignored\n", run->start,
                run->length);
            return;
        }
    }
    if (!runs_.empty()) {
        DataRun& last = runs_.back();
        if (allocated && last.start >= 0 && last.start + last.length == run->start &&
            last.length <= std::numeric_limits<long long>::max() - run->length) {
            allocated_[last.start] += run->length;
            last.length += run->length;
            return;
        }
    }
    runs_.push_back(*run);
    if (allocated)
        allocated_[run->start] = run->length;
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
