// The record library on the NTFS fixture images made by mkntfs and ntfs-3g:
// every record parses to what Sleuth Kit's istat shows, every file of the
// manifests reads back byte for byte through its properties (compressed,
// sparse, fragmented, resident, attribute-list and named-stream data), the
// recogniser names the volumes, and recycled files get their original names
// back on NTFS and on FAT.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "FATQuickSearch.h"
#include "IRecoveryFilter.h"
#include "NTFSLib/NTFSVolume.h"
#include "NtfsFixtures.h"
#include "SearchedPartitionInfo.h"
#include "StorageDevices.h"
#include "VolumeAnalyzeController.h"
#include "support/EngineRows.h"
#include "support/TestSupport.h"

using namespace ntfstest;
using velmora::test::MemoryStorageDevice;
using velmora::test::TempDir;

namespace {

struct ImageCase {
    const char* name;
    int sectorSize;
    const char* label;
};

const ImageCase kImages[] = {
    {"ntfs", 512, "NTFSVOL"},
    {"ntfs_4k", 4096, "NTFS4K"},
    {"ntfs_4kdev", 4096, "NTFSVOL"},
    {"ntfs_log", 512, "NTFSLOG"},
};

class NTFSImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (FixtureDir().empty())
            GTEST_SKIP() << "the NTFS fixtures cannot be unpacked here (gzip, python3)";
    }
    static std::unique_ptr<MemoryStorageDevice> Load(const ImageCase& c) {
        return MemoryStorageDevice::FromFile(Image(c.name), c.sectorSize);
    }
    TempDir m_tmp;
};

std::string Runs(CNTFSFileProperties* props) {
    IDataRunList* list = props ? props->GetDataRunList() : nullptr;
    if (list == nullptr)
        return "-";
    std::string out;
    if (list->GetDataRunListType() == DATARUN_LIST_NTFS_RESIDENT) {
        out = "R";
    } else {
        for (const DataRun* r = list->GetFirst(); r; r = list->GetNext())
            out += (out.empty() ? "" : ",") + std::to_string(r->start) + "+" +
                   std::to_string(r->length);
    }
    list->Release();
    return out.empty() ? "-" : out;
}

TEST_F(NTFSImageTest, EveryRecordParsesAsSleuthKitShowsIt) {
    VELMORA_REQUIRE_TOOL(HaveTool("istat") && HaveTool("fls"), "Sleuth Kit (istat, fls)");
    for (const ImageCase& c : kImages) {
        SCOPED_TRACE(c.name);
        auto device = Load(c);
        WalkedVolume walk;
        ASSERT_TRUE(WalkMft(*device, walk));
        std::string dump;
        for (const WalkedRecord& w : walk.records) {
            std::string names;
            // Records without a name (the reserved ones) still have data.
            CNTFSFilePropertiesStruct data;
            std::vector<uint8_t> bytes;
            ASSERT_TRUE(NTFSRecordLocator::ReadAt(device.get(), w.sector, w.offsetInSector,
                                                  walk.geometry.recordBytes, bytes));
            CNTFSFileRecord record(bytes.data(), bytes.size());
            NTFSRecordLocator locator = walk.Locator();
            auto list = CNTFSMultiFileRecord::InitExtendFileRecord(
                record, w.sector, w.offsetInSector, w.number, locator, device.get());
            CNTFSMultiFileRecord multi(record, w.sector, w.offsetInSector, device.get(),
                                       list.get());
            CNTFSFilePropertiesBuilder::Options o;
            o.clusterBytes = walk.geometry.clusterBytes;
            ASSERT_TRUE(CNTFSFilePropertiesBuilder::BuildFilePropertiesFrom0x80(multi, data, o));
            CNTFSFileProperties dataOnly(std::move(data));
            for (const auto& [parent, name] : w.names)
                names += (names.empty() ? "" : "\x1f") + std::to_string(parent) + "/" + name;
            dump += std::to_string(w.number) + "\t" + (w.inUse ? "1" : "0") + "\t" +
                    (w.folder ? "1" : "0") + "\t" + names + "\t" +
                    std::to_string(dataOnly.GetFileSize()) + "\t" + Runs(&dataOnly) + "\n";
        }
        const std::string file = m_tmp / (std::string(c.name) + ".tsv");
        velmora::test::WriteFile(file, dump);
        std::string report;
        EXPECT_TRUE(velmora::test::RunProgram(
            {"python3", std::string(VELMORA_NTFS_TEST_DIR) + "/compare_istat.py", Image(c.name),
             file, std::to_string(walk.geometry.clusterBytes)},
            &report))
            << report;
    }
}

