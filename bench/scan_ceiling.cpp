// How fast a deep scan's pipeline could go on this machine if its searchers
// did no work at all, next to a plain read of the same file in the same run.
//
// The pipeline is the deep scan's, stripped of everything but its memory
// traffic: a read-ahead thread reads 4 MiB blocks up to ten ahead into
// pooled buffers; the scan's thread looks at the first cache line of every
// 512-byte sector of each block, as the file-system searchers do; the
// search thread does the same over the ring of the 20 latest blocks. With
// the ring copy (the scan as built) a placing thread copies each block into
// its ring slot; without it the search thread reads the read-ahead buffer
// itself. "One thread" does it all on one thread into one buffer, as the
// plain read does: both looks while the block is in the processor's cache,
// then the ring copy. All buffers are made present before the clock starts,
// so the figures leave out what the scan spends making its memory present.
//
//   scan_ceiling IMAGE [rounds]     rounds alternate; medians are printed
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "BenchSupport.h"

namespace {

using bench::Median;
using bench::Seconds;

constexpr size_t kBlockBytes = 4u << 20;
constexpr long long kAhead = 10;         // blocks the read-ahead may run ahead
constexpr long long kRing = 20;          // blocks the ring keeps
constexpr long long kPool = kAhead + 4;  // read-ahead buffers in rotation
constexpr size_t kSector = 512;
constexpr size_t kLine = 64;

struct Buffers {
    std::vector<std::unique_ptr<uint8_t[]>> pool, ring;
    Buffers() {
        for (long long i = 0; i < kPool; ++i)
            pool.emplace_back(new uint8_t[kBlockBytes]);
        for (long long i = 0; i < kRing; ++i)
            ring.emplace_back(new uint8_t[kBlockBytes]);
        for (auto& b : pool)
            std::memset(b.get(), 1, kBlockBytes);
        for (auto& b : ring)
            std::memset(b.get(), 1, kBlockBytes);
    }
};

// Plain sequential read into one 4 MiB buffer; MB/s.
double PlainRead(int fd, long long blocks) {
    std::vector<uint8_t> buf(kBlockBytes);
    uint64_t sum = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long long k = 0; k < blocks; ++k) {
        if (::pread(fd, buf.data(), kBlockBytes, k * static_cast<off_t>(kBlockBytes)) <= 0)
            break;
        sum += buf[0];
    }
    const double s = Seconds(start);
    if (sum == 1)
        std::printf(" ");
    return static_cast<double>(blocks) * kBlockBytes / 1e6 / s;
}

// One cache line per sector, as a searcher that rejects most sectors by
// their first bytes touches them.
uint64_t Touch(const uint8_t* p) {
    uint64_t acc = 0;
    for (size_t o = 0; o < kBlockBytes; o += kSector) {
        uint64_t w;
        std::memcpy(&w, p + o, sizeof w);
        acc += w ^ p[o + kLine - 1];
    }
    return acc;
}

void WaitFor(const std::atomic<long long>& done, long long k) {
    while (done.load(std::memory_order_acquire) <= k)
        std::this_thread::yield();
}

