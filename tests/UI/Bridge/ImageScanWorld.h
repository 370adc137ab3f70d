// A device catalogue over one fixture image (the image as a disk, with the
// volumes a plan names) and the bridge's process-wide scan over it for one
// test: what the scan-road tests run the facade's scans on.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "EnumDeviceEx.h"
#include "StorageDeviceData.h"
#include "StorageDevices.h"
#include "VKUIController.h"
#include "VKUIDeviceData.h"
#include "VKUIScan.h"
#include "support/EngineRows.h"
#include "support/TestSupport.h"

namespace velmora::bridgetest {

struct VolumePlan {
    long long start = 0;  // sectors; -1: the whole image is the volume
    long long sectors = 0;
    int32_t fileSystem = FS_UNKNOWN;
};

// A catalogue's view of one image file: the image as a disk, with the
// volumes the plan names (the whole image, or windows of it).
class ImageEnumerator final : public IEnumDeviceEx {
public:
    ImageEnumerator(std::string path, std::vector<VolumePlan> volumes)
        : path_(std::move(path)), plan_(std::move(volumes)) {}
    ~ImageEnumerator() override { Uninit(); }

    VKRESULT Init() override {
        Uninit();
        struct stat st {};
        disk_.reset(CreateDiskDevice(path_.c_str()));
        if (::stat(path_.c_str(), &st) != 0 || !disk_ || disk_->Open(nullptr) == 0)
            return VK_ERROR(kModuleEnumDevice, kErrFailed);
        auto* info = new CCollectDiskDeviceInfoStruct{};
        std::snprintf(info->registryName, sizeof info->registryName, "image");
        std::snprintf(info->bsdName, sizeof info->bsdName, "img0");
        info->sectorSize = 512;
        info->totalSectors = st.st_size / 512;
        disk_->SetPrivateData(new CDiskDeviceData(info));
        for (const VolumePlan& v : plan_) {
            std::unique_ptr<IStorageDevice> volume;
            const long long sectors = v.start < 0 ? st.st_size / 512 : v.sectors;
            if (v.start < 0) {
                volume.reset(CreateVolumeDevice(path_.c_str()));
            } else {
                std::unique_ptr<IStorageDevice> window(
                    CreatePartitionDevice(disk_.get(), v.start, v.sectors));
                auto* part = new CCollectedPartitionDeviceInfoStruct{};
                part->disk = disk_.get();
                part->startSector = v.start;
                part->sectorCount = v.sectors;
                part->sectorSize = 512;
                window->SetPrivateData(new CPartitionDeviceData(part));
                volume.reset(CreatePartitionVirtualVolumeDevice(window.get()));
            }
            if (!volume || volume->Open(nullptr) == 0)
                return VK_ERROR(kModuleEnumDevice, kErrFailed);
            auto* record = new CCollectedVolumeDeviceInfoStruct{};
            record->fileSystemType = v.fileSystem;
            record->sectorSize = 512;
            record->totalSectors = sectors;
            record->disk = disk_.get();
            record->partitionNumber = v.start < 0 ? -1 : static_cast<int>(volumes_.size()) + 1;
            record->startSector = std::max(v.start, 0LL);
            std::snprintf(record->volumeName, sizeof record->volumeName, "V%zu", volumes_.size());
            std::snprintf(record->bsdName, sizeof record->bsdName, "img0p%zu", volumes_.size() + 1);
            volume->SetPrivateData(new CVolumeDeviceData(record));
            volumes_.push_back(std::move(volume));
        }
        return VK_OK;
    }
    VKRESULT Uninit() override {
        volumes_.clear();
        disk_.reset();
        return VK_OK;
    }
    VKRESULT EnumDiskDevice(IStorageDevice** out, int& count) override {
        if (!disk_)
            return VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
        return Answer({disk_.get()}, out, count);
    }
    VKRESULT EnumPartitionDevice(const IStorageDevice*, IStorageDevice**, int&) override {
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    }
    VKRESULT EnumVolumeDevice(const IStorageDevice* disk, IStorageDevice** out,
                              int& count) override {
        if (disk != disk_.get())
            return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
        std::vector<IStorageDevice*> list;
        for (auto& v : volumes_)
            list.push_back(v.get());
        return Answer(list, out, count);
    }
    IStorageDevice* Volume(size_t i) const { return volumes_.at(i).get(); }
    IStorageDevice* Disk() const { return disk_.get(); }

private:
    static VKRESULT Answer(const std::vector<IStorageDevice*>& list, IStorageDevice** out,
                           int& count) {
        if (out != nullptr && count < static_cast<int>(list.size()))
            return VK_ERROR(kModuleEnumDevice, kErrArrayTooSmall);
        for (size_t i = 0; out != nullptr && i < list.size(); ++i)
            out[i] = list[i];
        count = static_cast<int>(list.size());
        return VK_OK;
    }
    std::string path_;
    std::vector<VolumePlan> plan_;
    std::unique_ptr<IStorageDevice> disk_;
    std::vector<std::unique_ptr<IStorageDevice>> volumes_;
};

inline std::string FixturePath(const std::string& name) {
    return velmora::test::BinaryDir() + "/fixtures/" + name;
}

// The bridge's process-wide scan over one image's catalogue, for one test.
class ScanWorld {
    using Clock = std::chrono::steady_clock;

public:
    ScanWorld(const std::string& image, std::vector<VolumePlan> volumes)
        : enumerator(image, std::move(volumes)), catalogue(&enumerator) {
        setenv("TZ", "UTC", 1);
        tzset();
        catalogue.InitDeviceInfo();
        VKUIController::UseCatalogue(&catalogue);
        VKUIController::SetRecoveryType(127);
        VKUIController::initFileType();
    }
    ~ScanWorld() {
        VKUIController::StopScan(1);
        VKUIController::WaitForScanThread();
        VKUIScan::instance().ResetRecoveryController(RECOVERY_CONTROLLER_DELETED);
        VKUIController::UseCatalogue(nullptr);
    }
    // Runs the scan through the facade to its end (bounded).
    bool ScanToEnd(int disk, int volume, bool deep, int seconds = 300) {
        VKUIScan::instance().SetDeepScan(deep ? 1 : 0);
        VKUIController::DoScanWithDiskIndex(disk, volume);
        return WaitUntil([] { return VKUIController::IsScanRunning() == 0; }, seconds) &&
               (VKUIController::WaitForScanThread(), true);
    }
    static bool WaitUntil(const std::function<bool()>& done, int seconds) {
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        while (!done()) {
            if (Clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    BridgeWorld world;
    velmora::test::ScopedEngineRows rows;
    ImageEnumerator enumerator;
    VKUIDeviceData catalogue;
};

}  // namespace velmora::bridgetest
