// Reading found files through their runs and writing them out.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "DataRecovery.h"
#include "FileReader.h"
#include "RecoveryTestSupport.h"
#include "Utility/MessageCenter.h"
#include "support/MemoryStorageDevice.h"
#include "support/PlannedSearcherRows.h"
#include "support/TestSupport.h"

using namespace rectest;
using velmora::test::MemoryStorageDevice;
using velmora::test::ReadFile;
using velmora::test::TempDir;

namespace {

constexpr int kSector = 512;
constexpr int kSpc = 2;
constexpr int kCluster = kSector * kSpc;

// Byte `i` of cluster `c` of the test disk.
uint8_t DiskByte(long long c, long long i) {
    const uint64_t u = static_cast<uint64_t>(c) * 7 + static_cast<uint64_t>(i) * 13 +
                       static_cast<uint64_t>(i >> 9);
    return static_cast<uint8_t>(u % 251);
}

std::unique_ptr<MemoryStorageDevice> PatternDisk(long long clusters) {
    std::vector<uint8_t> bytes(static_cast<size_t>(clusters * kCluster));
    for (long long c = 0; c < clusters; ++c)
        for (long long i = 0; i < kCluster; ++i)
            bytes[static_cast<size_t>(c * kCluster + i)] = DiskByte(c, i);
    return std::make_unique<MemoryStorageDevice>(std::move(bytes), kSector);
}

// What a file with these runs holds: run clusters in order, zeros for a
// negative start, zeros past the runs.
std::vector<uint8_t> Expected(const std::vector<DataRun>& runs, long long size) {
    std::vector<uint8_t> out;
    for (const DataRun& r : runs)
        for (long long c = 0; c < r.length; ++c)
            for (long long i = 0; i < kCluster; ++i)
                out.push_back(r.start < 0 ? 0 : DiskByte(r.start + c, i));
    out.resize(static_cast<size_t>(size), 0);
    return out;
}

struct Fixture {
    std::unique_ptr<MemoryStorageDevice> disk = PatternDisk(64);
    std::vector<DataRun> runs{{5, 3}, {-1, 2}, {20, 4}, {10, 1}};
    long long size = 9 * kCluster + 300;  // ends inside the last run
    RecNode node{"fragmented.bin", size, runs};
    CSearchedPartitionInfo partition = Partition(kSpc, 64 * kSpc);
};

std::unique_ptr<CDataRecovery> MakeRecovery(IStorageDevice* disk,
                                            const std::vector<CSearchedPartitionInfo>& records) {
    auto rec = std::make_unique<CDataRecovery>();
    std::vector<CSearchedPartitionInfo*> ptrs;
    for (const auto& r : records)
        ptrs.push_back(const_cast<CSearchedPartitionInfo*>(&r));
    EXPECT_EQ(rec->Initialize(ptrs, disk), VK_OK);
    return rec;
}

}  // namespace

// Fragmented, sparse and unaligned reads deliver exactly the file's bytes
// and never write past the requested length.
TEST(FileReader, ReadsFragmentedSparseAndUnalignedWithoutOverrun) {
    Fixture f;
    CFileReader reader;
    ASSERT_EQ(reader.Open(f.disk.get(), &f.node, &f.partition), 1);
    const auto expected = Expected(f.runs, f.size);
    struct Case {
        long long offset;
        unsigned length;
    };
    const Case cases[] = {
        {0, static_cast<unsigned>(f.size)},  // whole file
        {1, 10},                             // unaligned inside a sector
        {511, 3},                            // across a sector boundary
        {3 * kCluster - 7, 2 * kCluster},    // run end, sparse run, next run
        {5 * kCluster + 100, 5000},          // unaligned start, whole sectors, partial tail
        {f.size - 5, 100},                   // cut at the file's end
        {8 * kCluster + 1, 1},               // last run, one byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offset) + " length " + std::to_string(c.length));
        std::vector<char> buffer(c.length + 64, '\x5A');
        int error = 0;
        const unsigned got = reader.ReadData(c.offset, buffer.data(), c.length, &error);
        const long long want = std::min<long long>(c.length, f.size - c.offset);
        ASSERT_EQ(got, static_cast<unsigned>(want));
        EXPECT_EQ(0, std::memcmp(buffer.data(), expected.data() + c.offset, got));
        for (size_t i = got; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], '\x5A') << "byte " << i << " overwritten";
    }
    int error = 0;
    char byte = 0;
    EXPECT_EQ(reader.ReadData(f.size, &byte, 1, &error), 0u);
    EXPECT_EQ(error, -1);
}

