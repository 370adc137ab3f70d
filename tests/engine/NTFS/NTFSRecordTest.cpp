// The NTFS record library on structures built byte by byte: boot sectors,
// mapping pairs and their packed form, FILE records (with a table of
// damaged ones that must be refused without a read outside the record),
// index blocks and log pages.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "NTFSLib/NTFSDBR.h"
#include "NTFSLib/NTFSDataRun.h"
#include "NTFSLib/NTFSFileRecord.h"
#include "NTFSLib/NTFSIndexRecord.h"
#include "NtfsRecordBuilder.h"

using namespace ntfstest;

namespace {

// ---------------------------------------------------------------- boot sector

Bytes BootSector() {
    Bytes b(512, 0);
    std::memcpy(b.data() + 3, "NTFS    ", 8);
    Put16(b, 0x0B, 512);
    b[0x0D] = 8;
    Put64(b, 0x28, 65535);
    Put64(b, 0x30, 4);
    Put64(b, 0x38, 4095);
    b[0x40] = 0xF6;
    b[0x44] = 1;
    b[0x1FE] = 0x55;
    b[0x1FF] = 0xAA;
    return b;
}

TEST(NTFSBootSector, FullTestTable) {
    struct Case {
        const char* what;
        std::function<void(Bytes&)> change;
        bool valid;
    };
    const Case cases[] = {
        {"as mkntfs writes it", [](Bytes&) {}, true},
        {"3 sectors per cluster", [](Bytes& b) { b[0x0D] = 3; }, false},
        {"0 sectors per cluster", [](Bytes& b) { b[0x0D] = 0; }, false},
        {"255 sectors per cluster", [](Bytes& b) { b[0x0D] = 255; }, false},
        {"128 sectors per cluster", [](Bytes& b) { b[0x0D] = 128; }, true},
        {"520-byte sectors", [](Bytes& b) { Put16(b, 0x0B, 520); }, false},
        {"4096-byte sectors", [](Bytes& b) { Put16(b, 0x0B, 4096); }, true},
        {"32-bit total sectors set", [](Bytes& b) { b[0x20] = 1; }, false},
        {"reserved sectors set", [](Bytes& b) { b[0x0E] = 1; }, false},
        {"FAT count set", [](Bytes& b) { b[0x10] = 2; }, false},
        {"no end marker", [](Bytes& b) { b[0x1FF] = 0; }, false},
        {"another OEM name", [](Bytes& b) { b[3] = 'X'; }, false},
    };
    for (const Case& c : cases) {
        Bytes b = BootSector();
        c.change(b);
        EXPECT_EQ(CNTFSDBR::IsFullValidDBR(b.data()), c.valid) << c.what;
    }
    EXPECT_FALSE(CNTFSDBR::IsFullValidDBR(nullptr));
}

TEST(NTFSBootSector, RecordSizeAndGeometry) {
    const struct {
        uint8_t byte;
        uint16_t bytesPerSector;
        uint8_t sectorsPerCluster;
        uint32_t size;
    } cases[] = {{0xF6, 512, 8, 1024},
                 {0xF4, 512, 8, 4096},
                 {0x01, 512, 8, 4096},
                 {0x00, 512, 8, 1024},
                 {0x01, 4096, 1, 4096}};
    for (const auto& c : cases) {
        Bytes b = BootSector();
        b[0x40] = c.byte;
        Put16(b, 0x0B, c.bytesPerSector);
        b[0x0D] = c.sectorsPerCluster;
        CNTFSDBR dbr;
        ASSERT_TRUE(dbr.InitFromBuffer(b.data()));
        EXPECT_EQ(dbr.GetFileRecordSizeByByte(), c.size) << int(c.byte);
    }
    // A rejected sector leaves what the object held.
    CNTFSDBR dbr;
    Bytes bad = BootSector();
    bad[0x0D] = 3;
    EXPECT_FALSE(dbr.InitFromBuffer(bad.data()));
    EXPECT_EQ(dbr.GetTotalSectors(), 0u);
    ASSERT_TRUE(dbr.InitFromBuffer(BootSector().data()));
    EXPECT_FALSE(dbr.InitFromBuffer(bad.data()));
    EXPECT_EQ(dbr.GetSectorsperCluster(), 8u);

    // The device's sectors decide the addressing: a 4 KiB cluster is one
    // sector of a 4 KiB device; a 512-byte cluster cannot be addressed on one.
    NTFSVolumeGeometry g;
    ASSERT_TRUE(GetNTFSVolumeGeometry(dbr, 4096, &g));
    EXPECT_EQ(g.sectorsPerCluster, 1u);
    EXPECT_EQ(g.totalClusters, 65535u / 8);
    ASSERT_TRUE(GetNTFSVolumeGeometry(dbr, 512, &g));
    EXPECT_EQ(g.sectorsPerCluster, 8u);
    Bytes small = BootSector();
    small[0x0D] = 1;
    ASSERT_TRUE(dbr.InitFromBuffer(small.data()));
    EXPECT_FALSE(GetNTFSVolumeGeometry(dbr, 4096, &g));
    Bytes huge = BootSector();
    huge[0x40] = 0xE0;  // 4 GiB records
    ASSERT_TRUE(dbr.InitFromBuffer(huge.data()));
    EXPECT_FALSE(GetNTFSVolumeGeometry(dbr, 512, &g));
}

// ---------------------------------------------------------------- mapping pairs

std::vector<CDataRun> Decode(const Bytes& pairs) {
    std::vector<CDataRun> runs;
    CNTFSDataRunList::FormDataRunList(pairs.data(), pairs.size(), runs);
    return runs;
}

TEST(NTFSRunList, DecodeTable) {
    struct Case {
        const char* what;
        Bytes pairs;
        bool valid;
        std::vector<std::pair<int64_t, int64_t>> runs;  // lcn, length
    };
    const Case cases[] = {
        {"one run", {0x11, 0x30, 0x20, 0x00}, true, {{0x20, 0x30}}},
        {"negative offset",
         {0x11, 0x30, 0x20, 0x11, 0x10, 0xF0, 0x00},
         true,
         {{0x20, 0x30}, {0x10, 0x10}}},
        {"three-byte offset 0x800000 is -8,388,608",
         {0x41, 0x01, 0x00, 0x00, 0x00, 0x01, 0x31, 0x01, 0x00, 0x00, 0x80, 0x00},
         true,
         {{0x1000000, 1}, {0x1000000 - 8388608, 1}}},
        {"a run that would start before cluster 0",
         {0x31, 0x01, 0x00, 0x00, 0x80, 0x00},
         false,
         {}},
        {"three-byte offset 0x7FFFFF", {0x31, 0x01, 0xFF, 0xFF, 0x7F, 0x00}, true, {{0x7FFFFF, 1}}},
        {"sparse run keeps the running start",
         {0x11, 0x04, 0x64, 0x01, 0x04, 0x11, 0x02, 0xCE, 0x00},
         true,
         {{100, 4}, {-1, 4}, {50, 2}}},
        // Volumes past 2^31 clusters need five-byte offsets.
        {"five-byte offset",
         {0x51, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00},
         true,
         {{int64_t{1} << 32, 2}}},
        {"no terminator inside the bytes", {0x11, 0x30, 0x20}, false, {{0x20, 0x30}}},
        // The last run's offset would be read from what follows the
        // attribute.
        {"last run's fields past the end",
         {0x11, 0x30, 0x20, 0x21, 0x05, 0x10},
         false,
         {{0x20, 0x30}}},
        {"run length 0", {0x11, 0x00, 0x20, 0x00}, false, {}},
        {"lengths that add up past 2^63",
         {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x10, 0x00},
         false,
         {{-1, INT64_MAX}}},
        {"run before cluster 0", {0x11, 0x05, 0xF0, 0x00}, false, {}},
        {"nine-byte field", {0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x00}, false, {}},
        {"empty", {}, false, {}},
        {"only the terminator", {0x00}, true, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CNTFSDataRunList::IsValid(c.pairs.data(), c.pairs.size()), c.valid) << c.what;
        if (c.pairs.empty())
            continue;
        std::vector<CDataRun> runs = Decode(c.pairs);
        ASSERT_EQ(runs.size(), c.runs.size()) << c.what;
        int64_t vcn = 0;
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].lcn, c.runs[i].first) << c.what << " run " << i;
            EXPECT_EQ(runs[i].length, c.runs[i].second) << c.what << " run " << i;
            EXPECT_EQ(runs[i].vcn, vcn) << c.what << " run " << i;
            vcn += runs[i].length;
        }
    }
}

