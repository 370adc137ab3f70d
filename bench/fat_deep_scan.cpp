// The FAT and exFAT deep searchers over a disk image, fed 4 MiB blocks
// through the read-ahead cache as the complete controller feeds its
// searchers, with the real tree builder, next to a plain sequential read of
// the same file in the same run. Prints both medians, the partitions and
// nodes found, and the peak resident set. The builder's pause for the
// interface (a second after it hands over each tree's root, before the
// tree's first batch) is not slept but counted, and the scan's speed is
// printed both without and with it.
//
//   fat_deep_scan [--only 32|33|0] [--cold] image [rounds]
//
//   --only  one of the two searchers (32 FAT, 33 exFAT), or none (0): the
//           walk through the cache alone
//   --cold  drops the page cache (echo 3 > /proc/sys/vm/drop_caches, as
//           root) before the plain read and before the scan of each round,
//           so that both read from the disk
//
// bench/make_fat_deep_bench.sh makes the 2 GiB disk with a FAT32 and an
// exFAT volume of 4,000 files each that the figures in bench/README.md are
// for.
#include <fcntl.h>
#include <sys/resource.h>
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
#include "ExFatCompleteSearch.h"
#include "FATCompleteSearch.h"
#include "FATFileNode.h"
#include "IRecoveryFilter.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "platform/HeapPages.h"

namespace {

using bench::Median;
using bench::Seconds;

constexpr size_t kBlockBytes = 0x400000;

bool DropCaches() {
    ::sync();
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, "3\n", 2) == 2;
    ::close(fd);
    return ok;
}

double PlainRead(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::vector<uint8_t> buf(kBlockBytes);
    uint64_t sum = 0;
    long long done = 0;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const ssize_t n = ::pread(fd, buf.data(), buf.size(), done);
        if (n <= 0)
            break;
        done += n;
        sum += buf[0];
    }
    const double s = Seconds(start);
    ::close(fd);
    if (sum == 1)
        std::printf(" ");
    return static_cast<double>(done) / 1e6 / s;
}

struct Tree final : public IDrirectoryTree {
    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        for (unsigned i = 0; i < count; ++i)
            ++(nodes[i]->GetSearcheType() == SEARCHER_EXFAT ? exfat : fat);
    }
    void ShowFilesystemNode(IFilesystemNode*) override { ++roots; }
    long long fat = 0, exfat = 0;
    int roots = 0;
};

struct Found {
    int fat = 0, exfat = 0;
};