// Bytes past the valid data length (NTFS's initialized size, exFAT's valid
// data length) were never written: they read as zeros whatever the clusters
// hold, through reads that cross the length, lie past it or begin before it
// and end in a lost run that lies past it (nothing there is lost).
TEST(FileReader, BytesPastTheValidLengthAreZeros) {
    Fixture f;
    const long long lostAt = 9 * kCluster;
    f.runs.push_back({kLostRunStart, 2});
    f.size = 11 * kCluster;
    struct Case {
        long long valid;
        long long offset;
        unsigned length;
    };
    const Case cases[] = {
        {4 * kCluster + 10, 0, static_cast<unsigned>(11 * kCluster)},  // whole file
        {1000, 900, 300},                                              // crosses it
        {1000, 1000, 50},                                              // starts at it
        {1000, 3 * kCluster, 700},                                     // wholly past it
        {0, 0, 100},                                                   // nothing written
        {lostAt, lostAt - 10, 40},                                     // the lost run lies past it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("valid " + std::to_string(c.valid) + " offset " + std::to_string(c.offset));
        RecNode node("init.bin", f.size, f.runs);
        node.validLength = c.valid;
        CFileReader reader;
        ASSERT_EQ(reader.Open(f.disk.get(), &node, &f.partition), 1);
        std::vector<uint8_t> expected = Expected(f.runs, f.size);
        std::fill(expected.begin() + c.valid, expected.end(), 0);
        std::vector<char> buffer(c.length + 16, '\x5A');
        int error = 0;
        ASSERT_EQ(reader.ReadData(c.offset, buffer.data(), c.length, &error), c.length);
        EXPECT_EQ(0, std::memcmp(buffer.data(), expected.data() + c.offset, c.length));
        EXPECT_EQ(buffer[c.length], '\x5A');
        EXPECT_EQ(error, 0);
        EXPECT_TRUE(reader.GetLostRanges()->Empty());
    }
    // A length at or past the size, or none, limits nothing.
    for (long long valid : {-1LL, f.size, f.size + 5}) {
        RecNode node("whole.bin", 4 * kCluster, f.runs);
        node.validLength = valid;
        CFileReader reader;
        ASSERT_EQ(reader.Open(f.disk.get(), &node, &f.partition), 1);
        EXPECT_EQ(reader.GetValidSize(), 4 * kCluster) << valid;
    }
}

