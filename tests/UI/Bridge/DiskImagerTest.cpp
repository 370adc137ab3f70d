// The disk imager over source files standing in for device nodes: the edi
// layout, raw copies, pause and stop, and every way a copy can fail, each
// of which must leave no image behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "DeviceDoubles.h"
#include "StorageDevices.h"
#include "VKMakeDMG.h"
#include "VKUIDeviceData.h"
#include "platform/RawIo.h"
#include "support/TestSupport.h"

namespace {

using velmora::bridgetest::FakeDisk;
using velmora::bridgetest::FakeEnumerator;
namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every 8-byte word holds its own byte position: a misplaced sector shows.
std::vector<uint8_t> Pattern(size_t bytes) {
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i + 8 <= bytes; i += 8) {
        const uint64_t v = i;
        std::memcpy(out.data() + i, &v, 8);
    }
    return out;
}

class Recorder : public VKMakeDMGDelegate {
public:
    void VKGetPrecent(const VKMakeDMGProgress* p) override { reports.push_back(*p); }
    std::vector<VKMakeDMGProgress> reports;
};

class ImagerTest : public testing::Test {
protected:
    // A source file of `sectors` sectors and the catalogue disk 0 that
    // describes it.
    std::string Source(long long sectors, int sectorSize, bool pattern = true) {
        const std::string path = dir / "source.img";
        if (pattern) {
            velmora::test::WriteFile(path, Pattern(static_cast<size_t>(sectors * sectorSize)));
        } else {
            velmora::test::WriteFile(path, std::vector<uint8_t>{});
            fs::resize_file(path, static_cast<uintmax_t>(sectors * sectorSize));
        }
        enumerator.SetDisks(
            {{.name = "Source Disk", .sectors = sectors, .sectorSize = sectorSize}});
        catalogue.InitDeviceInfo();
        return path;
    }
    // Waits for the copy and runs the main loop; the last report.
    VKMakeDMGProgress Finish() {
        imager.WaitForCopy();
        world.poster->RunPending();
        return recorder.reports.empty() ? VKMakeDMGProgress{} : recorder.reports.back();
    }
    std::vector<int64_t> Done() const {
        std::vector<int64_t> done;
        for (const auto& r : recorder.reports)
            done.push_back(r.doneSectors);
        return done;
    }

    velmora::test::TempDir dir;
    velmora::bridgetest::BridgeWorld world;
    FakeEnumerator enumerator;
    VKUIDeviceData catalogue{&enumerator};
    VKMakeDMG imager{catalogue};
    Recorder recorder;
    void SetUp() override { imager.setVKDelegate(&recorder); }
};

TEST_F(ImagerTest, EdiImageLayoutIsAcceptedByTheEngineReader) {
    struct Case {
        int sectorSize;
        long long sectors;
        int64_t dataOffset;
        std::vector<int64_t> done;
        int reads;
    } cases[] = {
        // 512-byte sectors: 8 + 1,192 + 336 zero bytes; two pieces, the
        // second asking only for what the source has.
        {512, 10000, 1536, {0, 8192, 10000}, 2},
        {4096, 300, 4096, {0, 300}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sectorSize);
        recorder.reports.clear();
        const std::string source = Source(c.sectors, c.sectorSize);
        const std::string image = dir / "copy.edi";
        velmora::platform::FaultyRawIo counting;
        velmora::platform::ScopedRawIo use(&counting);
        ASSERT_EQ(imager.VKStart(source, image, 0, -1, 0), 0);
        const VKMakeDMGProgress last = Finish();
        EXPECT_EQ(last.errorCode, 0);
        EXPECT_EQ(last.totalSectors, c.sectors);
        EXPECT_EQ(Done(), c.done);
        EXPECT_EQ(counting.ReadCount(), c.reads);

        const std::vector<uint8_t> bytes = ReadAll(image);
        const std::vector<uint8_t> data = ReadAll(source);
        ASSERT_EQ(bytes.size(), static_cast<size_t>(c.dataOffset) + data.size());
        EXPECT_EQ(std::memcmp(bytes.data(), "edi\0\xa8\x04\0\0", 8), 0);
        CEDIDeviceInfoStruct record;
        std::memcpy(&record, bytes.data() + 8, sizeof record);
        EXPECT_EQ(record.sectorSize, c.sectorSize);
        EXPECT_EQ(record.totalSectors, c.sectors);
        EXPECT_EQ(record.dataOffset, c.dataOffset);
        EXPECT_EQ(record.imageSize, static_cast<int64_t>(bytes.size()));
        EXPECT_STREQ(record.deviceName, "Source Disk");
        EXPECT_EQ(std::string(record.imagePath), image);
        EXPECT_EQ(record.creationTime, velmora::bridgetest::BridgeWorld::kNow);
        EXPECT_TRUE(std::all_of(bytes.begin() + 1200, bytes.begin() + c.dataOffset,
                                [](uint8_t b) { return b == 0; }));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes.begin() + c.dataOffset));

        std::unique_ptr<IStorageDevice> edi(CreateEdiDevice(image.c_str()));
        ASSERT_NE(edi, nullptr);
        EXPECT_EQ(edi->GetSectorSize(), c.sectorSize);
        EXPECT_EQ(edi->GetTotalSectors(), c.sectors);
        std::vector<uint8_t> last2(2 * static_cast<size_t>(c.sectorSize));
        ASSERT_NE(edi->ReadSector(last2.data(), c.sectors - 2, 2), 0);
        EXPECT_TRUE(std::equal(last2.begin(), last2.end(), data.end() - last2.size()));

        // Cut short, the image no longer matches its record.
        const std::string cut = dir / "cut.edi";
        fs::copy_file(image, cut, fs::copy_options::overwrite_existing);
        fs::resize_file(cut, bytes.size() - 512);
        EXPECT_EQ(std::unique_ptr<IStorageDevice>(CreateEdiDevice(cut.c_str())), nullptr);
    }
}

