// The signature search controller with analysers made for the test: the
// open list and its evictions, the bitmap, pending candidates sized from
// the ring or the device, unreadable blocks, and what reaches the trees.
// Every case runs with the blocks looked at on the caller's thread and on
// the search's own thread; a stop and a pause reach the search thread.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ByteReader.h"
#include "DataRun.h"
#include "IStorageDevice.h"
#include "NotifyCenter.h"
#include "RawFileAnalyserList.h"
#include "RawSearchController.h"
#include "RawTestSupport.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "TBitmap.h"

namespace {

using rawtest::Put32;
using rawtest::PutBytes;
using rawtest::RecordingBuilder;
using velmora::test::MemoryStorageDevice;

constexpr int kSector = 512;

struct Seen {
    std::vector<long long> sectors;
    long long evictedAt = -2;
};
std::vector<Seen>* g_seen = nullptr;
std::vector<int> g_sizedOn;  // device types pending candidates were sized on

// Streams until a sector that begins "END!" (size: through that sector) or
// "GIVE" (no size). Eviction may fix a final size (u32 at 8 of its first
// sector), or keep a running length that is not final.
class StreamInfo : public CRawFileInfo {
public:
    explicit StreamInfo(size_t slot) : slot_(slot) {}
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long a, SearchContext&) override {
        (*g_seen)[slot_].sectors.push_back(a);
        if (a == m_startSector) {
            evictSize_ = vk::LoadLE<uint32_t>(sector + 8);
            running_ = vk::LoadLE<uint32_t>(sector + 12) != 0;
        }
        if (running_)
            m_size = (a - m_startSector + 1) * sectorSize;
        if (std::memcmp(sector, "END!", 4) == 0) {
            m_size = (a - m_startSector + 1) * sectorSize;
            running_ = false;
            return 1;
        }
        if (std::memcmp(sector, "GIVE", 4) == 0) {
            m_size = 0;
            return 1;
        }
        return 2;
    }
    void WillBeRemove(unsigned char*, long long a) override {
        (*g_seen)[slot_].evictedAt = a;
        if (evictSize_ != 0) {
            m_size = evictSize_;
            running_ = false;
        }
    }
    bool IsSizeFinal() const override { return !running_; }

private:
    size_t slot_;
    uint32_t evictSize_ = 0;
    bool running_ = false;
};

// The whole-file size of a streamed or pending candidate: the u32 at 4 of
// the sector `u32 at 16` sectors after its first.
int SizeFromDevice(CRawFileInfo& info, IStorageDevice* device) {
    std::vector<uint8_t> first(kSector), later(kSector);
    if (!device->ReadSector(first.data(), info.m_startSector, 1))
        return 0;
    const uint32_t skip = vk::LoadLE<uint32_t>(first.data() + 16);
    if (!device->ReadSector(later.data(), info.m_startSector + skip, 1))
        return 0;
    g_sizedOn.push_back(device->GetType());
    info.m_size = vk::LoadLE<uint32_t>(later.data() + 4);
    return info.m_size != 0 ? 1 : 0;
}

class StreamAnalyser : public IRawFileAnalyser {
public:
    StreamAnalyser() : IRawFileAnalyser(RAW_JPG) {}
    int AnalyseBuffer(unsigned char*, CRawFileInfo& info) override {
        info.m_type = RAW_JPG;
        return 1;
    }
    CRawFileInfo* CreateRawFileInfo() override {
        g_seen->emplace_back();
        return new StreamInfo(g_seen->size() - 1);
    }
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override {
        return SizeFromDevice(info, device);
    }
};

class HeaderAnalyser : public IRawFileAnalyser {
public:
    HeaderAnalyser() : IRawFileAnalyser(RAW_BMP) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override {
        info.m_type = RAW_BMP;
        info.m_size = vk::LoadLE<uint32_t>(sector + 4);
        return 1;
    }
};

class PendingAnalyser : public IRawFileAnalyser {
public:
    PendingAnalyser() : IRawFileAnalyser(RAW_CAB) {}
    int AnalyseBuffer(unsigned char*, CRawFileInfo& info) override {
        info.m_type = RAW_CAB;
        return 1;
    }
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override {
        return SizeFromDevice(info, device);
    }
};

class NullAnalyser : public IRawFileAnalyser {
public:
    int AnalyseBuffer(unsigned char*, CRawFileInfo& info) override {
        info.m_type = RAW_AU;
        return 1;
    }
    CRawFileInfo* CreateRawFileInfo() override { return nullptr; }
};