// Recovery writes the file as its system shows it.
TEST(DataRecovery, RecoversZerosPastTheValidLength) {
    Fixture f;
    f.node.validLength = 2 * kCluster + 1;
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    ASSERT_TRUE(Select(*rec, &f.node));
    TempDir dir;
    const std::string path = dir.path() + "/init.bin";
    RecordingProgress progress;
    ASSERT_EQ(rec->RecoverTo(path.c_str(), &progress, 0), VK_OK);
    std::vector<uint8_t> expected = Expected(f.runs, f.size);
    std::fill(expected.begin() + f.node.validLength, expected.end(), 0);
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(FileReader, RefusesWhatCannotBeRead) {
    Fixture f;
    CFileReader reader;
    RecNode empty("empty", 0, f.runs);
    RecNode noRuns("noruns", 100, {});
    CSearchedPartitionInfo zeroCluster = Partition(0, 128);
    EXPECT_EQ(reader.Open(nullptr, &f.node, &f.partition), 0);
    EXPECT_EQ(reader.Open(f.disk.get(), nullptr, &f.partition), 0);
    EXPECT_EQ(reader.Open(f.disk.get(), &f.node, nullptr), 0);
    EXPECT_EQ(reader.Open(f.disk.get(), &empty, &f.partition), 1)
        << "an empty file is still a file";
    EXPECT_EQ(reader.Open(f.disk.get(), &noRuns, &f.partition), 0);
    EXPECT_EQ(reader.Open(f.disk.get(), &f.node, &zeroCluster), 0);
    // A record of other sectors than the device's: its cluster sizes and the
    // device's sector numbers would address different bytes.
    for (unsigned sectorSize : {1024u, 4096u}) {
        CSearchedPartitionInfo other = Partition(kSpc, 64 * kSpc, FS_FAT32, sectorSize);
        EXPECT_EQ(reader.Open(f.disk.get(), &f.node, &other), 0) << sectorSize;
        auto rec = MakeRecovery(f.disk.get(), {other});
        EXPECT_FALSE(Select(*rec, &f.node)) << sectorSize;
    }
}

namespace {

// The pattern disk with some sectors that cannot be read.
class SpottyDisk final : public MemoryStorageDevice {
public:
    explicit SpottyDisk(std::set<long long> badSectors)
        : MemoryStorageDevice(PatternDisk(64)->Bytes(), kSector), bad(std::move(badSectors)) {}
    int ReadSector(void* buffer, long long first, long long count) override {
        for (long long s : bad)
            if (s >= first && s < first + count)
                return 0;
        return MemoryStorageDevice::ReadSector(buffer, first, count);
    }
    std::set<long long> bad;
};

}  // namespace

// Damaged media: every sector that can be read comes back, every one that
// cannot is zeros and reported, and later data keeps its place in the file.
TEST(DataRecovery, DamagedDataKeepsEveryReadableSectorAndReportsTheRest) {
    constexpr long long S = kSector;
    struct Case {
        const char* what;
        std::vector<DataRun> runs;
        long long size;
        std::set<long long> badSectors;
        std::vector<LostRange> lost;  // file byte ranges
        long long claimed = 0;        // a size cut to the volume
    };
    const Case cases[] = {
        // Cluster 6 is sectors 12-13; the file's third cluster.
        {"one bad sector", {{5, 3}, {20, 2}}, 5 * kCluster - 100, {13}, {{kCluster + S, S}}},
        {"bad sectors in two runs",
         {{5, 3}, {20, 2}},
         5 * kCluster,
         {10, 41},
         {{0, S}, {3 * kCluster + S, S}}},
        {"a run reaching past the device's end",
         {{5, 2}, {63, 4}, {8, 1}},
         7 * kCluster,
         {},
         {{3 * kCluster, 3 * kCluster}}},
        {"a run whose address overflows",
         {{5, 1}, {1LL << 62, 1}},
         2 * kCluster,
         {},
         {{kCluster, kCluster}}},
        {"a lost run keeps later runs in place",
         {{5, 1}, {kLostRunStart, 2}, {9, 1}},
         4 * kCluster,
         {},
         {{kCluster, 2 * kCluster}}},
        {"a sparse run is not lost", {{5, 1}, {-1, 2}, {9, 1}}, 4 * kCluster, {}, {}},
        {"a size the volume could not hold",
         {{5, 2}},
         2 * kCluster,
         {},
         {{2 * kCluster, 5000}},
         2 * kCluster + 5000},
        {"the bad sector is the file's last, partly used",
         {{5, 1}},
         kCluster - 10,
         {11},
         {{S, S - 10}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SpottyDisk disk(c.badSectors);
        RecNode node("f.bin", c.size, c.runs);
        if (c.claimed)
            node.SetClaimedSize(c.claimed);
        auto rec = MakeRecovery(&disk, {Partition(kSpc, 64 * kSpc)});
        ASSERT_TRUE(Select(*rec, &node));
        TempDir dir;
        const VKRESULT r = rec->RecoverTo((dir / "f.bin").c_str(), nullptr, 0);
        std::vector<uint8_t> want = Expected(c.runs, c.size);
        for (const LostRange& l : c.lost)
            for (long long i = l.offset; i < l.offset + l.length && i < c.size; ++i)
                want[static_cast<size_t>(i)] = 0;
        EXPECT_EQ(ReadFile(dir / "f.bin"), want);
        EXPECT_EQ(rec->GetLostRanges().Ranges(), c.lost);
        if (c.lost.empty()) {
            EXPECT_EQ(r, VK_OK) << Hex(r);
        } else {
            EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryIncomplete)) << Hex(r);
        }

        // The reader says the same for any range it is asked for.
        CFileReader reader;
        ASSERT_EQ(
            reader.Open(&disk, &node,
                        &const_cast<CSearchedPartitionInfo&>(*rec->GetSearchedPartition().front())),
            1);
        std::vector<char> buffer(static_cast<size_t>(c.size) + 8, '\x5A');
        int error = 0;
        ASSERT_EQ(reader.ReadData(1, buffer.data(), static_cast<unsigned>(c.size - 1), &error),
                  static_cast<unsigned>(c.size - 1));
        EXPECT_EQ(0, std::memcmp(buffer.data(), want.data() + 1, static_cast<size_t>(c.size - 1)));
        EXPECT_EQ(buffer[static_cast<size_t>(c.size - 1)], '\x5A');
        bool lostInFile = false;
        for (const LostRange& l : c.lost)
            lostInFile = lostInFile || l.offset < c.size;
        EXPECT_EQ(error, lostInFile ? kReadDataLost : 0);
    }
}

namespace {

struct IncompleteEvents : INotifyCenter {
    void Notify(_MSG_EVENT* e) override {
        std::lock_guard<std::mutex> hold(m);
        if (e->type != kEventFileIncomplete || e->length < 17)
            return;
        long long lost = 0, size = 0;
        std::memcpy(&lost, e->payload, 8);
        std::memcpy(&size, e->payload + 8, 8);
        seen.push_back({reinterpret_cast<const char*>(e->payload + 16), lost, size});
    }
    struct Seen {
        std::string path;
        long long lost, size;
    };
    std::mutex m;
    std::vector<Seen> seen;
};

}  // namespace

// A damaged node (its data placed by a guess) is reported even when every
// byte was read; the interface hears of every incomplete file through the
// event relay.
TEST(DataRecovery, IncompleteFilesReachTheInterface) {
    CMessageCenter* relay = CMessageCenter::Instance();
    IncompleteEvents events;
    ASSERT_TRUE(relay->RegisterNotifyCenter(42, &events));
    relay->SetDeliveryInterval(std::chrono::milliseconds(5));
    relay->StartReceiveMessage();

    Fixture f;
    f.node.MarkDamaged();
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    ASSERT_TRUE(Select(*rec, &f.node));
    TempDir dir;
    const std::string guess = dir / "guess.bin";
    VKRESULT r = rec->RecoverTo(guess.c_str(), nullptr, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryIncomplete)) << Hex(r);
    EXPECT_TRUE(rec->GetLostRanges().Empty());
    EXPECT_EQ(ReadFile(guess), Expected(f.runs, f.size));

    RecNode gap("gap.bin", 3 * kCluster, {{5, 1}, {kLostRunStart, 1}, {7, 1}});
    ASSERT_TRUE(Select(*rec, &gap));
    const std::string gapPath = dir / "gap.bin";
    r = rec->RecoverTo(gapPath.c_str(), nullptr, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryIncomplete)) << Hex(r);

    for (int i = 0; i < 400; ++i) {
        {
            std::lock_guard<std::mutex> hold(events.m);
            if (events.seen.size() >= 2)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    relay->StopReceiveMessage();
    relay->UnregisterNotifyCenter(42);
    relay->SetDeliveryInterval(std::chrono::milliseconds(1000));
    ASSERT_EQ(events.seen.size(), 2u);
    EXPECT_EQ(events.seen[0].path, guess);
    EXPECT_EQ(events.seen[0].lost, 0);
    EXPECT_EQ(events.seen[0].size, f.size);
    EXPECT_EQ(events.seen[1].path, gapPath);
    EXPECT_EQ(events.seen[1].lost, kCluster);
    EXPECT_EQ(events.seen[1].size, 3 * kCluster);
}

TEST(DataRecovery, RecoversFragmentedFileWithItsTimes) {
    Fixture f;
    // 2024-02-29 12:34:56.789 UTC, in 100 ns ticks since 1601.
    const long long leapDay = (1709210096LL + 11644473600LL) * 10000000LL + 7890000;
    f.node.created = leapDay - 10000000LL * 86400 * 30;
    f.node.modified = leapDay;
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    IFileReader* clone = rec->SetRecoverNode(&f.node);
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetDataSize(), f.size);
    clone->Release();

    TempDir dir;
    RecordingProgress progress;
    ASSERT_EQ(rec->RecoverTo((dir / "out.bin").c_str(), &progress, 0), VK_OK);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1709210096);
    EXPECT_EQ(st.st_mtim.tv_nsec, 789000000);
    EXPECT_EQ(st.st_atim.tv_sec, 1709210096);  // no access time: the modification time
    EXPECT_EQ(ReadFile(dir / "out.bin"), Expected(f.runs, f.size));

    // Runs that end before the file: the size is not taken on trust. The
    // file ends with its runs and the rest is reported lost.
    RecNode longer("longer.bin", f.size + 5 * kCluster, f.runs);
    ASSERT_TRUE(Select(*rec, &longer));
    const VKRESULT cut = rec->RecoverTo((dir / "longer.bin").c_str(), nullptr, 0);
    EXPECT_TRUE(ResultIs(cut, kModuleDataRecovery, kErrRecoveryIncomplete)) << Hex(cut);
    EXPECT_EQ(ReadFile(dir / "longer.bin"), Expected(f.runs, 10 * kCluster));
    EXPECT_EQ(rec->GetLostRanges().Ranges(),
              (std::vector<LostRange>{{10 * kCluster, f.size + 5 * kCluster - 10 * kCluster}}));
    ASSERT_TRUE(Select(*rec, &f.node));

    // Limit: exactly the first bytes.
    ASSERT_EQ(rec->RecoverTo((dir / "head.bin").c_str(), nullptr, 1000), VK_OK);
    auto head = Expected(f.runs, f.size);
    head.resize(1000);
    EXPECT_EQ(ReadFile(dir / "head.bin"), head);
}

