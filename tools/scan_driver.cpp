// Runs a quick or deep scan of a disk image through the scan controllers and
// prints what arrived and how fast, next to a plain sequential read of the
// same file in the same run. A tool for tests and measurements, not a user
// feature.
//
//   scan_driver [--deep | --quick] [--fs-type N] [--null-searcher]
//               [--sector-size N] [--rounds N] [--list FILE]
//               [--recover DIR [--deleted-only]] [--only TYPE[,TYPE...]]
//               [--shown-order] [--one-thread] [--unreadable OFFSET:LENGTH]
//               [--cold] [--save FILE | --load FILE] image
//
//   --deep           deep scan of the image as a whole disk (the default)
//   --quick          quick scan of the image as a volume whose record says
//                    file system N (--fs-type, default 10: none)
//   --null-searcher  the deep scan runs one searcher that does nothing, so
//                    the block walk itself is measured
//   --sector-size N  the device reports N-byte sectors (default 512)
//   --rounds N       scans (each after a plain read) to take the median of
//   --recover DIR    after the last scan, recovers every file the trees show
//                    into DIR through the controller's data-recovery objects
//                    (GetDataRecovery, SetRecoverNode, RecoverTo), laid out
//                    as the program lays out recovered files; a quick scan
//                    then shows live files as well as deleted ones
//   --deleted-only   with --recover: a quick scan shows, and the driver
//                    recovers, only deleted files
//   --only TYPE[,TYPE...]  the deep scan runs only the searchers of these types
//                    (31 HFS+, 32 FAT, 33 exFAT, 34 signature, 35 NTFS, 37 APFS)
//   --shown-order    --list keeps the order in which the trees showed the
//                    nodes instead of sorting the lines
//   --one-thread     searchers that can look at blocks on a thread of their
//                    own (the signature search) look at them on the scan's
//                    thread instead, as a baseline for the threaded scan
//   --cold           the image's pages leave the page cache before the plain
//                    read and before each scan, so that both read it from
//                    its disk (for a disk-bound comparison)
//   --unreadable OFFSET:LENGTH
//                    reads of the image that touch those bytes fail, as on a
//                    disk with bad sectors (the faulty raw I/O stand-in); the
//                    driver counts the bad-sector events the scan sends
//   --list FILE      after the last scan, writes the trees to FILE ("-":
//                    standard output), one line per node, sorted:
//                      TYPE <tab> PATH <tab> SIZE <tab> DELETED <tab> FIRST-RUN
//                    TYPE is the tree's searcher type; PATH is the node's
//                    place below the tree's root, folders ending in "/";
//                    DELETED is 1 or 0; FIRST-RUN is "start+length" of the
//                    node's first data run in its file system's units, or
//                    "-". Stable from run to run, so tests compare it with
//                    Sleuth Kit's fls (tools/compare_fls.py). A quick scan
//                    then shows live files as well as deleted ones.
//   --save FILE      after the last scan, saves its result into FILE (a
//                    result file) and prints "save result N" (0: saved)
//   --load FILE      instead of scanning, replays the result file FILE over
//                    the image (opened as --quick or --deep say) and prints
//                    "load result N" (0: loaded); --list and --recover then
//                    work on the loaded trees
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DataRun.h"
#include "EngineFactories.h"
#include "EngineResultAdapters.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "RecoveryControllers.h"
#include "RecoveryOutput.h"
#include "SearchInterfaces.h"
#include "StorageDevices.h"
#include "Utility/MessageCenter.h"
#include "platform/HeapPages.h"
#include "platform/RawIo.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A deep searcher that looks at nothing: with it alone the scan measures the
// walk and the read-ahead.
class NullSearcher : public ICompleteFileSystemSearchController {
public:
    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder*) override {}
    int GetSearchedPartitionInfo(CSearchedPartitionInfo**, int) override { return 0; }
    void SetDevice(IStorageDevice*) override {}
    void SetBlockSize(int) override {}
    void PreparetoSearch() override {}
    void AnalyzeBlock(long long, long long sectorCount) override {
        ++blocks;
        sectors += sectorCount;
    }
    static inline long long blocks = 0;
    static inline long long sectors = 0;
};

