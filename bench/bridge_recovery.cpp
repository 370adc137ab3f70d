// Times the program's recovery (the facade's DoRecovery over a quick scan's
// ticked files, into a fresh folder) against plain copies of the same
// files, in the same run:
//
//   bridge_recovery [--files N] [--big-mib M] [--rounds R]
//
// Small files: a FAT32 image holding N files of 1-8 KiB (default 10,000),
// made with mkfs.fat and mtools from a folder the generator wrote; the peer
// is `cp -r` of that folder. One large file: an image holding one file of M
// MiB (default 2,048); the peer is `cat` of the generator's file into a new
// file. Everything lives in a private temporary folder removed at the end.
// Build Release; the scan itself is not timed.
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
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "EngineFactories.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "MainThread.h"
#include "RecoveryControllers.h"
#include "SearchInterfaces.h"
#include "StartThread.h"
#include "StorageDeviceData.h"
#include "StorageDevices.h"
#include "VKUIController.h"
#include "VKUIRecovery.h"
#include "platform/HeapPages.h"

namespace {

using bench::Median;
using bench::Seconds;

void WriteBytes(const std::string& path, size_t size, unsigned seed) {
    std::vector<char> data(std::min<size_t>(size, 8u << 20));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
    FILE* f = std::fopen(path.c_str(), "wb");
    for (size_t done = 0; f != nullptr && done < size;) {
        const size_t n = std::min(data.size(), size - done);
        std::fwrite(data.data(), 1, n, f);
        done += n;
    }
    if (f != nullptr)
        std::fclose(f);
}

// A quick scan of a FAT32 image, kept for the recovery, with every file
// ticked; it stands in for the scan operation.
class ImageScan : public IDrirectoryTree, public IRecoveryScanSource, public IProgress {
public:
    explicit ImageScan(const std::string& image, long long bytes) {
        device_.reset(CreateVolumeDevice(image.c_str()));
        if (!device_ || device_->Open(nullptr) == 0) {
            device_.reset();
            return;
        }
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = FS_FAT32;
        record->sectorSize = 512;
        record->totalSectors = bytes / 512;
        record->partitionNumber = -1;
        std::snprintf(record->volumeName, sizeof record->volumeName, "BENCH");
        device_->SetPrivateData(CreateVolumeDeviceData(record));
        controller_ = CreateRecoveryController(RECOVERY_CONTROLLER_DELETED);
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        controller_->Initialize(filter);
        controller_->StartDataRecovery(device_.get(), this, this);
        for (IFileNode* node : files_)
            node->SetCheck(CHECK_CHECKED);
    }
    ~ImageScan() override {
        if (object_ != nullptr)
            object_->Release();
        if (controller_ != nullptr)
            controller_->Release();
    }
    size_t Files() const { return files_.size(); }

    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        for (unsigned i = 0; i < count; ++i) {
            if (nodes[i] != nullptr && !nodes[i]->IsDirectory())
                files_.push_back(nodes[i]);
        }
    }
    void ShowFilesystemNode(IFilesystemNode*) override {}
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }

    IRecoveryController* GetRecoveryController() override { return controller_; }
    int IsDeepScan() override { return 0; }
    std::map<int, std::vector<IFileNode*>> GetTypeMap() override { return {{0, files_}}; }
    IDataRecovery* GetFileNodeDataRecover(IFileNode*) override {
        if (object_ == nullptr)
            object_ = controller_->GetDataRecovery(SEARCHER_FAT);
        return object_;
    }
    int GetCurrentScanRecoveryCnt() override { return 0; }
    void SetCurrentScanRecoveryCnt(int) override {}
    std::vector<dev_t> ScannedDeviceNumbers() override { return {}; }
    void ReleaseDataRecovery() override {}

private:
    std::unique_ptr<IStorageDevice> device_;
    IRecoveryController* controller_ = nullptr;
    IDataRecovery* object_ = nullptr;
    std::vector<IFileNode*> files_;
};

