// Searchers that record what a scan controller asks of them, put into the
// searcher rows by the tests only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "IStorageDevice.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "SearcherRow.h"
#include "support/PlannedSearcherRows.h"

namespace velmora::test {

// One call a searcher received, in the order the controller made them.
struct SearcherCall {
    int type;          // searcher type of the searcher that got it
    std::string what;  // operation name
    long long a = 0;
    long long b = 0;
};

// The calls of every recording searcher of the running test, across all of
// them, in order; destruction is logged too.
inline std::vector<SearcherCall>& SearcherLog() {
    static std::vector<SearcherCall> log;
    return log;
}

// Writes the sector number into the first and last 8 bytes of every sector.
inline std::vector<uint8_t> StampedSectors(long long sectors, int sectorSize) {
    std::vector<uint8_t> bytes(static_cast<size_t>(sectors) * static_cast<size_t>(sectorSize));
    for (long long s = 0; s < sectors; ++s) {
        uint8_t* p = bytes.data() + s * sectorSize;
        std::memcpy(p, &s, 8);
        std::memcpy(p + sectorSize - 8, &s, 8);
    }
    return bytes;
}

class RecordingDeepSearcher : public ICompleteFileSystemSearchController {
public:
    explicit RecordingDeepSearcher(int type) : type_(type) {}
    ~RecordingDeepSearcher() override { Log("destroyed"); }

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override {
        builder_ = builder;
        Log("SetDirecotryTreeBuilder", builder != nullptr);
    }
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override {
        return AnswerSearchedPartitionQuery(1, out, capacity, [](int) {
            auto* record = new CSearchedPartitionInfo(512);
            record->sectorsPerCluster = 8;
            record->totalSectors = 1 << 20;
            return record;
        });
    }
    void SetDevice(IStorageDevice* device) override {
        device_ = device;
        Log("SetDevice", device != nullptr ? device->GetType() : -1);
    }
    void SetBlockSize(int sectorsPerBlock) override { Log("SetBlockSize", sectorsPerBlock); }
    void PreparetoSearch() override { Log("PreparetoSearch"); }
    void EndSearch(int build) override { Log("EndSearch", build); }
    void AnalyzeBlock(long long firstSector, long long sectorCount) override {
        Log("AnalyzeBlock", firstSector, sectorCount);
        if (device_ == nullptr || device_->GetSectorSize() <= 0 || sectorCount <= 0)
            return;
        // The block must be what the device holds at those sectors.
        const int ssz = device_->GetSectorSize();
        std::vector<uint8_t> data(static_cast<size_t>(sectorCount) * static_cast<size_t>(ssz));
        if (device_->ReadSector(data.data(), firstSector, sectorCount) == 0) {
            ++badBlocks;
            return;
        }
        for (long long i = 0; i < sectorCount; ++i) {
            long long head = 0;
            long long tail = 0;
            std::memcpy(&head, data.data() + i * ssz, 8);
            std::memcpy(&tail, data.data() + (i + 1) * ssz - 8, 8);
            if (head != firstSector + i || tail != firstSector + i) {
                ++badBlocks;
                return;
            }
        }
    }
    void SetIProgressSink(IProgress* progress) override {
        progress_ = progress;
        Log("SetIProgressSink", progress != nullptr);
    }
    void SetBitmap(TBitmap* bitmap) override {
        bitmap_ = bitmap;
        Log("SetBitmap", bitmap != nullptr);
    }
    void SetFileSectorMap(FileSectorMap* map) override {
        map_ = map;
        Log("SetFileSectorMap", map != nullptr);
    }
    bool SetActivePartition(bool active) override {
        Log("SetActivePartition", active);
        return active;
    }

    // Blocks whose bytes were not the device's.
    int badBlocks = 0;
    IDirecotryTreeBuilder* builder_ = nullptr;
    IStorageDevice* device_ = nullptr;
    IProgress* progress_ = nullptr;
    TBitmap* bitmap_ = nullptr;
    FileSectorMap* map_ = nullptr;

