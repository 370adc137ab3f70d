// Result files: the records as stored, what a damaged or hostile file comes
// to, the replay into a real tree builder, and the save and load operations
// with their shared progress and busy flag.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ByteReader.h"
#include "EngineResultAdapters.h"
#include "FileNode.h"
#include "IRecoveryFilter.h"
#include "RSData.h"
#include "RecoveryOutput.h"
#include "RestoreNodes.h"
#include "SaveRestore.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "StorageDeviceData.h"
#include "platform/UserFiles.h"
#include "support/EngineRows.h"
#include "support/LockProbe.h"
#include "support/MemoryStorageDevice.h"
#include "support/TestSupport.h"

namespace {

using namespace SaveRestoreResult;

// The test volume: 512 MiB of zeros, computed as read.
constexpr long long kVolumeSectors = 1 << 20;
using velmora::test::MemoryStorageDevice;
using velmora::test::TempDir;

// ---------------------------------------------------------------------------
// Building files byte by byte

struct Bytes {
    std::vector<uint8_t> b;
    Bytes& I16(uint16_t v) { return Put(v); }
    Bytes& I32(int32_t v) { return Put(v); }
    Bytes& I64(int64_t v) { return Put(v); }
    Bytes& Raw(const void* p, size_t n) {
        const auto* c = static_cast<const uint8_t*>(p);
        b.insert(b.end(), c, c + n);
        return *this;
    }
    Bytes& Text(const std::string& s) {
        I32(static_cast<int32_t>(s.size()));
        return Raw(s.data(), s.size());
    }
    Bytes& Add(const Bytes& o) { return Raw(o.b.data(), o.b.size()); }
    template <typename T>
    Bytes& Put(T v) {
        uint8_t t[sizeof(T)];
        vk::StoreLE<T>(t, v);
        return Raw(t, sizeof t);
    }
};

struct NodeFields {
    int64_t id = 0;
    int64_t parent = 0;
    int64_t size = 0;
    int32_t dir = 0;
    int32_t deleted = 0;
    std::vector<DataRun> runs;
    int32_t runCount = -100;  // as stored; -100: runs.size()
    std::string name;
    int32_t nameLength = -100;  // as stored; -100: name.size()
    uint16_t partition = 0;
};

Bytes NodeRecord(const NodeFields& n) {
    Bytes r;
    r.I64(n.id).I64(n.parent).I64(n.size).I16(n.dir ? 0x10 : 0x20);
    r.I64(132000000000000000LL).I64(132000000010000000LL).I64(132000000020000000LL);
    r.I32(n.dir).I32(n.deleted);
    r.I32(n.runCount != -100 ? n.runCount : static_cast<int32_t>(n.runs.size()));
    r.I32(0);
    for (const DataRun& run : n.runs)
        r.I64(run.start).I64(run.length);
    r.I32(n.nameLength != -100 ? n.nameLength : static_cast<int32_t>(n.name.size()));
    r.Raw(n.name.data(), n.name.size());
    r.I32(0).I16(n.partition).I64(4096).I32(0);  // stored hidden
    return r;
}

Bytes PartitionEntry(int32_t kind, uint32_t sectorSize = 512,
                     long long totalSectors = kVolumeSectors) {
    CSearchedPartitionInfo p;
    p.partitionIndex = 0;
    p.fileSystemType = 1;
    p.sectorsPerCluster = 1;
    p.totalSectors = totalSectors;
    p.sectorSize = sectorSize;
    uint8_t image[CSearchedPartitionInfo::kImageSize];
    p.ToImage(image);
    Bytes b;
    return b.I32(kind).Raw(image, sizeof image);
}

struct RootSpec {
    std::string volumeName = "vol";
    int32_t type = SEARCHER_FAT;
    int64_t rootId = 2;
    std::vector<Bytes> partitions = {PartitionEntry(4)};
    int32_t partitionCount = -100;
    std::vector<Bytes> nodes;
    bool endMarker = true;
};

Bytes RootRecord(const RootSpec& r) {
    Bytes b;
    b.I32(1);
    NodeFields self;
    self.id = r.rootId;
    self.parent = -1;
    self.dir = 1;
    self.name = "vol(FAT)";
    b.Add(NodeRecord(self)).I32(r.type).Text(r.volumeName);
    b.I32(r.partitionCount != -100 ? r.partitionCount : static_cast<int32_t>(r.partitions.size()));
    for (const Bytes& p : r.partitions)
        b.Add(p);
    for (const Bytes& n : r.nodes)
        b.I32(0).Add(n);
    if (r.endMarker)
        b.I32(-1);
    return b;
}

// The two nodes of the usual file: a folder and a file of 100 bytes in it.
std::vector<Bytes> UsualNodes() {
    NodeFields dir{.id = 10, .parent = 2, .dir = 1, .name = "dir"};
    NodeFields file{.id = 11, .parent = 10, .size = 100, .runs = {{5, 1}}, .name = "a.txt"};
    return {NodeRecord(dir), NodeRecord(file)};
}

struct FileSpec {
    int32_t status = 1;
    int32_t version = kArchiveVersion;
    bool breakCrc = false;
    bool scanKindFrame = true;
    Bytes scanKind = Bytes().I32(8).I32(0).I32(0);
    bool deviceFrame = true;
    Bytes device;
    bool nodeFrame = true;
    Bytes nodes;
    // Replaces the length field of the frame heads (scan kind, device, nodes)
    // when set.
    std::map<int, uint32_t> frameLength;
};

Bytes UsualDevice(const std::string& name = "vol") {
    Bytes d;
    d.I64(kVolumeSectors * 512).I32(0).I32(0).I32(1).Text(name);
    d.I32(0).I32(-1).I32(0).I32(-1);
    return d;
}

Bytes UsualNodeFrame(std::vector<RootSpec> roots = {RootSpec{}}) {
    Bytes b;
    b.I64(static_cast<int64_t>(roots.size()));
    for (RootSpec& r : roots) {
        if (r.nodes.empty())
            r.nodes = UsualNodes();
        b.Add(RootRecord(r));
    }
    return b;
}

std::vector<uint8_t> MakeFile(FileSpec f) {
    if (f.device.b.empty())
        f.device = UsualDevice();
    if (f.nodes.b.empty())
        f.nodes = UsualNodeFrame();
    FILEHEADER header;
    header.status = f.status;
    header.descriptionLength = 0;
    uint8_t head[kArchiveHeaderSize];
    header.version = f.version;
    SerializeFileHeader(header, head);
    vk::StoreLE<int32_t>(head + 16, f.version);
    vk::StoreLE<int32_t>(head + 20, 0);
    const unsigned short crc = FileHeaderCrc(head);
    vk::StoreLE<int32_t>(head + 20, f.breakCrc ? crc ^ 1 : crc);
    Bytes out;
    out.Raw(head, sizeof head);
    const tagGUIDSIGN* ids[] = {&frFileSystemSearchControllerList, &frDiskDevice,
                                &frFileSystemNode};
    const Bytes* data[] = {&f.scanKind, &f.device, &f.nodes};
    const bool present[] = {f.scanKindFrame, f.deviceFrame, f.nodeFrame};
    for (int i = 0; i < 3; ++i) {
        if (!present[i])
            continue;
        out.Raw(kArchiveSignature, 16).Raw(ids[i]->bytes, 16);
        auto it = f.frameLength.find(i);
        out.Put<uint32_t>(it != f.frameLength.end() ? it->second
                                                    : static_cast<uint32_t>(data[i]->b.size()));
        out.Add(*data[i]);
    }
    return out.b;
}

// ---------------------------------------------------------------------------
// Doubles

// Keeps what the replay hands over; owns the nodes it takes.
class RecordingBuilder : public IDirecotryTreeBuilder {
public:
    ~RecordingBuilder() override {
        for (IFileNode* n : nodes)
            n->Release();
    }
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override {
        nodes.push_back(node);
        types.push_back(type);
        return 1;
    }
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override {
        roots.push_back({type, rootId});
        return 1;
    }
    void FlashBuild(_tagSearcherType type) override { built.push_back(type); }
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override {}

