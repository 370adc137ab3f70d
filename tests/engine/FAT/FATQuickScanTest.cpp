// Quick scans of FAT volumes made by mkfs.fat and mtools: the FAT quick
// searcher feeds the real tree builder, every found file is recovered into
// a folder, and the folder is checked against the fixture manifests and
// against what Sleuth Kit recovers from the same image. Damaged volumes
// must end with the searcher's result codes and a final progress record.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FATBuildWorker.h"
#include "FATDBR.h"
#include "FATFileNode.h"
#include "FATPartitionInfo.h"
#include "FATQuickSearch.h"
#include "FATTable.h"
#include "FatQuickScanHarness.h"
#include "FatTools.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "SearchInterfaces.h"
#include "StorageDevices.h"
#include "support/TestSupport.h"

using namespace velmora::fattest;
using velmora::test::TempDir;

namespace {

constexpr uint32_t kNotFat = kErrFATNotFATVolume;

// The fixture images, made once for the whole suite.
class FatQuickScanTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // DOS times are local time; the fixtures were written in UTC.
        setenv("TZ", "UTC", 1);
        tzset();
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy") || !HaveTool("python3"))
            return;
        s_dir = new TempDir();
        std::string out;
        s_ok = RunTool({"sh", velmora::test::SourceDir() + "/tests/fixtures/fat/make.sh",
                        s_dir->path()},
                       &out) == 0;
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        if (!s_ok)
            GTEST_SKIP() << "the FAT fixtures cannot be made here (mkfs.fat, mtools, python3)";
    }
    static std::string Image(const std::string& name) {
        return s_dir->path() + "/fat/" + name + ".img";
    }
    static std::string Manifest(const std::string& name) {
        return s_dir->path() + "/fat/" + name + ".json";
    }

    // A copy of a fixture image the test may damage.
    std::string Copy(const std::string& name) {
        const std::string copy = m_tmp / (name + ".img");
        std::filesystem::copy_file(Image(name), copy);
        return copy;
    }
    static void ZeroSector(const std::string& image, long long sector, int sectorSize = 512) {
        const int fd = ::open(image.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const std::vector<char> zeros(static_cast<size_t>(sectorSize), 0);
        ASSERT_EQ(::pwrite(fd, zeros.data(), zeros.size(), sector * sectorSize), sectorSize);
        ::close(fd);
    }

    static inline TempDir* s_dir = nullptr;
    static inline bool s_ok = false;
    TempDir m_tmp;
};

void ExpectFinished(const RecordingProgress& p) {
    ASSERT_FALSE(p.records.empty());
    EXPECT_EQ(p.records.back().state, PROGRESS_FINISHED);
    EXPECT_EQ(p.records.back().total, 100);
    EXPECT_EQ(p.records.back().done, 100);
}

struct FixtureCase {
    const char* name;
    int fsType;
    int sectorSize;
    const char* label;
    bool compareWithSleuthKit;  // the hiclear copy hides deleted clusters from outside readers
};

