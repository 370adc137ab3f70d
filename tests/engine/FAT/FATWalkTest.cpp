// The directory walk over FAT16 and FAT32 volumes made by mkfs.fat and
// mtools, checked against Sleuth Kit (fls, icat), over a copy whose deleted
// entries lost the high cluster word, and over damaged copies.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FATBuildChildren.h"
#include "FATDBR.h"
#include "FATFileNode.h"
#include "FATPartitionInfo.h"
#include "FATTable.h"
#include "FatEntryBuilder.h"
#include "FatTools.h"
#include "SearchInterfaces.h"
#include "support/MemoryStorageDevice.h"
#include "support/PlannedSearcherRows.h"
#include "support/TestSupport.h"

using namespace velmora::fattest;
using velmora::test::ReadFile;
using velmora::test::TempDir;
using velmora::test::WriteFile;

namespace {

// Keeps every node it is given and which folder it was found in.
class FakeBuilder final : public IDirecotryTreeBuilder {
public:
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override {
        if (type != SEARCHER_FAT)
            return 0;
        auto* fat = dynamic_cast<CFATFileNode*>(node);
        if (!fat)
            return 0;
        nodes.emplace_back(fat);
        parentOf[fat] = current;
        return 1;
    }
    int AddSearcherInfo(_tagSearcherType, long long) override { return 1; }
    void FlashBuild(_tagSearcherType) override {}
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo*, IStorageDevice*) override {}

    std::string PathOf(CFATFileNode* node) {
        std::string path = node->GetFileName() ? node->GetFileName() : "";
        for (CFATFileNode* p = parentOf[node]; p; p = parentOf[p])
            path = std::string(p->GetFileName()) + "/" + path;
        return path;
    }

    std::vector<std::unique_ptr<CFATFileNode>> nodes;
    std::map<CFATFileNode*, CFATFileNode*> parentOf;
    CFATFileNode* current = nullptr;
};

// A device whose reads of some sectors fail.
// A FAT with some entries replaced.
class PatchedFat final : public IFATTable {
public:
    PatchedFat(const IFATTable& base, std::map<uint32_t, uint32_t> patch)
        : m_base(base), m_patch(std::move(patch)) {}
    uint32_t GetNextCluster(uint32_t c) const override {
        const auto it = m_patch.find(c);
        return it == m_patch.end() ? m_base.GetNextCluster(c) : it->second;
    }

private:
    const IFATTable& m_base;
    std::map<uint32_t, uint32_t> m_patch;
};

