// Files spread over several records, the properties built from them, the
// nodes that own those properties, and the readers of a node's data, on a
// small volume laid out byte by byte in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "NTFSLib/NTFSFileNode.h"
#include "NTFSLib/NTFSMultiFileRecord.h"
#include "NTFSLib/NTFSVolume.h"
#include "NtfsRecordBuilder.h"
#include "support/MemoryStorageDevice.h"

using namespace ntfstest;
using velmora::test::MemoryStorageDevice;

namespace {

// 512-byte sectors, 4 KiB clusters, the $MFT at cluster 4 (64 records).
struct MemVolume {
    static constexpr uint32_t kSector = 512;
    static constexpr uint64_t kCluster = 4096;
    static constexpr int64_t kMftCluster = 4;

    explicit MemVolume(size_t clusters = 256) : bytes(clusters * kCluster, 0) {
        mft.AddDataRun({kMftCluster, 0, 16});
    }
    void PutRecord(uint32_t number, const Bytes& record) {
        std::memcpy(bytes.data() + kMftCluster * kCluster + number * 1024, record.data(),
                    record.size());
    }
    void PutCluster(int64_t cluster, const Bytes& data) {
        std::memcpy(bytes.data() + cluster * kCluster, data.data(), data.size());
    }
    NTFSRecordLocator Locator() const {
        NTFSRecordLocator l;
        l.sectorSize = kSector;
        l.clusterBytes = kCluster;
        l.recordBytes = 1024;
        l.mftRuns = &mft;
        return l;
    }
    std::unique_ptr<MemoryStorageDevice> Device() const {
        return std::make_unique<MemoryStorageDevice>(bytes, kSector);
    }
    int64_t RecordSector(uint32_t number) const {
        return (kMftCluster * kCluster + number * 1024) / kSector;
    }