// Writes every file and named stream of a walked volume below `folder` at
// its path, reading its bytes through CFileReaderEx.
int WriteVolume(IStorageDevice& device, WalkedVolume& walk, const std::string& folder) {
    std::map<int64_t, const WalkedRecord*> byNumber;
    for (const WalkedRecord& w : walk.records)
        byNumber[w.number] = &w;
    auto pathOf = [&](int64_t parent, const std::string& name) {
        std::string path = "/" + name;
        std::set<int64_t> seen;
        while (parent != 5 && seen.insert(parent).second) {
            auto it = byNumber.find(parent);
            if (it == byNumber.end() || it->second->names.empty())
                return std::string();
            path = "/" + it->second->names.front().second + path;
            parent = it->second->names.front().first;
        }
        return path;
    };
    auto write = [&](CNTFSFileProperties* props, const std::string& path) {
        std::filesystem::create_directories(std::filesystem::path(folder + path).parent_path());
        auto* node = new CNTFSFileNode();
        node->SetFileProperties(props);
        std::string bytes(static_cast<size_t>(node->GetFileSize()), '\0');
        CFileReaderEx reader;
        int got = 0;
        const bool ok =
            bytes.empty() ||
            (reader.Open(&device, node, 0, static_cast<int>(walk.geometry.sectorsPerCluster)) &&
             reader.Read(0, reinterpret_cast<uint8_t*>(bytes.data()),
                         static_cast<int>(bytes.size()), got) &&
             got == static_cast<int>(bytes.size()));
        reader.Close();
        node->Release();
        if (ok)
            velmora::test::WriteFile(folder + path, bytes);
        return ok ? 1 : 0;
    };
    int written = 0;
    for (WalkedRecord& w : walk.records) {
        if (!w.props || w.folder || w.number < 16)
            continue;
        for (const auto& [parent, name] : w.names) {
            const std::string path = pathOf(parent, name);
            if (!path.empty())
                written += write(w.props->CloneNTFS(), path);
        }
        // Named streams: every named $DATA of the file's records.
        std::vector<uint8_t> bytes;
        NTFSRecordLocator locator = walk.Locator();
        if (!NTFSRecordLocator::ReadAt(&device, w.sector, w.offsetInSector,
                                       walk.geometry.recordBytes, bytes))
            continue;
        CNTFSFileRecord record(bytes.data(), bytes.size());
        auto list = CNTFSMultiFileRecord::InitExtendFileRecord(record, w.sector, w.offsetInSector,
                                                               w.number, locator, &device);
        CNTFSMultiFileRecord joined(record, w.sector, w.offsetInSector, &device, list.get());
        for (int i = 0;; ++i) {
            NTFSAttributeRef ref = joined.FindAttibute(0x80, i);
            if (ref.Empty())
                break;
            if (!ref.attribute.IsNamed())
                continue;
            std::u16string stream(ref.attribute.GetNameLength(), u'\0');
            for (size_t k = 0; k < stream.size(); ++k)
                stream[k] = static_cast<char16_t>(vk::LoadLE<uint16_t>(
                    ref.attribute.Data() + ref.attribute.GetNameOffset() + 2 * k));
            CNTFSFilePropertiesBuilder::Options o;
            o.clusterBytes = walk.geometry.clusterBytes;
            o.recordOffsetInSector = static_cast<uint16_t>(w.offsetInSector);
            o.stream = stream;
            int64_t parent = -1;
            CNTFSFileProperties* props =
                CNTFSFilePropertiesBuilder::BuildFileProperties(w.sector, joined, o, &parent);
            if (props == nullptr)
                continue;
            for (const auto& [p, name] : w.names) {
                const std::string path = pathOf(p, name);
                if (!path.empty())
                    written += write(props->CloneNTFS(), path + ":" + ref.attribute.GetName());
            }
            delete props;
        }
    }
    return written;
}

TEST_F(NTFSImageTest, EveryManifestFileReadsBackThroughItsProperties) {
    for (const ImageCase& c : kImages) {
        SCOPED_TRACE(c.name);
        auto device = Load(c);
        WalkedVolume walk;
        ASSERT_TRUE(WalkMft(*device, walk));
        const std::string out = m_tmp / (std::string(c.name) + "-files");
        EXPECT_GE(WriteVolume(*device, walk, out), 10);
        std::string report;
        EXPECT_TRUE(velmora::test::RunProgram(
            {"python3", std::string(VELMORA_NTFS_TEST_DIR) + "/check_files.py", Manifest(c.name),
             out},
            &report))
            << report;
    }
}

TEST_F(NTFSImageTest, RecogniserNamesTheVolumesWithTheirLabels) {
    velmora::test::ScopedEngineRows engine;
    for (const ImageCase& c : kImages) {
        SCOPED_TRACE(c.name);
        auto device = Load(c);
        std::unique_ptr<IVolumeAnalyze> analyze(CreateNTFSVolumeAnalyze(device.get(), 0));
        ASSERT_TRUE(analyze);
        EXPECT_EQ(analyze->GetFileSystemType(), 3);
        EXPECT_NEAR(analyze->GetTotalSector(), device->GetTotalSectors(), 1);
        char label[64];
        EXPECT_EQ(analyze->GetLabel(label, sizeof(label)), static_cast<int>(std::strlen(c.label)));
        EXPECT_STREQ(label, c.label);
        // Through the volume analysis, which asks the recognisers in turn.
        std::unique_ptr<IVolumeAnalyzeController> controller(
            CreateVolumeAnalyzeController(device.get(), 0));
        ASSERT_TRUE(controller);
        IVolumeAnalyze* found = controller->GetVolumeAnzlyzer();
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->GetFileSystemType(), 3);
    }
    // Not NTFS, and not readable.
    MemoryStorageDevice zeros(std::vector<uint8_t>(1 << 20), 512);
    EXPECT_EQ(CreateNTFSVolumeAnalyze(&zeros, 0), nullptr);
    EXPECT_EQ(CreateNTFSVolumeAnalyze(&zeros, 5000), nullptr);
    EXPECT_EQ(CreateNTFSVolumeAnalyze(nullptr, 0), nullptr);
}

}  // namespace