// Recognises nothing; at each sector that begins "WWWW" it checks the
// window it is shown: every sector from the window's first to its end holds
// its own number + 1 at 4 (as the image stamps it), and the slack after the
// window's end reads as zeros.
struct WindowCheck {
    int looked = 0;
    std::vector<std::string> faults;
};
WindowCheck* g_window = nullptr;

class WindowAnalyser : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    WindowAnalyser() : IRawFileAnalyser(RAW_AU) {}
    int AnalyseBuffer(unsigned char*, CRawFileInfo&) override { return 0; }
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo&, long long sectorSize, long long a,
                        long long windowFirst, long long windowEnd) override {
        ++g_window->looked;
        for (long long k = windowFirst; k < windowEnd; ++k) {
            const uint32_t stamp = vk::LoadLE<uint32_t>(sector + (k - a) * sectorSize + 4);
            if (stamp != static_cast<uint32_t>(k + 1))
                g_window->faults.push_back("at " + std::to_string(a) + ": sector " +
                                           std::to_string(k) + " reads as " +
                                           std::to_string(static_cast<long long>(stamp) - 1));
        }
        const unsigned char* after = sector + (windowEnd - a) * sectorSize;
        for (int i = 0; i < CRawFileInfo::kContextSlackBytes; ++i) {
            if (after[i] != 0) {
                g_window->faults.push_back("at " + std::to_string(a) + ": slack byte " +
                                           std::to_string(i) + " is not zero");
                break;
            }
        }
        return 0;
    }
};

template <typename T>
IRawFileAnalyser* Make() {
    return new T();
}
constexpr AnalyserRow kRows[] = {
    {AnalyserPlace::Map, RawKey4("SSSS"), "stream", &Make<StreamAnalyser>},
    {AnalyserPlace::Map, RawKey4("HHHH"), "header", &Make<HeaderAnalyser>},
    {AnalyserPlace::Map, RawKey4("PPPP"), "pending", &Make<PendingAnalyser>},
    {AnalyserPlace::Map, RawKey4("NNNN"), "null", &Make<NullAnalyser>},
    {AnalyserPlace::Map, RawKey4("WWWW"), "window", &Make<WindowAnalyser>},
};

// The parameter: whether the search looks at the blocks on a thread of its own.
// Where the search looks at the blocks: on the caller's thread, on a thread
// of its own, or on its own thread with blocks lent by the read-ahead cache
// the deep scan reads through (placed in the ring by a thread of their own).
enum class Walk { kCallersThread, kOwnThread, kLentByCache };

class RawSearch : public ::testing::TestWithParam<Walk> {
protected:
    void SetUp() override {
        CRawFileAnalyserListSingle::CreateInstance().UseTableForTesting(kRows);
        g_seen = &seen_;
        g_sizedOn.clear();
    }
    void TearDown() override {
        controller_.reset();
        CRawFileAnalyserListSingle& r = CRawFileAnalyserListSingle::CreateInstance();
        r.UseTableForTesting({});
        r.ClearSearchSet();
        CNotifyCenter::Instance().Reset();
        g_seen = nullptr;
    }

    // Image of `sectors` zero sectors; Mark writes a sector's head.
    void Image(long long sectors) { bytes_.assign(static_cast<size_t>(sectors * kSector), 0); }
    void Mark(long long sector, const char* head, uint32_t at4 = 0, uint32_t at8 = 0,
              uint32_t at16 = 0, uint32_t at12 = 0) {
        const size_t o = static_cast<size_t>(sector * kSector);
        PutBytes(bytes_, o, head);
        Put32(bytes_, o + 4, at4);
        Put32(bytes_, o + 8, at8);
        Put32(bytes_, o + 12, at12);
        Put32(bytes_, o + 16, at16);
    }