    Bytes bytes;
    CNTFSDataRunList mft;
};

// The value of an $ATTRIBUTE_LIST naming (type, record) pairs.
Bytes AttributeList(const std::vector<std::pair<uint32_t, uint64_t>>& entries) {
    Bytes out;
    for (auto [type, record] : entries) {
        Bytes e(0x20, 0);
        Put32(e, 0, type);
        Put16(e, 4, 0x20);
        Put64(e, 0x10, record | (uint64_t{1} << 48));
        out.insert(out.end(), e.begin(), e.end());
    }
    return out;
}

struct Built {
    std::unique_ptr<CNTFSFileProperties> props;
    int64_t parent = -1;
};

Built BuildFrom(const Bytes& record, uint64_t clusterBytes = 4096, IStorageDevice* device = nullptr,
                const ExtendFileRecordInfoList* list = nullptr, std::u16string stream = u"") {
    CNTFSMultiFileRecord multi(record.data(), record.size(), 100, 0, device, list);
    CNTFSFilePropertiesBuilder::Options o;
    o.clusterBytes = clusterBytes;
    o.stream = std::move(stream);
    Built b;
    b.props.reset(CNTFSFilePropertiesBuilder::BuildFileProperties(100, multi, o, &b.parent));
    return b;
}

// ---------------------------------------------------------------- multi-record files

TEST(NTFSMultiRecord, AttributeListJoinsExtensionRecordsOnceEach) {
    MemVolume v;
    // Base record 40 names itself, 41 twice, 42, another file's record 43
    // and record 500, which lies past the $MFT.
    const Bytes list = AttributeList(
        {{0x10, 40}, {0x30, 40}, {0x30, 41}, {0x80, 41}, {0x80, 42}, {0x30, 43}, {0x80, 500}});
    v.PutRecord(40, Record(40)
                        .Add(Attr::StandardInformation(0x20))
                        .Add(Attr::Resident(0x20, list))
                        .Add(Attr::FileName(5, u"LONGNA~1.TXT", 2))
                        .Build());
    v.PutRecord(41, Record(41).Base(40).Add(Attr::FileName(5, u"long name.txt", 1)).Build());
    v.PutRecord(42, Record(42)
                        .Base(40)
                        .Add(Attr::NonResident(0x80, Pairs({{60, 3}}), 0, 2, 9000, 12288))
                        .Build());
    v.PutRecord(43, Record(43).Base(99).Add(Attr::FileName(5, u"intruder.txt", 1)).Build());
    auto device = v.Device();
    const Bytes base(v.bytes.begin() + MemVolume::kMftCluster * 4096 + 40 * 1024,
                     v.bytes.begin() + MemVolume::kMftCluster * 4096 + 41 * 1024);
    CNTFSFileRecord record(base.data(), base.size());
    ASSERT_TRUE(record.IsValid());

    auto infos = CNTFSMultiFileRecord::InitExtendFileRecord(record, v.RecordSector(40), 0, 40,
                                                            v.Locator(), device.get());
    ASSERT_TRUE(infos);
    std::vector<int64_t> numbers;
    for (const auto& i : *infos)
        numbers.push_back(i.recordNumber);
    EXPECT_EQ(numbers, (std::vector<int64_t>{41, 42, 43}));
    EXPECT_EQ((*infos)[1].startSector, v.RecordSector(42));

    CNTFSMultiFileRecord multi(record, v.RecordSector(40), 0, device.get(), infos.get());
    // The second $FILE_NAME lives in an extension record; the intruder's
    // does not count.
    NTFSAttributeRef second = multi.FindAttibute(0x30, 1);
    ASSERT_FALSE(second.Empty());
    EXPECT_EQ(CNTFSFileRecordFileNameAttribute(second.attribute).GetFileName(), "long name.txt");
    EXPECT_EQ(second.sector, v.RecordSector(41));
    EXPECT_TRUE(multi.FindAttibute(0x30, 2).Empty());

    CNTFSFilePropertiesBuilder::Options o;
    o.clusterBytes = 4096;
    int64_t parent = -1;
    std::unique_ptr<CNTFSFileProperties> props(
        CNTFSFilePropertiesBuilder::BuildFileProperties(v.RecordSector(40), multi, o, &parent));
    ASSERT_TRUE(props);
    EXPECT_STREQ(props->GetFileName(), "long name.txt");
    EXPECT_EQ(props->GetFileSize(), 9000);
    EXPECT_EQ(parent, 5);
}

TEST(NTFSMultiRecord, NonResidentListIsReadAndBounded) {
    MemVolume v;
    const Bytes list = AttributeList({{0x30, 50}, {0x80, 51}});
    v.PutCluster(100, list);
    auto nonResident = [&](int64_t initialized, int64_t allocated) {
        return Record(50)
            .Add(Attr::NonResident(0x20, Pairs({{100, allocated / 4096}}), 0, allocated / 4096 - 1,
                                   initialized, allocated))
            .Add(Attr::FileName(5, u"big.bin", 1))
            .Build();
    };
    auto device = v.Device();
    const Bytes good = nonResident(static_cast<int64_t>(list.size()), 4096);
    CNTFSFileRecord record(good.data(), good.size());
    ASSERT_TRUE(record.IsValid());
    auto infos = CNTFSMultiFileRecord::GetExtendFileRecordInfoList(record, 0, 8, device.get());
    ASSERT_TRUE(infos);
    EXPECT_EQ(infos->size(), 2u);

    // Sizes that NTFS never writes are refused before anything is read or
    // allocated: an initialized size above the allocated one, and a list
    // larger than 256 KiB.
    for (auto [init, alloc] :
         {std::pair<int64_t, int64_t>{8192, 4096}, {int64_t{1} << 30, int64_t{1} << 30}}) {
        const Bytes bad = nonResident(init, alloc);
        CNTFSFileRecord r(bad.data(), bad.size());
        ASSERT_TRUE(r.IsValid());
        const long long reads = device->Reads();
        EXPECT_FALSE(CNTFSMultiFileRecord::GetExtendFileRecordInfoList(r, 0, 8, device.get()));
        EXPECT_EQ(device->Reads(), reads);
    }
}

TEST(NTFSMultiRecord, RunCollectionAndClusterSizeGuess) {
    const Bytes mft = Record(0)
                          .Add(Attr::StandardInformation(0x06))
                          .Add(Attr::FileName(5, u"$MFT", 3))
                          .Add(Attr::NonResident(0x80, Pairs({{262144, 131072}, {10, 131072}}), 0,
                                                 262143, int64_t{1} << 30, int64_t{1} << 30))
                          .Build();
    CNTFSFileRecord record(mft.data(), mft.size());
    uint32_t spc = 0;
    ASSERT_TRUE(CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(record, 512, &spc));
    EXPECT_EQ(spc, 8u);
    CNTFSDataRunList runs;
    int64_t size = 0;
    ASSERT_TRUE(
        CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, runs, true, &size));
    EXPECT_EQ(size, int64_t{1} << 30);
    // A VCN range that disagrees with the runs fails the totals check.
    const Bytes lying = Record(0)
                            .Add(Attr::NonResident(0x80, Pairs({{10, 5}}), 0, 99, 4096, 4096))
                            .Add(Attr::FileName(5, u"$MFT", 3))
                            .Build();
    CNTFSFileRecord lyingRecord(lying.data(), lying.size());
    CNTFSDataRunList none;
    EXPECT_FALSE(CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(lyingRecord, none,
                                                                             true, &size));
    // A VCN range too wide for 64 bits is refused the same way, not
    // computed past the type's end.
    const Bytes wide =
        Record(0)
            .Add(Attr::NonResident(0x80, Pairs({{10, 5}}), INT64_MIN, 60928, 4096, 4096))
            .Add(Attr::FileName(5, u"$MFT", 3))
            .Build();
    CNTFSFileRecord wideRecord(wide.data(), wide.size());
    EXPECT_FALSE(
        CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(wideRecord, none, true, &size));
}

