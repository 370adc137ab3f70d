// The disk imager on the road of the files written for the user, over real
// devices: an image is never written onto the device it copies (nor onto
// one stacked on it), and a copy that cannot be finished leaves an older
// image of that name whole and no part of its own.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BridgeDoubles.h"
#include "DeviceDoubles.h"
#include "VKMakeDMG.h"
#include "VKUIDeviceData.h"
#include "platform/UserFiles.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using velmora::bridge::OutputProblem;

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

class Recorder : public VKMakeDMGDelegate {
public:
    void VKGetPrecent(const VKMakeDMGProgress* p) override { reports.push_back(*p); }
    std::vector<VKMakeDMGProgress> reports;
};

class ImagerRoadTest : public testing::Test {
protected:
    void SetUp() override {
        if (!velmora::test::IsRoot())
            GTEST_SKIP() << "needs root for loop devices and mounts";
        imager.setVKDelegate(&recorder);
    }
    void Describe(long long sectors) {
        enumerator.SetDisks({{.name = "Source Disk", .sectors = sectors, .sectorSize = 512}});
        catalogue.InitDeviceInfo();
    }
    VKMakeDMGProgress Finish() {
        imager.WaitForCopy();
        world.poster->RunPending();
        return recorder.reports.empty() ? VKMakeDMGProgress{} : recorder.reports.back();
    }

    velmora::test::TempDir dir;
    velmora::bridgetest::BridgeWorld world;
    velmora::bridgetest::FakeEnumerator enumerator;
    VKUIDeviceData catalogue{&enumerator};
    VKMakeDMG imager{catalogue};
    Recorder recorder;
};

// A disk on a loop device with a file system mounted from it: an image of
// that disk asked for inside the mount (or in a folder there not made yet)
// is refused before anything is written; beside the disk's backing file it
// is made.
TEST_F(ImagerRoadTest, AnImageOnTheDiskItCopiesIsRefused) {
    const std::string backing = dir / "disk.img";
    velmora::test::WriteFile(backing, std::string());
    ASSERT_EQ(::truncate(backing.c_str(), 8 << 20), 0);
    std::string loop;
    if (!velmora::test::RunProgram({"losetup", "-f", "--show", backing}, &loop))
        GTEST_SKIP() << "no loop device free";
    loop = Trimmed(loop);
    const std::string mount = dir / "mounted";
    ::mkdir(mount.c_str(), 0755);
    bool mounted = false;
    [&] {
        ASSERT_TRUE(velmora::test::RunProgram({"mkfs.ext2", "-q", "-F", loop}));
        ASSERT_EQ(::mount(loop.c_str(), mount.c_str(), "ext2", 0, nullptr), 0)
            << std::strerror(errno);
        mounted = true;
        const std::vector<std::string> before = Entries(mount);
        Describe(16384);
        for (const std::string& image : {mount + "/copy.edi", mount + "/new folder/copy.edi"}) {
            SCOPED_TRACE(image);
            EXPECT_EQ(imager.VKStart(loop, image, 0, -1, 0), VKMAKEDMG_ON_SOURCE_DEVICE);
            EXPECT_EQ(imager.DestinationProblem(), OutputProblem::kOnScannedDevice);
            EXPECT_EQ(velmora::bridge::OutputProblemWords(imager.DestinationProblem()),
                      "This folder is on the disk being scanned; writing there would overwrite "
                      "the files being recovered.");
        }
        imager.WaitForCopy();
        EXPECT_EQ(Entries(mount), before);
        world.poster->RunPending();
        EXPECT_TRUE(recorder.reports.empty()) << "a refused start reports nothing";

        const std::string elsewhere = dir / "copy.img";
        ASSERT_EQ(imager.VKStart(loop, elsewhere, 0, -1, 1), 0);
        EXPECT_EQ(imager.DestinationProblem(), OutputProblem::kNone);
        EXPECT_EQ(Finish().errorCode, 0);
        EXPECT_EQ(fs::file_size(elsewhere), 16384u * 512);
    }();
    if (mounted)
        ::umount2(mount.c_str(), MNT_DETACH);
    velmora::test::RunProgram({"losetup", "-d", loop});
}

int FailingSync(int) {
    errno = EIO;
    return -1;
}

// An older image of the same name, and a copy that cannot be finished: on
// a tmpfs too small for it, or with the final sync failing (the data never
// known to be on the disk). Either way the failure is reported, the older
// image is as it was, and nothing of the new one is left.
TEST_F(ImagerRoadTest, AFailedCopyKeepsTheOlderImageAndLeavesNoPart) {
    const std::string small = dir / "small";
    ::mkdir(small.c_str(), 0755);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    const std::string source = dir / "source.img";
    velmora::test::WriteFile(source, std::string());
    struct Case {
        const char* what;
        long long sectors;
        velmora::platform::SyncFunction sync;
    } cases[] = {
        {"the tmpfs is full", 4 * 8192, nullptr},
        {"the sync fails", 64, &FailingSync},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        recorder.reports.clear();
        fs::resize_file(source, static_cast<uintmax_t>(c.sectors * 512));
        Describe(c.sectors);
        const std::string image = small + "/backup.edi";
        velmora::test::WriteFile(image, std::string("an older image"));
        velmora::platform::SetSyncFunctionForTests(c.sync);
        ASSERT_EQ(imager.VKStart(source, image, 0, -1, 0), 0);
        const VKMakeDMGProgress last = Finish();
        velmora::platform::SetSyncFunctionForTests(nullptr);
        EXPECT_EQ(last.errorCode, VKMAKEDMG_WRITE_FAILED);
        EXPECT_EQ(velmora::test::ReadText(image), "an older image");
        EXPECT_EQ(Entries(small), std::vector<std::string>{"backup.edi"});
    }
    ::umount2(small.c_str(), MNT_DETACH);
}

}  // namespace
