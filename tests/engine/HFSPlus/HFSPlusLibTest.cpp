// Key order, the case-folding table, node validation, record readers and the
// LZVN decoder, on hand-made bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "HFSPlusLib/HFSPlusBTree.h"
#include "HFSPlusLib/HFSPlusCompress.h"
#include "HFSPlusLib/HFSPlusKeys.h"
#include "HFSPlusLib/HFSPlusLayout.h"
#include "HFSPlusLib/HFSPlusStructs.h"

using namespace hfsplus;
using namespace std::string_literals;

namespace {

std::vector<uint16_t> U(const std::u16string& s) {
    return std::vector<uint16_t>(s.begin(), s.end());
}

TEST(HFSPlusKeys, CatalogOrder) {
    struct Row {
        uint32_t p1;
        std::u16string n1;
        uint32_t p2;
        std::u16string n2;
        uint8_t compare;
        int expected;
    } rows[] = {
        {1, u"b", 2, u"a", 0xCF, -1},     // parent first
        {2, u"abc", 2, u"ABC", 0xCF, 0},  // case folded
        {2, u"abc", 2, u"ABC", 0xBC, 1},  // HFSX: binary
        {2, u"abc", 2, u"ABC", 0x00, 1},  // any other type: binary
        {2, u"a:b", 2, u"a/b", 0xCF, 0},  // ":" compares as "/"
        {2, u"a:b", 2, u"a/b", 0xBC, 0},
        {2, u"ab", 2, u"abc", 0xCF, -1},                         // shorter first
        {2, u"a\u200Cb", 2, u"ab", 0xCF, 0},                     // ignorable skipped
        {2, u"\0\0\0\0HFS+ Private Data"s, 2, u"zzz", 0xCF, 1},  // NUL sorts last
        {2, u"\u00C6", 2, u"\u00E6", 0xCF, 0},                   // Æ folds
        {2, u"\u00C0", 2, u"\u00E0", 0xCF, -1},  // À does not (names are decomposed)
        {2, u"\u0391", 2, u"\u03B1", 0xCF, 0},   // Greek
        {2, u"\u10A0", 2, u"\u10D0", 0xCF, 0},   // Georgian as the published table folds it
        {2, u"\uFF21", 2, u"\uFF41", 0xCF, 0},   // full width
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        const BTKey a = MakeCatalogKey(r.p1, U(r.n1)), b = MakeCatalogKey(r.p2, U(r.n2));
        EXPECT_EQ(CompareCatalogKeys(a, b, r.compare), r.expected);
        EXPECT_EQ(CompareCatalogKeys(b, a, r.compare), -r.expected);
    }
}

TEST(HFSPlusKeys, ExtentAndAttributeOrder) {
    // fileID beats the fork type, the fork type beats the start block.
    EXPECT_LT(CompareExtentKeys(MakeExtentKey(5, 0xFF, 0), MakeExtentKey(6, 0x00, 0)), 0);
    EXPECT_LT(CompareExtentKeys(MakeExtentKey(5, 0x00, 99), MakeExtentKey(5, 0xFF, 0)), 0);
    EXPECT_LT(CompareExtentKeys(MakeExtentKey(5, 0x00, 8), MakeExtentKey(5, 0x00, 16)), 0);
    EXPECT_EQ(CompareExtentKeys(MakeExtentKey(5, 0xFF, 8), MakeExtentKey(5, 0xFF, 8)), 0);
    BTKey a = MakeAttributeKey(7, "com.apple.decmpfs"), b = a;
    b.startBlock = 12;
    EXPECT_EQ(CompareAttributeKeys(a, b), 0);  // startBlock does not count
    EXPECT_LT(CompareAttributeKeys(MakeAttributeKey(7, "com"), a), 0);
    EXPECT_LT(CompareAttributeKeys(a, MakeAttributeKey(8, "a")), 0);
}

// A catalog key as the disk holds it.
std::vector<uint8_t> DiskCatalogKey(uint32_t parent, const std::vector<uint16_t>& name,
                                    int extraKeyLength = 0, int nameLengthField = -1) {
    std::vector<uint8_t> out(8 + 2 * name.size());
    vk::StoreBE<uint16_t>(out.data(), static_cast<uint16_t>(6 + 2 * name.size() + extraKeyLength));
    vk::StoreBE<uint32_t>(out.data() + 2, parent);
    vk::StoreBE<uint16_t>(
        out.data() + 6,
        static_cast<uint16_t>(nameLengthField >= 0 ? nameLengthField
                                                   : static_cast<int>(name.size())));
    for (size_t i = 0; i < name.size(); ++i)
        vk::StoreBE<uint16_t>(out.data() + 8 + 2 * i, name[i]);
    return out;
}

TEST(HFSPlusKeys, CatalogKeyNamesAreReadWholeAndBounded) {
    // The longest name HFS+ allows: every unit in host order, the last too.
    std::vector<uint16_t> longest(255, u'a');
    longest.back() = u'z';
    longest[3] = u'/';
    std::vector<uint8_t> disk = DiskCatalogKey(18, longest);
    BTKey key;
    ASSERT_EQ(filpCatalogKey(disk.data(), disk.size(), &key), VK_OK);
    ASSERT_EQ(key.name.size(), 255u);
    EXPECT_EQ(key.name.back(), u'z');
    EXPECT_EQ(key.name[3], u':');
    EXPECT_EQ(key.id, 18u);

    struct Bad {
        const char* what;
        std::vector<uint8_t> bytes;
    } bad[] = {
        {"256 units", DiskCatalogKey(18, std::vector<uint16_t>(256, u'a'))},
        {"name longer than the key", DiskCatalogKey(18, U(u"abcd"), -2)},
        {"key longer than the record", DiskCatalogKey(18, U(u"abcd"), 40)},
        {"name length past the record", DiskCatalogKey(18, U(u"ab"), 0, 200)},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        EXPECT_TRUE(ResultFailed(filpCatalogKey(b.bytes.data(), b.bytes.size(), &key)));
    }
}

TEST(HFSPlusKeys, InlineAttributeDataStaysInsideTheRecord) {
    std::vector<uint8_t> rec(16 + 20, 0);
    vk::StoreBE<uint32_t>(rec.data(), layout::kAttrInline);
    vk::StoreBE<uint32_t>(rec.data() + 12, 20);
    HFSPlusAttrRecord out;
    ASSERT_EQ(flipAttrRecord(rec.data(), rec.size(), &out), VK_OK);
    EXPECT_EQ(out.data.size(), 20u);
    vk::StoreBE<uint32_t>(rec.data() + 12, 21);
    EXPECT_TRUE(ResultFailed(flipAttrRecord(rec.data(), rec.size(), &out)));
    vk::StoreBE<uint32_t>(rec.data() + 12, 0xFFFFFFF0u);
    EXPECT_TRUE(ResultFailed(flipAttrRecord(rec.data(), rec.size(), &out)));
}

// A node of `size` bytes with the given records.
std::vector<uint8_t> MakeNode(int8_t kind, uint8_t height,
                              const std::vector<std::vector<uint8_t>>& records, size_t size = 512) {
    std::vector<uint8_t> node(size, 0);
    node[8] = static_cast<uint8_t>(kind);
    node[9] = height;
    vk::StoreBE<uint16_t>(node.data() + 10, static_cast<uint16_t>(records.size()));
    size_t at = 14;
    for (size_t i = 0; i < records.size(); ++i) {
        vk::StoreBE<uint16_t>(node.data() + size - 2 * (i + 1), static_cast<uint16_t>(at));
        std::memcpy(node.data() + at, records[i].data(), records[i].size());
        at += records[i].size();
    }
    vk::StoreBE<uint16_t>(node.data() + size - 2 * (records.size() + 1), static_cast<uint16_t>(at));
    return node;
}

TEST(HFSPlusBTNode, Validation) {
    const std::vector<std::vector<uint8_t>> two = {std::vector<uint8_t>(20, 1),
                                                   std::vector<uint8_t>(30, 2)};
    struct Row {
        const char* what;
        std::vector<uint8_t> node;
        bool valid;
    };
    std::vector<Row> rows;
    rows.push_back({"good leaf", MakeNode(-1, 1, two), true});
    rows.push_back({"good index", MakeNode(0, 2, two), true});
    rows.push_back({"good header", MakeNode(1, 0, two), true});
    rows.push_back({"leaf of height 2", MakeNode(-1, 2, two), false});
    rows.push_back({"index of height 1", MakeNode(0, 1, two), false});
    rows.push_back({"header of height 1", MakeNode(1, 1, two), false});
    rows.push_back({"unknown kind", MakeNode(3, 1, two), false});
    rows.push_back({"not a multiple of 512", MakeNode(-1, 1, two, 700), false});
    rows.push_back({"larger than 32 KiB", MakeNode(-1, 1, two, 65536), false});
    {
        auto n = MakeNode(-1, 1, two);
        std::swap(n[512 - 4], n[512 - 6]),
            std::swap(n[512 - 3], n[512 - 5]);  // records 1 and 2 swapped
        rows.push_back({"unsorted offsets", n, false});
    }
    {
        auto n = MakeNode(-1, 1, two);
        vk::StoreBE<uint16_t>(n.data() + 512 - 4, 14);  // record 1 where record 0 is
        rows.push_back({"overlapping offsets", n, false});
    }
    {
        auto n = MakeNode(-1, 1, two);
        vk::StoreBE<uint16_t>(n.data() + 10, 0xFFFF);  // table would start before the node
        rows.push_back({"record count past the node", n, false});
    }
    {
        auto n = MakeNode(-1, 1, two);
        vk::StoreBE<uint16_t>(n.data() + 512 - 6, 510);  // free space inside the table
        rows.push_back({"record end in the offset table", n, false});
    }
    {
        auto n = MakeNode(-1, 1, two);
        vk::StoreBE<uint16_t>(n.data() + 512 - 2, 16);
        rows.push_back({"record 0 not at 14", n, false});
    }
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(CHFSPlusBTNode::IsValidNode(r.node.data(), r.node.size()), r.valid);
        CHFSPlusBTNode node(r.node.data(), r.node.size());
        EXPECT_EQ(node.IsValid(), r.valid);
        if (r.valid) {
            uint16_t size = 0;
            ASSERT_NE(node.GetRecord(1, &size), nullptr);
            EXPECT_EQ(size, 30);
            EXPECT_EQ(node.GetRecord(2, &size), nullptr);
        }
    }
}