// ---------------------------------------------------------------- properties

TEST(NTFSProperties, BuilderTable) {
    struct Case {
        const char* what;
        Record record;
        const char* name;
        long long size;
        uint32_t attributeBits;  // those that must be set
        uint32_t absentBits;     // those that must not
        bool deleted;
        int runList;  // 0 none, 1 resident, 2 non-resident
    };
    const Case cases[] = {
        {"DOS name second: the first name stays",
         Record()
             .Add(Attr::FileName(5, u"Long name.txt", 1))
             .Add(Attr::FileName(5, u"LONGNA~1.TXT", 2)),
         "Long name.txt", 0, 0, 0x10, false, 0},
        {"DOS name first: the Win32 name wins",
         Record()
             .Add(Attr::FileName(5, u"LONGNA~1.TXT", 2))
             .Add(Attr::FileName(5, u"Long name.txt", 1)),
         "Long name.txt", 0, 0, 0, false, 0},
        {"deleted record", Record().InUse(false).Add(Attr::FileName(5, u"gone.txt", 1)), "gone.txt",
         0, 0, 0, true, 0},
        {"resident data of 300 bytes",
         Record().Add(Attr::FileName(5, u"r.txt", 1)).Add(Attr::Resident(0x80, Bytes(300, 'r'))),
         "r.txt", 300, 0, 0, false, 1},
        {"10,000 bytes in 2 clusters: cut to the clusters",
         Record()
             .Add(Attr::FileName(5, u"a.bin", 1))
             .Add(Attr::NonResident(0x80, Pairs({{50, 2}}), 0, 1, 10000, 8192)),
         "a.bin", 8192, 0, 0, false, 2},
        {"10,000 bytes in 3 clusters",
         Record()
             .Add(Attr::FileName(5, u"a.bin", 1))
             .Add(Attr::NonResident(0x80, Pairs({{50, 3}}), 0, 2, 10000, 12288)),
         "a.bin", 10000, 0, 0, false, 2},
        {"only named streams",
         Record()
             .Add(Attr::FileName(5, u"s.txt", 1))
             .Add(Attr::Resident(0x80, Bytes(40, 's'), u"Zone.Identifier")),
         "s.txt", 0, 0, 0, false, 0},
        {"compressed and encrypted keep only encrypted",
         Record()
             .Add(Attr::FileName(5, u"c.bin", 1))
             .Add(Attr::NonResident(0x80, Pairs({{50, 16}}), 0, 15, 5000, 65536, u"", 0x4001)),
         "c.bin", 5000, 0x40, 0x800, false, 2},
        {"compressed",
         Record()
             .Add(Attr::FileName(5, u"c.bin", 1))
             .Add(Attr::NonResident(0x80, Pairs({{50, 4}, {-1, 12}}), 0, 15, 60000, 65536, u"",
                                    0x0001)),
         "c.bin", 60000, 0x800, 0, false, 2},
        {"folder", Record().Folder(true).Add(Attr::FileName(5, u"dir", 1, true)), "dir", 0, 0x10, 0,
         false, 0},
        {"standard information sets the DOS bits",
         Record().Add(Attr::StandardInformation(0x27)).Add(Attr::FileName(5, u"h.txt", 1)), "h.txt",
         0, 0x27, 0, false, 0},
        // A live file's size is its data attribute's, not the stale one
        // its $FILE_NAME keeps.
        {"$FILE_NAME size larger than the data's",
         Record()
             .Add(Attr::FileName(5, u"t.txt", 1, false, 9000))
             .Add(Attr::NonResident(0x80, Pairs({{50, 3}}), 0, 2, 100, 12288)),
         "t.txt", 100, 0, 0, false, 2},
        {"a live empty file with clusters stays empty",
         Record()
             .Add(Attr::FileName(5, u"e.txt", 1))
             .Add(Attr::NonResident(0x80, Pairs({{50, 1}}), 0, 0, 0, 4096)),
         "e.txt", 0, 0, 0, false, 2},
        {"a deleted file whose size was cleared takes its clusters' size",
         Record()
             .InUse(false)
             .Add(Attr::FileName(5, u"d.bin", 1))
             .Add(Attr::NonResident(0x80, Pairs({{50, 2}}), 0, 1, 0, 8192)),
         "d.bin", 8192, 0, 0, true, 2},
    };
    for (const Case& c : cases) {
        Built b = BuildFrom(c.record.Build());
        ASSERT_TRUE(b.props) << c.what;
        EXPECT_STREQ(b.props->GetFileName(), c.name) << c.what;
        EXPECT_EQ(b.props->GetFileSize(), c.size) << c.what;
        EXPECT_EQ(b.props->GetAttribute() & c.attributeBits, c.attributeBits) << c.what;
        EXPECT_EQ(b.props->GetAttribute() & c.absentBits, 0u) << c.what;
        EXPECT_EQ((b.props->GetState() & kNTFSStateDeleted) != 0, c.deleted) << c.what;
        IDataRunList* list = b.props->GetDataRunList();
        EXPECT_EQ(list == nullptr ? 0 : list->GetDataRunListType(), c.runList) << c.what;
        if (list)
            list->Release();
        EXPECT_EQ(b.parent, 5) << c.what;
    }
    EXPECT_FALSE(BuildFrom(Record().Add(Attr::StandardInformation(0x20)).Build()).props);
    EXPECT_FALSE(BuildFrom(Record().Add(Attr::FileName(5, u"", 1)).Build()).props);
}

