// The APFS file node's merge rules and the container walk over small
// containers built in memory, damaged on purpose: every walk ends with the
// module's own result, reads nothing past its buffers and loops nowhere.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "APFSContainer.h"
#include "APFSDeepScan.h"
#include "APFSFileNode.h"
#include "ByteReader.h"
#include "SearchedPartitionInfo.h"
#include "support/MemoryStorageDevice.h"

using apfs::APFSContainer;
using apfs::APFSFileNode;

namespace {

constexpr size_t BS = 4096;

std::string Runs(APFSFileNode& n) {
    std::string out;
    IDataRunList* list = n.GetDataRunList();
    if (!list)
        return out;
    for (const DataRun* r = list->GetFirst(); r; r = list->GetNext())
        out +=
            (out.empty() ? "" : ",") + std::to_string(r->start) + ":" + std::to_string(r->length);
    return out;
}

TEST(ApfsFileNode, ExtentsBuildRunsWithHolesAndGapsAsZeros) {
    struct Extent {
        long long start, length;
        uint64_t logical;
    };
    struct Case {
        const char* what;
        uint64_t size;
        std::vector<Extent> extents;
        const char* runs;
    };
    const Case cases[] = {
        {"hole in the middle",
         16284,
         {{240032, 8, 0}, {-1, 16, 4096}, {240040, 8, 12288}},
         "240032:8,-1:16,240040:8"},
        {"gap between extents", 16384, {{100, 8, 0}, {200, 8, 12288}}, "100:8,-1:16,200:8"},
        {"logical 0 restarts the list", 20000, {{100, 8, 0}, {300, 8, 4096}, {500, 8, 0}}, "500:8"},
        {"a longer copy of an extent", 20000, {{100, 8, 0}, {100, 16, 0}}, "100:16"},
        {"covered: later extents refused", 100, {{100, 8, 0}, {300, 8, 4096}}, "100:8"},
        {"10,000 bytes, 8192 covered, more accepted",
         10000,
         {{100, 16, 0}, {300, 8, 8192}},
         "100:16,300:8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        APFSFileNode n;
        n.SetSize(c.size);
        for (const Extent& e : c.extents)
            n.AddExtent(e.start, e.length, 512, e.logical);
        EXPECT_EQ(Runs(n), c.runs);
        EXPECT_EQ(static_cast<uint64_t>(n.GetFileSize()), c.size);
    }
}

TEST(ApfsFileNode, NamesKindsParentsAndTimes) {
    APFSFileNode n;
    n.SetKind(false);
    n.SetKind(true);
    EXPECT_FALSE(n.IsDirectory());
    n.SetBelongedPartition(2);
    n.SetParentNodeID(1);
    EXPECT_EQ(n.GetParentNodeID(), 0x200000002LL);

    APFSFileNode trash;
    trash.SetName(".Trashes");
    EXPECT_EQ(std::string(trash.GetFileName()), ".Trashes");
    EXPECT_TRUE(trash.IsDirectory() && trash.IsDeleted());
    // Hidden names and Finder's files are the user's files, named as they
    // are; a folder merely called "Trashes" is no trash.
    for (const char* name : {".DS_Store", ".hidden", "..x", "Trashes"}) {
        APFSFileNode n2;
        n2.SetName(name);
        EXPECT_EQ(std::string(n2.GetFileName()), name);
        EXPECT_FALSE(n2.IsDeleted()) << name;
    }
    // 0 means not recorded and stays 0, never 1970.
    EXPECT_EQ(apfs::ApfsTimeToFileTime(0), 0);
    EXPECT_EQ(apfs::ApfsTimeToFileTime(1000000000ULL), 116444736000000000LL + 10000000LL);
    EXPECT_EQ(n.GetCreationTime(), 0);

    // Twins: a second folder of the same name under one parent is not listed.
    APFSFileNode parent, a, b;
    parent.SetKind(true);
    a.SetKind(true);
    b.SetKind(true);
    a.SetName("x");
    b.SetName("x");
    APFSFileNode::AttachToParent(&parent, &a);
    APFSFileNode::AttachToParent(&parent, &b);
    EXPECT_EQ(parent.firstChild_, &a);
    EXPECT_EQ(b.twinTarget_, &a);
    EXPECT_FALSE(b.IsReadyToReport(true));

    IFileNode* copy = a.Clone();
    EXPECT_EQ(std::string(copy->GetFileName()), "x");
    EXPECT_EQ(a.parentLink_, &parent);
    copy->Release();  // a copy frees itself; the container's nodes do not
}

// ---- a container built in memory ----

void Put16(std::vector<uint8_t>& d, size_t at, uint16_t v) {
    vk::StoreLE<uint16_t>(&d[at], v);
}
void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    vk::StoreLE<uint32_t>(&d[at], v);
}
void Put64(std::vector<uint8_t>& d, size_t at, uint64_t v) {
    vk::StoreLE<uint64_t>(&d[at], v);
}

struct Image {
    explicit Image(size_t blocks) : bytes(blocks * BS, 0) {}
    size_t B(uint64_t block) const { return block * BS; }
    void Header(uint64_t block, uint64_t oid, uint16_t type, uint16_t subtype) {
        Put64(bytes, B(block) + 8, oid);
        Put16(bytes, B(block) + 24, type);
        Put16(bytes, B(block) + 28, subtype);
    }
    // Container superblock at 0 -> object map at 1 -> root leaf at 2 listing
    // one volume at 3 -> volume object map at 4 -> its tree root `tree`.
    void Container(uint32_t blockSize, uint64_t count, uint64_t tree) {
        Header(0, 1, 1, 0);
        Put32(bytes, 32, 0x4253584E);
        Put32(bytes, 36, blockSize);
        Put64(bytes, 40, count);
        Put64(bytes, 160, 1);
        Header(1, 1, 0xB, 0);
        Put64(bytes, B(1) + 48, 2);
        Header(2, 2, 2, 11);
        Put16(bytes, B(2) + 32, 7);
        Put32(bytes, B(2) + 36, 1);
        Put16(bytes, B(2) + 58, 16);  // value offset: value at 4096 - 40 - 16
        Put64(bytes, B(2) + BS - 40 - 16 + 8, 3);
        Header(3, 1026, 0xD, 0);
        Put32(bytes, B(3) + 32, 0x42535041);
        std::memcpy(&bytes[B(3) + 704], "VOL", 3);
        Put64(bytes, B(3) + 128, 4);
        Header(4, 4, 0xB, 0);
        Put64(bytes, B(4) + 48, tree);
    }
    // An object-map index node whose children are `children`.
    void IndexNode(uint64_t block, std::vector<uint64_t> children) {
        Header(block, block, 3, 11);
        Put16(bytes, B(block) + 32, 4);
        Put32(bytes, B(block) + 36, static_cast<uint32_t>(children.size()));
        for (size_t i = 0; i < children.size(); ++i) {
            Put16(bytes, B(block) + 56 + 4 * i + 2, static_cast<uint16_t>(8 * (i + 1)));
            Put64(bytes, B(block) + BS - 8 * (i + 1), children[i]);
        }
    }
    // A file-system tree leaf with raw table entries (key offset, key
    // length, value offset, value length) and the bytes they point at.
    void FsLeaf(uint64_t block, const std::vector<std::array<uint16_t, 4>>& toc) {
        Header(block, block, 3, 14);
        Put16(bytes, B(block) + 32, 2);
        Put32(bytes, B(block) + 36, static_cast<uint32_t>(toc.size()));
        Put16(bytes, B(block) + 42, static_cast<uint16_t>(8 * toc.size()));
        for (size_t i = 0; i < toc.size(); ++i)
            for (size_t j = 0; j < 4; ++j)
                Put16(bytes, B(block) + 56 + 8 * i + 2 * j, toc[i][j]);
    }
    std::vector<uint8_t> bytes;
};

// The records of one file-system tree leaf, laid out as a real node: keys
// packed after the table of contents, values packed back from the block end.
struct Leaf {
    void Add(std::vector<uint8_t> key, std::vector<uint8_t> value) {
        records.push_back({std::move(key), std::move(value)});
    }
    // Writes the leaf into `block` of img with object identifier oid.
    void WriteTo(Image& img, uint64_t block, uint64_t oid) const {
        img.Header(block, oid, 3, 14);
        const size_t at = img.B(block);
        Put16(img.bytes, at + 32, 2);
        Put32(img.bytes, at + 36, static_cast<uint32_t>(records.size()));
        const size_t toc = 8 * records.size();
        Put16(img.bytes, at + 42, static_cast<uint16_t>(toc));
        size_t key = 0, value = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            const auto& [k, v] = records[i];
            value += v.size();
            const size_t e = at + 56 + 8 * i;
            Put16(img.bytes, e, static_cast<uint16_t>(key));
            Put16(img.bytes, e + 2, static_cast<uint16_t>(k.size()));
            Put16(img.bytes, e + 4, static_cast<uint16_t>(value));
            Put16(img.bytes, e + 6, static_cast<uint16_t>(v.size()));
            std::memcpy(&img.bytes[at + 56 + toc + key], k.data(), k.size());
            std::memcpy(&img.bytes[at + BS - value], v.data(), v.size());
            key += k.size();
        }
    }
    std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> records;
};

