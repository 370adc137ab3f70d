// Recovery of the files of a real FAT scan (tests/fixtures/fat/make_fat16.py)
// through the facade, checked against the fixture's manifest: the bytes,
// the folders, the numbered clashes, the owner, a destination that fills up
// and one on the scanned device.
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "FatFixtureScan.h"
#include "FixtureManifest.h"
#include "RecoveryDoubles.h"
#include "VKUIController.h"
#include "VKUIPublic.h"
#include "VKUIRecovery.h"

using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::FatFixtureScan;
using velmora::bridgetest::ManifestFile;
using velmora::bridgetest::ManifestFiles;
using velmora::bridgetest::ScanSourceDouble;
using velmora::bridgetest::Sha256Of;
using velmora::test::RunProgram;
using velmora::test::TempDir;

namespace {

// The fixture's scan as the recovery sees it: a quick scan, whose data
// comes through the one object of the volume's root.
class FatScanSource : public ScanSourceDouble {
public:
    explicit FatScanSource(FatFixtureScan& fat) {
        controller = fat.controller();
        for (IFileNode* node : fat.Files())
            types[0].push_back(node);
        perRoot = [this](IFileNode*) -> IDataRecovery* {
            if (object_ == nullptr)
                object_ = controller->GetDataRecovery(SEARCHER_FAT);
            return object_;
        };
    }
    ~FatScanSource() override {
        if (object_ != nullptr)
            object_->Release();
    }

private:
    IDataRecovery* object_ = nullptr;
};

class RecoveryOverScan : public ::testing::Test {
protected:
    void SetUp() override {
        fat = FatFixtureScan::MadeAndScanned(images.path());
        if (!fat)
            return;
        source = std::make_unique<FatScanSource>(*fat);
        manifest = ManifestFiles(images / "fat16.json");
        ASSERT_FALSE(manifest.empty());
        VKUIRecovery::instance().SetStatus(VK_OP_IDLE);
        VKUIRecovery::instance().ResetParam();
    }
    void TearDown() override {
        VKUIRecovery::instance().SetStatus(VK_OP_IDLE);
        source.reset();
    }

    void TickAll() {
        for (IFileNode* node : fat->Files())
            node->SetCheck(CHECK_CHECKED);
    }

    // Recovers the ticked files into `to` and waits for the end; `paused`
    // runs each time the recovery pauses.
    void Recover(const std::string& to, const std::function<void()>& paused = {}) {
        int count = 0;
        unsigned long long size = 0;
        VKUIController::GetSelectedFilesAmoutAndSize(&count, &size);
        std::vector<OpNodePtr> roots;
        ASSERT_EQ(VKUIController::DoRecovery(&roots, to.c_str(), "DoRecovery"), 0);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (VKUIController::IsRecoveryRunning() != 0 &&
               std::chrono::steady_clock::now() < until) {
            if (VKUIRecovery::instance().GetStatus() == VK_OP_PAUSED && paused)
                paused();
            world.poster->RunPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(VKUIController::IsRecoveryRunning(), 0);
        velmora::bridge::JoinBackgroundThreads();
        world.poster->RunPending();
    }

    // The folder of the volume below the numbered folder `number`.
    std::string VolumeFolder(const std::string& to, int number) const {
        char n[8];
        std::snprintf(n, sizeof n, "%04d", number);
        return to + "/" + VKUIPublic::GetFileSystemStrByType(SEARCHER_FAT) + n + "/" +
               fat->roots().front()->GetVolumeName();
    }

    // Every file of the manifest is below `folder`, whole.
    void ExpectAllWhole(const std::string& folder, const std::string& numbered = "") {
        for (const ManifestFile& f : manifest) {
            std::string path = folder + f.path;
            if (!numbered.empty()) {
                const size_t dot = path.rfind('.');
                path = path.substr(0, dot) + numbered + path.substr(dot);
            }
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
            EXPECT_EQ(st.st_size, f.size) << path;
            EXPECT_EQ(Sha256Of(path), f.sha256) << path;
        }
    }

    BridgeWorld world;
    TempDir images;
    TempDir out;
    std::unique_ptr<FatFixtureScan> fat;
    std::unique_ptr<FatScanSource> source;
    std::vector<ManifestFile> manifest;
};

TEST_F(RecoveryOverScan, TickedFilesAreRecoveredWholeInTheirFolders) {
    TickAll();
    // One file left unticked stays out.
    IFileNode* skipped = fat->Find("/short.txt");
    ASSERT_NE(skipped, nullptr);
    skipped->SetCheck(CHECK_UNCHECKED);
    Recover(out.path());
    const std::string volume = VolumeFolder(out.path(), 1);
    struct stat st {};
    EXPECT_NE(::stat((volume + "/short.txt").c_str(), &st), 0);
    std::erase_if(manifest, [](const ManifestFile& f) { return f.path == "/short.txt"; });
    ExpectAllWhole(volume);
    EXPECT_EQ(VKUIController::GetRecoveridedFiles(), manifest.size());
    EXPECT_EQ(VKUIController::GetRecoveryRefusedFiles(), 0u);
    unsigned long long total = 0, done = 0;
    long long code = 0;
    VKUIController::GetRecoveryProgressTotal(&total, &done, &code);
    EXPECT_EQ(done, total);
    EXPECT_EQ(code, 0);

    // The same files again into the same folder numbers: each name is
    // numbered before its extension.
    VKUIRecovery::instance().SetStatus(VK_OP_RUNNING);
    VKUIRecovery::instance().DoRecovery();
    ExpectAllWhole(volume, "_0001");
    // A new recovery takes the next folder.
    Recover(out.path());
    ExpectAllWhole(VolumeFolder(out.path(), 2));
}

TEST_F(RecoveryOverScan, RecoveredFilesBelongToTheInvokingUser) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to hand files to another user";
    velmora::test::ScopedEnv pkexec("PKEXEC_UID", nullptr);
    velmora::test::ScopedEnv uid("SUDO_UID", "12345");
    velmora::test::ScopedEnv gid("SUDO_GID", "23456");
    IFileNode* report = fat->Find("/Docs/report.pdf");
    ASSERT_NE(report, nullptr);
    report->SetCheck(CHECK_CHECKED);
    // The destination is checked as the invoking user: it must be theirs to
    // write in, as a folder they chose would be.
    ASSERT_EQ(::chown(out.path().c_str(), 12345, 23456), 0);
    Recover(out.path());
    const std::string volume = VolumeFolder(out.path(), 1);
    for (const std::string& path : {volume.substr(0, volume.rfind('/')), volume, volume + "/Docs",
                                    volume + "/Docs/report.pdf"}) {
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_uid, 12345u) << path;
        EXPECT_EQ(st.st_gid, 23456u) << path;
    }
}

