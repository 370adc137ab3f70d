#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeviceTestHelpers.h"
#include "DiskDevice.h"
#include "PartitionDevice.h"
#include "StorageDevices.h"
#include "Utility/MessageCenter.h"
#include "platform/RawIo.h"
#include "support/MemoryStorageDevice.h"

using devtest::AllZero;
using devtest::PatternMismatch;
using velmora::platform::FaultyRawIo;
using velmora::platform::ScopedRawIo;

namespace {

constexpr long long kMiB = 1 << 20;

bool IsStorageError(VKRESULT r, uint32_t error) {
    return ResultIs(r, kModuleStorageDevice, error);
}

class NodeDeviceTest : public testing::Test {
protected:
    void SetUp() override { CNodeDeviceBase::SetReopenDelayMs(1); }
    void TearDown() override { CNodeDeviceBase::SetReopenDelayMs(1000); }

    std::unique_ptr<IStorageDevice> OpenDisk(long long bytes, bool volume = false) {
        devtest::WritePatternFile(path, bytes);
        std::unique_ptr<IStorageDevice> dev(volume ? CreateVolumeDevice(path.c_str())
                                                   : CreateDiskDevice(path.c_str()));
        EXPECT_EQ(dev->Open(nullptr), 1);
        return dev;
    }