std::vector<uint8_t> Bytes(size_t n) {
    return std::vector<uint8_t>(n, 0);
}

// Keys and values of the three record kinds the deep search reads.
std::vector<uint8_t> InodeKey(uint64_t oid) {
    auto k = Bytes(8);
    Put64(k, 0, (0x3ULL << 60) | oid);
    return k;
}
struct InodeTimes {
    uint64_t create, modify, change;
};
// An inode value with a name field of `nameField` bytes (the name and its
// zero, or whatever a damaged field holds) and, when size is not 0, a data
// stream of that size. nameFieldSize overrides the size the field claims.
std::vector<uint8_t> InodeValue(uint64_t parent, uint64_t oid, InodeTimes t,
                                const std::string& nameField, uint64_t size = 0,
                                int nameFieldSize = -1) {
    const size_t fields = size != 0 ? 2 : 1;
    const size_t nameSpace = (nameField.size() + 7) / 8 * 8;
    auto v = Bytes(96 + 4 * fields + nameSpace + (size != 0 ? 40 : 0));
    Put64(v, 0, parent);
    Put64(v, 8, oid);
    Put64(v, 16, t.create);
    Put64(v, 24, t.modify);
    Put64(v, 32, t.change);
    Put64(v, 40, t.create);
    Put16(v, 80, 0x8000);  // a regular file
    Put16(v, 92, static_cast<uint16_t>(fields));
    Put16(v, 96, 0x0204);
    Put16(v, 98, static_cast<uint16_t>(nameFieldSize >= 0 ? nameFieldSize : nameField.size()));
    std::memcpy(&v[96 + 4 * fields], nameField.data(), nameField.size());
    if (size != 0) {
        Put16(v, 100, 0x2008);
        Put16(v, 102, 40);
        Put64(v, 96 + 4 * fields + nameSpace, size);
    }
    return v;
}
// A directory-record key; lengthField overrides the length the key claims.
std::vector<uint8_t> DirKey(uint64_t parent, const std::string& nameWithZero,
                            uint32_t lengthField = 0) {
    auto k = Bytes(12 + nameWithZero.size());
    Put64(k, 0, (0x9ULL << 60) | parent);
    Put32(k, 8,
          (0x1234u << 10) |
              (lengthField != 0 ? lengthField : static_cast<uint32_t>(nameWithZero.size())));
    std::memcpy(&k[12], nameWithZero.data(), nameWithZero.size());
    return k;
}
std::vector<uint8_t> DirValue(uint64_t target, uint64_t added, uint16_t type) {
    auto v = Bytes(18);
    Put64(v, 0, target);
    Put64(v, 8, added);
    Put16(v, 16, type);
    return v;
}
std::vector<uint8_t> ExtentKey(uint64_t oid, uint64_t logical) {
    auto k = Bytes(16);
    Put64(k, 0, (0x8ULL << 60) | oid);
    Put64(k, 8, logical);
    return k;
}
std::vector<uint8_t> ExtentValue(uint64_t length, uint64_t physical) {
    auto v = Bytes(24);
    Put64(v, 0, length);
    Put64(v, 8, physical);
    return v;
}