    std::vector<IFileNode*> nodes;
    std::vector<int> types;
    std::vector<std::pair<int, long long>> roots;
    std::vector<int> built;
};

class RecordingProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override {
        std::lock_guard<std::mutex> hold(lock);
        if (info->state == PROGRESS_RUNNING)
            maxRunningDone = std::max<long long>(maxRunningDone, info->done);
        if (info->state == PROGRESS_FINISHED) {
            ++finished;
            lastResult = static_cast<long long>(info->result);
        }
    }
    int Continued() override { return stopAfter-- > 0 ? 1 : 0; }
    int shouldBuild() override { return 1; }

    std::mutex lock;
    long long maxRunningDone = 0;
    int finished = 0;
    long long lastResult = -1;
    std::atomic<long long> stopAfter{1LL << 60};
};

// Replays into a recording builder, as a scan controller would.
class RecordingRunner : public IResultScanRunner {
public:
    void ClearData() override { ++cleared; }
    void SetImageResult(int dmg, int edi) override {
        diskImage = dmg;
        this->edi = edi;
    }
    void Replay(IStorageDevice* device, const ScanKindRecord& k, CRestoreScanSink* sink) override {
        kind = k;
        sink->SetDirecotryTreeBuilder(&builder, &progress, device);
        outcome = sink->GetOutcome();
        for (auto& [type, list] : sink->Partitions()) {
            partitions[type] = list.size();
            for (const CSearchedPartitionInfo* r : list)
                records[type].push_back(*r);
        }
    }
    RecordingBuilder builder;
    RecordingProgress progress;
    ScanKindRecord kind;
    CRestoreScanSink::Outcome outcome;
    std::map<int, size_t> partitions;
    std::map<int, std::vector<CSearchedPartitionInfo>> records;
    int cleared = 0;
    int diskImage = -1;
    int edi = -1;
};

// A FAT16 volume device named "vol" of 2048 sectors.
std::unique_ptr<MemoryStorageDevice> MakeVolume(const char* name = "vol") {
    auto device = std::make_unique<MemoryStorageDevice>(
        kVolumeSectors, 512, [](long long, uint8_t* out, size_t n) { std::memset(out, 0, n); });
    device->SetType(kDeviceVolume);
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = 1;
    record->sectorSize = 512;
    record->totalSectors = kVolumeSectors;
    record->partitionNumber = -1;
    std::snprintf(record->volumeName, sizeof record->volumeName, "%s", name);
    device->SetPrivateData(CreateVolumeDeviceData(record));
    return device;
}

CatalogueEntry VolumeEntry(const char* name = "vol") {
    return CatalogueEntry{0, 0, name, 1, kVolumeSectors * 512};
}

struct LoadResult {
    int code = -1;
    RecordingRunner runner;
};

std::unique_ptr<LoadResult> Load(const std::vector<uint8_t>& bytes, const TempDir& dir,
                                 IStorageDevice* device = nullptr,
                                 CatalogueEntry entry = VolumeEntry()) {
    const std::string path = dir / "r.Velmora";
    velmora::test::WriteFile(path, bytes);
    auto own = device ? nullptr : MakeVolume();
    IStorageDevice* d = device ? device : own.get();
    SingleDeviceCatalogue catalogue(d, entry);
    auto result = std::make_unique<LoadResult>();
    result->code = RestoreScanResult(path, nullptr, "", &catalogue, &result->runner);
    return result;
}

std::vector<std::string> Names(const RecordingBuilder& b) {
    std::vector<std::string> names;
    for (IFileNode* n : b.nodes)
        names.push_back(n->GetFileName());
    return names;
}

// ---------------------------------------------------------------------------
// Records

TEST(ResultRecords, FileNodeRecordIsStoredFieldByField) {
    FileNodeRecord r;
    r.id = 0x1122334455667788LL;
    r.parentId = -1;
    r.size = 1000;
    r.attribute = 0x0820;
    r.creationTime = 1;
    r.modificationTime = 2;
    r.accessTime = 3;
    r.directory = 0;
    r.deleted = 1;
    r.hasRunList = true;
    r.resident = 0;
    r.runs = {{7, 2}, {20, 1}};
    r.name = "ab";
    r.partitionIndex = 3;
    r.metadataSector = 99;
    r.compressed = 1;
    CRSData archive(kRSWrite);
    TempDir dir;
    const std::string path = dir / "n";
    ASSERT_TRUE(archive.StartRS(path.c_str(), 1));
    FILEHEADER header;
    header.status = 1;
    header.descriptionLength = 0;
    ASSERT_TRUE(archive.WriteFileHeader(header));
    archive.OpenFrame(frFileSystemNode);
    RestoreFileNode node(r);
    {
        FrameWriter out(&archive);
        WriteFileNode(&node, out);
        ASSERT_TRUE(out.Flush());
    }
    archive.EndRS();
    const std::vector<uint8_t> file = velmora::test::ReadFile(path);
    // Taken as a record first (as a save under the scan's tree lock does),
    // the node is stored byte for byte the same.
    {
        CRSData again(kRSWrite);
        const std::string copy = dir / "copy";
        ASSERT_TRUE(again.StartRS(copy.c_str(), 1));
        ASSERT_TRUE(again.WriteFileHeader(header));
        again.OpenFrame(frFileSystemNode);
        {
            FrameWriter out(&again);
            WriteFileNodeRecord(FileNodeRecordOf(&node), out);
            ASSERT_TRUE(out.Flush());
        }
        again.EndRS();
        EXPECT_EQ(velmora::test::ReadFile(copy), file);
    }
    ASSERT_EQ(file.size(),
              static_cast<size_t>(kArchiveHeaderSize + kFrameHeaderSize) + 88 + 32 + 2);
    const uint8_t* p = file.data() + kArchiveHeaderSize + kFrameHeaderSize;
    EXPECT_EQ(vk::LoadLE<uint32_t>(p - 4), 88u + 32 + 2);
    EXPECT_EQ(vk::LoadLE<int64_t>(p), r.id);
    EXPECT_EQ(vk::LoadLE<int64_t>(p + 8), -1);
    EXPECT_EQ(vk::LoadLE<int64_t>(p + 16), 1000);
    EXPECT_EQ(vk::LoadLE<uint16_t>(p + 24), 0x0820);
    EXPECT_EQ(vk::LoadLE<int64_t>(p + 26), 1);
    EXPECT_EQ(vk::LoadLE<int64_t>(p + 42), 3);
    EXPECT_EQ(vk::LoadLE<int32_t>(p + 54), 1);  // deleted
    EXPECT_EQ(vk::LoadLE<int32_t>(p + 58), 2);  // runs
    EXPECT_EQ(vk::LoadLE<int64_t>(p + 66), 7);
    EXPECT_EQ(vk::LoadLE<int64_t>(p + 90), 1);
    EXPECT_EQ(vk::LoadLE<int32_t>(p + 98), 2);
    EXPECT_EQ(std::memcmp(p + 102, "ab", 2), 0);
    EXPECT_EQ(vk::LoadLE<uint16_t>(p + 108), 3);
    EXPECT_EQ(vk::LoadLE<int64_t>(p + 110), 99);
    EXPECT_EQ(vk::LoadLE<int32_t>(p + 118), 1);
}

