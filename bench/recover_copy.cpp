// Recovery throughput: a fragmented found file copied out of an image
// through CDataRecovery::RecoverTo, next to a plain pread/pwrite copy of the
// same bytes. Both read from the page cache and write to the same folder.
//   recover_copy [MiB]   (default 512)
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "DataRecovery.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "support/TestNode.h"

namespace {

using bench::Seconds;

constexpr long long kMiB = 1 << 20;
constexpr int kCluster = 4096;
constexpr long long kRunClusters = 256;  // 1 MiB fragments

double PlainCopy(const std::string& from, const std::string& to, long long bytes) {
    const auto start = std::chrono::steady_clock::now();
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char> buffer(4 * kMiB);
    for (long long pos = 0; pos < bytes; pos += static_cast<long long>(buffer.size())) {
        const ssize_t n = ::pread(in, buffer.data(), buffer.size(), pos);
        if (n <= 0 || ::pwrite(out, buffer.data(), static_cast<size_t>(n), pos) != n)
            break;
    }
    ::close(in);
    ::close(out);
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    const long long mib = argc > 1 ? std::max(8LL, std::atoll(argv[1])) : 512;
    const long long bytes = mib * kMiB;
    char tmpl[] = "/tmp/velmora-bench-XXXXXX";
    if (!::mkdtemp(tmpl))
        return 1;
    const std::string dir = tmpl, image = dir + "/image.bin";
    ::setenv("VELMORA_WORK_PATH", dir.c_str(), 0);
    {
        int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::vector<unsigned char> chunk(4 * kMiB);
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<unsigned char>(i * 131 + 7);
        for (long long pos = 0; pos < bytes; pos += static_cast<long long>(chunk.size()))
            if (::pwrite(fd, chunk.data(), chunk.size(), pos) < 0)
                return 1;
        ::close(fd);
    }

    // The file's fragments lie on the image in reverse order.
    TestNode node(1, 0, "fragmented.bin");
    node.size = bytes;
    auto* runs = new CDataRunList();
    const long long clusters = bytes / kCluster;
    for (long long first = clusters - kRunClusters; first >= 0; first -= kRunClusters) {
        DataRun run(first, kRunClusters);
        runs->AddDataRun(&run);
    }
    node.SetDataRunList(runs);

    IStorageDevice* disk = CreateDiskDevice(image.c_str());
    if (!disk || !disk->Open(const_cast<char*>(image.c_str())))
        return 1;
    CSearchedPartitionInfo partition(512);
    partition.sectorsPerCluster = kCluster / 512;
    partition.totalSectors = disk->GetTotalSectors();
    CDataRecovery recovery;
    recovery.Initialize(std::vector<CSearchedPartitionInfo*>{&partition}, disk);
    IFileReader* clone = recovery.SetRecoverNode(&node);
    if (!clone)
        return 1;
    clone->Release();

    std::vector<double> ours, plain;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        if (recovery.RecoverTo((dir + "/recovered.bin").c_str(), nullptr, 0) != VK_OK)
            return 1;
        ours.push_back(Seconds(start));
        plain.push_back(PlainCopy(image, dir + "/plain.bin", bytes));
    }
    std::sort(ours.begin(), ours.end());
    std::sort(plain.begin(), plain.end());
    std::printf("recover_copy: %lld MiB in %lld fragments\n", mib, clusters / kRunClusters);
    std::printf("  RecoverTo        %8.1f MB/s (median of 5)\n", bytes / 1e6 / ours[2]);
    std::printf("  pread/pwrite     %8.1f MB/s (median of 5, contiguous)\n",
                bytes / 1e6 / plain[2]);
    disk->Close();
    delete disk;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
