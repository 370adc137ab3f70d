// The APFS file node's merge rules and the container walk over small
// containers built in memory, damaged on purpose: every walk ends with the
// module's own result, reads nothing past its buffers and loops nowhere.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
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
    EXPECT_EQ(std::string(trash.GetFileName()), "Trashes");
    EXPECT_TRUE(trash.IsDirectory() && trash.IsDeleted());

    EXPECT_FALSE(apfs::IsNameAllowed(".ds_store"));
    EXPECT_EQ(apfs::NormaliseName(".DS_Store"), "");
    EXPECT_EQ(apfs::NormaliseName(".hidden"), "hidden");
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

}  // namespace
