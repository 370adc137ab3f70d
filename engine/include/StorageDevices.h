// Factories of the storage devices and the one read path every raw read of
// the process goes through.
#pragma once

#include "IStorageDevice.h"
#include "StorageDeviceData.h"

// Reads `byteCount` bytes at `byteOffset` of `fd` into `buffer` in pieces of
// at most kReadPieceBytes, one read at a time for the whole process. Returns
// byteCount when every piece was read, 0 otherwise; a piece that could not be
// read, and whatever lies past the end of the file, reads as zeros.
long long VKReadAsyncData(void* buffer, int fd, long long byteOffset, long long byteCount);
constexpr long long kReadPieceBytes = 0x400000;

// Unopened disk and volume devices on a device node path (at most 127
// characters); the caller opens them.
IStorageDevice* CreateDiskDevice(const char* path);
IStorageDevice* CreateVolumeDevice(const char* path);
// A window of `sectorCount` sectors from `startSector` of `parent` (not owned;
// it must outlive the window).
IStorageDevice* CreatePartitionDevice(IStorageDevice* parent, long long startSector,
                                      long long sectorCount);
// A volume view of a found partition whose private data is a partition record
// naming its disk; null when any of that is missing.
IStorageDevice* CreatePartitionVirtualVolumeDevice(IStorageDevice* partition);

// Image devices.
IStorageDevice* CreateEdiDeviceImp(const char* path);
IStorageDevice* CreateDmgDeviceImp(const char* path);
IStorageDevice* CreateEdiDevice(const char* path);
IStorageDevice* CreateDmgDevice(const char* path, void* record);
IStorageDevice* CreateEdiDeviceByEdiInfo(void* record, int size, const char* path);
IStorageDevice* CreateDmgDeviceByDmgInfo(void* record, int size, const char* path);

// 0 on success, 0xFFFFFFFF on failure.
unsigned int VkFillEdiFileInfo(CEDIDeviceInfoStruct* info, const char* path);
unsigned int VkFillDmgFileInfo(CDMGDeviceInfoStruct* info, const char* path);