// What a record comes back as, through the node a load makes of it.
TEST(ResultRecords, NodesComeBackAsStored) {
    struct Case {
        const char* what;
        NodeFields fields;
        std::vector<DataRun> runsBack;  // empty: no run list
        bool hasList;
    };
    const Case cases[] = {
        {"no run list", {.id = 11, .parent = 10, .size = 0, .name = "empty"}, {}, false},
        {"adjacent runs are joined",
         {.id = 11, .parent = 10, .size = 3000, .runs = {{5, 2}, {7, 4}, {20, 1}}, .name = "f"},
         {{5, 6}, {20, 1}},
         true},
        {"an empty name", {.id = 11, .parent = 10, .size = 1, .runs = {{5, 1}}}, {{5, 1}}, true},
        {"70,000 runs are all kept", {}, {}, true},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what).starts_with("70,000")) {
            c.fields = NodeFields{.id = 11, .parent = 10, .size = 70000LL * 512, .name = "frag"};
            for (long long i = 0; i < 70000; ++i)
                c.fields.runs.push_back({10 + 2 * i, 1});
            c.runsBack = c.fields.runs;
        }
        RootSpec root;
        root.nodes = {NodeRecord(c.fields)};
        TempDir dir;
        auto load = Load(MakeFile({.nodes = UsualNodeFrame({root})}), dir);
        ASSERT_EQ(load->code, kResultOk);
        ASSERT_EQ(load->runner.builder.nodes.size(), 1u);
        auto* node = dynamic_cast<RestoreFileNode*>(load->runner.builder.nodes[0]);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->IsNodeShow(), 1);  // stored shown or not, every node is shown
        EXPECT_EQ(node->GetFileName(), c.fields.name);
        EXPECT_EQ(node->GetCurrentNodeID(), 11);
        EXPECT_EQ(node->GetParentNodeID(), 10);
        EXPECT_EQ(node->GetCreationTime(), 132000000000000000LL);
        EXPECT_EQ(node->GetLastAccessTime(), 132000000020000000LL);
        EXPECT_EQ(node->GetMetadataStartPosition(), 4096);
        ASSERT_EQ(node->GetDataRunList() != nullptr, c.hasList);
        std::vector<DataRun> back;
        if (IDataRunList* list = node->GetDataRunList()) {
            for (const DataRun* r = list->GetFirst(); r; r = list->GetNext())
                back.push_back(*r);
        }
        ASSERT_EQ(back.size(), c.runsBack.size());
        for (size_t i = 0; i < back.size(); ++i) {
            EXPECT_EQ(back[i].start, c.runsBack[i].start);
            EXPECT_EQ(back[i].length, c.runsBack[i].length);
        }
        // A clone is a node of its own with the same fields and runs.
        std::unique_ptr<IFileNode, void (*)(IFileNode*)> clone(node->Clone(),
                                                               [](IFileNode* n) { n->Release(); });
        EXPECT_EQ(clone->GetFileSize(), node->GetFileSize());
        EXPECT_EQ(std::string(clone->GetFileName()), node->GetFileName());
        EXPECT_EQ(dynamic_cast<CFileNode*>(clone.get())->GetDataRunList() != nullptr, c.hasList);
    }
}

TEST(ResultRecords, PartitionImageComesBackAsABaseRecord) {
    // A subclass's kind still reads back as the base record with the stored
    // fields and no context.
    CSearchedPartitionInfo p(4096);
    p.partitionIndex = 7;
    p.fileSystemType = 3;
    p.sectorsPerCluster = 8;
    p.runOriginSector = 63;
    p.startSector = 63;
    p.totalSectors = 100000;
    p.fsValue = 55;
    p.score = 0.75;
    uint8_t image[CSearchedPartitionInfo::kImageSize];
    p.ToImage(image);
    RootSpec root;
    root.partitions = {Bytes().I32(0).Raw(image, sizeof image)};
    TempDir dir;
    auto load = Load(MakeFile({.nodes = UsualNodeFrame({root})}), dir);
    ASSERT_EQ(load->code, kResultOk);
    ASSERT_EQ(load->runner.records[SEARCHER_FAT].size(), 1u);
    CSearchedPartitionInfo back = load->runner.records[SEARCHER_FAT][0];
    EXPECT_EQ(back.GetType(), 4);
    EXPECT_EQ(back.fileSystemContext, nullptr);
    EXPECT_EQ(back.partitionIndex, 7);
    EXPECT_EQ(back.fileSystemType, 3);
    EXPECT_EQ(back.sectorsPerCluster, 8u);
    EXPECT_EQ(back.runOriginSector, 63);
    EXPECT_EQ(back.startSector, 63);
    EXPECT_EQ(back.sectorSize, 4096u);
    EXPECT_EQ(back.totalSectors, 100000);
    EXPECT_EQ(back.fsValue, 55);
    EXPECT_EQ(back.score, 0.75);
}

// Compressed data is read by the tree's root type: NTFS through its reader,
// HFS+ only through a volume a load opened, nothing under other roots or
// without a root.
TEST(ResultRecords, CompressedReaderFollowsTheRootType) {
    RestoredVolumeCache::Clear();
    struct Case {
        _tagSearcherType root;  // SEARCHER_NONE: no root at all
        bool reader;
    };
    const Case cases[] = {{SEARCHER_NTFS, true},
                          {SEARCHER_HFSPLUS, false},
                          {SEARCHER_FAT, false},
                          {SEARCHER_APFS, false},
                          {SEARCHER_NONE, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root);
        FileNodeRecord r;
        r.id = 11;
        r.parentId = 2;
        r.size = 10;
        r.compressed = 1;
        r.name = "c.txt";
        auto* node = new RestoreFileNode(r);
        auto* root = new CFilesystemNode("root", "vol", c.root, 2);
        if (c.root != SEARCHER_NONE)
            ASSERT_TRUE(root->AddChild(node));
        IFileReader* reader = node->CreateCompressFileReader(nullptr);
        EXPECT_EQ(reader != nullptr, c.reader);
        if (reader)
            reader->Release();
        if (c.root != SEARCHER_NONE)
            root->RemoveChild(node);
        node->Release();
        root->Release();
    }
}

// ---------------------------------------------------------------------------
// Damaged and hostile files

