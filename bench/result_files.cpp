// Saving and loading a result of a million generated nodes, each against a
// peer in the same run:
//   - the save against a plain sequential write of the same number of bytes;
//   - the load with its replay into the tree builder against the tree
//     builder fed the same nodes directly;
//   - the load's peak memory against the memory the loaded tree holds.
// The load and its peer each run in a fresh process (this program started
// again), so that neither inherits the other's memory.
//
//   result_files [nodes]          default 1000000
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "EngineResultAdapters.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "RestoreNodes.h"
#include "SaveRestore.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "StorageDeviceData.h"
#include "platform/HeapPages.h"
#include "support/MemoryStorageDevice.h"

namespace {

using bench::Seconds;

using namespace SaveRestoreResult;

constexpr int kFilesPerFolder = 999;

long CurrentRssKiB() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f != nullptr) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The records of a generated volume: folders of files below the root (id
// 2), names and runs as a FAT scan gives them.
std::vector<FileNodeRecord> Generate(long long count) {
    std::vector<FileNodeRecord> records;
    records.reserve(static_cast<size_t>(count));
    long long folder = -1;
    long long cluster = 100;
    for (long long i = 0; i < count; ++i) {
        FileNodeRecord r;
        r.id = 1000 + i;
        r.creationTime = 132000000000000000LL + i;
        r.modificationTime = r.creationTime + 1;
        r.accessTime = r.creationTime + 2;
        r.partitionIndex = 0;
        r.metadataSector = 5000 + i / 16;
        if (i % (kFilesPerFolder + 1) == 0) {
            folder = r.id;
            r.parentId = 2;
            r.directory = 1;
            r.attribute = 0x10;
            r.name = "folder " + std::to_string(i);
        } else {
            r.parentId = folder;
            r.size = 1000 + i % 5000;
            r.deleted = i % 7 == 0;
            r.attribute = 0x20;
            r.hasRunList = true;
            const long long clusters = (r.size + 4095) / 4096;
            r.runs.push_back({cluster, clusters});
            cluster += clusters + 1;
            r.name = "file " + std::to_string(i) + ".jpg";
        }
        records.push_back(std::move(r));
    }
    return records;
}

// The generated nodes linked under one root, as a scan's tree holds them.
class GeneratedResult : public IScanResultSource {
public:
    explicit GeneratedResult(const std::vector<FileNodeRecord>& records)
        : root_(new CFilesystemNode("vol(FAT)", "vol", SEARCHER_FAT, 2)) {
        std::vector<CFileNode*> folders;
        for (const FileNodeRecord& r : records) {
            auto* node = new RestoreFileNode(r);
            nodes_.push_back(node);
            if (r.directory) {
                root_->AddChild(node);
                folders.push_back(node);
            } else {
                folders.back()->AddChild(node);
            }
        }
    }
    ~GeneratedResult() override {
        // Children first: a node is released after it left its folder.
        for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it) {
            if (auto* parent = (*it)->GetParent())
                parent->RemoveChild(*it);
            (*it)->Release();
        }
        root_->Release();
    }
    ScanKindRecord ScanKind() override { return {0, 0}; }
    DiskVolumeRecord DeviceRecord() override {
        DiskVolumeRecord r;
        r.size = kSectors * 512;
        r.diskIndex = 0;
        r.volumeIndex = 0;
        r.fileSystem = 2;
        r.name = "vol";
        return r;
    }
    std::vector<SavedRoot> Roots() override {
        CSearchedPartitionInfo* p = &partition_;
        partition_.sectorsPerCluster = 8;
        partition_.totalSectors = kSectors;
        partition_.partitionIndex = 0;
        return {{root_, {p}}};
    }
    static constexpr long long kSectors = 1LL << 31;

private:
    CFilesystemNode* root_;
    std::vector<CFileNode*> nodes_;
    CSearchedPartitionInfo partition_;
};