ICompleteFileSystemSearchController* MakeNullSearcher() {
    return new NullSearcher();
}

class DriverProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override {
        ++reports;
        if (info->state == PROGRESS_PREPARING)
            announcedBlocks = info->total - 1;
        else if (announcedBlocks >= 0 && info->state == PROGRESS_RUNNING)
            ++walkedBlocks;
        lastState = info->state;
    }
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }

    long long reports = 0;
    long long announcedBlocks = -1;
    long long walkedBlocks = 0;
    int lastState = -1;
};

class CountingTree : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int lost) override {
        for (unsigned i = 0; i < count; ++i) {
            if (nodes[i] != nullptr)
                ++perType[nodes[i]->GetSearcheType()];
        }
        if (lost != 0)
            lostNodes += count;
        if (keepNodes)
            shown.insert(shown.end(), nodes, nodes + count);
    }
    void ShowFilesystemNode(IFilesystemNode* root) override {
        ++roots;
        rootNodes.push_back(root);
    }

    // With keepNodes, every node shown (they stay the controller's).
    bool keepNodes = false;
    std::vector<IFileNode*> shown;
    std::vector<IFilesystemNode*> rootNodes;
    std::map<int, long long> perType;
    long long lostNodes = 0;
    int roots = 0;
};

// Reads the whole file in 4 MiB pieces; the bytes read, or -1.
long long PlainRead(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    std::vector<uint8_t> buffer(4u << 20);
    long long total = 0;
    uint64_t sink = 0;
    while (true) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            ::close(fd);
            return -1;
        }
        if (n == 0)
            break;
        sink += buffer[0];
        total += n;
    }
    ::close(fd);
    // Keeps the loop from being judged useless.
    if (sink == 1)
        std::fputc(' ', stderr);
    return total;
}

// Asks the kernel to let go of the file's cached pages (written back first),
// so that the next read comes from the disk.
void DropFromPageCache(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// Counts the bad-sector events the relay delivers, and those it dropped.
class BadSectorCounter final : public INotifyCenter {
public:
    void Notify(_MSG_EVENT* event) override {
        if (event == nullptr)
            return;
        if (event->type == kEventSectorReadFailed) {
            ++seen;
        } else if (event->type == kEventsDropped && event->length >= 8) {
            uint64_t n = 0;
            std::memcpy(&n, event->payload, sizeof n);
            dropped += static_cast<long long>(n);
        }
    }
    long long seen = 0;
    long long dropped = 0;
};

struct Options {
    bool quick = false;
    int fsType = FS_UNKNOWN;
    bool nullSearcher = false;
    int sectorSize = 512;
    int rounds = 3;
    const char* recoverTo = nullptr;
    const char* listTo = nullptr;
    bool shownOrder = false;
    bool deletedOnly = false;
    bool cold = false;
    std::vector<int> only;
    long long unreadableOffset = -1;
    long long unreadableLength = 0;
    const char* saveTo = nullptr;
    const char* loadFrom = nullptr;
    const char* image = nullptr;
};

bool ParseInt(const char* text, int low, int high, int* out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high)
        return false;
    *out = static_cast<int>(v);
    return true;
}

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--quick") {
            o->quick = true;
        } else if (a == "--deep") {
            o->quick = false;
        } else if (a == "--null-searcher") {
            o->nullSearcher = true;
        } else if (a == "--fs-type" && hasValue) {
            if (!ParseInt(argv[++i], 0, 10, &o->fsType))
                return false;
        } else if (a == "--sector-size" && hasValue) {
            if (!ParseInt(argv[++i], 512, 65536, &o->sectorSize) || o->sectorSize % 512 != 0)
                return false;
        } else if (a == "--rounds" && hasValue) {
            if (!ParseInt(argv[++i], 1, 100, &o->rounds))
                return false;
        } else if (a == "--recover" && hasValue) {
            o->recoverTo = argv[++i];
        } else if (a == "--list" && hasValue) {
            o->listTo = argv[++i];
        } else if (a == "--save" && hasValue) {
            o->saveTo = argv[++i];
        } else if (a == "--load" && hasValue) {
            o->loadFrom = argv[++i];
        } else if (a == "--deleted-only") {
            o->deletedOnly = true;
        } else if (a == "--shown-order") {
            o->shownOrder = true;
        } else if (a == "--cold") {
            o->cold = true;
        } else if (a == "--one-thread") {
            SetDeepScanSearcherThreads(false);
        } else if (a == "--only" && hasValue) {
            std::string list = argv[++i];
            for (size_t at = 0; at <= list.size();) {
                const size_t comma = std::min(list.find(',', at), list.size());
                int type = 0;
                if (!ParseInt(list.substr(at, comma - at).c_str(), 0, 63, &type))
                    return false;
                o->only.push_back(type);
                at = comma + 1;
            }
        } else if (a == "--unreadable" && hasValue) {
            const char* text = argv[++i];
            char* end = nullptr;
            o->unreadableOffset = std::strtoll(text, &end, 10);
            if (end == text || *end != ':' || o->unreadableOffset < 0)
                return false;
            const char* rest = end + 1;
            o->unreadableLength = std::strtoll(rest, &end, 10);
            if (end == rest || *end != '\0' || o->unreadableLength <= 0)
                return false;
        } else if (!a.empty() && a[0] != '-' && o->image == nullptr) {
            o->image = argv[i];
        } else {
            return false;
        }
    }
    return o->image != nullptr && (!o->deletedOnly || o->recoverTo != nullptr) &&
           (o->saveTo == nullptr || o->loadFrom == nullptr);
}

