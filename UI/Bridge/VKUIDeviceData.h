// The catalogue of what the user can scan: the machine's disks as the
// engine's enumerator finds them, then the edi images and the disk-image
// files the user opened, numbered 0, 1, 2, ... in that order, each with its
// volumes. Scans, recoveries, result loading and the imager find their
// devices here by disk and volume index.
//
// Devices of the disks belong to the enumerator, which frees them when the
// catalogue is cleared or rebuilt (disks came or went); opened images belong
// to the catalogue and live as long as it does. A worker that reads a device
// holds a DeviceLease for as long as it reads: Clear and a rebuild wait until
// every lease has ended, so no device is freed under a running scan. A
// thread never rebuilds while it holds a lease itself (it would wait for
// itself).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DiskVolumeNodeData.h"
#include "EnumDeviceEx.h"
#include "IStorageDevice.h"
#include "StorageDeviceData.h"

class VKUIDeviceData {
public:
    // Keeps the catalogue's devices alive while it exists; moves, never
    // copies. Empty (get() null) when no device answered.
    class DeviceLease {
    public:
        DeviceLease() = default;
        ~DeviceLease();
        DeviceLease(DeviceLease&& other) noexcept;
        DeviceLease& operator=(DeviceLease&& other) noexcept;
        DeviceLease(const DeviceLease&) = delete;
        DeviceLease& operator=(const DeviceLease&) = delete;

        IStorageDevice* get() const { return device_; }
        explicit operator bool() const { return device_ != nullptr; }

    private:
        friend class VKUIDeviceData;
        DeviceLease(VKUIDeviceData* owner, IStorageDevice* device)
            : owner_(owner), device_(device) {}
        void Release();
        VKUIDeviceData* owner_ = nullptr;
        IStorageDevice* device_ = nullptr;
    };

    // The process's catalogue over the machine's enumerator.
    static VKUIDeviceData& instance();

    // A catalogue over `enumerator` (not owned; null: a catalogue that never
    // lists anything).
    explicit VKUIDeviceData(IEnumDeviceEx* enumerator);
    virtual ~VKUIDeviceData();
    VKUIDeviceData(const VKUIDeviceData&) = delete;
    VKUIDeviceData& operator=(const VKUIDeviceData&) = delete;

    // Builds the catalogue: 0 not built, 1 building or the enumerator found
    // nothing, 2 ready. Waits for the leases of the previous build.
    void InitDeviceInfo();
    int GetInitState() const;
    // The state when no build holds the catalogue now; false while one
    // does (the caller must not wait for it on the interface thread).
    bool TryGetInitState(int* state) const;
    // Clear and InitDeviceInfo as one step: no reader sees the catalogue
    // empty between the two.
    void Rebuild();
    // Lets the enumerator free its devices and empties both maps (the
    // state stays 2). Waits until no lease is held.
    void Clear();
    // Rebuild the disk numbering and the volume lists when forced or empty.
    void GetDiskStorageMap(int force);
    void GetVolumeStorageMap(int force);

    // Records for the disk page: one per disk in index order, each with its
    // volumes. The text pointers point into the devices' records and stay
    // valid until the next Clear or rebuild.
    void GetAllDeviceInfo(std::vector<_DiskVolumeData>& list);
    int GetDiskDataByStorage(IStorageDevice* device, _DiskVolumeData& record);
    int GetVolumeDataByStorage(IStorageDevice* device, _DiskVolumeData& record);
    void GetDiskVolumeInfo(IStorageDevice* disk, std::vector<_DiskVolumeData>& list);
    int GetVolumeDataByVolumeInfo(const CCollectedVolumeDeviceInfoStruct* info,
                                  _DiskVolumeData& record);
    int GetDiskDataByDiskInfo(const CCollectDiskDeviceInfoStruct* info, _DiskVolumeData& record);
    int GetDiskDataByEdiInfo(const CEDIDeviceInfoStruct* info, _DiskVolumeData& record);
    int GetDiskDataByDmgInfo(const CDMGDeviceInfoStruct* info, _DiskVolumeData& record);

    // Lookups. The pointers they answer may be freed by the next Clear or
    // rebuild: a thread other than the one that clears takes a lease.
    IStorageDevice* GetStorageByDiskVolumeIndex(int disk, int volume);
    IStorageDevice* GetDiskStorageByIndex(int index);
    IStorageDevice* GetVolumeStorageByIndex(IStorageDevice* disk, int index);
    int GetDiskVolumeIndexByStorage(IStorageDevice* device, int& disk, int& volume);
    int GetDiskIndexByStorage(IStorageDevice* device);
    IStorageDevice* GetDiskStorageByVolumeStorage(IStorageDevice* device);
    int GetVolumeIndexByStorage(IStorageDevice* disk, IStorageDevice* volume);
    int IsDiskStorage(IStorageDevice* device);
    void GetDiskVolumeStorage(IStorageDevice* disk, std::vector<IStorageDevice*>& list);
    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo(IStorageDevice* device);
    int IsVolumeStorageSupported(IStorageDevice* device);
    // 0 for the EFI system and Apple boot partitions of a GPT disk and the
    // map and free-space entries of an Apple partition map; else 1.
    int IsSupportVolume(const CCollectedVolumeDeviceInfoStruct* info);

    // The device of GetStorageByDiskVolumeIndex, held until the lease ends.
    DeviceLease LeaseDevice(int disk, int volume);

    // Opened images: 1 when open (newly or already), 0 when it cannot be.
    int VKOpenEdiFileImp(const char* path);
    int VKOpenDmgFileImp(const char* path, CDMGDeviceInfoStruct record);
    int VKCheckEdiFileExist(IStorageDevice* device);
    int VKCheckDmgFileExist(IStorageDevice* device);
    IStorageDevice* GetStorageByEdiInfo(const void* record, int length, const char* path);
    IStorageDevice* GetStorageByDmgInfo(const void* record, int length, const char* path);

private:
    // Holds the lock once no lease is held; the caller must not hold it.
    std::unique_lock<std::recursive_mutex> LockWithoutLeases();
    void EndLease();
    void SetDevicesOpen(bool open);
    static CCollectDiskDeviceInfoStruct* DiskInfoOf(IStorageDevice* device);
    static CEDIDeviceInfoStruct* EdiInfoOf(IStorageDevice* device);
    static CDMGDeviceInfoStruct* DmgInfoOf(IStorageDevice* device);

    IEnumDeviceEx* m_enumerator;
    mutable std::recursive_mutex m_lock;
    std::condition_variable_any m_leaseEnded;
    int m_leases = 0;
    int m_initState = 0;
    std::map<uint32_t, IStorageDevice*> m_diskMap;
    std::map<IStorageDevice*, std::vector<IStorageDevice*>> m_volumeMap;
    std::vector<std::unique_ptr<IStorageDevice>> m_ediImages;
    std::vector<std::unique_ptr<IStorageDevice>> m_dmgImages;
};
