// Boot sector, FAT and directory parsing checked against volumes that
// mkfs.fat and mtools make at test time, and against Sleuth Kit's fls.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FATDBR.h"
#include "FATDirEntry.h"
#include "FATFolderAnalyser.h"
#include "FATTable.h"
#include "FatTools.h"
#include "support/MemoryStorageDevice.h"
#include "support/TestSupport.h"

using velmora::test::ReadFile;
using velmora::test::TempDir;
using velmora::test::WriteFile;

namespace {

using namespace velmora::fattest;

struct Found {
    bool deleted = false;
    bool dir = false;
    uint32_t size = 0;
    uint64_t cluster = 0;
};

// Lists a volume the way a recovery walk would: every live and deleted
// entry, descending into live folders through the FAT and into deleted
// folders through their first cluster; each folder cluster read once.
class Lister {
public:
    explicit Lister(velmora::test::MemoryVolume& dev) : m_dev(dev), m_boot(512) {
        m_ok = dev.ReadSector(m_boot.data(), 0, 1) != 0;
        m_dbr = std::make_unique<CTempFATDBR>(m_boot.data(), m_boot.size(), 512);
        if (!m_ok || !m_dbr->IsValidDBR() || !m_dbr->GetGeometry(dev.GetTotalSectors(), m_geo)) {
            m_ok = false;
            return;
        }
        m_fat.reset(IFATTableFactory::CreateFATTable(&dev, m_geo.fatStart,
                                                     m_dbr->GetFileSystemType(),
                                                     m_dbr->GetSectorsPerFat(), 0x80, 0x200));
    }
    bool ok() const { return m_ok; }
    const CTempFATDBR& dbr() const { return *m_dbr; }
    const FATGeometry& geo() const { return m_geo; }
    CDoubleFATTable& fat() { return *m_fat; }

    std::map<std::string, Found> List() {
        m_found.clear();
        m_visited.clear();
        if (m_dbr->GetFileSystemType() == FILE_SYSTEM_FAT16) {
            std::vector<uint8_t> root(m_geo.rootDirSectors * 512);
            if (m_dev.ReadSector(root.data(), static_cast<long long>(m_geo.rootDirStart),
                                 static_cast<long long>(m_geo.rootDirSectors)))
                Walk(root, "", 0);
        } else {
            WalkCluster(m_dbr->GetRootDirStartCluster(), "", true);
        }
        return m_found;
    }

    std::vector<uint8_t> ReadChain(uint64_t first, uint32_t size) {
        std::vector<uint8_t> data;
        const FATChain chain =
            FollowFATChain(*m_fat, static_cast<uint32_t>(first), m_geo.totalClusters + 2, 1 << 20);
        const size_t clusterBytes = m_geo.sectorsPerCluster * 512u;
        for (uint32_t c : chain.clusters) {
            std::vector<uint8_t> buf(clusterBytes);
            if (!m_dev.ReadSector(buf.data(),
                                  static_cast<long long>(FATClusterToSector(
                                      m_geo.dataStart, c, m_geo.sectorsPerCluster)),
                                  m_geo.sectorsPerCluster))
                break;
            data.insert(data.end(), buf.begin(), buf.end());
        }
        if (data.size() > size)
            data.resize(size);
        return data;
    }

private:
    void WalkCluster(uint64_t first, const std::string& path, bool live) {
        const uint64_t limit = m_geo.totalClusters + 2;
        std::vector<uint32_t> clusters;
        if (live)
            clusters = FollowFATChain(*m_fat, static_cast<uint32_t>(first), limit, 65536).clusters;
        else if (first >= 2 && first < limit)
            clusters.push_back(static_cast<uint32_t>(first));
        std::vector<uint8_t> buf;
        for (uint32_t c : clusters) {
            if (!m_visited.insert(c).second)
                break;  // a folder that holds itself
            std::vector<uint8_t> one(m_geo.sectorsPerCluster * 512u);
            if (!m_dev.ReadSector(one.data(),
                                  static_cast<long long>(FATClusterToSector(
                                      m_geo.dataStart, c, m_geo.sectorsPerCluster)),
                                  m_geo.sectorsPerCluster))
                break;  // an unreadable folder cluster is skipped, not parsed
            buf.insert(buf.end(), one.begin(), one.end());
        }
        Walk(buf, path, first);
    }