TEST(NTFSProperties, ResidentRunPointsAtTheValueAndStreamsAreTheirOwnFiles) {
    Record r(64);
    r.Add(Attr::StandardInformation(0x20))
        .Add(Attr::FileName(5, u"report.pdf", 1))
        .Add(Attr::Resident(0x80, Bytes(300, 'r')))
        .Add(Attr::Resident(0x80, Bytes(26, 'z'), u"Zone.Identifier"));
    Built main = BuildFrom(r.Build());
    ASSERT_TRUE(main.props);
    IDataRunList* list = main.props->GetDataRunList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetFirst()->start, 100);
    // The value of the third attribute: its offset plus the value offset.
    EXPECT_EQ(list->GetOffset(), static_cast<long long>(r.AttributeOffset(2) + 0x18));
    list->Release();

    Built stream = BuildFrom(r.Build(), 4096, nullptr, nullptr, u"Zone.Identifier");
    ASSERT_TRUE(stream.props);
    EXPECT_STREQ(stream.props->GetFileName(), "report.pdf:Zone.Identifier");
    EXPECT_EQ(stream.props->GetFileSize(), 26);
    EXPECT_FALSE(BuildFrom(r.Build(), 4096, nullptr, nullptr, u"missing").props);
}

TEST(NTFSProperties, MissingExtentsKeepLaterDataInPlace) {
    MemVolume v;
    // The first extent (VCN 0-3) sits in an extension record that cannot be
    // read; the second (VCN 4-5) is in the base record.
    const Bytes list = AttributeList({{0x30, 60}, {0x80, 61}, {0x80, 60}});
    Record base(60);
    base.Add(Attr::Resident(0x20, list))
        .Add(Attr::FileName(5, u"split.bin", 1))
        .Add(Attr::NonResident(0x80, Pairs({{90, 2}}), 4, 5, 0, 0));
    const Bytes bytes = base.Build();
    auto device = v.Device();
    ExtendFileRecordInfoList infos = {{v.RecordSector(61), 0, 61}};
    Built b = BuildFrom(bytes, 4096, device.get(), &infos);
    ASSERT_TRUE(b.props);
    IDataRunList* runs = b.props->GetDataRunList();
    ASSERT_NE(runs, nullptr);
    const DataRun* first = runs->GetFirst();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->start, -1);
    EXPECT_EQ(first->length, 4);
    const DataRun* second = runs->GetNext();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->start, 90);
    runs->Release();
}

// ---------------------------------------------------------------- nodes