TEST(NTFSRunList, LookupsAndJoinedExtents) {
    CNTFSDataRunList list;
    // Two extents of one attribute, added out of order as extension
    // records deliver them.
    const Bytes second = Pairs({{500, 10}});
    const Bytes first = Pairs({{100, 4}, {-1, 2}, {200, 6}});
    ASSERT_TRUE(list.AddDataRunsfromBuffer(second.data(), second.size(), 12));
    ASSERT_TRUE(list.AddDataRunsfromBuffer(first.data(), first.size(), 0));
    list.Sort();
    EXPECT_EQ(list.GetTotalClusters(), 22);
    EXPECT_EQ(list.GetLCN(0), 100);
    EXPECT_EQ(list.GetLCN(3), 103);
    EXPECT_EQ(list.GetLCN(4), -1);  // sparse
    EXPECT_EQ(list.GetLCN(7), 201);
    EXPECT_EQ(list.GetLCN(12), 500);
    EXPECT_EQ(list.GetLCN(22), -1);  // past the end
    EXPECT_EQ(list.GetVCN(505), 17);
    EXPECT_EQ(list.GetVCN(99), -1);
    EXPECT_FALSE(list.IsLCNContained(-1));
    const Bytes bad = {0x11, 0x30};
    EXPECT_FALSE(list.AddDataRunsfromBuffer(bad.data(), bad.size(), 0));
    EXPECT_EQ(list.GetCount(), 4u);
}

