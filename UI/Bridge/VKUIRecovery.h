// The recovery operation: copies the files the user ticked out of the
// scanned device into the destination folder. The engine's data-recovery
// objects do the reading and writing; this operation picks the object of
// each file's searcher, keeps the totals the recovery window shows and
// pauses itself when the destination cannot be written.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OutputDestination.h"
#include "RecoveryInterfaces.h"
#include "SearchInterfaces.h"
#include "VKUIOperation.h"

// What the recovery needs of the scan operation. The scan operation
// implements it; tests hand in a scan of their own.
class IRecoveryScanSource {
public:
    virtual ~IRecoveryScanSource() = default;
    // The controller of the current result (borrowed), or null.
    virtual IRecoveryController* GetRecoveryController() = 0;
    virtual int IsDeepScan() = 0;
    // The result's nodes by file type, each type's nodes in their order.
    virtual std::map<int, std::vector<IFileNode*>> GetTypeMap() = 0;
    // The data-recovery object a quick scan keeps for the node's root
    // (borrowed), or null.
    virtual IDataRecovery* GetFileNodeDataRecover(IFileNode* node) = 0;
    virtual int GetCurrentScanRecoveryCnt() = 0;
    virtual void SetCurrentScanRecoveryCnt(int count) = 0;
    // The device numbers (as stat reports them) of the scanned storage: of
    // each of its volumes in catalogue order for a whole disk, else its own.
    virtual std::vector<dev_t> ScannedDeviceNumbers() = 0;
    // Releases the data-recovery objects the scan keeps.
    virtual void ReleaseDataRecovery() = 0;
    // Keeps the scanned device open and alive while the holder lives (null
    // when the scan's devices need no holding); every reader of found files
    // holds it.
    virtual std::shared_ptr<void> HoldScannedDevice() { return nullptr; }
};

class VKUIRecovery : public VKUIOperation {
public:
    static VKUIRecovery& instance();
    ~VKUIRecovery() override;

    // The scan the recovery works on (null: none); borrowed.
    static void SetScanSource(IRecoveryScanSource* source);
    static IRecoveryScanSource* ScanSource();
    // The scan's tree lock, held by every thread but the scan's own while
    // it reads a shown node off the interface thread (its runs, name, size,
    // parents): the tree builder changes shown nodes under it (a copy hands
    // its runs over, a folder gains children). Held only to copy what is
    // needed, never across a read of a disk, and taken before the recovery
    // objects' own locks (order: tree lock, then the data-recovery object's
    // lock; never a bridge operation's lock or m_recoveriesLock inside it).
    static std::unique_lock<std::mutex> LockScanTree();

    // The pass over the shown and ticked files; the last engine result.
    uint64_t DoRecovery();
    void UpdateProgress(_PROGRESS_INFO* info) override;
    void ResetParam();
    void InitDataRecoveryController();
    void ReleaseDataRecovery();
    // The scan is about to release its controllers (a new scan or a load):
    // the objects made by them go first, and the next use takes the new
    // controller.
    void ForgetScanController();
    int CheckWhetherNeedReset();
    IDataRecovery* GetDataRecoveryByType(_tagSearcherType type);

    void SetRecoveryPath(const char* path);
    std::string GetRecoveryPath();
    void SetRecoveryTotalSize(uint64_t size);
    void SetRecoveryTotalFilesCnt(uint64_t count);
    uint64_t GetRecoveriedFileSize();
    uint64_t GetRecoveriedFilesCnt();
    IFileNode* GetCurrentRecoveryNode();

    void SetCreateDirIndex(_tagSearcherType type, int number);
    int GetCreateDirIndex(_tagSearcherType type);
    void ClearCreateDirIndex();
    // Changes whenever the numbers are cleared: a new pass, new folders.
    unsigned FolderGeneration() const { return m_folderGeneration.load(); }

    // 1 when the path lies on the scanned device or a device stacked on it
    // (a folder not made yet: its nearest existing parent).
    int RecoveryPathIsSameDevice(const char* path);
    // The destination `path` checked once, as the invoking user and against
    // the scanned devices.
    velmora::bridge::OutputDestination CheckDestination(const char* path);

    // Ticked files the pass did not write: a name that could not be placed
    // below the destination, nothing that could read them, or a copy the
    // destination or the reader refused (a stop by the user is not one).
    // They are not among the files written, and the end window says how
    // many there were.
    uint64_t GetRefusedFilesCnt();
    // The file in the destination that lists the files of the last pass
    // that were not written, one path of the scan's tree a line; "" when
    // there were none or the list could not be written. Written when the
    // pass ends, before the recovery reports that it ended.
    std::string GetRefusedListPath();
    // The list's name in the destination (numbered when one exists).
    static constexpr const char* kRefusedListName = "Velmora - files not recovered.txt";

private:
    VKUIRecovery();
    // Writes one node; the engine's result.
    VKRESULT RecoverNode(IDataRecovery* recovery, IFileNode* node);
    // Keeps the tree path of a ticked file that was not written (for the
    // list of them), and counts it as refused unless the user stopped it.
    void NoteRefused(IFileNode* node, bool refused = true);
    // The data-recovery object that writes the node, or null.
    IDataRecovery* RecoveryFor(IRecoveryScanSource* scan, IFileNode* node);
    // Writes the list of the files not written into the destination.
    void WriteRefusedList();

    // Guards the controller and the objects made from it: the picture
    // loaders prepare and use them while a recovery may run. The objects
    // stay until the controller goes (a new scan or a load), so a loader
    // never holds one that was released.
    mutable std::recursive_mutex m_recoveriesLock;
    IRecoveryController* m_controller = nullptr;
    // The controller the objects in m_recoveries were made by.
    IRecoveryController* m_recoveriesFrom = nullptr;
    std::string m_destination;
    std::atomic<uint64_t> m_totalSize{0};
    std::atomic<uint64_t> m_totalFiles{0};
    std::atomic<uint64_t> m_recoveredSize{0};
    // Written by the worker only; the windows read the atomics above.
    uint64_t m_lastDone = 0;
    // Set when a full destination paused the current file's copy: the
    // user may resume before the copy has returned, so the status alone
    // cannot tell afterwards that it paused.
    std::atomic<bool> m_pausedForRoom{false};
    std::map<int, IDataRecovery*> m_recoveries;
    std::map<int, int> m_folderNumbers;
    std::atomic<unsigned> m_folderGeneration{0};
    std::atomic<IFileNode*> m_currentNode{nullptr};
    // The name of the file being written, for the log (under m_lock).
    std::string m_currentName;
    std::atomic<uint64_t> m_recoveredFiles{0};
    std::atomic<uint64_t> m_refusedFiles{0};
    // Under m_lock.
    std::vector<std::string> m_refusedPaths;
    std::string m_refusedList;
    int m_deepPrepared = 0;
};
