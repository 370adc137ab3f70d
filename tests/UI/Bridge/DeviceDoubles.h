// An enumerator of made-up disks and volumes for the device catalogue's
// tests: in-memory devices carrying the records the machine's enumeration
// would attach. Like the real one, it owns its devices and frees them in
// Uninit and on the next Init.
#pragma once

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EnumDeviceEx.h"
#include "StorageDeviceData.h"
#include "support/MemoryStorageDevice.h"

namespace velmora::bridgetest {

struct FakeVolume {
    std::string name;
    int32_t fileSystem = 10;
    long long sectors = 2048;
    _GUID gptType{};
    std::string apmType;
};

struct FakeDisk {
    std::string name;
    int32_t busType = 2;
    int32_t scheme = 2;  // GPT
    long long sectors = 16384;
    int sectorSize = 512;
    std::vector<FakeVolume> volumes;
    bool failVolumes = false;  // the volume enumeration of this disk fails
    // The disk's sectors; all zero when unset.
    test::MemoryStorageDevice::Pattern pattern;
};

class FakeEnumerator final : public IEnumDeviceEx {
public:
    explicit FakeEnumerator(std::vector<FakeDisk> disks = {}) : plan_(std::move(disks)) {}
    ~FakeEnumerator() override { Uninit(); }

    void SetDisks(std::vector<FakeDisk> disks) { plan_ = std::move(disks); }
    // Called as the devices are about to be freed.
    std::function<void()> onUninit;

    VKRESULT Init() override {
        Uninit();
        if (plan_.empty())
            return VK_ERROR(kModuleEnumDevice, kErrFailed);
        for (const FakeDisk& d : plan_) {
            auto pattern = d.pattern ? d.pattern : [](long long, uint8_t* out, size_t n) {
                std::memset(out, 0, n);
            };
            auto disk =
                std::make_unique<test::MemoryStorageDevice>(d.sectors, d.sectorSize, pattern);
            auto* info = new CCollectDiskDeviceInfoStruct{};
            info->busType = d.busType;
            info->partitionScheme = d.scheme;
            std::snprintf(info->registryName, sizeof info->registryName, "%s", d.name.c_str());
            std::snprintf(info->bsdName, sizeof info->bsdName, "fake%zu", disks_.size());
            info->sectorSize = d.sectorSize;
            info->totalSectors = d.sectors;
            disk->SetPrivateData(new CDiskDeviceData(info));
            Entry entry{std::move(disk), {}, d.failVolumes};
            for (const FakeVolume& v : d.volumes) {
                auto volume =
                    std::make_unique<test::MemoryStorageDevice>(v.sectors, d.sectorSize, pattern);
                volume->SetType(kDeviceVolume);
                auto* record = new CCollectedVolumeDeviceInfoStruct{};
                record->fileSystemType = v.fileSystem;
                std::snprintf(record->volumeName, sizeof record->volumeName, "%s", v.name.c_str());
                std::snprintf(record->bsdName, sizeof record->bsdName, "%sp%zu", info->bsdName,
                              entry.volumes.size() + 1);
                record->sectorSize = d.sectorSize;
                record->totalSectors = v.sectors;
                record->disk = entry.disk.get();
                record->gptType = v.gptType;
                std::snprintf(record->apmType, sizeof record->apmType, "%s", v.apmType.c_str());
                volume->SetPrivateData(new CVolumeDeviceData(record));
                entry.volumes.push_back(std::move(volume));
            }
            disks_.push_back(std::move(entry));
        }
        return VK_OK;
    }
    VKRESULT Uninit() override {
        if (!disks_.empty() && onUninit)
            onUninit();
        disks_.clear();
        return VK_OK;
    }
    VKRESULT EnumDiskDevice(IStorageDevice** out, int& count) override {
        if (disks_.empty())
            return VK_ERROR(kModuleEnumDevice, kErrNotInitialised);
        std::vector<IStorageDevice*> list;
        for (auto& e : disks_)
            list.push_back(e.disk.get());
        return Answer(list, out, count);
    }
    VKRESULT EnumPartitionDevice(const IStorageDevice*, IStorageDevice**, int&) override {
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    }
    VKRESULT EnumVolumeDevice(const IStorageDevice* disk, IStorageDevice** out,
                              int& count) override {
        for (auto& e : disks_) {
            if (e.disk.get() != disk)
                continue;
            if (e.failVolumes)
                return VK_ERROR(kModuleEnumDevice, kErrFailed);
            std::vector<IStorageDevice*> list;
            for (auto& v : e.volumes)
                list.push_back(v.get());
            return Answer(list, out, count);
        }
        return VK_ERROR(kModuleEnumDevice, kErrBadArgument);
    }

private:
    struct Entry {
        std::unique_ptr<test::MemoryStorageDevice> disk;
        std::vector<std::unique_ptr<test::MemoryStorageDevice>> volumes;
        bool failVolumes = false;
    };
    static VKRESULT Answer(const std::vector<IStorageDevice*>& list, IStorageDevice** out,
                           int& count) {
        if (out == nullptr) {
            count = static_cast<int>(list.size());
            return VK_OK;
        }
        if (count < static_cast<int>(list.size()))
            return VK_ERROR(kModuleEnumDevice, kErrArrayTooSmall);
        for (size_t i = 0; i < list.size(); ++i)
            out[i] = list[i];
        count = static_cast<int>(list.size());
        return VK_OK;
    }
    std::vector<FakeDisk> plan_;
    std::vector<Entry> disks_;
};

// The GUIDs of partition types as the records keep them.
inline constexpr _GUID kEfiGuid = {
    0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
inline constexpr _GUID kAppleBootGuid = {
    0x426F6F74, 0x0000, 0x11AA, {0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC}};
inline constexpr _GUID kHfsGuid = {
    0x48465300, 0x0000, 0x11AA, {0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC}};

}  // namespace velmora::bridgetest
