// Shared by the HFS+ tests: the fixture images (made once per test
// program), their manifests, a quick scan through the real tree builder and
// recovery through the data-recovery object.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileNode.h"
#include "HFSPlusSearch/HFSPlusQuickSearch.h"
#include "IRecoveryFilter.h"
#include "IStorageDevice.h"
#include "RecoveryInterfaces.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "support/MemoryStorageDevice.h"
#include "support/SharedFolder.h"
#include "support/TestSupport.h"

namespace velmora::hfstest {

struct Entry {
    std::string path, type, state, sha256, compression;
    long long id = 0, parent = 0, size = 0, mtime = 0;
};

inline std::string HereDir() {
    return velmora::test::SourceDir() + "/tests/engine/HFSPlus";
}

// The fixture images of tests/fixtures/hfsplus, made once for the run in the
// build tree and shared by every test process (empty when they cannot be
// made here).
inline const std::string& FixtureDir() {
    static const std::string path = [] {
        const std::string fixtures = velmora::test::SourceDir() + "/tests/fixtures";
        const std::string folder = velmora::test::SharedFolder(
            velmora::test::BinaryDir() + "/tests/shared", "hfsplus",
            {fixtures + "/hfsplus", fixtures + "/lib"}, [&](const std::string& out) {
                std::string said;
                return velmora::test::RunProgram({"sh", fixtures + "/hfsplus/make.sh", out}, &said);
            });
        return folder.empty() ? folder : folder + "/hfsplus";
    }();
    return path;
}
inline std::string Image(const std::string& name) {
    return FixtureDir() + "/" + name + ".img";
}
inline std::string Manifest(const std::string& name) {
    return FixtureDir() + "/" + name + ".json";
}

inline std::vector<Entry> ReadManifest(const std::string& name) {
    std::string out;
    std::vector<Entry> entries;
    if (!velmora::test::RunProgram({"python3", HereDir() + "/manifest_lines.py", Manifest(name)},
                                   &out))
        return entries;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string part;
        while (std::getline(ss, part, '\t'))
            f.push_back(part);
        if (f.size() != 9)
            continue;
        Entry e;
        e.path = f[0];
        e.type = f[1];
        e.state = f[2];
        e.id = std::stoll(f[3]);
        e.parent = std::stoll(f[4]);
        e.size = std::stoll(f[5]);
        e.sha256 = f[6];
        e.mtime = std::stoll(f[7]);
        e.compression = f[8];
        entries.push_back(e);
    }
    return entries;
}

inline std::string Sha256(const void* data, size_t size) {
    velmora::test::TempDir dir;
    const std::string file = dir / "data";
    const auto* p = static_cast<const uint8_t*>(data);
    velmora::test::WriteFile(file, std::vector<uint8_t>(p, p + size));
    std::string out;
    if (!velmora::test::RunProgram({"sha256sum", file}, &out))
        return "sha256sum failed";
    return out.substr(0, out.find(' '));
}

// The node's path below its tree's root ("/docs/a.txt").
inline std::string NodePath(IFileNode* node) {
    std::string path;
    for (IFileNode* n = node; n && n->GetParent(); n = n->GetParent())
        path = "/" + std::string(n->GetFileName() ? n->GetFileName() : "") + path;
    return path;
}

class RecordingProgress final : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override { states.push_back(info->state); }
    int Continued() override { return stopAfter < 0 || ++asked <= stopAfter; }
    int shouldBuild() override { return 1; }
    std::vector<int> states;
    int stopAfter = -1;
    int asked = 0;
};

class CollectingTree final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int lost) override {
        shown.insert(shown.end(), nodes, nodes + count);
        if (lost)
            lostBatches += 1;
    }
    void ShowFilesystemNode(IFilesystemNode*) override { ++roots; }
    std::vector<IFileNode*> shown;
    int roots = 0;
    int lostBatches = 0;
};

// One quick scan of a volume held in memory (so tests can damage it).
struct QuickScan {
    explicit QuickScan(std::vector<uint8_t> bytes, int sectorSize = 512)
        : device(std::make_unique<velmora::test::MemoryStorageDevice>(std::move(bytes), sectorSize,
                                                                      false)) {
        device->SetType(kDeviceVolume);
        TreeBuilderHooks hooks;
        hooks.sleep = [](unsigned) {};
        builder = CreateTreeBuilder(false, hooks);
        filter = CreateFilter();
        filter->SetScanType(SCAN_COMPLETE);
        filter->SetFilterTypes(CATEGORY_ALL);
        builder->Initialize("fixture", &tree, filter);
        searcher = std::make_unique<hfsplus::CHFSPlusQuickFileSystemSearchController>();
        searcher->SetDirecotryTreeBuilder(builder);
    }
    static std::unique_ptr<QuickScan> OfImage(const std::string& path, int sectorSize = 512) {
        auto file = velmora::test::MemoryStorageDevice::FromFile(path, sectorSize);
        return std::make_unique<QuickScan>(file->Bytes(), sectorSize);
    }
    ~QuickScan() {
        searcher.reset();
        if (builder)
            builder->Release();
        if (filter)
            filter->Release();
    }
    VKRESULT Run() { return result = searcher->QuickSearchFiles(device.get(), &progress); }
    // Shown nodes by path (folders too when asked).
    std::map<std::string, IFileNode*> Nodes(bool withFolders = true) const {
        std::map<std::string, IFileNode*> out;
        for (IFileNode* n : tree.shown)
            if (withFolders || !n->IsDirectory())
                out[NodePath(n)] = n;
        return out;
    }

    std::unique_ptr<velmora::test::MemoryStorageDevice> device;
    IDirecotryTreeBuilder* builder = nullptr;
    IRecoveryFilter* filter = nullptr;
    CollectingTree tree;
    RecordingProgress progress;
    std::unique_ptr<hfsplus::CHFSPlusQuickFileSystemSearchController> searcher;
    VKRESULT result = 0;
};

// The bytes of a node read through the data-recovery object in pieces of
// `piece` bytes (as the copy loop reads), or empty when it cannot be read.
inline std::vector<uint8_t> ReadThroughRecovery(QuickScan& scan, IFileNode* node, unsigned piece) {
    std::vector<uint8_t> out;
    IDataRecovery* recovery = CreateDataRecoveryObj();
    if (!recovery || ResultFailed(recovery->Initialize(scan.searcher.get(), scan.device.get()))) {
        if (recovery)
            recovery->Release();
        return out;
    }
    IFileReader* reader = recovery->SetRecoverNode(node);
    if (reader) {
        const long long size = reader->GetDataSize();
        std::vector<char> buffer(piece);
        for (long long at = 0; at < size;) {
            int error = 0;
            const unsigned got = reader->ReadData(at, buffer.data(), piece, &error);
            if (got == 0 || error)
                break;
            out.insert(out.end(), buffer.begin(), buffer.begin() + got);
            at += got;
        }
        reader->Release();
    }
    recovery->Release();
    return out;
}

}  // namespace velmora::hfstest