// The pipeline over the file; MB/s.
double Pipeline(int fd, long long blocks, Buffers& b, bool ringCopy) {
    std::atomic<long long> read{0}, scanned{0}, placed{0}, searched{0};
    std::atomic<uint64_t> sink{0};
    const auto start = std::chrono::steady_clock::now();
    std::thread reader([&] {
        for (long long k = 0; k < blocks; ++k) {
            // A buffer is free again once both searchers are past its block.
            while (k - std::min(scanned.load(std::memory_order_acquire),
                                (ringCopy ? placed : searched).load(std::memory_order_acquire)) >=
                   kAhead)
                std::this_thread::yield();
            if (::pread(fd, b.pool[k % kPool].get(), kBlockBytes,
                        k * static_cast<off_t>(kBlockBytes)) <= 0)
                std::memset(b.pool[k % kPool].get(), 0, kBlockBytes);
            read.store(k + 1, std::memory_order_release);
        }
    });
    std::thread scan([&] {
        uint64_t acc = 0;
        for (long long k = 0; k < blocks; ++k) {
            WaitFor(read, k);
            acc += Touch(b.pool[k % kPool].get());
            scanned.store(k + 1, std::memory_order_release);
        }
        sink += acc;
    });
    std::thread placer;
    if (ringCopy)
        placer = std::thread([&] {
            for (long long k = 0; k < blocks; ++k) {
                WaitFor(read, k);
                // The slot is free once the search is done with the block
                // the ring drops for it.
                while (k - searched.load(std::memory_order_acquire) >= kRing - 1)
                    std::this_thread::yield();
                std::memcpy(b.ring[k % kRing].get(), b.pool[k % kPool].get(), kBlockBytes);
                placed.store(k + 1, std::memory_order_release);
            }
        });
    std::thread search([&] {
        uint64_t acc = 0;
        for (long long k = 0; k < blocks; ++k) {
            WaitFor(ringCopy ? placed : read, k);
            acc += Touch(ringCopy ? b.ring[k % kRing].get() : b.pool[k % kPool].get());
            searched.store(k + 1, std::memory_order_release);
        }
        sink += acc;
    });
    reader.join();
    scan.join();
    if (placer.joinable())
        placer.join();
    search.join();
    const double s = Seconds(start);
    if (sink.load() == 1)
        std::printf(" ");
    return static_cast<double>(blocks) * kBlockBytes / 1e6 / s;
}

// Read, both looks and the ring copy on one thread; MB/s.
double OneThread(int fd, long long blocks, Buffers& b) {
    uint64_t acc = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long long k = 0; k < blocks; ++k) {
        uint8_t* block = b.pool[0].get();
        if (::pread(fd, block, kBlockBytes, k * static_cast<off_t>(kBlockBytes)) <= 0)
            std::memset(block, 0, kBlockBytes);
        acc += Touch(block);
        std::memcpy(b.ring[k % kRing].get(), block, kBlockBytes);
        acc += Touch(b.ring[k % kRing].get());
    }
    const double s = Seconds(start);
    if (acc == 1)
        std::printf(" ");
    return static_cast<double>(blocks) * kBlockBytes / 1e6 / s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: scan_ceiling IMAGE [rounds]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    const long long blocks = static_cast<long long>(st.st_size / kBlockBytes);
    if (blocks < kRing) {
        std::fprintf(stderr, "%s: at least %lld blocks of 4 MiB are needed\n", argv[1], kRing);
        return 1;
    }
    Buffers buffers;
    // One unmeasured pass brings the file into the page cache.
    PlainRead(fd, blocks);
    Pipeline(fd, blocks, buffers, true);
    std::vector<double> plain, copied, lent, one;
    for (int r = 0; r < rounds; ++r) {
        plain.push_back(PlainRead(fd, blocks));
        copied.push_back(Pipeline(fd, blocks, buffers, true));
        lent.push_back(Pipeline(fd, blocks, buffers, false));
        one.push_back(OneThread(fd, blocks, buffers));
        std::printf(
            "round %d: plain read %.0f MB/s, with the ring copy %.0f MB/s, without %.0f "
            "MB/s, one thread %.0f MB/s\n",
            r + 1, plain.back(), copied.back(), lent.back(), one.back());
    }
    const double p = Median(plain), c = Median(copied), l = Median(lent), o = Median(one);
    std::printf(
        "median: plain read %.0f MB/s, with the ring copy %.0f MB/s (%.0f%%), without %.0f "
        "MB/s (%.0f%%), one thread %.0f MB/s (%.0f%%)\n",
        p, c, 100 * c / p, l, 100 * l / p, o, 100 * o / p);
    ::close(fd);
    return 0;
}
