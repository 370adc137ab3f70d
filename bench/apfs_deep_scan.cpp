// The APFS deep searcher alone over an image, fed 4 MiB blocks through the
// read-ahead cache as the complete controller feeds it, with the real tree
// builder (without the one-second pause it makes for the interface before a
// tree's first batch), next to a plain sequential read of the same file in
// the same run. Prints both medians, the nodes shown and the peak resident set.
//
//   apfs_deep_scan image [rounds]     (image: e.g. from make_apfs_bench.py)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "APFSDeepScan.h"
#include "BenchSupport.h"
#include "IRecoveryFilter.h"
#include "SearchInterfaces.h"
#include "StorageDevices.h"
#include "platform/HeapPages.h"

namespace {

using bench::Median;
using bench::Seconds;

constexpr size_t kBlockBytes = 0x400000;

double PlainRead(const std::string& path, long long* bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::vector<uint8_t> buf(kBlockBytes);
    uint64_t sum = 0;
    long long done = 0;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        ssize_t n = ::pread(fd, buf.data(), buf.size(), done);
        if (n <= 0)
            break;
        done += n;
        sum += buf[0];
    }
    const double s = Seconds(start);
    ::close(fd);
    if (sum == 1)
        std::printf(" ");
    *bytes = done;
    return static_cast<double>(done) / 1e6 / s;
}

struct Tree final : public IDrirectoryTree {
    void ShowNodes(IFileNode**, unsigned count, int) override { nodes += count; }
    void ShowFilesystemNode(IFilesystemNode*) override { ++roots; }
    long long nodes = 0;
    int roots = 0;
};

double Scan(const std::string& path, Tree& tree) {
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(path.c_str()));
    if (!disk || !disk->Open(nullptr))
        return 0;
    const int ssz = disk->GetSectorSize();
    const long long total = disk->GetTotalSectors();
    const unsigned perBlock = static_cast<unsigned>(kBlockBytes / static_cast<size_t>(ssz));
    auto start = std::chrono::steady_clock::now();
    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    builder->Initialize("bench", &tree, filter);
    {
        std::unique_ptr<IDeviceCache> owned(CreateStorageDeviceWithCache(disk.get()));
        IDeviceCache& cache = *owned;
        cache.SetBlockSize(perBlock);
        cache.BeginCache();
        apfs::APFSDeepScan scan;
        scan.SetDirecotryTreeBuilder(builder);
        scan.SetDevice(&cache);
        const long long blocks = (total + perBlock - 1) / perBlock;
        for (long long k = 0; k < blocks; ++k) {
            if (!cache.SetCurCacheBlock(k))
                break;
            const long long first = k * perBlock;
            scan.AnalyzeBlock(first, std::min<long long>(perBlock, total - first));
        }
        scan.EndSearch(1);
        cache.EndCache();
        builder->Release();
    }
    filter->Release();
    return static_cast<double>(total) * ssz / 1e6 / Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s image [rounds]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<double> plain, scan;
    Tree last;
    for (int r = 0; r < rounds; ++r) {
        long long bytes = 0;
        plain.push_back(PlainRead(argv[1], &bytes));
        Tree tree;
        scan.push_back(Scan(argv[1], tree));
        last = tree;
        std::printf("round %d: plain read %.1f MB/s, APFS deep scan %.1f MB/s\n", r + 1,
                    plain.back(), scan.back());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("trees %d, nodes shown %lld\n", last.roots, last.nodes);
    std::printf("median: plain read %.1f MB/s, APFS deep scan %.1f MB/s, scan/plain %.0f%%\n",
                Median(plain), Median(scan),
                Median(plain) > 0 ? 100.0 * Median(scan) / Median(plain) : 0.0);
    std::printf("peak resident set %ld KiB\n", usage.ru_maxrss);
    return 0;
}
