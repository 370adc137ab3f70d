// Deep scans of APFS containers made by mkapfs and our injector (at sector
// 0, inside a GPT disk, a container of several volumes): every file of the
// manifest is shown at its path with its state, size, times and runs, and
// comes back byte for byte; the recogniser and the enumeration's listing
// name the volumes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "APFSFactories.h"
#include "APFSFileNode.h"
#include "ApfsImageHarness.h"
#include "SearchedPartitionInfo.h"
#include "support/TestSupport.h"

using namespace velmora::apfstest;
using velmora::test::RunProgram;
using velmora::test::TempDir;

namespace {

bool Installed(const char* tool) {
    return access((std::string("/usr/sbin/") + tool).c_str(), X_OK) == 0 ||
           access((std::string("/usr/bin/") + tool).c_str(), X_OK) == 0;
}

std::string Script() {
    return std::string(VELMORA_APFS_TEST_DIR) + "/apfs_check.py";
}

class ApfsImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_tools = Installed("mkapfs") && Installed("python3");
        if (!s_tools)
            return;
        s_dir = new TempDir();
        s_ok = RunProgram(
            {"sh", velmora::test::SourceDir() + "/tests/fixtures/apfs/make.sh", s_dir->path()});
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        // A run that requires the tools (CI) fails here rather than passing
        // with nothing checked.
        VELMORA_REQUIRE_TOOL(s_tools, "mkapfs (apfsprogs) or python3");
        if (!s_ok) {
            if (velmora::test::ToolsRequired())
                FAIL() << "the APFS fixtures could not be made (tests/fixtures/apfs/make.sh)";
            GTEST_SKIP()
                << "the APFS fixtures cannot be made here (mkapfs from apfsprogs, python3)";
        }
    }
    static std::string Path(const std::string& name) { return s_dir->path() + "/apfs/" + name; }

    static inline TempDir* s_dir = nullptr;
    static inline bool s_tools = false;
    static inline bool s_ok = false;
    TempDir m_tmp;
};

struct ImageCase {
    const char* image;
    int sectorSize;
    long long containerStart;  // in sectors of sectorSize
    int containers;
    unsigned long long blocks;  // of the container
};

TEST_F(ApfsImageTest, DeepScanShowsEveryManifestFileWithItsRunsAndRecoversItsBytes) {
    const ImageCase cases[] = {
        {"apfs", 512, 0, 1, 131072},
        {"apfs-gpt", 512, 40, 1, 131072},
        {"apfs", 4096, 0, 1, 131072},
        {"apfs-multi", 512, 0, 1, 262144},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " with sectors of " + std::to_string(c.sectorSize));
        const std::string manifest = Path(std::string(c.image) + ".json");
        std::string text;
        ASSERT_TRUE(RunProgram(
            {"python3", Script(), "expect", manifest, std::to_string(c.sectorSize)}, &text));
        const std::vector<Expected> expected = ParseExpected(text);
        ASSERT_FALSE(expected.empty());

        DeepScan scan(Path(std::string(c.image) + ".img"), c.sectorSize);
        ASSERT_TRUE(scan.device);
        scan.Run();
        EXPECT_EQ(scan.tree.roots, 1);
        EXPECT_EQ(scan.tree.lostNodes, 0u);

        const auto files = scan.Shown(false);
        const auto all = scan.Shown(true);
        std::set<std::string> wanted;
        for (const Expected& e : expected) {
            SCOPED_TRACE(e.path);
            auto it = all.find(e.path);
            ASSERT_NE(it, all.end()) << "not shown";
            IFileNode* node = it->second;
            EXPECT_EQ(node->IsDirectory() != 0, e.folder);
            EXPECT_EQ(node->IsDeleted() != 0, e.state == "deleted");
            if (e.folder)
                continue;
            wanted.insert(e.path);
            EXPECT_EQ(node->GetFileSize(), e.size);
            EXPECT_EQ(node->GetModificationTime(),
                      apfs::ApfsTimeToFileTime(static_cast<uint64_t>(e.mtime) * 1000000000ULL));
            EXPECT_NE(node->GetCreationTime(), 0);
            EXPECT_EQ(RunsText(node), e.runs);
        }
        for (const auto& [path, node] : files)
            EXPECT_TRUE(wanted.count(path)) << "unexpected file " << path;

        CSearchedPartitionInfo* records[4] = {};
        ASSERT_EQ(scan.scan->GetSearchedPartitionInfo(records, 4), c.containers);
        std::unique_ptr<CSearchedPartitionInfo> record(records[0]);
        EXPECT_EQ(record->fileSystemType, 9);
        EXPECT_EQ(record->partitionIndex, 0);
        EXPECT_EQ(record->sectorsPerCluster, 1u);
        EXPECT_EQ(record->runOriginSector, c.containerStart);
        EXPECT_EQ(record->GetTotalSectors(), c.blocks * 4096 / static_cast<unsigned>(c.sectorSize));
        EXPECT_EQ(record->GetSectorSize(), static_cast<unsigned>(c.sectorSize));

        const std::string out = m_tmp / (std::string(c.image) + "-" + std::to_string(c.sectorSize));
        EXPECT_EQ(scan.RecoverTo(out), 0);
        std::string report;
        EXPECT_TRUE(RunProgram({"python3", Script(), "recovered", manifest, out}, &report))
            << report;
    }
}

