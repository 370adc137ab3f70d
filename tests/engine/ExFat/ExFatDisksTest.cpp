// The exFAT volumes inside the partitioned disks of tests/fixtures/disks
// (made by the "fixtures" test): the volume analysis names them exFAT (7)
// through the factory table, the exFAT recogniser leaves the other volumes
// alone, and a quick scan of the partition window gives back the files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ExFatQuickSearch.h"
#include "ExFatTestSupport.h"
#include "FatQuickScanHarness.h"
#include "IStorageDevice.h"
#include "StorageDevices.h"
#include "VolumeAnalyzeController.h"
#include "support/EngineRows.h"
#include "support/TestSupport.h"

using velmora::fattest::RunTool;

namespace {

struct Volume {
    long long start = 0;
    long long sectors = 0;
    std::string filesystem;
};

// The volumes of a disk's manifest.
std::vector<Volume> ManifestVolumes(const std::string& manifest) {
    std::string out;
    RunTool({"python3", "-c",
             "import json, sys\n"
             "for v in json.load(open(sys.argv[1]))['volumes']:\n"
             "    print(v['start_sector'], v['sectors'], v['filesystem'])\n",
             manifest},
            &out);
    std::vector<Volume> volumes;
    std::istringstream lines(out);
    Volume v;
    while (lines >> v.start >> v.sectors >> v.filesystem)
        volumes.push_back(v);
    return volumes;
}

class DeviceCloser {
public:
    void operator()(IStorageDevice* d) const {
        d->Close();
        delete d;
    }
};

TEST(ExFatDisks, VolumeAnalysisFindsExFatInPartitionedDisks) {
    const std::string fixtures = velmora::test::BinaryDir() + "/fixtures";
    if (!std::filesystem::exists(fixtures + "/disks/disk_gpt.json"))
        GTEST_SKIP() << "the disk fixtures were not made (the \"fixtures\" test)";
    setenv("TZ", "UTC", 1);
    tzset();
    velmora::test::ScopedEngineRows engine;
    velmora::test::TempDir tmp;
    int exfatVolumes = 0;
    for (const char* disk : {"disk_mbr", "disk_gpt"}) {
        SCOPED_TRACE(disk);
        const std::string image = fixtures + "/disks/" + disk + ".img";
        std::unique_ptr<IStorageDevice, DeviceCloser> device(CreateDiskDevice(image.c_str()));
        ASSERT_TRUE(device && device->Open(nullptr));
        const std::vector<Volume> volumes = ManifestVolumes(fixtures + "/disks/" + disk + ".json");
        ASSERT_FALSE(volumes.empty());
        for (const Volume& v : volumes) {
            SCOPED_TRACE(v.filesystem + " at " + std::to_string(v.start));
            std::unique_ptr<IStorageDevice> window(
                CreatePartitionDevice(device.get(), v.start, v.sectors));
            ASSERT_TRUE(window);
            std::unique_ptr<IVolumeAnalyzeController> analysis(
                CreateVolumeAnalyzeController(window.get(), 0));
            IVolumeAnalyze* found = analysis->GetVolumeAnzlyzer();
            std::unique_ptr<IVolumeAnalyze> exfat(CreateExfatVolumeAnalyze(window.get(), 0));
            if (v.filesystem != "exFAT") {
                EXPECT_EQ(exfat, nullptr);
                if (found) {
                    EXPECT_NE(found->GetFileSystemType(), 7);
                }
                continue;
            }
            ++exfatVolumes;
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->GetFileSystemType(), 7);
            EXPECT_EQ(found->GetTotalSector(), v.sectors);

            // The files of the volume, read through the window.
            std::vector<uint8_t> bytes(static_cast<size_t>(v.sectors) * 512);
            ASSERT_TRUE(window->ReadSector(bytes.data(), 0, v.sectors));
            velmora::exfattest::FlakyDevice volume(std::move(bytes), 512);
            volume.AttachVolumeRecord();
            std::string log, report;
            TreeBuilderHooks hooks;
            hooks.sleep = [](unsigned) {};
            IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
            IRecoveryFilter* filter = CreateFilter();
            filter->SetScanType(SCAN_COMPLETE);
            filter->SetFilterTypes(CATEGORY_ALL);
            velmora::fattest::CollectingTree tree;
            builder->Initialize("disk", &tree, filter);
            std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateEXFatQuickSearcher());
            searcher->SetDirecotryTreeBuilder(builder);
            velmora::fattest::RecordingProgress progress;
            EXPECT_EQ(searcher->QuickSearchFiles(&volume, &progress), VK_OK);
            std::map<std::string, IFileNode*> nodes;
            for (IFileNode* n : tree.shown)
                nodes[velmora::fattest::NodePath(n)] = n;
            const std::string out = tmp / (std::string(disk) + std::to_string(v.start));
            const auto stats =
                velmora::fattest::RecoverToFolder(nodes, &volume, searcher.get(), out, false);
            EXPECT_EQ(stats.failed, 0);
            EXPECT_EQ(RunTool({"python3",
                               velmora::test::SourceDir() + "/tests/engine/FAT/check_recovered.py",
                               fixtures + "/exfat/exfat.json", out},
                              &report),
                      0)
                << report;
            searcher.reset();
            builder->Release();
        }
    }
    EXPECT_EQ(exfatVolumes, 2);
}

}  // namespace
