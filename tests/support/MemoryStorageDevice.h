// A disk held in memory, for tests and fuzzing: any sector size, optional
// disk record, and reads that fail past the end like a real device's.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "IStorageDevice.h"
#include "StorageDeviceData.h"

namespace velmora::test {

class MemoryStorageDevice : public IStorageDevice {
public:
    // A whole disk of the given bytes; a trailing partial sector is not part
    // of the device. withDiskRecord attaches a physical-disk record.
    MemoryStorageDevice(std::vector<uint8_t> bytes, int sectorSize, bool withDiskRecord = true)
        : bytes_(std::move(bytes)), sectorSize_(sectorSize > 0 ? sectorSize : 512) {
        if (withDiskRecord) {
            auto* info = new CCollectDiskDeviceInfoStruct{};
            info->sectorSize = sectorSize_;
            info->totalSectors = GetTotalSectors();
            data_.reset(new CDiskDeviceData(info));
        }
    }

    // Reads a whole image file into memory; an empty device when it cannot.
    static std::unique_ptr<MemoryStorageDevice> FromFile(const std::string& path, int sectorSize,
                                                         size_t limit = SIZE_MAX) {
        std::vector<uint8_t> bytes;
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st {};
            if (::fstat(fd, &st) == 0 && st.st_size > 0) {
                size_t size = static_cast<size_t>(st.st_size) < limit
                                  ? static_cast<size_t>(st.st_size)
                                  : limit;
                bytes.resize(size);
                size_t done = 0;
                while (done < size) {
                    ssize_t n =
                        ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
                    if (n <= 0)
                        break;
                    done += static_cast<size_t>(n);
                }
                bytes.resize(done);
            }
            ::close(fd);
        }
        return std::make_unique<MemoryStorageDevice>(std::move(bytes), sectorSize);
    }

    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long firstSector, long long count) override {
        ++reads_;
        long long total = GetTotalSectors();
        if (!buffer || firstSector < 0 || count < 0 || firstSector > total ||
            count > total - firstSector) {
            lastError_ = VK_ERROR(kModuleStorageDevice, kErrFailed);
            return 0;
        }
        std::memcpy(buffer, bytes_.data() + firstSector * sectorSize_,
                    static_cast<size_t>(count * sectorSize_));
        return 1;
    }
    int GetSectorSize() override { return sectorSize_; }
    long long GetTotalSectors() override {
        return static_cast<long long>(bytes_.size() / static_cast<size_t>(sectorSize_));
    }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return data_.get(); }
    void SetPrivateData(IStorageDeviceData* data) override { data_.reset(data); }
    int GetType() override { return type_; }
    VKRESULT GetLastError() override { return lastError_; }

    void SetType(int type) { type_ = type; }
    std::vector<uint8_t>& Bytes() { return bytes_; }
    // Sector reads made so far (a bound on work done).
    long long Reads() const { return reads_; }

private:
    std::vector<uint8_t> bytes_;
    int sectorSize_;
    int type_ = kDeviceDisk;
    std::unique_ptr<IStorageDeviceData> data_;
    VKRESULT lastError_ = VK_OK;
    long long reads_ = 0;
};

}  // namespace velmora::test
