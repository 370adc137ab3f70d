// The exFAT pieces on their own: boot-sector checks, entry checks and set
// checksums, the entry-set parser, the FAT window cache, cluster runs, times
// and nodes. Built in memory, except where a real volume's bytes (written by
// exfat-fuse) are the better witness.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "DataRun.h"
#include "ExFatDBR.h"
#include "ExFatDirEntry.h"
#include "ExFatEntrySet.h"
#include "ExFatFileNode.h"
#include "ExFatLayout.h"
#include "ExFatPartition.h"
#include "ExFatTable.h"
#include "ExFatTestSupport.h"
#include "IRecoveryFilter.h"
#include "RecoveryInterfaces.h"
#include "ReleasePtr.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "Utility/SystemTime.h"
#include "support/PlannedSearcherRows.h"
#include "support/TestSupport.h"

using namespace velmora::exfattest;

namespace {

// ---------------------------------------------------------------------------
// Boot sector

std::vector<uint8_t> BootSector() {
    std::vector<uint8_t> b(512, 0);
    b[0] = 0xEB;
    b[1] = 0x76;
    b[2] = 0x90;
    std::memcpy(&b[3], "EXFAT   ", 8);
    vk::StoreLE<uint64_t>(&b[72], 65536);  // volume length
    vk::StoreLE<uint32_t>(&b[80], 2048);   // FAT offset
    vk::StoreLE<uint32_t>(&b[84], 64);     // FAT length
    vk::StoreLE<uint32_t>(&b[88], 4096);   // heap offset
    vk::StoreLE<uint32_t>(&b[92], 7680);   // clusters
    vk::StoreLE<uint32_t>(&b[96], 4);      // root cluster
    b[108] = 9;
    b[109] = 3;
    b[110] = 1;
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
}

TEST(ExFatBootSector, ValidityTable) {
    struct Case {
        const char* what;
        void (*change)(std::vector<uint8_t>&);
        uint32_t deviceSectorSize;
        bool valid;
    };
    const Case cases[] = {
        {"as mkfs.exfat writes it", [](auto&) {}, 512, true},
        {"shift 9 on a device of 4096-byte sectors", [](auto&) {}, 4096, false},
        {"shift 12 on a device of 4096-byte sectors", [](auto& b) { b[108] = 12; }, 4096, true},
        {"shift 12 on a device of 512-byte sectors", [](auto& b) { b[108] = 12; }, 512, false},
        {"shift 8", [](auto& b) { b[108] = 8; }, 256, false},
        {"shift 13", [](auto& b) { b[108] = 13; }, 8192, false},
        {"clusters of 32 MiB",
         [](auto& b) {
             b[109] = 16;
             vk::StoreLE<uint32_t>(&b[92], 1);
         },
         512, true},
        {"clusters of 64 MiB",
         [](auto& b) {
             b[109] = 17;
             vk::StoreLE<uint32_t>(&b[92], 1);
         },
         512, false},
        {"no FAT", [](auto& b) { b[110] = 0; }, 512, false},
        {"two FATs", [](auto& b) { b[110] = 2; }, 512, true},
        {"three FATs", [](auto& b) { b[110] = 3; }, 512, false},
        {"a byte in the must-be-zero area", [](auto& b) { b[40] = 1; }, 512, false},
        {"no 55 AA", [](auto& b) { b[511] = 0; }, 512, false},
        {"another name", [](auto& b) { b[10] = 'X'; }, 512, false},
        {"FAT length 0", [](auto& b) { vk::StoreLE<uint32_t>(&b[84], 0); }, 512, false},
        {"cluster count 0", [](auto& b) { vk::StoreLE<uint32_t>(&b[92], 0); }, 512, false},
        {"root cluster 1", [](auto& b) { vk::StoreLE<uint32_t>(&b[96], 1); }, 512, false},
        {"heap inside the FAT", [](auto& b) { vk::StoreLE<uint32_t>(&b[88], 2100); }, 512, false},
        {"heap past the volume", [](auto& b) { vk::StoreLE<uint32_t>(&b[88], 70000); }, 512, false},
        // The last cluster may reach the volume's end (a partition cut a
        // little short); one more may not.
        {"one cluster more than the volume holds",
         [](auto& b) { vk::StoreLE<uint32_t>(&b[92], 7681); }, 512, true},
        {"two clusters more than the volume holds",
         [](auto& b) { vk::StoreLE<uint32_t>(&b[92], 7682); }, 512, false},
        {"a cluster count of 2^32 - 1", [](auto& b) { vk::StoreLE<uint32_t>(&b[92], 0xFFFFFFFF); },
         512, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = BootSector();
        c.change(b);
        EXPECT_EQ(CExFatDBR(b.data(), b.size()).IsValid(c.deviceSectorSize), c.valid) << c.what;
    }
    // A buffer shorter than a sector is never read past.
    const std::vector<uint8_t> b = BootSector();
    EXPECT_FALSE(CExFatDBR(b.data(), 511).IsValid(512));
    const CExFatDBR dbr(b.data(), b.size());
    EXPECT_EQ(dbr.GetSectorsperCluster(), 8u);
    EXPECT_EQ(dbr.GetDataRegionStartSector(), 4096u);
    EXPECT_EQ(dbr.GetTotalSectors(), 65536u);
    EXPECT_EQ(dbr.GetFileSystemType(), 7);
}

// ---------------------------------------------------------------------------
// Entries

TEST(ExFatDirEntry, TimestampsAndNameCharacters) {
    struct Stamp {
        uint32_t value;
        bool valid;
    };
    const Stamp stamps[] = {
        {kStamp, true},      {0, false},  // day 0
        {0x51206355, false},              // day 0 in September
        {0x51AD6355, false},              // month 13
        {0x500D6355, false},              // month 0
        {0x512DBF7D, true},               // 23:59:58
        {0x512DC000, false},              // hour 24
        {0x512D0780, false},              // minute 60
        {0x512D001E, false},              // 60 seconds
        {0xFF2D6355, true},               // the year is not looked at
    };
    for (const Stamp& s : stamps)
        EXPECT_EQ(exfat::IsValidTimestamp(s.value), s.valid) << std::hex << s.value;

    // Characters a name may hold: exFAT forbids only the controls and nine
    // ASCII characters; whole ranges of letters are fine however their low
    // byte looks.
    for (const uint16_t ok :
         {u'a', u' ', u'.', u'\x7F', u'\u00E9', u'\u0100', u'\u0400', u'\u1000', u'\u1100',
          u'\u2200', u'\u3A00', u'\u5C00', u'\u7C00', u'\uFF00', u'\uFFFF', char16_t{0xD83D}})
        EXPECT_TRUE(exfat::IsAllowedNameUnit(ok)) << std::hex << ok;
    for (const uint16_t bad :
         {u'\x01', u'\x1F', u'"', u'*', u'/', u':', u'<', u'>', u'?', u'\\', u'|'})
        EXPECT_FALSE(exfat::IsAllowedNameUnit(bad)) << std::hex << bad;
}

TEST(ExFatDirEntry, EntryChecks) {
    const exfat::StreamLimits limits{9, 12, 65536};
    struct Case {
        const char* what;
        Entry entry;
        bool (*check)(const Entry&, const exfat::StreamLimits&);
        bool valid;
    };
    auto file = [](const Entry& e, const exfat::StreamLimits&) {
        return exfat::IsValidFileEntry(vk::ByteReader(e.data(), e.size()));
    };
    auto stream = [](const Entry& e, const exfat::StreamLimits& l) {
        return exfat::IsValidStreamEntry(vk::ByteReader(e.data(), e.size()), l);
    };
    auto name = [](const Entry& e, const exfat::StreamLimits&) {
        return exfat::IsValidNameEntry(vk::ByteReader(e.data(), e.size()));
    };
    auto label = [](const Entry& e, const exfat::StreamLimits&) {
        return exfat::IsValidLabelEntry(vk::ByteReader(e.data(), e.size()));
    };
    auto with = [](Entry e, size_t at, uint8_t value) {
        e[at] = value;
        return e;
    };
    auto stream32 = [](size_t at, uint32_t value, Entry e = StreamEntry(5, 100, 3)) {
        vk::StoreLE<uint32_t>(&e[at], value);
        return e;
    };
    Entry labelEntry = RawEntry(0x83);
    labelEntry[1] = 3;
    labelEntry[2] = 'V';
    labelEntry[4] = 'O';
    labelEntry[6] = 'L';
    const Case cases[] = {
        {"file", FileEntry(2), file, true},
        {"file, deleted", FileEntry(2, 0x20, false), file, true},
        {"file with one secondary", FileEntry(1), file, false},
        {"file with 18 secondaries", FileEntry(18), file, true},
        {"file with 19 secondaries", FileEntry(19), file, false},
        {"file with a bad modified time", with(FileEntry(2), 14, 0), file, false},
        {"file with 2 s in its 10 ms field", with(FileEntry(2), 20, 200), file, false},
        {"file with a reserved byte set", with(FileEntry(2), 6, 1), file, false},
        {"file with a byte set past the offsets", with(FileEntry(2), 31, 1), file, false},
        {"stream", StreamEntry(5, 100, 3), stream, true},
        {"stream of an empty file", StreamEntry(0, 0, 3, false), stream, true},
        {"stream with cluster 1", StreamEntry(1, 100, 3), stream, false},
        {"stream with the bad-cluster mark", StreamEntry(0xFFFFFFF7, 100, 3, false), stream, false},
        {"stream longer than the device", StreamEntry(5, 65536ull * 512, 3), stream, false},
        {"stream running past the last cluster", StreamEntry(0xFFFFFFF0, 100 * 4096, 3), stream,
         false},
        {"stream with a reserved byte set", with(StreamEntry(5, 100, 3), 2, 1), stream, false},
        {"stream with reserved bytes 16-19 set", stream32(16, 1), stream, false},
        {"name", NameEntry(u"abc"), name, true},
        {"name with flags", with(NameEntry(u"abc"), 1, 1), name, false},
        {"name starting with 0", NameEntry(u""), name, false},
        // Forbidden characters do not make the entry invalid: the file is
        // kept under its name, cleaned where it becomes a path.
        {"name with a slash", NameEntry(u"a/b"), name, true},
        {"name with a control character", NameEntry(u"a\x01b"), name, true},
        {"name with U+1000", NameEntry(u"\u1000\u1001"), name, true},
        {"label", labelEntry, label, true},
        {"label of 12 characters", with(labelEntry, 1, 12), label, false},
        {"label with a star", with(labelEntry, 4, '*'), label, false},
        {"label with bytes past its characters", with(labelEntry, 10, 'x'), label, false},
        {"a short view", Entry(31, 0), file, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.check(c.entry, limits), c.valid) << c.what;
}

// Zeros end a folder unless a file entry follows them (damage); the search
// for it never reads past the bytes it is given.
TEST(ExFatDirEntry, FileEntryAfterZeros) {
    const Entry zero = RawEntry(0), file = FileEntry(2), deleted = FileEntry(2, 0x20, false);
    Entry typeZero = zero;
    typeZero[5] = 1;
    const struct {
        const char* what;
        Entry bytes;
        size_t from, length, found;
    } cases[] = {
        {"zeros only", Join({zero, zero, zero}), 0, 96, exfat::kNoEntry},
        {"zeros then a file entry", Join({zero, zero, file}), 0, 96, 64},
        {"zeros then a deleted file entry", Join({zero, deleted}), 0, 64, 32},
        {"zeros, the rest of a set, a file entry", Join({zero, NameEntry(u"x"), file}), 0, 96, 64},
        {"zeros then a label", Join({zero, RawEntry(0x83), file}), 0, 96, exfat::kNoEntry},
        {"a type 0 entry that is not all zeros", Join({typeZero, file}), 0, 64, exfat::kNoEntry},
        {"the file entry past the length", Join({zero, zero, file}), 0, 64, exfat::kNoEntry},
        {"from a later entry", Join({file, zero, file}), 32, 96, 64},
    };
    for (const auto& c : cases)
        EXPECT_EQ(exfat::FileEntryAfterZeros(c.bytes.data(), c.from, c.length), c.found) << c.what;
}

TEST(ExFatDirEntry, SetChecksumOfFixtureSets) {
    // exfat-fuse wrote these sets and their checksums; its deleted sets
    // keep the checksum they had while in use.
    velmora::test::TempDir dir;
    const auto bytes = velmora::test::ReadFile(CommittedImage("exfat", dir.path()));
    ASSERT_GT(bytes.size(), 1u << 20);
    const RawVolume vol(bytes);
    int live = 0, deleted = 0;
    for (const char* path : {"/short.txt", "/Docs", "/Docs/report.pdf", "/Docs/deleted note.txt",
                             "/Pics/deleted photo.jpg", "/Gone", "/Many"}) {
        const uint64_t off = vol.FindSet(path);
        ASSERT_NE(off, 0u) << path;
        const size_t length = 32u * (bytes[off + 1] + 1u);
        const uint16_t stored = vk::LoadLE<uint16_t>(&bytes[off + 2]);
        EXPECT_TRUE(CheckDirEntry(&bytes[off], length, stored)) << path;
        if (bytes[off] == 0x05) {
            ++deleted;
            EXPECT_NE(exfat::EntrySetChecksum(&bytes[off], length, false), stored) << path;
        } else {
            ++live;
        }
        std::vector<uint8_t> damaged(bytes.begin() + off, bytes.begin() + off + length);
        damaged[70] ^= 1;
        EXPECT_FALSE(CheckDirEntry(damaged.data(), length, stored)) << path;
    }
    EXPECT_EQ(live, 4);
    EXPECT_EQ(deleted, 3);
    EXPECT_TRUE(CheckDirEntry(nullptr, 0, 0));
    EXPECT_FALSE(CheckDirEntry(bytes.data(), 0, 1));
}

// ---------------------------------------------------------------------------
// Parser

struct ParseCase {
    const char* what;
    std::vector<uint8_t> entries;
    std::vector<std::string> names;  // files completed, in order
    bool goOn;
};

std::u16string Repeat(char16_t c, size_t n) {
    return std::u16string(n, c);
}

TEST(ExFatParser, EntrySetsTable) {
    const std::u16string longName = Repeat(u'\u00E9', 255);
    std::string longUtf8;
    for (int i = 0; i < 255; ++i)
        longUtf8 += "\xC3\xA9";
    Entry withVendor = FileEntry(3);
    Entry flagged = NameEntry(u"x");
    flagged[1] = 1;  // a name entry's flags must be 0
    const ParseCase cases[] = {
        {"one set", Set(u"a.txt"), {"a.txt"}, true},
        {"end of folder", Join({Set(u"a.txt"), RawEntry(0)}), {"a.txt"}, false},
        {"deleted set", Set(u"gone.txt", 5, 100, 0x20, false), {"gone.txt"}, true},
        {"name before stream",
         Join({FileEntry(2), NameEntry(u"x"), StreamEntry(5, 1, 1), Set(u"next")}),
         {"next"},
         true},
        {"stream before its file entry",
         Join({StreamEntry(5, 1, 1), FileEntry(2), StreamEntry(6, 1, 1), NameEntry(u"b")}),
         {"b"},
         true},
        {"more secondaries than entries",
         Join({FileEntry(3), StreamEntry(5, 1, 1), NameEntry(u"x"), RawEntry(0)}),
         {},
         false},
        {"in-use bits that differ",
         Join({FileEntry(2), StreamEntry(5, 1, 1), NameEntry(u"x", false), Set(u"next")}),
         {"next"},
         true},
        {"a gap inside the set",
         Join({FileEntry(2), StreamEntry(5, 1, 1), RawEntry(0x81), NameEntry(u"x"), Set(u"n")}),
         {"n"},
         true},
        {"name length past the set",
         Join({FileEntry(2), StreamEntry(5, 1, 200), NameEntry(u"fifteen letters")}),
         {"fifteen letters"},
         true},
        {"name length inside the entry",
         Join({FileEntry(2), StreamEntry(5, 1, 3), NameEntry(u"abcdef")}),
         {"abc"},
         true},
        {"vendor extension closing a set",
         Join({withVendor, StreamEntry(5, 1, 1), NameEntry(u"v"), RawEntry(0xE0), Set(u"w")}),
         {"v", "w"},
         true},
        {"volume GUID beside the sets", Join({RawEntry(0xA0), Set(u"g")}), {"g"}, true},
        // An entry that fails its check costs that entry (and its set) only.
        {"an unknown entry", Join({Set(u"a"), RawEntry(0x90), Set(u"b")}), {"a", "b"}, true},
        {"names in scripts whose units end in 00",
         Join({Set(u"\u1000\u1001.txt"), Set(u"\u0100\u5C00"), Set(u"after")}),
         {"\xE1\x80\x80\xE1\x80\x81.txt", "\xC4\x80\xE5\xB0\x80", "after"},
         true},
        // A forbidden character costs nothing: the name is kept as it is and
        // the folder goes on.
        {"a name with a slash", Join({Set(u"a/b"), Set(u"c")}), {"a/b", "c"}, true},
        {"a name with a control character", Join({Set(u"a\x01"), Set(u"c")}), {"a\x01", "c"}, true},
        {"a surrogate pair split between name entries",
         Set(Repeat(u'x', 14) + u"\U0001F600"),
         {std::string(14, 'x') + "\xF0\x9F\x98\x80"},
         true},
        {"a name of 255 characters", Set(longName), {longUtf8}, true},
        {"an invalid file entry", Join({Set(u"a"), FileEntry(1), Set(u"b")}), {"a", "b"}, true},
        // Zeros end a folder only when nothing but zeros follows: zeroed
        // entries (with what is left of their sets) before a file entry are
        // damage.
        {"zeroed entries inside the folder",
         Join({Set(u"a"), RawEntry(0), RawEntry(0), NameEntry(u"x"), Set(u"b")}),
         {"a", "b"},
         true},
        // A set cut short by a damaged entry keeps the name read so far.
        {"a set cut by a zeroed name entry",
         Join({FileEntry(3), StreamEntry(5, 1, 20), NameEntry(u"fifteen letters"), RawEntry(0),
               Set(u"b")}),
         {"fifteen letters", "b"},
         true},
        {"a set cut by a name entry with flags",
         Join({FileEntry(3), StreamEntry(5, 1, 20), NameEntry(u"fifteen letters"), flagged,
               Set(u"b")}),
         {"fifteen letters", "b"},
         true},
        {"zeros then a lone name: the end",
         Join({Set(u"a"), RawEntry(0), NameEntry(u"x"), RawEntry(0)}),
         {"a"},
         false},
    };
    for (const ParseCase& c : cases) {
        CEFDTAnalyze parser;
        parser.PrepareAnayze(9, 12, 65536);
        parser.BeginFolder();
        EXPECT_EQ(parser.Analyze(c.entries.data(), c.entries.size(), 4120), c.goOn) << c.what;
        std::vector<std::string> names;
        for (const _tagFileBaseInfo& r : parser.GetCompleted())
            names.push_back(r.name);
        EXPECT_EQ(names, c.names) << c.what;
    }
}

TEST(ExFatParser, RecordFieldsAndSetsAcrossClustersAndFolders) {
    CEFDTAnalyze parser;
    parser.PrepareAnayze(9, 12, 65536);
    parser.BeginFolder();
    // A set split between two clusters of one folder is one file.
    const std::vector<uint8_t> set = Set(u"split across.txt", 77, 12345, 0x21, false);
    EXPECT_TRUE(parser.Analyze(set.data(), 64, 5000));
    EXPECT_TRUE(parser.GetCompleted().empty());
    EXPECT_TRUE(parser.Analyze(set.data() + 64, set.size() - 64, 5008));
    ASSERT_EQ(parser.GetCompleted().size(), 1u);
    const _tagFileBaseInfo& r = parser.GetCompleted().front();
    EXPECT_EQ(r.name, "split across.txt");
    EXPECT_EQ(r.firstCluster, 77u);
    EXPECT_EQ(r.dataLength, 12345u);
    EXPECT_EQ(r.noFatChain, 1);
    EXPECT_EQ(r.inUse, 0);
    EXPECT_EQ(r.attributes, 0x21);
    EXPECT_EQ(r.modifyTime, kStamp);
    EXPECT_EQ(r.metadataSector, 5000u);  // where its file entry was read
    parser.ClearCompleted();

    // A set left open at the end of one folder must not take the name
    // entries that start the next folder.
    const std::vector<uint8_t> open = Join({FileEntry(2), StreamEntry(9, 10, 1)});
    const std::vector<uint8_t> stray = Join({NameEntry(u"z"), RawEntry(0)});
    EXPECT_TRUE(parser.Analyze(open.data(), open.size(), 6000));
    parser.BeginFolder();
    EXPECT_FALSE(parser.Analyze(stray.data(), stray.size(), 7000));
    EXPECT_TRUE(parser.GetCompleted().empty());
    // Less than one entry: nothing to parse, the folder goes on.
    EXPECT_TRUE(parser.Analyze(open.data(), 31, 8000));
    EXPECT_TRUE(parser.Analyze(nullptr, 64, 8000));
}

// ---------------------------------------------------------------------------
// FAT cache and cluster runs

// A device whose FAT (at sector 8) says entry n = n + 1 for every n.
std::unique_ptr<FlakyDevice> FatDevice(uint32_t fatSectors, uint32_t extraSectors = 64) {
    std::vector<uint8_t> bytes((8 + fatSectors + extraSectors) * 512ull, 0);
    for (uint64_t n = 0; n < fatSectors * 128ull; ++n)
        vk::StoreLE<uint32_t>(&bytes[8 * 512 + n * 4], static_cast<uint32_t>(n + 1));
    return std::make_unique<FlakyDevice>(std::move(bytes), 512);
}

TEST(ExFatFatTable, WindowsAreReadOnDemandAndTheLowestIsDropped) {
    // 10.5 MiB of FAT: eleven 1 MiB windows.
    const uint32_t sectors = 10 * 2048 + 1024;
    auto device = FatDevice(sectors);
    CFatTable fat;
    fat.CreateFatTable(device.get(), 8, sectors, 0);
    ASSERT_TRUE(fat.IsValid());
    EXPECT_EQ(fat.GetWindowCount(), 1u);
    const uint32_t perWindow = CFatTable::kWindowBytes / 4;
    for (uint32_t w = 0; w < 9; ++w)
        EXPECT_EQ(fat.GetNextCluster(w * perWindow + 3), w * perWindow + 4);
    EXPECT_EQ(fat.GetWindowCount(), 9u);
    // A tenth window drops the one with the lowest first sector.
    EXPECT_EQ(fat.GetNextCluster(9 * perWindow), 9 * perWindow + 1);
    EXPECT_EQ(fat.GetWindowCount(), 9u);
    EXPECT_EQ(fat.GetWindowStarts().front(), 8u + 2048);
    // ...and is read again when needed.
    const long long before = device->Reads();
    EXPECT_EQ(fat.GetNextCluster(7), 8u);
    EXPECT_EQ(device->Reads(), before + 1);
    // The last window is only as long as the FAT; entries past it are none.
    EXPECT_EQ(fat.GetNextCluster(sectors * 128 - 1), sectors * 128u);
    EXPECT_EQ(fat.GetNextCluster(sectors * 128), exfat::kEndOfChain);
    EXPECT_EQ(fat.GetNextCluster(0xFFFFFFFF), exfat::kEndOfChain);
    // A window that cannot be read answers the end mark; the rest still works.
    fat.ClearFatData();
    EXPECT_EQ(fat.GetNextCluster(5), exfat::kEndOfChain);
    device->bad.insert(8 + 3 * 2048 + 5);
    fat.CreateFatTable(device.get(), 8, sectors, 0);
    EXPECT_EQ(fat.GetNextCluster(3 * perWindow), exfat::kEndOfChain);
    EXPECT_EQ(fat.GetNextCluster(4 * perWindow), 4 * perWindow + 1);
}

TEST(ExFatFatTable, RefusedTables) {
    auto device = FatDevice(16, 0);
    struct Case {
        const char* what;
        IStorageDevice* device;
        long long start;
        uint32_t length;
    };
    const Case cases[] = {
        {"no device", nullptr, 8, 16},
        {"no length", device.get(), 8, 0},
        {"a start before the device", device.get(), -1, 16},
        {"a FAT reaching the device's end", device.get(), 8, 16},
        {"a FAT past the device", device.get(), 20, 16},
    };
    for (const Case& c : cases) {
        CFatTable fat;
        fat.CreateFatTable(c.device, c.start, c.length, 100);
        EXPECT_FALSE(fat.IsValid()) << c.what;
        EXPECT_EQ(fat.GetNextCluster(2), exfat::kEndOfChain) << c.what;
    }
    device->bad.insert(8);
    CFatTable fat;
    fat.CreateFatTable(device.get(), 8, 8, 100);
    EXPECT_FALSE(fat.IsValid()) << "first window unreadable";
}

// A partition of 1000 one-sector clusters whose FAT (at sector 8) the
// case fills.
class ClusterRunsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> bytes((8 + 8 + 1100) * 512ull, 0);
        m_device = std::make_unique<FlakyDevice>(std::move(bytes), 512);
    }
    void Chain(std::initializer_list<std::pair<uint32_t, uint32_t>> links) {
        for (const auto& [from, to] : links)
            vk::StoreLE<uint32_t>(&m_device->Bytes()[8 * 512 + from * 4], to);
    }
    CExFatPartition& Partition() {
        m_partition.SetSectorSize(512);
        m_partition.SetSectorsPerCluster(1);
        m_partition.SetDataRegionStartSector(16);
        m_partition.SetTotalClusters(1000);
        m_partition.GetFatTable().CreateFatTable(m_device.get(), 8, 8, 1000);
        return m_partition;
    }
    std::unique_ptr<FlakyDevice> m_device;
    CExFatPartition m_partition;
};

using Runs = std::vector<std::pair<uint32_t, uint32_t>>;

Runs Flatten(const std::vector<ExFatClusterRun>& runs) {
    Runs out;
    for (const ExFatClusterRun& r : runs)
        out.emplace_back(r.first, r.count);
    return out;
}

TEST_F(ClusterRunsTest, ChainsContiguityAndDamage) {
    Chain({{5, 6},
           {6, 7},
           {7, 0xFFFFFFFF},
           {20, 30},
           {30, 31},
           {31, 0xFFFFFFFF},
           {40, 41},
           {41, 40},
           {50, 0},
           {60, 999},
           {999, 1001},
           {1001, 1002},
           {70, 2000},
           {80, 90},
           {90, 0}});
    struct Case {
        const char* what;
        uint32_t first;
        uint64_t length;
        bool noFatChain, deleted;
        Runs runs;
        bool cut;
    };
    const Case cases[] = {
        {"a one-byte contiguous file", 500, 1, true, false, {{500, 1}}, false},
        {"a contiguous file reaching past the heap", 995, 10 * 512, true, false, {{995, 7}}, true},
        {"a chain", 5, 3 * 512, false, false, {{5, 3}}, false},
        {"a fragmented chain", 20, 3 * 512, false, false, {{20, 1}, {30, 2}}, false},
        {"a chain ending before the length", 5, 5 * 512, false, false, {{5, 3}}, true},
        {"a cyclic chain", 40, 10 * 512, false, false, {{40, 2}}, true},
        {"a live chain into a free entry", 50, 3 * 512, false, false, {{50, 1}}, true},
        {"a deleted file whose entries were freed", 50, 3 * 512, false, true, {{50, 3}}, false},
        {"a deleted file's stale chain, then contiguous",
         80,
         4 * 512,
         false,
         true,
         {{80, 1}, {90, 3}},
         false},
        {"a chain to the last cluster of the heap",
         60,
         3 * 512,
         false,
         false,
         {{60, 1}, {999, 1}, {1001, 1}},
         false},
        {"a chain past the heap", 60, 4 * 512, false, false, {{60, 1}, {999, 1}, {1001, 1}}, true},
        {"a chain past the FAT's entries", 70, 2 * 512, false, false, {{70, 1}}, true},
        {"a first cluster past the heap", 1002, 512, true, false, {}, true},
        {"cluster 1", 1, 512, false, false, {}, true},
        {"a folder of unknown length",
         20,
         CExFatPartition::kWholeChain,
         false,
         false,
         {{20, 1}, {30, 2}},
         false},
    };
    CExFatPartition& p = Partition();
    for (const Case& c : cases) {
        bool cut = false;
        EXPECT_EQ(Flatten(p.GetClusterRuns(c.first, c.length, c.noFatChain, c.deleted, &cut)),
                  c.runs)
            << c.what;
        EXPECT_EQ(cut, c.cut) << c.what;
    }
}

TEST_F(ClusterRunsTest, DataRunsAndNodes) {
    setenv("TZ", "UTC", 1);
    tzset();
    Chain({{20, 30}, {30, 0xFFFFFFFF}});
    CExFatPartition& p = Partition();
    EXPECT_EQ(p.ConvertClusterNumToSector(2), 16u);
    EXPECT_EQ(p.ConvertClusterNumToSector(1), 0u);
    EXPECT_EQ(p.ConvertSectorToClusterNum(16), 2u);
    EXPECT_EQ(p.ConvertSectorToClusterNum(17), 3u);
    EXPECT_EQ(p.GetNextCluster(20, false), 30u);
    EXPECT_EQ(p.GetNextCluster(1500, false), exfat::kEndOfChain);

    _tagFileBaseInfo record;
    record.name = "photo.jpg";
    record.firstCluster = 20;
    record.dataLength = 600;
    record.attributes = 0x20;
    record.createTime = record.modifyTime = record.accessTime = kStamp;
    record.metadataSector = 777;
    record.inUse = 0;
    std::unique_ptr<CExFatFileNode> node(p.BuildFile(record));
    ASSERT_TRUE(node);
    EXPECT_STREQ(node->GetFileName(), "photo.jpg");
    EXPECT_EQ(node->GetFileSize(), 600);
    EXPECT_TRUE(node->IsDeleted());
    EXPECT_FALSE(node->IsDirectory());
    EXPECT_EQ(node->GetFirstCluster(), 20);
    EXPECT_EQ(node->GetMetadataStartPosition(), 777);
    EXPECT_EQ(node->GetModificationTime(), static_cast<long long>(UnixTimeToFileTime(1600000002)));
    auto* runs = dynamic_cast<CDataRunList*>(node->GetDataRunList());
    ASSERT_NE(runs, nullptr);
    // Runs count clusters from the heap: cluster 2 is 0.
    ASSERT_EQ(runs->GetCount(), 2u);
    EXPECT_EQ(runs->GetFirst()->start, 18);
    EXPECT_EQ(runs->GetNext()->start, 28);

    for (const auto& [what, change] :
         std::vector<std::pair<const char*, void (*)(_tagFileBaseInfo&)>>{
             {"a folder", [](_tagFileBaseInfo& r) { r.attributes = 0x10; }},
             {"an empty file", [](_tagFileBaseInfo& r) { r.dataLength = 0; }},
             {"cluster 0", [](_tagFileBaseInfo& r) { r.firstCluster = 0; }},
             {"the end mark", [](_tagFileBaseInfo& r) { r.firstCluster = 0xFFFFFFFF; }},
             {"past the heap", [](_tagFileBaseInfo& r) { r.firstCluster = 1002; }}}) {
        _tagFileBaseInfo r = record;
        change(r);
        std::unique_ptr<IDataRunList, vk::ReleaseDeleter> list(p.BuildFileDataRun(r));
        ASSERT_TRUE(list);
        EXPECT_EQ(list->GetFirst(), nullptr) << what;
    }
}

TEST(ExFatTimes, DosTimesAreLocalTimeWithTheirOwnMonth) {
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        uint16_t time, date;
        int64_t unix;
    };
    const Case cases[] = {
        {0x6355, 0x512D, 1600000002},  // 2020-09-13 12:26:42
        {0x0000, 0x0021, 315532800},   // 1980-01-01 00:00:00
        {0xBF7D, 0x505D, 1583020798},  // 2020-02-29 23:59:58
        {0xBF7D, 0xFF9F, 4354819198},  // 2107-12-31 23:59:58
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DosTime2FileTime(c.time, c.date),
                  static_cast<long long>(UnixTimeToFileTime(c.unix)))
            << std::hex << c.date << " " << c.time;
    }
    // Local time: the same stamp is an hour earlier in UTC in Central Europe
    // in winter.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    EXPECT_EQ(DosTime2FileTime(0x0000, 0x0021),
              static_cast<long long>(UnixTimeToFileTime(315532800 - 3600)));
    setenv("TZ", "UTC", 1);
    tzset();
}