// 2020-01-01 and other instants, in nanoseconds since 1970.
constexpr uint64_t kNs = 1000000000ULL;
constexpr uint64_t k2020 = 1577836800ULL * kNs;
constexpr uint64_t k1980 = 315532800ULL * kNs;

// Delegate over an image in memory; counts reads so a loop would show.
class MemDelegate final : public apfs::APFSDelegate {
public:
    explicit MemDelegate(std::vector<uint8_t>& b) : bytes(b) {}
    bool Continued() override { return true; }
    int AddNode(APFSFileNode* node) override {
        node->flags_ |= APFSFileNode::kReported;
        reported.push_back(node);
        return 1;
    }
    int ReadBlocks(APFSContainer*, unsigned long long block, int n, void* out) override {
        ++reads;
        if (block > bytes.size() / BS || static_cast<size_t>(n) > bytes.size() - block * BS)
            return 0;
        std::memcpy(out, &bytes[block * BS], static_cast<size_t>(n));
        return 1;
    }
    std::vector<uint8_t>& bytes;
    std::vector<APFSFileNode*> reported;
    int reads = 0;
};

TEST(ApfsContainerWalk, DamagedContainersEndWithTheWalksResult) {
    struct Case {
        const char* what;
        uint32_t blockSize;
        uint64_t count;
        int result;
    };
    const Case cases[] = {
        {"block size 8192 would overrun the block buffer", 8192, 64, -2},
        {"block size 65536", 65536, 64, -2},
        {"no blocks at all", 4096, 0, -2},
        {"sound", 4096, 64, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image img(64);
        img.Container(c.blockSize, c.count, 5);
        MemDelegate d(img.bytes);
        APFSContainer container(&d, 0, 0);
        EXPECT_EQ(container.WalkFromContainerSuperblock(), c.result);
        if (c.result == 0) {
            EXPECT_EQ(container.Name(), "VOL_0");
        }
    }
    std::vector<uint8_t> nothing;
    MemDelegate d(nothing);
    EXPECT_EQ(APFSContainer(&d, 0, 0).WalkFromContainerSuperblock(), -1);
}

TEST(ApfsContainerWalk, ObjectMapCyclesAndBlocksPastTheContainerEnd) {
    Image img(64);
    img.Container(4096, 64, 5);
    img.IndexNode(5, {6, 5, 1000000, 63});
    img.IndexNode(6, {5, 6, 7});
    img.IndexNode(7, {5});
    MemDelegate d(img.bytes);
    APFSContainer container(&d, 0, 0);
    EXPECT_EQ(container.WalkFromContainerSuperblock(), 0);
    // Superblock, map, root, volume, volume map, then 5, 6, 7 and 63 once each.
    EXPECT_LE(d.reads, 10);
}

TEST(ApfsContainerWalk, RecordsWhoseLengthsRunPastTheNodeAreSkipped) {
    Image img(64);
    img.Container(4096, 64, 5);
    img.IndexNode(5, {10});
    // Entry 0: a directory record whose name length (0x3FF) runs past its
    // 20-byte key; entry 1: a key reaching past the block; entry 2: a value
    // reaching past it; entry 3: an extent past the container's 64 blocks.
    img.FsLeaf(
        10, {{{0, 20, 18, 18}}, {{4000, 200, 40, 18}}, {{20, 16, 4090, 200}}, {{40, 16, 60, 24}}});
    const size_t keys = img.B(10) + 56 + 32;
    Put64(img.bytes, keys, (0x9ULL << 60) | 2);
    Put32(img.bytes, keys + 8, 0x3FF);
    std::memcpy(&img.bytes[keys + 12], "abcdefgh", 8);
    Put64(img.bytes, img.B(10) + BS - 18, 30);  // target
    Put16(img.bytes, img.B(10) + BS - 18 + 16, 8);
    Put64(img.bytes, keys + 40, (0x8ULL << 60) | 30);
    Put64(img.bytes, img.B(10) + BS - 60, 4096);
    Put64(img.bytes, img.B(10) + BS - 60 + 8, 63);  // one block at 63 fits...
    MemDelegate d(img.bytes);
    APFSContainer container(&d, 0, 0);
    EXPECT_EQ(container.WalkFromContainerSuperblock(), 0);
    bool named = false;
    for (APFSFileNode* n : container.Nodes()) {
        if (n->Name() == "abcdefgh")
            named = true;
        EXPECT_LE(n->Name().size(), 8u);
    }
    EXPECT_TRUE(named);
    // ...while one that runs past the end is refused.
    Image img2 = img;
    Put64(img2.bytes, img2.B(10) + BS - 60, 2 * 4096);
    MemDelegate d2(img2.bytes);
    APFSContainer c2(&d2, 0, 0);
    c2.WalkFromContainerSuperblock();
    for (APFSFileNode* n : c2.Nodes())
        EXPECT_EQ(n->GetDataRunList(), nullptr) << n->Name();
}

TEST(ApfsDeepScan, LastGroupStopsAtTheDeviceEndAndLostNodesOfAContainerFromAVolumeSuperblock) {
    // A device of 20 blocks whose only structure is a volume superblock in
    // block 17: the last group of 4 blocks is read although 16 do not fit.
    Image img(20);
    img.Header(17, 1026, 0xD, 0);
    Put32(img.bytes, img.B(17) + 32, 0x42535041);
    std::memcpy(&img.bytes[img.B(17) + 704], "LATE", 4);
    velmora::test::MemoryStorageDevice device(img.bytes, 512);
    apfs::APFSDeepScan scan;
    scan.SetDevice(&device);
    scan.AnalyzeBlock(0, device.GetTotalSectors());
    ASSERT_EQ(scan.Containers().size(), 1u);
    EXPECT_EQ(scan.Containers().begin()->second->Name(), "LATE_0");
    EXPECT_EQ(scan.Containers().begin()->second->BlockCount(), 0u);
    CSearchedPartitionInfo* out[2] = {};
    EXPECT_EQ(scan.GetSearchedPartitionInfo(out, 2), 1);
    delete out[0];
}

// A node's records handled on their own, in a first container that has not
// finished its walk: the nodes made, by name.
std::map<std::string, APFSFileNode*> NodesOf(APFSContainer& c) {
    std::map<std::string, APFSFileNode*> out;
    for (APFSFileNode* n : c.Nodes())
        out[n->Name()] = n;
    return out;
}

TEST(ApfsRecords, NamesAreReadWholeAndNeverPastTheirKeyOrValue) {
    // 200 three-byte characters: a 601-byte name with its zero, which the
    // format allows (up to 1023 in the directory record's 10-bit length).
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "\xE6\x97\xA5";
    struct Case {
        const char* what;
        Leaf leaf;
        std::vector<std::string> names;
    };
    std::vector<Case> cases;
    {
        Case c{"a directory record with a 601-byte name", {}, {longName}};
        c.leaf.Add(DirKey(2, longName + '\0'), DirValue(30, k2020, 8));
        cases.push_back(std::move(c));
    }
    {
        // The length field claims 1023 bytes; the key holds 8 with no zero,
        // and the next key's bytes follow at once.
        Case c{"a name length past its key", {}, {"abcdefgh"}};
        c.leaf.Add(DirKey(2, "abcdefgh", 0x3FF), DirValue(30, k2020, 8));
        c.leaf.Add(InodeKey(0x41), Bytes(20));
        cases.push_back(std::move(c));
    }
    {
        Case c{"an inode with a 601-byte name", {}, {longName}};
        c.leaf.Add(InodeKey(31), InodeValue(2, 31, {k2020, k2020, k2020}, longName + '\0'));
        cases.push_back(std::move(c));
    }
    {
        Case c{"an inode whose name field runs past its value", {}, {}};
        c.leaf.Add(InodeKey(31),
                   InodeValue(2, 31, {k2020, k2020, k2020}, std::string("abc\0", 4), 0, 4000));
        cases.push_back(std::move(c));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image img(16);
        c.leaf.WriteTo(img, 10, 10);
        MemDelegate d(img.bytes);
        APFSContainer container(&d, 0, 0);
        container.HandleFsTreeNode(&img.bytes[img.B(10)], 10);
        std::vector<std::string> names;
        for (const auto& [name, node] : NodesOf(container))
            names.push_back(name);
        EXPECT_EQ(names, c.names);
    }
}

TEST(ApfsRecords, CreationTimeIsTheFirstPlausibleOneAndLaterDatesAreKept) {
    const uint64_t k2030 = 1906502400ULL * kNs;      // 2030-06-01, after 2029-05-14
    const uint64_t farAhead = 10000000000ULL * kNs;  // the year 2286
    struct Case {
        const char* what;
        InodeTimes times;
        bool shown;
        uint64_t creation;
    };
    const Case cases[] = {
        {"create time plausible", {k2020, k2020 + kNs, k2020 + 2 * kNs}, true, k2020},
        {"create before 1985: the modification time", {k1980, k2020, k2020 + kNs}, true, k2020},
        {"only the change time", {0, 0, k2020}, true, k2020},
        {"every time after 2029-05-14", {k2030, k2030 + kNs, k2030 + 2 * kNs}, true, k2030},
        {"every time before 1985: the earliest recorded", {k1980, k1980 + kNs, 0}, true, k1980},
        {"every time far past the clock", {farAhead, farAhead, farAhead}, false, 0},
        {"no time at all", {0, 0, 0}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image img(16);
        Leaf leaf;
        leaf.Add(InodeKey(31), InodeValue(2, 31, c.times, std::string("a.txt\0", 6), 100));
        leaf.WriteTo(img, 10, 10);
        MemDelegate d(img.bytes);
        APFSContainer container(&d, 0, 0);
        container.HandleFsTreeNode(&img.bytes[img.B(10)], 10);
        container.FlushPending(-1);
        ASSERT_EQ(d.reported.size(), c.shown ? 1u : 0u);
        if (c.shown) {
            EXPECT_EQ(d.reported[0]->creation_, c.creation);
            EXPECT_EQ(d.reported[0]->modification_, c.times.modify);
        }
    }
}

// A device whose listed sectors cannot be read; counts failed reads.
class DamagedDevice final : public velmora::test::MemoryStorageDevice {
public:
    DamagedDevice(std::vector<uint8_t> bytes, int sectorSize, std::set<long long> bad)
        : MemoryStorageDevice(std::move(bytes), sectorSize), bad_(std::move(bad)) {}
    int ReadSector(void* buffer, long long first, long long count) override {
        for (long long s : bad_)
            if (s >= first && s < first + count) {
                ++failed;
                return 0;
            }
        const int ok = MemoryStorageDevice::ReadSector(buffer, first, count);
        failed += ok ? 0 : 1;
        return ok;
    }
    int failed = 0;

private:
    std::set<long long> bad_;
};

TEST(ApfsDeepScan, EveryReadableBlockIsLookedAtUpToTheDeviceEnd) {
    struct Case {
        const char* what;
        size_t blocks;
        int sectorSize;
        uint64_t superblock;      // block of the volume superblock
        std::set<long long> bad;  // unreadable sectors
        int failedReads;
    };
    const Case cases[] = {
        // The last 64 KiB group would run 12 blocks past the end.
        {"device end inside a group", 20, 512, 17, {}, 0},
        {"device end inside a group, 4096-byte sectors", 20, 4096, 17, {}, 0},
        // The group fails whole; its other blocks are read one by one.
        {"a bad sector before the superblock in its group", 32, 512, 5, {3 * 8 + 2}, 2},
        {"a bad sector after it", 32, 512, 5, {7 * 8}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image img(c.blocks);
        img.Header(c.superblock, 1026, 0xD, 0);
        Put32(img.bytes, img.B(c.superblock) + 32, 0x42535041);
        std::memcpy(&img.bytes[img.B(c.superblock) + 704], "LATE", 4);
        DamagedDevice device(img.bytes, c.sectorSize, c.bad);
        apfs::APFSDeepScan scan;
        scan.SetDevice(&device);
        scan.AnalyzeBlock(0, device.GetTotalSectors());
        ASSERT_EQ(scan.Containers().size(), 1u);
        EXPECT_EQ(scan.Containers().begin()->second->Name(), "LATE_0");
        EXPECT_EQ(device.failed, c.failedReads);
    }
}

// Block numbers are compared within one container: the walk's copies and
// the copies found on the surface must use the same numbering, wherever the
// container starts on the disk.
TEST(ApfsContainerWalk, AnOlderCopyNearTheLiveLeafGivesAFileItsMissingExtents) {
    // The live leaf (block 10) holds big.bin's inode and its first extent;
    // the leaf with the second extent is gone from the tree. An older copy
    // of it lies a few blocks before or after; the surface pass meets it
    // and the live leaf in block order.
    for (const uint64_t copy : {8, 30}) {
        Image img(64);
        img.Container(4096, 64, 5);
        img.IndexNode(5, {10});
        Leaf live;
        live.Add(InodeKey(30),
                 InodeValue(2, 30, {k2020, k2020, k2020}, std::string("big.bin\0", 8), 8192));
        live.Add(ExtentKey(30, 0), ExtentValue(4096, 40));
        live.WriteTo(img, 10, 10);
        Leaf old;
        old.Add(ExtentKey(30, 4096), ExtentValue(4096, 50));
        old.WriteTo(img, copy, copy);
        for (const unsigned long long start : {0ULL, 8ULL * 60000, 8ULL * 60000 + 8}) {
            SCOPED_TRACE("copy at block " + std::to_string(copy) + ", container at sector " +
                         std::to_string(start));
            MemDelegate d(img.bytes);
            APFSContainer container(&d, 0, start);
            ASSERT_EQ(container.WalkFromContainerSuperblock(), 0);
            const uint64_t first = start / 8;
            for (uint64_t b : {std::min<uint64_t>(copy, 10), std::max<uint64_t>(copy, 10)})
                container.AnalyzeLostNode(start + 8 * b, first + b, &img.bytes[img.B(b)]);
            container.FlushPending(-1);
            const auto nodes = NodesOf(container);
            ASSERT_TRUE(nodes.count("big.bin"));
            EXPECT_EQ(Runs(*nodes.at("big.bin")), "320:8,400:8");
            EXPECT_EQ(nodes.size(), 1u);
        }
    }
}

// An extent whose physical block is 0 is a hole of the file (sparse): a
// run of zeros, never the container's block 0 read as the file's bytes.
TEST(ApfsContainerWalk, ExtentAtPhysicalBlockZeroIsAHole) {
    Image img(64);
    img.Container(4096, 64, 5);
    img.IndexNode(5, {10});
    Leaf live;
    live.Add(InodeKey(30),
             InodeValue(2, 30, {k2020, k2020, k2020}, std::string("sparse.bin\0", 11), 8192));
    live.Add(ExtentKey(30, 0), ExtentValue(4096, 0));
    live.Add(ExtentKey(30, 4096), ExtentValue(4096, 50));
    live.WriteTo(img, 10, 10);
    MemDelegate d(img.bytes);
    APFSContainer container(&d, 0, 0);
    ASSERT_EQ(container.WalkFromContainerSuperblock(), 0);
    container.FlushPending(-1);
    const auto nodes = NodesOf(container);
    ASSERT_TRUE(nodes.count("sparse.bin"));
    EXPECT_EQ(Runs(*nodes.at("sparse.bin")), "-1:8,400:8");
}

std::vector<uint8_t> FolderValue(uint64_t parent, uint64_t oid, const std::string& nameWithZero) {
    auto v = InodeValue(parent, oid, {k2020, k2020, k2020}, nameWithZero);
    Put16(v, 80, 0x4000);
    return v;
}

TEST(ApfsContainerWalk, AFileWaitingForItsFolderJoinsTheCopyNearestToTheScan) {
    // The live tree (leaf 50) holds folder 40 as "beta"; an older leaf at
    // block 14 holds it as "alpha", and a deleted file of that folder lies
    // in a lost leaf at block 12. When the scan has passed block 16 the
    // file joins the copy nearest to it.
    Image img(64);
    img.Container(4096, 64, 5);
    img.IndexNode(5, {50});
    Leaf live;
    live.Add(InodeKey(40), FolderValue(2, 40, std::string("beta\0", 5)));
    live.WriteTo(img, 50, 50);
    Leaf file;
    file.Add(InodeKey(41), InodeValue(40, 41, {k2020, k2020, k2020}, std::string("f.txt\0", 6)));
    file.WriteTo(img, 12, 12);
    Leaf older;
    older.Add(InodeKey(40), FolderValue(2, 40, std::string("alpha\0", 6)));
    older.WriteTo(img, 14, 14);
    for (const unsigned long long start : {0ULL, 8ULL * 60000}) {
        SCOPED_TRACE("container at sector " + std::to_string(start));
        MemDelegate d(img.bytes);
        APFSContainer container(&d, 0, start);
        ASSERT_EQ(container.WalkFromContainerSuperblock(), 0);
        const uint64_t first = start / 8;
        for (uint64_t b : {12, 14})
            container.AnalyzeLostNode(start + 8 * b, first + b, &img.bytes[img.B(b)]);
        container.FlushPending(static_cast<long long>(first + 16));
        const auto nodes = NodesOf(container);
        ASSERT_TRUE(nodes.count("f.txt"));
        ASSERT_NE(nodes.at("f.txt")->parentLink_, nullptr);
        EXPECT_EQ(nodes.at("f.txt")->parentLink_->Name(), "alpha");
    }
}

}  // namespace