TEST(NTFSRunList, PackedFormRoundTrips) {
    EXPECT_EQ(CCompressedDataRunList::GetNeedBytes(0), 1u);
    EXPECT_EQ(CCompressedDataRunList::GetNeedBytes(127), 1u);
    EXPECT_EQ(CCompressedDataRunList::GetNeedBytes(128), 2u);
    EXPECT_EQ(CCompressedDataRunList::GetNeedBytes(-128), 1u);
    EXPECT_EQ(CCompressedDataRunList::GetNeedBytes(-129), 2u);
    EXPECT_EQ(CCompressedDataRunList::GetNeedBytes(INT64_MAX), 8u);

    CNoneResidentNTFSDataRunList runs;
    for (DataRun r : {DataRun(100, 8), DataRun(-1, 4), DataRun(50, 2)})
        runs.AddDataRun(&r);
    auto packed = CCompressedDataRunList::Compress(&runs);
    ASSERT_TRUE(packed);
    const Bytes expected = {0x11, 0x08, 0x64, 0x01, 0x04, 0x11, 0x02, 0xCE, 0x00};
    ASSERT_EQ(packed->GetCompressedDataRunSize(), expected.size());
    EXPECT_EQ(Bytes(packed->Bytes(), packed->Bytes() + expected.size()), expected);

    // Lists of every shape come back run for run, sparse runs included.
    const std::vector<std::vector<DataRun>> lists = {
        {{0, 1}},
        {{5, 1}, {4, 1}, {3, 1}},
        {{-1, 16}, {1000, 3}},
        {{int64_t{1} << 40, 1000000}, {7, int64_t{1} << 33}, {-1, 1}, {(int64_t{1} << 40) + 5, 2}},
    };
    for (const auto& want : lists) {
        CNoneResidentNTFSDataRunList in;
        for (const DataRun& r : want)
            in.AddDataRun(&r);
        auto p = CCompressedDataRunList::Compress(&in);
        ASSERT_TRUE(p);
        IDataRunList* out = p->Decompress();
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->GetDataRunListType(), DATARUN_LIST_NTFS_NONRESIDENT);
        std::vector<DataRun> got;
        for (const DataRun* r = out->GetFirst(); r; r = out->GetNext())
            got.push_back(*r);
        out->Release();
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].start, want[i].start);
            EXPECT_EQ(got[i].length, want[i].length);
        }
    }

    CResidentNTFSDataRunList resident;
    resident.InitList(123456789, 1, 344);
    auto r = CCompressedDataRunList::Compress(&resident);
    ASSERT_TRUE(r);
    IDataRunList* back = r->Decompress();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetDataRunListType(), DATARUN_LIST_NTFS_RESIDENT);
    EXPECT_EQ(back->GetOffset(), 344);
    EXPECT_EQ(back->GetFirst()->start, 123456789);
    back->Release();
    CResidentNTFSDataRunList zeroOffset;
    zeroOffset.InitList(5, 1, 0);
    EXPECT_FALSE(CCompressedDataRunList::Compress(&zeroOffset));
    CNoneResidentNTFSDataRunList empty;
    EXPECT_FALSE(CCompressedDataRunList::Compress(&empty));
}

// An in-memory frame of a result file.
struct MemoryFrame {
    Bytes data;
    size_t read = 0;
    int WriteCurFrame(const void* p, unsigned n) {
        const auto* b = static_cast<const uint8_t*>(p);
        data.insert(data.end(), b, b + n);
        return 1;
    }
    int ReadCurFrame(void* p, unsigned n) {
        if (data.size() - read < n)
            return 0;
        std::memcpy(p, data.data() + read, n);
        read += n;
        return 1;
    }
};