    // Prepares a search over `device` and walks it in blocks; EndSearch when
    // `end`.
    void Scan(IStorageDevice& device, int blockSectors, bool end = true) {
        controller_.reset();
        cache_.reset();
        IStorageDevice* walked = &device;
        if (GetParam() == Walk::kLentByCache) {
            cache_.reset(CreateStorageDeviceWithCache(&device));
            ASSERT_EQ(cache_->SetBlockSize(static_cast<unsigned>(blockSectors)), 1);
            cache_->BeginCache();
            walked = cache_.get();
        }
        controller_ = std::make_unique<CRAWSearchController>();
        controller_->SetDevice(walked);
        controller_->SetBlockSize(blockSectors);
        controller_->SetDirecotryTreeBuilder(&builder_);
        controller_->SetFileSectorMap(&map_);
        controller_->SetBitmap(bitmap_);
        if (progress_ != nullptr)
            controller_->SetIProgressSink(progress_);
        controller_->SetBlocksOnOwnThread(OwnThread());
        controller_->PreparetoSearch();
        // Blocks shorter than the zeros after them stay on the caller's thread.
        EXPECT_EQ(controller_->HasSearchThread(),
                  OwnThread() && blockSectors * kSector >= CRawFileInfo::kContextSlackBytes);
        const long long total = device.GetTotalSectors();
        for (long long first = 0; first < total; first += blockSectors) {
            if (cache_)
                cache_->SetCurCacheBlock(first / blockSectors);
            controller_->AnalyzeBlock(first, std::min<long long>(blockSectors, total - first));
        }
        if (end)
            controller_->EndSearch(1);
        else
            controller_->WaitIdle();
        // As the scan controller does after the walk: nothing reads ahead
        // once the test goes on to change the image.
        if (cache_)
            cache_->EndCache();
    }
    bool OwnThread() const { return GetParam() != Walk::kCallersThread; }
    // The carved file that starts at `sector`, or null.
    IFileNode* At(long long sector) {
        for (IFileNode* f : builder_.Files()) {
            auto* node = dynamic_cast<CFileNode*>(f);
            if (node && node->GetDataRunList() &&
                node->GetDataRunList()->GetFirst()->start == sector)
                return f;
        }
        return nullptr;
    }

    std::vector<uint8_t> bytes_;
    std::vector<Seen> seen_;
    RecordingBuilder builder_;
    FileSectorMap map_;
    TBitmap* bitmap_ = nullptr;
    IProgress* progress_ = nullptr;
    std::unique_ptr<CRAWSearchController> controller_;
    std::unique_ptr<IDeviceCache> cache_;
};

TEST_P(RawSearch, TheThirtyThirdStreamingCandidateEvictsTheOldest) {
    Image(256);
    for (int i = 0; i < 33; ++i)
        Mark(i, "SSSS", 0, 0, 100 - i);
    Put32(bytes_, 100 * kSector + 4, 4321);  // the whole-file size every candidate reads
    MemoryStorageDevice disk(bytes_, kSector);
    Scan(disk, 64, false);
    ASSERT_EQ(seen_.size(), 33u);
    EXPECT_EQ(seen_[0].evictedAt, 32) << "the oldest gives way at the 33rd's sector";
    EXPECT_EQ(seen_[0].sectors.back(), 31);
    EXPECT_EQ(seen_[1].evictedAt, -2);
    EXPECT_EQ(controller_->OpenCount(), 32u);
    controller_->EndSearch(1);
    EXPECT_EQ(builder_.Files().size(), 33u) << "evicted and still open ones are sized whole";
    for (int i = 0; i < 33; ++i) {
        ASSERT_NE(At(i), nullptr) << i;
        EXPECT_EQ(At(i)->GetFileSize(), 4321);
    }
    EXPECT_EQ(builder_.flashed, (std::vector<int>{SEARCHER_RAW, SEARCHER_RAW_LABEL}));
    EXPECT_EQ(builder_.infos, (std::vector<std::pair<int, long long>>{{SEARCHER_RAW, 1},
                                                                      {SEARCHER_RAW_LABEL, 1000}}));
}

// A size an evicted candidate fixed is its file's size; a running length
// is not.
TEST_P(RawSearch, SizesFixedAtEvictionReachTheTrees) {
    Image(256);
    Mark(0, "SSSS", 0, 3000);       // fixes 3000 bytes when evicted
    Mark(1, "SSSS", 0, 0, 200, 1);  // keeps a running length; sized whole instead
    Put32(bytes_, 201 * kSector + 4, 7777);
    for (int i = 2; i < 34; ++i)
        Mark(i, "SSSS", 0, 0, 100 - i);
    Put32(bytes_, 100 * kSector + 4, 1000);
    MemoryStorageDevice disk(bytes_, kSector);
    Scan(disk, 64);
    ASSERT_NE(At(0), nullptr) << "an evicted candidate that fixed its size is not dropped";
    EXPECT_EQ(At(0)->GetFileSize(), 3000);
    ASSERT_NE(At(1), nullptr);
    EXPECT_EQ(At(1)->GetFileSize(), 7777);
}