    velmora::test::TempDir dir;
    std::string path = dir / "disk.img";
};

TEST_F(NodeDeviceTest, RegularFileHas512ByteSectorsAndItsSize) {
    auto dev = OpenDisk(3 * kMiB + 700);
    EXPECT_EQ(dev->GetSectorSize(), 512);
    EXPECT_EQ(dev->GetTotalSectors(), (3 * kMiB + 700) / 512);
    EXPECT_EQ(dev->GetType(), kDeviceDisk);
    std::vector<uint8_t> buf(4096);
    ASSERT_EQ(dev->ReadSector(buf.data(), 1000, 8), 1);
    EXPECT_EQ(PatternMismatch(buf.data(), 1000 * 512, buf.size()), -1);
    EXPECT_EQ(dev->GetLastError(), VK_OK);
}

TEST_F(NodeDeviceTest, TenMiBReadWithFailedMiddlePieceZeroesOnlyThatPiece) {
    auto dev = OpenDisk(12 * kMiB);
    FaultyRawIo faulty;
    faulty.FailRange(5 * kMiB, 1);  // inside the second 4 MiB piece
    ScopedRawIo scoped(&faulty);
    std::vector<uint8_t> buf(10 * kMiB, 0xAA);
    EXPECT_EQ(dev->ReadSector(buf.data(), 0, 10 * kMiB / 512), 0);
    EXPECT_TRUE(IsStorageError(dev->GetLastError(), kErrFailed));
    EXPECT_EQ(PatternMismatch(buf.data(), 0, 4 * kMiB), -1);
    EXPECT_TRUE(AllZero(buf.data() + 4 * kMiB, 4 * kMiB));
    EXPECT_EQ(PatternMismatch(buf.data() + 8 * kMiB, 8 * kMiB, 2 * kMiB), -1);
}

TEST_F(NodeDeviceTest, ReadPastTheFileEndFailsWithZerosBehindTheData) {
    auto dev = OpenDisk(6 * kMiB);
    std::vector<uint8_t> buf(10 * kMiB, 0xAA);
    EXPECT_EQ(dev->ReadSector(buf.data(), 0, 10 * kMiB / 512), 0);
    EXPECT_TRUE(IsStorageError(dev->GetLastError(), kErrFailed));
    EXPECT_EQ(PatternMismatch(buf.data(), 0, 6 * kMiB), -1);
    EXPECT_TRUE(AllZero(buf.data() + 6 * kMiB, 4 * kMiB));
}

TEST_F(NodeDeviceTest, ShortReadsAreCompletedAndDelaysTolerated) {
    auto dev = OpenDisk(9 * kMiB);
    FaultyRawIo faulty;
    faulty.SetShortReads(3000);  // not a multiple of the sector size
    faulty.SetDelayMs(1);
    ScopedRawIo scoped(&faulty);
    std::vector<uint8_t> buf(kMiB / 4);
    ASSERT_EQ(dev->ReadSector(buf.data(), 17, buf.size() / 512), 1);
    EXPECT_EQ(PatternMismatch(buf.data(), 17 * 512, buf.size()), -1);
    EXPECT_GT(faulty.ReadCount(), 80);
}

TEST_F(NodeDeviceTest, BadArgumentsFailWithError5AndLeaveTheBufferAlone) {
    for (bool volume : {false, true}) {
        auto dev = OpenDisk(kMiB, volume);
        struct Case {
            const char* what;
            bool nullBuffer;
            long long first, count;
        } cases[] = {
            {"count 0", false, 0, 0},
            {"negative count", false, 0, -1},
            {"null buffer", true, 0, 1},
            {"negative first", false, -1, 1},
            {"count overflowing bytes", false, 0, (1LL << 62)},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            std::vector<uint8_t> buf(512, 0x5C);
            EXPECT_EQ(dev->ReadSector(c.nullBuffer ? nullptr : buf.data(), c.first, c.count), 0);
            EXPECT_TRUE(IsStorageError(dev->GetLastError(), kErrBadArgument));
            EXPECT_EQ(buf, std::vector<uint8_t>(512, 0x5C));
        }
    }
}

TEST_F(NodeDeviceTest, VolumeRefusesSectorsPastItsEndWhileDiskPassesThem) {
    auto volume = OpenDisk(kMiB, true);
    std::vector<uint8_t> buf(512);
    EXPECT_EQ(volume->ReadSector(buf.data(), 2048, 1), 0);
    EXPECT_TRUE(IsStorageError(volume->GetLastError(), kErrBadArgument));

    auto disk = OpenDisk(kMiB);
    EXPECT_EQ(disk->ReadSector(buf.data(), 2048, 1), 0);
    EXPECT_TRUE(IsStorageError(disk->GetLastError(), kErrFailed));  // the read path answered
}

TEST_F(NodeDeviceTest, OpenRefusalsClearPermittedOnlyForAccessErrors) {
    devtest::WritePatternFile(path, 4096);
    struct Case {
        int error;
        int permitted;
    } cases[] = {{EACCES, 0}, {EPERM, 0}, {ENOENT, 1}, {EIO, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        FaultyRawIo faulty;
        faulty.SetOpenError(c.error);
        ScopedRawIo scoped(&faulty);
        std::unique_ptr<IStorageDevice> dev(CreateDiskDevice(path.c_str()));
        EXPECT_EQ(dev->Open(nullptr), 0);
        EXPECT_TRUE(IsStorageError(dev->GetLastError(), kErrFailed));
        EXPECT_EQ(dev->IsPermitted(), c.permitted);
    }
}

TEST_F(NodeDeviceTest, UnreadableNodeIsNotPermitted) {
    if (velmora::test::IsRoot())
        GTEST_SKIP()
            << "root reads files whatever their mode; the injected EACCES case covers this";
    devtest::WritePatternFile(path, 4096);
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    std::unique_ptr<IStorageDevice> dev(CreateVolumeDevice(path.c_str()));
    EXPECT_EQ(dev->Open(nullptr), 0);
    EXPECT_EQ(dev->IsPermitted(), 0);
}

TEST_F(NodeDeviceTest, PathThatDoesNotFitIsRefusedNotCut) {
    std::string longPath = dir.path() + "/" + std::string(140, 'a');
    std::unique_ptr<IStorageDevice> dev(CreateDiskDevice(longPath.c_str()));
    EXPECT_EQ(dev->Open(nullptr), 0);
    EXPECT_TRUE(IsStorageError(dev->GetLastError(), kErrBadArgument));
}

TEST_F(NodeDeviceTest, ReOpenTriesThreeTimes) {
    auto dev = OpenDisk(4096);
    auto* disk = static_cast<CDiskDevice*>(dev.get());
    EXPECT_EQ(disk->ReOpen(), 1);
    std::vector<uint8_t> buf(512);
    EXPECT_EQ(disk->ReadSector(buf.data(), 1, 1), 1);

    FaultyRawIo faulty;
    faulty.SetOpenError(EIO);
    ScopedRawIo scoped(&faulty);
    EXPECT_EQ(disk->ReOpen(), 0);
    EXPECT_EQ(disk->Close(), 0);  // nothing left open
}

TEST_F(NodeDeviceTest, IOCtlFailsOnEveryDeviceKind) {
    auto disk = OpenDisk(kMiB);
    std::unique_ptr<IStorageDevice> volume(CreateVolumeDevice(path.c_str()));
    std::unique_ptr<IStorageDevice> window(CreatePartitionDevice(disk.get(), 0, 10));
    std::unique_ptr<IStorageDevice> edi(CreateEdiDeviceImp(path.c_str()));
    std::unique_ptr<IStorageDevice> dmg(CreateDmgDeviceImp(path.c_str()));
    for (IStorageDevice* dev : {disk.get(), volume.get(), window.get(), edi.get(), dmg.get()}) {
        SCOPED_TRACE(dev->GetType());
        EXPECT_EQ(dev->IOCtl(0x40046418, nullptr), 0);
        EXPECT_TRUE(IsStorageError(dev->GetLastError(), kErrNotSupported));
    }
}

TEST_F(NodeDeviceTest, RecordsGiveGeometryAndMissingRecordsAnswerError7) {
    auto disk = OpenDisk(kMiB);
    auto* d = static_cast<CDiskDevice*>(disk.get());
    EXPECT_EQ(d->GetDiskInfo(), nullptr);
    EXPECT_TRUE(IsStorageError(d->GetLastError(), kErrNoInformation));
    d->SetPrivateData(
        CreateVolumeDeviceData(new CCollectedVolumeDeviceInfoStruct{}));  // wrong kind
    EXPECT_EQ(d->GetDiskInfo(), nullptr);
    EXPECT_TRUE(IsStorageError(d->GetLastError(), kErrNoInformation));

    auto* rec = new CCollectDiskDeviceInfoStruct{};
    rec->sectorSize = 4096;
    rec->totalSectors = 256;
    d->SetPrivateData(CreateDiskDeviceData(rec));
    EXPECT_EQ(d->GetDiskInfo(), rec);
    EXPECT_EQ(d->GetSectorSize(), 4096);
    EXPECT_EQ(d->GetTotalSectors(), 256);

    std::vector<CCollectedVolumeDeviceInfoStruct> vols(2), out;
    vols[1].partitionNumber = 7;
    d->SetVolumes(vols);
    EXPECT_EQ(d->GetVolumes(out), 2);
    EXPECT_EQ(out[1].partitionNumber, 7);
}

TEST_F(NodeDeviceTest, FailedDiskOrVolumeReadPushesTheBadSectorEvent) {
    struct Counter : INotifyCenter {
        std::atomic<int> seen{0};
        void Notify(_MSG_EVENT* e) override {
            if (e->type == kEventSectorReadFailed)
                seen++;
        }
    };
    CMessageCenter* mc = CMessageCenter::Instance();
    mc->SetDeliveryInterval(std::chrono::milliseconds(5));
    // A whole-disk scan reads through the disk device, a volume scan through
    // the volume device: both must report what they could not read.
    for (bool volumeDevice : {true, false}) {
        SCOPED_TRACE(volumeDevice ? "volume" : "disk");
        Counter counter;
        ASSERT_TRUE(mc->RegisterNotifyCenter(1, &counter));
        mc->StartReceiveMessage();
        {
            auto device = OpenDisk(kMiB, volumeDevice);
            FaultyRawIo faulty;
            faulty.FailRange(0, kMiB);
            ScopedRawIo scoped(&faulty);
            std::vector<uint8_t> buf(512);
            EXPECT_EQ(device->ReadSector(buf.data(), 3, 1), 0);
            for (int i = 0; i < 400 && counter.seen == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        mc->StopReceiveMessage();
        mc->UnregisterNotifyCenter(1);
        EXPECT_EQ(counter.seen, 1);
    }
    mc->SetDeliveryInterval(std::chrono::milliseconds(1000));
}

// A disk over a pattern file with a disk record, as enumeration makes it.
class WindowTest : public NodeDeviceTest {
protected:
    void SetUp() override {
        NodeDeviceTest::SetUp();
        disk = OpenDisk(kMiB);
        auto* rec = new CCollectDiskDeviceInfoStruct{};
        rec->sectorSize = 512;
        rec->totalSectors = 2048;
        disk->SetPrivateData(CreateDiskDeviceData(rec));
    }
    std::unique_ptr<IStorageDevice> disk;
};

TEST_F(WindowTest, ReadAcrossTheWindowEndGivesZerosBehindIt) {
    std::unique_ptr<IStorageDevice> window(CreatePartitionDevice(disk.get(), 100, 200));
    ASSERT_EQ(window->Open(nullptr), 1);
    auto* part = new CCollectedPartitionDeviceInfoStruct{};
    part->flag = 0;
    part->disk = disk.get();
    part->startSector = 100;
    part->sectorCount = 200;
    part->sectorSize = 512;
    window->SetPrivateData(CreatePartitionDeviceData(part));
    std::unique_ptr<IStorageDevice> virt(CreatePartitionVirtualVolumeDevice(window.get()));
    ASSERT_NE(virt, nullptr);
    EXPECT_EQ(virt->GetType(), kDeviceVolume);
    EXPECT_EQ(static_cast<CPartitionVirtualVolumeDevice*>(virt.get())->GetStartSector(), 100);

    for (IStorageDevice* dev : {window.get(), virt.get()}) {
        SCOPED_TRACE(dev->GetType());
        std::vector<uint8_t> buf(100 * 512, 0xAA);
        EXPECT_EQ(dev->ReadSector(buf.data(), 190, 100), 1);
        EXPECT_EQ(PatternMismatch(buf.data(), 290 * 512, 10 * 512), -1);
        EXPECT_TRUE(AllZero(buf.data() + 10 * 512, 90 * 512));
    }
}

TEST_F(WindowTest, WindowRefusesRequestsOutsideIt) {
    std::unique_ptr<IStorageDevice> window(CreatePartitionDevice(disk.get(), 100, 200));
    ASSERT_EQ(window->Open(nullptr), 1);
    struct Case {
        const char* what;
        long long first, count;
    } cases[] = {{"first at the end", 200, 1},
                 {"negative first", -1, 1},
                 {"count over the window", 0, 201},
                 {"negative count", 10, -5},
                 {"count 0", 10, 0}};
    // The window itself refuses: a parent that records its reads sees none
    // (the parent would refuse most of these too, which would hide a window
    // that passes them on).
    velmora::test::MemoryStorageDevice parent(std::vector<uint8_t>(kMiB), 512);
    std::unique_ptr<IStorageDevice> recorded(CreatePartitionDevice(&parent, 100, 200));
    ASSERT_EQ(recorded->Open(nullptr), 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (IStorageDevice* dev : {window.get(), recorded.get()}) {
            std::vector<uint8_t> buf(512, 0x33);
            EXPECT_EQ(dev->ReadSector(buf.data(), c.first, c.count), 0);
            EXPECT_TRUE(IsStorageError(dev->GetLastError(), kErrBadArgument));
            EXPECT_EQ(buf[0], 0x33);
        }
    }
    EXPECT_EQ(window->ReadSector(nullptr, 0, 1), 0);
    EXPECT_EQ(recorded->ReadSector(nullptr, 0, 1), 0);
    EXPECT_EQ(parent.Reads(), 0);
    std::vector<uint8_t> one(512);
    EXPECT_EQ(recorded->ReadSector(one.data(), 199, 1), 1);
    EXPECT_EQ(parent.Reads(), 1);

    std::unique_ptr<IStorageDevice> orphan(CreatePartitionDevice(nullptr, 0, 10));
    std::vector<uint8_t> buf(512);
    EXPECT_EQ(orphan->Open(nullptr), 0);
    EXPECT_TRUE(IsStorageError(orphan->GetLastError(), kErrNoInformation));
    EXPECT_EQ(orphan->ReadSector(buf.data(), 0, 1), 0);
    EXPECT_TRUE(IsStorageError(orphan->GetLastError(), kErrNoInformation));
}

TEST_F(WindowTest, WindowCarriesTheParentsReadFailure) {
    std::unique_ptr<IStorageDevice> window(CreatePartitionDevice(disk.get(), 100, 200));
    ASSERT_EQ(window->Open(nullptr), 1);
    FaultyRawIo faulty;
    faulty.FailRange(150 * 512, 512);
    ScopedRawIo scoped(&faulty);
    std::vector<uint8_t> buf(512, 0x33);
    EXPECT_EQ(window->ReadSector(buf.data(), 50, 1), 0);
    EXPECT_TRUE(IsStorageError(window->GetLastError(), kErrFailed));
    EXPECT_TRUE(AllZero(buf.data(), 512));
}

TEST_F(WindowTest, WindowWhoseSectorSizeDiffersFromTheParentsRefusesToRead) {
    std::unique_ptr<IStorageDevice> window(CreatePartitionDevice(disk.get(), 0, 100));
    auto* part = new CCollectedPartitionDeviceInfoStruct{};
    part->sectorSize = 4096;  // the parent reads 512-byte sectors
    part->sectorCount = 100;
    window->SetPrivateData(CreatePartitionDeviceData(part));
    std::vector<uint8_t> buf(4096);
    EXPECT_EQ(window->ReadSector(buf.data(), 0, 1), 0);
    EXPECT_TRUE(IsStorageError(window->GetLastError(), kErrBadArgument));
}

TEST_F(WindowTest, VirtualVolumeNeedsAPartitionRecordNamingItsDisk) {
    std::unique_ptr<IStorageDevice> window(CreatePartitionDevice(disk.get(), 0, 100));
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(nullptr), nullptr);
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(window.get()), nullptr);  // no private data
    auto* part = new CCollectedPartitionDeviceInfoStruct{};
    window->SetPrivateData(CreatePartitionDeviceData(part));
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(window.get()), nullptr);  // no disk
    part->disk = disk.get();
    part->flag = 1;
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(window.get()), nullptr);  // not a physical disk
    part->flag = 0;
    std::unique_ptr<IStorageDevice> virt(CreatePartitionVirtualVolumeDevice(window.get()));
    ASSERT_NE(virt, nullptr);
    auto* v = static_cast<CPartitionVirtualVolumeDevice*>(virt.get());
    EXPECT_EQ(v->GetVolumeInfo(), nullptr);
    EXPECT_TRUE(IsStorageError(v->GetLastError(), kErrNoInformation));
    auto* vol = new CCollectedVolumeDeviceInfoStruct{};
    vol->sectorSize = 256;  // smaller: the larger sector size stays
    vol->totalSectors = 42;
    v->SetPrivateData(CreateVolumeDeviceData(vol));
    EXPECT_EQ(v->GetSectorSize(), 512);
    EXPECT_EQ(v->GetTotalSectors(), 42);
    EXPECT_EQ(v->GetVolumeInfo(), vol);
}

}  // namespace