TEST_F(FatQuickScanTest, FixturesComeBackWholeAndMatchSleuthKit) {
    const FixtureCase cases[] = {
        {"fat16", FS_FAT16, 512, "VOL16", true},
        {"fat32", FS_FAT32, 512, "VOL32", true},
        {"fat32_4k", FS_FAT32, 4096, "VOL4K", true},
        {"fat32_hiclear", FS_FAT32, 512, "VOL32", false},
    };
    for (const FixtureCase& c : cases) {
        SCOPED_TRACE(c.name);
        QuickScan scan(Image(c.name), c.fsType, c.sectorSize);
        ASSERT_TRUE(scan.device);
        EXPECT_EQ(scan.Run(), VK_OK);
        ExpectFinished(scan.progress);
        EXPECT_EQ(scan.tree.roots, 1);

        CSearchedPartitionInfo* records[2] = {};
        ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(records, 2), 1);
        std::unique_ptr<CSearchedPartitionInfo> record(records[0]);
        EXPECT_EQ(record->GetType(), 1);
        EXPECT_EQ(record->fileSystemType, c.fsType);
        EXPECT_EQ(static_cast<CFATSearchedPartitionInfo*>(record.get())->GetFlag(),
                  c.fsType == FS_FAT32 ? kFATQuickFlagsFat32 : kFATQuickFlagsFat16);

        const std::string out = m_tmp / (std::string(c.name) + "-out");
        const RecoverFolderStats stats =
            RecoverToFolder(scan.Files(true), scan.device.get(), scan.searcher.get(), out, false);
        EXPECT_EQ(stats.failed, 0);
        std::string report;
        EXPECT_EQ(RunScript("check_recovered.py", {Manifest(c.name), out}, &report), 0) << report;
        if (c.compareWithSleuthKit &&
            VELMORA_HAVE_TOOL(HaveTool("tsk_recover") && HaveTool("fls"), "Sleuth Kit")) {
            EXPECT_EQ(RunScript("compare_tsk.py", {Image(c.name), out}, &report), 0) << report;
        }

        std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(scan.device.get(), 0));
        ASSERT_TRUE(analyze);
        EXPECT_EQ(analyze->GetFileSystemType(), c.fsType);
        EXPECT_EQ(analyze->GetTotalSector(),
                  static_cast<long long>(std::filesystem::file_size(Image(c.name))) / c.sectorSize);
        char label[200];
        std::memset(label, 'x', sizeof(label));
        EXPECT_EQ(analyze->GetLabel(label, sizeof(label)), 100);
        EXPECT_STREQ(label, c.label);
        EXPECT_EQ(label[100], 'x');
    }
}

TEST_F(FatQuickScanTest, ThroughTheScanControllers) {
#ifndef VELMORA_SCAN_DRIVER
    GTEST_SKIP() << "the scan driver is not built in this configuration";
#endif
    for (const FixtureCase& c : {FixtureCase{"fat16", FS_FAT16, 512, "VOL16", true},
                                 FixtureCase{"fat32", FS_FAT32, 512, "VOL32", true}}) {
        SCOPED_TRACE(c.name);
        std::string log, report;
        const std::string tree = DriveQuickScanAndRecover(
            Image(c.name), c.fsType, c.sectorSize, m_tmp / (std::string(c.name) + "-driven"), &log);
        ASSERT_FALSE(tree.empty()) << log;
        EXPECT_EQ(RunScript("check_recovered.py", {Manifest(c.name), tree}, &report), 0) << report;
        if (VELMORA_HAVE_TOOL(HaveTool("tsk_recover") && HaveTool("fls"), "Sleuth Kit")) {
            EXPECT_EQ(RunScript("compare_tsk.py", {Image(c.name), tree}, &report), 0) << report;
        }
    }
    // FAT12 is refused by the FAT quick searcher (the caller runs a deep scan
    // of such a volume instead).
    std::string log;
    EXPECT_TRUE(
        DriveQuickScanAndRecover(Image("fat12"), FS_FAT12, 512, m_tmp / "fat12-driven", &log)
            .empty());
    EXPECT_NE(log.find("result 0x010a"), std::string::npos) << log;
}

TEST_F(FatQuickScanTest, OnlyDeletedFilesWhenAsked) {
    QuickScan scan(Image("fat16"), FS_FAT16, 512, false);
    ASSERT_EQ(scan.Run(), VK_OK);
    CSearchedPartitionInfo* records[1] = {};
    ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(records, 1), 1);
    std::unique_ptr<CSearchedPartitionInfo> record(records[0]);
    const std::string out = m_tmp / "deleted";
    // Live files are not even shown; the folders holding deleted files are.
    EXPECT_FALSE(scan.Files().count("/short.txt"));
    RecoverToFolder(scan.Files(), scan.device.get(), scan.searcher.get(), out, true);
    std::set<std::string> got;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out))
        if (e.is_regular_file())
            got.insert("/" + std::filesystem::relative(e.path(), out).string());
    const std::set<std::string> expected = {"/Pics/deleted photo.jpg", "/Docs/deleted note.txt",
                                            "/root gone.jpg", "/Gone/lost photo.jpg",
                                            "/Gone/Inner/deep report.pdf"};
    EXPECT_EQ(got, expected);
}