TEST_P(RawSearch, OpenCandidatesSeeEverySectorEvenWhereAnotherFileStarts) {
    Image(64);
    Mark(0, "SSSS");
    Mark(5, "HHHH", 1024);
    Mark(6, "NNNN");
    Mark(7, "PPPP", 0, 0, 1);
    Put32(bytes_, 8 * kSector + 4, 99);
    Mark(10, "END!");
    MemoryStorageDevice disk(bytes_, kSector);
    Scan(disk, 16);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].sectors, (std::vector<long long>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    ASSERT_NE(At(0), nullptr);
    EXPECT_EQ(At(0)->GetFileSize(), 11 * kSector);
    ASSERT_NE(At(5), nullptr);
    EXPECT_EQ(At(5)->GetFileSize(), 1024);
    EXPECT_EQ(At(6), nullptr) << "no candidate was made";
    ASSERT_NE(At(7), nullptr);
    EXPECT_EQ(At(7)->GetFileSize(), 99);
}

TEST_P(RawSearch, ClaimedClustersAreSkipped) {
    Image(64);
    Mark(0, "SSSS");
    Mark(9, "HHHH", 600);  // inside cluster 2, which is claimed
    Mark(13, "HHHH", 700);
    Mark(20, "END!");
    TBitmap bitmap;
    ASSERT_EQ(bitmap.CreateBitmap(16, 4), 1);
    bitmap.SetBit(2, 1, 1);
    bitmap_ = &bitmap;
    MemoryStorageDevice disk(bytes_, kSector);
    Scan(disk, 16);
    EXPECT_EQ(At(9), nullptr);
    ASSERT_NE(At(13), nullptr);
    ASSERT_EQ(seen_.size(), 1u);
    for (long long s : seen_[0].sectors)
        EXPECT_TRUE(s < 8 || s > 11) << "sector " << s << " of a claimed cluster was offered";
    EXPECT_EQ(seen_[0].sectors.size(), 21u - 4u);
}

TEST_P(RawSearch, PendingCandidatesAreSizedFromTheRingThenFromTheDevice) {
    // Blocks of 4 sectors: the ring of 20 blocks holds 80 sectors.
    Image(120);
    Mark(2, "PPPP", 0, 0, 30);
    Put32(bytes_, 32 * kSector + 4, 1111);
    Mark(110, "PPPP", 0, 0, 3);
    Put32(bytes_, 113 * kSector + 4, 2222);
    MemoryStorageDevice disk(bytes_, kSector);
    Scan(disk, 4, false);
    ASSERT_EQ(g_sizedOn.size(), 1u);
    EXPECT_EQ(g_sizedOn[0], kDeviceCache) << "sized from the ring once its block is the oldest";
    EXPECT_EQ(controller_->PendingCount(), 1u);
    controller_->EndSearch(1);
    ASSERT_EQ(g_sizedOn.size(), 2u);
    // (Walked through the read-ahead cache, the device is the cache.)
    EXPECT_EQ(g_sizedOn[1], GetParam() == Walk::kLentByCache ? kDeviceCache : kDeviceDisk)
        << "at the end, from the device";
    EXPECT_EQ(At(2)->GetFileSize(), 1111);
    EXPECT_EQ(At(110)->GetFileSize(), 2222);
}

// An unreadable block keeps its place: what comes after it is read from the
// ring at the right sectors, and what can still be read of it is searched.
TEST_P(RawSearch, UnreadableBlocksKeepTheRingAligned) {
    Image(120);
    Mark(2, "PPPP", 0, 0, 60);  // its size lies past the bad block
    Put32(bytes_, 62 * kSector + 4, 3333);
    Put32(bytes_, 58 * kSector + 4, 4444);  // where a ring one block short would look
    Mark(45, "HHHH", 800);
    rawtest::FlakyDevice disk(bytes_, kSector, 40, 44);
    Scan(disk, 4);
    ASSERT_NE(At(2), nullptr);
    EXPECT_EQ(At(2)->GetFileSize(), 3333);
    ASSERT_NE(At(45), nullptr);

    // A bad sector in a big block costs its piece, not the block.
    Image(512);
    Mark(10, "HHHH", 900);
    Mark(300, "HHHH", 901);
    rawtest::FlakyDevice bad(bytes_, kSector, 20, 21);
    builder_.Clear();
    Scan(bad, 512);
    EXPECT_EQ(At(10), nullptr) << "in the unreadable piece";
    ASSERT_NE(At(300), nullptr);
    EXPECT_EQ(At(300)->GetFileSize(), 901);
}

