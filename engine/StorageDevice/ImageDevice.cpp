#include "ImageDevice.h"
#include "Utility/CatchExeception.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ByteReader.h"
#include "DeviceCommon.h"
#include "SectorSize.h"
#include "StorageDevices.h"
#include "platform/FdIo.h"
#include "platform/RawIo.h"

namespace {

constexpr unsigned int kFillFailed = 0xFFFFFFFFu;
constexpr int kEdiHeaderSize = 8;

// Copies a path into a fixed field; false when it does not fit whole.
template <size_t N>
bool CopyBounded(char (&dest)[N], const char* path) {
    size_t len = std::strlen(path);
    if (len >= N)
        return false;
    std::memset(dest, 0, N);
    std::memcpy(dest, path, len);
    return true;
}

// Whole or nothing: a record cut short by the end of the file is no record.
bool ReadFully(int fd, void* buffer, size_t length) {
    return velmora::platform::ReadRetrying(fd, buffer, length).done == length;
}

// An image record's sector size: only what the one rule accepts.
bool UsableSectorSize(long long sectorSize) {
    return sectorSize > 0 && vk::IsValidSectorSize(static_cast<uint64_t>(sectorSize));
}

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int fd_;
};

}  // namespace

CImageDeviceBase::CImageDeviceBase(const char* path) {
    if (path != nullptr)
        m_pathFits = CopyBounded(m_imagePath, path);
}

CImageDeviceBase::~CImageDeviceBase() {
    Close();
}

int CImageDeviceBase::Open(char*) {
    m_lastError = 0;
    if (!m_pathFits || m_imagePath[0] == '\0') {
        m_lastError = VK_ERROR(kModuleStorageDevice, kErrFailed);
        return 0;
    }
    int error = 0;
    if (storage_detail::ReopenReadOnly(m_fd, m_imagePath, &error) < 0) {
        m_lastError = VK_ERROR(kModuleStorageDevice, kErrFailed);
        if (error != ENOENT)
            CatchExeception::Trace("open failed:%d\n", error);
        return 0;
    }
    // An attached record's geometry stays in force across reopening.
    if (!m_haveRecord)
        m_sectorSize = 512;
    return 1;
}

int CImageDeviceBase::Close() {
    m_lastError = 0;
    return storage_detail::CloseFd(m_fd);
}

int CImageDeviceBase::ReadSector(void* buffer, long long firstSector, long long count) {
    m_lastError = 0;
    const long long ssz = m_sectorSize;
    if (buffer == nullptr || firstSector < 0 || count <= 0 || firstSector > LLONG_MAX / ssz ||
        count > LLONG_MAX / ssz || firstSector * ssz > LLONG_MAX - m_dataOffset) {
        m_lastError = VK_ERROR(kModuleStorageDevice, kErrBadArgument);
        return 0;
    }
    if (VKReadAsyncData(buffer, m_fd, firstSector * ssz + m_dataOffset, count * ssz) > 0)
        return 1;
    m_lastError = VK_ERROR(kModuleStorageDevice, kErrFailed);
    return 0;
}

void CImageDeviceBase::Attach(IStorageDeviceData* data, const void* record, long long sectorSize,
                              long long totalSectors, long long dataOffset) {
    ReplacePrivateData(data);
    m_haveRecord = false;
    if (record == nullptr)
        return;
    // A record naming an unusable geometry leaves the device as it was
    // rather than reading zero-sized or misplaced sectors.
    if (!UsableSectorSize(sectorSize) || totalSectors < 0 || dataOffset < 0)
        return;
    m_sectorSize = static_cast<int>(sectorSize);
    m_totalSectors = totalSectors;
    m_dataOffset = dataOffset;
    m_haveRecord = true;
}

void CEdiDevice::SetPrivateData(IStorageDeviceData* data) {
    auto* holder = dynamic_cast<IEDIDeviceData*>(data);
    const CEDIDeviceInfoStruct* info = holder ? holder->GetEDIInfo() : nullptr;
    if (info == nullptr) {
        Attach(data, nullptr, 0, 0, 0);
        return;
    }
    Attach(data, info, static_cast<int32_t>(info->sectorSize & 0xffffffff), info->totalSectors,
           info->dataOffset);
}