TEST(NTFSRunList, SaveAndRestore) {
    CNTFSDataRunList list;
    const Bytes pairs = Pairs({{100, 4}, {-1, 2}, {200, 6}});
    ASSERT_TRUE(list.InitFromBuffer(pairs.data(), pairs.size()));
    MemoryFrame frame;
    ASSERT_TRUE(list.Save(frame));
    EXPECT_EQ(frame.data.size(), 8u + 3 * 24);
    CNTFSDataRunList back;
    ASSERT_TRUE(back.Restore(frame));
    EXPECT_TRUE(back.IsEqual(list));

    CNoneResidentNTFSDataRunList runs;
    DataRun r(77, 3);
    runs.AddDataRun(&r);
    auto packed = CCompressedDataRunList::Compress(&runs);
    MemoryFrame f2;
    ASSERT_TRUE(packed->Save(f2));
    auto restored = CCompressedDataRunList::Restore(f2);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->GetCompressedDataRunSize(), packed->GetCompressedDataRunSize());

    // A count the frame cannot hold and a truncated frame are refused.
    MemoryFrame lying;
    Bytes count(8, 0xFF);
    lying.WriteCurFrame(count.data(), 8);
    CNTFSDataRunList none;
    EXPECT_FALSE(none.Restore(lying));
    MemoryFrame cut;
    cut.data = Bytes(f2.data.begin(), f2.data.end() - 3);
    EXPECT_FALSE(CCompressedDataRunList::Restore(cut));
}

// ---------------------------------------------------------------- FILE records

Record PlainFile() {
    Record r(64);
    r.Add(Attr::StandardInformation(0x20))
        .Add(Attr::FileName(5, u"report.txt", 3, false, 300))
        .Add(Attr::NonResident(0x80, Pairs({{1000, 3}}), 0, 2, 10000, 12288));
    return r;
}

TEST(NTFSFileRecord, SoundRecordParsesAndTheCallersBufferStaysAsItWas) {
    Bytes b = PlainFile().Build();
    const Bytes before = b;
    CNTFSFileRecord record(b.data(), b.size());
    ASSERT_TRUE(record.IsValid());
    EXPECT_EQ(b, before);
    EXPECT_TRUE(CNTFSFileRecord::IsValid(b.data(), b.size()));
    EXPECT_EQ(b, before);
    EXPECT_TRUE(record.IsinUse());
    EXPECT_FALSE(record.IsFolder());
    EXPECT_EQ(record.GetXPNumberOfthisMFTRecord(), 64u);
    CNTFSFileRecordFileNameAttribute name(record.FindAttibute(0x30, 0));
    ASSERT_FALSE(name.Empty());
    EXPECT_EQ(name.GetFileName(), "report.txt");
    EXPECT_EQ(name.GetFileRecordNumberofParentDirectory(), 5);
    EXPECT_EQ(record.GetAttibuteCountofSpecifiedType(0x80), 1);
    EXPECT_TRUE(record.FindAttibute(0x80, 1).Empty());
    CNTFSDataRunList runs;
    ASSERT_TRUE(
        CNTFSFileRecordDataRunsAttribute(record.FindAttibute(0x80, 0)).GetDataRunList(runs));
    EXPECT_EQ(runs.GetLCN(2), 1002);
}