namespace {

TEST_F(NodeDeviceTest, ReadOverItsTimeLimitIsZeroAndNothingWritesLater) {
    auto dev = OpenDisk(kMiB);
    auto slow = std::make_shared<FaultyRawIo>();
    velmora::platform::TimedRawIo timed(slow, 50);
    ScopedRawIo scoped(&timed);

    std::vector<uint8_t> buf(4096, 0xAA);
    ASSERT_EQ(dev->ReadSector(buf.data(), 8, 8), 1);  // in time: read through
    EXPECT_EQ(PatternMismatch(buf.data(), 8 * 512, buf.size()), -1);

    slow->SetDelayMs(400);
    std::fill(buf.begin(), buf.end(), 0xAA);
    EXPECT_EQ(dev->ReadSector(buf.data(), 8, 8), 0);
    EXPECT_TRUE(IsStorageError(dev->GetLastError(), kErrFailed));
    EXPECT_TRUE(AllZero(buf.data(), buf.size()));
    // The abandoned read completes later, into its own buffer only.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_TRUE(AllZero(buf.data(), buf.size()));
}

}  // namespace

namespace {

// Records the read-ahead hints the reads give.
struct HintRecorder : FaultyRawIo {
    std::vector<std::pair<long long, long long>> hints;
    void WillRead(int, long long offset, long long length) override {
        hints.emplace_back(offset, length);
    }
};

// A walk reads whole pieces one after another, and a disk is kept busy only
// when the system is told of the next piece before it is asked for: other
// reads between the walk's (a file system's records) stop the system's own
// read-ahead. Small reads say nothing of what comes next.
TEST_F(NodeDeviceTest, AReadOfWholePiecesTellsTheSystemOfTheRangeAfterIt) {
    constexpr long long kPiece = kReadPieceBytes;
    const struct {
        long long firstSector;
        long long sectors;
        std::vector<std::pair<long long, long long>> hints;
    } cases[] = {
        {0, kPiece / 512, {{kPiece, kPiece}}},
        {2048, 2 * kPiece / 512, {{2048 * 512 + 2 * kPiece, 2 * kPiece}}},
        {8, 8, {}},
        {0, kPiece / 512 - 1, {}},
    };
    auto dev = OpenDisk(4 * kPiece);
    HintRecorder io;
    ScopedRawIo scoped(&io);
    std::vector<uint8_t> buf(static_cast<size_t>(2 * kPiece));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.firstSector);
        io.hints.clear();
        ASSERT_EQ(dev->ReadSector(buf.data(), c.firstSector, c.sectors), 1);
        EXPECT_EQ(
            PatternMismatch(buf.data(), c.firstSector * 512, static_cast<size_t>(c.sectors * 512)),
            -1);
        EXPECT_EQ(io.hints, c.hints);
    }
}

// A hint to a device that stopped answering must not hold up the reader: the
// timed reads hand it to a thread of their own.
TEST(TimedRawIo, AHintThatBlocksDoesNotHoldTheCaller) {
    struct Stuck : FaultyRawIo {
        std::mutex mutex;
        std::condition_variable released;
        bool release = false;
        std::atomic<bool> hinted{false};
        void WillRead(int, long long, long long) override {
            std::unique_lock<std::mutex> lock(mutex);
            released.wait_for(lock, std::chrono::seconds(10), [this] { return release; });
            hinted = true;
        }
    };
    auto stuck = std::make_shared<Stuck>();
    velmora::platform::TimedRawIo timed(stuck, 50);
    timed.WillRead(0, 0, kMiB);
    // Back before the blocked hint was let go.
    EXPECT_FALSE(stuck->hinted.load());
    {
        std::lock_guard<std::mutex> lock(stuck->mutex);
        stuck->release = true;
    }
    stuck->released.notify_all();
    for (int i = 0; i < 1000 && !stuck->hinted.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(stuck->hinted.load());
}

}  // namespace