// Opens the image read-only as a whole disk (deep) or as a volume with a
// record naming its file system (quick).
std::unique_ptr<IStorageDevice> OpenImage(const Options& o, long long fileBytes) {
    std::unique_ptr<IStorageDevice> device(o.quick ? CreateVolumeDevice(o.image)
                                                   : CreateDiskDevice(o.image));
    if (!device || device->Open(nullptr) == 0)
        return nullptr;
    const long long sectors = fileBytes / o.sectorSize;
    if (o.quick) {
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = o.fsType;
        record->sectorSize = o.sectorSize;
        record->totalSectors = sectors;
        record->partitionNumber = -1;
        const char* slash = std::strrchr(o.image, '/');
        std::snprintf(record->volumeName, sizeof(record->volumeName), "%s",
                      slash != nullptr ? slash + 1 : o.image);
        device->SetPrivateData(CreateVolumeDeviceData(record));
    } else if (o.sectorSize != device->GetSectorSize()) {
        auto* record = new CCollectDiskDeviceInfoStruct{};
        record->flag = 1;
        record->sectorSize = o.sectorSize;
        record->totalSectors = sectors;
        device->SetPrivateData(CreateDiskDeviceData(record));
    }
    return device;
}

struct ScanFigures {
    VKRESULT result = 0;
    double seconds = 0;
    DriverProgress progress;
    CountingTree tree;
};

struct RecoveryFigures {
    long long files = 0;
    long long empty = 0;
    long long failed = 0;
    long long incomplete = 0;  // written with unreadable parts, reported as such
    std::vector<std::string> roots;
};