// Damaged records: each must be refused (or the damaged part skipped) and
// never read outside the record; under the sanitizers any such read fails.
TEST(NTFSFileRecord, DamagedRecordTable) {
    struct Case {
        const char* what;
        std::function<Bytes()> make;
        bool valid;
    };
    const Record base = PlainFile();
    const size_t nameAttr = base.AttributeOffset(1);
    const size_t dataAttr = base.AttributeOffset(2);
    auto unfixed = [&] { return base.Build(false); };
    auto fixed = [](Bytes b) {
        ApplyFixups(b, 0x30, static_cast<uint16_t>(b.size() / 512 + 1), 7);
        return b;
    };
    const Case cases[] = {
        {"sound", [&] { return base.Build(); }, true},
        {"update-sequence offset 41",
         [&] {
             Bytes b = base.Build();
             Put16(b, 4, 41);
             return b;
         },
         false},
        {"update-sequence offset 257",
         [&] {
             Bytes b = base.Build();
             Put16(b, 4, 257);
             return b;
         },
         false},
        {"update-sequence count 0",
         [&] {
             Bytes b = base.Build();
             Put16(b, 6, 0);
             return b;
         },
         false},
        {"update-sequence count 17",
         [&] {
             Bytes b = base.Build();
             Put16(b, 6, 17);
             return b;
         },
         false},
        {"update-sequence count beyond the allocated sectors",
         [&] {
             Bytes b = base.Build();
             Put16(b, 6, 4);
             return b;
         },
         false},
        {"allocated size not a multiple of 1 KiB",
         [&] {
             Bytes b = base.Build();
             Put32(b, 0x1C, 1000);
             return b;
         },
         false},
        {"first attribute inside the update-sequence array",
         [&] {
             Bytes b = unfixed();
             Put16(b, 0x14, 0x32);
             return fixed(b);
         },
         false},
        {"attribute length past the record",
         [&] {
             Bytes b = unfixed();
             Put32(b, nameAttr + 4, 5000);
             return fixed(b);
         },
         false},
        {"resident value past its attribute",
         [&] {
             Bytes b = unfixed();
             Put32(b, nameAttr + 0x10, 900);
             return fixed(b);
         },
         false},
        {"$FILE_NAME name length past the attribute",
         [&] {
             Bytes b = unfixed();
             b[nameAttr + 0x18 + 0x40] = 200;
             return fixed(b);
         },
         false},
        {"attribute name past the attribute",
         [&] {
             Bytes b = unfixed();
             b[dataAttr + 9] = 40;
             return fixed(b);
         },
         false},
        {"mapping pairs past the attribute",
         [&] {
             Bytes b = unfixed();
             const size_t runs = dataAttr + Get16(b, dataAttr + 0x20);
             const uint32_t length = Get32(b, dataAttr + 4);
             std::memset(b.data() + runs, 0x11, length - (runs - dataAttr));
             return fixed(b);
         },
         false},
        {"non-resident header cut short",
         [&] {
             Bytes b = unfixed();
             Put32(b, dataAttr + 4, 0x30);
             Put32(b, dataAttr + 0x30, 0xFFFFFFFF);
             return fixed(b);
         },
         false},
        // A name's characters never cost its record: the file is kept and its
        // name cleaned where it becomes a path.
        {"a Win32 name with a colon",
         [&] { return Record(64).Add(Attr::FileName(5, u"a:b", 1)).Build(); }, true},
        {"a POSIX name with a colon (written by Linux programs)",
         [&] { return Record(64).Add(Attr::FileName(5, u"a:b?", 0)).Build(); }, true},
        {"a POSIX name with a slash",
         [&] { return Record(64).Add(Attr::FileName(5, u"a/b", 0)).Build(); }, true},
        {"a name with control characters",
         [&] { return Record(64).Add(Attr::FileName(5, u"a\x01\x1f", 1)).Build(); }, true},
        {"a name that starts with a NUL",
         [&] { return Record(64).Add(Attr::FileName(5, std::u16string(u"\0ab", 3), 1)).Build(); },
         true},
        {"length 0 ends the walk",
         [&] {
             Bytes b = unfixed();
             Put32(b, dataAttr + 4, 0);
             return fixed(b);
         },
         true},
        {"not a FILE record",
         [&] {
             Bytes b = base.Build();
             b[0] = 'B';
             return b;
         },
         false},
    };
    for (const Case& c : cases) {
        Bytes b = c.make();
        const Bytes before = b;
        EXPECT_EQ(CNTFSFileRecord::IsValid(b.data(), b.size()), c.valid) << c.what;
        EXPECT_EQ(b, before) << c.what;
        // Every reader must stay inside the record, valid or not.
        CNTFSFileRecord record(b.data(), b.size());
        for (uint32_t type : {0x10u, 0x30u, 0x80u})
            CNTFSFileRecord::FindAttibute(b.data(), b.size(), type, 0);
    }
    // Too short a buffer for a record.
    Bytes b = base.Build();
    EXPECT_FALSE(CNTFSFileRecord::IsValid(b.data(), 512));
    EXPECT_FALSE(CNTFSFileRecord::IsValid(nullptr, 1024));
}

TEST(NTFSFileRecord, AttributeAfterLengthZeroIsNotFound) {
    const Record base = PlainFile();
    Bytes b = base.Build(false);
    Put32(b, base.AttributeOffset(1) + 4, 0);
    ApplyFixups(b, 0x30, 3, 7);
    CNTFSFileRecord record(b.data(), b.size());
    ASSERT_TRUE(record.IsValid());
    EXPECT_FALSE(record.FindAttibute(0x10, 0).Empty());
    EXPECT_TRUE(record.FindAttibute(0x80, 0).Empty());
    EXPECT_EQ(record.GetAttibuteCountofSpecifiedType(0x80), 0);
}