CEDIDeviceInfoStruct* CEdiDevice::GetEDIInfo() {
    return storage_detail::FindRecord(m_privateData, &IEDIDeviceData::GetEDIInfo, m_lastError);
}

void CDmgDevice::SetPrivateData(IStorageDeviceData* data) {
    auto* holder = dynamic_cast<IDmgDeviceData*>(data);
    const CDMGDeviceInfoStruct* info = holder ? holder->GetDMGInfo() : nullptr;
    if (info == nullptr) {
        Attach(data, nullptr, 0, 0, 0);
        return;
    }
    auto clamp = [](uint64_t v) {
        return v > static_cast<uint64_t>(LLONG_MAX) ? -1LL : static_cast<long long>(v);
    };
    Attach(data, info, static_cast<int32_t>(info->sectorSize & 0xffffffff),
           clamp(info->totalSectors), clamp(info->dataOffset));
}

CDMGDeviceInfoStruct* CDmgDevice::GetDMGInfo() {
    return storage_detail::FindRecord(m_privateData, &IDmgDeviceData::GetDMGInfo, m_lastError);
}

unsigned int VkFillEdiFileInfo(CEDIDeviceInfoStruct* info, const char* path) {
    if (info == nullptr || path == nullptr)
        return kFillFailed;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return kFillFailed;
    FdCloser closer(fd);

    uint8_t header[kEdiHeaderSize];
    if (!ReadFully(fd, header, sizeof(header)))
        return kFillFailed;
    // The whole magic, its zero byte included: a prefix such as "e" is not
    // an edi image.
    if (std::memcmp(header, "edi", 4) != 0)
        return kFillFailed;
    // A record of any length up to the full one is read; what it leaves out
    // stays zero, and the geometry checks below refuse a record too short
    // to describe the image.
    const int32_t recordLength = vk::LoadLE<int32_t>(header + 4);
    if (recordLength < 0 || recordLength > kEdiInfoSize)
        return kFillFailed;

    uint8_t raw[kEdiInfoSize] = {};
    if (!ReadFully(fd, raw, static_cast<size_t>(recordLength)))
        return kFillFailed;
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return kFillFailed;
    const long long fileSize = st.st_size;

    vk::ByteReader record(raw, sizeof(raw));
    const long long imageSize = record.LES64(24);
    const long long sectorSize = record.LES32(0);
    const long long totalSectors = record.LES64(8);
    const long long dataOffset = record.LES64(16);
    if (imageSize != fileSize)
        return kFillFailed;
    // The geometry must describe sectors that lie inside this file.
    if (!UsableSectorSize(sectorSize))
        return kFillFailed;
    if (dataOffset < kEdiHeaderSize + recordLength || dataOffset > fileSize)
        return kFillFailed;
    if (totalSectors < 0 || totalSectors > (fileSize - dataOffset) / sectorSize)
        return kFillFailed;

    CEDIDeviceInfoStruct filled;
    std::memcpy(&filled, raw, sizeof(filled));
    filled.deviceName[sizeof(filled.deviceName) - 1] = '\0';
    if (!CopyBounded(filled.imagePath, path))
        return kFillFailed;
    *info = filled;
    return 0;
}

unsigned int VkFillDmgFileInfo(CDMGDeviceInfoStruct* info, const char* path) {
    if (info == nullptr || path == nullptr)
        return kFillFailed;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return kFillFailed;
    ::close(fd);
    char copied[sizeof(info->filePath)];
    // A path cut to fit would name another file.
    if (std::strlen(path) >= sizeof(info->filePath) - 8)
        return kFillFailed;
    std::memset(copied, 0, sizeof(copied));
    std::memcpy(copied, path, std::strlen(path));
    info->fileName[sizeof(info->fileName) - 1] = '\0';
    std::memcpy(info->filePath, copied, sizeof(copied));
    return 0;
}

IStorageDevice* CreateEdiDeviceImp(const char* path) {
    return new CEdiDevice(path);
}
IStorageDevice* CreateDmgDeviceImp(const char* path) {
    return new CDmgDevice(path);
}

