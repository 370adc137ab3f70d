// One disk, volume or opened image as the device catalogue describes it
// (_DiskVolumeData, also the device record that result files store), and
// its row in the disk-selection outline (DiskVolumeNodeData); a disk row
// holds its volume rows as children.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The pointers point into records of the catalogue's device objects; a
// record never owns them, and copies share them.
struct _DiskVolumeData {
    const char* name = nullptr;
    // The device node's BSD-style name; for an image, the image's path.
    const char* bsdName = nullptr;
    int64_t capacity = 0;  // bytes
    int64_t used = 0;
    int32_t diskIndex = -1;
    int32_t volumeIndex = -1;  // -1 for a disk or an image
    int32_t fileSystem = -1;
    int32_t isDmg = 0;  // a mounted disk image
    int32_t isSSD = 0;
    int32_t isUSB = 0;
    int32_t permitted = 1;  // the device could be opened
    int32_t isEdi = 0;
    const void* ediInfo = nullptr;
    int32_t ediInfoSize = -1;  // 1192 when set
    int32_t isAppleDmg = 0;    // an opened disk-image file
    const void* dmgInfo = nullptr;
    int32_t dmgInfoSize = -1;  // 2088 when set
    std::vector<_DiskVolumeData> volumes;
};

class DiskVolumeNodeData;
using DiskVolumeNodePtr = std::shared_ptr<DiskVolumeNodeData>;

class DiskVolumeNodeData {
public:
    // initWithNodeData:
    explicit DiskVolumeNodeData(const _DiskVolumeData& data);

    // Replaces the volume rows (none: the row has no children at all).
    void setSubNode(std::optional<std::vector<DiskVolumeNodePtr>> children);
    const std::optional<std::vector<DiskVolumeNodePtr>>& children() const { return m_children; }
    DiskVolumeNodePtr childAtIndex(size_t index) const;
    size_t numberOfChildren() const;
    void setParentName(const std::string& name) { m_parentName = name; }
    const std::string& parentName() const { return m_parentName; }
    const std::string& name() const { return m_name; }
    // The device node; none for a record without a BSD name.
    const std::optional<std::string>& diskPath() const { return m_diskPath; }
    int64_t capacity() const { return m_capacity; }
    int64_t used() const { return m_used; }
    int diskIndex() const { return m_diskIndex; }
    int volumeIndex() const { return m_volumeIndex; }
    int fileSystem() const { return m_fileSystem; }
    int state() const { return m_state; }
    int isDmg() const { return m_isDmg; }
    int isVolumeDmg() const { return m_isVolumeDmg; }
    void setIsVolumeDmg(int value) { m_isVolumeDmg = value; }
    int isSSD() const { return m_isSSD; }
    int isEdi() const { return m_isEdi; }
    int isUSB() const { return m_isUSB; }
    int isSystemVolume() const { return m_isSystemVolume; }
    void setIsSystemVolume(int value) { m_isSystemVolume = value; }
    int isAppleDmg() const { return m_isAppleDmg; }
    int beCanOpen() const { return m_beCanOpen; }
    // Lets go of the volume rows and theirs.
    void free();

private:
    std::string m_name;
    std::string m_parentName;
    std::optional<std::string> m_diskPath;
    int64_t m_capacity = 0;
    int64_t m_used = 0;
    int m_diskIndex = -1;
    int m_volumeIndex = -1;
    int m_fileSystem = -1;
    int m_state = 0;
    int m_isDmg = 0;
    int m_isVolumeDmg = 0;
    int m_isSSD = 0;
    int m_isEdi = 0;
    int m_isUSB = 0;
    int m_isSystemVolume = 0;
    int m_isAppleDmg = 0;
    std::optional<std::vector<DiskVolumeNodePtr>> m_children;
    int m_beCanOpen = 0;
};