TEST(NTFSNode, OwnsItsPropertiesAndFollowsThem) {
    Built b =
        BuildFrom(Record()
                      .Add(Attr::FileName(5, u"..hidden", 1))
                      .Add(Attr::NonResident(0x80, Pairs({{50, 3}}), 0, 2, 10000, 12288, u"", 1))
                      .Build());
    ASSERT_TRUE(b.props);
    auto* node = new CNTFSFileNode();
    node->SetFileProperties(b.props.release());
    EXPECT_EQ(node->GetCurrentNodeID(), 0);
    EXPECT_EQ(node->GetParentNodeID(), 5);
    EXPECT_EQ(node->GetSearcheType(), SEARCHER_NTFS);
    EXPECT_EQ(node->GetMetadataStartPosition(), 100);
    EXPECT_TRUE(node->IsCompressed());
    EXPECT_FALSE(node->IsDeleted());
    ASSERT_NE(node->GetDataRunList(), nullptr);
    node->MarkDeleted();
    EXPECT_TRUE(node->IsDeleted());
    node->FilterFileNameByDot();
    EXPECT_STREQ(node->GetFileName(), "hidden");
    IFileReader* reader = node->CreateCompressFileReader(nullptr);
    ASSERT_NE(reader, nullptr);
    reader->Release();
    IFileNode* copy = node->Clone();
    ASSERT_NE(copy, nullptr);
    // Either may go first: each owns its own properties (the sanitizer
    // build reports any leak or double free).
    node->Release();
    EXPECT_STREQ(copy->GetFileName(), "hidden");
    EXPECT_EQ(copy->GetFileSize(), 10000);
    copy->Release();
}

// ---------------------------------------------------------------- readers

struct ReaderVolume : MemVolume {
    ReaderVolume() {
        // Record 64: 700 bytes resident. Record 65: 4,096 bytes in cluster
        // 80. Record 66: 8,192 bytes in clusters 81 and 90 (two runs).
        // Record 67: 12,288 bytes of which the middle cluster is sparse.
        // Record 68: a folder.
        PutRecord(64, Record(64)
                          .Add(Attr::FileName(5, u"small.txt", 1))
                          .Add(Attr::Resident(0x80, Pattern(700, 1)))
                          .Build());
        PutRecord(65, Record(65)
                          .Add(Attr::FileName(5, u"one.bin", 1))
                          .Add(Attr::NonResident(0x80, Pairs({{80, 1}}), 0, 0, 4096, 4096))
                          .Build());
        PutRecord(66, Record(66)
                          .Add(Attr::FileName(5, u"two.bin", 1))
                          .Add(Attr::NonResident(0x80, Pairs({{81, 1}, {90, 1}}), 0, 1, 8192, 8192))
                          .Build());
        PutRecord(67, Record(67)
                          .Add(Attr::FileName(5, u"sparse.bin", 1))
                          .Add(Attr::NonResident(0x80, Pairs({{91, 1}, {-1, 1}, {92, 1}}), 0, 2,
                                                 12288, 12288))
                          .Build());
        PutRecord(68, Record(68).Folder(true).Add(Attr::FileName(5, u"dir", 1, true)).Build());
        PutCluster(80, Pattern(4096, 2));
        PutCluster(81, Pattern(4096, 3));
        PutCluster(90, Pattern(4096, 4));
        PutCluster(91, Pattern(4096, 5));
        PutCluster(92, Pattern(4096, 6));
        // What lies before the volume would be read for a sparse run taken
        // as cluster -1: fill the first cluster so such a read shows.
        PutCluster(0, Bytes(4096, 0xEE));
    }
    static Bytes Pattern(size_t n, uint8_t seed) {
        Bytes b(n);
        for (size_t i = 0; i < n; ++i)
            b[i] = static_cast<uint8_t>(seed * 31 + i * 7);
        return b;
    }
    CNTFSFileNode* Node(IStorageDevice* device, uint32_t number) const {
        const Bytes record(bytes.begin() + kMftCluster * kCluster + number * 1024,
                           bytes.begin() + kMftCluster * kCluster + (number + 1) * 1024);
        CNTFSMultiFileRecord multi(record.data(), record.size(), RecordSector(number), 0, device,
                                   nullptr);
        int64_t parent = -1;
        auto* props = CNTFSFilePropertiesBuilder::BuildFileProperties(RecordSector(number), multi,
                                                                      kCluster, &parent);
        if (!props)
            return nullptr;
        auto* node = new CNTFSFileNode();
        node->SetFileProperties(props);
        return node;
    }
};

