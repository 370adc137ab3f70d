// The device catalogue the user picks from: the machine's whole disks, the
// volumes of each disk, the partitions its own table lists, and those
// partitions no live volume covers offered as volumes too.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EnumDeviceEx.h"
#include "IStorageDevice.h"
#include "PartitionTableAnalyze.h"
#include "ResultCode.h"
#include "StorageDeviceData.h"
#include "platform/BlockRegistry.h"
#include "platform/ContainerListing.h"
#include "platform/DeviceNaming.h"
#include "platform/MountInfo.h"

using DevList = std::vector<IStorageDevice*>;

// Where enumeration looks. The defaults are the running machine's; tests
// point them at a fake sysfs tree, a fake mountinfo and a folder of image
// files named like device nodes.
struct EnumDeviceEnvironment {
    std::string sysfsRoot = "/";
    std::string mountInfoPath = "/proc/self/mountinfo";
    std::string devFolder = "/dev";
    // Names the volumes that are containers of volumes; when null, the one
    // the installed file systems provide.
    std::shared_ptr<const velmora::platform::IContainerListing> containers;
};

// What the platform knows at one moment: read once per enumeration so that
// disks, volumes and partitions are described from the same listing.
struct EnumSnapshot {
    velmora::platform::BlockListing blocks;
    velmora::platform::MountTable mounts;
    velmora::platform::DeviceNaming naming;
    std::shared_ptr<const velmora::platform::IContainerListing> containers;

    static std::shared_ptr<const EnumSnapshot> Take(const EnumDeviceEnvironment& env);
};

// The ordering of every device list: disks by BSD name, partitions by their
// index, volumes by their partition number. Devices of different types (and
// null ones) are grouped by type and keep their relative order, so the
// ordering is a strict weak one and sorting is stable.
struct CDevListSortAlgorithm {
    bool operator()(IStorageDevice* a, IStorageDevice* b) const;
    static void Sort(DevList& list);
};

// Deletes every device of the list and empties it.
void ReleaseDevList(DevList& list);

// Attaches a new record to a device in a holder of its kind; false (and the
// record freed) when no holder could be made.
bool AttachRecord(IStorageDevice* device, CCollectDiskDeviceInfoStruct* record);
bool AttachRecord(IStorageDevice* device, CCollectedVolumeDeviceInfoStruct* record);
bool AttachRecord(IStorageDevice* device, CCollectedPartitionDeviceInfoStruct* record);

// The disk record of a disk device, or null.
CCollectDiskDeviceInfoStruct* GetDiskInfo(const IStorageDevice* disk);
const char* GetDiskDevName(const IStorageDevice* disk);
int GetDiskDevSectorSize(const IStorageDevice* disk);
int GetDiskPartSchemeType(const IStorageDevice* disk);
bool IsGptDisk(const IStorageDevice* disk);
bool IsApmDisk(const IStorageDevice* disk);

// The partition table of a disk: the entries, or one whole-disk entry (index
// -1) when the table reads but is empty; nothing when it cannot be read.
struct DiskTable {
    bool read = false;
    enumDiskPartitionScheme scheme = kSchemeNone;
    std::vector<PartitionEntry> entries;
};
DiskTable ReadDiskTable(IStorageDevice* disk);

// Names the file system of an opened device (type 10 and an empty label when
// no recogniser knows it).
void NameDeviceFileSystem(IStorageDevice* device, int32_t& type, char (&label)[100]);

// Copies a GPT GUID as stored on disk (first three fields little-endian)
// into the four-number form the records keep.
_GUID GuidFromDisk(const uint8_t (&bytes)[16]);

class CEnumDisk {
public:
    explicit CEnumDisk(std::shared_ptr<const EnumSnapshot> snapshot)
        : m_snapshot(std::move(snapshot)) {}
    // Appends one opened disk device per accepted disk, then sorts the list.
    // The partition table read from each disk goes into `tables` when given.
    VKRESULT ExecEnum(DevList& list, std::map<const IStorageDevice*, DiskTable>* tables = nullptr);

    static constexpr uint64_t kMinDiskBytes = 0x800000;

private:
    IStorageDevice* MakeDisk(const velmora::platform::BlockDevice& block, DiskTable& table);
    std::shared_ptr<const EnumSnapshot> m_snapshot;
};