    void Walk(std::vector<uint8_t>& buf, const std::string& path, uint64_t self) {
        CFATLongNameRun run;
        std::vector<std::pair<std::string, Found>> folders;
        for (size_t off = 0; off + 32 <= buf.size(); off += 32) {
            CTempFATDirEntry e(buf.data() + off);
            if (e.IsNeverUsed())
                break;
            if (e.IsLongFileNameEntry()) {
                run.Add(e);
                continue;
            }
            if (!e.IsValidFATDirEntry(false) || e.IsVolumeLabel() || e.Raw()[0] == '.') {
                run.Reset();
                continue;
            }
            std::string name;
            if (!run.Finish(e, name))
                name = e.GetShortName();
            Found f;
            f.deleted = e.IsErased();
            f.dir = e.IsDirectory();
            f.size = e.GetSize();
            f.cluster = e.GetFirstClusterNO();
            const std::string full = path.empty() ? name : path + "/" + name;
            m_found[full] = f;
            if (f.dir && f.cluster != self)
                folders.emplace_back(full, f);
        }
        for (const auto& [p, f] : folders)
            WalkCluster(f.cluster, p, !f.deleted);
    }

    velmora::test::MemoryVolume& m_dev;
    std::vector<uint8_t> m_boot;
    bool m_ok;
    std::unique_ptr<CTempFATDBR> m_dbr;
    FATGeometry m_geo;
    std::unique_ptr<CDoubleFATTable> m_fat;
    std::map<std::string, Found> m_found;
    std::set<uint32_t> m_visited;
};

// fls -r -p: "r/r * 6:\tpath" lines; the virtual "$" entries and the label
// are left out.
std::set<std::pair<std::string, bool>> FlsListing(const std::string& image) {
    std::string out;
    if (RunTool({"fls", "-r", "-p", image}, &out) != 0)
        return {};
    std::set<std::pair<std::string, bool>> result;
    for (const std::string& line : Split(out, '\n')) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string name = line.substr(tab + 1);
        if (name.empty() || name[0] == '$' ||
            name.find("(Volume Label Entry)") != std::string::npos)
            continue;
        result.emplace(Normal(name), line.find(" * ") != std::string::npos);
    }
    return result;
}

class FATImages : public FatVolumeTest {
protected:
    void SetUp() override {
        FatVolumeTest::SetUp();
        if (IsSkipped())
            return;
        WriteFile(m_dir / "photo.jpg", Payload(20000, 1));
        WriteFile(m_dir / "report.pdf", Payload(5000, 2));
        WriteFile(m_dir / "note.txt", Payload(100, 3));
        WriteFile(m_dir / "big.bin", Payload(70000, 4));
        WriteFile(m_dir / "empty.txt", std::vector<uint8_t>{});
    }

    void Populate(const std::string& img) {
        M({"mmd", "-i", img, "::/Docs", "::/Docs/Sub", "::/Gone", "::/Gone/Inner"});
        M({"mcopy", "-i", img, m_dir / "photo.jpg",
           "::/Docs/A very long file name with spaces.jpg"});
        M({"mcopy", "-i", img, m_dir / "report.pdf",
           "::/Docs/Sub/\xc3\x9cn\xc3\xaf"
           "c\xc3\xb6"
           "d\xc3\xa9 na\xc3\xafve.pdf"});
        M({"mcopy", "-i", img, m_dir / "empty.txt", "::/Docs/empty.txt"});
        M({"mcopy", "-i", img, m_dir / "note.txt", "::/SHORT.TXT"});
        M({"mcopy", "-i", img, m_dir / "photo.jpg", "::/Gone/lost photo.jpg"});
        M({"mcopy", "-i", img, m_dir / "report.pdf", "::/Gone/Inner/deep report.pdf"});
        M({"mcopy", "-i", img, m_dir / "note.txt", "::/Docs/deleted note with a long name.txt"});
        M({"mcopy", "-i", img, m_dir / "note.txt", "::/GONE.TXT"});
        M({"mdel", "-i", img, "::/Docs/deleted note with a long name.txt", "::/GONE.TXT"});
        M({"mdeltree", "-i", img, "::/Gone"});
    }

    void CheckAgainstFls(const std::string& img, const std::map<std::string, Found>& ours) {
        VELMORA_REQUIRE_TOOL(HaveTool("fls"), "Sleuth Kit's fls");
        std::set<std::pair<std::string, bool>> mine;
        for (const auto& [path, f] : ours)
            mine.emplace(Normal(path), f.deleted);
        EXPECT_EQ(mine, FlsListing(img));
    }
};