TEST_F(ApfsImageTest, WholeDiskDeepScanThroughTheControllersRecoversTheGptContainer) {
#ifdef VELMORA_SCAN_DRIVER
    // The APFS searcher alone, and every searcher together: the others'
    // claims on the surface must not hide the container.
    const std::vector<std::vector<std::string>> searchers = {{"--only", "37"}, {}};
    for (const auto& only : searchers) {
        SCOPED_TRACE(only.empty() ? "every searcher" : "APFS alone");
        const std::string out = m_tmp / (only.empty() ? "driver-all" : "driver-apfs");
        std::filesystem::create_directories(out);
        std::vector<std::string> args = {VELMORA_SCAN_DRIVER, "--deep"};
        args.insert(args.end(), only.begin(), only.end());
        args.insert(args.end(), {"--rounds", "1", "--recover", out, Path("apfs-gpt.img")});
        std::string log;
        ASSERT_TRUE(RunProgram(args, &log)) << log;
        EXPECT_NE(log.find("recovered 9 files and 1 empty ones, 0 failed"), std::string::npos)
            << log;
        // The numbered folder of the APFS tree holds the folder named after
        // the device.
        std::string volume;
        for (const auto& top : std::filesystem::directory_iterator(out))
            if (top.path().filename().string().rfind("APFS_", 0) == 0)
                for (const auto& inner : std::filesystem::directory_iterator(top.path()))
                    volume = inner.path();
        ASSERT_FALSE(volume.empty()) << log;
        std::string report;
        EXPECT_TRUE(
            RunProgram({"python3", Script(), "recovered", Path("apfs-gpt.json"), volume}, &report))
            << report;
    }
#else
    GTEST_SKIP() << "built without the scan driver";
#endif
}

TEST_F(ApfsImageTest, RecogniserAndListingNameTheVolumes) {
    struct Case {
        const char* image;
        unsigned long long start;
        std::vector<std::string> volumes;
    };
    const Case cases[] = {
        {"apfs.img", 0, {"FIXAPFS"}},
        {"apfs-gpt.img", 40, {"FIXAPFS"}},
        {"apfs-multi.img", 0, {"FIXAPFS", "SECOND"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        std::unique_ptr<IStorageDevice> device(CreateDiskDevice(Path(c.image).c_str()));
        ASSERT_TRUE(device && device->Open(nullptr));
        std::unique_ptr<IVolumeAnalyze> analyze(CreateAPFSVolumeAnalyze(device.get(), c.start));
        ASSERT_TRUE(analyze);
        EXPECT_EQ(analyze->GetFileSystemType(), 9);
        EXPECT_EQ(analyze->GetTotalSector(),
                  device->GetTotalSectors() - static_cast<long long>(c.start));
        char label[100] = {};
        EXPECT_EQ(analyze->GetLabel(label, sizeof label), static_cast<int>(c.volumes[0].size()));
        EXPECT_STREQ(label, c.volumes[0].c_str());
        // A small buffer gets what fits, terminated.
        char small[4] = {};
        analyze->GetLabel(small, sizeof small);
        EXPECT_EQ(std::string(small), c.volumes[0].substr(0, 3));

        std::vector<std::string> names;
        for (const auto& v : apfs::ListContainerVolumes(device.get(), c.start))
            names.push_back(v.name);
        EXPECT_EQ(names, c.volumes);
    }
    // Not a container where the GPT disk starts.
    std::unique_ptr<IStorageDevice> gpt(CreateDiskDevice(Path("apfs-gpt.img").c_str()));
    ASSERT_TRUE(gpt && gpt->Open(nullptr));
    EXPECT_EQ(CreateAPFSVolumeAnalyze(gpt.get(), 0), nullptr);

    // The listing enumeration asks reads the store named under the device folder.
    auto listing = apfs::MakeStoreListing(s_dir->path() + "/apfs");
    auto found = listing->Find("apfs-multi.img");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "FIXAPFS");
    EXPECT_EQ(found->device, "apfs-multi.img");
    EXPECT_EQ(found->volumes, (std::vector<std::string>{"FIXAPFS", "SECOND"}));
    EXPECT_FALSE(listing->Find("apfs-gpt.img"));
    EXPECT_FALSE(listing->Find("../apfs/apfs.img"));
    EXPECT_FALSE(listing->Find("missing"));
}

}  // namespace