TEST_F(FatQuickScanTest, DamagedAndUnsupportedVolumes) {
    // FAT32 keeps a backup boot sector at 6; FAT16 has none.
    const std::string fat32 = Copy("fat32");
    ZeroSector(fat32, 0);
    {
        QuickScan scan(fat32, FS_FAT32);
        EXPECT_EQ(scan.Run(), VK_OK);
        ExpectFinished(scan.progress);
        const auto files = scan.Files();
        EXPECT_TRUE(files.count("/Docs/Sub/A very long file name with spaces.txt"));
        EXPECT_TRUE(files.count("/Gone/Inner/deep report.pdf"));
        std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(scan.device.get(), 0));
        EXPECT_EQ(analyze->GetFileSystemType(), FS_UNKNOWN);
    }
    const std::string fat16 = Copy("fat16");
    ZeroSector(fat16, 0);
    {
        QuickScan scan(fat16, FS_FAT16);
        EXPECT_TRUE(ResultIs(scan.Run(), kModuleFATSearch, kNotFat));
        ExpectFinished(scan.progress);
        EXPECT_TRUE(scan.Files().empty());
    }
    // FAT12 is not understood: the recogniser says "unknown" and the record
    // type it would carry is refused.
    {
        QuickScan scan(Image("fat12"), FS_FAT12);
        EXPECT_TRUE(ResultIs(scan.Run(), kModuleFATSearch, kNotFat));
        ExpectFinished(scan.progress);
        std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(scan.device.get(), 0));
        EXPECT_EQ(analyze->GetFileSystemType(), FS_UNKNOWN);
        char label[16] = "untouched";
        analyze->GetLabel(label, sizeof(label));
        EXPECT_STREQ(label, "");
    }
    // A FAT12 floppy that the enumeration called FAT16 is still refused by
    // its boot sector.
    {
        QuickScan scan(Image("fat12"), FS_FAT16);
        EXPECT_TRUE(ResultIs(scan.Run(), kModuleFATSearch, kNotFat));
        ExpectFinished(scan.progress);
    }
}