TEST_P(RawSearch, SizesStopAtTheDeviceEnd) {
    Image(100);
    Mark(90, "HHHH", 0x7FFFFFFF);
    Mark(99, "HHHH", 513);
    MemoryStorageDevice disk(bytes_, kSector);
    Scan(disk, 16);
    ASSERT_NE(At(90), nullptr);
    EXPECT_EQ(At(90)->GetFileSize(), 10 * kSector);
    EXPECT_EQ(At(99)->GetFileSize(), kSector);
    const DataRun* run = dynamic_cast<CFileNode*>(At(90))->GetDataRunList()->GetFirst();
    EXPECT_EQ(run->start + run->length, 100) << "the run ends with the device";
}

TEST_P(RawSearch, StartSectorMapKeepsTheFirstType) {
    Image(32);
    Mark(3, "HHHH", 600);
    Mark(5, "HHHH", 600);
    map_[3] = 999;
    MemoryStorageDevice disk(bytes_, kSector);
    Scan(disk, 16);
    EXPECT_EQ(map_.at(3), 999u);
    EXPECT_EQ(map_.at(5), static_cast<unsigned>(RAW_BMP));
}

TEST_P(RawSearch, EndSearchWithoutBuildLeavesEverything) {
    Image(32);
    Mark(0, "SSSS");
    Mark(4, "PPPP", 0, 0, 1);
    MemoryStorageDevice disk(bytes_, kSector);
    Scan(disk, 16, false);
    controller_->EndSearch(0);
    EXPECT_TRUE(builder_.flashed.empty());
    EXPECT_TRUE(builder_.added.empty());
    EXPECT_EQ(controller_->OpenCount(), 1u);
    EXPECT_EQ(controller_->PendingCount(), 1u);
}

TEST_P(RawSearch, AStopEndsTheWalkAndTheSizing) {
    Image(600);
    Mark(2, "HHHH", 700);
    Mark(500, "HHHH", 700);
    Mark(3, "PPPP", 0, 0, 1);
    rawtest::SwitchProgress stop;
    stop.stopAfter = 1;  // the search asks at the start and every 256 sectors
    progress_ = &stop;
    MemoryStorageDevice disk(bytes_, kSector);
    Scan(disk, 512);
    // On its own thread the search hears the answers the caller's thread
    // relays, one per block: it stops at its first poll.
    if (!OwnThread())
        EXPECT_NE(At(2), nullptr);
    EXPECT_EQ(At(500), nullptr) << "after the stop";
    EXPECT_EQ(At(3), nullptr) << "pending ones are not sized after a stop";
}

TEST_P(RawSearch, ShortLastBlockAndPartitionRecord) {
    Image(16 + 5);
    Mark(18, "HHHH", 2000);
    MemoryStorageDevice disk(bytes_, kSector);
    Scan(disk, 16);
    ASSERT_NE(At(18), nullptr);
    EXPECT_EQ(At(18)->GetFileSize(), 3 * kSector) << "cut at the device end";

    MemoryStorageDevice big(std::vector<uint8_t>(4096 * 8), 4096);
    CRAWSearchController c;
    c.SetDevice(&big);
    CSearchedPartitionInfo* record = nullptr;
    EXPECT_EQ(c.GetSearchedPartitionInfo(nullptr, 0), 1);
    ASSERT_EQ(c.GetSearchedPartitionInfo(&record, 1), 1);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->GetSectorSize(), 4096u);
    EXPECT_EQ(record->sectorsPerCluster, 1u);
    EXPECT_EQ(record->startSector, 0);
    EXPECT_DOUBLE_EQ(record->score, 1.0);
    delete record;
}