TEST(HostileResultFile, EachGivesItsCodeAndKeepsWhatPasses) {
    auto withDevice = [](Bytes d) { return FileSpec{.device = std::move(d)}; };
    auto deviceWith = [](std::function<void(Bytes&)> tail, int32_t nameLength = 3,
                         const std::string& name = "vol") {
        Bytes d;
        d.I64(kVolumeSectors * 512)
            .I32(0)
            .I32(0)
            .I32(1)
            .I32(nameLength)
            .Raw(name.data(), name.size());
        tail(d);
        return d;
    };
    auto nodesWith = [](std::function<void(RootSpec&)> change) {
        RootSpec root;
        root.nodes = UsualNodes();
        change(root);
        return FileSpec{.nodes = UsualNodeFrame({root})};
    };
    auto rawNodes = [](Bytes b) { return FileSpec{.nodes = std::move(b)}; };
    CDMGDeviceInfoStruct dmg{};
    dmg.sectorSize = 512;
    dmg.totalSectors = 1;
    std::snprintf(dmg.filePath, sizeof dmg.filePath, "%s", "/etc/shadow");
    // Sized as the node reports itself, so only its kind refuses it.
    CDMGDeviceInfoStruct node = dmg;
    node.totalSectors = 0;
    std::snprintf(node.filePath, sizeof node.filePath, "%s", "/dev/zero");
    CDMGDeviceInfoStruct moved = dmg;
    std::snprintf(moved.filePath, sizeof moved.filePath, "%s", "/nonexistent/moved.img");
    auto dmgDevice = [&](const CDMGDeviceInfoStruct& r) {
        Bytes d;
        d.I64(512).I32(-1).I32(-1).I32(10).Text("image");
        d.I32(1).I32(sizeof r).Raw(&r, sizeof r).I32(0).I32(-1);
        return FileSpec{.device = d};
    };
    NodeFields negative{.id = 12, .parent = 10, .size = -5, .runs = {{5, 1}}, .name = "neg"};
    NodeFields lostFiles{.id = -1, .parent = -1, .dir = 1, .name = "Other lost files"};
    NodeFields hugeRuns{.id = 12, .parent = 10, .size = 5, .runCount = 1000000000, .name = "x"};
    NodeFields hugeName{.id = 12, .parent = 10, .size = 5, .name = "x", .nameLength = 2000000000};
    NodeFields badRunCount{.id = 12, .parent = 10, .size = 5, .runCount = -3, .name = "x"};
    std::string longName(600, 'n');
    NodeFields named600{.id = 12, .parent = 10, .size = 5, .runs = {{6, 1}}, .name = longName};
    NodeFields slashes{.id = 13, .parent = 10, .size = 5, .runs = {{7, 1}}, .name = "../../x/y"};
    NodeFields nul{
        .id = 14, .parent = 10, .size = 5, .runs = {{8, 1}}, .name = std::string("a\0b", 3)};
    NodeFields badUtf8{.id = 15, .parent = 10, .size = 5, .runs = {{9, 1}}, .name = "\xff\xfe."};
    RootSpec unended;
    unended.nodes = UsualNodes();
    unended.endMarker = false;

    struct Case {
        const char* what;
        FileSpec file;
        int code;
        std::vector<std::string> names;  // the nodes handed to the builder
        int partitions = -1;             // records kept for the root; -1: not checked
    };
    std::vector<Case> cases = {
        {"a sound file", {}, kResultOk, {"dir", "a.txt"}},
        {"a header CRC that does not match", {.breakCrc = true}, kResultBadHeader, {}},
        {"version 5801", {.version = 5801}, kResultBadHeader, {}},
        {"status 0", {.status = 0}, kResultBadHeader, {}},
        {"status 5", {.status = 5}, kResultBadHeader, {}},
        {"no scan-kind frame", {.scanKindFrame = false}, kResultNoScanKind, {}},
        {"a scan-kind length of 9",
         {.scanKind = Bytes().I32(9).I32(0).I32(0).I32(0)},
         kResultNoScanKind,
         {}},
        {"a scan kind of 7", {.scanKind = Bytes().I32(8).I32(7).I32(0)}, kResultNoScanKind, {}},
        {"a scan-kind frame longer than the file",
         {.frameLength = {{0, 0x7FFFFFF0u}}},
         kResultNoScanKind,
         {}},
        {"no device frame", {.deviceFrame = false}, kResultBadDevice, {}},
        {"a negative name length",
         withDevice(deviceWith([](Bytes&) {}, -1, "")),
         kResultBadDevice,
         {}},
        {"a name length of 5000",
         withDevice(deviceWith([](Bytes&) {}, 5000, "")),
         kResultBadDevice,
         {}},
        {"a name past the frame",
         withDevice(deviceWith([](Bytes&) {}, 4000, "v")),
         kResultBadDevice,
         {}},
        {"L of 100",
         withDevice(deviceWith([](Bytes& d) {
             d.I32(1).I32(100).Raw(std::string(100, 'x').data(), 100).I32(0).I32(-1);
         })),
         kResultBadDevice,
         {}},
        {"M of 5",
         withDevice(deviceWith([](Bytes& d) { d.I32(0).I32(-1).I32(1).I32(5); })),
         kResultBadDevice,
         {}},
        {"L of 2088 cut short",
         withDevice(deviceWith([](Bytes& d) { d.I32(1).I32(2088).Raw("abc", 3); })),
         kResultBadDevice,
         {}},
        {"an image record naming /etc/shadow", dmgDevice(dmg), kResultNoDevice, {}},
        {"an image record naming a device node", dmgDevice(node), kResultNoDevice, {}},
        {"an image moved since the save", dmgDevice(moved), kResultNoDevice, {}},
        {"a device of another name, file system or size",
         withDevice([] {
             Bytes d;
             d.I64(kVolumeSectors * 1024).I32(3).I32(1).I32(1).Text("vol");
             return d.I32(0).I32(-1).I32(0).I32(-1);
         }()),
         kResultNoDevice,
         {}},
        {"a node frame longer than the file",
         {.frameLength = {{2, 0xFFFFFFFFu}}},
         kResultDamaged,
         {}},
        {"no node frame", {.nodeFrame = false}, kResultDamaged, {}},
        {"a negative root count", rawNodes(Bytes().I64(-1)), kResultDamaged, {}},
        {"more roots than the file holds",
         rawNodes(Bytes().I64(1000).Add(RootRecord([] {
             RootSpec r;
             r.nodes = UsualNodes();
             return r;
         }()))),
         kResultDamaged,
         {"dir", "a.txt"}},
        {"a partition count past the file",
         nodesWith([](RootSpec& r) { r.partitionCount = 100000; }),
         kResultDamaged,
         {}},
        {"a negative partition count",
         nodesWith([](RootSpec& r) { r.partitionCount = -1; }),
         kResultDamaged,
         {}},
        {"a partition of kind 7 is consumed and dropped",
         nodesWith([](RootSpec& r) {
             r.partitions = {PartitionEntry(7), PartitionEntry(4)};
         }),
         kResultDamaged,
         {"dir", "a.txt"},
         1},
        {"600 partition entries are all read",
         nodesWith([](RootSpec& r) { r.partitions.assign(600, PartitionEntry(1)); }),
         kResultOk,
         {"dir", "a.txt"},
         600},
        {"a partition of sector size 3000 is dropped",
         nodesWith([](RootSpec& r) {
             r.partitions = {PartitionEntry(4, 3000), PartitionEntry(4, 4096)};
         }),
         kResultDamaged,
         {"dir", "a.txt"},
         1},
        {"a run count of a billion",
         nodesWith([&](RootSpec& r) { r.nodes.push_back(NodeRecord(hugeRuns)); }),
         kResultDamaged,
         {"dir", "a.txt"}},
        {"a negative run count",
         nodesWith([&](RootSpec& r) { r.nodes.push_back(NodeRecord(badRunCount)); }),
         kResultDamaged,
         {"dir", "a.txt"}},
        {"a name length of two billion",
         nodesWith([&](RootSpec& r) { r.nodes.push_back(NodeRecord(hugeName)); }),
         kResultDamaged,
         {"dir", "a.txt"}},
        {"a negative size drops the node",
         nodesWith([&](RootSpec& r) { r.nodes.push_back(NodeRecord(negative)); }),
         kResultDamaged,
         {"dir", "a.txt"}},
        {"the tree builder's folder of lost files, -1 under -1, is no damage",
         nodesWith([&](RootSpec& r) { r.nodes.push_back(NodeRecord(lostFiles)); }),
         kResultOk,
         {"dir", "a.txt", "Other lost files"}},
        {"names of 600 bytes, with slashes, NUL and bad UTF-8 are kept",
         nodesWith([&](RootSpec& r) {
             for (const NodeFields* n : {&named600, &slashes, &nul, &badUtf8})
                 r.nodes.push_back(NodeRecord(*n));
         }),
         kResultOk,
         {"dir", "a.txt", longName, "../../x/y", "a", "\xff\xfe."}},
        {"a marker of 7",
         rawNodes(Bytes().I64(1).Add(RootRecord(unended)).I32(7)),
         kResultDamaged,
         {"dir", "a.txt"}},
        {"a root without its end marker",
         nodesWith([](RootSpec& r) { r.endMarker = false; }),
         kResultDamaged,
         {"dir", "a.txt"}},
        {"a searcher type of 99 is read and dropped",
         nodesWith([](RootSpec& r) { r.type = 99; }),
         kResultDamaged,
         {}},
    };
    // A volume name of 600 bytes before the live volume's root: read, not
    // replayed, and the root after it still found.
    {
        RootSpec other;
        other.volumeName = std::string(600, 'v');
        RootSpec mine;
        NodeFields file{.id = 21, .parent = 2, .size = 10, .runs = {{9, 1}}, .name = "mine"};
        mine.nodes = {NodeRecord(file)};
        cases.push_back({"a 600-byte volume name before the volume's own root",
                         {.nodes = UsualNodeFrame({other, mine})},
                         kResultOk,
                         {"mine"}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        auto load = Load(MakeFile(c.file), dir);
        EXPECT_EQ(load->code, c.code);
        EXPECT_EQ(Names(load->runner.builder), c.names);
        if (c.partitions >= 0)
            EXPECT_EQ(load->runner.partitions[SEARCHER_FAT], static_cast<size_t>(c.partitions));
        // Every root given to the builder was built, also after damage.
        EXPECT_EQ(load->runner.builder.built.size(), load->runner.builder.roots.size());
    }
}

// A volume without a label (usual on Linux) gets the tree builder's name
// for a nameless device on its roots; its saved result loads back. Roots
// saved under another volume's name stay out, and a labelled volume takes
// only its own.
TEST(ResultOperations, AVolumeWithoutALabelLoadsItsOwnRoots) {
    const struct {
        const char* liveName;
        const char* savedUnder;
        int code;
        std::vector<std::string> names;
    } cases[] = {
        {"", "Disk", kResultOk, {"dir", "a.txt"}},
        {"", "vol", kResultNoDevice, {}},
        {"vol", "Disk", kResultNoDevice, {}},
        {"vol", "vol", kResultOk, {"dir", "a.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.liveName) + " <- " + c.savedUnder);
        RootSpec root;
        root.volumeName = c.savedUnder;
        root.nodes = UsualNodes();
        TempDir dir;
        auto live = MakeVolume(c.liveName);
        auto load = Load(MakeFile({.nodes = UsualNodeFrame({root})}), dir, live.get(),
                         VolumeEntry(c.liveName));
        EXPECT_EQ(load->code, c.code);
        EXPECT_EQ(Names(load->runner.builder), c.names);
    }
}

// A run that would read outside the device is kept as lost, and the node
// marked damaged, so its recovery is reported incomplete.
TEST(HostileResultFile, RunsOutsideTheDeviceBecomeLost) {
    NodeFields far{
        .id = 16, .parent = 2, .size = 1024, .runs = {{5, 1}, {kVolumeSectors, 1}}, .name = "far"};
    RootSpec root;
    root.nodes = {NodeRecord(far)};
    TempDir dir;
    auto load = Load(MakeFile({.nodes = UsualNodeFrame({root})}), dir);
    ASSERT_EQ(load->code, kResultOk);
    ASSERT_EQ(load->runner.builder.nodes.size(), 1u);
    auto* node = dynamic_cast<CFileNode*>(load->runner.builder.nodes[0]);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->IsDamaged(), 1);
    IDataRunList* list = node->GetDataRunList();
    ASSERT_NE(list, nullptr);
    const DataRun* first = list->GetFirst();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->start, 5);
    const DataRun* second = list->GetNext();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->IsLost());
}

// Damage from the generator beside the fixtures: a file that leaves any
// record out, or whose frames no longer match their checks, ends with the
// damaged code and says how many records it left out; a file of an earlier
// version without checks still loads (and a flipped byte in it still goes
// unseen, which the checks are there for).
TEST(HostileResultFile, GeneratedDamageIsReportedWithItsCount) {
    TempDir dir;
    ASSERT_TRUE(velmora::test::RunProgram(
        {"python3", velmora::test::SourceDir() + "/tests/fixtures/results/hostile_results.py",
         dir.path()}));
    const auto manifest = nlohmann::json::parse(velmora::test::ReadText(dir / "manifest.json"));
    ASSERT_GE(manifest["files"].size(), 7u);
    for (const auto& f : manifest["files"]) {
        const std::string name = f["path"];
        SCOPED_TRACE(name);
        auto device = MakeVolume();
        SingleDeviceCatalogue catalogue(device.get(), VolumeEntry());
        RecordingRunner runner;
        RecordingProgress progress;
        const int code = RestoreScanResult(dir / name, &progress, "", &catalogue, &runner);
        EXPECT_EQ(code, f["code"].get<int>());
        EXPECT_EQ(progress.lastResult, code);
        const LoadReport report = LastLoadReport();
        EXPECT_EQ(report.code, code);
        EXPECT_EQ(report.recordsDropped, f["records_dropped"].get<long long>());
        EXPECT_EQ(report.checkFailed, f["check_failed"].get<bool>());
        EXPECT_EQ(Names(runner.builder), f["names"].get<std::vector<std::string>>());
        EXPECT_EQ(report.nodesKept, static_cast<long long>(runner.builder.nodes.size()));
    }
}

// The file cut at every frame boundary, and in the middle of the nodes.
TEST(HostileResultFile, TruncatedAtEveryFrameBoundary) {
    const std::vector<uint8_t> whole = MakeFile({});
    const size_t scanKind = kArchiveHeaderSize + kFrameHeaderSize + 12;
    const size_t device = scanKind + kFrameHeaderSize + UsualDevice().b.size();
    struct Cut {
        size_t at;
        int code;
    };
    const Cut cuts[] = {
        {0, kResultBadHeader},
        {100, kResultBadHeader},
        {kArchiveHeaderSize, kResultNoScanKind},
        {kArchiveHeaderSize + 20, kResultNoScanKind},
        {scanKind, kResultBadDevice},
        {scanKind + kFrameHeaderSize + 5, kResultBadDevice},
        {device, kResultDamaged},
        {device + kFrameHeaderSize + 8, kResultDamaged},
        {whole.size() - 1, kResultDamaged},
        {whole.size(), kResultOk},
    };
    for (const Cut& c : cuts) {
        SCOPED_TRACE(c.at);
        TempDir dir;
        auto load = Load({whole.begin(), whole.begin() + static_cast<long>(c.at)}, dir);
        EXPECT_EQ(load->code, c.code);
    }
}

// The program runs as root for a user: an image a result file names is
// taken only when that user may read it (root started directly reads as
// root).
TEST(HostileResultFile, ImageRecordsOnlyForFilesTheUserMayRead) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to read as another user";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string image = dir / "disk.img";
    velmora::test::WriteFile(image, std::vector<uint8_t>(4096, 0));
    CDMGDeviceInfoStruct info{};
    info.sectorSize = 512;
    info.totalSectors = 8;
    info.fileSize = 4096;
    std::snprintf(info.filePath, sizeof info.filePath, "%s", image.c_str());
    struct Case {
        const char* pkexecUid;  // null: root started directly
        mode_t mode;
        bool accepted;
    } const cases[] = {
        {"65534", 0600, false}, {"65534", 0644, true},       {nullptr, 0600, true},
        {"0", 0600, true},      {"4000000000", 0644, false},  // no such user
    };
    velmora::test::ScopedEnv sudo("SUDO_UID", nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << (c.pkexecUid ? c.pkexecUid : "root") << " mode " << std::oct << c.mode);
        velmora::test::ScopedEnv user("PKEXEC_UID", c.pkexecUid);
        ASSERT_EQ(::chmod(image.c_str(), c.mode), 0);
        EXPECT_EQ(CheckStoredDmgRecord(info), c.accepted);
        CEDIDeviceInfoStruct edi{};
        edi.sectorSize = 512;
        edi.totalSectors = 8;
        EXPECT_EQ(CheckStoredEdiRecord(edi, image), c.accepted);
    }
    // The checking thread's rights stay its own.
    EXPECT_EQ(::access(image.c_str(), R_OK), 0);
}