    // Searchers alive now, in creation order.
    static std::vector<RecordingDeepSearcher*>& Live() {
        static std::vector<RecordingDeepSearcher*> live;
        return live;
    }

private:
    void Log(const char* what, long long a = 0, long long b = 0) {
        SearcherLog().push_back({type_, what, a, b});
    }
    int type_;
};

template <int Type>
ICompleteFileSystemSearchController* MakeRecordingDeepSearcher() {
    auto* searcher = new RecordingDeepSearcher(Type);
    RecordingDeepSearcher::Live().push_back(searcher);
    return searcher;
}

// A quick searcher that answers a set result code.
class FakeQuickSearcher : public IQuickFileSystemSearchController {
public:
    explicit FakeQuickSearcher(int fsType) : fsType_(fsType) {}
    ~FakeQuickSearcher() override { SearcherLog().push_back({fsType_, "destroyed"}); }
    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override {
        SearcherLog().push_back({fsType_, "SetDirecotryTreeBuilder", builder != nullptr});
        builder_ = builder;
    }
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override {
        return AnswerSearchedPartitionQuery(1, out, capacity,
                                            [](int) { return new CSearchedPartitionInfo(512); });
    }
    // Ends as every quick search does (unless told to forget): the finished
    // record of a walk of 7 units.
    VKRESULT QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override {
        SearcherLog().push_back(
            {fsType_, "QuickSearchFiles", volume != nullptr, progress != nullptr});
        if (Finishes())
            FinishQuickSearch(builder_, SEARCHER_NONE, nullptr, volume, progress, 7, 7, Answer());
        return Answer();
    }
    static VKRESULT& Answer() {
        static VKRESULT answer = VK_OK;
        return answer;
    }
    static bool& Finishes() {
        static bool finishes = true;
        return finishes;
    }

private:
    int fsType_;
    IDirecotryTreeBuilder* builder_ = nullptr;
};

// Quick factories tag their searcher with the file-system family asked for.
template <int FsType>
IQuickFileSystemSearchController* MakeFakeQuickSearcher() {
    return new FakeQuickSearcher(FsType);
}

// The planned rows without any factory for the life of a test; the test
// gives searchers to the rows it needs. The rows in place before are put
// back when it ends.
class FactoryTableScope {
public:
    FactoryTableScope() : rows_(PlannedRows()) {
        SearcherLog().clear();
        RecordingDeepSearcher::Live().clear();
        FakeQuickSearcher::Answer() = VK_OK;
        FakeQuickSearcher::Finishes() = true;
    }
    FactoryTableScope(const FactoryTableScope&) = delete;
    FactoryTableScope& operator=(const FactoryTableScope&) = delete;

    // Changes the installed row of `type` (a row is added when none has it).
    template <typename Edit>
    static void EditRow(_tagSearcherType type, Edit edit) {
        std::vector<SearcherRow> rows = vk::InstalledSearcherRows();
        auto it = std::find_if(rows.begin(), rows.end(),
                               [type](const SearcherRow& r) { return r.type == type; });
        if (it == rows.end()) {
            rows.push_back(PlannedRow(type));
            it = rows.end() - 1;
        }
        edit(*it);
        vk::InstallSearcherRows(std::move(rows));
    }

    // A recording deep searcher for the row of `type`.
    static void SetRecordingDeep(_tagSearcherType type) {
        EditRow(type, [type](SearcherRow& r) { r.createDeepSearcher = RecordingFactory(type); });
    }

    // Every deep searcher, recording.
    static void InstallAllDeep() {
        for (_tagSearcherType type : {SEARCHER_HFSPLUS, SEARCHER_EXFAT, SEARCHER_FAT, SEARCHER_RAW,
                                      SEARCHER_NTFS, SEARCHER_APFS})
            SetRecordingDeep(type);
    }

    // No row at all.
    static void RemoveAll() { vk::InstallSearcherRows({}); }

private:
    static SearcherRow::DeepSearcherFactory RecordingFactory(_tagSearcherType type) {
        switch (type) {
            case SEARCHER_HFSPLUS:
                return &MakeRecordingDeepSearcher<SEARCHER_HFSPLUS>;
            case SEARCHER_EXFAT:
                return &MakeRecordingDeepSearcher<SEARCHER_EXFAT>;
            case SEARCHER_FAT:
                return &MakeRecordingDeepSearcher<SEARCHER_FAT>;
            case SEARCHER_RAW:
                return &MakeRecordingDeepSearcher<SEARCHER_RAW>;
            case SEARCHER_NTFS:
                return &MakeRecordingDeepSearcher<SEARCHER_NTFS>;
            case SEARCHER_APFS:
                return &MakeRecordingDeepSearcher<SEARCHER_APFS>;
            default:
                return nullptr;
        }
    }

    ScopedSearcherRows rows_;
};

}  // namespace velmora::test
