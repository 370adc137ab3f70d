// A found file's extents: runs of clusters (or sectors) on the device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

// One extent, in the units of the file system that found it. A negative
// start marks a part of the file with no data on disk. Two kinds:
//   - sparse (kSparseRunStart, or any other negative value): the file system
//     itself defines those bytes as zeros (NTFS sparse runs, APFS holes);
//   - lost (kLostRunStart): the file has data there, but it could not be
//     located (a broken allocation chain, a run overlapping another). Readers
//     give zeros for it too, but report the range as lost (LostRanges.h), so
//     the file is never passed off as complete.
// A lost run keeps every later run at its right place in the file.
constexpr long long kSparseRunStart = -1;
constexpr long long kLostRunStart = -2;

struct DataRun {
    DataRun() = default;
    DataRun(long long s, long long len) : start(s), length(len) {}
    bool IsLost() const { return start == kLostRunStart; }
    long long start = 0;
    long long length = 0;
};

// Run-list kinds answered by GetDataRunListType().
enum DataRunListType : int {
    DATARUN_LIST_NTFS_RESIDENT = 1,
    // The same kind as the core names it: data kept inside a metadata record.
    DATARUN_LIST_RESIDENT = DATARUN_LIST_NTFS_RESIDENT,
    DATARUN_LIST_NTFS_NONRESIDENT = 2,
    DATARUN_LIST_PLAIN = 5,
};

class IDataRunList {
public:
    virtual ~IDataRunList() = default;
    // Moves the cursor to the first run; null for an empty list.
    virtual const DataRun* GetFirst() = 0;
    // Advances the cursor; null once it is past the last run.
    virtual const DataRun* GetNext() = 0;
    virtual int IsDone() = 0;
    virtual int IsResident() = 0;
    virtual IDataRunList* Clone() = 0;
    virtual void AddDataRun(const DataRun* run) = 0;
    virtual long long GetOffset() = 0;
    virtual int GetDataRunListType() = 0;
    virtual void Release() = 0;
};

// The plain run list every file system can use.
class CDataRunList : public IDataRunList {
public:
    CDataRunList() = default;
    ~CDataRunList() override = default;

    const DataRun* GetFirst() override;
    const DataRun* GetNext() override;
    int IsDone() override;
    int IsResident() override { return resident_; }
    IDataRunList* Clone() override;
    // Appends a copy, or lengthens the last run when the new one continues
    // it. A null run and a run of zero or negative length are ignored. A run
    // that overlaps one already listed, or whose end cannot be addressed,
    // becomes a lost run of the same length (logged): reading it would copy
    // the same clusters twice, and dropping it would move every later run to
    // the wrong place in the file.
    void AddDataRun(const DataRun* run) override;
    long long GetOffset() override { return 0; }
    int GetDataRunListType() override { return DATARUN_LIST_PLAIN; }
    void Release() override { delete this; }

    // Number of runs held.
    size_t GetCount() const { return runs_.size(); }
    // Whether any run is lost: the file's data is known to be incomplete.
    bool HasLostRun() const { return lostRuns_ != 0; }
    // Sum of the run lengths (units of the owning file system).
    long long GetTotalLength() const;
    // The run holding the unit at `offset` counted from the start of the
    // file (the sum of the lengths of the runs before it plus the place
    // inside it); null past the end. `within` receives the place inside the
    // run. The cursor is not moved.
    const DataRun* FindRunByOffset(long long offset, long long* within = nullptr) const;

private:
    // True when [start, start + length) meets an allocated run already held.
    bool Overlaps(long long start, long long length) const;

    int resident_ = 0;
    size_t lostRuns_ = 0;
    std::vector<DataRun> runs_;
    size_t cursor_ = 0;
    // Allocated extents by start, to find overlaps without a linear walk.
    std::map<long long, long long> allocated_;
};

// A new empty CDataRunList.
IDataRunList* CreateDataRunList();