// Only a regular file is read as a result file.
TEST(HostileResultFile, OnlyRegularFilesAreOpened) {
    auto device = MakeVolume();
    SingleDeviceCatalogue catalogue(device.get(), VolumeEntry());
    for (const char* path : {"/dev/zero", "/nonexistent.Velmora", "/tmp"}) {
        SCOPED_TRACE(path);
        RecordingRunner runner;
        EXPECT_EQ(RestoreScanResult(path, nullptr, "", &catalogue, &runner), kResultCannotOpen);
    }
}

// ---------------------------------------------------------------------------
// Replay into the engine's tree builder

class ResultReplay : public ::testing::Test {
protected:
    // Loads the node frame through a quick-scan controller over the volume.
    std::vector<IFileNode*> Replay(Bytes nodes, int* code) {
        velmora::test::ScopedEngineRows rows;
        IRecoveryFilter* filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        const std::string path = dir_ / "r.Velmora";
        velmora::test::WriteFile(path, MakeFile({.nodes = std::move(nodes)}));
        SingleDeviceCatalogue catalogue(device_.get(), VolumeEntry());
        runner_ = std::make_unique<EngineReplayRunner>(&tree_);
        *code = RestoreScanResult(path, nullptr, "", &catalogue, runner_.get());
        return tree_.shown;
    }

