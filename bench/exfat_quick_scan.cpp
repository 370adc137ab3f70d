// Times the exFAT quick scan of an image holding many small files against
// Sleuth Kit's `fls -r` over the same image, in the same run.
//
//   exfat_quick_scan [--files N] [--rounds N] [image]
//
// Without an image it makes one in a private temporary folder (mkfs.exfat,
// then tests/engine/ExFat/make_exfat_volume.py writes N small files, default
// 100,000, in folders of 1,000, a third of them deleted) and removes it
// afterwards. The scan is the quick searcher feeding the tree builder with
// live and deleted files shown (everything the walk finds goes through the
// builder); the tree builder's one-second pause for the interface is left
// out.
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
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ExFatQuickSearch.h"
#include "IRecoveryFilter.h"
#include "SearchInterfaces.h"
#include "StorageDevices.h"
#include "platform/HeapPages.h"

namespace {

using bench::Median;
using bench::Seconds;

class Progress final : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

class Counter final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode**, unsigned count, int) override { nodes += count; }
    void ShowFilesystemNode(IFilesystemNode*) override {}
    long long nodes = 0;
};

struct ScanFigures {
    double seconds = 0;
    long long nodes = 0;
    VKRESULT result = 0;
};

ScanFigures QuickScan(const std::string& image) {
    ScanFigures f;
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<IStorageDevice> device(CreateVolumeDevice(image.c_str()));
    if (!device || !device->Open(nullptr)) {
        f.result = 1;
        return f;
    }
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = FS_EXFAT;
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
    Progress progress;
    builder->Initialize("bench", &tree, filter);
    std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateEXFatQuickSearcher());
    searcher->SetDirecotryTreeBuilder(builder);
    f.result = searcher->QuickSearchFiles(device.get(), &progress);
    searcher.reset();
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
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--files" && i + 1 < argc) {
            files = std::atoi(argv[++i]);
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (!a.empty() && a[0] != '-' && image.empty()) {
            image = a;
        } else {
            std::fprintf(stderr, "usage: %s [--files N] [--rounds N] [image]\n", argv[0]);
            return 2;
        }
    }
    std::string folder;
    if (image.empty()) {
        char templ[] = "/tmp/exfat_quick_scan-XXXXXX";
        if (!mkdtemp(templ)) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = templ;
        image = folder + "/many.img";
        std::printf("making an exFAT image with %d small files (mkfs.exfat)...\n", files);
        std::fflush(stdout);
        const auto start = std::chrono::steady_clock::now();
        const std::string size = files > 50000 ? "2G" : "1G";
        if (bench::RunProgram(
                {"python3", VELMORA_SOURCE_DIR "/tests/engine/ExFat/make_exfat_volume.py", image,
                 size, std::to_string(files), "--small", "--per-folder", "1000"}) != 0) {
            std::fprintf(stderr, "making the image failed (python3, mkfs.exfat)\n");
            std::filesystem::remove_all(folder);
            return 1;
        }
        std::printf("made in %.1f s\n", Seconds(start));
    }

    std::vector<double> ours, theirs;
    long long nodes = 0;
    int status = 0;
    for (int round = 0; round < rounds; ++round) {
        const ScanFigures f = QuickScan(image);
        if (ResultFailed(f.result)) {
            std::fprintf(stderr, "quick scan failed: 0x%llx\n",
                         static_cast<unsigned long long>(f.result));
            status = 1;
            break;
        }
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
    }
    if (!folder.empty())
        std::filesystem::remove_all(folder);
    return status;
}
