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
#include "platform/AppPaths.h"
#include "platform/RawIo.h"

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
    // Runs as root: never through a link, never onto a device node, and
    // never over the source itself.
    struct stat source {};
    const bool haveSource = ::fstat(_iDeviceID, &source) == 0;
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode) ||
            (haveSource && existing.st_dev == source.st_dev && existing.st_ino == source.st_ino)) {
            VKCloseDevice();
            return VKMAKEDMG_CREATE_FAILED;
        }
    }
    // Non-blocking, so that a pipe put there meanwhile cannot hold the open.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat made {};
    if (fd < 0 || ::fstat(fd, &made) != 0 || !S_ISREG(made.st_mode) ||
        (haveSource && made.st_dev == source.st_dev && made.st_ino == source.st_ino)) {
        if (fd >= 0)
            ::close(fd);
        VKCloseDevice();
        return VKMAKEDMG_CREATE_FAILED;
    }
    if (::fcntl(fd, F_SETFL, 0) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        ::unlink(path.c_str());
        VKCloseDevice();
        return VKMAKEDMG_CREATE_FAILED;
    }
    // The image is the user's, not root's.
    uid_t uid = 0;
    gid_t gid = 0;
    if (velmora::platform::InvokingUserIds(&uid, &gid) && ::fchown(fd, uid, gid) != 0)
        CatchExeception::WriteLog("Imager: cannot give %s to its user\n", path.c_str());

    m_running.store(true);
    m_worker = velmora::bridge::StartThread([this, fd, path, kind] { Copy(fd, path, kind); });
    if (!m_worker.Joinable()) {
        m_running.store(false);
        ::close(fd);
        ::unlink(path.c_str());
        VKCloseDevice();
        return VKMAKEDMG_CREATE_FAILED;
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

void VKMakeDMG::Copy(int fd, std::string path, int kind) {
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
    // A file system may report a full disk only when the file is closed.
    if (::close(fd) != 0 && error == 0)
        error = VKMAKEDMG_WRITE_FAILED;
    if (error != 0)
        ::unlink(path.c_str());
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