struct CountingTree : IDrirectoryTree {
    void ShowNodes(IFileNode**, unsigned count, int) override { shown += count; }
    void ShowFilesystemNode(IFilesystemNode*) override {}
    long long shown = 0;
};

IDirecotryTreeBuilder* MakeBuilder(IDrirectoryTree* tree) {
    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(true, hooks);
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    builder->Initialize("vol", tree, filter);
    return builder;
}

velmora::test::MemoryStorageDevice* Volume() {
    static velmora::test::MemoryStorageDevice device(
        GeneratedResult::kSectors, 512,
        [](long long, uint8_t* out, size_t n) { std::memset(out, 0, n); });
    static bool named = [] {
        device.SetType(kDeviceVolume);
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = 2;
        record->sectorSize = 512;
        record->totalSectors = GeneratedResult::kSectors;
        std::snprintf(record->volumeName, sizeof record->volumeName, "vol");
        device.SetPrivateData(CreateVolumeDeviceData(record));
        return true;
    }();
    (void)named;
    return &device;
}

// Replays into the tree builder as a quick-scan controller does; the trees
// stay until the runner goes.
class BuilderRunner : public IResultScanRunner {
public:
    ~BuilderRunner() override {
        if (builder_)
            builder_->Release();
    }
    void ClearData() override {}
    void SetImageResult(int, int) override {}
    void Replay(IStorageDevice* device, const ScanKindRecord&, CRestoreScanSink* sink) override {
        builder_ = MakeBuilder(&tree);
        sink->SetDirecotryTreeBuilder(builder_, nullptr, device);
    }
    CountingTree tree;

private:
    IDirecotryTreeBuilder* builder_ = nullptr;
};

// Child: loads the file; prints seconds, shown nodes, RSS before, after
// (tree alive) and peak.
int LoadChild(const char* path) {
    Volume();
    const long before = CurrentRssKiB();
    SingleDeviceCatalogue catalogue(Volume(), {0, 0, "vol", 2, GeneratedResult::kSectors * 512});
    auto runner = std::make_unique<BuilderRunner>();
    auto start = std::chrono::steady_clock::now();
    const int code = RestoreScanResult(path, nullptr, "", &catalogue, runner.get());
    const double seconds = Seconds(start);
    std::printf("%d %.6f %lld %ld %ld %ld\n", code, seconds, runner->tree.shown, before,
                CurrentRssKiB(), PeakRssKiB());
    // The process ends here: taking the trees down is not part of a load.
    std::fflush(stdout);
    _exit(0);
}

// Child: the tree builder fed the same nodes, made before the clock starts.
int BuilderChild(long long count) {
    std::vector<FileNodeRecord> records = Generate(count);
    std::vector<IFileNode*> nodes;
    nodes.reserve(records.size());
    for (const FileNodeRecord& r : records)
        nodes.push_back(new RestoreFileNode(r));
    records.clear();
    records.shrink_to_fit();
    CountingTree tree;
    auto start = std::chrono::steady_clock::now();
    IDirecotryTreeBuilder* builder = MakeBuilder(&tree);
    builder->AddSearcherInfo(SEARCHER_FAT, 2);
    for (IFileNode* n : nodes) {
        if (!builder->AddNode(n, SEARCHER_FAT))
            n->Release();
    }
    builder->FlashBuild(SEARCHER_FAT);
    const double seconds = Seconds(start);
    std::printf("%.6f %lld\n", seconds, tree.shown);
    builder->Release();
    return 0;
}

// Runs this program again with `args`; the last line of its output.
std::string RunChild(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // The figures are the last line; the log may print before it.
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    const size_t last = out.rfind('\n');
    return last == std::string::npos ? out : out.substr(last + 1);
}