// Blocks are read into the ring's slots and the walk wraps around them: whatever block a sector is
// in, the window shows the block before it and the current one as the device holds them, and zeros
// after them (a short last block included), never an older block's bytes.
// With a search thread, the next block is read into its slot while this one
// is looked at: the zeros after this one stay zeros.
TEST_P(RawSearch, TheWindowShowsThePreviousAndCurrentBlockWherever) {
    for (const int kBlock : {4, 16}) {  // sectors: smaller than the slack, and larger
        SCOPED_TRACE(kBlock);
        // Twice around the ring's slots, and a short block at the end.
        const long long sectors = kBlock * (2 * (CRAWSearchController::kRingBlocks + 5) + 1) + 3;
        Image(sectors);
        for (long long s = 0; s < sectors; ++s) {
            const size_t o = static_cast<size_t>(s * kSector);
            std::memset(bytes_.data() + o, 0xA5, kSector);  // non-zero, no key
            Mark(s, s % kBlock == 0 || s % kBlock == kBlock - 1 ? "WWWW" : "dddd",
                 static_cast<uint32_t>(s + 1), 0xA5A5A5A5, 0xA5A5A5A5, 0xA5A5A5A5);
        }
        WindowCheck check;
        g_window = &check;
        MemoryStorageDevice disk(bytes_, kSector);
        Scan(disk, kBlock);
        g_window = nullptr;
        EXPECT_EQ(check.looked, static_cast<int>(2 * (sectors / kBlock) + 1));
        EXPECT_TRUE(check.faults.empty()) << check.faults.size() << " faults, first "
                                          << (check.faults.empty() ? "" : check.faults.front());
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, RawSearch,
                         ::testing::Values(Walk::kCallersThread, Walk::kOwnThread,
                                           Walk::kLentByCache),
                         [](const ::testing::TestParamInfo<Walk>& info) {
                             switch (info.param) {
                                 case Walk::kCallersThread:
                                     return "CallersThread";
                                 case Walk::kOwnThread:
                                     return "OwnThread";
                                 case Walk::kLentByCache:
                                     return "LentByCache";
                             }
                             return "";
                         });

// ---------------------------------------------------------------------------
// Stop and pause with the search thread

int ThreadCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir))
            n += e->d_name[0] != '.' ? 1 : 0;
        closedir(dir);
    }
    return n;
}

// Waits up to `limit` for `done`; its last answer.
template <typename F>
bool Within(std::chrono::milliseconds limit, F done) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// At the first sector that begins "GATE" the search thread waits until the
// test opens the gate.
struct Gate {
    std::mutex lock;
    std::condition_variable opened;
    bool open = false;
    std::atomic<bool> reached{false};
};
Gate* g_gate = nullptr;

class GateAnalyser : public IRawFileAnalyser {
public:
    int AnalyseBuffer(unsigned char*, CRawFileInfo&) override {
        g_gate->reached = true;
        std::unique_lock<std::mutex> lock(g_gate->lock);
        g_gate->opened.wait(lock, [] { return g_gate->open; });
        return 0;
    }
};

// A progress sink as the program's: any thread may ask; a pause holds the
// asking thread until it ends.
class UserProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override {
        std::unique_lock<std::mutex> lock(lock_);
        ++waiting_;
        resumed_.wait(lock, [this] { return !paused_; });
        --waiting_;
        return stopped_ ? 0 : 1;
    }
    int shouldBuild() override { return 1; }
    void Stop() {
        std::lock_guard<std::mutex> lock(lock_);
        stopped_ = true;
    }
    void Pause(bool on) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            paused_ = on;
        }
        resumed_.notify_all();
    }
    int Waiting() {
        std::lock_guard<std::mutex> lock(lock_);
        return waiting_;
    }

private:
    std::mutex lock_;
    std::condition_variable resumed_;
    bool stopped_ = false;
    bool paused_ = false;
    int waiting_ = 0;
};

constexpr AnalyserRow kGateRows[] = {
    {AnalyserPlace::Map, RawKey4("HHHH"), "header", &Make<HeaderAnalyser>},
    {AnalyserPlace::Map, RawKey4("GATE"), "gate", &Make<GateAnalyser>},
};