std::vector<uint8_t> Bytes(std::initializer_list<int> b) {
    std::vector<uint8_t> out;
    for (int x : b)
        out.push_back(static_cast<uint8_t>(x));
    return out;
}

TEST(HFSPlusLzvn, OpcodeClasses) {
    struct Row {
        const char* what;
        std::vector<uint8_t> stream;
        std::string expected;  // "" with ok false: the decoder must fail
        bool ok;
    } rows[] = {
        {"end of stream only", Bytes({0x06, 0, 0, 0, 0, 0, 0, 0}), "", true},
        {"small literal", Bytes({0xE3, 'a', 'b', 'c', 0x06}), "abc", true},
        {"large literal",
         [] {
             std::vector<uint8_t> s = {0xE0, 4};
             for (int i = 0; i < 20; ++i)
                 s.push_back(static_cast<uint8_t>('a' + i));
             s.push_back(0x06);
             return s;
         }(),
         "abcdefghijklmnopqrst", true},
        {"nops", Bytes({0x0E, 0x16, 0xE1, 'x', 0x06}), "x", true},
        // small distance: 1 literal, match 3 at distance 1
        {"small distance", Bytes({0x40, 0x01, 'z', 0x06}), "zzzz", true},
        // large distance: 0 literals... a literal first, then 0x07 (match 3, distance 16-bit)
        {"large distance", Bytes({0xE2, 'a', 'b', 0x07, 0x02, 0x00, 0x06}), "ababa", true},
        // medium distance: L=0, match (((op&7)<<2)|(b1&3))+3, distance (b1>>2)|(b2<<6)
        {"medium distance", Bytes({0xE2, 'q', 'r', 0xA0, 0x08, 0x00, 0x06}), "qrqrq", true},
        // previous distance after a small-distance match
        {"previous distance", Bytes({0x40, 0x01, 'k', 0x46, 'm', 0x06}), "kkkkmmmm", true},
        {"small match", Bytes({0x40, 0x01, 'k', 0xF2, 0x06}), "kkkkkk", true},
        {"large match", Bytes({0x40, 0x01, 'k', 0xF0, 0x00, 0x06}), "kkkk" + std::string(16, 'k'),
         true},
        {"distance 1 repeats ten times", Bytes({0xE1, 'r', 0x38, 0x01, 0x06}), std::string(11, 'r'),
         true},
        {"undefined 0x70", Bytes({0xE1, 'a', 0x70, 0x06}), "", false},
        {"undefined 0xD5", Bytes({0xE1, 'a', 0xD5, 0x06}), "", false},
        {"undefined 0x1E", Bytes({0xE1, 'a', 0x1E, 0x06}), "", false},
        {"distance past the output", Bytes({0xE1, 'a', 0x00, 0x05, 0x06}), "", false},
        {"previous distance before any distance", Bytes({0xE1, 'a', 0x46, 0x06}), "", false},
        {"match before any distance", Bytes({0xE1, 'a', 0xF3, 0x06}), "", false},
        {"distance 0", Bytes({0xE1, 'a', 0x00, 0x00, 0x06}), "", false},
        {"no end of stream", Bytes({0xE3, 'a', 'b', 'c'}), "", false},
        {"literal past the source", Bytes({0xEF, 'a', 'b'}), "", false},
        {"operand past the source", Bytes({0xE1, 'a', 0x07, 0x01}), "", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<uint8_t> out(64, 0xEE);
        const size_t n = lzvn_decode(out.data(), out.size(), r.stream.data(), r.stream.size());
        if (r.ok) {
            EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<long>(n)), r.expected);
        } else {
            EXPECT_EQ(n, 0u);
        }
    }
}

TEST(HFSPlusLzvn, OutputIsCutAtTheDestination) {
    const auto stream = Bytes({0xE1, 'r', 0xF0, 0x20, 0x06});  // 1 + 48 bytes
    std::vector<uint8_t> out(10, 0);
    EXPECT_EQ(lzvn_decode(out.data(), out.size(), stream.data(), stream.size()),
              0u);                                               // no distance yet
    const auto ok = Bytes({0x40, 0x01, 'r', 0xF0, 0x20, 0x06});  // 4 + 48 bytes
    std::vector<uint8_t> small(10, 0);
    EXPECT_EQ(lzvn_decode(small.data(), small.size(), ok.data(), ok.size()), 10u);
    EXPECT_EQ(std::string(small.begin(), small.end()), std::string(10, 'r'));
}

}  // namespace
