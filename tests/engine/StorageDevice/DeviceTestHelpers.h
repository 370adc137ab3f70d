// Helpers of the storage-device tests: pattern data whose every 8-byte word
// is its own position, a program runner, and a small pattern device.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "IStorageDevice.h"
#include "support/TestSupport.h"

namespace devtest {

inline void FillPattern(uint8_t* out, long long position, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        uint64_t word = static_cast<uint64_t>(position + static_cast<long long>(i)) & ~uint64_t{7};
        out[i] = static_cast<uint8_t>(word >> (8 * ((position + static_cast<long long>(i)) & 7)));
    }
}

inline std::vector<uint8_t> Pattern(long long position, size_t length) {
    std::vector<uint8_t> v(length);
    FillPattern(v.data(), position, length);
    return v;
}

// Index of the first byte that differs from the pattern at `position`, or -1.
inline long long PatternMismatch(const uint8_t* data, long long position, size_t length) {
    std::vector<uint8_t> want = Pattern(position, length);
    for (size_t i = 0; i < length; ++i)
        if (data[i] != want[i])
            return static_cast<long long>(i);
    return -1;
}

inline bool AllZero(const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (data[i] != 0)
            return false;
    return true;
}

inline void WritePatternFile(const std::string& path, long long bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path);
    std::vector<uint8_t> chunk;
    for (long long pos = 0; pos < bytes; pos += 1 << 20) {
        size_t n = static_cast<size_t>(std::min<long long>(1 << 20, bytes - pos));
        chunk = Pattern(pos, n);
        if (::write(fd, chunk.data(), n) != static_cast<ssize_t>(n)) {
            ::close(fd);
            throw std::runtime_error("short write " + path);
        }
    }
    ::close(fd);
}

inline std::string FixtureScript(const char* name) {
    return velmora::test::SourceDir() + "/tests/fixtures/images/" + name;
}

// A device of `sectors` pattern sectors held in no memory at all: reads are
// computed. Counts reads, can fail chosen sectors and delay reads.
class PatternTestDevice : public IStorageDevice {
public:
    PatternTestDevice(long long sectors, int sectorSize = 512)
        : sectors_(sectors), ssz_(sectorSize) {}
    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long first, long long count) override {
        reads_.fetch_add(1);
        if (delayUs_ > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs_));
        if (buffer == nullptr || first < 0 || count <= 0)
            return 0;
        auto* out = static_cast<uint8_t*>(buffer);
        bool ok = true;
        for (long long s = first; s < first + count; ++s) {
            uint8_t* dst = out + (s - first) * ssz_;
            bool bad;
            {
                std::lock_guard<std::mutex> g(m_);
                bad = s >= sectors_ || badSectors_.count(s) != 0;
            }
            if (bad) {
                std::memset(dst, 0, static_cast<size_t>(ssz_));
                ok = false;
            } else {
                FillPattern(dst, s * ssz_, static_cast<size_t>(ssz_));
            }
        }
        return ok ? 1 : 0;
    }
    int GetSectorSize() override { return ssz_; }
    long long GetTotalSectors() override { return sectors_; }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return kDeviceDisk; }
    VKRESULT GetLastError() override { return 0; }

    void FailSector(long long s) {
        std::lock_guard<std::mutex> g(m_);
        badSectors_.insert(s);
    }
    void SetDelayUs(int us) { delayUs_ = us; }
    int Reads() const { return reads_.load(); }

private:
    long long sectors_;
    int ssz_;
    std::atomic<int> reads_{0};
    std::atomic<int> delayUs_{0};
    std::mutex m_;
    std::set<long long> badSectors_;
};

}  // namespace devtest