TEST(ExFatFileNode, NamesClonesAndMarks) {
    CExFatFileNode node;
    EXPECT_EQ(node.GetFileName(), nullptr);
    EXPECT_EQ(node.GetFirstCluster(), -1);
    node.SetFileName("..  .hidden");
    node.SetFileName(nullptr);  // ignored
    EXPECT_STREQ(node.GetFileName(), "..  .hidden");
    node.FilterFileNameByDot();
    EXPECT_STREQ(node.GetFileName(), "hidden");
    node.SetFileAttributes(0x10);
    node.SetFileAttributes(0x02);
    EXPECT_EQ(node.GetAttribute(), 0x12u);
    EXPECT_TRUE(node.IsDirectory());
    EXPECT_FALSE(node.IsDeleted());
    node.MarkDeleted();
    EXPECT_TRUE(node.IsDeleted());
    EXPECT_EQ(node.GetSearcheType(), SEARCHER_EXFAT);

    node.SetID(4160);
    node.SetParentID(4120);
    node.SetFileSize(5);
    node.SetFileTime(1, 2, 3);
    node.SetFirstCluster(9);
    node.SetMetaDataSector(4120);
    auto* runs = new CDataRunList();
    const DataRun run(7, 1);
    runs->AddDataRun(&run);
    node.SetDataRunList(runs);
    CExFatFileNode parent;
    ASSERT_TRUE(parent.AddChild(&node));
    std::unique_ptr<IFileNode, vk::ReleaseDeleter> copy(node.Clone());
    ASSERT_TRUE(copy);
    auto* c = static_cast<CExFatFileNode*>(copy.get());
    EXPECT_STREQ(c->GetFileName(), "hidden");
    EXPECT_EQ(c->GetCurrentNodeID(), 4160);
    EXPECT_EQ(c->GetParentNodeID(), 4120);
    EXPECT_EQ(c->GetMetadataStartPosition(), 4120);
    EXPECT_EQ(c->GetFileSize(), 5);
    EXPECT_EQ(c->GetLastAccessTime(), 3);
    EXPECT_TRUE(c->IsDeleted());
    EXPECT_EQ(c->GetFirstCluster(), -1);  // not part of what a copy carries
    EXPECT_EQ(c->GetParent(), nullptr);   // nor are the tree links
    ASSERT_NE(c->GetDataRunList(), nullptr);
    EXPECT_NE(c->GetDataRunList(), node.GetDataRunList());
    EXPECT_EQ(c->GetDataRunList()->GetFirst()->start, 7);
    parent.RemoveChild(&node);
}

