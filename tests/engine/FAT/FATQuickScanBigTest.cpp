// A 1 GiB FAT32 volume (sparse) with a few hundred files of real types,
// about a third deleted, made at test time: the quick scan and recovery
// must give back every file of the manifest and every file Sleuth Kit
// recovers, with its name, path, bytes and modification time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "FatQuickScanHarness.h"
#include "support/TestSupport.h"

using namespace velmora::fattest;

namespace {

TEST(FatQuickScanBig, GeneratedVolumeMatchesManifestAndSleuthKit) {
    for (const char* tool :
         {"mkfs.fat", "mcopy", "mdel", "mdeltree", "python3", "fls", "tsk_recover"})
        VELMORA_REQUIRE_TOOL(HaveTool(tool), tool);
    setenv("TZ", "UTC", 1);
    tzset();
    velmora::test::TempDir dir;
    const std::string image = dir / "big.img";
    std::string out;
    // Folders of 90 files: a deleted folder spans several clusters.
    ASSERT_EQ(RunScript("make_fat32_volume.py", {image, "1G", "360", "--per-folder", "90"}, &out),
              0)
        << out;

    QuickScan scan(image, FS_FAT32);
    ASSERT_TRUE(scan.device);
    ASSERT_EQ(scan.Run(), VK_OK);
    const auto nodes = scan.Files(true);
    size_t deleted = 0;
    for (const auto& [path, node] : nodes)
        deleted += !node->IsDirectory() && node->IsDeleted();
    EXPECT_GE(deleted, 100u);

    const std::string recovered = dir / "recovered";
    const RecoverFolderStats stats =
        RecoverToFolder(nodes, scan.device.get(), scan.searcher.get(), recovered, false);
    EXPECT_EQ(stats.failed, 0);
    EXPECT_GE(stats.written, 360);
    std::string report;
    EXPECT_EQ(RunScript("check_recovered.py", {dir / "big.json", recovered}, &report), 0) << report;
    EXPECT_EQ(RunScript("compare_tsk.py", {image, recovered}, &report), 0) << report;
    std::printf("%s", report.c_str());

    // The same through the scan controllers, as the program runs a quick scan.
#ifdef VELMORA_SCAN_DRIVER
    std::string log;
    const std::string tree = DriveQuickScanAndRecover(image, FS_FAT32, 512, dir / "driven", &log);
    ASSERT_FALSE(tree.empty()) << log;
    EXPECT_EQ(RunScript("check_recovered.py", {dir / "big.json", tree}, &report), 0) << report;
    EXPECT_EQ(RunScript("compare_tsk.py", {image, tree}, &report), 0) << report;
#endif
}

}  // namespace
