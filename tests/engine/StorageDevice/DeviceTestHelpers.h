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
#include "support/MemoryStorageDevice.h"
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

// A device of `sectors` pattern sectors held in no memory at all: the
// shared in-memory device computing each sector it reads (reads counted,
// chosen sectors failing, reads delayed on request).
class PatternTestDevice : public velmora::test::MemoryStorageDevice {
public:
    explicit PatternTestDevice(long long sectors, int sectorSize = 512)
        : MemoryStorageDevice(sectors, sectorSize, [](long long s, uint8_t* out, size_t n) {
              FillPattern(out, s * static_cast<long long>(n), n);
          }) {}
};

}  // namespace devtest