// ---------------------------------------------------------------------------
// Recycle bins and trash folders reach the tree builder as exFAT nodes.

struct IndexReader : IFileReader {
    explicit IndexReader(std::vector<uint8_t> bytes) : data(std::move(bytes)) {}
    unsigned ReadData(long long offset, char* buffer, unsigned length, int*) override {
        if (offset < 0 || static_cast<size_t>(offset) >= data.size())
            return 0;
        const size_t n = std::min<size_t>(length, data.size() - static_cast<size_t>(offset));
        std::memcpy(buffer, data.data() + offset, n);
        return static_cast<unsigned>(n);
    }
    IFileReader* Clone() override { return new IndexReader(data); }
    long long GetDataSize() const override { return static_cast<long long>(data.size()); }
    int IsCompressFile() override { return 0; }
    void Release() override { delete this; }
    std::vector<uint8_t> data;
};

// A recycle bin's index file: a header, then the original path in UTF-16LE.
std::vector<uint8_t> IndexBytes() {
    std::vector<uint8_t> out(24, 0);
    out[0] = 2;
    for (char16_t u : std::u16string(u"E:\\Camera\\Holiday photo.jpg")) {
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    out.insert(out.end(), {0, 0});
    return out;
}

IFileReader* MakeIndexReader(IStorageDevice*, IFileNode* node, long long, unsigned) {
    const char* name = node->GetFileName();
    return name && std::string(name) == "$IAB12.jpg" ? new IndexReader(IndexBytes()) : nullptr;
}

CExFatFileNode* Node(long long id, long long parent, const char* name, bool folder,
                     long long size = 0) {
    auto* n = new CExFatFileNode();
    n->SetID(id);
    n->SetParentID(parent);
    n->SetFileName(name);
    n->SetFileSize(size);
    n->SetFileAttributes(folder ? 0x10 : 0x20);
    return n;
}

class ShownTree final : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        shown.insert(shown.end(), nodes, nodes + count);
    }
    void ShowFilesystemNode(IFilesystemNode*) override {}
    std::vector<IFileNode*> shown;
};