// A 4 KiB record is examined whole: names beyond its first KiB count.
TEST(NTFSFileRecord, FourKiBRecordsAreExaminedWhole) {
    Record r(90, 4096);
    r.Add(Attr::StandardInformation(0x20));
    for (int i = 0; i < 9; ++i)
        r.Add(Attr::FileName(5, u"name" + std::u16string(100, u'N') + std::u16string(1, u'0' + i),
                             0));
    r.Add(Attr::Resident(0x80, Bytes(200, 'x')));
    ASSERT_GT(r.AttributeOffset(10), 2048u);
    const Bytes b = r.Build();
    CNTFSFileRecord record(b.data(), b.size());
    ASSERT_TRUE(record.IsValid());
    EXPECT_EQ(record.Size(), 4096u);
    EXPECT_EQ(record.GetAttibuteCountofSpecifiedType(0x30), 9);
    EXPECT_FALSE(record.FindAttibute(0x80, 0).Empty());
    // Every one of its eight sectors is checked.
    Bytes torn = b;
    torn[7 * 512 + 510] ^= 1;
    CNTFSFileRecord tornRecord(torn.data(), torn.size());
    ASSERT_TRUE(tornRecord.IsValid());
    EXPECT_EQ(tornRecord.TornSectors(), 1u << 7);
}

// A write torn by a power cut leaves sectors of the record as an older
// version held them, their ends without the sequence number. The record is
// still its file's when its attributes are sound; the torn sectors are
// known, and so are the bytes of an attribute that lie in them.
TEST(NTFSFileRecord, TornRecordsAreKeptWhenTheirAttributesAreSound) {
    // A resident value over both sectors: record bytes 264 to 864.
    const Record resident = Record(64)
                                .Add(Attr::StandardInformation(0x20))
                                .Add(Attr::FileName(5, u"report.txt", 3, false, 600))
                                .Add(Attr::Resident(0x80, Bytes(600, 'x')));
    ASSERT_EQ(resident.AttributeOffset(2), 240u);
    // An attribute whose length field spans the first sector's end.
    const Record spanning = Record(64)
                                .Add(Attr::StandardInformation(0x20))
                                .Add(Attr::FileName(5, u"report.txt", 3, false, 0))
                                .Add(Attr::Resident(0x80, Bytes(240, 'x')))
                                .Add(Attr::FileName(5, u"second.txt", 1, false, 0));
    ASSERT_EQ(spanning.AttributeOffset(3), 504u);
    struct Case {
        const char* what;
        const Record& record;
        std::vector<size_t> stale;  // sectors whose end is not the sequence number
        bool valid;
        uint32_t torn;
        std::vector<LostRange> valueLost;
    };
    const Case cases[] = {
        {"whole", resident, {}, true, 0, {}},
        {"first sector stale", resident, {0}, true, 1, {{0, 248}}},
        {"second sector stale", resident, {1}, true, 2, {{248, 352}}},
        {"both sectors stale", resident, {0, 1}, true, 3, {{0, 600}}},
        {"stale end inside an attribute's length", spanning, {0}, false, 0, {}},
        {"stale end after every attribute", spanning, {1}, true, 2, {}},
    };
    for (const Case& c : cases) {
        Bytes b = c.record.Build();
        for (size_t sector : c.stale)
            b[sector * 512 + 510] ^= 0xFF;
        const Bytes before = b;
        EXPECT_EQ(CNTFSFileRecord::IsValid(b.data(), b.size()), c.valid) << c.what;
        EXPECT_EQ(b, before) << c.what;
        CNTFSFileRecord record(b.data(), b.size());
        EXPECT_EQ(record.IsValid(), c.valid) << c.what;
        EXPECT_EQ(record.TornSectors(), c.torn) << c.what;
        if (!c.valid || &c.record != &resident)
            continue;
        size_t offset = 0;
        const CNTFSFileRecordAttribute data = record.FindAttibute(0x80, 0, &offset);
        ASSERT_FALSE(data.Empty()) << c.what;
        EXPECT_EQ(record.TornBytes(offset + data.GetOffsetToAttribute(), 600).Ranges(), c.valueLost)
            << c.what;
        // Sectors that matched are restored: the value's bytes at the first
        // sector's end are the file's whenever that sector is whole.
        if (!(c.torn & 1)) {
            EXPECT_EQ(data.Value().data()[510 - 264], 'x') << c.what;
        }
    }
}

Bytes VolumeRecord(const std::u16string& label) {
    return Record(3)
        .Add(Attr::StandardInformation(0x06))
        .Add(Attr::FileName(5, u"$Volume", 3))
        .Add(Attr::Resident(0x60, Utf16(label)))
        .Build();
}

