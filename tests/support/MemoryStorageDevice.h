// The one in-memory device of the tests, fuzz targets and benchmarks: a disk
// (or, with SetType, a volume) of any sector size whose sectors are held in
// memory, or computed one by one from a pattern for devices too big to hold.
// Reads fail like the real read path's: a read that names a sector past the
// end, or one a test marked as failing, fails, with those sectors read as
// zeros and the others delivered. A call with a null buffer or a negative
// sector or count fails and leaves the buffer alone.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "IStorageDevice.h"
#include "StorageDeviceData.h"

namespace velmora::test {

class MemoryStorageDevice : public IStorageDevice {
public:
    // Writes sector `sector` (sectorSize bytes) into `out`.
    using Pattern = std::function<void(long long sector, uint8_t* out, size_t sectorSize)>;

    // A whole disk of the given bytes; a trailing partial sector is not part
    // of the device. withDiskRecord attaches a physical-disk record.
    MemoryStorageDevice(std::vector<uint8_t> bytes, int sectorSize, bool withDiskRecord = true)
        : bytes_(std::move(bytes)), sectorSize_(sectorSize > 0 ? sectorSize : 512) {
        sectors_ = static_cast<long long>(bytes_.size() / static_cast<size_t>(sectorSize_));
        if (withDiskRecord)
            AttachDiskRecord();
    }

    // A disk of `sectors` sectors that holds nothing: each read computes its
    // sectors from the pattern.
    MemoryStorageDevice(long long sectors, int sectorSize, Pattern pattern,
                        bool withDiskRecord = false)
        : sectorSize_(sectorSize > 0 ? sectorSize : 512),
          sectors_(sectors > 0 ? sectors : 0),
          pattern_(std::move(pattern)) {
        if (withDiskRecord)
            AttachDiskRecord();
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
        reads_.fetch_add(1, std::memory_order_relaxed);
        if (const int us = delayUs_.load(std::memory_order_relaxed); us > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(us));
        if (!buffer || firstSector < 0 || count < 0 || firstSector > INT64_MAX - count) {
            lastError_ = VK_ERROR(kModuleStorageDevice, kErrBadArgument);
            return 0;
        }
        lastError_ = VK_OK;
        auto* out = static_cast<uint8_t*>(buffer);
        const size_t ssz = static_cast<size_t>(sectorSize_);
        bool ok = !failAll_.load(std::memory_order_relaxed);
        // The common case in one copy: held bytes, all in range, no failure.
        if (ok && !pattern_ && count <= sectors_ - firstSector && !AnyFailing()) {
            std::memcpy(out, bytes_.data() + static_cast<size_t>(firstSector) * ssz,
                        static_cast<size_t>(count) * ssz);
            return 1;
        }
        for (long long i = 0; i < count; ++i) {
            const long long s = firstSector + i;
            uint8_t* dst = out + static_cast<size_t>(i) * ssz;
            if (!ok || s >= sectors_ || IsFailing(s)) {
                std::memset(dst, 0, ssz);
                ok = false;
                continue;
            }
            if (pattern_)
                pattern_(s, dst, ssz);
            else
                std::memcpy(dst, bytes_.data() + static_cast<size_t>(s) * ssz, ssz);
        }
        if (!ok)
            lastError_ = VK_ERROR(kModuleStorageDevice, kErrFailed);
        return ok ? 1 : 0;
    }
    int GetSectorSize() override { return sectorSize_; }
    long long GetTotalSectors() override { return sectors_; }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return data_.get(); }
    void SetPrivateData(IStorageDeviceData* data) override { data_.reset(data); }
    int GetType() override { return type_; }
    VKRESULT GetLastError() override { return lastError_; }

    void SetType(int type) { type_ = type; }
    // The bytes of a device held in memory (empty for a pattern device).
    std::vector<uint8_t>& Bytes() { return bytes_; }
    uint8_t* Sector(long long s) {
        return bytes_.data() + static_cast<size_t>(s) * static_cast<size_t>(sectorSize_);
    }
    void Zero(long long first, long long count = 1) {
        std::memset(Sector(first), 0,
                    static_cast<size_t>(count) * static_cast<size_t>(sectorSize_));
    }

    // Failures: every read, or the reads that touch these sectors.
    void FailReads(bool fail) { failAll_.store(fail, std::memory_order_relaxed); }
    void FailSector(long long s) { FailSectors(s, 1); }
    void FailSectors(long long first, long long count) {
        std::lock_guard<std::mutex> hold(lock_);
        if (count > 0)
            failing_.emplace_back(first, first + count);
    }
    void ClearFailures() {
        std::lock_guard<std::mutex> hold(lock_);
        failing_.clear();
        failAll_ = false;
    }
    // Each read waits this long first (a slow disk).
    void SetDelayUs(int us) { delayUs_.store(us, std::memory_order_relaxed); }
    // Reads made so far (a bound on work done).
    long long Reads() const { return reads_.load(std::memory_order_relaxed); }

private:
    void AttachDiskRecord() {
        auto* info = new CCollectDiskDeviceInfoStruct{};
        info->sectorSize = sectorSize_;
        info->totalSectors = sectors_;
        data_.reset(new CDiskDeviceData(info));
    }
    bool AnyFailing() {
        std::lock_guard<std::mutex> hold(lock_);
        return !failing_.empty();
    }
    bool IsFailing(long long s) {
        std::lock_guard<std::mutex> hold(lock_);
        for (const auto& [first, end] : failing_) {
            if (s >= first && s < end)
                return true;
        }
        return false;
    }

    std::vector<uint8_t> bytes_;
    int sectorSize_;
    long long sectors_ = 0;
    Pattern pattern_;
    int type_ = kDeviceDisk;
    std::unique_ptr<IStorageDeviceData> data_;
    std::atomic<VKRESULT> lastError_{VK_OK};
    std::atomic<long long> reads_{0};
    std::atomic<int> delayUs_{0};
    std::atomic<bool> failAll_{false};
    std::mutex lock_;
    std::vector<std::pair<long long, long long>> failing_;  // [first, end)
};

// The same device as a volume with no record: how a test hands an image to
// a file system's own code.
class MemoryVolume : public MemoryStorageDevice {
public:
    explicit MemoryVolume(std::vector<uint8_t> bytes, int sectorSize = 512)
        : MemoryStorageDevice(std::move(bytes), sectorSize, false) {
        SetType(kDeviceVolume);
    }
};

}  // namespace velmora::test