TEST_F(ImagerTest, RawImageIsTheSourceAlone) {
    const std::string source = Source(9000, 512);
    const std::string image = dir / "copy.img";
    ASSERT_EQ(imager.VKStart(source, image, 0, -1, 1), 0);
    EXPECT_EQ(Finish().errorCode, 0);
    EXPECT_EQ(ReadAll(image), ReadAll(source));
    EXPECT_EQ(imager.EdiInfo().dataOffset, 0);
}

TEST_F(ImagerTest, VolumeIsCopiedWithItsOwnRecord) {
    const std::string source = dir / "volume.img";
    velmora::test::WriteFile(source, Pattern(3000 * 512));
    enumerator.SetDisks(
        {{.name = "Disk", .sectors = 20000, .volumes = {{.name = "Data", .sectors = 3000}}}});
    catalogue.InitDeviceInfo();
    const std::string image = dir / "volume.edi";
    ASSERT_EQ(imager.VKStart(source, image, 0, 0, 0), 0);
    EXPECT_EQ(Finish().errorCode, 0);
    std::unique_ptr<IStorageDevice> edi(CreateEdiDevice(image.c_str()));
    ASSERT_NE(edi, nullptr);
    EXPECT_EQ(edi->GetTotalSectors(), 3000);
    EXPECT_STREQ(imager.EdiInfo().deviceName, "Data");
    EXPECT_EQ(fs::file_size(image), 1536u + 3000 * 512);
}