std::string TimeText(long long filetime) {
    const time_t unix = static_cast<time_t>(filetime / 10000000LL - 11644473600LL);
    std::tm tm{};
    gmtime_r(&unix, &tm);
    char buf[32];
    std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

struct Listed {
    bool deleted = false;
    bool dir = false;
    bool damaged = false;
    long long size = 0;
    uint64_t cluster = 0;
    std::string mtime, atime, crtime;
    std::vector<std::pair<long long, long long>> runs;
    std::vector<uint8_t> data;  // read through the runs
};

// One partition build: boot sector, FAT, then the walk breadth first.
class Volume {
public:
    explicit Volume(IStorageDevice& dev) : m_dev(dev), m_boot(512) {
        m_ok = dev.ReadSector(m_boot.data(), 0, 1) != 0;
        CTempFATDBR dbr(m_boot.data(), m_boot.size(), 512);
        m_ok = m_ok && dbr.IsValidDBR() &&
               dbr.GetGeometry(static_cast<uint64_t>(dev.GetTotalSectors()), m_geo);
        if (!m_ok)
            return;
        m_type = dbr.GetFileSystemType();
        m_rootCluster = dbr.GetRootDirStartCluster();
        m_fat.reset(IFATTableFactory::CreateFATTable(&dev, m_geo.fatStart, m_type,
                                                     dbr.GetSectorsPerFat(), 0x80, 0x200));
    }
    bool ok() const { return m_ok; }
    const FATGeometry& geo() const { return m_geo; }
    CDoubleFATTable& fat() { return *m_fat; }

    // `damaged`: the structures the walk counted as damaged and skipped.
    std::map<std::string, Listed> Walk(const IFATTable* fat = nullptr, bool* rootOk = nullptr,
                                       uint64_t* damaged = nullptr) {
        CFATFileNode::SetTraceEnabled(false);
        FakeBuilder builder;
        CFATSearchedPartitionInfo part(512);
        part.partitionIndex = 0;
        part.SetTotalSectors(m_geo.totalSectors);
        FATVisitedClusters visited;
        FATFolderMap folderMap;
        CFATBuildChildren walker(&builder, nullptr, &part, &m_dev, &visited, &folderMap,
                                 m_geo.totalSectors, m_type, fat ? fat : m_fat.get(),
                                 m_geo.sectorsPerCluster, m_rootCluster, m_geo.rootDirStart,
                                 static_cast<uint32_t>(m_geo.rootDirSectors), m_geo.dataStart);
        std::vector<CFATFileNode*> folders;
        const int root = walker.BuildRoot(folders, 1, 1);
        if (rootOk)
            *rootOk = root == 1;
        for (size_t i = 0; i < folders.size() && i < 100000; ++i) {
            builder.current = folders[i];
            walker.BuildChildren(folders[i], static_cast<uint64_t>(folders[i]->GetCurrentNodeID()),
                                 folders, 0, 1);
        }
        if (damaged)
            *damaged = walker.DamagedCount();
        std::map<std::string, Listed> out;
        for (auto& node : builder.nodes) {
            Listed l;
            l.deleted = node->IsDeleted();
            l.dir = node->IsDirectory();
            l.damaged = node->IsDamaged();
            l.size = node->GetFileSize();
            l.cluster = static_cast<uint64_t>(node->GetCurrentNodeID());
            l.mtime = TimeText(node->GetModificationTime());
            l.atime = TimeText(node->GetLastAccessTime());
            l.crtime = TimeText(node->GetCreationTime());
            if (IDataRunList* runs = node->GetDataRunList()) {
                for (const DataRun* r = runs->GetFirst(); r; r = runs->GetNext()) {
                    l.runs.emplace_back(r->start, r->length);
                    std::vector<uint8_t> buf(static_cast<size_t>(r->length) *
                                             m_geo.sectorsPerCluster * 512);
                    if (r->start < 0) {
                        l.data.insert(l.data.end(), buf.begin(), buf.end());
                        continue;
                    }
                    if (m_dev.ReadSector(buf.data(),
                                         static_cast<long long>(m_geo.dataStart +
                                                                r->start * m_geo.sectorsPerCluster),
                                         r->length * m_geo.sectorsPerCluster))
                        l.data.insert(l.data.end(), buf.begin(), buf.end());
                }
                if (l.data.size() > static_cast<size_t>(l.size))
                    l.data.resize(static_cast<size_t>(l.size));
            }
            out[builder.PathOf(node.get())] = l;
        }
        return out;
    }

private:
    IStorageDevice& m_dev;
    std::vector<uint8_t> m_boot;
    bool m_ok = false;
    FATGeometry m_geo;
    int m_type = 0;
    uint32_t m_rootCluster = 0;
    std::unique_ptr<CDoubleFATTable> m_fat;
};

struct FlsEntry {
    std::string inode;
    bool deleted = false;
    bool dir = false;
    std::string mtime, atime, crtime;
    long long size = 0;
};

// fls -r -p -l: type, inode, path, then mtime, atime, ctime, crtime, size.
std::map<std::string, FlsEntry> Fls(const std::string& image) {
    std::string out;
    if (RunTool({"fls", "-r", "-p", "-l", "-z", "UTC", image}, &out) != 0)
        return {};
    std::map<std::string, FlsEntry> result;
    for (const std::string& line : Split(out, '\n')) {
        const std::vector<std::string> f = Split(line, '\t');
        if (f.size() < 7 || f[1].empty() || f[1][0] == '$' ||
            f[1].find("(Volume Label Entry)") != std::string::npos)
            continue;
        FlsEntry e;
        e.deleted = f[0].find(" * ") != std::string::npos;
        e.dir = f[0][0] == 'd';
        e.inode = f[0].substr(f[0].rfind(' ') + 1);
        e.inode.pop_back();  // the ":"
        auto time = [](const std::string& t) { return t.substr(0, 19); };
        e.mtime = time(f[2]);
        e.atime = time(f[3]);
        e.crtime = time(f[5]);
        e.size = std::atoll(f[6].c_str());
        result[Normal(f[1])] = e;
    }
    return result;
}

std::vector<uint8_t> JpegPayload(size_t size, uint8_t seed) {
    auto v = Payload(size, seed);
    v[0] = 0xFF;
    v[1] = 0xD8;
    v[2] = 0xFF;
    v[3] = 0xE0;
    return v;
}

int g_contentTests = 0;
// Stands in for the signature search: JPEG starts only.
int JpegStart(const unsigned char* sector, unsigned length) {
    ++g_contentTests;
    return length >= 3 && sector[0] == 0xFF && sector[1] == 0xD8 && sector[2] == 0xFF ? 1 : 0;
}

class FATWalk : public FatVolumeTest {
protected:
    void SetUp() override {
        FatVolumeTest::SetUp();
        if (IsSkipped())
            return;
        const char* tz = std::getenv("TZ");
        m_savedTz = tz ? tz : "";
        m_hadTz = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
        WriteFile(m_dir / "photo.jpg", JpegPayload(20000, 1));
        WriteFile(m_dir / "photo2.jpg", JpegPayload(7000, 5));
        WriteFile(m_dir / "report.pdf", Payload(5000, 2));
        WriteFile(m_dir / "note.txt", Payload(100, 3));
        WriteFile(m_dir / "big.bin", Payload(70000, 4));
        WriteFile(m_dir / "hole.bin", Payload(3000, 6));
        WriteFile(m_dir / "empty.txt", std::vector<uint8_t>{});
    }
    void TearDown() override {
        if (IsSkipped())
            return;
        if (m_hadTz)
            setenv("TZ", m_savedTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    // Everything is written before anything is deleted, so that deleted
    // files keep their clusters; "Frag/hole.bin" alone is overwritten, by
    // the fragmented file.
    void Populate(const std::string& img) {
        const std::string d = m_dir.path();
        M({"mmd", "-i", img, "::/Docs", "::/Docs/Sub", "::/Gone", "::/Gone/Inner", "::/Pics",
           "::/Frag"});
        M({"mcopy", "-i", img, d + "/photo.jpg", "::/Docs/A very long file name with spaces.jpg"});
        M({"mcopy", "-i", img, d + "/report.pdf",
           "::/Docs/Sub/\xc3\x9cn\xc3\xaf"
           "c\xc3\xb6"
           "d\xc3\xa9 na\xc3\xafve.pdf"});
        M({"mcopy", "-i", img, d + "/empty.txt", "::/Docs/empty.txt"});
        M({"mcopy", "-i", img, d + "/note.txt", "::/SHORT.TXT"});
        M({"mcopy", "-i", img, d + "/hole.bin", "::/Frag/hole.bin"});
        M({"mcopy", "-i", img, d + "/note.txt", "::/Frag/after.txt"});
        M({"mdel", "-i", img, "::/Frag/hole.bin"});
        M({"mcopy", "-i", img, d + "/big.bin", "::/fragmented.bin"});
        M({"mcopy", "-i", img, d + "/photo.jpg", "::/Gone/lost photo.jpg"});
        M({"mcopy", "-i", img, d + "/report.pdf", "::/Gone/Inner/deep report.pdf"});
        M({"mcopy", "-i", img, d + "/note.txt", "::/Docs/deleted note with a long name.txt"});
        M({"mcopy", "-i", img, d + "/note.txt", "::/GONE.TXT"});
        M({"mcopy", "-i", img, d + "/photo.jpg", "::/Pics/deleted photo.jpg"});
        M({"mcopy", "-i", img, d + "/photo2.jpg", "::/Pics/kept.jpg"});
        M({"mcopy", "-i", img, d + "/photo2.jpg", "::/root gone.jpg"});
        M({"mdel", "-i", img, "::/Docs/deleted note with a long name.txt", "::/GONE.TXT",
           "::/Pics/deleted photo.jpg", "::/root gone.jpg"});
        M({"mdeltree", "-i", img, "::/Gone"});
    }
    std::string MakeFat32() {
        const std::string img =
            Make("fat32.img", {"-F", "32", "-s", "1", "-i", "1234ABCD", "-n", "VOL32"}, "48M");
        // 33 MiB of one-sector clusters pushes what follows past cluster 0x10000.
        WriteFile(m_dir / "filler.bin", std::vector<uint8_t>(33u << 20, 'F'));
        M({"mcopy", "-i", img, m_dir / "filler.bin", "::/FILLER.BIN"});
        Populate(img);
        return img;
    }

    // Names, live or deleted, sizes, times and file bytes against Sleuth Kit.
    void CheckAgainstSleuthKit(const std::string& img, const std::map<std::string, Listed>& ours) {
        VELMORA_REQUIRE_TOOL(HaveTool("fls") && HaveTool("icat"), "Sleuth Kit (fls, icat)");
        const auto theirs = Fls(img);
        ASSERT_FALSE(theirs.empty());
        std::set<std::string> mine;
        for (const auto& [path, l] : ours)
            mine.insert(Normal(path));
        std::set<std::string> names;
        for (const auto& [path, e] : theirs)
            names.insert(path);
        EXPECT_EQ(mine, names);
        int compared = 0;
        for (const auto& [path, l] : ours) {
            const auto it = theirs.find(Normal(path));
            if (it == theirs.end())
                continue;
            const FlsEntry& e = it->second;
            EXPECT_EQ(l.deleted, e.deleted) << path;
            EXPECT_EQ(l.dir, e.dir) << path;
            EXPECT_EQ(l.mtime, e.mtime) << path;
            EXPECT_EQ(l.atime, e.atime) << path;
            EXPECT_EQ(l.crtime, e.crtime) << path;
            if (l.dir)
                continue;
            EXPECT_EQ(l.size, e.size) << path;
            if (l.size == 0 || path == "Frag/#ole.bin")
                continue;  // its clusters were reused
            std::string bytes;
            ASSERT_EQ(RunTool({"icat", img, e.inode}, &bytes), 0) << path;
            EXPECT_EQ(l.data, std::vector<uint8_t>(bytes.begin(), bytes.end())) << path;
            ++compared;
        }
        EXPECT_GE(compared, 10);
    }

    std::string m_savedTz;
    bool m_hadTz = false;
};

const std::string kUnicode =
    "Docs/Sub/\xc3\x9cn\xc3\xaf"
    "c\xc3\xb6"
    "d\xc3\xa9 na\xc3\xafve.pdf";

TEST_F(FATWalk, Fat16ListingMatchesSleuthKit) {
    const std::string img =
        Make("fat16.img", {"-F", "16", "-s", "4", "-i", "1234ABCD", "-n", "VOL16"}, "32M");
    Populate(img);
    auto dev = velmora::test::MemoryStorageDevice::FromFile(img, 512);
    Volume vol(*dev);
    ASSERT_TRUE(vol.ok());
    bool rootOk = false;
    const auto found = vol.Walk(nullptr, &rootOk);
    EXPECT_TRUE(rootOk);
    ASSERT_TRUE(found.count("Docs/A very long file name with spaces.jpg"));
    EXPECT_EQ(found.at("Docs/A very long file name with spaces.jpg").data, JpegPayload(20000, 1));
    EXPECT_EQ(found.at(kUnicode).data, Payload(5000, 2));
    EXPECT_EQ(found.at("fragmented.bin").data, Payload(70000, 4));
    EXPECT_GE(found.at("fragmented.bin").runs.size(), 2u);
    EXPECT_TRUE(found.at("Gone/Inner/deep report.pdf").deleted);
    EXPECT_EQ(found.at("Gone/Inner/deep report.pdf").data, Payload(5000, 2));
    EXPECT_EQ(found.at("Pics/deleted photo.jpg").data, JpegPayload(20000, 1));
    // Empty files: virtual clusters above every real one, no runs.
    EXPECT_GE(found.at("Docs/empty.txt").cluster, 0x100000000ULL);
    EXPECT_TRUE(found.at("Docs/empty.txt").runs.empty());
    CheckAgainstSleuthKit(img, found);
}

TEST_F(FATWalk, Fat32ListingMatchesSleuthKit) {
    const std::string img = MakeFat32();
    auto dev = velmora::test::MemoryStorageDevice::FromFile(img, 512);
    Volume vol(*dev);
    ASSERT_TRUE(vol.ok());
    const auto found = vol.Walk();
    for (const char* high :
         {"fragmented.bin", "Pics/deleted photo.jpg", "root gone.jpg", "Gone", "Gone/Inner"})
        EXPECT_GT(found.at(high).cluster, 0x10000u) << high;
    EXPECT_EQ(found.at("root gone.jpg").data, JpegPayload(7000, 5));
    CheckAgainstSleuthKit(img, found);
}

// Another driver clears the high word of deleted entries: the walk puts it
// back from the folder's band, "." and "..", and the content of the
// candidates, and reads the same files as from the untouched volume.
TEST_F(FATWalk, Fat32LostHighWordsAreGuessed) {
    if (!HaveTool("python3"))
        GTEST_SKIP() << "python3 is needed to clear the high words";
    const std::string img = MakeFat32();
    const std::string cleared = m_dir / "fat32_hiclear.img";
    M({"python3", std::string(VELMORA_FAT_TEST_DIR) + "/clear_hiword.py", img, cleared});

    auto original = velmora::test::MemoryStorageDevice::FromFile(img, 512);
    Volume reference(*original);
    ASSERT_TRUE(reference.ok());
    const auto expected = reference.Walk();

    auto signatureSearch = std::make_unique<velmora::test::ScopedFileStart>(&JpegStart);
    g_contentTests = 0;
    auto dev = velmora::test::MemoryStorageDevice::FromFile(cleared, 512);
    Volume vol(*dev);
    ASSERT_TRUE(vol.ok());
    const auto found = vol.Walk();
    EXPECT_GT(g_contentTests, 0);
    ASSERT_EQ(found.size(), expected.size());
    for (const auto& [path, want] : expected) {
        ASSERT_TRUE(found.count(path)) << path;
        const Listed& got = found.at(path);
        if (got.size == 0 && !got.dir)
            continue;  // virtual clusters
        EXPECT_EQ(got.cluster, want.cluster) << path;
        EXPECT_EQ(got.runs, want.runs) << path;
        EXPECT_EQ(got.data, want.data) << path;
    }

    // A candidate the FAT gives to a live file holds that file's data now:
    // it is not taken even when its content passes.
    const uint64_t rootGone = expected.at("root gone.jpg").cluster;
    PatchedFat allocated(vol.fat(), {{static_cast<uint32_t>(rootGone), 0x0FFFFFFF}});
    EXPECT_EQ(vol.Walk(&allocated).at("root gone.jpg").cluster, rootGone & 0xFFFF);

    // With the signature search missing the content test answers unknown.
    // Files are still placed in their folder's band; "root gone.jpg" lies in
    // the root's second cluster, read as a buffer of its own that starts
    // with no expected cluster, so only the content test could place it.
    signatureSearch.reset();
    const auto unknown = vol.Walk();
    EXPECT_EQ(unknown.at("Pics/deleted photo.jpg").cluster,
              expected.at("Pics/deleted photo.jpg").cluster);
    EXPECT_EQ(unknown.at("Gone/Inner").cluster, expected.at("Gone/Inner").cluster);
    EXPECT_EQ(unknown.at("root gone.jpg").cluster, expected.at("root gone.jpg").cluster & 0xFFFF);

    // The revise switch off: no guess, the entries' own clusters, still
    // read safely.
    TempDir work;
    WriteFile(work / "UIConfig.ini", std::string("[UserExperience]\nbRevise=0\n"));
    velmora::test::ScopedEnv workPath("VELMORA_WORK_PATH", work.path().c_str());
    const auto off = vol.Walk();
    EXPECT_LT(off.at("Pics/deleted photo.jpg").cluster, 0x10000u);
    EXPECT_EQ(off.at("Pics/deleted photo.jpg").cluster,
              expected.at("Pics/deleted photo.jpg").cluster & 0xFFFF);
    EXPECT_EQ(off.at("fragmented.bin").cluster, expected.at("fragmented.bin").cluster);
    // A missing file leaves it on.
    workPath.Set((work.path() + "/none").c_str());
    EXPECT_EQ(vol.Walk().at("Pics/deleted photo.jpg").cluster,
              expected.at("Pics/deleted photo.jpg").cluster);
}

// Finds a short entry by its 11-byte name in one folder cluster.
size_t EntryOffset(std::vector<uint8_t>& bytes, uint64_t sector, uint32_t sectors,
                   const char* name11) {
    const size_t base = static_cast<size_t>(sector) * 512;
    for (size_t off = base; off + 32 <= base + sectors * 512u; off += 32)
        if (std::memcmp(bytes.data() + off, name11, 11) == 0)
            return off;
    return 0;
}

void SetCluster(std::vector<uint8_t>& bytes, size_t off, uint32_t cluster) {
    vk::StoreLE<uint16_t>(bytes.data() + off + 20, static_cast<uint16_t>(cluster >> 16));
    vk::StoreLE<uint16_t>(bytes.data() + off + 26, static_cast<uint16_t>(cluster));
}

TEST_F(FATWalk, DamagedVolumesAreCutNotFollowed) {
    const std::string img = MakeFat32();
    auto good = velmora::test::MemoryStorageDevice::FromFile(img, 512);
    Volume reference(*good);
    ASSERT_TRUE(reference.ok());
    const auto all = reference.Walk();
    const FATGeometry geo = reference.geo();
    const auto docs = static_cast<uint32_t>(all.at("Docs").cluster);
    const auto sub = static_cast<uint32_t>(all.at("Docs/Sub").cluster);
    const uint64_t docsSector = FATClusterToSector(geo.dataStart, docs, geo.sectorsPerCluster);
    const uint64_t rootSector = FATClusterToSector(geo.dataStart, 2, geo.sectorsPerCluster);

    struct Damage {
        const char* what;
        void (*apply)(std::vector<uint8_t>& bytes, uint64_t docsSector, uint64_t rootSector,
                      uint32_t docs);
        std::set<std::string> gone;  // paths no longer listed
        std::map<std::string, std::string> renamed;
        uint64_t damaged;  // counted as damaged and skipped
    } cases[] = {
        {"a sub-folder that is its own parent",
         [](std::vector<uint8_t>& b, uint64_t ds, uint64_t, uint32_t d) {
             SetCluster(b, EntryOffset(b, ds, 1, "SUB        "), d);
         },
         {"Docs/Sub", kUnicode},
         {},
         0},
        {"a sub-folder that is the root",
         [](std::vector<uint8_t>& b, uint64_t ds, uint64_t, uint32_t) {
             SetCluster(b, EntryOffset(b, ds, 1, "SUB        "), 2);
         },
         {kUnicode},
         {},
         0},
        {"a file past the volume",
         [](std::vector<uint8_t>& b, uint64_t, uint64_t rs, uint32_t) {
             SetCluster(b, EntryOffset(b, rs, 1, "SHORT   TXT"), 0x0FFFFF0);
         },
         {"SHORT.TXT"},
         {},
         1},
        {"a broken long-name run",
         [](std::vector<uint8_t>& b, uint64_t ds, uint64_t, uint32_t) {
             const size_t off = EntryOffset(b, ds, 1, "AVERYL~1JPG");
             b[off - 32 + 13] ^= 0x5A;  // the checksum of the piece before it
         },
         {"Docs/A very long file name with spaces.jpg"},
         {{"Docs/A very long file name with spaces.jpg", "Docs/AVERYL~1.JPG"}},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto dev = velmora::test::MemoryStorageDevice::FromFile(img, 512);
        c.apply(dev->Bytes(), docsSector, rootSector, docs);
        Volume vol(*dev);
        ASSERT_TRUE(vol.ok());
        uint64_t damaged = 0;
        const auto found = vol.Walk(nullptr, nullptr, &damaged);
        EXPECT_EQ(damaged, c.damaged);
        for (const auto& [path, l] : all) {
            if (c.gone.count(path)) {
                EXPECT_FALSE(found.count(path)) << path;
                continue;
            }
            EXPECT_TRUE(found.count(path)) << path;
        }
        for (const auto& [from, to] : c.renamed) {
            ASSERT_TRUE(found.count(to)) << to;
            EXPECT_EQ(found.at(to).data, all.at(from).data);
        }
    }

    // A folder chain that loops onto itself, a sub-folder chain that joins
    // its parent's, a file chain that joins another's: each cluster is read
    // once and the walk ends.
    {
        auto dev = velmora::test::MemoryStorageDevice::FromFile(img, 512);
        Volume vol(*dev);
        const auto photo =
            static_cast<uint32_t>(all.at("Docs/A very long file name with spaces.jpg").cluster);
        const auto report = static_cast<uint32_t>(all.at(kUnicode).cluster);
        PatchedFat fat(vol.fat(), {{docs, docs}, {sub, docs}, {photo + 1, report}});
        const auto found = vol.Walk(&fat);
        for (const auto& [path, l] : all)
            EXPECT_TRUE(found.count(path)) << path;
        const Listed& joined = found.at("Docs/A very long file name with spaces.jpg");
        long long clusters = 0;
        for (const auto& r : joined.runs)
            clusters += r.second;
        EXPECT_EQ(clusters, (20000 + 511) / 512);
    }
    // A live file whose chain breaks keeps what lies before the break, at
    // its place, and is marked damaged; the rest reads as zeros. No other
    // file is touched.
    for (const auto& [what, mark] :
         {std::pair<const char*, uint32_t>{"bad-cluster mark", 0x0FFFFFF7},
          {"early end", 0x0FFFFFFF},
          {"freed entry", 0},
          {"cluster past the volume", 0x0FFFFF00}}) {
        SCOPED_TRACE(what);
        auto dev = velmora::test::MemoryStorageDevice::FromFile(img, 512);
        Volume vol(*dev);
        const Listed& before = all.at("fragmented.bin");
        const uint32_t tenth = static_cast<uint32_t>(before.cluster) + 9;
        PatchedFat fat(vol.fat(), {{tenth, mark}});
        const auto found = vol.Walk(&fat);
        const Listed& after = found.at("fragmented.bin");
        EXPECT_TRUE(after.damaged);
        std::vector<uint8_t> want = before.data;
        std::fill(want.begin() + 10 * 512, want.end(), 0);
        EXPECT_EQ(after.data, want);
        EXPECT_EQ(after.runs.back(),
                  (std::pair<long long, long long>{kLostRunStart, (70000 + 511) / 512 - 10}));
        for (const auto& [path, l] : all)
            if (path != "fragmented.bin" && found.count(path)) {
                EXPECT_EQ(found.at(path).data, l.data) << path;
                EXPECT_FALSE(found.at(path).damaged) << path;
            }
    }
    // No usable FAT copy: folders are read from their first cluster, files
    // as contiguous clusters.
    {
        auto dev = velmora::test::MemoryStorageDevice::FromFile(img, 512);
        Volume vol(*dev);
        CDoubleFATTable none(nullptr, nullptr);
        const auto found = vol.Walk(&none);
        EXPECT_TRUE(found.count("Docs/Sub"));
        EXPECT_EQ(found.at("SHORT.TXT").data, all.at("SHORT.TXT").data);
        // A file of more than one cluster is a guess: marked so the user
        // knows. One cluster needs no chain.
        EXPECT_TRUE(found.at("fragmented.bin").damaged);
        EXPECT_FALSE(found.at("SHORT.TXT").damaged);
    }
    // A folder whose only sector cannot be read is still listed, marked;
    // what it held is gone, the rest is listed.
    {
        auto raw = velmora::test::MemoryStorageDevice::FromFile(img, 512);
        velmora::test::MemoryStorageDevice dev(raw->Bytes(), 512);
        dev.FailSector(static_cast<long long>(docsSector));
        Volume vol(dev);
        ASSERT_TRUE(vol.ok());
        uint64_t damaged = 0;
        const auto found = vol.Walk(nullptr, nullptr, &damaged);
        EXPECT_EQ(damaged, 1u);
        ASSERT_TRUE(found.count("Docs"));
        EXPECT_TRUE(found.at("Docs").damaged);
        EXPECT_FALSE(found.count("Docs/Sub"));
        EXPECT_TRUE(found.count("Pics/kept.jpg"));
        EXPECT_TRUE(found.count("Gone/Inner/deep report.pdf"));
    }
    // The root of a FAT16 volume: a sector that cannot be read costs only
    // its entries; with no sector readable the root is not built.
    {
        const std::string img16 =
            Make("fat16.img", {"-F", "16", "-s", "4", "-i", "1234ABCD"}, "32M");
        Populate(img16);
        // Enough root entries to reach its second sector.
        for (int i = 0; i < 8; ++i)
            M({"mcopy", "-i", img16, m_dir / "note.txt",
               "::/extra note " + std::to_string(i) + ".txt"});
        auto raw = velmora::test::MemoryStorageDevice::FromFile(img16, 512);
        velmora::test::MemoryStorageDevice dev(raw->Bytes(), 512);
        Volume vol(dev);
        ASSERT_TRUE(vol.ok());
        const auto whole = vol.Walk();
        const long long root = static_cast<long long>(vol.geo().rootDirStart);
        dev.FailSector(root);
        bool rootOk = false;
        const auto found = vol.Walk(nullptr, &rootOk);
        EXPECT_TRUE(rootOk);
        // The entries of the second root sector come back whole.
        ASSERT_TRUE(whole.count("extra note 7.txt"));
        ASSERT_TRUE(found.count("extra note 7.txt"));
        EXPECT_EQ(found.at("extra note 7.txt").data, whole.at("extra note 7.txt").data);
        EXPECT_LT(found.size(), whole.size());
        for (long long s = root; s < root + static_cast<long long>(vol.geo().rootDirSectors); ++s)
            dev.FailSector(s);
        EXPECT_TRUE(vol.Walk(nullptr, &rootOk).empty());
        EXPECT_FALSE(rootOk);
    }
}

}  // namespace

namespace {

// A FAT given as a map; absent entries are free.
class MapFat final : public IFATTable {
public:
    explicit MapFat(std::map<uint32_t, uint32_t> next) : m_next(std::move(next)) {}
    uint32_t GetNextCluster(uint32_t c) const override {
        const auto it = m_next.find(c);
        return it == m_next.end() ? 0 : it->second;
    }

private:
    std::map<uint32_t, uint32_t> m_next;
};

// A FAT32 volume of 1-sector clusters held in memory: cluster 2 at sector
// 64, enough clusters to reach past the first 64K band. Every sector is
// zero until a test writes one.
struct SmallFat32 {
    static constexpr uint64_t kDataStart = 64;
    static constexpr uint64_t kClusters = 0x10100;
    velmora::test::MemoryVolume dev{std::vector<uint8_t>((kDataStart + kClusters) * 512, 0)};
    MapFat fat;
    FakeBuilder builder;
    CFATSearchedPartitionInfo part{512};
    FATVisitedClusters visited;
    FATFolderMap folders;

    explicit SmallFat32(std::map<uint32_t, uint32_t> chains = {}) : fat(std::move(chains)) {
        CFATFileNode::SetTraceEnabled(false);
        part.partitionIndex = 0;
    }
    void Write(uint64_t cluster, const std::vector<uint8_t>& bytes) {
        std::copy(bytes.begin(), bytes.end(),
                  dev.Bytes().begin() + static_cast<long>((kDataStart + cluster - 2) * 512));
    }
    CFATBuildChildren Walker() {
        return CFATBuildChildren(&builder, nullptr, &part, &dev, &visited, &folders,
                                 kDataStart + kClusters, 2, &fat, 1, 2, 0, 0, kDataStart);
    }
    const CFATFileNode* Find(const std::string& name) const {
        for (const auto& n : builder.nodes)
            if (n->GetFileName() && name == n->GetFileName())
                return n.get();
        return nullptr;
    }
};

}  // namespace

// A deleted FAT32 file whose candidate clusters all fail the content test is
// placed in the band of the cluster the walk expected next, when that band
// is above the first; otherwise it keeps the cluster its entry names.
TEST(FATWalkEdges, AllCandidatesFailingKeepTheExpectedHighWord) {
    // Every sector is zero: nothing passes.
    velmora::test::ScopedFileStart signatureSearch(&JpegStart);
    struct Case {
        const char* what;
        uint32_t liveCluster;  // the live file before it sets the expected cluster
        uint64_t placed;
    } cases[] = {
        {"expected above the first band", 0x10040, 0x10007},
        {"expected in the first band", 0x0040, 0x0007},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SmallFat32 vol(std::map<uint32_t, uint32_t>{{c.liveCluster, 0x0FFFFFFF}});
        RawEntry gone = ShortEntry("XGONE   JPG", 0x20, 0x0007, 1000);
        gone[0] = 0xE5;
        auto root = Join({ShortEntry("LIVE    BIN", 0x20, c.liveCluster, 512), gone});
        std::vector<CFATFileNode*> folders;
        CFATBuildChildren walker = vol.Walker();
        walker.BuildChildrenFromBuffer(root.data(), root.size(), nullptr, folders, nullptr, nullptr,
                                       0, 1);
        const CFATFileNode* node = vol.Find("#GONE.JPG");
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(static_cast<uint64_t>(node->GetCurrentNodeID()), c.placed);
    }
}

// A sub-folder must begin with "." and ".."; one that does not is not a
// folder of ours, and its entries are not taken. A root must not.
TEST(FATWalkEdges, FolderStartIsChecked) {
    struct Case {
        const char* what;
        bool dots;
        int root;
        int result;
        bool childFound;
    } cases[] = {
        {"sub-folder starting with . and ..", true, 0, 1, true},
        {"sub-folder whose first entry is not .", false, 0, 0, false},
        {"root starting with .", true, 1, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SmallFat32 vol(std::map<uint32_t, uint32_t>{{5, 0x0FFFFFFF}});
        std::vector<RawEntry> entries;
        if (c.dots) {
            entries.push_back(ShortEntry(".          ", 0x10, 5, 0));
            entries.push_back(ShortEntry("..         ", 0x10, 0, 0));
        }
        entries.push_back(ShortEntry("CHILD   TXT", 0x20, 9, 100));
        vol.Write(5, Join(entries, 512));
        std::vector<CFATFileNode*> folders;
        CFATBuildChildren walker = vol.Walker();
        EXPECT_EQ(walker.BuildChildren(nullptr, 5, folders, c.root, 1), c.result);
        EXPECT_EQ(vol.Find("CHILD.TXT") != nullptr, c.childFound);
    }
}