// A plain sequential write of `bytes` in 1 MiB pieces, synced; seconds.
double PlainWrite(const std::string& path, long long bytes) {
    std::vector<uint8_t> piece(1 << 20, 0x5A);
    auto start = std::chrono::steady_clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    for (long long left = bytes; left > 0;) {
        const size_t n = static_cast<size_t>(std::min<long long>(left, piece.size()));
        if (::write(fd, piece.data(), n) != static_cast<ssize_t>(n))
            break;
        left -= static_cast<long long>(n);
    }
    // As the save does: the bytes are on the disk when it ends.
    ::fsync(fd);
    ::close(fd);
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    if (argc == 3 && std::strcmp(argv[1], "--load-child") == 0)
        return LoadChild(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--builder-child") == 0)
        return BuilderChild(std::atoll(argv[2]));
    const long long count = argc > 1 ? std::atoll(argv[1]) : 1000000;
    if (count < 1) {
        std::fprintf(stderr, "usage: %s [nodes]\n", argv[0]);
        return 2;
    }
    char tmpl[] = "/tmp/velmora-bench-results-XXXXXX";
    const char* dir = ::mkdtemp(tmpl);
    if (dir == nullptr)
        return 1;
    const std::string result = std::string(dir) + "/bench.Velmora";
    const std::string plain = std::string(dir) + "/plain.bin";

    double saveSeconds = 0;
    {
        GeneratedResult source(Generate(count));
        auto start = std::chrono::steady_clock::now();
        const int code = SaveScanResult(result, nullptr, &source);
        saveSeconds = Seconds(start);
        if (code != kResultOk) {
            std::fprintf(stderr, "save failed with %d\n", code);
            return 1;
        }
    }
    struct stat st {};
    ::stat(result.c_str(), &st);
    const long long bytes = st.st_size;
    const double writeSeconds = PlainWrite(plain, bytes);
    ::unlink(plain.c_str());

    const std::string self = argv[0];
    int code = -1;
    double loadSeconds = 0;
    long long loadedNodes = 0;
    long before = 0, after = 0, peak = 0;
    if (std::sscanf(RunChild({self, "--load-child", result}).c_str(), "%d %lf %lld %ld %ld %ld",
                    &code, &loadSeconds, &loadedNodes, &before, &after, &peak) != 6 ||
        code != kResultOk) {
        std::fprintf(stderr, "load of %s failed (%d)\n", result.c_str(), code);
        return 1;
    }
    double builderSeconds = 0;
    long long builderNodes = 0;
    if (std::sscanf(RunChild({self, "--builder-child", std::to_string(count)}).c_str(), "%lf %lld",
                    &builderSeconds, &builderNodes) != 2) {
        std::fprintf(stderr, "the builder run failed\n");
        return 1;
    }
    if (std::getenv("VELMORA_BENCH_KEEP") == nullptr) {
        ::unlink(result.c_str());
        ::rmdir(dir);
    } else {
        std::printf("result kept: %s\n", result.c_str());
    }

    const double saveRate = bytes / 1e6 / saveSeconds;
    const double writeRate = bytes / 1e6 / writeSeconds;
    const long tree = after - before;
    const long loadPeak = peak - before;
    std::printf("nodes %lld, result file %lld bytes\n", count, bytes);
    std::printf(
        "save %.3f s (%.1f MB/s), plain write %.3f s (%.1f MB/s): save/write %.2f "
        "(goal >= 0.5)\n",
        saveSeconds, saveRate, writeSeconds, writeRate, saveRate / writeRate);
    std::printf(
        "load+replay %.3f s (%lld nodes shown), tree builder alone %.3f s (%lld shown): "
        "load/builder %.2f (goal <= 2)\n",
        loadSeconds, loadedNodes, builderSeconds, builderNodes, loadSeconds / builderSeconds);
    std::printf(
        "load peak %ld KiB over the start, loaded tree %ld KiB: peak/tree %.2f (goal <= "
        "1.5)\n",
        loadPeak, tree, tree > 0 ? static_cast<double>(loadPeak) / tree : 0.0);
    return 0;
}