TEST(DataRecovery, NodeWithoutTimesKeepsTheSystemDates) {
    Fixture f;
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    ASSERT_TRUE(Select(*rec, &f.node));
    TempDir dir;
    const time_t before = ::time(nullptr);
    ASSERT_EQ(rec->RecoverTo((dir / "now.bin").c_str(), nullptr, 0), VK_OK);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "now.bin").c_str(), &st), 0);
    EXPECT_GE(st.st_mtim.tv_sec, before - 1);
}

// The dates are part of what comes back: a file whose dates could not be set
// is reported, not passed off as recovered whole. Here the file is gone from
// under the recovery once its last byte is written.
TEST(DataRecovery, DatesThatCannotBeSetAreReported) {
    Fixture f;
    f.node.modified = (1709210096LL + 11644473600LL) * 10000000LL;
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    ASSERT_TRUE(Select(*rec, &f.node));
    TempDir dir;
    const std::string path = dir / "gone.bin";
    struct Remover : RecordingProgress {
        std::string path;
        void UpdateProgress(_PROGRESS_INFO* info) override {
            RecordingProgress::UpdateProgress(info);
            if (info->total > 0 && info->done == info->total)
                ::unlink(path.c_str());
        }
    } progress;
    progress.path = path;
    const VKRESULT r = rec->RecoverTo(path.c_str(), &progress, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryTimes)) << Hex(r);
    ASSERT_FALSE(progress.reports.empty());
    EXPECT_TRUE(ResultIs(progress.reports.back().result, kModuleDataRecovery, kErrRecoveryTimes));
}

TEST(DataRecovery, CopiesInFourMiBChunksWithProgress) {
    constexpr long long kMiB = 1 << 20;
    auto disk = PatternDisk(11 * kMiB / kCluster);
    std::vector<DataRun> runs{{0, 10 * kMiB / kCluster}};
    RecNode node("big.bin", 10 * kMiB, runs);
    auto rec = MakeRecovery(disk.get(), {Partition(kSpc, 11 * kMiB / kSector)});
    ASSERT_TRUE(Select(*rec, &node));
    TempDir dir;
    RecordingProgress progress;
    ASSERT_EQ(rec->RecoverTo((dir / "big.bin").c_str(), &progress, 0), VK_OK);
    std::vector<long long> done;
    for (const auto& r : progress.reports) {
        EXPECT_EQ(r.state, PROGRESS_RUNNING);
        if (r.total) {
            EXPECT_EQ(r.total, 10 * kMiB);
            done.push_back(r.done);
        }
    }
    EXPECT_EQ(done, (std::vector<long long>{4 * kMiB, 8 * kMiB, 10 * kMiB}));
    EXPECT_EQ(ReadFile(dir / "big.bin"), Expected(runs, 10 * kMiB));
}

