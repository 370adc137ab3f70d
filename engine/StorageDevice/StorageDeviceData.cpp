#include "StorageDeviceData.h"

IDiskDeviceData* CreateDiskDeviceData(CCollectDiskDeviceInfoStruct* info) {
    return new CDiskDeviceData(info);
}
IPartitionDeviceData* CreatePartitionDeviceData(CCollectedPartitionDeviceInfoStruct* info) {
    return new CPartitionDeviceData(info);
}
IVolumeDeviceData* CreateVolumeDeviceData(CCollectedVolumeDeviceInfoStruct* info) {
    return new CVolumeDeviceData(info);
}
IDmgDeviceData* CreateDMGDeviceData(CDMGDeviceInfoStruct* info) {
    return new CDmgDeviceData(info);
}
IEDIDeviceData* CreateEDIDeviceData(CEDIDeviceInfoStruct* info) {
    return new CEdiDeviceData(info);
}