TEST(NTFSFileRecord, MetafilesAndLabel) {
    const Bytes volume = VolumeRecord(u"Donn\u00e9es");
    CNTFSFileRecord record(volume.data(), volume.size());
    EXPECT_EQ(CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(record), 3);
    EXPECT_TRUE(CMetaFileRecordTypeAnalyzer::IsValidVolumeFileRecord(record));
    EXPECT_FALSE(CMetaFileRecordTypeAnalyzer::IsValidMFTFileRecord(record));
    EXPECT_TRUE(CIsMetaFileRecord::IsMetaFileRecord(volume.data(), volume.size()));

    char label[32];
    EXPECT_EQ(CVolumeFileAnalyzer::GetLabel(volume.data(), volume.size(), label, sizeof(label)), 8);
    EXPECT_STREQ(label,
                 "Donn\xc3\xa9"
                 "es");
    // A short buffer gets what fits, cut between whole characters.
    std::memset(label, 'x', sizeof(label));
    EXPECT_EQ(CVolumeFileAnalyzer::GetLabel(volume.data(), volume.size(), label, 6), 4);
    EXPECT_STREQ(label, "Donn");
    EXPECT_EQ(label[6], 'x');

    // Hidden and system are what make a name a metafile's.
    const Bytes user = Record(70)
                           .Add(Attr::StandardInformation(0x20))
                           .Add(Attr::FileName(5, u"$Volume", 3))
                           .Build();
    CNTFSFileRecord userRecord(user.data(), user.size());
    EXPECT_FALSE(CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(userRecord));
    EXPECT_EQ(CVolumeFileAnalyzer::GetLabel(user.data(), user.size(), label, sizeof(label)), -1);
    // Names compare exactly.
    const Bytes lower =
        Record(0).Add(Attr::StandardInformation(0x06)).Add(Attr::FileName(5, u"$mft", 3)).Build();
    CNTFSFileRecord lowerRecord(lower.data(), lower.size());
    EXPECT_EQ(CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(lowerRecord), -1);
    EXPECT_TRUE(CIsMetaFileRecord::IsMetaFileRecord(24));
    EXPECT_FALSE(CIsMetaFileRecord::IsMetaFileRecord(25));
}

// ---------------------------------------------------------------- index blocks

Bytes IndexEntry(uint64_t child, uint64_t parent, const std::u16string& name, uint16_t flags = 0) {
    const Bytes key = Attr::FileNameValue(parent, name);
    Bytes e((0x10 + key.size() + 7) / 8 * 8, 0);
    Put64(e, 0, child);
    Put16(e, 8, static_cast<uint16_t>(e.size()));
    Put16(e, 10, static_cast<uint16_t>(key.size()));
    Put16(e, 12, flags);
    std::memcpy(e.data() + 0x10, key.data(), key.size());
    Put64(e, 0x38, 4096);
    Put64(e, 0x40, 100);
    return e;
}

Bytes LastEntry() {
    Bytes e(0x10, 0);
    Put16(e, 8, 0x10);
    Put16(e, 12, 2);
    return e;
}

Bytes IndexBlock(const std::vector<Bytes>& entries, bool fixups = true) {
    Bytes b(4096, 0);
    std::memcpy(b.data(), "INDX", 4);
    Put16(b, 4, 0x28);
    Put16(b, 6, 9);
    Put64(b, 0x10, 3);
    Put32(b, 0x18, 0x28);  // from 0x18: entries at 0x40
    size_t off = 0x40;
    for (const Bytes& e : entries) {
        std::memcpy(b.data() + off, e.data(), e.size());
        off += e.size();
    }
    Put32(b, 0x1C, static_cast<uint32_t>(off - 0x18));
    Put32(b, 0x20, 4096 - 0x18 - 0x10);
    if (fixups)
        ApplyFixups(b, 0x28, 9, 3);
    return b;
}