// The destination fills up (a file-size limit stands in for a full disk,
// in a child so that nothing else of the test run is limited): the
// recovery pauses with the write error; once there is room again and the
// user resumes, every file is there whole.
TEST_F(RecoveryOverScan, FullDestinationPausesAndResumeFinishesEveryFile) {
    TickAll();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit saved = limit;
        limit.rlim_cur = 10000;  // below the fixture's pictures
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int pauses = 0;
        uint32_t error = 0;
        Recover(out.path(), [&] {
            ++pauses;
            unsigned long long total = 0, done = 0;
            long long code = 0;
            VKUIController::GetRecoveryProgressTotal(&total, &done, &code);
            error = static_cast<uint32_t>(code);
            ::setrlimit(RLIMIT_FSIZE, &saved);
            VKUIController::PauseOrResumeRecovery();
        });
        ::_exit(pauses == 1 && error == kErrRecoveryWrite ? 0 : 10 + pauses);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "pauses + 10, or 11 with another error";
    ExpectAllWhole(VolumeFolder(out.path(), 1));
}

// The fixture mounted from a loop device: a folder on it is the scanned
// device, a folder elsewhere is not.
TEST_F(RecoveryOverScan, DestinationOnTheScannedDeviceIsRecognised) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to attach and mount a loop device";
    std::string loop;
    if (!RunProgram({"losetup", "--find", "--show", "--read-only", images / "fat16.img"}, &loop))
        GTEST_SKIP() << "no loop device could be attached";
    while (!loop.empty() && loop.back() == '\n')
        loop.pop_back();
    TempDir mountPoint;
    const bool mounted =
        ::mount(loop.c_str(), mountPoint.path().c_str(), "vfat", MS_RDONLY, nullptr) == 0;
    if (mounted) {
        struct stat dev {};
        ASSERT_EQ(::stat(loop.c_str(), &dev), 0);
        source->devices = {dev.st_rdev};
        EXPECT_EQ(VKUIController::IsRecoveryToSameDevice(mountPoint.path() + "/Docs"), 1);
        EXPECT_EQ(VKUIController::IsRecoveryToSameDevice(out.path()), 0);
        std::vector<OpNodePtr> roots;
        EXPECT_EQ(VKUIController::DoRecovery(&roots, mountPoint.path().c_str(), "DoRecovery"),
                  VKUIController::kRecoveryStartFailed);
        ::umount2(mountPoint.path().c_str(), MNT_DETACH);
    }
    RunProgram({"losetup", "--detach", loop});
    if (!mounted)
        GTEST_SKIP() << "the loop device could not be mounted (vfat)";
}

}  // namespace