// Faults: each one is a failure with its code, and no partial file is left
// looking complete.
TEST(DataRecovery, DestinationFaultsAreReported) {
    Fixture f;
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    ASSERT_TRUE(Select(*rec, &f.node));
    TempDir dir;
    ::mkdir((dir / "folder").c_str(), 0755);
    ::symlink((dir / "elsewhere").c_str(), (dir / "link").c_str());
    ::mkfifo((dir / "fifo").c_str(), 0644);
    struct Case {
        std::string path;
        uint32_t error;
    };
    const Case cases[] = {
        {"/dev/full", kErrRecoveryOpenTarget},              // nothing there is written over
        {dir / "missing/out.bin", kErrRecoveryOpenTarget},  // folder not there
        {dir / "folder", kErrRecoveryOpenTarget},           // a folder in the way
        {dir / "link", kErrRecoveryOpenTarget},             // never through a link
        {dir / "fifo", kErrRecoveryOpenTarget},             // no reader: no hang
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        RecordingProgress progress;
        const VKRESULT r = rec->RecoverTo(c.path.c_str(), &progress, 0);
        EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, c.error)) << Hex(r);
    }
    EXPECT_TRUE(PathExists("/dev/full"));
    EXPECT_FALSE(PathExists(dir / "elsewhere"));
}

// A destination that fills up: the file size limit of the process stands in
// for a full file system.
TEST(DataRecovery, FullDestinationFailsAndRemovesThePartialFile) {
    constexpr long long kMiB = 1 << 20;
    auto disk = PatternDisk(kMiB / kCluster);
    RecNode node("big.bin", kMiB, {{0, kMiB / kCluster}});
    auto rec = MakeRecovery(disk.get(), {Partition(kSpc, kMiB / kSector)});
    ASSERT_TRUE(Select(*rec, &node));
    TempDir dir;
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const VKRESULT r = rec->RecoverTo((dir / "big.bin").c_str(), nullptr, 0);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryWrite)) << Hex(r);
    EXPECT_FALSE(PathExists(dir / "big.bin"));
}

// Files longer than a piece are written while the next piece is read. A
// write that fails there belongs to its own file, whether the reader is a
// piece ahead (the failure mid-file) or already done (the last piece): the
// file fails and is removed, no progress claims a byte past the last piece
// written, reading stops, and the next file through the same recovery comes
// out whole.
TEST(DataRecovery, WriteFailureBehindTheReaderStaysWithItsFile) {
    constexpr long long kMiB = 1 << 20;
    constexpr long long kPiece = CDataRecovery::kCopyBufferSize;
    auto disk = PatternDisk(24 * kMiB / kCluster);
    const std::vector<DataRun> runs{{0, 24 * kMiB / kCluster}};
    RecNode big("big.bin", 24 * kMiB, runs);
    RecNode next("next.bin", 10 * kMiB, {{0, 10 * kMiB / kCluster}});
    auto rec = MakeRecovery(disk.get(), {Partition(kSpc, 24 * kMiB / kSector)});
    TempDir dir;
    const long long limits[] = {6 * kMiB, 22 * kMiB};
    for (const long long limit : limits) {
        SCOPED_TRACE(limit);
        ASSERT_TRUE(Select(*rec, &big));
        RecordingProgress progress;
        const long long readsBefore = disk->Reads();
        struct rlimit saved {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = static_cast<rlim_t>(limit);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const VKRESULT r = rec->RecoverTo((dir / "big.bin").c_str(), &progress, 0);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);

        EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryWrite)) << Hex(r);
        EXPECT_FALSE(PathExists(dir / "big.bin"));
        ASSERT_FALSE(progress.reports.empty());
        EXPECT_TRUE(
            ResultIs(progress.reports.back().result, kModuleDataRecovery, kErrRecoveryWrite));
        const long long written = limit / kPiece * kPiece;
        for (const auto& report : progress.reports)
            EXPECT_LE(report.done, written);
        // The pieces written, the one that failed and those read ahead.
        const long long reads = disk->Reads() - readsBefore;
        EXPECT_LE(reads, written / kPiece + 1 + CDataRecovery::kBuffersInFlight);

        ASSERT_TRUE(Select(*rec, &next));
        EXPECT_EQ(rec->RecoverTo((dir / "next.bin").c_str(), nullptr, 0), VK_OK);
        EXPECT_EQ(ReadFile(dir / "next.bin"), Expected({{0, 10 * kMiB / kCluster}}, 10 * kMiB));
        ::unlink((dir / "next.bin").c_str());
    }
}