// An image cut short: every file keeps what the image still holds (a last
// cluster in part too) and is reported incomplete for the rest.
TEST_F(FatQuickScanTest, TruncatedImageGivesWhatIsThere) {
    // The fat32 image cut in the middle of FILLER.BIN, a live file of
    // 33 MiB: the boot sector claims more than the device holds.
    const std::string cut = Copy("fat32");
    std::filesystem::resize_file(cut, 20 << 20);
    {
        QuickScan scan(cut, FS_FAT32);
        EXPECT_EQ(scan.Run(), VK_OK);
        ExpectFinished(scan.progress);
        CSearchedPartitionInfo* records[1] = {};
        ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(records, 1), 1);
        std::unique_ptr<CSearchedPartitionInfo> record(records[0]);
        EXPECT_EQ(record->totalSectors, (20 << 20) / 512);
        const auto files = scan.Files();
        ASSERT_TRUE(files.count("/FILLER.BIN"));
        IFileNode* filler = files.at("/FILLER.BIN");
        EXPECT_TRUE(static_cast<CFileNode*>(filler)->IsDamaged());
        const long long size = filler->GetFileSize();
        ASSERT_EQ(size, 33LL << 20);
        const RecoveredFile got =
            RecoverOne(filler, scan.device.get(), scan.searcher.get(), m_tmp / "FILLER.BIN");
        EXPECT_TRUE(ResultIs(got.result, kModuleDataRecovery, kErrRecoveryIncomplete))
            << std::hex << got.result;
        // Its size is not taken on trust: no more is written than the
        // device could hold, and the rest is reported lost below.
        ASSERT_LE(got.bytes.size(), static_cast<size_t>(20 << 20));
        ASSERT_GE(got.bytes.size(), static_cast<size_t>(6));
        EXPECT_EQ(std::string(got.bytes.begin(), got.bytes.begin() + 6), "FILLER");
        // The file starts at cluster 3 of 1-sector clusters; the device ends
        // 20 MiB into the volume.
        std::vector<uint8_t> boot(512);
        ASSERT_TRUE(scan.device->ReadSector(boot.data(), 0, 1));
        FATGeometry geo;
        ASSERT_TRUE(CTempFATDBR(boot.data(), 512).GetGeometry(0, geo));
        const long long firstByte =
            static_cast<long long>(FATClusterToSector(
                geo.dataStart, static_cast<uint64_t>(filler->GetCurrentNodeID()), 1)) *
            512;
        const long long kept = (20LL << 20) - firstByte;
        EXPECT_EQ(got.lost, (std::vector<LostRange>{{kept, size - kept}}));
    }

    // A FAT16 image (4-sector clusters) cut two sectors into the fifth
    // cluster of a deleted photo: those two sectors come back too.
    const std::string fat16 = Copy("fat16");
    std::vector<uint8_t> whole;
    long long cutAt = 0, size = 0;
    {
        QuickScan scan(fat16, FS_FAT16);
        ASSERT_EQ(scan.Run(), VK_OK);
        IFileNode* photo = scan.Files().at("/Pics/deleted photo.jpg");
        size = photo->GetFileSize();
        ASSERT_GT(size, 5 * 2048);
        const RecoveredFile got =
            RecoverOne(photo, scan.device.get(), scan.searcher.get(), m_tmp / "whole.jpg");
        ASSERT_EQ(got.result, VK_OK);
        whole = got.bytes;
        std::vector<uint8_t> boot(512);
        ASSERT_TRUE(scan.device->ReadSector(boot.data(), 0, 1));
        FATGeometry geo;
        ASSERT_TRUE(CTempFATDBR(boot.data(), 512).GetGeometry(0, geo));
        ASSERT_EQ(geo.sectorsPerCluster, 4u);
        const uint64_t fifth = static_cast<uint64_t>(photo->GetCurrentNodeID()) + 4;
        cutAt = static_cast<long long>(FATClusterToSector(geo.dataStart, fifth, 4) + 2) * 512;
    }
    std::filesystem::resize_file(fat16, static_cast<uintmax_t>(cutAt));
    {
        QuickScan scan(fat16, FS_FAT16);
        EXPECT_EQ(scan.Run(), VK_OK);
        IFileNode* photo = scan.Files().at("/Pics/deleted photo.jpg");
        EXPECT_TRUE(static_cast<CFileNode*>(photo)->IsDamaged());
        const RecoveredFile got =
            RecoverOne(photo, scan.device.get(), scan.searcher.get(), m_tmp / "cut.jpg");
        EXPECT_TRUE(ResultIs(got.result, kModuleDataRecovery, kErrRecoveryIncomplete))
            << std::hex << got.result;
        const long long kept = 4 * 2048 + 2 * 512;
        std::vector<uint8_t> want = whole;
        std::fill(want.begin() + kept, want.end(), 0);
        EXPECT_EQ(got.bytes, want);
        EXPECT_EQ(got.lost, (std::vector<LostRange>{{kept, size - kept}}));
    }

    // Cut shorter: inside the reserved sectors (no FAT to confirm the boot
    // sector) and inside the first FAT (no room for a data area).
    for (const auto& [bytes, error] :
         {std::pair<uintmax_t, uint32_t>{12 << 10, kNotFat}, {200 << 10, kNotFat}}) {
        SCOPED_TRACE(bytes);
        const std::string shorter = m_tmp / ("short" + std::to_string(bytes) + ".img");
        std::filesystem::copy_file(cut, shorter);
        std::filesystem::resize_file(shorter, bytes);
        QuickScan s(shorter, FS_FAT32);
        EXPECT_TRUE(ResultIs(s.Run(), kModuleFATSearch, error)) << std::hex << s.result;
        ExpectFinished(s.progress);
        EXPECT_TRUE(s.Files().empty());
    }
}