// One recovery of everything ticked into `to`; seconds.
double Recover(const std::string& to) {
    std::vector<OpNodePtr> roots;
    std::filesystem::create_directories(to);
    const auto start = std::chrono::steady_clock::now();
    if (VKUIController::DoRecovery(&roots, to.c_str(), "DoRecovery") != 0)
        return -1;
    while (VKUIController::IsRecoveryRunning() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double s = Seconds(start);
    velmora::bridge::JoinBackgroundThreads();
    return s;
}

// Makes a FAT32 image of `bytes` holding the folder `from`.
bool MakeImage(const std::string& image, long long bytes, const std::string& from) {
    // Enough clusters for FAT32 at any size: 512-byte ones below 1 GiB.
    const std::string perCluster = bytes < (1LL << 30) ? "1" : "8";
    WriteBytes(image, 0, 0);
    if (::truncate(image.c_str(), bytes) != 0)
        return false;
    if (bench::RunProgram({"mkfs.fat", "-F", "32", "-s", perCluster, image}) != 0)
        return false;
    std::vector<std::string> args = {"mcopy", "-s", "-i", image};
    for (const auto& e : std::filesystem::directory_iterator(from))
        args.push_back(e.path());
    args.push_back("::/");
    return bench::RunProgram(args) == 0;
}

void Report(const char* what, const std::vector<double>& ours, const std::vector<double>& peer,
            const char* peerName) {
    const double o = Median(ours), p = Median(peer);
    std::printf("%s: recovery %.3f s, %s %.3f s, recovery speed / %s speed %.0f%%\n", what, o,
                peerName, p, peerName, o > 0 ? 100.0 * p / o : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    long long files = 10000, bigMiB = 2048;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--files") == 0)
            files = std::atoll(argv[i + 1]);
        else if (std::strcmp(argv[i], "--big-mib") == 0)
            bigMiB = std::atoll(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
    }
    InstallEngineFactories();
    std::string work = (std::filesystem::temp_directory_path() / "bridge-recovery-XXXXXX").string();
    if (::mkdtemp(work.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    int status = 0;
    // Small files.
    if (files > 0) {
        const std::string source = work + "/small", image = work + "/small.img";
        std::filesystem::create_directories(source);
        for (long long i = 0; i < files; ++i) {
            const std::string dir = source + "/d" + std::to_string(i / 500);
            std::filesystem::create_directories(dir);
            WriteBytes(dir + "/f" + std::to_string(i) + ".bin", 1024 + (i * 977) % 7168,
                       static_cast<unsigned>(i));
        }
        const long long bytes = std::max<long long>(64LL << 20, files * 16384 + (32LL << 20));
        if (!MakeImage(image, bytes, source)) {
            std::fprintf(stderr, "making the small-file image failed (dosfstools, mtools)\n");
            status = 1;
        } else {
            ImageScan scan(image, bytes);
            VKUIRecovery::SetScanSource(&scan);
            std::printf("small files: %zu found of %lld\n", scan.Files(), files);
            std::vector<double> ours, peer;
            for (int r = 0; r < rounds; ++r) {
                const std::string a = work + "/ours" + std::to_string(r);
                const std::string b = work + "/cp" + std::to_string(r);
                ours.push_back(Recover(a));
                const auto start = std::chrono::steady_clock::now();
                bench::RunProgram({"cp", "-r", source, b});
                peer.push_back(Seconds(start));
                std::filesystem::remove_all(a);
                std::filesystem::remove_all(b);
            }
            Report((std::to_string(files) + " small files").c_str(), ours, peer, "cp -r");
            VKUIRecovery::instance().ReleaseDataRecovery();
            VKUIRecovery::SetScanSource(nullptr);
        }
        std::filesystem::remove_all(source);
        std::filesystem::remove(image);
    }
    // One large file.
    if (bigMiB > 0) {
        const std::string source = work + "/big", image = work + "/big.img";
        std::filesystem::create_directories(source);
        WriteBytes(source + "/large.bin", static_cast<size_t>(bigMiB) << 20, 7);
        const long long bytes = (bigMiB + 64) << 20;
        if (!MakeImage(image, bytes, source)) {
            std::fprintf(stderr, "making the large-file image failed (dosfstools, mtools)\n");
            status = 1;
        } else {
            ImageScan scan(image, bytes);
            VKUIRecovery::SetScanSource(&scan);
            std::vector<double> ours, peer;
            for (int r = 0; r < rounds; ++r) {
                const std::string a = work + "/ours" + std::to_string(r);
                ours.push_back(Recover(a));
                std::filesystem::remove_all(a);
                const std::string b = work + "/cat.bin";
                const auto start = std::chrono::steady_clock::now();
                bench::RunProgram({"cat", source + "/large.bin"}, b.c_str());
                peer.push_back(Seconds(start));
                std::filesystem::remove(b);
            }
            Report("one large file", ours, peer, "cat");
            VKUIRecovery::instance().ReleaseDataRecovery();
            VKUIRecovery::SetScanSource(nullptr);
        }
    }
    std::filesystem::remove_all(work);
    return status;
}
