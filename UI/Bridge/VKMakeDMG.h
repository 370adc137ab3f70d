// The disk imager: copies a disk or one volume of the device catalogue,
// sector by sector, into an image file the catalogue can open later as a
// disk: an edi image (an 8-byte header and the 1,192-byte information
// record before the sectors) or a raw image (the sectors alone).
//
// The source is read only through the engine's one read path on a
// descriptor opened read-only. The image goes the one road of the files
// written for the user: its folder checked as the invoking user and refused
// on the source device or any device stacked on it (OutputDestination), the
// file written as a new one beside the target and renamed over it only once
// whole and synced (platform/UserFiles.h). A copy that fails or is stopped
// leaves no file behind and an older image of that name as it was. The copy runs on a
// worker thread; progress and the end reach the delegate on the main
// thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "OutputDestination.h"
#include "StartThread.h"
#include "StorageDeviceData.h"

class IStorageDevice;
namespace velmora::platform {
class ReplacingFile;
}
class VKUIDeviceData;

// Codes of VKStart and of the last progress report.
enum VKMakeDMGCode : int {
    VKMAKEDMG_OK = 0,
    VKMAKEDMG_NO_SOURCE = -2,        // no path, no device for the indexes, or a copy runs
    VKMAKEDMG_NO_MEMORY = -3,        // no read buffer
    VKMAKEDMG_STOPPED = -4,          // stopped by VKSetState(2)
    VKMAKEDMG_OPEN_FAILED = -100,    // the source cannot be opened
    VKMAKEDMG_READ_FAILED = -101,    // a read of the source failed
    VKMAKEDMG_CREATE_FAILED = -102,  // the image cannot be created
    VKMAKEDMG_WRITE_FAILED = -103,   // a write to the image failed (a full disk)
    VKMAKEDMG_NO_INFO = -104,        // the source has no disk or volume record
    // The image would lie on the device being copied, or on one stacked on
    // it: writing it would overwrite what is being copied.
    VKMAKEDMG_ON_SOURCE_DEVICE = -105,
};

// What the delegate is handed.
struct VKMakeDMGProgress {
    int64_t totalSectors = 0;
    int64_t doneSectors = 0;
    int32_t errorCode = 0;
    // The first sector that could not be read (with -101); -1 otherwise.
    int64_t failedSector = -1;
};

class VKMakeDMGDelegate {
public:
    virtual ~VKMakeDMGDelegate() = default;
    // On the main thread, after each piece and once at the end (the end
    // carries the sector count as done and the final code).
    virtual void VKGetPrecent(const VKMakeDMGProgress* progress) = 0;
};

class VKMakeDMG {
public:
    // Sectors per piece of the copy.
    static constexpr int64_t kPieceSectors = 8192;
    static constexpr int32_t kEdiHeaderBytes = 8;

    // The process's imager, over the process's catalogue.
    static VKMakeDMG& VKShareInstance();

    explicit VKMakeDMG(VKUIDeviceData& catalogue);
    // Stops a running copy and waits for it.
    ~VKMakeDMG();
    VKMakeDMG(const VKMakeDMG&) = delete;
    VKMakeDMG& operator=(const VKMakeDMG&) = delete;

    // Starts copying disk `disk` (volume `volume`, -1 for the whole disk),
    // read from the device node `sourcePath`, into `imagePath`: kind 0 an
    // edi image, 1 a raw one. 0 when the copy started, else a code.
    int VKStart(const std::string& sourcePath, const std::string& imagePath, int disk, int volume,
                int kind);
    // 1 pauses, 0 resumes, 2 stops the running copy. Answers 0.
    int VKSetState(int state);
    // Not retained; called on the main thread.
    void setVKDelegate(VKMakeDMGDelegate* delegate);
    VKMakeDMGDelegate* VKDelegate();

    // Fills the information record from the device's disk or volume record:
    // 0, or -1 when it has neither.
    int VKGetEdiInfo(IStorageDevice* device);
    // The record of the copy in progress.
    CEDIDeviceInfoStruct EdiInfo() const;
    // Waits until the running copy (if any) has ended; its last report is
    // then queued on the main thread.
    void WaitForCopy();
    // True while a paused copy holds between two pieces (every report of
    // the pieces before is queued by then).
    bool IsHeld() const { return m_held.load(); }
    // Why the last start refused the image's folder (kNone when it did not).
    velmora::bridge::OutputProblem DestinationProblem() const { return m_destinationProblem; }
    // The sysfs tree the stacking of devices is read from (tests).
    void SetSysfsForTests(const std::string& sysfs) { m_sysfs = sysfs; }

private:
    struct Shared;
    int VKOpenDevice(const std::string& path);
    void VKCloseDevice();
    int VKWriteDMgHEader2(int fd);
    int VKMakeEdiImp(const std::string& path, int kind);
    void Copy(std::shared_ptr<velmora::platform::ReplacingFile> image, std::string path, int kind);
    int64_t FirstUnreadableSector(int64_t first, int64_t count);
    void VKUpdatePrgoress(int64_t done, int code, int64_t failedSector = -1);

    VKUIDeviceData& m_catalogue;
    std::shared_ptr<Shared> m_shared;
    int _iDeviceID = -1;
    std::unique_ptr<uint8_t[]> _szBuf;
    size_t m_bufBytes = 0;
    std::atomic<int> _iState{0};
    std::mutex m_stateLock;
    std::condition_variable m_stateChanged;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_held{false};
    velmora::bridge::BridgeThread m_worker;
    CEDIDeviceInfoStruct m_info{};
    velmora::bridge::OutputProblem m_destinationProblem = velmora::bridge::OutputProblem::kNone;
    std::string m_sysfs = "/sys";
};
