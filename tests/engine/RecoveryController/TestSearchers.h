// Searchers that record what a scan controller asks of them, registered in
// the factory table by the tests only.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "EngineFactories.h"
#include "IStorageDevice.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"

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
    }
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override {
        return AnswerSearchedPartitionQuery(1, out, capacity,
                                            [](int) { return new CSearchedPartitionInfo(512); });
    }
    VKRESULT QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override {
        SearcherLog().push_back(
            {fsType_, "QuickSearchFiles", volume != nullptr, progress != nullptr});
        return Answer();
    }
    static VKRESULT& Answer() {
        static VKRESULT answer = VK_OK;
        return answer;
    }

private:
    int fsType_;
};

// Quick factories tag their searcher with the file-system family asked for.
template <int FsType>
IQuickFileSystemSearchController* MakeFakeQuickSearcher() {
    return new FakeQuickSearcher(FsType);
}

// Puts the factory table back as it was when the test ends.
class FactoryTableScope {
public:
    FactoryTableScope() : saved_(EngineFactories()) {
        EngineFactories() = EngineFactoryTable{};
        SearcherLog().clear();
        RecordingDeepSearcher::Live().clear();
        FakeQuickSearcher::Answer() = VK_OK;
    }
    ~FactoryTableScope() { EngineFactories() = saved_; }
    FactoryTableScope(const FactoryTableScope&) = delete;
    FactoryTableScope& operator=(const FactoryTableScope&) = delete;

    // Every deep searcher, recording.
    static void InstallAllDeep() {
        EngineFactoryTable& t = EngineFactories();
        t.createHFSPlusSearcher = &MakeRecordingDeepSearcher<SEARCHER_HFSPLUS>;
        t.createEXFatSearcher = &MakeRecordingDeepSearcher<SEARCHER_EXFAT>;
        t.createFATSearcher = &MakeRecordingDeepSearcher<SEARCHER_FAT>;
        t.createRAWSearcher = &MakeRecordingDeepSearcher<SEARCHER_RAW>;
        t.createNTFSSearcher = &MakeRecordingDeepSearcher<SEARCHER_NTFS>;
        t.createAPFSDeepSearcher = &MakeRecordingDeepSearcher<SEARCHER_APFS>;
    }

private:
    EngineFactoryTable saved_;
};

}  // namespace velmora::test