TEST_F(FATImages, Fat16VolumeListsLiveAndDeletedEntries) {
    const std::string img =
        Make("fat16.img", {"-F", "16", "-s", "4", "-i", "1234ABCD", "-n", "VOL16"}, "32M");
    Populate(img);
    velmora::test::MemoryVolume dev(ReadFile(img));
    Lister lister(dev);
    ASSERT_TRUE(lister.ok());
    EXPECT_EQ(lister.dbr().GetFileSystemType(), FILE_SYSTEM_FAT16);
    EXPECT_EQ(lister.dbr().GetSectorsperCluster(), 4u);
    EXPECT_EQ(lister.dbr().GetTotalSectors(), 65536u);
    EXPECT_EQ(lister.geo().rootDirSectors, 32u);
    ASSERT_NE(lister.fat().First(), nullptr);
    // The second copy is a good FAT too.
    std::unique_ptr<IRealFATTable> second(IFATTableFactory::CreateRealFATTable(
        &dev, 1, lister.geo().fatStart + lister.dbr().GetSectorsPerFat(),
        lister.dbr().GetSectorsPerFat()));
    EXPECT_NE(second, nullptr);

    const auto found = lister.List();
    const std::string longName = "Docs/A very long file name with spaces.jpg";
    ASSERT_TRUE(found.count(longName));
    EXPECT_FALSE(found.at(longName).deleted);
    EXPECT_EQ(lister.ReadChain(found.at(longName).cluster, found.at(longName).size),
              Payload(20000, 1));
    const std::string unicode =
        "Docs/Sub/\xc3\x9cn\xc3\xaf"
        "c\xc3\xb6"
        "d\xc3\xa9 na\xc3\xafve.pdf";
    ASSERT_TRUE(found.count(unicode));
    EXPECT_EQ(lister.ReadChain(found.at(unicode).cluster, found.at(unicode).size),
              Payload(5000, 2));
    ASSERT_TRUE(found.count("Docs/deleted note with a long name.txt"));
    EXPECT_TRUE(found.at("Docs/deleted note with a long name.txt").deleted);
    ASSERT_TRUE(found.count("#ONE.TXT"));
    EXPECT_TRUE(found.at("#ONE.TXT").deleted);
    ASSERT_TRUE(found.count("Gone/Inner/deep report.pdf"));
    EXPECT_TRUE(found.at("Gone").deleted && found.at("Gone").dir);
    // mtools keeps "empty.txt" as a short name with the lower-case flags.
    ASSERT_TRUE(found.count("Docs/empty.txt"));
    EXPECT_EQ(found.at("Docs/empty.txt").cluster, 0u);
    CheckAgainstFls(img, found);
}

TEST_F(FATImages, Fat32VolumeReachesClustersAboveTheLowWord) {
    const std::string img =
        Make("fat32.img", {"-F", "32", "-s", "1", "-i", "1234ABCD", "-n", "VOL32"}, "48M");
    // 33 MiB of one-sector clusters pushes what follows past cluster 0x10000.
    WriteFile(m_dir / "filler.bin", std::vector<uint8_t>(33u << 20, 'F'));
    M({"mcopy", "-i", img, m_dir / "filler.bin", "::/FILLER.BIN"});
    M({"mcopy", "-i", img, m_dir / "big.bin", "::/high file.bin"});
    Populate(img);
    M({"mcopy", "-i", img, m_dir / "note.txt", "::/high deleted.txt"});
    M({"mdel", "-i", img, "::/high deleted.txt"});

    velmora::test::MemoryVolume dev(ReadFile(img));
    Lister lister(dev);
    ASSERT_TRUE(lister.ok());
    EXPECT_EQ(lister.dbr().GetFileSystemType(), FILE_SYSTEM_FAT32);
    EXPECT_EQ(lister.dbr().GetRootDirStartCluster(), 2u);
    ASSERT_NE(lister.fat().First(), nullptr);
    const auto found = lister.List();
    ASSERT_TRUE(found.count("high file.bin"));
    const Found& high = found.at("high file.bin");
    EXPECT_GT(high.cluster, 0x10000u);
    EXPECT_EQ(lister.ReadChain(high.cluster, high.size), Payload(70000, 4));
    ASSERT_TRUE(found.count("high deleted.txt"));
    EXPECT_TRUE(found.at("high deleted.txt").deleted);
    EXPECT_GT(found.at("high deleted.txt").cluster, 0x10000u);  // mtools keeps the high word
    ASSERT_TRUE(
        found.count("Docs/Sub/\xc3\x9cn\xc3\xaf"
                    "c\xc3\xb6"
                    "d\xc3\xa9 na\xc3\xafve.pdf"));
    CheckAgainstFls(img, found);

    // The first sector of a sub-folder is told apart from an ordinary one.
    const Found& docs = found.at("Docs");
    std::vector<uint8_t> sector(512);
    ASSERT_TRUE(dev.ReadSector(
        sector.data(),
        static_cast<long long>(FATClusterToSector(lister.geo().dataStart, docs.cluster, 1)), 1));
    CFATFolderAnalyser analyser(512);
    ASSERT_TRUE(analyser.AnalyseSector(sector.data()));
    EXPECT_EQ(analyser.GetVerdict(), 2);
    EXPECT_EQ(analyser.GetCurDirCluster(), docs.cluster);
    int type = 0;
    ASSERT_TRUE(dev.ReadSector(sector.data(), static_cast<long long>(lister.geo().fatStart), 1));
    EXPECT_TRUE(CFATTableAnalyser::IsValidFATTableFirstSector(sector.data(), 512, type));
}