// The listing of --list: one line per node shown, sorted unless `inOrder`.
bool WriteListing(const char* to, const std::vector<IFileNode*>& shown, bool inOrder) {
    std::vector<std::string> lines;
    lines.reserve(shown.size());
    for (IFileNode* node : shown) {
        if (node == nullptr || node->GetParent() == nullptr)
            continue;
        // The folders' names are gathered and joined once, so that a line
        // costs its length and not the square of its depth.
        std::vector<const char*> folders;
        IFileNode* top = node;
        for (IFileNode* p = node->GetParent(); p != nullptr; p = p->GetParent()) {
            top = p;
            if (p->GetParent() != nullptr)
                folders.push_back(p->GetFileName() ? p->GetFileName() : "");
        }
        std::string path;
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
            path += *it;
            path += '/';
        }
        path += node->GetFileName() ? node->GetFileName() : "";
        if (node->IsDirectory())
            path += "/";
        std::string run = "-";
        if (auto* fileNode = dynamic_cast<CFileNode*>(node);
            fileNode && fileNode->GetDataRunList()) {
            if (const DataRun* first = fileNode->GetDataRunList()->GetFirst())
                run = std::to_string(first->start) + "+" + std::to_string(first->length);
        }
        lines.push_back(std::to_string(top->GetSearcheType()) + "\t" + path + "\t" +
                        std::to_string(node->IsDirectory() ? 0 : node->GetFileSize()) + "\t" +
                        (node->IsDeleted() ? "1" : "0") + "\t" + run);
    }
    if (!inOrder)
        std::sort(lines.begin(), lines.end());
    FILE* out = std::strcmp(to, "-") == 0 ? stdout : std::fopen(to, "w");
    if (out == nullptr)
        return false;
    for (const std::string& line : lines)
        std::fprintf(out, "%s\n", line.c_str());
    const bool ok = std::ferror(out) == 0;
    if (out != stdout)
        return std::fclose(out) == 0 && ok;
    std::fflush(out);
    return ok;
}

// Recovers the files shown, per searcher type, as the recovery operation of
// the program does; folders are made as their files need them.
RecoveryFigures RecoverShown(const Options& o, IRecoveryController* controller,
                             const std::vector<IFileNode*>& shown) {
    if (controller == nullptr) {
        RecoveryFigures none;
        none.failed = 1;
        return none;
    }
    RecoveryFigures r;
    velmora::recovery::RecoveryPathBuilder paths(o.recoverTo);
    std::map<int, IDataRecovery*> recoveries;
    for (IFileNode* node : shown) {
        if (node == nullptr || node->IsDirectory() || (o.deletedOnly && !node->IsDeleted()))
            continue;
        // Nodes that do not name their searcher (APFS) belong to the tree
        // they sit in, as for the program's recovery.
        int type = node->GetSearcheType();
        if (type == SEARCHER_NONE) {
            IFileNode* top = node;
            for (int steps = 0; top->GetParent() != nullptr && steps < (1 << 16); ++steps)
                top = top->GetParent();
            type = top->GetSearcheType();
        }
        // Both signature-search trees are served by the one signature searcher.
        const int asked = type == SEARCHER_RAW_LABEL ? SEARCHER_RAW : type;
        auto it = recoveries.find(type);
        if (it == recoveries.end())
            it = recoveries
                     .emplace(type,
                              controller->GetDataRecovery(static_cast<_tagSearcherType>(asked)))
                     .first;
        const std::string path = paths.PathFor(node);
        if (path.empty()) {
            ++r.failed;
            continue;
        }
        IDataRecovery* recovery = it->second;
        IFileReader* reader = recovery != nullptr ? recovery->SetRecoverNode(node) : nullptr;
        if (reader == nullptr) {
            ++r.failed;
            continue;
        }
        reader->Release();
        const VKRESULT result = recovery->RecoverTo(path.c_str(), nullptr, 0);
        if (ResultIs(result, kModuleDataRecovery, kErrRecoveryIncomplete)) {
            std::fprintf(stderr, "recovery of %s incomplete\n", path.c_str());
            ++r.incomplete;
            continue;
        }
        if (ResultFailed(result)) {
            std::fprintf(stderr, "recovery of %s failed\n", path.c_str());
            ++r.failed;
            continue;
        }
        ++(node->GetFileSize() == 0 ? r.empty : r.files);
    }
    for (auto& [type, recovery] : recoveries) {
        if (recovery != nullptr)
            recovery->Release();
        const std::string root = paths.RootFor(static_cast<_tagSearcherType>(type));
        if (!root.empty())
            r.roots.push_back(root);
    }
    return r;
}

// A quick scan shows only deleted files unless live ones are to be listed,
// saved or recovered too.
IRecoveryFilter* SetUpFilter(const Options& o) {
    IRecoveryFilter* filter = CreateFilter();
    const bool showLive =
        !o.quick ||
        ((o.recoverTo != nullptr || o.listTo != nullptr || o.saveTo != nullptr) && !o.deletedOnly);
    filter->SetScanType(showLive ? SCAN_COMPLETE : SCAN_QUICK);
    filter->SetFilterTypes(CATEGORY_ALL);
    return filter;
}