    struct Tree : IDrirectoryTree {
        void ShowNodes(IFileNode** nodes, unsigned count, int) override {
            shown.insert(shown.end(), nodes, nodes + count);
        }
        void ShowFilesystemNode(IFilesystemNode*) override { ++roots; }
        std::vector<IFileNode*> shown;
        int roots = 0;
    };
    TempDir dir_;
    std::unique_ptr<MemoryStorageDevice> device_ = MakeVolume();
    Tree tree_;
    std::unique_ptr<EngineReplayRunner> runner_;
};

TEST_F(ResultReplay, CyclesAndDeepChainsEndWithoutHarm) {
    RootSpec root;
    // Two folders naming each other as parent, and a chain of 100,000
    // folders below the root.
    root.nodes.push_back(NodeRecord({.id = 100, .parent = 101, .dir = 1, .name = "c1"}));
    root.nodes.push_back(NodeRecord({.id = 101, .parent = 100, .dir = 1, .name = "c2"}));
    constexpr int kDepth = 100000;
    for (int i = 0; i < kDepth; ++i) {
        root.nodes.push_back(
            NodeRecord({.id = 1000 + i, .parent = i == 0 ? 2 : 999 + i, .dir = 1, .name = "d"}));
    }
    root.nodes.push_back(NodeRecord(
        {.id = 5, .parent = 999 + kDepth, .size = 10, .runs = {{9, 1}}, .name = "bottom.txt"}));
    int code = -1;
    std::vector<IFileNode*> shown = Replay(UsualNodeFrame({root}), &code);
    EXPECT_EQ(code, kResultOk);
    bool bottom = false;
    for (IFileNode* n : shown)
        bottom = bottom || std::string(n->GetFileName()) == "bottom.txt";
    EXPECT_TRUE(bottom);
}

// A name from the file cannot lead a recovered file out of the destination.
TEST_F(ResultReplay, RecoveredNamesStayInsideTheDestination) {
    RootSpec root;
    root.nodes.push_back(NodeRecord({.id = 10, .parent = 2, .dir = 1, .name = ".."}));
    root.nodes.push_back(NodeRecord(
        {.id = 11, .parent = 10, .size = 10, .runs = {{9, 1}}, .name = "sub/../../evil"}));
    root.nodes.push_back(NodeRecord(
        {.id = 12, .parent = 10, .size = 10, .runs = {{9, 1}}, .name = std::string("a\0/b", 4)}));
    int code = -1;
    std::vector<IFileNode*> shown = Replay(UsualNodeFrame({root}), &code);
    ASSERT_EQ(code, kResultOk);
    const std::string destination = dir_ / "out";
    std::filesystem::create_directory(destination);
    velmora::recovery::RecoveryPathBuilder paths(destination);
    int files = 0;
    for (IFileNode* n : shown) {
        if (n->IsDirectory())
            continue;
        const std::string path = paths.PathFor(n);
        ASSERT_FALSE(path.empty()) << n->GetFileName();
        const std::string canonical = std::filesystem::weakly_canonical(path).string();
        EXPECT_EQ(canonical.rfind(destination + "/", 0), 0u) << path;
        ++files;
    }
    EXPECT_EQ(files, 2);
}

// ---------------------------------------------------------------------------
// The operations

// Three roots, the middle one holding `nodes` files.
class GeneratedSource : public IScanResultSource {
public:
    explicit GeneratedSource(int nodes) {
        for (int r = 0; r < 3; ++r) {
            auto* root = new CFilesystemNode("root", "vol", SEARCHER_FAT, 2);
            roots_.push_back(root);
        }
        for (int i = 0; i < nodes; ++i) {
            FileNodeRecord f;
            f.id = 100 + i;
            f.parentId = 2;
            f.size = 1;
            f.name = "f" + std::to_string(i);
            auto* n = new RestoreFileNode(f);
            roots_[1]->AddChild(n);
            children_.push_back(n);
        }
    }
    ~GeneratedSource() override {
        for (CFileNode* c : children_) {
            roots_[1]->RemoveChild(c);
            c->Release();
        }
        for (CFilesystemNode* r : roots_)
            r->Release();
    }
    ScanKindRecord ScanKind() override { return {0, 0}; }
    DiskVolumeRecord DeviceRecord() override {
        DiskVolumeRecord r;
        r.size = kVolumeSectors * 512;
        r.diskIndex = 0;
        r.volumeIndex = 0;
        r.fileSystem = 1;
        r.name = "vol";
        return r;
    }
    std::vector<SavedRoot> Roots() override {
        std::vector<SavedRoot> out;
        for (CFilesystemNode* r : roots_)
            out.push_back({r, {}});
        return out;
    }

private:
    std::vector<CFilesystemNode*> roots_;
    std::vector<CFileNode*> children_;
};

TEST(ResultOperations, SaveAndLoadGiveBackTheNodesWithProgressBelow99) {
    TempDir dir;
    const std::string path = dir / "r.Velmora";
    GeneratedSource source(2000);
    RecordingProgress saving;
    ASSERT_EQ(SaveScanResult(path, &saving, &source), kResultOk);
    EXPECT_EQ(saving.finished, 1);
    EXPECT_EQ(saving.lastResult, 0);
    EXPECT_LE(saving.maxRunningDone, 98);

    auto device = MakeVolume();
    SingleDeviceCatalogue catalogue(device.get(), VolumeEntry());
    RecordingRunner runner;
    RecordingProgress loading;
    ASSERT_EQ(RestoreScanResult(path, &loading, "", &catalogue, &runner), kResultOk);
    EXPECT_EQ(runner.cleared, 1);
    EXPECT_EQ(runner.builder.nodes.size(), 2000u);
    EXPECT_EQ(runner.builder.roots.size(), 3u);
    EXPECT_EQ(loading.lastResult, 0);
    EXPECT_LE(loading.maxRunningDone, 98);
}

using velmora::test::HeldElsewhere;