TEST_F(FATImages, Fat12VolumeIsRefused) {
    const std::string img =
        Make("fat12.img", {"-F", "12", "-i", "1234ABCD", "-n", "FLOPPY12"}, "1440K");
    M({"mcopy", "-i", img, m_dir / "note.txt", "::/NOTE.TXT"});
    const auto bytes = ReadFile(img);
    CTempFATDBR dbr(bytes.data(), 512, 512);
    EXPECT_TRUE(CTempFATDBR::SimpleCheck(bytes.data(), 512));
    EXPECT_TRUE(dbr.LooksLikeFAT12());
    EXPECT_FALSE(dbr.IsValidDBR());
    EXPECT_EQ(dbr.GetFileSystemType(), FILE_SYSTEM_UNKNOWN);
    velmora::test::MemoryVolume dev(bytes);
    EXPECT_FALSE(Lister(dev).ok());
}

TEST_F(FATImages, DamagedVolumesAreCutNotFollowed) {
    const std::string img = Make("fat16.img", {"-F", "16", "-s", "4", "-i", "1234ABCD"}, "32M");
    Populate(img);
    velmora::test::MemoryVolume good(ReadFile(img));
    Lister reference(good);
    ASSERT_TRUE(reference.ok());
    const auto all = reference.List();
    const uint32_t docs = static_cast<uint32_t>(all.at("Docs").cluster);
    const uint32_t sub = static_cast<uint32_t>(all.at("Docs/Sub").cluster);
    const uint32_t spf = reference.dbr().GetSectorsPerFat();
    const uint64_t fat1 = reference.geo().fatStart;

    // Docs/Sub's chain loops back into Docs in both copies: the loop is
    // local damage, the copy is kept, and Sub, whose cluster now also
    // follows Docs, is read once.
    {
        velmora::test::MemoryVolume dev(ReadFile(img));
        for (uint64_t copy : {fat1, fat1 + spf}) {
            vk::StoreLE<uint16_t>(dev.Bytes().data() + copy * 512 + docs * 2,
                                  static_cast<uint16_t>(sub));
            vk::StoreLE<uint16_t>(dev.Bytes().data() + copy * 512 + sub * 2,
                                  static_cast<uint16_t>(docs));
        }
        Lister lister(dev);
        ASSERT_TRUE(lister.ok());
        ASSERT_TRUE(lister.fat().HasCopy());
        EXPECT_GT(lister.fat().First()->GetDamage(), 0u);
        const auto found = lister.List();
        EXPECT_TRUE(found.count("Docs/Sub"));
    }
    // A chain into a cluster past the volume is cut.
    {
        velmora::test::MemoryVolume dev(ReadFile(img));
        const uint32_t photo =
            static_cast<uint32_t>(all.at("Docs/A very long file name with spaces.jpg").cluster);
        for (uint64_t copy : {fat1, fat1 + spf})
            vk::StoreLE<uint16_t>(dev.Bytes().data() + copy * 512 + photo * 2,
                                  static_cast<uint16_t>(spf * 256 - 1));
        Lister damaged(dev);
        ASSERT_TRUE(damaged.ok());
        ASSERT_LT(damaged.geo().totalClusters + 2,
                  spf * 256 - 1);  // inside the table, past the volume
        ASSERT_TRUE(damaged.fat().HasCopy());
        const FATChain chain =
            FollowFATChain(damaged.fat(), photo, damaged.geo().totalClusters + 2, 1000);
        EXPECT_FALSE(chain.cleanEnd);
        EXPECT_EQ(chain.clusters, std::vector<uint32_t>{photo});
    }
    // Unreadable sectors: no boot sector, no FAT.
    {
        velmora::test::MemoryVolume dev(ReadFile(img));
        dev.FailReads(true);
        EXPECT_FALSE(Lister(dev).ok());
    }
}

}  // namespace
