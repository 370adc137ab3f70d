// A quick scan of the FAT16 fixture (tests/fixtures/fat/make_fat16.py)
// through the engine's own controller, as the bridge's scan will run it:
// every node, live and deleted, stays alive until the object ends.
#pragma once

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EngineFactories.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "RecoveryControllers.h"
#include "SearchInterfaces.h"
#include "StorageDeviceData.h"
#include "StorageDevices.h"
#include "support/TestSupport.h"

namespace velmora::bridgetest {

// A sink that lets the scan run to its end.
class RunToEnd : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

class FatFixtureScan : public IDrirectoryTree {
public:
    // Makes the image into `dir`; false (and why in `error`) when the tools
    // are missing or making it failed.
    static bool MakeImage(const std::string& dir, std::string* error) {
        for (const char* tool : {"/usr/sbin/mkfs.fat", "/usr/bin/mcopy", "/usr/bin/python3"}) {
            struct stat st {};
            if (::stat(tool, &st) != 0) {
                *error = std::string(tool) + " is not installed (dosfstools, mtools, python3)";
                return false;
            }
        }
        std::string out;
        if (!velmora::test::RunProgram(
                {"python3", velmora::test::SourceDir() + "/tests/fixtures/fat/make_fat16.py", dir},
                &out)) {
            *error = "make_fat16.py failed: " + out;
            return false;
        }
        return true;
    }

    // The image made into `dir` and scanned to its end, as the tests over
    // the fixture's scan start. Null when the tools are missing (the test
    // is skipped, or fails when the run requires them) or when the scan
    // did not end with the volume's one root (a fatal failure): a fixture's
    // SetUp then ends its test, a test body returns.
    static std::unique_ptr<FatFixtureScan> MadeAndScanned(const std::string& dir) {
        std::string why;
        if (!MakeImage(dir, &why)) {
            [&] { VELMORA_REQUIRE_TOOL(false, why); }();
            return nullptr;
        }
        auto scan = std::make_unique<FatFixtureScan>(dir + "/fat16.img");
        RunToEnd progress;
        const VKRESULT result = scan->Run(&progress);
        if (result != VK_OK || scan->roots().size() != 1) {
            [&] {
                FAIL() << "the scan of the fixture ended with " << result << " and "
                       << scan->roots().size() << " roots";
            }();
            return nullptr;
        }
        return scan;
    }

    explicit FatFixtureScan(const std::string& image) {
        InstallEngineFactories();
        device_.reset(CreateVolumeDevice(image.c_str()));
        struct stat st {};
        if (!device_ || ::stat(image.c_str(), &st) != 0 || device_->Open(nullptr) == 0) {
            device_.reset();
            return;
        }
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = FS_FAT16;
        record->sectorSize = 512;
        record->totalSectors = st.st_size / 512;
        record->partitionNumber = -1;
        std::snprintf(record->volumeName, sizeof record->volumeName, "VOL16");
        device_->SetPrivateData(CreateVolumeDeviceData(record));
    }
    ~FatFixtureScan() override {
        if (controller_ != nullptr)
            controller_->Release();
    }

    // Runs the scan with `progress` as its sink; the engine's result.
    VKRESULT Run(IProgress* progress) {
        if (!device_)
            return VK_ERROR(kModuleStorageDevice, kErrFailed);
        controller_ = CreateRecoveryController(RECOVERY_CONTROLLER_DELETED);
        IRecoveryFilter* filter = CreateFilter();
        // Live files too, not only deleted ones.
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        controller_->Initialize(filter);
        return controller_->StartDataRecovery(device_.get(), progress, this);
    }

    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        nodes_.insert(nodes_.end(), nodes, nodes + count);
    }
    void ShowFilesystemNode(IFilesystemNode* root) override { roots_.push_back(root); }

    const std::vector<IFilesystemNode*>& roots() const { return roots_; }
    IRecoveryController* controller() const { return controller_; }
    IStorageDevice* device() const { return device_.get(); }
    // The node at a path below the first root ("/Docs/report.pdf").
    IFileNode* Find(const std::string& path) const {
        if (roots_.empty())
            return nullptr;
        IFileNode* at = roots_.front();
        size_t from = 1;
        while (at != nullptr && from <= path.size()) {
            const size_t slash = std::min(path.find('/', from), path.size());
            const std::string part = path.substr(from, slash - from);
            IFileNode* child = at->GetFirstChild();
            while (child != nullptr &&
                   (child->GetFileName() == nullptr || part != child->GetFileName()))
                child = child->GetNextNode();
            at = child;
            from = slash + 1;
        }
        return at;
    }
    // Every file (not folder) the scan showed.
    std::vector<IFileNode*> Files() const {
        std::vector<IFileNode*> files;
        for (IFileNode* node : nodes_) {
            if (node != nullptr && !node->IsDirectory())
                files.push_back(node);
        }
        return files;
    }

private:
    std::unique_ptr<IStorageDevice> device_;
    IRecoveryController* controller_ = nullptr;
    std::vector<IFilesystemNode*> roots_;
    std::vector<IFileNode*> nodes_;
};

}  // namespace velmora::bridgetest
