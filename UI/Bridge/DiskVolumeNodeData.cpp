#include "DiskVolumeNodeData.h"

#include "BridgeServices.h"
#include "VKUIPublic.h"

namespace {

// Device node paths are built in a buffer of this size; longer names are
// cut to fit.
constexpr size_t kDiskPathBytes = 256;

}  // namespace

DiskVolumeNodeData::DiskVolumeNodeData(const _DiskVolumeData& data)
    : m_capacity(data.capacity),
      m_used(data.used),
      m_diskIndex(data.diskIndex),
      m_volumeIndex(data.volumeIndex),
      m_fileSystem(data.fileSystem),
      m_isDmg(data.isDmg),
      m_isSSD(data.isSSD),
      m_isEdi(data.isEdi),
      m_isUSB(data.isUSB),
      m_isAppleDmg(data.isAppleDmg),
      m_beCanOpen(data.permitted) {
    if (data.name == nullptr || *data.name == '\0')
        m_name = velmora::bridge::CurrentTextCatalog()->Text("DEVICE_NAME_UNTITILED", "");
    else
        m_name = IsValidUtf8(data.name) ? data.name : "Unknown";
    if (data.bsdName != nullptr) {
        std::string path = std::string("/dev/") + data.bsdName;
        if (path.size() > kDiskPathBytes - 1)
            path.resize(kDiskPathBytes - 1);
        m_diskPath = std::move(path);
    }
}

void DiskVolumeNodeData::setSubNode(std::optional<std::vector<DiskVolumeNodePtr>> children) {
    if (m_children)
        free();
    m_children = std::move(children);
}

DiskVolumeNodePtr DiskVolumeNodeData::childAtIndex(size_t index) const {
    if (!m_children || index >= m_children->size())
        return nullptr;
    return (*m_children)[index];
}

size_t DiskVolumeNodeData::numberOfChildren() const {
    return m_children ? m_children->size() : 0;
}

void DiskVolumeNodeData::free() {
    if (!m_children)
        return;
    for (DiskVolumeNodePtr& child : *m_children) {
        if (child)
            child->free();
    }
    m_children.reset();
}
