// Times the NTFS quick scan of a volume holding many small files against
// Sleuth Kit's `fls -r` over the same image, in the same run, and reports
// the peak memory the scan takes per node.
//
//   ntfs_quick_scan [--files N] [--rounds N] [--digest] [image]
//
// Without an image it makes one in a private temporary folder with mkntfs
// and ntfs-3g (tests/fixtures/ntfs/many_files.sh: N files, default 100,000,
// in folders of 1,000; root and FUSE needed, a few minutes) and removes it
// afterwards. The scan is the quick searcher feeding the tree builder with
// live and deleted files shown; the builder's one-second pause for the
// interface is left out. Memory: the growth of the peak resident set over
// the first scan, divided by the nodes it showed. --digest prints a
// fingerprint of the first scan's batches and finished tree, runs included
// (bench::TreeDigest), to show that a change left the results as they were.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "IRecoveryFilter.h"
#include "NTFSFactories.h"
#include "SearchInterfaces.h"
#include "StorageDevices.h"
#include "platform/HeapPages.h"

namespace {

using bench::Median;
using bench::Seconds;

// The peak resident set so far, in KiB.
long PeakKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

class Progress final : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

class Counter final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** shown, unsigned count, int lost) override {
        if (digest)
            digest->AddBatch(shown, count, lost, true);
        nodes += count;
    }
    void ShowFilesystemNode(IFilesystemNode* node) override { root = node; }
    long long nodes = 0;
    IFilesystemNode* root = nullptr;
    bench::TreeDigest* digest = nullptr;
};

struct ScanFigures {
    double seconds = 0;
    long long nodes = 0;
    VKRESULT result = 0;
};

ScanFigures QuickScan(const std::string& image, bench::TreeDigest* digest) {
    ScanFigures f;
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<IStorageDevice> device(CreateVolumeDevice(image.c_str()));
    if (!device || !device->Open(nullptr)) {
        f.result = 1;
        return f;
    }
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = FS_NTFS;
    record->sectorSize = 512;
    record->totalSectors = static_cast<long long>(std::filesystem::file_size(image)) / 512;
    device->SetPrivateData(CreateVolumeDeviceData(record));
    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    Counter tree;
    tree.digest = digest;
    Progress progress;
    builder->Initialize("bench", &tree, filter);
    std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateNTFSQuickSearcher());
    searcher->SetDirecotryTreeBuilder(builder);
    f.result = searcher->QuickSearchFiles(device.get(), &progress);
    searcher.reset();
    if (digest && tree.root)
        digest->AddTree(tree.root, true);
    builder->Release();
    f.nodes = tree.nodes;
    f.seconds = Seconds(start);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    int files = 100000;
    int rounds = 5;
    std::string image;
    bool withDigest = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--files" && i + 1 < argc) {
            files = std::atoi(argv[++i]);
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--digest") {
            withDigest = true;
        } else if (!a.empty() && a[0] != '-' && image.empty()) {
            image = a;
        } else {
            std::fprintf(stderr, "usage: %s [--files N] [--rounds N] [--digest] [image]\n",
                         argv[0]);
            return 2;
        }
    }

    std::string folder;
    if (image.empty()) {
        char templ[] = "/tmp/ntfs_quick_scan-XXXXXX";
        if (!mkdtemp(templ)) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = templ;
        image = folder + "/ntfs/ntfs_many.img";
        std::printf("making an NTFS image with %d small files (mkntfs, ntfs-3g)...\n", files);
        std::fflush(stdout);
        const auto start = std::chrono::steady_clock::now();
        if (bench::RunProgram({"sh", VELMORA_SOURCE_DIR "/tests/fixtures/ntfs/many_files.sh",
                               folder, std::to_string(files)}) != 0) {
            std::fprintf(stderr, "making the image failed (root, FUSE, mkntfs, ntfs-3g, fls)\n");
            std::filesystem::remove_all(folder);
            return 1;
        }
        std::printf("made in %.1f s\n", Seconds(start));
    }

    std::vector<double> ours, theirs;
    long long nodes = 0;
    int status = 0;
    const long peakBefore = PeakKiB();
    long peakGrowth = -1;
    for (int round = 0; round < rounds; ++round) {
        bench::TreeDigest digest;
        const ScanFigures f = QuickScan(image, withDigest && round == 0 ? &digest : nullptr);
        if (withDigest && round == 0)
            std::printf("digest %016llx\n", static_cast<unsigned long long>(digest.Value()));
        if (ResultFailed(f.result)) {
            std::fprintf(stderr, "quick scan failed: 0x%llx\n",
                         static_cast<unsigned long long>(f.result));
            status = 1;
            break;
        }
        if (peakGrowth < 0)
            peakGrowth = PeakKiB() - peakBefore;
        nodes = f.nodes;
        auto start = std::chrono::steady_clock::now();
        if (bench::RunProgram({"fls", "-r", image}) != 0) {
            std::fprintf(stderr, "fls failed (sleuthkit)\n");
            status = 1;
            break;
        }
        const double fls = Seconds(start);
        ours.push_back(f.seconds);
        theirs.push_back(fls);
        std::printf("round %d: quick scan %.3f s (%lld nodes shown), fls -r %.3f s\n", round + 1,
                    f.seconds, f.nodes, fls);
    }
    if (status == 0) {
        const double a = Median(ours), b = Median(theirs);
        std::printf("median: quick scan %.3f s, fls -r %.3f s, ratio %.3f (%lld nodes)\n", a, b,
                    b > 0 ? a / b : 0.0, nodes);
        std::printf("peak resident set grew %ld KiB over the first scan: %.0f bytes per node\n",
                    peakGrowth, nodes > 0 ? peakGrowth * 1024.0 / static_cast<double>(nodes) : 0.0);
    }
    if (!folder.empty())
        std::filesystem::remove_all(folder);
    return status;
}