// The scan's speed without the builder's pauses; `paused` gets the seconds
// the builder asked to pause.
double Scan(const std::string& path, int only, Tree& tree, Found& found, double& paused) {
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(path.c_str()));
    if (!disk || !disk->Open(nullptr))
        return 0;
    const int ssz = disk->GetSectorSize();
    const long long total = disk->GetTotalSectors();
    const unsigned perBlock = static_cast<unsigned>(kBlockBytes / static_cast<size_t>(ssz));
    const auto start = std::chrono::steady_clock::now();
    TreeBuilderHooks hooks;
    paused = 0;
    hooks.sleep = [&paused](unsigned seconds) { paused += seconds; };
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    builder->Initialize("bench", &tree, filter);
    {
        std::unique_ptr<IDeviceCache> cache(CreateStorageDeviceWithCache(disk.get()));
        cache->SetBlockSize(perBlock);
        cache->BeginCache();
        // In the controller's deep order: exFAT, then FAT.
        std::vector<std::unique_ptr<ICompleteFileSystemSearchController>> searchers;
        FileSectorMap map;
        if (only == -1 || only == SEARCHER_EXFAT)
            searchers.emplace_back(CreateEXFatSearcher());
        if (only == -1 || only == SEARCHER_FAT)
            searchers.emplace_back(CreateFATSearcher());
        for (auto& s : searchers) {
            s->SetDirecotryTreeBuilder(builder);
            s->SetDevice(cache.get());
            s->SetBlockSize(static_cast<int>(perBlock));
            s->SetFileSectorMap(&map);
            s->PreparetoSearch();
        }
        const long long blocks = (total + perBlock - 1) / perBlock;
        for (long long k = 0; k < blocks; ++k) {
            if (!cache->SetCurCacheBlock(k))
                break;
            const long long first = k * perBlock;
            for (auto& s : searchers)
                s->AnalyzeBlock(first, std::min<long long>(perBlock, total - first));
        }
        for (auto& s : searchers)
            s->EndSearch(1);
        cache->EndCache();
        for (auto& s : searchers) {
            const int n = s->GetSearchedPartitionInfo(nullptr, 0);
            (dynamic_cast<CExFatCompleteSearch*>(s.get()) ? found.exfat : found.fat) = n;
        }
        searchers.clear();
        builder->Release();
    }
    return static_cast<double>(total) * ssz / 1e6 / Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    int only = -1;
    bool cold = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--cold") == 0) {
            cold = true;
        } else {
            args.emplace_back(argv[i]);
        }
    }
    if (args.empty() ||
        (only != -1 && only != 0 && only != SEARCHER_FAT && only != SEARCHER_EXFAT)) {
        std::fprintf(stderr, "usage: %s [--only 32|33|0] [--cold] image [rounds]\n", argv[0]);
        return 2;
    }
    const int rounds = args.size() > 1 ? std::max(1, std::atoi(args[1].c_str())) : 5;
    CFATFileNode::SetTraceEnabled(false);
    if (cold && !DropCaches()) {
        std::fprintf(stderr, "--cold: cannot drop the page cache (root needed)\n");
        return 1;
    }
    std::vector<double> plain, scan, scanPaused, ratios, userSeconds;
    Tree last;
    Found lastFound;
    for (int r = 0; r < rounds; ++r) {
        if (cold)
            DropCaches();
        plain.push_back(PlainRead(args[0]));
        if (cold)
            DropCaches();
        Tree tree;
        Found found;
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        double paused = 0;
        scan.push_back(Scan(args[0], only, tree, found, paused));
        // The same scan with the pauses slept: its time plus theirs.
        const double bytes = static_cast<double>(std::filesystem::file_size(args[0])) / 1e6;
        scanPaused.push_back(scan.back() > 0 ? bytes / (bytes / scan.back() + paused) : 0);
        getrusage(RUSAGE_SELF, &after);
        last = tree;
        lastFound = found;
        auto cpu = [](const timeval& a, const timeval& b) {
            return static_cast<double>(b.tv_sec - a.tv_sec) + (b.tv_usec - a.tv_usec) / 1e6;
        };
        userSeconds.push_back(cpu(before.ru_utime, after.ru_utime));
        ratios.push_back(plain.back() > 0 ? scan.back() / plain.back() : 0);
        std::printf(
            "round %d: plain read %.1f MB/s, deep scan %.1f MB/s (%.0f%%), with %.0f s of "
            "pauses %.1f MB/s (%.0f%%), user CPU %.3f s, system CPU %.3f s\n",
            r + 1, plain.back(), scan.back(), 100 * ratios.back(), paused, scanPaused.back(),
            plain.back() > 0 ? 100 * scanPaused.back() / plain.back() : 0, userSeconds.back(),
            cpu(before.ru_stime, after.ru_stime));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("partitions: FAT %d, exFAT %d; trees %d; nodes shown: FAT %lld, exFAT %lld\n",
                lastFound.fat, lastFound.exfat, last.roots, last.fat, last.exfat);
    std::printf("median (%s cache): plain read %.1f MB/s, deep scan %.1f MB/s, scan/plain %.0f%%\n",
                cold ? "cold" : "warm", Median(plain), Median(scan),
                Median(plain) > 0 ? 100.0 * Median(scan) / Median(plain) : 0.0);
    std::printf(
        "median of the rounds' own ratios %.0f%%, best %.0f%%; median user CPU of a scan "
        "%.3f s\n",
        100 * Median(ratios), 100 * *std::max_element(ratios.begin(), ratios.end()),
        Median(userSeconds));
    std::printf("median with the builder's pauses: deep scan %.1f MB/s, scan/plain %.0f%%\n",
                Median(scanPaused),
                Median(plain) > 0 ? 100.0 * Median(scanPaused) / Median(plain) : 0.0);
    std::printf("peak resident set %ld KiB\n", usage.ru_maxrss);
    return 0;
}
