// Reads an image from the page cache the way a deep scan does (4 MiB blocks
// through the read-ahead cache: SetCurCacheBlock, then ReadSector of the
// block) and prints its speed next to a plain sequential read of the same
// file in the same run.
//
//   cache_read [image]     an image file or a block device; without one, 1 GiB of data is written
//   to a
//                          private temporary folder and removed afterwards
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "StorageDevices.h"
#include "platform/HeapPages.h"

namespace {

using bench::Seconds;

constexpr size_t kBlockBytes = 4u << 20;
constexpr long long kDefaultBytes = 1LL << 30;

bool WriteImage(const std::string& path, long long bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::vector<uint8_t> chunk(kBlockBytes);
    uint64_t x = 0x9E3779B97F4A7C15ULL;
    for (long long done = 0; done < bytes; done += static_cast<long long>(kBlockBytes)) {
        // Real bytes everywhere, so no block is a hole the kernel fakes.
        for (size_t i = 0; i < chunk.size(); i += 8) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            std::memcpy(chunk.data() + i, &x, 8);
        }
        if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

// Plain sequential read in 4 MiB pieces; returns MB/s, 0 on failure.
double PlainRead(const std::string& path, long long bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::vector<uint8_t> buf(kBlockBytes);
    uint64_t sum = 0;
    auto start = std::chrono::steady_clock::now();
    for (long long off = 0; off < bytes; off += static_cast<long long>(kBlockBytes)) {
        ssize_t n = ::pread(fd, buf.data(), buf.size(), off);
        if (n <= 0)
            break;
        sum += buf[0];
    }
    double s = Seconds(start);
    ::close(fd);
    if (sum == 1)
        std::printf(" ");
    return static_cast<double>(bytes) / 1e6 / s;
}

double CacheRead(const std::string& path, long long* blocksRead) {
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(path.c_str()));
    if (!disk || !disk->Open(nullptr))
        return 0;
    const int ssz = disk->GetSectorSize();
    const long long total = disk->GetTotalSectors();
    const unsigned sectorsPerBlock = static_cast<unsigned>(kBlockBytes / static_cast<size_t>(ssz));
    std::vector<uint8_t> buf(kBlockBytes);
    uint64_t sum = 0;
    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<IDeviceCache> owned(CreateStorageDeviceWithCache(disk.get()));
    IDeviceCache& cache = *owned;
    cache.SetBlockSize(sectorsPerBlock);
    cache.BeginCache();
    const long long blocks = (total + sectorsPerBlock - 1) / sectorsPerBlock;
    long long k = 0;
    for (; k < blocks; ++k) {
        if (!cache.SetCurCacheBlock(k))
            break;
        long long first = k * sectorsPerBlock;
        long long n = total - first < sectorsPerBlock ? total - first : sectorsPerBlock;
        if (!cache.ReadSector(buf.data(), first, n))
            break;
        sum += buf[0];
    }
    cache.EndCache();
    double s = Seconds(start);
    *blocksRead = k;
    if (sum == 1)
        std::printf(" ");
    return static_cast<double>(total) * ssz / 1e6 / s;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    std::string image;
    std::string tempDir;
    if (argc > 1) {
        image = argv[1];
    } else {
        std::string tmpl =
            std::filesystem::temp_directory_path().string() + "/velmora-bench-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        tempDir = tmpl;
        image = tempDir + "/image.bin";
        std::printf("writing %lld MiB to %s\n", kDefaultBytes >> 20, image.c_str());
        if (!WriteImage(image, kDefaultBytes)) {
            std::fprintf(stderr, "cannot write the image\n");
            std::filesystem::remove_all(tempDir);
            return 1;
        }
    }
    // Seeking to the end sizes block devices as well as files.
    int sizeFd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    const long long bytes = sizeFd >= 0 ? static_cast<long long>(::lseek(sizeFd, 0, SEEK_END)) : -1;
    if (sizeFd >= 0)
        ::close(sizeFd);
    if (bytes <= 0) {
        std::fprintf(stderr, "cannot size %s\n", image.c_str());
        return 1;
    }
    PlainRead(image, bytes);  // bring the file into the page cache

    // The page cache is shared with the rest of the machine, so single runs
    // wander; rounds alternate the two reads and the median is reported.
    constexpr int kRounds = 5;
    std::vector<double> plains, caches, ratios;
    long long blocks = 0;
    for (int round = 0; round < kRounds; ++round) {
        double plain = PlainRead(image, bytes);
        double cached = CacheRead(image, &blocks);
        std::printf("round %d: plain %.0f MB/s, cache %.0f MB/s (%lld blocks)\n", round + 1, plain,
                    cached, blocks);
        plains.push_back(plain);
        caches.push_back(cached);
        ratios.push_back(plain > 0 ? 100.0 * cached / plain : 0.0);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf(
        "median: plain sequential read %.0f MB/s, read-ahead cache %.0f MB/s, cache/plain %.0f%%\n",
        median(plains), median(caches), median(ratios));
    if (!tempDir.empty())
        std::filesystem::remove_all(tempDir);
    return 0;
}
