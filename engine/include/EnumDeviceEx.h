// The machine's storage as the interface lists it: whole disks and the
// volumes of each, as opened devices that the enumerator owns until Uninit
// (or the next Init) frees them.
#pragma once

#include "IStorageDevice.h"
#include "ResultCode.h"

class IEnumDeviceEx {
public:
    virtual ~IEnumDeviceEx() = default;
    // Takes a fresh look at the machine; the devices of the previous look
    // are freed. Fails when no disk is found.
    virtual VKRESULT Init() = 0;
    virtual VKRESULT Uninit() = 0;
    // With a null array: the count. Otherwise fills `count` entries.
    virtual VKRESULT EnumDiskDevice(IStorageDevice** out, int& count) = 0;
    virtual VKRESULT EnumPartitionDevice(const IStorageDevice* disk, IStorageDevice** out,
                                         int& count) = 0;
    virtual VKRESULT EnumVolumeDevice(const IStorageDevice* disk, IStorageDevice** out,
                                      int& count) = 0;
};

// The process-wide enumerator, made on first call and destroyed at exit.
IEnumDeviceEx* CreateEnumDeviceEx();
