// The disk imager's throughput: a sparse-backed image copied into an edi
// image by VKMakeDMG, next to `dd bs=4M` between the same two files, in
// alternating rounds of the same run (each round swaps which goes first).
//   disk_imager [MiB [FOLDER]]   (default 2048 MiB in /tmp)
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "EnumDeviceEx.h"
#include "StorageDevices.h"
#include "VKMakeDMG.h"
#include "VKUIDeviceData.h"
#include "platform/HeapPages.h"

extern char** environ;

namespace {

using bench::Median;
using bench::Seconds;

constexpr long long kMiB = 1 << 20;

// One disk: the source file, described as the machine's enumeration would.
class OneDisk final : public IEnumDeviceEx {
public:
    OneDisk(const std::string& path, long long sectors) : path_(path), sectors_(sectors) {}
    VKRESULT Init() override {
        disk_.reset(CreateDiskDevice(path_.c_str()));
        auto* info = new CCollectDiskDeviceInfoStruct{};
        info->sectorSize = 512;
        info->totalSectors = sectors_;
        std::snprintf(info->registryName, sizeof info->registryName, "bench source");
        disk_->SetPrivateData(CreateDiskDeviceData(info));
        return VK_OK;
    }
    VKRESULT Uninit() override {
        disk_.reset();
        return VK_OK;
    }
    VKRESULT EnumDiskDevice(IStorageDevice** out, int& count) override {
        if (out != nullptr)
            out[0] = disk_.get();
        count = 1;
        return VK_OK;
    }
    VKRESULT EnumPartitionDevice(const IStorageDevice*, IStorageDevice**, int& count) override {
        count = 0;
        return VK_OK;
    }
    VKRESULT EnumVolumeDevice(const IStorageDevice*, IStorageDevice**, int& count) override {
        count = 0;
        return VK_OK;
    }

private:
    std::string path_;
    long long sectors_;
    std::unique_ptr<IStorageDevice> disk_;
};

double Dd(const std::string& from, const std::string& to) {
    const std::string in = "if=" + from, out = "of=" + to;
    std::vector<char*> argv = {const_cast<char*>("dd"),          const_cast<char*>(in.c_str()),
                               const_cast<char*>(out.c_str()),   const_cast<char*>("bs=4M"),
                               const_cast<char*>("status=none"), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "dd", nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double s = Seconds(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    const long long mib = argc > 1 ? std::max(64LL, std::atoll(argv[1])) : 2048;
    const long long bytes = mib * kMiB;
    std::string tmpl = std::string(argc > 2 ? argv[2] : "/tmp") + "/velmora-bench-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        return 1;
    const std::string dir = tmpl, source = dir + "/source.img", image = dir + "/copy.edi",
                      plain = dir + "/copy.dd";
    {
        // Sparse: the source reads as zeros from memory, so both sides
        // measure the copy and the writes, not the source disk.
        int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::ftruncate(fd, bytes) != 0)
            return 1;
        ::close(fd);
    }
    OneDisk enumerator(source, bytes / 512);
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    VKMakeDMG imager(catalogue);

    // Each side starts with nothing of the other's left to write back.
    auto runDd = [&] {
        std::filesystem::remove(plain);
        ::sync();
        const double d = Dd(source, plain);
        std::filesystem::remove(plain);
        return d;
    };
    auto runImager = [&]() -> double {
        std::filesystem::remove(image);
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        if (imager.VKStart(source, image, 0, -1, 0) != 0)
            return -1;
        imager.WaitForCopy();
        const double m = Seconds(start);
        const bool whole =
            std::filesystem::file_size(image) == static_cast<uintmax_t>(bytes + 1536);
        std::filesystem::remove(image);
        return whole ? m : -1;
    };
    constexpr int kRounds = 5;
    std::vector<double> imagerTimes, ddTimes;
    for (int round = 0; round < kRounds; ++round) {
        double d = 0, m = 0;
        if (round % 2 == 0) {
            d = runDd();
            m = runImager();
        } else {
            m = runImager();
            d = runDd();
        }
        if (d < 0 || m < 0) {
            std::fprintf(stderr, "a copy failed\n");
            return 1;
        }
        ddTimes.push_back(d);
        imagerTimes.push_back(m);
    }
    std::filesystem::remove_all(dir);
    const double mt = Median(imagerTimes), dt = Median(ddTimes);
    std::printf("disk_imager: %lld MiB in %s, median of %d\n", mib, dir.c_str(), kRounds);
    std::printf("  imager (edi)   %8.1f MB/s  (%.2f s)\n", bytes / mt / 1e6, mt);
    std::printf("  dd bs=4M       %8.1f MB/s  (%.2f s)\n", bytes / dt / 1e6, dt);
    std::printf("  ratio imager/dd: %.2f\n", dt / mt);
    return 0;
}