TEST_F(FatQuickScanTest, RefusedCallsStillFinish) {
    QuickScan scan(Image("fat16"), FS_FAT16);
    RecordingProgress progress;
    EXPECT_TRUE(ResultIs(scan.searcher->QuickSearchFiles(nullptr, &progress), kModuleFATSearch,
                         kErrBadArgument));
    ExpectFinished(progress);
    EXPECT_TRUE(ResultIs(scan.searcher->QuickSearchFiles(scan.device.get(), nullptr),
                         kModuleFATSearch, kErrBadArgument));

    CFATQuickSearcher noBuilder;
    RecordingProgress p2;
    EXPECT_TRUE(ResultIs(noBuilder.QuickSearchFiles(scan.device.get(), &p2), kModuleFATSearch,
                         kErrNoInformation));
    ExpectFinished(p2);
    EXPECT_EQ(noBuilder.GetSearchedPartitionInfo(nullptr, 0), 0);

    // Not a volume, and a volume without its record.
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(Image("fat16").c_str()));
    ASSERT_TRUE(disk->Open(nullptr));
    RecordingProgress p3;
    EXPECT_TRUE(ResultIs(scan.searcher->QuickSearchFiles(disk.get(), &p3), kModuleFATSearch,
                         kErrNotSupported));
    ExpectFinished(p3);
    std::unique_ptr<IStorageDevice> bare(CreateVolumeDevice(Image("fat16").c_str()));
    ASSERT_TRUE(bare->Open(nullptr));
    RecordingProgress p4;
    EXPECT_TRUE(ResultIs(scan.searcher->QuickSearchFiles(bare.get(), &p4), kModuleFATSearch,
                         kErrNoInformation));
    ExpectFinished(p4);
}

TEST_F(FatQuickScanTest, ProgressRisesAndStopKeepsDeliveredNodes) {
    {
        QuickScan scan(Image("fat32"), FS_FAT32);
        ASSERT_EQ(scan.Run(), VK_OK);
        const auto& r = scan.progress.records;
        ASSERT_GE(r.size(), 3u);
        long long last = -1;
        for (size_t i = 0; i + 1 < r.size(); ++i) {
            EXPECT_EQ(r[i].state, PROGRESS_RUNNING);
            EXPECT_EQ(r[i].total, 100);
            if (i + 2 < r.size()) {
                EXPECT_GT(r[i].done, last) << i;
            }
            last = r[i].done;
        }
        EXPECT_EQ(r[r.size() - 2].done, 100);
    }
    {
        QuickScan scan(Image("fat32"), FS_FAT32);
        scan.progress.stopAfter = 1;
        EXPECT_TRUE(ResultIs(scan.Run(), kModuleFATSearch, kErrFATCancelled));
        ExpectFinished(scan.progress);
        const auto files = scan.Files(true);
        // The root's entries were handed over before the stop; nothing below
        // the first folder.
        EXPECT_TRUE(files.count("/short.txt"));
        EXPECT_TRUE(files.count("/Docs"));
        EXPECT_FALSE(files.count("/Docs/Sub/A very long file name with spaces.txt"));
    }
}

TEST_F(FatQuickScanTest, RootOnlyVolumeAndLabelAfterLongName) {
    const std::string img = m_tmp / "empty16.img";
    ASSERT_EQ(RunTool({"truncate", "-s", "16M", img}), 0);
    std::string ignored;
    ASSERT_EQ(RunTool({"mkfs.fat", "-F", "16", img}, &ignored), 0);
    {
        QuickScan scan(img, FS_FAT16);
        EXPECT_EQ(scan.Run(), VK_OK);
        const auto& r = scan.progress.records;
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[0].state, PROGRESS_RUNNING);
        EXPECT_EQ(r[0].done, 100);
        ExpectFinished(scan.progress);
        std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(scan.device.get(), 0));
        EXPECT_EQ(analyze->GetFileSystemType(), FS_FAT16);
        char label[100];
        analyze->GetLabel(label, sizeof(label));
        EXPECT_STREQ(label, "");
    }
    // A long name takes the first root entries; the label set afterwards
    // lands behind it.
    const std::string file = m_tmp / "A long name first.txt";
    velmora::test::WriteFile(file, std::string("x"));
    ASSERT_EQ(RunTool({"mcopy", "-i", img, file, "::/A long name first.txt"}, &ignored), 0);
    ASSERT_EQ(RunTool({"mlabel", "-i", img, "::LATER LBL"}, &ignored), 0);
    QuickScan scan(img, FS_FAT16);
    std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(scan.device.get(), 0));
    char label[8];
    EXPECT_EQ(analyze->GetLabel(label, sizeof(label)), 8);
    EXPECT_STREQ(label, "LATER L");
    char whole[100];
    analyze->GetLabel(whole, sizeof(whole));
    EXPECT_STREQ(whole, "LATER LBL");
}

}  // namespace
