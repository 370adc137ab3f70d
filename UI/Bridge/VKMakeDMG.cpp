#include "VKMakeDMG.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <vector>

#include "BridgeServices.h"
#include "MainThread.h"
#include "StorageDevices.h"
#include "Utility/CatchExeception.h"
#include "VKUIDeviceData.h"
#include "platform/RawIo.h"
#include "platform/UserFiles.h"

namespace {

constexpr int32_t kRecordOffset = 8;
constexpr int64_t kHeaderAndRecordBytes = 1200;

// Writes all of it; false on any failure (a full disk, a file-size limit, an
// I/O error), so that nothing short is ever passed off as an image.
bool WriteAll(int fd, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t n = ::write(fd, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool PwriteAll(int fd, const void* data, size_t length, off_t offset) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, p, length, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

template <size_t N, size_t M>
void CopyName(char (&dest)[N], const char (&src)[M]) {
    const size_t len = strnlen(src, M) < N - 1 ? strnlen(src, M) : N - 1;
    std::memcpy(dest, src, len);
    dest[len] = '\0';
}

}  // namespace

struct VKMakeDMG::Shared {
    // Recursive: a delegate may set another delegate from its report.
    std::recursive_mutex lock;
    VKMakeDMGDelegate* delegate = nullptr;
};

VKMakeDMG& VKMakeDMG::VKShareInstance() {
    static VKMakeDMG imager(VKUIDeviceData::instance());
    return imager;
}

VKMakeDMG::VKMakeDMG(VKUIDeviceData& catalogue)
    : m_catalogue(catalogue), m_shared(std::make_shared<Shared>()) {}

VKMakeDMG::~VKMakeDMG() {
    VKSetState(2);
    m_worker.Join();
    VKCloseDevice();
    std::lock_guard<std::recursive_mutex> hold(m_shared->lock);
    m_shared->delegate = nullptr;
}

void VKMakeDMG::setVKDelegate(VKMakeDMGDelegate* delegate) {
    std::lock_guard<std::recursive_mutex> hold(m_shared->lock);
    m_shared->delegate = delegate;
}

VKMakeDMGDelegate* VKMakeDMG::VKDelegate() {
    std::lock_guard<std::recursive_mutex> hold(m_shared->lock);
    return m_shared->delegate;
}

CEDIDeviceInfoStruct VKMakeDMG::EdiInfo() const {
    return m_info;
}

void VKMakeDMG::WaitForCopy() {
    m_worker.Join();
}

int VKMakeDMG::VKSetState(int state) {
    {
        std::lock_guard<std::mutex> hold(m_stateLock);
        _iState.store(state);
    }
    m_stateChanged.notify_all();
    return 0;
}

int VKMakeDMG::VKGetEdiInfo(IStorageDevice* device) {
    std::memset(&m_info, 0, sizeof m_info);
    m_info.creationTime = static_cast<int64_t>(velmora::bridge::CurrentClock()->Now());
    IStorageDeviceData* data = device != nullptr ? device->GetPrivateData() : nullptr;
    if (auto* disk = dynamic_cast<IDiskDeviceData*>(data); disk && disk->GetDiskInfo()) {
        const CCollectDiskDeviceInfoStruct* info = disk->GetDiskInfo();
        m_info.sectorSize = info->sectorSize;
        m_info.totalSectors = info->totalSectors;
        CopyName(m_info.deviceName, info->registryName);
        return 0;
    }
    if (auto* volume = dynamic_cast<IVolumeDeviceData*>(data); volume && volume->GetVolumeInfo()) {
        const CCollectedVolumeDeviceInfoStruct* info = volume->GetVolumeInfo();
        m_info.sectorSize = info->sectorSize;
        m_info.totalSectors = info->totalSectors;
        CopyName(m_info.deviceName, info->volumeName);
        return 0;
    }
    return -1;
}

int VKMakeDMG::VKStart(const std::string& sourcePath, const std::string& imagePath, int disk,
                       int volume, int kind) {
    if (sourcePath.empty() || imagePath.empty())
        return VKMAKEDMG_NO_SOURCE;
    // One information record, one copy at a time.
    if (m_running.load())
        return VKMAKEDMG_NO_SOURCE;
    m_worker.Join();
    {
        VKUIDeviceData::DeviceLease device = m_catalogue.LeaseDevice(disk, volume);
        if (!device)
            return VKMAKEDMG_NO_SOURCE;
        if (VKGetEdiInfo(device.get()) != 0)
            return VKMAKEDMG_NO_INFO;
    }
    // A record that names no usable geometry cannot be copied sector by sector.
    if (m_info.sectorSize <= 0 || m_info.sectorSize > (1 << 16) || m_info.totalSectors < 0)
        return VKMAKEDMG_NO_INFO;
    if (imagePath.size() >= sizeof m_info.imagePath)
        return VKMAKEDMG_CREATE_FAILED;
    std::memcpy(m_info.imagePath, imagePath.c_str(), imagePath.size() + 1);
    m_info.dataOffset =
        kind == 1 ? 0 : (kHeaderAndRecordBytes / m_info.sectorSize + 1) * m_info.sectorSize;
    if (const int code = VKOpenDevice(sourcePath); code != 0)
        return code;
    VKSetState(0);
    return VKMakeEdiImp(imagePath, kind);
}

int VKMakeDMG::VKOpenDevice(const std::string& path) {
    if (path.empty())
        return VKMAKEDMG_NO_SOURCE;
    VKCloseDevice();
    int error = 0;
    _iDeviceID = velmora::platform::CurrentRawIo().Open(path.c_str(), &error);
    if (_iDeviceID < 0) {
        CatchExeception::WriteLog("Imager: cannot open %s: %s\n", path.c_str(),
                                  std::strerror(error));
        return VKMAKEDMG_OPEN_FAILED;
    }
    m_bufBytes = static_cast<size_t>(m_info.sectorSize) * kPieceSectors;
    _szBuf.reset(new (std::nothrow) uint8_t[m_bufBytes]);
    if (!_szBuf) {
        VKCloseDevice();
        return VKMAKEDMG_NO_MEMORY;
    }
    return 0;
}

void VKMakeDMG::VKCloseDevice() {
    if (_iDeviceID >= 0)
        velmora::platform::CurrentRawIo().Close(_iDeviceID);
    _iDeviceID = -1;
    _szBuf.reset();
    m_bufBytes = 0;
}

int VKMakeDMG::VKMakeEdiImp(const std::string& path, int kind) {
    using velmora::bridge::OutputDestination;
    using velmora::bridge::OutputProblem;
    m_destinationProblem = OutputProblem::kNone;
    const auto refuse = [this](int code) {
        VKCloseDevice();
        return code;
    };
    struct stat source {};
    const bool haveSource = ::fstat(_iDeviceID, &source) == 0;
    // The image's folder is checked as recovery destinations are: as the
    // invoking user, and never on the device being copied or on one made on
    // it (an encrypted volume, LVM, md, a loop device backed by a file
    // there), where the image would overwrite what it copies.
    const size_t slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || slash == std::string::npos || slash + 1 == path.size())
        return refuse(VKMAKEDMG_CREATE_FAILED);
    std::vector<dev_t> scanned;
    if (haveSource && S_ISBLK(source.st_mode))
        scanned.push_back(source.st_rdev);
    const OutputDestination destination =
        OutputDestination::Choose(slash == 0 ? "/" : path.substr(0, slash), scanned, m_sysfs);
    if (!destination.ok()) {
        m_destinationProblem = destination.problem();
        CatchExeception::WriteLog("Imager: %s refused: %s\n", path.c_str(),
                                  destination.Words().c_str());
        return refuse(velmora::bridge::IsOnScannedDevice(destination.problem())
                          ? VKMAKEDMG_ON_SOURCE_DEVICE
                          : VKMAKEDMG_CREATE_FAILED);
    }
    const std::string target = destination.folder() + path.substr(slash);
    // An image of a file onto that file itself would replace what it reads.
    struct stat existing {};
    if (haveSource && ::lstat(target.c_str(), &existing) == 0 && existing.st_dev == source.st_dev &&
        existing.st_ino == source.st_ino)
        return refuse(VKMAKEDMG_CREATE_FAILED);
    // A new file beside the target, as the user; an older image of that
    // name stays whole until this one has been written and synced.
    auto image = std::make_shared<velmora::platform::ReplacingFile>();
    if (!image->Begin(target)) {
        CatchExeception::WriteLog("Imager: cannot create %s: %s\n", path.c_str(),
                                  std::strerror(errno));
        return refuse(VKMAKEDMG_CREATE_FAILED);
    }
    m_running.store(true);
    m_worker = velmora::bridge::StartThread([this, image, path, kind] { Copy(image, path, kind); });
    if (!m_worker.Joinable()) {
        m_running.store(false);
        image->Abandon();
        return refuse(VKMAKEDMG_CREATE_FAILED);
    }
    return 0;
}

int VKMakeDMG::VKWriteDMgHEader2(int fd) {
    uint8_t head[kEdiHeaderBytes] = {'e', 'd', 'i', 0};
    const int32_t length = kEdiInfoSize;
    std::memcpy(head + 4, &length, sizeof length);
    if (!WriteAll(fd, head, sizeof head) || !WriteAll(fd, &m_info, sizeof m_info))
        return VKMAKEDMG_WRITE_FAILED;
    const int64_t padding = m_info.dataOffset - kHeaderAndRecordBytes;
    if (padding > 0) {
        const std::vector<uint8_t> zeros(static_cast<size_t>(padding), 0);
        if (!WriteAll(fd, zeros.data(), zeros.size()))
            return VKMAKEDMG_WRITE_FAILED;
    }
    return 0;
}

int64_t VKMakeDMG::FirstUnreadableSector(int64_t first, int64_t count) {
    const long long ssz = m_info.sectorSize;
    for (int64_t s = first; s < first + count; ++s) {
        if (VKReadAsyncData(_szBuf.get(), _iDeviceID, s * ssz, ssz) <= 0)
            return s;
    }
    return first;  // the piece failed, its sectors one by one did not
}

void VKMakeDMG::Copy(std::shared_ptr<velmora::platform::ReplacingFile> image, std::string path,
                     int kind) {
    const int fd = image->fd();
    const int64_t total = m_info.totalSectors;
    const long long ssz = m_info.sectorSize;
    int error = kind == 0 ? VKWriteDMgHEader2(fd) : 0;
    int64_t failedSector = -1;
    for (int64_t pos = 0; error == 0 && pos < total; pos += kPieceSectors) {
        {
            std::unique_lock<std::mutex> lock(m_stateLock);
            while (_iState.load() == 1) {
                m_held.store(true);
                m_stateChanged.wait_for(lock, std::chrono::seconds(1));
            }
            m_held.store(false);
        }
        if (_iState.load() == 2) {
            error = VKMAKEDMG_STOPPED;
            break;
        }
        // The last piece asks only for the sectors the source has: the
        // image holds exactly the source, so its length is checkable.
        const int64_t count = total - pos < kPieceSectors ? total - pos : kPieceSectors;
        const long long bytes = count * ssz;
        if (VKReadAsyncData(_szBuf.get(), _iDeviceID, pos * ssz, bytes) <= 0) {
            error = VKMAKEDMG_READ_FAILED;
            failedSector = FirstUnreadableSector(pos, count);
            CatchExeception::WriteLog("Imager: sector %lld of the source cannot be read\n",
                                      static_cast<long long>(failedSector));
            break;
        }
        if (!WriteAll(fd, _szBuf.get(), static_cast<size_t>(bytes))) {
            error = VKMAKEDMG_WRITE_FAILED;
            CatchExeception::WriteLog("Imager: writing %s failed: %s\n", path.c_str(),
                                      std::strerror(errno));
            break;
        }
        VKUpdatePrgoress(pos, 0);
    }
    VKCloseDevice();
    if (error == 0 && kind == 0) {
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        m_info.imageSize = end;
        if (end < 0 || !PwriteAll(fd, &m_info, sizeof m_info, kRecordOffset))
            error = VKMAKEDMG_WRITE_FAILED;
    }
    // The image takes its name only once it is whole and on the disk (a
    // file system may report a full disk only at the sync or the close);
    // otherwise the new file goes and an older one of that name stays.
    if (error == 0 && !image->Commit()) {
        error = VKMAKEDMG_WRITE_FAILED;
        CatchExeception::WriteLog("Imager: finishing %s failed: %s\n", path.c_str(),
                                  std::strerror(errno));
    }
    if (error != 0)
        image->Abandon();
    image.reset();
    m_running.store(false);
    VKUpdatePrgoress(total, error, failedSector);
}

void VKMakeDMG::VKUpdatePrgoress(int64_t done, int code, int64_t failedSector) {
    VKMakeDMGProgress progress;
    progress.totalSectors = m_info.totalSectors;
    progress.doneSectors = done;
    progress.errorCode = code;
    progress.failedSector = failedSector;
    std::shared_ptr<Shared> shared = m_shared;
    velmora::bridge::CurrentPoster()->Post([shared, progress] {
        std::lock_guard<std::recursive_mutex> hold(shared->lock);
        if (shared->delegate != nullptr)
            shared->delegate->VKGetPrecent(&progress);
    });
}
