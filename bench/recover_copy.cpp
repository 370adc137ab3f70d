// Recovery throughput: a fragmented found file copied out of an image
// through CDataRecovery::RecoverTo, with its writer thread and with every
// piece read and written on one thread, next to a plain pread/pwrite copy of
// the same bytes into the same folder.
//   recover_copy [MiB] [--cold] [--folder DIR]   (default 512 MiB in /tmp)
// --cold: the image is dropped from the page cache before every copy, so
// that each one reads it from its disk.
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
#include "platform/HeapPages.h"
#include "support/TestNode.h"

namespace {

using bench::Seconds;

constexpr long long kMiB = 1 << 20;
constexpr int kCluster = 4096;
constexpr long long kRunClusters = 256;  // 1 MiB fragments

// Drops the image's pages from the page cache (its own pages only).
void DropCached(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// Writes a copy out and lets it go, so that no round pays for the one
// before.
void Settle(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fdatasync(fd);
        ::close(fd);
    }
    ::unlink(path.c_str());
}

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
    velmora::platform::StartWithHugePageHeap(argv);
    long long mib = 512;
    bool cold = false;
    std::string folder = "/tmp";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cold")
            cold = true;
        else if (arg == "--folder" && i + 1 < argc)
            folder = argv[++i];
        else
            mib = std::max(8LL, std::atoll(argv[i]));
    }
    const long long bytes = mib * kMiB;
    std::string tmpl = folder + "/velmora-bench-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
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

    // Three copies a round, their order turned every round.
    std::vector<double> times[3];
    const std::string out = dir + "/copy.bin";
    for (int round = 0; round < 5; ++round) {
        for (int k = 0; k < 3; ++k) {
            const int which = (round + k) % 3;
            if (cold)
                DropCached(image);
            if (which == 2) {
                times[2].push_back(PlainCopy(image, out, bytes));
            } else {
                CDataRecovery::SetWriterThread(which == 0);
                const auto start = std::chrono::steady_clock::now();
                if (recovery.RecoverTo(out.c_str(), nullptr, 0) != VK_OK)
                    return 1;
                times[which].push_back(Seconds(start));
            }
            Settle(out);
        }
    }
    for (auto& t : times)
        std::sort(t.begin(), t.end());
    std::printf("recover_copy: %lld MiB in %lld fragments, %s, into %s\n", mib,
                clusters / kRunClusters,
                cold ? "image read from its disk" : "image in the page cache", folder.c_str());
    std::printf("  RecoverTo, writer thread  %8.1f MB/s (median of 5)\n",
                bytes / 1e6 / times[0][2]);
    std::printf("  RecoverTo, one thread     %8.1f MB/s (median of 5)\n",
                bytes / 1e6 / times[1][2]);
    std::printf("  pread/pwrite              %8.1f MB/s (median of 5, contiguous)\n",
                bytes / 1e6 / times[2][2]);
    std::printf("  writer thread / one thread %.2f, / pread/pwrite %.2f\n",
                times[1][2] / times[0][2], times[2][2] / times[0][2]);
    disk->Close();
    delete disk;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
