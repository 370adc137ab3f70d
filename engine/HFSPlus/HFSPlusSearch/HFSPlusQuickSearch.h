// Quick search of a live HFS+ / HFSX volume: first the files and folders
// whose catalog records survive only in the journal, then the live catalog.
#pragma once

#include <cstdint>

#include "ReleasePtr.h"
#include "SearchInterfaces.h"

class CSearchedPartitionInfo;

namespace hfsplus {

class CHFSPlusVolume;

// Adapts the engine's progress sink for the HFS+ walks.
class CHFSPlusQuickFileSystemSearchProgress {
public:
    CHFSPlusQuickFileSystemSearchProgress(IProgress* sink, bool silent);
    // Not silent: reports the finished state once.
    ~CHFSPlusQuickFileSystemSearchProgress();
    CHFSPlusQuickFileSystemSearchProgress(const CHFSPlusQuickFileSystemSearchProgress&) = delete;
    CHFSPlusQuickFileSystemSearchProgress& operator=(const CHFSPlusQuickFileSystemSearchProgress&) =
        delete;

    // One more item done (reported to the sink now and then).
    void UpdateProgress();
    void SetTotal(long long total);
    // The sink's answer; true without a sink.
    bool Continued();
    const _PROGRESS_INFO& Info() const { return info_; }

private:
    IProgress* sink_;
    bool silent_;
    _PROGRESS_INFO info_{};
};

// The volume a quick search opened, carried by its partition record so that
// compressed files can still be read when they are recovered.
class CHFSPlusPrivateData {
public:
    explicit CHFSPlusPrivateData(CHFSPlusVolume* volume) : volume_(volume) {}
    ~CHFSPlusPrivateData();
    CHFSPlusPrivateData(const CHFSPlusPrivateData&) = delete;
    CHFSPlusPrivateData& operator=(const CHFSPlusPrivateData&) = delete;
    void Release() { delete this; }
    CHFSPlusVolume* Volume() const { return volume_; }

private:
    CHFSPlusVolume* volume_;
};

// Hands every deleted (journal) and live node of an open volume to the
// builder. Hard-link targets in the private folder are held back and given
// only when no link to them was found. The catalog walk's code.
VKRESULT QuickSearchVolume(CHFSPlusVolume* volume, IDirecotryTreeBuilder* builder,
                           CHFSPlusQuickFileSystemSearchProgress* progress);

class CHFSPlusQuickFileSystemSearchController final : public IQuickFileSystemSearchController {
public:
    CHFSPlusQuickFileSystemSearchController() = default;
    ~CHFSPlusQuickFileSystemSearchController() override;
    CHFSPlusQuickFileSystemSearchController(const CHFSPlusQuickFileSystemSearchController&) =
        delete;
    CHFSPlusQuickFileSystemSearchController& operator=(
        const CHFSPlusQuickFileSystemSearchController&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { builder_ = builder; }
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    // The opening's failure, or the catalog walk's: a damaged catalog is
    // reported even though everything readable was listed.
    VKRESULT QuickSearchFiles(IStorageDevice* device, IProgress* progress) override;

    CHFSPlusVolume* Volume() const;

private:
    IDirecotryTreeBuilder* builder_ = nullptr;
    vk::ReleasePtr<CHFSPlusPrivateData> privateData_;
    IStorageDevice* device_ = nullptr;
    IProgress* progress_ = nullptr;
    uint32_t blockSize_ = 0;
};

}  // namespace hfsplus