class CEnumVolume {
public:
    explicit CEnumVolume(std::shared_ptr<const EnumSnapshot> snapshot)
        : m_snapshot(std::move(snapshot)) {}
    // Fills the list with the disk's opened volume devices sorted by
    // partition number, and copies their records into the disk. `table`:
    // the disk's table when already read (a failing disk is read once).
    VKRESULT ExecEnum(const IStorageDevice* disk, DevList& list, const DiskTable* table = nullptr);

private:
    IStorageDevice* MakeVolume(IStorageDevice* disk, const velmora::platform::BlockDevice& block,
                               const DiskTable& table);
    bool FillVolumeInfo(CCollectedVolumeDeviceInfoStruct& info, IStorageDevice* volume,
                        IStorageDevice* disk, const velmora::platform::BlockDevice& block,
                        const DiskTable& table);
    std::shared_ptr<const EnumSnapshot> m_snapshot;
};

class CEnumPartition {
public:
    // Fills the list with one partition device per table entry, sorted by
    // index; 0 or the first failure (the devices made before it stay).
    VKRESULT ExecEnum(const IStorageDevice* disk, DevList& list, const DiskTable* table = nullptr);
};

class CVolumePartitionConverter {
public:
    static VKRESULT ConvertPartitions2Volumes(DevList& out, const DevList& partitions);
    static VKRESULT ConvertPartition2Volume(IStorageDevice** out, IStorageDevice* partition);
    static VKRESULT PartitionInfo2VolumeInfo(CCollectedVolumeDeviceInfoStruct* volume,
                                             const CCollectedPartitionDeviceInfoStruct* partition);
};

class CMergeVolumeAndPartition {
public:
    // Sizes within this many bytes count as the same device.
    static constexpr long long kSizeSlackBytes = 0xA00001;

    // Every volume in order, then one new volume device for every partition
    // no volume covers. Only the new devices are the caller's.
    static VKRESULT MergeAsVolume(DevList& out, IStorageDevice* const* volumes, int volumeCount,
                                  IStorageDevice* const* partitions, int partitionCount);
    static DevList GetPartListNonexistentInVolumeList(IStorageDevice* const* volumes,
                                                      int volumeCount,
                                                      IStorageDevice* const* partitions,
                                                      int partitionCount);
    // A partition and a volume are the same when their sector sizes agree,
    // they start at the same sector and their sizes are at most 10 MiB apart.
    static VKRESULT IsSameDevice(IStorageDevice* partition, IStorageDevice* volume, int& same);
    static VKRESULT DeviceFirstSectorIsEqual(IStorageDevice* a, IStorageDevice* b, int& equal);
};

class CEnumDevice {
public:
    explicit CEnumDevice(EnumDeviceEnvironment env = {});
    virtual ~CEnumDevice() = default;
    // Each empties the list and fills it. Listing disks takes a fresh look at
    // the platform; the per-disk forms describe from that same look.
    virtual VKRESULT EnumDiskDevice(DevList& list);
    virtual VKRESULT EnumPartitionDevice(const IStorageDevice* disk, DevList& list);
    virtual VKRESULT EnumVolumeDevice(const IStorageDevice* disk, DevList& list);

private:
    std::shared_ptr<const EnumSnapshot> Snapshot();
    EnumDeviceEnvironment m_env;
    std::shared_ptr<const EnumSnapshot> m_snapshot;
    std::map<const IStorageDevice*, DiskTable> m_tables;
};

// Owns every device it hands out, the volumes it converted from partitions
// included: those are made on the first query of a disk and kept for later
// ones, until Uninit.
class CEnumDeviceEx : public IEnumDeviceEx {
public:
    explicit CEnumDeviceEx(EnumDeviceEnvironment env = {});
    ~CEnumDeviceEx() override;
    CEnumDeviceEx(const CEnumDeviceEx&) = delete;
    CEnumDeviceEx& operator=(const CEnumDeviceEx&) = delete;

    VKRESULT Init() override;
    VKRESULT Uninit() override;
    VKRESULT EnumDiskDevice(IStorageDevice** out, int& count) override;
    VKRESULT EnumPartitionDevice(const IStorageDevice* disk, IStorageDevice** out,
                                 int& count) override;
    VKRESULT EnumVolumeDevice(const IStorageDevice* disk, IStorageDevice** out,
                              int& count) override;

    // Where the next Init looks.
    void SetEnvironment(EnumDeviceEnvironment env) { m_env = std::move(env); }

private:
    static VKRESULT Answer(const DevList& list, IStorageDevice** out, int& count);

    int m_initialised = 0;
    EnumDeviceEnvironment m_env;
    CEnumDevice* m_enum = nullptr;
    DevList m_disks;
    std::map<const IStorageDevice*, DevList> m_volumes;
    std::map<const IStorageDevice*, DevList> m_partitions;
    // The merged volume list of each disk asked for, and the converted
    // partitions in it (owned here).
    std::map<const IStorageDevice*, DevList> m_merged;
    std::map<const IStorageDevice*, DevList> m_converted;
};

CEnumDevice* CreateEnumDevice();