// The browser and the picture loaders read the scan's nodes while a save
// runs, and the scan's tree builder changed them under its tree lock: the
// save copies each folder's records under that lock and writes them (to a
// disk that may be slow) without it.
TEST(ResultOperations, ASaveReadsNodesUnderTheTreeLockAndWritesWithoutIt) {
    std::mutex treeLock;
    class ProbeNode : public RestoreFileNode {
    public:
        ProbeNode(const FileNodeRecord& r, std::mutex& lock, std::vector<bool>& held)
            : RestoreFileNode(r), lock_(lock), held_(held) {}
        const char* GetFileName() override {
            held_.push_back(HeldElsewhere(lock_));
            return RestoreFileNode::GetFileName();
        }

    private:
        std::mutex& lock_;
        std::vector<bool>& held_;
    };
    class LockedSource : public GeneratedSource {
    public:
        explicit LockedSource(std::mutex& lock) : GeneratedSource(0), lock_(lock) {}
        std::mutex* NodeLock() override { return &lock_; }

    private:
        std::mutex& lock_;
    };
    class ProbingProgress : public RecordingProgress {
    public:
        explicit ProbingProgress(std::mutex& lock) : lock_(lock) {}
        int Continued() override {
            held.push_back(HeldElsewhere(lock_));
            return 1;
        }
        std::vector<bool> held;

    private:
        std::mutex& lock_;
    };
    std::vector<bool> heldAtRead;
    std::vector<std::unique_ptr<ProbeNode>> nodes;
    LockedSource source(treeLock);
    IFileNode* root = source.Roots().at(1).root;
    for (int i = 0; i < 3; ++i) {
        FileNodeRecord f;
        f.id = 100 + i;
        f.parentId = 2;
        f.size = 1;
        f.hasRunList = true;
        f.runs = {{10 + i, 1}};
        f.name = "p" + std::to_string(i);
        nodes.push_back(std::make_unique<ProbeNode>(f, treeLock, heldAtRead));
        root->AddChild(nodes.back().get());
    }
    TempDir dir;
    ProbingProgress saving(treeLock);
    ASSERT_EQ(SaveScanResult(dir / "r.Velmora", &saving, &source), kResultOk);
    for (auto& n : nodes)
        static_cast<CFileNode*>(root)->RemoveChild(n.get());
    ASSERT_EQ(heldAtRead.size(), 3u);
    EXPECT_EQ(heldAtRead, std::vector<bool>(3, true));
    ASSERT_FALSE(saving.held.empty());
    EXPECT_EQ(saving.held, std::vector<bool>(saving.held.size(), false));
}

// What the program saves carries checks over its frames: the file loads
// whole, and any one byte flipped in a frame makes it damaged, never
// another result.
TEST(HostileResultFile, AFlippedByteAnywhereInASavedFileIsFound) {
    TempDir dir;
    const std::string path = dir / "r.Velmora";
    GeneratedSource source(3);
    ASSERT_EQ(SaveScanResult(path, nullptr, &source), kResultOk);
    const std::vector<uint8_t> saved = velmora::test::ReadFile(path);
    auto device = MakeVolume();
    SingleDeviceCatalogue catalogue(device.get(), VolumeEntry());
    {
        RecordingRunner runner;
        ASSERT_EQ(RestoreScanResult(path, nullptr, "", &catalogue, &runner), kResultOk);
        EXPECT_EQ(runner.builder.nodes.size(), 3u);
    }
    // Every byte after the header (whose own CRC guards it), frame heads
    // and the check frame included.
    for (size_t at = kArchiveHeaderSize; at < saved.size(); ++at) {
        std::vector<uint8_t> bytes = saved;
        bytes[at] ^= 0x10;
        velmora::test::WriteFile(path, bytes);
        RecordingRunner runner;
        const int code = RestoreScanResult(path, nullptr, "", &catalogue, &runner);
        ASSERT_NE(code, kResultOk) << "byte " << at;
        ASSERT_TRUE(runner.builder.nodes.empty()) << "byte " << at;
    }
}

// A stopped save leaves no file that looks like a whole result; a save that
// cannot write all of it reports that and leaves no file either.
TEST(ResultOperations, UnfinishedSavesLeaveNoFile) {
    TempDir dir;
    const std::string path = dir / "r.Velmora";
    GeneratedSource source(5000);
    RecordingProgress stopping;
    stopping.stopAfter = 100;
    EXPECT_EQ(SaveScanResult(path, &stopping, &source), kResultCancelled);
    EXPECT_EQ(stopping.lastResult, kResultCancelled);
    EXPECT_FALSE(std::filesystem::exists(path));

    // A file size limit stands for a full disk.
    struct sigaction ignore {
    }, saved{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &saved);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    RecordingProgress full;
    const int code = SaveScanResult(path, &full, &source);
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &saved, nullptr);
    EXPECT_EQ(code, kResultCannotOpen);
    EXPECT_EQ(full.lastResult, kResultCannotOpen);
    EXPECT_FALSE(std::filesystem::exists(path));
}

// A result is never written through a link or into a device node.
TEST(ResultOperations, SaveRefusesLinksAndDevices) {
    TempDir dir;
    GeneratedSource source(1);
    const std::string target = dir / "target";
    velmora::test::WriteFile(target, std::string("keep"));
    const std::string link = dir / "link.Velmora";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(SaveScanResult(link, nullptr, &source), kResultCannotOpen);
    EXPECT_EQ(velmora::test::ReadText(target), "keep");
    EXPECT_EQ(SaveScanResult("/dev/null", nullptr, &source), kResultCannotOpen);
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// The names in a folder.
std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

int FailingSync(int) {
    errno = EIO;
    return -1;
}

// Saving over an older result: whatever stops the new one (the disk gives
// back an error only at the sync, the disk is full, the user stops), the
// older result is still there whole, the failure is reported, and nothing
// else is left beside it.
TEST(ResultOperations, AFailedSaveKeepsTheResultItWouldHaveReplaced) {
    struct Case {
        const char* what;
        bool failSync;
        rlim_t sizeLimit;  // 0: none
        int stopAfter;     // 0: never
        int code;
    };
    const Case cases[] = {
        {"sync fails", true, 0, 0, kResultCannotOpen},
        {"disk full", false, 4096, 0, kResultCannotOpen},
        {"stopped", false, 0, 100, kResultCancelled},
    };
    GeneratedSource small(10);
    GeneratedSource big(5000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir / "r.Velmora";
        ASSERT_EQ(SaveScanResult(path, nullptr, &small), kResultOk);
        const std::string before = velmora::test::ReadText(path);

        struct sigaction ignore {
        }, saved{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &saved);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        if (c.sizeLimit != 0) {
            rlimit limited = old;
            limited.rlim_cur = c.sizeLimit;
            setrlimit(RLIMIT_FSIZE, &limited);
        }
        if (c.failSync)
            velmora::platform::SetSyncFunctionForTests(&FailingSync);
        RecordingProgress progress;
        if (c.stopAfter != 0)
            progress.stopAfter = c.stopAfter;
        const int code = SaveScanResult(path, &progress, &big);
        velmora::platform::SetSyncFunctionForTests(nullptr);
        setrlimit(RLIMIT_FSIZE, &old);
        sigaction(SIGXFSZ, &saved, nullptr);

        EXPECT_EQ(code, c.code);
        EXPECT_EQ(progress.lastResult, c.code);
        EXPECT_EQ(velmora::test::ReadText(path), before);
        EXPECT_EQ(NamesIn(dir.path()), std::vector<std::string>{"r.Velmora"});
    }
}

// The same on a real, nearly full file system (a small tmpfs), where the
// disk itself runs out: root only, as mounting is.
TEST(ResultOperations, ANearlyFullDiskKeepsTheOlderResult) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    TempDir mount;
    if (::mount("tmpfs", mount.path().c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here: " << std::strerror(errno);
    const std::string path = mount / "r.Velmora";
    GeneratedSource small(10);
    GeneratedSource big(20000);
    ASSERT_EQ(SaveScanResult(path, nullptr, &small), kResultOk);
    const std::string before = velmora::test::ReadText(path);
    // Filled up to a few blocks: the older result fits, the new one does not.
    velmora::test::WriteFile(mount / "filler", std::string(200 * 1024, 'x'));
    RecordingProgress progress;
    EXPECT_EQ(SaveScanResult(path, &progress, &big), kResultCannotOpen);
    EXPECT_EQ(progress.lastResult, kResultCannotOpen);
    EXPECT_EQ(velmora::test::ReadText(path), before);
    auto names = NamesIn(mount.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"filler", "r.Velmora"}));
    ::umount2(mount.path().c_str(), MNT_DETACH);
}

