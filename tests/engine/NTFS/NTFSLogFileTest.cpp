// The $LogFile reader on logs laid out byte by byte: undo data finds its MFT
// record whatever the cluster size, pieces that would end outside their
// record are skipped, the log's size read from disk cannot make the reader
// run away, and a volume that does not start at sector 0 is read where it
// lies.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "NTFSLib/NTFSFileNode.h"
#include "NTFSSearch/FindFileFromLogFile.h"
#include "NtfsFixtures.h"
#include "NtfsRecordBuilder.h"
#include "support/MemoryStorageDevice.h"

using namespace ntfstest;
using velmora::test::MemoryStorageDevice;

namespace {

// 512-byte sectors, 8 KiB clusters: the $MFT at cluster 2, the $LogFile at
// cluster 20 (eight pages).
struct LogVolume {
    static constexpr uint64_t kCluster = 8192;
    static constexpr int64_t kMft = 2;
    static constexpr int64_t kLog = 20;

    explicit LogVolume(int64_t logClusters = 4) : bytes(64 * kCluster, 0) {
        mft.AddDataRun({kMft, 0, 16});
        PutRecord(2,
                  Record(2)
                      .Add(Attr::StandardInformation(0x06))
                      .Add(Attr::FileName(5, u"$LogFile", 3))
                      .Add(Attr::NonResident(0x80, Pairs({{kLog, logClusters}}), 0, logClusters - 1,
                                             logClusters * static_cast<int64_t>(kCluster),
                                             logClusters * static_cast<int64_t>(kCluster)))
                      .Build());
    }
    void PutRecord(uint32_t n, const Bytes& r) {
        std::memcpy(bytes.data() + kMft * kCluster + n * 1024, r.data(), r.size());
    }
    void PutPage(int page, const Bytes& p) {
        std::memcpy(bytes.data() + kLog * kCluster + page * 4096, p.data(), p.size());
    }
    Bytes RecordBytes(uint32_t n) const {
        return Bytes(bytes.begin() + static_cast<long>(kMft * kCluster + n * 1024),
                     bytes.begin() + static_cast<long>(kMft * kCluster + (n + 1) * 1024));
    }
    Bytes bytes;
    CNTFSDataRunList mft;
};

std::unique_ptr<CNTFSFileProperties> Properties(const Bytes& record) {
    CNTFSMultiFileRecord multi(record.data(), record.size(), 0, 0, nullptr, nullptr);
    int64_t parent = -1;
    return std::unique_ptr<CNTFSFileProperties>(
        CNTFSFilePropertiesBuilder::BuildFileProperties(0, multi, LogVolume::kCluster, &parent));
}

std::vector<DataRun> RunsOf(CNTFSFileProperties& props) {
    std::vector<DataRun> out;
    if (IDataRunList* list = props.GetDataRunList()) {
        for (const DataRun* r = list->GetFirst(); r; r = list->GetNext())
            out.push_back(*r);
        list->Release();
    }
    return out;
}

TEST(NTFSLogFile, UndoDataFindsItsRecordWhateverTheClusterSize) {
    LogVolume v;
    // Record 70 as Windows leaves a deleted file: not in use, its data
    // attribute with sizes 0 and no mapping pairs.
    Record deleted(70);
    deleted.InUse(false)
        .Add(Attr::StandardInformation(0x20))
        .Add(Attr::FileName(5, u"lost.bin", 1))
        .Add(Attr::NonResident(0x80, Bytes(16, 0), 0, -1, 0, 0));
    v.PutRecord(70, deleted.Build());
    const uint16_t dataAt = static_cast<uint16_t>(deleted.AttributeOffset(2));
    // Record 70 lies in cluster 8 of the $MFT, 12 blocks of 512 bytes in.
    Bytes pairs = Pairs({{300, 5}, {400, 2}});
    pairs.resize(16, 0);
    // A second piece aimed at the same record whose end lies past it.
    const Bytes outside(40, 0x11);
    v.PutPage(4, RecordPage({LogRecord(0x100, 8, 12, dataAt, 0x40, {}, pairs),
                             LogRecord(0x110, 8, 12, dataAt, 1000, {}, outside)},
                            0x110));
    auto device = std::make_unique<MemoryStorageDevice>(v.bytes, 512);
    CFindFileFromLogFile log;
    ASSERT_TRUE(log.Init(device.get(), v.mft, 16, 0, 1024));
    ASSERT_TRUE(log.IsReady());
    EXPECT_EQ(log.GetLogPageCount(), 8);
    log.Analyzer();
    EXPECT_EQ(log.UndoPieceCount(), 2u);

    const Bytes raw = v.RecordBytes(70);
    auto props = Properties(raw);
    ASSERT_TRUE(props);
    EXPECT_EQ(props->GetFileSize(), 0);
    ASSERT_TRUE(log.ReplaceFileRecordInfo(raw.data(), raw.size(), props.get(), 5, nullptr));
    const std::vector<DataRun> runs = RunsOf(*props);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].start, 300);
    EXPECT_EQ(runs[0].length, 5);
    EXPECT_EQ(runs[1].start, 400);
    EXPECT_EQ(props->GetFileSize(), 7 * static_cast<long long>(LogVolume::kCluster));

    // A live file the log knows nothing about is left as it is.
    auto other = Properties(Record(71).Add(Attr::FileName(5, u"other.bin", 1)).Build());
    const Bytes otherRaw = Record(71).Add(Attr::FileName(5, u"other.bin", 1)).Build();
    EXPECT_FALSE(
        log.ReplaceFileRecordInfo(otherRaw.data(), otherRaw.size(), other.get(), 5, nullptr));
}

TEST(NTFSLogFile, SizeReadFromDiskCannotMakeTheReaderRunAway) {
    // A $LogFile whose run claims 2^31 clusters on a 512 KiB device.
    LogVolume v(int64_t{1} << 31);
    auto device = std::make_unique<MemoryStorageDevice>(v.bytes, 512);
    CFindFileFromLogFile log;
    ASSERT_TRUE(log.Init(device.get(), v.mft, 16, 0, 1024));
    ASSERT_EQ(log.GetLogPageCount(), CFindFileFromLogFile::kMaxLogPages);
    const long long before = device->Reads();
    log.Analyzer();
    EXPECT_LE(device->Reads() - before, 2 * CFindFileFromLogFile::kMaxLogPages);
    EXPECT_TRUE(log.Images().empty());
}

TEST(NTFSLogFile, VolumeInsideADiskIsReadAtItsStart) {
    if (FixtureDir().empty())
        GTEST_SKIP() << "the NTFS fixtures cannot be unpacked here";
    auto volume = MemoryStorageDevice::FromFile(Image("ntfs_log"), 512);
    WalkedVolume walk;
    ASSERT_TRUE(WalkMft(*volume, walk));
    // The same volume at sector 8192 of a disk: further in than its 2 MiB
    // $LogFile is long, so reading the log where the volume does not start
    // finds none of it.
    std::vector<uint8_t> disk(8192 * 512, 0xEE);
    disk.insert(disk.end(), volume->Bytes().begin(), volume->Bytes().end());
    MemoryStorageDevice device(disk, 512);
    CFindFileFromLogFile log;
    ASSERT_TRUE(log.Init(&device, walk.mft, walk.geometry.sectorsPerCluster, 8192,
                         walk.geometry.recordBytes));
    ASSERT_TRUE(log.IsReady());
    log.Analyzer();
    EXPECT_EQ(log.Images().size(), 2u);
}

}  // namespace
