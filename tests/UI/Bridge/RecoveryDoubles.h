// What the recovery tests hand the recovery operation in place of the scan
// operation: a result given as a type index, a controller and per-root
// data-recovery objects, and a data-recovery object that writes scripted
// bytes.
#pragma once

#include <sys/types.h>

#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RecoveryInterfaces.h"
#include "RecoveryOutput.h"
#include "VKUIRecovery.h"
#include "VKUITreeData.h"
#include "support/LockProbe.h"

namespace velmora::bridgetest {

// Whether another thread than the caller finds the scan's tree lock taken:
// the tree builder changes shown nodes under it, so a node is read off the
// interface thread only while it is held, and the disks are read only
// while it is free (the interface thread waits on it).
inline bool ScanTreeLockHeld() {
    return velmora::test::HeldElsewhere(VKUITreeData::instance().Mutex());
}

// A scan result: the type index and where the data-recovery objects come
// from. Installed as the recovery's scan for its lifetime.
class ScanSourceDouble : public IRecoveryScanSource {
public:
    ScanSourceDouble() { VKUIRecovery::SetScanSource(this); }
    ~ScanSourceDouble() override {
        VKUIRecovery::instance().ReleaseDataRecovery();
        VKUIRecovery::SetScanSource(nullptr);
        ReleaseDataRecovery();
    }
    ScanSourceDouble(const ScanSourceDouble&) = delete;
    ScanSourceDouble& operator=(const ScanSourceDouble&) = delete;

    IRecoveryController* GetRecoveryController() override { return controller; }
    int IsDeepScan() override { return deep; }
    std::map<int, std::vector<IFileNode*>> GetTypeMap() override { return types; }
    IDataRecovery* GetFileNodeDataRecover(IFileNode* node) override {
        if (perRoot)
            return perRoot(node);
        return nullptr;
    }
    int GetCurrentScanRecoveryCnt() override { return recoveries; }
    void SetCurrentScanRecoveryCnt(int count) override { recoveries = count; }
    std::vector<dev_t> ScannedDeviceNumbers() override { return devices; }
    void ReleaseDataRecovery() override { ++released; }

    IRecoveryController* controller = nullptr;
    int deep = 0;
    std::map<int, std::vector<IFileNode*>> types;
    std::function<IDataRecovery*(IFileNode*)> perRoot;
    int recoveries = 0;
    std::vector<dev_t> devices;
    int released = 0;
};

// Writes `bytesOf(node)` to the path, reporting progress in two steps; a
// write hook may fail it as a full disk would.
class ScriptedRecovery : public IDataRecovery {
public:
    explicit ScriptedRecovery(std::string tag) : tag(std::move(tag)) {}
    VKRESULT Initialize(IFileSystemSearchController*, IStorageDevice*) override { return 0; }
    IFileReader* SetRecoverNode(IFileNode* node) override {
        node_ = node;
        if (probeTreeLock)
            lockedAtSelect.push_back(ScanTreeLockHeld());
        return nullptr;
    }
    VKRESULT RecoverTo(const char* path, IProgress* progress, int) override {
        if (probeTreeLock)
            lockedAtCopy.push_back(ScanTreeLockHeld());
        written.push_back(path != nullptr ? path : "");
        nodes.push_back(node_);
        if (path == nullptr)
            return VK_ERROR(kModuleDataRecovery, kErrRecoveryNullArgument);
        _PROGRESS_INFO info{};
        info.state = PROGRESS_RUNNING;
        info.total = 250;
        info.done = 100;
        if (progress != nullptr)
            progress->UpdateProgress(&info);
        if (failNext > 0) {
            --failNext;
            info.result = VK_ERROR(kModuleDataRecovery, kErrRecoveryWrite);
            if (progress != nullptr)
                progress->UpdateProgress(&info);
            return info.result;
        }
        // A scripted end for this node: an error the engine gives without a
        // file, or one it gives after writing the file (lost parts, dates).
        const auto scripted = results.find(node_);
        const uint32_t error =
            scripted == results.end() ? 0 : static_cast<uint32_t>(scripted->second);
        const bool written =
            error == 0 || error == kErrRecoveryIncomplete || error == kErrRecoveryTimes;
        if (!written)
            return scripted->second;
        const int fd = velmora::recovery::OpenRecoveredFile(path);
        if (fd < 0)
            return VK_ERROR(kModuleDataRecovery, kErrRecoveryOpenTarget);
        velmora::recovery::WriteAllAt(fd, tag.data(), tag.size(), 0);
        ::close(fd);
        info.done = 250;
        if (progress != nullptr)
            progress->UpdateProgress(&info);
        if (error != 0) {
            info.result = scripted->second;
            if (progress != nullptr)
                progress->UpdateProgress(&info);
            return scripted->second;
        }
        return 0;
    }
    int ReadSmallJPG(char*, unsigned) override { return 0; }
    void Release() override { ++releases; }

    std::string tag;
    std::vector<std::string> written;
    std::vector<IFileNode*> nodes;
    int failNext = 0;
    int releases = 0;
    std::map<IFileNode*, VKRESULT> results;
    // Whether the scan's tree lock was held at each selection and copy.
    bool probeTreeLock = false;
    std::vector<bool> lockedAtSelect, lockedAtCopy;

private:
    IFileNode* node_ = nullptr;
};

// A controller that hands out the scripted objects by searcher type.
class ScriptedController : public IRecoveryController {
public:
    explicit ScriptedController(int type) : type_(type) {}
    _RECOVERY_CONTROLLER_TYPE thisType() override {
        return static_cast<_RECOVERY_CONTROLLER_TYPE>(type_);
    }
    int Initialize(IRecoveryFilter*) override { return 1; }
    VKRESULT StartDataRecovery(IStorageDevice*, IProgress*, IDrirectoryTree*) override { return 0; }
    IDataRecovery* GetDataRecovery(_tagSearcherType type) const override {
        auto it = byType.find(type);
        return it == byType.end() ? nullptr : it->second;
    }
    void Release() override {}

    std::map<int, IDataRecovery*> byType;

private:
    int type_;
};

}  // namespace velmora::bridgetest