TEST(DataRecovery, ReadOnlyDestinationCannotBeOpened) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to mount a read-only tmpfs";
    TempDir dir;
    if (::mount("tmpfs", dir.path().c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount tmpfs: " << std::strerror(errno);
    Fixture f;
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    ASSERT_TRUE(Select(*rec, &f.node));
    const VKRESULT r = rec->RecoverTo((dir / "ro.bin").c_str(), nullptr, 0);
    ::umount(dir.path().c_str());
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryOpenTarget)) << Hex(r);
}

// A stop inside a file ends it unfinished: the cut file would pass for the
// whole one under its name, so it is removed and the result says so.
TEST(DataRecovery, StopInsideAFileRemovesTheCutFile) {
    constexpr long long kMiB = 1 << 20;
    auto disk = PatternDisk(9 * kMiB / kCluster);
    std::vector<DataRun> runs{{0, 9 * kMiB / kCluster}};
    RecNode node("big.bin", 9 * kMiB, runs);
    auto rec = MakeRecovery(disk.get(), {Partition(kSpc, 9 * kMiB / kSector)});
    for (const bool threaded : {true, false}) {
        SCOPED_TRACE(threaded ? "writer thread" : "one thread");
        CDataRecovery::SetWriterThread(threaded);
        ASSERT_TRUE(Select(*rec, &node));
        TempDir dir;
        RecordingProgress progress;
        progress.stopAfter = 1;
        const VKRESULT r = rec->RecoverTo((dir / "big.bin").c_str(), &progress, 0);
        EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryStopped)) << Hex(r);
        EXPECT_FALSE(PathExists(dir / "big.bin"));
    }
    CDataRecovery::SetWriterThread(true);
}

// A stored size is not taken on trust: the file ends where its runs end
// (runs with data counted at most up to the device's size), the rest is
// reported lost. A record claiming 2^62 or 2^40 bytes over one cluster would
// otherwise write zeros until the destination is full.
TEST(DataRecovery, SizesAreCappedAtWhatTheRunsAndTheDeviceHold) {
    const long long deviceBytes = 64 * kCluster;
    const struct {
        const char* what;
        long long size;
        std::vector<DataRun> runs;
        long long written;
        long long kept;  // bytes that are not lost
    } cases[] = {
        {"2^62 bytes over one cluster", 1LL << 62, {{5, 1}}, kCluster, kCluster},
        {"2^40 bytes over one cluster", 1LL << 40, {{5, 1}}, kCluster, kCluster},
        {"a sparse run counts as the file system says",
         1LL << 40,
         {{5, 1}, {-1, 2}},
         3 * kCluster,
         3 * kCluster},
        // Off the device's end: read as lost zeros, but only so far.
        {"a run longer than the device",
         1LL << 40,
         {{5, 1}, {70, 1LL << 40}},
         deviceBytes,
         kCluster},
        {"no runs at all", 1LL << 40, {}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        RecNode node("huge.bin", c.size, c.runs);
        auto rec = MakeRecovery(f.disk.get(), {f.partition});
        IFileReader* reader = rec->SetRecoverNode(&node);
        if (c.runs.empty()) {
            // Nothing to read: no reader, and nothing under the name.
            EXPECT_EQ(reader, nullptr);
            TempDir dir;
            rec->RecoverTo((dir / "huge.bin").c_str(), nullptr, 0);
            EXPECT_FALSE(PathExists(dir / "huge.bin"));
            continue;
        }
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->GetDataSize(), c.written);
        reader->Release();
        TempDir dir;
        // A bound of 1 MiB: a size taken on trust fails at once, never by
        // filling the disk.
        struct rlimit saved {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit bound = saved;
        bound.rlim_cur = 1 << 20;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &bound), 0);
        const VKRESULT r = rec->RecoverTo((dir / "huge.bin").c_str(), nullptr, 0);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);
        EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryIncomplete)) << Hex(r);
        struct stat st {};
        ASSERT_EQ(::stat((dir / "huge.bin").c_str(), &st), 0);
        EXPECT_EQ(st.st_size, c.written);
        EXPECT_EQ(rec->GetLostRanges().TotalBytes(), c.size - c.kept);
    }
}

// Threads never share a selection: a node selected on another thread (a
// picture loader) is never the one this thread's copy writes, and a copy
// under way keeps no other thread waiting.
TEST(DataRecovery, EachThreadCopiesTheNodeItSelected) {
    Fixture f;
    RecNode other("other.bin", 2 * kCluster, {{40, 2}});
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    ASSERT_TRUE(Select(*rec, &f.node));
    std::thread([&] { EXPECT_TRUE(Select(*rec, &other)); }).join();
    TempDir dir;
    EXPECT_EQ(rec->RecoverTo((dir / "mine.bin").c_str(), nullptr, 0), VK_OK);
    EXPECT_EQ(ReadFile(dir / "mine.bin"), Expected(f.runs, f.size));

    // While this thread's copy is held inside a progress report, another
    // thread selects, reads and copies its own node to the end.
    struct Meanwhile : RecordingProgress {
        std::function<void()> work;
        void UpdateProgress(_PROGRESS_INFO* info) override {
            RecordingProgress::UpdateProgress(info);
            if (info->done > 0 && work)
                std::exchange(work, nullptr)();
        }
    } progress;
    std::promise<bool> otherResult;
    std::future<bool> otherDone = otherResult.get_future();
    std::thread otherThread;
    bool inTime = false;
    progress.work = [&] {
        otherThread = std::thread([&] {
            const bool ok = Select(*rec, &other) &&
                            rec->RecoverTo((dir / "other.bin").c_str(), nullptr, 0) == VK_OK;
            otherResult.set_value(ok);
        });
        // Bounded: with one lock over the copy the other thread would wait
        // for this copy, which waits here.
        inTime = otherDone.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    };
    EXPECT_EQ(rec->RecoverTo((dir / "mine-again.bin").c_str(), &progress, 0), VK_OK);
    otherThread.join();
    EXPECT_TRUE(inTime);
    EXPECT_TRUE(otherDone.get());
    EXPECT_EQ(ReadFile(dir / "mine-again.bin"), Expected(f.runs, f.size));
    EXPECT_EQ(ReadFile(dir / "other.bin"), Expected({{40, 2}}, 2 * kCluster));
}

