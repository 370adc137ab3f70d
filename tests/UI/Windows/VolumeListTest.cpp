#include "Windows/CVolumeMgr.h"

#include <gtest/gtest.h>

#include "QtPrinters.h"
#include "platform/desktop/CommandRunner.h"

namespace velmora::windows {
namespace {

// A machine as lsblk shows it: a SATA disk with firmware, Windows and Linux
// partitions, a USB stick and an attached image.
const char* const kListing = R"({"blockdevices": [
 {"name":"sda","kname":"sda","pkname":null,"type":"disk","size":500107862016,"tran":"sata",
  "model":"WDC WD5000","fsavail":null,"parttypename":null,"mountpoint":null,"children":[
   {"name":"sda1","kname":"sda1","pkname":"sda","type":"part","size":209715200,
    "parttypename":"EFI System","fsavail":200000000,"mountpoint":"/boot/efi"},
   {"name":"sda2","kname":"sda2","pkname":"sda","type":"part","size":100000000000,
    "parttypename":"Microsoft basic data","fsavail":5000000000,"mountpoint":"/mnt/win"},
   {"name":"sda3","kname":"sda3","pkname":"sda","type":"part","size":300000000000,
    "parttypename":"Linux filesystem","label":"debian","fsavail":120000000000,"mountpoint":"/"},
   {"name":"sda4","kname":"sda4","pkname":"sda","type":"part","size":8000000000,
    "parttypename":"Linux swap","fsavail":null,"mountpoint":null},
   {"name":"sda5","kname":"sda5","pkname":"sda","type":"part","size":90000000000,
    "parttypename":"Linux filesystem","label":"data","fsavail":999999,"mountpoint":"/data"}]},
 {"name":"sdb","kname":"sdb","pkname":null,"type":"disk","size":16008609792,"tran":"usb",
  "model":"Cruzer","children":[
   {"name":"sdb1","kname":"sdb1","pkname":"sdb","type":"part","size":16000000000,
    "parttypename":"Linux filesystem","fsavail":1000000,"mountpoint":"/media/stick"}]},
 {"name":"loop0","kname":"loop0","pkname":null,"type":"loop","size":67108864,"children":[
   {"name":"loop0p1","kname":"loop0p1","pkname":"loop0","type":"part","size":60000000,
    "parttypename":"Linux filesystem","fsavail":50000000,"mountpoint":"/mnt/img"}]}
]})";

TEST(VolumeList, LocalDisksWithTheirUsableVolumesAndTheRootVolumeMarked) {
    CVolumeMgr manager;
    const auto disks = manager.enumDiskVolumesInfo(platform::ParseLsblkJson(kListing));
    ASSERT_EQ(disks.size(), 1u);  // the USB stick and the image are left out
    EXPECT_EQ(disks[0].DiskName, "WDC WD5000");
    EXPECT_EQ(disks[0].DiskPath, "sda");
    EXPECT_EQ(disks[0].DiskShow, "YES");
    const struct {
        const char* os;
        const char* name;
        const char* path;
        const char* total;
        const char* free;
    } volumes[] = {{"YES", "debian", "sda3", "300.00 GB", "120.00 GB"},
                   {"NO", "data", "sda5", "90.00 GB", "1000.00 KB"}};
    ASSERT_EQ(disks[0].DiskVolume.size(), std::size(volumes));
    for (size_t i = 0; i < std::size(volumes); ++i) {
        SCOPED_TRACE(i);
        const VolumeInfoRecord& v = disks[0].DiskVolume[i];
        EXPECT_EQ(v.OSvolume, volumes[i].os);
        EXPECT_EQ(v.volumeName, volumes[i].name);
        EXPECT_EQ(v.volumePath, volumes[i].path);
        EXPECT_EQ(v.volumeTotalSize, volumes[i].total);
        EXPECT_EQ(v.volumeFreeSize, volumes[i].free);
    }
}

TEST(VolumeList, AFilterListsExactlyItsDisks) {
    CVolumeMgr manager({{"sdb", "YES"}, {"loop0", "NO"}, {"sdz", "YES"}});
    const auto disks = manager.enumDiskVolumesInfo(platform::ParseLsblkJson(kListing));
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].DiskPath, "sdb");
    EXPECT_EQ(disks[0].DiskShow, "YES");
    EXPECT_EQ(disks[1].DiskPath, "loop0");
    EXPECT_EQ(disks[1].DiskShow, "NO");
    EXPECT_EQ(disks[0].DiskVolume.at(0).OSvolume, "NO");  // no root volume among them
}

TEST(VolumeList, RunsLsblkWithoutAShellAndGivesNothingWhenItFails) {
    platform::RecordingCommandRunner runner;
    platform::CommandResult failed;
    failed.started = true;
    failed.exitCode = 1;
    runner.script.push_back(failed);
    CVolumeMgr manager;
    EXPECT_FALSE(manager.enumDiskVolumesInfo(runner).has_value());
    ASSERT_EQ(runner.runs.size(), 1u);
    EXPECT_EQ(runner.runs[0].front(), "lsblk");

    platform::CommandResult listed;
    listed.started = true;
    listed.exitCode = 0;
    listed.output = kListing;
    runner.script.push_back(listed);
    const auto disks = manager.enumDiskVolumesInfo(runner);
    ASSERT_TRUE(disks.has_value());
    EXPECT_EQ(disks->size(), 1u);
}

}  // namespace
}  // namespace velmora::windows