IStorageDevice* CreateEdiDevice(const char* path) {
    if (path == nullptr)
        return nullptr;
    std::unique_ptr<CEdiDevice> device(new CEdiDevice(path));
    if (!device->PathFits() || !device->Open(nullptr))
        return nullptr;
    auto record = std::make_unique<CEDIDeviceInfoStruct>();
    std::memset(record.get(), 0, sizeof(CEDIDeviceInfoStruct));
    if (VkFillEdiFileInfo(record.get(), path) != 0)
        return nullptr;
    device->SetPrivateData(CreateEDIDeviceData(record.release()));
    if (device->GetEDIInfo() == nullptr)
        return nullptr;
    return device.release();
}

IStorageDevice* CreateEdiDeviceByEdiInfo(void* record, int size, const char* path) {
    if (record == nullptr || size != kEdiInfoSize)
        return nullptr;
    CEDIDeviceInfoStruct saved;
    std::memcpy(&saved, record, sizeof(saved));
    saved.deviceName[sizeof(saved.deviceName) - 1] = '\0';
    saved.imagePath[sizeof(saved.imagePath) - 1] = '\0';
    const char* imagePath = (path != nullptr && path[0] != '\0') ? path : saved.imagePath;
    std::unique_ptr<IStorageDevice> device(CreateEdiDevice(imagePath));
    if (!device)
        return nullptr;
    const CEDIDeviceInfoStruct* fresh = static_cast<CEdiDevice*>(device.get())->GetEDIInfo();
    // The result file finds its image only when it is the very file scanned.
    if (static_cast<int32_t>(fresh->sectorSize) != static_cast<int32_t>(saved.sectorSize) ||
        fresh->totalSectors != saved.totalSectors || fresh->imageSize != saved.imageSize ||
        fresh->dataOffset != saved.dataOffset || fresh->creationTime != saved.creationTime ||
        std::strncmp(fresh->deviceName, saved.deviceName, sizeof(saved.deviceName)) != 0) {
        return nullptr;
    }
    return device.release();
}

IStorageDevice* CreateDmgDevice(const char* path, void* record) {
    if (path == nullptr || record == nullptr)
        return nullptr;
    std::unique_ptr<CDmgDevice> device(new CDmgDevice(path));
    if (!device->PathFits() || !device->Open(nullptr))
        return nullptr;
    auto copy = std::make_unique<CDMGDeviceInfoStruct>();
    std::memcpy(copy.get(), record, sizeof(CDMGDeviceInfoStruct));
    const long long sectorSize = static_cast<int32_t>(copy->sectorSize & 0xffffffff);
    if (!UsableSectorSize(sectorSize) || copy->dataOffset > static_cast<uint64_t>(LLONG_MAX) ||
        copy->totalSectors > static_cast<uint64_t>(LLONG_MAX)) {
        return nullptr;
    }
    device->SetPrivateData(CreateDMGDeviceData(copy.release()));
    if (device->GetDMGInfo() == nullptr)
        return nullptr;
    return device.release();
}

IStorageDevice* CreateDmgDeviceByDmgInfo(void* record, int size, const char*) {
    if (record == nullptr || size <= 0 || size > kDmgInfoSize)
        return nullptr;
    // A short record leaves the rest zero, and the texts are ended inside
    // their fields whatever the saved bytes hold.
    CDMGDeviceInfoStruct saved;
    std::memset(&saved, 0, sizeof(saved));
    std::memcpy(&saved, record, static_cast<size_t>(size));
    saved.fileName[sizeof(saved.fileName) - 1] = '\0';
    saved.filePath[sizeof(saved.filePath) - 1] = '\0';
    if (saved.filePath[0] == '\0')
        return nullptr;
    char path[sizeof(saved.filePath)];
    std::memcpy(path, saved.filePath, sizeof(path));
    IStorageDevice* device = CreateDmgDevice(path, &saved);
    if (device == nullptr)
        return nullptr;
    if (static_cast<CDmgDevice*>(device)->GetDMGInfo() == nullptr) {
        delete device;
        return nullptr;
    }
    return device;
}