// Lists and recovers what the trees show, as after a scan; false when the
// listing could not be written.
bool ListAndRecover(const Options& o, IRecoveryController* controller, CountingTree& tree,
                    RecoveryFigures* recovered) {
    bool listed = true;
    if (o.listTo != nullptr && !WriteListing(o.listTo, tree.shown, o.shownOrder)) {
        std::fprintf(stderr, "%s: cannot write the listing\n", o.listTo);
        listed = false;
    }
    if (o.recoverTo != nullptr)
        *recovered = RecoverShown(o, controller, tree.shown);
    return listed;
}

// One scan; `after` runs while the controller and its trees still exist.
ScanFigures RunScan(const Options& o, IStorageDevice* device,
                    const std::function<void(IRecoveryController*, CountingTree&)>& after = {}) {
    ScanFigures f;
    IRecoveryController* controller = CreateRecoveryController(
        o.quick ? RECOVERY_CONTROLLER_DELETED : RECOVERY_CONTROLLER_PARTITION);
    controller->Initialize(SetUpFilter(o));
    f.tree.keepNodes = static_cast<bool>(after);
    auto start = std::chrono::steady_clock::now();
    f.result = controller->StartDataRecovery(device, &f.progress, &f.tree);
    f.seconds = Seconds(start);
    if (after)
        after(controller, f.tree);
    controller->Release();
    return f;
}

// The scanned device in the catalogue of the driver's one image: disk 0,
// and its volume 0 for a quick scan.
SaveRestoreResult::CatalogueEntry ImageEntry(const Options& o, IStorageDevice* device) {
    SaveRestoreResult::DiskVolumeRecord r =
        SaveRestoreResult::DeviceRecordOf(device, 0, o.quick ? 0 : -1);
    SaveRestoreResult::CatalogueEntry e;
    e.diskIndex = r.diskIndex;
    e.volumeIndex = r.volumeIndex;
    e.name = r.name;
    e.fileSystem = r.fileSystem;
    e.size = r.size;
    return e;
}

bool SaveResult(const Options& o, IStorageDevice* device, IRecoveryController* controller,
                CountingTree& tree) {
    SaveRestoreResult::ScanKindRecord kind;
    kind.controllerType = o.quick ? 0 : 2;
    kind.deep = o.quick ? 0 : 1;
    SaveRestoreResult::ControllerResultSource source(
        controller, kind, SaveRestoreResult::DeviceRecordOf(device, 0, o.quick ? 0 : -1),
        tree.rootNodes);
    auto start = std::chrono::steady_clock::now();
    const int code = SaveRestoreResult::SaveScanResult(o.saveTo, nullptr, &source);
    std::printf("save result %d (%.3f s)\n", code, Seconds(start));
    return code == 0;
}