TEST(NTFSReaders, ResidentDataStream) {
    ReaderVolume v;
    auto device = v.Device();
    std::unique_ptr<CNTFSFileNode, void (*)(CNTFSFileNode*)> small(
        v.Node(device.get(), 64), [](CNTFSFileNode* n) { n->Release(); });
    ASSERT_TRUE(small);
    Bytes buffer(1024);
    long long length = 0;
    EXPECT_EQ(GetResidentDataRunsStream(*small, *device, &length, buffer.data(), 512), 0);
    ASSERT_EQ(GetResidentDataRunsStream(*small, *device, &length, buffer.data(), 1024), 1);
    EXPECT_EQ(length, 700);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 700), ReaderVolume::Pattern(700, 1));
    ASSERT_EQ(GetResidentDataRunsStream(v.RecordSector(64), *device, &length, buffer.data(), 1024),
              1);
    EXPECT_EQ(length, 700);

    std::unique_ptr<CNTFSFileNode, void (*)(CNTFSFileNode*)> dir(
        v.Node(device.get(), 68), [](CNTFSFileNode* n) { n->Release(); });
    EXPECT_EQ(GetResidentDataRunsStream(*dir, *device, &length, buffer.data(), 1024), 0);
}

TEST(NTFSReaders, FileReaderEx) {
    ReaderVolume v;
    auto device = v.Device();
    auto read = [&](uint32_t record, long long offset, int count, Bytes* out) {
        std::unique_ptr<CNTFSFileNode, void (*)(CNTFSFileNode*)> node(
            v.Node(device.get(), record), [](CNTFSFileNode* n) { n->Release(); });
        CFileReaderEx reader;
        if (!reader.Open(device.get(), node.get(), 0, 8))
            return -1;
        out->assign(static_cast<size_t>(count), 0);
        int got = 0;
        if (!reader.Read(offset, out->data(), count, got))
            return -2;
        out->resize(static_cast<size_t>(got));
        return got;
    };
    const Bytes p2 = ReaderVolume::Pattern(4096, 2), p3 = ReaderVolume::Pattern(4096, 3),
                p4 = ReaderVolume::Pattern(4096, 4), resident = ReaderVolume::Pattern(700, 1);
    Bytes out;
    EXPECT_EQ(read(65, 4090, 100, &out), 6);
    EXPECT_EQ(out, Bytes(p2.begin() + 4090, p2.end()));
    // Across two runs: the tail of one cluster and the head of the next.
    ASSERT_EQ(read(66, 4000, 200, &out), 200);
    Bytes want(p3.begin() + 4000, p3.end());
    want.insert(want.end(), p4.begin(), p4.begin() + 104);
    EXPECT_EQ(out, want);
    // A sparse run reads as zeros, never as what lies before the volume.
    ASSERT_EQ(read(67, 4096, 4096, &out), 4096);
    EXPECT_EQ(out, Bytes(4096, 0));
    ASSERT_EQ(read(67, 8192, 4096, &out), 4096);
    EXPECT_EQ(out, ReaderVolume::Pattern(4096, 6));
    // Resident data through the same reader, twice.
    ASSERT_EQ(read(64, 100, 50, &out), 50);
    const Bytes first = out;
    ASSERT_EQ(read(64, 100, 50, &out), 50);
    EXPECT_EQ(out, first);
    EXPECT_EQ(first, Bytes(resident.begin() + 100, resident.begin() + 150));
    EXPECT_EQ(read(65, 4096, 10, &out), -2);  // at the end
    EXPECT_EQ(read(68, 0, 10, &out), -1);     // a folder has nothing to read

    // The factory entry gives the same bytes through IFileReader.
    std::unique_ptr<CNTFSFileNode, void (*)(CNTFSFileNode*)> node(
        v.Node(device.get(), 66), [](CNTFSFileNode* n) { n->Release(); });
    IFileReader* reader = CreateNTFSResidentDataReader(device.get(), node.get(), 0, 8);
    ASSERT_NE(reader, nullptr);
    char buf[200];
    int error = 0;
    EXPECT_EQ(reader->ReadData(4000, buf, 200, &error), 200u);
    EXPECT_EQ(Bytes(buf, buf + 200), want);
    IFileReader* copy = reader->Clone();
    reader->Release();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetDataSize(), 8192);
    copy->Release();
}

}  // namespace