TEST_F(ImagerTest, PauseHoldsBetweenPiecesResumeGoesOnStopLeavesNothing) {
    const std::string source = Source(6 * 8192, 512, false);
    velmora::platform::FaultyRawIo slow;
    slow.SetDelayMs(50);
    velmora::platform::ScopedRawIo use(&slow);
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stop" : "resume");
        recorder.reports.clear();
        const std::string image = dir / "paused.edi";
        ASSERT_EQ(imager.VKStart(source, image, 0, -1, 0), 0);
        imager.VKSetState(1);
        for (int i = 0; i < 1000 && !imager.IsHeld(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(imager.IsHeld()) << "the copy did not stop for the pause";
        world.poster->RunPending();
        const size_t held = recorder.reports.size();
        const int reads = slow.ReadCount();
        EXPECT_LE(held, 1u);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        world.poster->RunPending();
        EXPECT_EQ(slow.ReadCount(), reads);
        EXPECT_EQ(recorder.reports.size(), held) << "the copy went on while paused";
        // One copy at a time: its record is the imager's.
        EXPECT_EQ(imager.VKStart(source, dir / "second.edi", 0, -1, 0), VKMAKEDMG_NO_SOURCE);
        EXPECT_FALSE(fs::exists(dir / "second.edi"));
        imager.VKSetState(stop ? 2 : 0);
        const VKMakeDMGProgress last = Finish();
        if (stop) {
            // The stopped copy leaves nothing of its own; the whole image of
            // the first round, of the same name, stays as it was.
            EXPECT_EQ(last.errorCode, VKMAKEDMG_STOPPED);
            EXPECT_EQ(fs::file_size(image), 1536u + 6 * 8192 * 512);
            for (const auto& entry : fs::directory_iterator(dir.path()))
                EXPECT_EQ(entry.path().filename().string().find(".paused"), std::string::npos)
                    << entry.path();
        } else {
            EXPECT_EQ(last.errorCode, 0);
            EXPECT_EQ(Done(), (std::vector<int64_t>{0, 8192, 16384, 24576, 32768, 40960, 49152}));
            EXPECT_EQ(fs::file_size(image), 1536u + 6 * 8192 * 512);
        }
        EXPECT_EQ(last.doneSectors, 6 * 8192);
    }
}

TEST_F(ImagerTest, UnreadableSourceSectorEndsTheCopyAndNamesIt) {
    const std::string source = Source(10000, 512);
    velmora::platform::FaultyRawIo faulty;
    faulty.FailRange(9000LL * 512 + 100, 1);
    velmora::platform::ScopedRawIo use(&faulty);
    for (int kind : {0, 1}) {
        SCOPED_TRACE(kind);
        recorder.reports.clear();
        const std::string image = dir / "failed.edi";
        ASSERT_EQ(imager.VKStart(source, image, 0, -1, kind), 0);
        const VKMakeDMGProgress last = Finish();
        EXPECT_EQ(last.errorCode, VKMAKEDMG_READ_FAILED);
        EXPECT_EQ(last.failedSector, 9000);
        EXPECT_EQ(Done(), (std::vector<int64_t>{0, 10000}));
        EXPECT_FALSE(fs::exists(image));
    }
}

TEST_F(ImagerTest, RefusedStartsLeaveNoFile) {
    const std::string source = Source(64, 512);
    const std::vector<uint8_t> original = ReadAll(source);
    const std::string edi = dir / "opened.edi";
    ASSERT_TRUE(velmora::test::RunProgram(
        {"python3", velmora::test::SourceDir() + "/tests/fixtures/images/make_edi.py", edi}));
    ASSERT_EQ(catalogue.VKOpenEdiFileImp(edi.c_str()), 1);  // disk 1, no disk record
    const std::string target = dir / "target";
    velmora::test::WriteFile(target, std::string("keep"));
    fs::create_symlink(target, dir / "link.edi");

    struct Case {
        const char* what;
        std::string from, to;
        int disk;
        int code;
    } cases[] = {
        {"no source path", "", dir / "a.edi", 0, VKMAKEDMG_NO_SOURCE},
        {"no image path", source, "", 0, VKMAKEDMG_NO_SOURCE},
        {"no device", source, dir / "a.edi", 5, VKMAKEDMG_NO_SOURCE},
        {"no disk index", source, dir / "a.edi", -1, VKMAKEDMG_NO_SOURCE},
        {"image without record", source, dir / "a.edi", 1, VKMAKEDMG_NO_INFO},
        {"source missing", dir / "gone.img", dir / "a.edi", 0, VKMAKEDMG_OPEN_FAILED},
        {"folder missing", source, dir / "none/a.edi", 0, VKMAKEDMG_CREATE_FAILED},
        {"a device node", source, "/dev/null", 0, VKMAKEDMG_CREATE_FAILED},
        {"a link", source, dir / "link.edi", 0, VKMAKEDMG_CREATE_FAILED},
        {"the source itself", source, source, 0, VKMAKEDMG_CREATE_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(imager.VKStart(c.from, c.to, c.disk, -1, 0), c.code);
    }
    imager.WaitForCopy();
    EXPECT_FALSE(fs::exists(dir / "a.edi"));
    EXPECT_EQ(ReadAll(source), original);
    EXPECT_EQ(ReadAll(target), std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
    world.poster->RunPending();
    EXPECT_TRUE(recorder.reports.empty());
}

TEST_F(ImagerTest, FullDestinationGivesWriteFailureAndNoFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string source = Source(4 * 8192, 512, false);
    const std::string image = dir / "full.edi";
    // The limit on file size stands for a full disk; the child reports by
    // its exit status.
    EXPECT_EXIT(
        {
            struct rlimit limit = {};
            limit.rlim_cur = limit.rlim_max = 1 << 20;
            ::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &limit);
            int code = 1;
            if (imager.VKStart(source, image, 0, -1, 0) == 0) {
                const VKMakeDMGProgress last = Finish();
                code = last.errorCode == VKMAKEDMG_WRITE_FAILED && !fs::exists(image) ? 0 : 2;
            }
            std::_Exit(code);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_FALSE(fs::exists(image));
}

}  // namespace
