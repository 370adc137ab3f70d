// Small pieces every device kind shares.
#pragma once

#include "IStorageDevice.h"
#include "StorageDeviceData.h"
#include "platform/RawIo.h"

namespace storage_detail {

// The record of `data` when it is a holder of kind Holder; otherwise null
// with `lastError` set to "no information".
template <class Holder, class Record>
Record* FindRecord(IStorageDeviceData* data, Record* (Holder::*get)(), VKRESULT& lastError) {
    lastError = 0;
    auto* holder = dynamic_cast<Holder*>(data);
    Record* record = holder ? (holder->*get)() : nullptr;
    if (record == nullptr)
        lastError = VK_ERROR(kModuleStorageDevice, kErrNoInformation);
    return record;
}

// Devices own their private data: the old one goes when a new one comes.
inline void ReplaceOwned(IStorageDeviceData*& slot, IStorageDeviceData* data) {
    if (data != slot)
        delete slot;
    slot = data;
}

// No device passes control requests through.
inline int RefuseIOCtl(VKRESULT& lastError) {
    lastError = VK_ERROR(kModuleStorageDevice, kErrNotSupported);
    return 0;
}

// Closes `fd` when open and opens `path` read-only in its place; -1 with
// *error set on failure.
inline int ReopenReadOnly(int& fd, const char* path, int* error) {
    velmora::platform::IRawIo& io = velmora::platform::CurrentRawIo();
    if (fd >= 0) {
        io.Close(fd);
        fd = -1;
    }
    fd = io.Open(path, error);
    return fd;
}

// Closes `fd`; 1 when something was open.
inline int CloseFd(int& fd) {
    if (fd < 0)
        return 0;
    velmora::platform::CurrentRawIo().Close(fd);
    fd = -1;
    return 1;
}

// What every device kind keeps alike: the last error, the sector size and
// the private data it owns, and no control requests. The fields are spelt as
// the devices' own fields are, whose they were.
class DeviceBase : public IStorageDevice {
public:
    ~DeviceBase() override { delete m_privateData; }
    DeviceBase(const DeviceBase&) = delete;
    DeviceBase& operator=(const DeviceBase&) = delete;

    int GetSectorSize() override { return m_sectorSize; }
    int IOCtl(unsigned long long, void*) override { return RefuseIOCtl(m_lastError); }
    IStorageDeviceData* GetPrivateData() override { return m_privateData; }
    VKRESULT GetLastError() override { return m_lastError; }

protected:
    DeviceBase() = default;
    explicit DeviceBase(int sectorSize) : m_sectorSize(sectorSize) {}
    void ReplacePrivateData(IStorageDeviceData* data) { ReplaceOwned(m_privateData, data); }

    VKRESULT m_lastError = 0;
    int m_sectorSize = 512;
    IStorageDeviceData* m_privateData = nullptr;
};

}  // namespace storage_detail