TEST(NTFSIndexRecord, BlockTable) {
    struct Case {
        const char* what;
        Bytes block;
        bool valid;
        int64_t parent;
    };
    Bytes usa39 = IndexBlock({IndexEntry(70, 0x1A, u"a"), LastEntry()});
    Put16(usa39, 4, 39);
    Bytes pastInUse = IndexBlock({IndexEntry(70, 0x1A, u"a"), LastEntry()}, false);
    Put32(pastInUse, 0x1C, 0x28 + 0x30);  // the first entry ends past the in-use bytes
    ApplyFixups(pastInUse, 0x28, 9, 3);
    Bytes lyingLength = IndexBlock({IndexEntry(70, 0x1A, u"a"), LastEntry()}, false);
    Put16(lyingLength, 0x40 + 8, 0x7000);
    ApplyFixups(lyingLength, 0x28, 9, 3);
    Bytes torn = IndexBlock({IndexEntry(70, 0x1A, u"a"), LastEntry()});
    torn[3 * 512 + 510] ^= 1;
    const Case cases[] = {
        {"two entries of one folder",
         IndexBlock({IndexEntry(70, 0x1A, u"a"), IndexEntry(71, 0x1A, u"b"), LastEntry()}), true,
         0x1A},
        {"entries of two folders",
         IndexBlock({IndexEntry(70, 0x1A, u"a"), IndexEntry(71, 0x1B, u"b"), LastEntry()}), false,
         -2},
        {"only the last entry", IndexBlock({LastEntry()}), true, -1},
        {"update-sequence offset 39", usa39, false, -2},
        {"entry past the in-use bytes", pastInUse, false, -2},
        {"entry length past the block", lyingLength, false, -2},
        {"torn sector", torn, false, -2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CIndexRecord::IsValid(c.block.data(), c.block.size()), c.valid) << c.what;
        if (c.parent != -2) {
            Bytes copy = c.block;
            ASSERT_TRUE(CIndexRecord::UnfixupIndexRecord(copy.data(), copy.size()));
            EXPECT_EQ(CIndexRecord::GetParentFileReference(copy.data(), copy.size()), c.parent)
                << c.what;
        }
    }
    Bytes ok = IndexBlock({LastEntry()});
    Put16(ok, 4, 40);
    EXPECT_TRUE(CStandardIndexHeader::IsValid(ok.data(), ok.size()));
    EXPECT_EQ(CIndexRecord::GetVCN(ok.data(), ok.size()), 3);
}

TEST(NTFSIndexRecord, IndexRootNamesItsFolder) {
    auto root = [](const std::vector<Bytes>& entries, uint32_t extraInUse = 0) {
        Bytes v(0x20, 0);
        Put32(v, 0, 0x30);
        Put32(v, 8, 4096);
        Put32(v, 0x10, 0x10);
        size_t used = 0x10;
        for (const Bytes& e : entries) {
            v.insert(v.end(), e.begin(), e.end());
            used += e.size();
        }
        Put32(v, 0x14, static_cast<uint32_t>(used + extraInUse));
        Put32(v, 0x18, static_cast<uint32_t>(used));
        return Attr::Resident(0x90, v, u"$I30");
    };
    auto answer = [](const Attr& a) {
        return CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(
            CNTFSFileRecordAttribute(a.bytes.data(), a.bytes.size()));
    };
    EXPECT_EQ(answer(root({LastEntry()})), -1);
    EXPECT_EQ(answer(root({IndexEntry(70, 0x1A, u"a"), IndexEntry(71, 0x1A, u"b"), LastEntry()})),
              0x1A);
    EXPECT_EQ(answer(root({IndexEntry(70, 0x1A, u"a"), IndexEntry(71, 0x1B, u"b"), LastEntry()})),
              -1);
    // In-use bytes past the value: refused, nothing read past it.
    EXPECT_EQ(answer(root({IndexEntry(70, 0x1A, u"a"), LastEntry()}, 4000)), -1);
    // The in-use bytes end inside the second entry: what lies past them is
    // stale and names no folder.
    const Bytes stale = IndexEntry(71, 0x1B, u"b");
    const Bytes last = LastEntry();
    EXPECT_EQ(answer(root({IndexEntry(70, 0x1A, u"a"), stale, last},
                          static_cast<uint32_t>(0x20 - stale.size() - last.size()))),
              0x1A);
}

TEST(NTFSIndexRecord, LogPagesAndClusterMatch) {
    Bytes page(4096, 0);
    std::memcpy(page.data(), "RCRD", 4);
    Put16(page, 4, 0x28);
    Put16(page, 6, 9);
    ApplyFixups(page, 0x28, 9, 5);
    EXPECT_TRUE(CRCRDRecord::IsValid(page.data(), page.size()));
    Bytes eight = page;
    Put16(eight, 6, 8);
    EXPECT_FALSE(CRCRDRecord::IsValid(eight.data(), eight.size()));
    EXPECT_FALSE(CRCRDRecord::IsValid(page.data(), 2048));
    ASSERT_TRUE(CRCRDRecord::Unfixup(page.data(), page.size()));
    EXPECT_EQ(Get16(page, 510), 0);

    EXPECT_TRUE(NTFSPublicFunction::IsClusterNOMatch(1000, 124, 8, 8));
    EXPECT_FALSE(NTFSPublicFunction::IsClusterNOMatch(1001, 124, 8, 8));
    EXPECT_FALSE(NTFSPublicFunction::IsClusterNOMatch(1000, 124, 8, 3));
    EXPECT_FALSE(NTFSPublicFunction::IsClusterNOMatch(4, 0, 8, 8));
}

}  // namespace
