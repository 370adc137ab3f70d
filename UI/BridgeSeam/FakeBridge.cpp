#include "BridgeSeam/FakeBridge.h"

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>

#include <QVariant>

#include "UIPlatform/NotificationCenter.h"

namespace velmora::seam {

FakeBridge::FakeBridge() = default;

FakeBridge::~FakeBridge() = default;

DiskVolumeNodePtr FakeBridge::Disk(const std::string& name, int64_t capacity,
                                   std::vector<DiskVolumeNodePtr> volumes, int isSSD) {
    _DiskVolumeData data;
    data.name = name.c_str();
    data.bsdName = name.c_str();
    data.capacity = capacity;
    data.isSSD = isSSD;
    auto disk = std::make_shared<DiskVolumeNodeData>(data);
    for (const DiskVolumeNodePtr& volume : volumes)
        volume->setParentName(name);
    disk->setSubNode(std::move(volumes));
    return disk;
}

DiskVolumeNodePtr FakeBridge::Volume(const std::string& name, int64_t capacity, int fileSystem,
                                     bool canOpen) {
    _DiskVolumeData data;
    data.name = name.c_str();
    data.bsdName = name.c_str();
    data.capacity = capacity;
    data.fileSystem = fileSystem;
    data.volumeIndex = 0;
    data.permitted = canOpen ? 1 : 0;
    return std::make_shared<DiskVolumeNodeData>(data);
}

void FakeBridge::ReleaseDeviceInfo() {
    std::vector<std::string> names;
    names.swap(heldNames_);
    for (const std::string& name : names) {
        ui::NotificationCenter::defaultCenter().post(QString::fromStdString(name),
                                                     QStringLiteral("VKUIPublic"));
    }
}

int FakeBridge::CountOf(const std::string& name) const {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
        return c == name || c.rfind(name + ":", 0) == 0;
    }));
}

int FakeBridge::IsAppRunning() {
    calls.push_back("IsAppRunning");
    return appRunning;
}

void FakeBridge::initFileType() {
    calls.push_back("initFileType");
}

void FakeBridge::ReleaseDataRecovery() {
    calls.push_back("ReleaseDataRecovery");
}

void FakeBridge::SetRecoveryType(int mask) {
    calls.push_back("SetRecoveryType:" + std::to_string(mask));
    recoveryTypes.push_back(mask);
}

// The bridge posts on the main thread, later: so does the fake, through the
// centre's queue, unless the test holds the catalogue back.
void FakeBridge::NotifiyDeviceInfoAfterInit(const std::string& name) {
    calls.push_back("NotifiyDeviceInfoAfterInit:" + name);
    if (holdDeviceInfo) {
        heldNames_.push_back(name);
        return;
    }
    ui::NotificationCenter::defaultCenter().postOnMainThread(QString::fromStdString(name),
                                                             QStringLiteral("VKUIPublic"));
}

void FakeBridge::GetDeviceInfoToArray(std::vector<DiskVolumeNodePtr>* array) {
    calls.push_back("GetDeviceInfoToArray");
    if (array == nullptr)
        return;
    array->insert(array->end(), devices.begin(), devices.end());
}

void FakeBridge::RefreshDeviceInfo() {
    calls.push_back("RefreshDeviceInfo");
    if (onRefresh)
        onRefresh();
}

int FakeBridge::VKOpenDmgFile(const std::string& path) {
    calls.push_back("VKOpenDmgFile:" + path);
    return openDmgResult;
}

void FakeBridge::DoScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) {
    calls.push_back("DoScanWithData:" + (row ? row->name() : std::string("nil")));
    (void)postName;
    if (row)
        scanStatus_ = 2;
}

void FakeBridge::DoDeepScanWithData(const DiskVolumeNodePtr& row, const std::string& postName) {
    calls.push_back("DoDeepScanWithData:" + (row ? row->name() : std::string("nil")));
    (void)postName;
    if (row)
        scanStatus_ = 2;
}

int FakeBridge::IsScanRunning() {
    calls.push_back("IsScanRunning");
    return scanStatus_ >= 1 && scanStatus_ <= 3 ? 1 : 0;
}

void FakeBridge::GetScanTreeNodeData(std::vector<OpNodePtr>* roots, int clearState) {
    calls.push_back("GetScanTreeNodeData");
    if (roots == nullptr)
        return;
    for (const OpNodePtr& root : scanRoots) {
        if (clearState)
            root->setNodeState(0);
        if (std::find(roots->begin(), roots->end(), root) == roots->end())
            roots->push_back(root);
    }
}

std::optional<std::string> FakeBridge::GetSavePath() {
    calls.push_back("GetSavePath");
    return savePath;
}

void FakeBridge::beginSaveOrRestoreNode(int flag, const std::string& path,
                                        const std::optional<std::string>& ediPath) {
    calls.push_back("beginSaveOrRestoreNode:" + std::to_string(flag) + ":" + path +
                    (ediPath ? ":" + *ediPath : std::string()));
}

std::vector<uint8_t> FakeBridge::GetNSImageByNode(const OpNodePtr& node, std::stop_token stop) {
    if (!node)
        return {};
    const auto found = pictureFiles.find(node->name());
    if (found == pictureFiles.end())
        return {};
    ++pictureReads;
    if (pictureDelay.count() > 0) {
        std::mutex mutex;
        std::condition_variable_any never;
        std::unique_lock lock(mutex);
        if (never.wait_for(lock, stop, pictureDelay, [] { return false; }) ||
            stop.stop_requested()) {
            ++pictureReadsGivenUp;
            return {};
        }
    }
    std::ifstream file(found->second, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int FakeBridge::IsPause() {
    return paused;
}

}  // namespace velmora::seam