TEST(DataRecovery, RefusalsAndArgumentErrors) {
    Fixture f;
    TempDir dir;
    CDataRecovery fresh;
    EXPECT_EQ(fresh.SetRecoverNode(&f.node), nullptr);  // before Initialize
    VKRESULT r = fresh.RecoverTo((dir / "none.bin").c_str(), nullptr, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryNoNode)) << Hex(r);
    // An empty file under the name would pass for the file.
    EXPECT_FALSE(PathExists(dir / "none.bin"));
    EXPECT_TRUE(ResultIs(fresh.RecoverTo(nullptr, nullptr, 0), kModuleDataRecovery,
                         kErrRecoveryNullArgument));

    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    RecNode folder("folder", 0, {}, true);
    EXPECT_EQ(rec->SetRecoverNode(nullptr), nullptr);
    EXPECT_EQ(rec->SetRecoverNode(&folder), nullptr);

    FakeSearcher none;
    CDataRecovery empty;
    EXPECT_TRUE(ResultIs(empty.Initialize(&none, f.disk.get()), kModuleDataRecovery,
                         kErrRecoveryNoPartition));
    EXPECT_TRUE(ResultIs(empty.Initialize(nullptr, f.disk.get()), kModuleDataRecovery,
                         kErrRecoveryNullArgument));
}

// A failed selection must not leave the previous file selected: recovering
// after it would write the old file's bytes under the new name.
TEST(DataRecovery, FailedSelectionLeavesNothingSelected) {
    Fixture f;
    TempDir dir;
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    std::unique_ptr<IFileReader, void (*)(IFileReader*)> first(
        rec->SetRecoverNode(&f.node), [](IFileReader* r) { r->Release(); });
    ASSERT_NE(first, nullptr);
    RecNode beyondSize("negative", -5, f.runs);
    EXPECT_EQ(rec->SetRecoverNode(&beyondSize), nullptr);
    VKRESULT r = rec->RecoverTo((dir / "after-failure.bin").c_str(), nullptr, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryNoNode)) << Hex(r);
    EXPECT_FALSE(PathExists(dir / "after-failure.bin"));
}