// Replays a result file instead of scanning, then lists and recovers.
int LoadResult(const Options& o, IStorageDevice* device) {
    SetUpFilter(o);
    SaveRestoreResult::SingleDeviceCatalogue catalogue(device, ImageEntry(o, device));
    CountingTree tree;
    tree.keepNodes = true;
    DriverProgress progress;
    SaveRestoreResult::EngineReplayRunner runner(&tree, &progress);
    auto start = std::chrono::steady_clock::now();
    const int code =
        SaveRestoreResult::RestoreScanResult(o.loadFrom, nullptr, "", &catalogue, &runner);
    std::printf("load result %d (%.3f s)\n", code, Seconds(start));
    std::printf("trees %d, lost-folder nodes %lld\n", tree.roots, tree.lostNodes);
    for (const auto& [type, count] : tree.perType)
        std::printf("nodes of searcher %d: %lld\n", type, count);
    RecoveryFigures recovered;
    const bool listed = ListAndRecover(o, runner.Controller(), tree, &recovered);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident set %ld KiB\n", usage.ru_maxrss);
    if (o.recoverTo != nullptr) {
        std::printf("recovered %lld files and %lld empty ones, %lld failed\n", recovered.files,
                    recovered.empty, recovered.failed);
        if (recovered.incomplete != 0)
            std::printf("recovered incomplete (unreadable parts) %lld\n", recovered.incomplete);
    }
    return code == 0 && listed && recovered.failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    Options o;
    if (!ParseOptions(argc, argv, &o)) {
        std::fprintf(
            stderr,
            "usage: %s [--deep | --quick] [--fs-type N] [--null-searcher] [--sector-size N] "
            "[--rounds N] [--list FILE] [--recover DIR [--deleted-only]] [--only TYPE[,TYPE...]] "
            "[--unreadable OFFSET:LENGTH] [--cold] [--save FILE | --load FILE] image\n",
            argv[0]);
        return 2;
    }
    struct stat st {};
    if (::stat(o.image, &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "%s: not a readable image file\n", o.image);
        return 1;
    }

    InstallEngineFactories();
    if (o.nullSearcher) {
        // Only a searcher that looks at nothing: the walk and the cache alone.
        std::vector<SearcherRow> rows = vk::InstalledSearcherRows();
        for (SearcherRow& r : rows)
            r.createDeepSearcher = nullptr;
        SearcherRow null;
        null.name = "null searcher";
        null.createDeepSearcher = &MakeNullSearcher;
        rows.push_back(null);
        vk::InstallSearcherRows(rows);
    }
    if (!o.only.empty()) {
        // The deep scan runs only the searchers of those types.
        std::vector<SearcherRow> rows = vk::InstalledSearcherRows();
        for (SearcherRow& r : rows) {
            if (std::find(o.only.begin(), o.only.end(), r.type) == o.only.end())
                r.createDeepSearcher = nullptr;
        }
        vk::InstallSearcherRows(rows);
    }

    // Bad sectors come from the raw I/O beneath every device; the relay's
    // events are counted as the interface would receive them.
    velmora::platform::FaultyRawIo faulty;
    std::unique_ptr<velmora::platform::ScopedRawIo> faultyScope;
    BadSectorCounter badSectors;
    CMessageCenter* relay = CMessageCenter::Instance();
    constexpr int kCounterKey = 29;
    if (o.unreadableOffset >= 0) {
        faulty.FailRange(o.unreadableOffset, o.unreadableLength);
        faultyScope = std::make_unique<velmora::platform::ScopedRawIo>(&faulty);
        relay->SetDeliveryInterval(std::chrono::milliseconds(1));
        relay->RegisterNotifyCenter(kCounterKey, &badSectors);
        relay->StartReceiveMessage();
    }

    std::unique_ptr<IStorageDevice> device = OpenImage(o, static_cast<long long>(st.st_size));
    if (!device) {
        std::fprintf(stderr, "%s: cannot open\n", o.image);
        return 1;
    }
    const long long deviceBytes = device->GetTotalSectors() * device->GetSectorSize();
    std::printf("image %s: %lld bytes, %lld sectors of %d bytes, %s scan%s\n", o.image,
                static_cast<long long>(st.st_size), device->GetTotalSectors(),
                device->GetSectorSize(), o.quick ? "quick" : "deep",
                o.nullSearcher ? " (null searcher)" : "");

    std::vector<double> plainRates;
    std::vector<double> scanRates;
    // The scan without the tree builder's pause for the interface: one
    // second after it hands over each tree's root.
    std::vector<double> bareRates;
    int pauses = 0;
    ScanFigures last;
    RecoveryFigures recovered;
    bool listFailed = false;
    bool saveFailed = false;
    if (o.loadFrom != nullptr)
        return LoadResult(o, device.get());
    for (int round = 0; round < o.rounds; ++round) {
        if (o.cold)
            DropFromPageCache(o.image);
        auto start = std::chrono::steady_clock::now();
        const long long plainBytes = PlainRead(o.image);
        const double plainSeconds = Seconds(start);
        if (plainBytes < 0) {
            std::fprintf(stderr, "%s: plain read failed\n", o.image);
            return 1;
        }
        NullSearcher::blocks = NullSearcher::sectors = 0;
        if (o.cold)
            DropFromPageCache(o.image);
        if ((o.recoverTo != nullptr || o.listTo != nullptr || o.saveTo != nullptr) &&
            round + 1 == o.rounds) {
            last =
                RunScan(o, device.get(), [&](IRecoveryController* controller, CountingTree& tree) {
                    if (o.saveTo != nullptr)
                        saveFailed = !SaveResult(o, device.get(), controller, tree);
                    if (!ListAndRecover(o, controller, tree, &recovered))
                        listFailed = true;
                });
        } else {
            last = RunScan(o, device.get());
        }
        const double plainRate = plainBytes / 1e6 / std::max(plainSeconds, 1e-9);
        plainRates.push_back(plainRate);
        if (ResultFailed(last.result)) {
            // A scan that ended before its walk says nothing about speed.
            std::printf("round %d: plain read %.3f s %.1f MB/s, scan failed after %.3f s\n",
                        round + 1, plainSeconds, plainRate, last.seconds);
            continue;
        }
        const double scanRate = deviceBytes / 1e6 / std::max(last.seconds, 1e-9);
        scanRates.push_back(scanRate);
        pauses = last.tree.roots;
        bareRates.push_back(deviceBytes / 1e6 / std::max(last.seconds - pauses, 1e-9));
        std::printf("round %d: plain read %.3f s %.1f MB/s, scan %.3f s %.1f MB/s\n", round + 1,
                    plainSeconds, plainRate, last.seconds, scanRate);
    }

    std::printf("result 0x%016" PRIx64 "%s\n", static_cast<uint64_t>(last.result),
                ResultFailed(last.result) ? " (failed)" : "");
    std::printf("blocks announced %lld, walked %lld, progress reports %lld, last state %d\n",
                last.progress.announcedBlocks, last.progress.walkedBlocks, last.progress.reports,
                last.progress.lastState);
    if (o.nullSearcher) {
        std::printf("null searcher offered %lld blocks, %lld sectors (device %lld)\n",
                    NullSearcher::blocks, NullSearcher::sectors, device->GetTotalSectors());
    }
    std::printf("trees %d, lost-folder nodes %lld\n", last.tree.roots, last.tree.lostNodes);
    for (const auto& [type, count] : last.tree.perType)
        std::printf("nodes of searcher %d: %lld\n", type, count);
    const double plain = Median(plainRates);
    const double scan = Median(scanRates);
    if (scanRates.empty()) {
        std::printf("median: plain read %.1f MB/s, no scan completed\n", plain);
    } else {
        std::printf("median: plain read %.1f MB/s, scan %.1f MB/s, scan/plain %.0f%%\n", plain,
                    scan, plain > 0 ? 100.0 * scan / plain : 0.0);
        const double bare = Median(bareRates);
        std::printf(
            "median without the builder's pauses (%d s): scan %.1f MB/s, scan/plain "
            "%.0f%%\n",
            pauses, bare, plain > 0 ? 100.0 * bare / plain : 0.0);
    }
    if (o.unreadableOffset >= 0) {
        // Lets the relay hand over what is queued before it stops.
        for (int i = 0; i < 5000 && relay->QueuedCount() != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        relay->StopReceiveMessage();
        relay->UnregisterNotifyCenter(kCounterKey);
        std::printf("bad-sector events %lld, dropped %lld\n", badSectors.seen, badSectors.dropped);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident set %ld KiB\n", usage.ru_maxrss);
    if (o.recoverTo != nullptr) {
        std::printf("recovered %lld files and %lld empty ones, %lld failed\n", recovered.files,
                    recovered.empty, recovered.failed);
        if (recovered.incomplete != 0)
            std::printf("recovered incomplete (unreadable parts) %lld\n", recovered.incomplete);
        // The folder that mirrors each tree: the numbered folder holds one
        // folder named after the volume.
        for (const std::string& root : recovered.roots) {
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator(root, ec)) {
                if (entry.is_directory())
                    std::printf("recovered tree: %s\n", entry.path().c_str());
            }
        }
        if (recovered.failed != 0)
            return 1;
    }
    if (listFailed || saveFailed)
        return 1;
    return ResultFailed(last.result) ? 1 : 0;
}