class SearchThread : public ::testing::Test {
protected:
    static constexpr int kBlock = 1024;  // sectors: four polls per block
    void SetUp() override {
        // A sanitizer's runtime starts a thread of its own with the first
        // thread made: let it, before threads are counted.
        std::thread([] {}).join();
        CRawFileAnalyserListSingle::CreateInstance().UseTableForTesting(kGateRows);
        g_gate = &gate_;
        // Every sector but the gate's starts a one-sector file.
        bytes_.assign(static_cast<size_t>(4 * kBlock * kSector), 0);
        for (long long s = 0; s < 4 * kBlock; ++s) {
            PutBytes(bytes_, static_cast<size_t>(s * kSector), s == 0 ? "GATE" : "HHHH");
            Put32(bytes_, static_cast<size_t>(s * kSector) + 4, kSector);
        }
    }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> lock(gate_.lock);
            gate_.open = true;
        }
        gate_.opened.notify_all();
        search_.reset();
        CRawFileAnalyserListSingle& r = CRawFileAnalyserListSingle::CreateInstance();
        r.UseTableForTesting({});
        r.ClearSearchSet();
        CNotifyCenter::Instance().Reset();
        g_gate = nullptr;
    }
    void Start(IStorageDevice& disk) {
        search_ = std::make_unique<CRAWSearchController>();
        search_->SetDevice(&disk);
        search_->SetBlockSize(kBlock);
        search_->SetDirecotryTreeBuilder(&builder_);
        search_->SetIProgressSink(&progress_);
        search_->SetBlocksOnOwnThread(true);
        search_->PreparetoSearch();
        ASSERT_TRUE(search_->HasSearchThread());
    }
    void OpenGate() {
        {
            std::lock_guard<std::mutex> lock(gate_.lock);
            gate_.open = true;
        }
        gate_.opened.notify_all();
    }
    long long LastFileSector() {
        long long last = -1;
        for (IFileNode* f : builder_.Files()) {
            auto* node = dynamic_cast<CFileNode*>(f);
            last = std::max(last, node->GetDataRunList()->GetFirst()->start);
        }
        return last;
    }

    Gate gate_;
    std::vector<uint8_t> bytes_;
    RecordingBuilder builder_;
    UserProgress progress_;
    std::unique_ptr<CRAWSearchController> search_;
};

// The program's thread stops the scan while the search thread is inside a
// block: the stop reaches it at its next poll (256 sectors on), the walk's
// end waits for it, and no thread is left.
TEST_F(SearchThread, AStopReachesTheSearchThreadAtItsNextPollAndLeavesNoThread) {
    const int before = ThreadCount();
    MemoryStorageDevice disk(bytes_, kSector);
    Start(disk);
    // The search thread and the thread that places lent blocks in the ring.
    EXPECT_EQ(ThreadCount(), before + 2);
    search_->AnalyzeBlock(0, kBlock);
    search_->AnalyzeBlock(kBlock, kBlock);  // waits while the first is looked at
    ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return gate_.reached.load(); }));
    progress_.Stop();
    // The scan's thread ends its walk; meanwhile it relays the stop.
    auto finished = std::async(std::launch::async, [&] { search_->FinishBlocks(); });
    const bool relayed = Within(std::chrono::seconds(10),
                                [] { return CNotifyCenter::Instance().isContinue() == 0; });
    OpenGate();
    EXPECT_TRUE(relayed) << "the stop did not reach the search thread while the walk ended";
    ASSERT_EQ(finished.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(search_->HasSearchThread());
    EXPECT_EQ(ThreadCount(), before);
    EXPECT_GE(LastFileSector(), 1);
    EXPECT_LT(LastFileSector(), 256) << "looked on past its next poll after the stop";
    search_->EndSearch(1);
}

// A pause holds the scan's thread in the progress sink; the search thread
// finishes the blocks already handed over (at most two) and waits. After
// the pause every file is found.
TEST_F(SearchThread, APauseLetsTheSearchThreadIdleAndTheScanGoesOnAfterIt) {
    const int before = ThreadCount();
    MemoryStorageDevice disk(bytes_, kSector);
    Start(disk);
    OpenGate();
    auto walk = std::async(std::launch::async, [&] {
        for (long long k = 0; k < 4; ++k) {
            if (progress_.Continued() == 0)
                return;
            search_->AnalyzeBlock(k * kBlock, kBlock);
        }
        search_->FinishBlocks();
    });
    progress_.Pause(true);
    ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return progress_.Waiting() == 1; }))
        << "the scan's thread waits in the sink";
    EXPECT_TRUE(Within(std::chrono::seconds(10), [&] { return search_->SearchThreadIdle(); }))
        << "the search thread went idle during the pause";
    EXPECT_NE(walk.wait_for(std::chrono::milliseconds(0)), std::future_status::ready);
    progress_.Pause(false);
    ASSERT_EQ(walk.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    search_->EndSearch(1);
    EXPECT_EQ(ThreadCount(), before);
    EXPECT_EQ(builder_.Files().size(), static_cast<size_t>(4 * kBlock - 1));
}

}  // namespace