TEST(DataRecovery, EmptyFileComesBackEmptyWithItsTimes) {
    Fixture f;
    TempDir dir;
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    RecNode empty("empty.txt", 0, {});
    IFileReader* reader = rec->SetRecoverNode(&empty);
    ASSERT_NE(reader, nullptr);
    reader->Release();
    const std::string out = dir / "empty.txt";
    EXPECT_EQ(rec->RecoverTo(out.c_str(), nullptr, 0), VK_OK);
    struct stat st {};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST(DataRecovery, InitializeTakesEveryRecordBestScoreFirst) {
    FakeSearcher searcher;
    for (int i = 0; i < 300; ++i) {
        CSearchedPartitionInfo p = Partition(8, 1000);
        p.score = (i * 37) % 300;
        p.partitionIndex = static_cast<int16_t>(i);
        searcher.records.push_back(p);
    }
    auto disk = PatternDisk(4);
    IDataRecovery* obj = CreateDataRecoveryObj();
    ASSERT_NE(obj, nullptr);
    ASSERT_EQ(obj->Initialize(&searcher, disk.get()), VK_OK);
    const auto& records = static_cast<CDataRecovery*>(obj)->GetSearchedPartition();
    ASSERT_EQ(records.size(), 300u);
    for (size_t i = 1; i < records.size(); ++i)
        EXPECT_GE(records[i - 1]->score, records[i]->score);
    obj->Release();
}

TEST(DataRecovery, ChoosesTheNodesPartition) {
    auto disk = PatternDisk(4);
    CSearchedPartitionInfo first = Partition(8, 10000), second = Partition(8, 10000);
    first.partitionIndex = 0;
    first.startSector = 0;
    second.partitionIndex = 1;
    second.startSector = 20000;
    CSearchedPartitionInfo odd = second;
    odd.sectorsPerCluster = 3;
    odd.partitionIndex = 2;

    // Runs at clusters 2600-2601 are sectors 20800-20815: inside the second.
    RecNode inSecond("a", 8192, {{2600, 2}});
    inSecond.SetBelongedPartition(7);
    inSecond.SetMetaDataSector(20100);
    RecNode byIndex("b", 100, {{1, 1}});
    byIndex.SetBelongedPartition(1);
    RecNode nowhere("c", 100, {{1, 1}});
    nowhere.SetBelongedPartition(9);
    nowhere.SetMetaDataSector(90000);
    // Right place, but 8 sectors per cluster do not fit 64 KiB per cluster.
    RecNode wrongCluster("d", 2 * 65536, {{2600, 2}});
    wrongCluster.SetBelongedPartition(7);
    wrongCluster.SetMetaDataSector(20100);

    auto rec = MakeRecovery(disk.get(), {first, odd, second});
    const auto& recs = rec->GetSearchedPartition();
    struct Case {
        RecNode* node;
        int16_t index;
    };
    const Case cases[] = {{&inSecond, 1}, {&byIndex, 1}, {&nowhere, 0}, {&wrongCluster, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.node->GetFileName());
        CSearchedPartitionInfo* chosen = rec->GetNodePartition(c.node);
        ASSERT_NE(chosen, nullptr);
        EXPECT_EQ(chosen->partitionIndex, c.index);
    }
    auto single = MakeRecovery(disk.get(), {odd});
    EXPECT_EQ(single->GetNodePartition(&nowhere), single->GetSearchedPartition()[0]);
    (void)recs;
}

TEST(DataRecovery, ThumbnailFromTheFirst64KiB) {
    // A 70,000-byte file whose embedded JPEG runs from offset 20 to the
    // end marker 3,000 bytes later.
    constexpr int kClusters = 70;
    std::vector<uint8_t> bytes(static_cast<size_t>(kClusters * kCluster), 0x11);
    const uint8_t soi[] = {0xFF, 0xD8, 0xFF};
    std::memcpy(bytes.data() + 20, soi, 3);
    bytes[3020] = 0xFF;
    bytes[3021] = 0xD9;
    MemoryStorageDevice disk(bytes, kSector);
    RecNode big("photo.jpg", 70000, {{0, kClusters}});
    RecNode small("small.jpg", 60000, {{0, kClusters}});
    auto rec = MakeRecovery(&disk, {Partition(kSpc, kClusters * kSpc)});
    std::vector<char> thumb(65536);

    ASSERT_TRUE(Select(*rec, &big));
    const int length = rec->ReadSmallJPG(thumb.data(), static_cast<unsigned>(thumb.size()));
    ASSERT_EQ(length, 3004);
    EXPECT_EQ(0, std::memcmp(thumb.data(), bytes.data() + 20, 3004));
    EXPECT_EQ(rec->ReadSmallJPG(thumb.data(), 1000), 0);

    ASSERT_TRUE(Select(*rec, &small));
    EXPECT_EQ(rec->ReadSmallJPG(thumb.data(), static_cast<unsigned>(thumb.size())), 0);
}

namespace {

// A run list that says its data lives in the file record.
class ResidentList : public CDataRunList {
public:
    int IsResident() override { return 1; }
    int GetDataRunListType() override { return DATARUN_LIST_NTFS_RESIDENT; }
};

// The NTFS subsystem's reader of data kept in the file record.
class FakeResidentReader : public IFileReader {
public:
    unsigned ReadData(long long offset, char* buffer, unsigned length, int* error) override {
        static const std::string kData = "resident file data";
        if (offset < 0 || offset >= static_cast<long long>(kData.size())) {
            if (error)
                *error = -1;
            return 0;
        }
        const size_t n = std::min<size_t>(length, kData.size() - static_cast<size_t>(offset));
        std::memcpy(buffer, kData.data() + offset, n);
        return static_cast<unsigned>(n);
    }
    IFileReader* Clone() override { return new FakeResidentReader(); }
    long long GetDataSize() const override { return 18; }
    int IsCompressFile() override { return 0; }
    void Release() override { delete this; }
};

IFileReader* MakeFakeResidentReader(IStorageDevice*, IFileNode*, long long, unsigned) {
    return new FakeResidentReader();
}

}  // namespace

TEST(DataRecovery, ResidentDataComesFromTheNtfsReader) {
    Fixture f;
    RecNode node("small.txt", 18, {});
    node.SetDataRunList(new ResidentList());
    auto rec = MakeRecovery(f.disk.get(), {f.partition});
    ASSERT_TRUE(Select(*rec, &node));
    TempDir dir;

    // Without the NTFS subsystem nothing can be read: all of it is lost,
    // and no file of zeros is left under its name.
    VKRESULT r = rec->RecoverTo((dir / "none.txt").c_str(), nullptr, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryUnreadable)) << Hex(r);
    EXPECT_EQ(rec->GetLostRanges().Ranges(), (std::vector<LostRange>{{0, 18}}));
    EXPECT_FALSE(PathExists(dir / "none.txt"));

    {
        velmora::test::ScopedResidentData ntfs(&MakeFakeResidentReader);
        r = rec->RecoverTo((dir / "small.txt").c_str(), nullptr, 0);
    }
    EXPECT_EQ(r, VK_OK);
    EXPECT_EQ(velmora::test::ReadText(dir / "small.txt"), "resident file data");
}