TEST(ExFatTreeBuilder, RecycledNamesAndTrashFolders) {
    velmora::test::ScopedResidentData ntfs(&MakeIndexReader);
    TreeBuilderHooks hooks;
    hooks.sleep = [](unsigned) {};
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false, hooks);
    IRecoveryFilter* filter = CreateFilter();
    filter->SetScanType(SCAN_COMPLETE);
    filter->SetFilterTypes(CATEGORY_ALL);
    ShownTree tree;
    ASSERT_TRUE(builder->Initialize("card", &tree, filter));
    FlakyDevice device(std::vector<uint8_t>(4096, 0), 512);
    CSearchedPartitionInfo record(512);
    record.sectorsPerCluster = 8;
    builder->SetPartitonDevice(&record, &device);

    constexpr long long kRoot = 4120;
    ASSERT_TRUE(builder->AddSearcherInfo(SEARCHER_EXFAT, kRoot));
    CExFatFileNode* data = Node(6000, 5100, "$RAB12.jpg", false, 4000);
    CExFatFileNode* trash = Node(7000, kRoot, ".Trashes", true);
    CExFatFileNode* inTrash = Node(7100, 7000, "thrown away.jpg", false, 10);
    for (IFileNode* n : std::vector<IFileNode*>{
             Node(5000, kRoot, "$RECYCLE.BIN", true), Node(5100, 5000, "S-1-5-21", true), data,
             Node(6100, 5100, "$IAB12.jpg", false, static_cast<long long>(IndexBytes().size())),
             trash, inTrash}) {
        if (!builder->AddNode(n, SEARCHER_EXFAT))
            n->Release();
    }
    builder->FlashBuild(SEARCHER_EXFAT);
    // The bin's data file carries the name its index file kept.
    EXPECT_STREQ(data->GetFileName(), "Holiday photo.jpg");
    EXPECT_TRUE(data->IsDeleted());
    // The volume's own trash: what it holds was thrown away.
    EXPECT_TRUE(trash->IsDeleted());
    std::set<std::string> names;
    for (IFileNode* n : tree.shown)
        names.insert(n->GetFileName());
    EXPECT_TRUE(names.count("Holiday photo.jpg"));
    EXPECT_TRUE(names.count("thrown away.jpg"));
    EXPECT_FALSE(names.count("$IAB12.jpg"));
    builder->Release();
}

}  // namespace