// Run as root for a user, a result is written as that user: into a folder
// of theirs it is theirs; into a folder they may not write, it is refused.
TEST(ResultOperations, ResultsAreWrittenAsTheInvokingUser) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to act for another user";
    velmora::test::ScopedEnv pkexec("PKEXEC_UID", nullptr), uid("SUDO_UID", "65534"),
        gid("SUDO_GID", "65534");
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    ASSERT_EQ(::mkdir((dir / "theirs").c_str(), 0755), 0);
    ASSERT_EQ(::chown((dir / "theirs").c_str(), 65534, 65534), 0);
    GeneratedSource source(3);
    ASSERT_EQ(SaveScanResult(dir / "theirs/r.Velmora", nullptr, &source), kResultOk);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "theirs/r.Velmora").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(SaveScanResult(dir / "r.Velmora", nullptr, &source), kResultCannotOpen);
    EXPECT_FALSE(std::filesystem::exists(dir / "r.Velmora"));
}

// Holds a save inside its reading of the trees until the test lets it go.
class BlockingSource : public IScanResultSource {
public:
    explicit BlockingSource(IScanResultSource* inner) : inner_(inner) {}
    ScanKindRecord ScanKind() override { return inner_->ScanKind(); }
    DiskVolumeRecord DeviceRecord() override { return inner_->DeviceRecord(); }
    std::vector<SavedRoot> Roots() override {
        std::unique_lock<std::mutex> hold(lock_);
        reading_ = true;
        changed_.notify_all();
        changed_.wait(hold, [&] { return released_; });
        return inner_->Roots();
    }
    void WaitUntilReading() {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] { return reading_; });
    }
    void Release() {
        std::lock_guard<std::mutex> hold(lock_);
        released_ = true;
        changed_.notify_all();
    }

private:
    IScanResultSource* inner_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool reading_ = false;
    bool released_ = false;
};

TEST(ResultOperations, DetachedOperationsShareOneBusyFlag) {
    GeneratedSource source(1);
    RecordingProgress progress;
    auto device = MakeVolume();
    SingleDeviceCatalogue catalogue(device.get(), VolumeEntry());
    RecordingRunner runner;
    TempDir dir;
    const std::string path = dir / "r.Velmora";
    EXPECT_EQ(DoSaveScanResult(nullptr, &progress, &source), -1);
    EXPECT_EQ(DoSaveScanResult(path.c_str(), nullptr, &source), -1);
    EXPECT_EQ(DoRestoreScanResult(nullptr, &progress, nullptr, &catalogue, &runner), -1);

    // While a scan runs, neither starts; nor does a scan while a save runs.
    ASSERT_TRUE(ResultFilesGate::TryBegin(ResultFilesGate::kScanning));
    EXPECT_EQ(DoSaveScanResult(path.c_str(), &progress, &source), -3);
    EXPECT_EQ(DoRestoreScanResult(path.c_str(), &progress, nullptr, &catalogue, &runner), -3);
    ResultFilesGate::End(ResultFilesGate::kScanning);

    BlockingSource blocking(&source);
    ASSERT_EQ(DoSaveScanResult(path.c_str(), &progress, &blocking), 0);
    // The save holds the flag while it reads the trees, and to its end.
    blocking.WaitUntilReading();
    EXPECT_FALSE(ResultFilesGate::TryBegin(ResultFilesGate::kScanning));
    EXPECT_EQ(DoRestoreScanResult(path.c_str(), &progress, nullptr, &catalogue, &runner), -3);
    blocking.Release();
    for (int i = 0; i < 500 && ResultFilesGate::Current() != ResultFilesGate::kIdle; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(ResultFilesGate::Current(), ResultFilesGate::kIdle);
    EXPECT_EQ(progress.lastResult, 0);

    RecordingProgress loading;
    auto* edi = new std::string("an edi path the caller frees at once");
    ASSERT_EQ(DoRestoreScanResult(path.c_str(), &loading, edi->c_str(), &catalogue, &runner), 0);
    delete edi;
    for (int i = 0; i < 500 && ResultFilesGate::Current() != ResultFilesGate::kIdle; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(ResultFilesGate::Current(), ResultFilesGate::kIdle);
    EXPECT_EQ(loading.finished, 1);
    EXPECT_EQ(loading.lastResult, 0);
    EXPECT_EQ(runner.builder.nodes.size(), 1u);
}

// A quick-scan result replays only the roots of the live volume's name; a
// renumbered device is found by name, file system and size.
TEST(ResultOperations, TheDeviceIsFoundByPlaceOrByNameFileSystemAndSize) {
    struct Case {
        const char* what;
        CatalogueEntry entry;
        int code;
    };
    const Case cases[] = {
        {"same place and size", {0, 0, "other", 7, kVolumeSectors * 512}, kResultOk},
        {"renumbered", {3, 5, "vol", 1, kVolumeSectors * 512}, kResultOk},
        {"renumbered, other size", {3, 5, "vol", 1, kVolumeSectors * 1024}, kResultNoDevice},
        {"renumbered, other file system", {3, 5, "vol", 2, kVolumeSectors * 512}, kResultNoDevice},
        {"same place, other size", {0, 0, "vol", 1, kVolumeSectors * 256}, kResultNoDevice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        auto load = Load(MakeFile({}), dir, nullptr, c.entry);
        EXPECT_EQ(load->code, c.code);
    }
    // The live volume under another name: its file holds nothing for it.
    TempDir dir;
    auto other = MakeVolume("another");
    auto load = Load(MakeFile({}), dir, other.get(), VolumeEntry("vol"));
    EXPECT_EQ(load->code, kResultNoDevice);
    EXPECT_TRUE(load->runner.builder.nodes.empty());
}

TEST(ResultOperations, AStoppedLoadKeepsWhatItHandedOver) {
    RootSpec root;
    for (int i = 0; i < 50; ++i)
        root.nodes.push_back(NodeRecord({.id = 100 + i, .parent = 2, .size = 1, .name = "f"}));
    TempDir dir;
    const std::string path = dir / "r.Velmora";
    velmora::test::WriteFile(path, MakeFile({.nodes = UsualNodeFrame({root})}));
    auto device = MakeVolume();
    SingleDeviceCatalogue catalogue(device.get(), VolumeEntry());
    RecordingRunner runner;
    runner.progress.stopAfter = 11;
    EXPECT_EQ(RestoreScanResult(path, nullptr, "", &catalogue, &runner), kResultOk);
    EXPECT_TRUE(runner.outcome.stopped);
    // Asked once before the root and after each node: stopped at the 12th.
    EXPECT_EQ(runner.builder.nodes.size(), 11u);
    EXPECT_EQ(runner.builder.built.size(), 1u);
}

}  // namespace
