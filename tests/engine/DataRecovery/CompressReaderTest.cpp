// NTFS compressed files: unit layout, LZNT1 decoding, and recovery from a
// real ntfs-3g image checked against Sleuth Kit.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include <filesystem>

#include "DataRecovery.h"
#include "NTFSLib/CompressFileReader.h"
#include "RecoveryTestSupport.h"
#include "StorageDevices.h"
#include "support/MemoryStorageDevice.h"
#include "support/PlannedSearcherRows.h"
#include "support/TestSupport.h"

using namespace rectest;
using velmora::test::ReadFile;
using velmora::test::TempDir;

namespace {

// The planned rows with NTFS's compressed reader, as the engine wires it:
// recovery opens a compressed node's reader through its file system's row.
std::vector<SearcherRow> RowsWithNtfsReader() {
    std::vector<SearcherRow> rows = velmora::test::PlannedRows();
    for (SearcherRow& row : rows)
        if (row.type == SEARCHER_NTFS)
            row.openCompressedReader = &OpenNTFSCompressFileReader;
    return rows;
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// An LZNT1 chunk from its body: header (compressed flag, length) + body.
std::vector<uint8_t> Chunk(const std::vector<uint8_t>& body, bool compressed) {
    const uint16_t header =
        static_cast<uint16_t>((compressed ? 0x8000 : 0) | 0x3000 | ((body.size() - 1) & 0x0FFF));
    std::vector<uint8_t> out{static_cast<uint8_t>(header), static_cast<uint8_t>(header >> 8)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

int Decode(const std::vector<uint8_t>& chunk, std::vector<uint8_t>& out) {
    out.assign(4096, 0xEE);
    const int n = DecompressBlock(chunk.data(), chunk.size(), out.data(), out.size());
    if (n >= 0)
        out.resize(static_cast<size_t>(n));
    return n;
}

// `literals` literal bytes 'a', 'b', ... then one back-reference `value`.
std::vector<uint8_t> LiteralsThenReference(int literals, uint16_t value) {
    std::vector<uint8_t> body;
    int emitted = 0;
    while (true) {
        const int group = std::min(8, literals - emitted);
        if (group == 8) {
            body.push_back(0x00);
        } else {
            body.push_back(static_cast<uint8_t>(1u << group));
        }
        for (int i = 0; i < group; ++i)
            body.push_back(static_cast<uint8_t>('a' + emitted++));
        if (group < 8) {
            body.push_back(static_cast<uint8_t>(value));
            body.push_back(static_cast<uint8_t>(value >> 8));
            return body;
        }
    }
}

}  // namespace

TEST(CompressReader, RegroupsRunsIntoUnits) {
    struct Case {
        const char* name;
        std::vector<DataRun> runs;
        std::vector<tagCompressDataRun> pieces;
    };
    const Case cases[] = {
        {"plain unit", {{100, 16}}, {{100, 16, NONECOMPRESSED_UNIT}}},
        {"compressed unit",
         {{200, 10}, {-1, 6}},
         {{200, 10, COMPRESSED_UNIT}, {-1, 6, COMPRESSED_UNIT}}},
        {"sparse unit", {{-1, 16}}, {{-1, 16, SPARSE_UNIT}}},
        {"plain unit and a plain tail",
         {{300, 20}},
         {{300, 16, NONECOMPRESSED_UNIT}, {304 + 12, 4, NONECOMPRESSED_UNIT}}},
        {"unit across runs",
         {{50, 3}, {70, 2}, {-1, 11}, {-1, 32}},
         {{50, 3, COMPRESSED_UNIT},
          {70, 2, COMPRESSED_UNIT},
          {-1, 11, COMPRESSED_UNIT},
          {-1, 16, SPARSE_UNIT},
          {-1, 16, SPARSE_UNIT}}},
        {"compressed tail", {{400, 5}}, {{400, 5, NONECOMPRESSED_UNIT}}},
        {"lost clusters stay lost",
         {{kLostRunStart, 16}, {kLostRunStart, 3}, {-1, 13}},
         {{kLostRunStart, 16, SPARSE_UNIT},
          {kLostRunStart, 3, COMPRESSED_UNIT},
          {-1, 13, COMPRESSED_UNIT}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<tagCompressDataRun> pieces;
        ASSERT_TRUE(ReGroupCompressDataRunList(c.runs, pieces));
        ASSERT_EQ(pieces.size(), c.pieces.size());
        for (size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i].s64LCN, c.pieces[i].s64LCN) << i;
            EXPECT_EQ(pieces[i].count, c.pieces[i].count) << i;
            EXPECT_EQ(pieces[i].eType, c.pieces[i].eType) << i;
        }
    }
    // A damaged run length cannot make the list huge: it stops at the
    // file's clusters.
    std::vector<tagCompressDataRun> pieces;
    ASSERT_TRUE(ReGroupCompressDataRunList({{-1, 1LL << 50}}, pieces, 64));
    EXPECT_EQ(pieces.size(), 4u);
}

TEST(CompressReader, Lznt1Chunks) {
    std::vector<uint8_t> out;
    // Stored chunks are copied unchanged.
    const auto text = Bytes("stored chunk");
    ASSERT_EQ(Decode(Chunk(text, false), out), static_cast<int>(text.size()));
    EXPECT_EQ(out, text);
    std::vector<uint8_t> full(4096);
    for (size_t i = 0; i < full.size(); ++i)
        full[i] = static_cast<uint8_t>(i * 31);
    ASSERT_EQ(Decode(Chunk(full, false), out), 4096);
    EXPECT_EQ(out, full);

    // The same reference word 0x0805 at output position 16 splits 4/12
    // (distance 1, length 2056) and at position 17 splits 5/11 (distance
    // 2, length 8).
    ASSERT_EQ(Decode(Chunk(LiteralsThenReference(16, 0x0805), true), out), 16 + 2056);
    for (int i = 16; i < 16 + 2056; ++i)
        ASSERT_EQ(out[static_cast<size_t>(i)], 'a' + 15) << i;
    ASSERT_EQ(Decode(Chunk(LiteralsThenReference(17, 0x0805), true), out), 17 + 8);
    for (int i = 17; i < 25; ++i)
        EXPECT_EQ(out[static_cast<size_t>(i)], out[static_cast<size_t>(i - 2)]) << i;

    // Damage: a length past the data, a reference before the start, a
    // reference reaching back further than what was written, a cut
    // reference, output past the room.
    auto cut = Chunk(text, false);
    cut.pop_back();
    EXPECT_EQ(Decode(cut, out), -1);
    EXPECT_EQ(Decode(Chunk({0x01, 0x00, 0x00}, true), out), -1);
    EXPECT_EQ(Decode(Chunk(LiteralsThenReference(4, 0x5000), true), out), -1);
    EXPECT_EQ(Decode(Chunk({0x01, 0x00}, true), out), -1);
    uint8_t small[8];
    const auto chunk = Chunk(LiteralsThenReference(16, 0x0805), true);
    EXPECT_EQ(DecompressBlock(chunk.data(), chunk.size(), small, sizeof small), -1);
}

TEST(CompressReader, UnitsKeepTheirSizeWhenChunksEndEarly) {
    constexpr size_t kUnit = 65536;
    std::vector<uint8_t> out(kUnit);
    // A short stored chunk, then one more: each stands for 4 KiB.
    auto data = Chunk(Bytes("first"), false);
    const auto second = Chunk(Bytes("second"), false);
    data.insert(data.end(), second.begin(), second.end());
    ASSERT_TRUE(DecompressUnit(data.data(), data.size(), out.data(), kUnit));
    EXPECT_EQ(0, std::memcmp(out.data(), "first", 5));
    EXPECT_EQ(0, std::memcmp(out.data() + 4096, "second", 6));
    for (size_t i = 5; i < 4096; ++i)
        ASSERT_EQ(out[i], 0) << i;

    // A zero header ends the unit; what follows it is not decoded and the
    // rest of the unit reads as zeros.
    data = Chunk(Bytes("only"), false);
    data.insert(data.end(), {0x00, 0x00, 0x41, 0x42, 0x43});
    std::fill(out.begin(), out.end(), 0xEE);
    ASSERT_TRUE(DecompressUnit(data.data(), data.size(), out.data(), kUnit));
    for (size_t i = 4; i < kUnit; ++i)
        ASSERT_EQ(out[i], 0) << i;

    // A unit whose first header is 0 is stored as read.
    data.assign(100, 0);
    data[50] = 7;
    ASSERT_TRUE(DecompressUnit(data.data(), data.size(), out.data(), kUnit));
    EXPECT_EQ(out[50], 7);

    // A chunk whose length runs past the unit's data.
    data = {0xFF, 0xBF, 0x00, 0x41};
    EXPECT_FALSE(DecompressUnit(data.data(), data.size(), out.data(), kUnit));
}

// A unit whose data ends early still stands for its full 64 KiB: the next
// unit's bytes stay where they belong.
TEST(CompressReader, NextUnitStaysInPlaceAfterAShortOne) {
    std::vector<uint8_t> bytes(3 * 4096, 0);
    auto first = Chunk(Bytes("AAAA"), false);
    auto second = Chunk(Bytes("BBBB"), false);
    std::copy(first.begin(), first.end(), bytes.begin() + 4096);
    std::copy(second.begin(), second.end(), bytes.begin() + 2 * 4096);
    velmora::test::MemoryStorageDevice disk(bytes, 512);
    RecNode node("two-units", 65536 + 4, {{1, 1}, {-1, 15}, {2, 1}, {-1, 15}});
    node.MakeCompressed();
    CSearchedPartitionInfo partition = Partition(8, disk.GetTotalSectors(), FS_NTFS);
    CCompressFileReader reader;
    ASSERT_EQ(reader.Open(&disk, &node, &partition), 1);
    std::vector<char> out(65536 + 4);
    ASSERT_EQ(reader.ReadData(0, out.data(), static_cast<unsigned>(out.size())), out.size());
    EXPECT_EQ(std::string(out.data(), 4), "AAAA");
    for (size_t i = 4; i < 65536; ++i)
        ASSERT_EQ(out[i], 0) << i;
    EXPECT_EQ(std::string(out.data() + 65536, 4), "BBBB");
}

// Damaged units: lost clusters and unreadable sectors cost only their own
// bytes; the units after them keep their place.
TEST(CompressReader, LostUnitsAreZerosAndReported) {
    constexpr long long kUnit = 65536;
    std::vector<uint8_t> bytes(40 * 4096);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(1 + (i * 7 + i / 4096) % 250);
    // The third sector of cluster 20 (in the third unit) cannot be read.
    constexpr long long kBad = 20 * 8 + 2;
    struct Spotty : velmora::test::MemoryStorageDevice {
        using MemoryStorageDevice::MemoryStorageDevice;
        int ReadSector(void* buffer, long long first, long long count) override {
            if (first <= kBad && kBad < first + count)
                return 0;
            return MemoryStorageDevice::ReadSector(buffer, first, count);
        }
    } disk(bytes, 512);
    // Plain unit, a unit of lost clusters, a plain unit with one bad sector.
    RecNode node("lost-unit", 3 * kUnit - 100, {{1, 16}, {kLostRunStart, 16}, {17, 16}});
    node.MakeCompressed();
    CSearchedPartitionInfo partition = Partition(8, disk.GetTotalSectors(), FS_NTFS);
    CCompressFileReader reader;
    ASSERT_EQ(reader.Open(&disk, &node, &partition), 1);
    std::vector<uint8_t> want(static_cast<size_t>(3 * kUnit - 100), 0);
    std::copy(bytes.begin() + 4096, bytes.begin() + 4096 + kUnit, want.begin());
    std::copy(bytes.begin() + 17 * 4096, bytes.begin() + 17 * 4096 + kUnit - 100,
              want.begin() + 2 * kUnit);
    const long long badInFile = 2 * kUnit + 3 * 4096 + 2 * 512;
    std::fill(want.begin() + badInFile, want.begin() + badInFile + 512, 0);

    std::vector<char> out(want.size());
    int error = 0;
    ASSERT_EQ(reader.ReadData(0, out.data(), static_cast<unsigned>(out.size()), &error),
              out.size());
    EXPECT_EQ(error, kReadDataLost);
    EXPECT_EQ(0, std::memcmp(out.data(), want.data(), want.size()));
    const std::vector<LostRange> lost{{kUnit, kUnit}, {badInFile, 512}};
    EXPECT_EQ(reader.GetLostRanges()->Ranges(), lost);

    TempDir dir;
    velmora::test::ScopedSearcherRows rows(RowsWithNtfsReader());
    CDataRecovery rec;
    ASSERT_EQ(rec.Initialize(std::vector<CSearchedPartitionInfo*>{&partition}, &disk), VK_OK);
    ASSERT_TRUE(Select(rec, &node));
    const VKRESULT r = rec.RecoverTo((dir / "out").c_str(), nullptr, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryIncomplete)) << Hex(r);
    EXPECT_EQ(ReadFile(dir / "out"), want);
    EXPECT_EQ(rec.GetLostRanges().Ranges(), lost);
}

// A compressed file's bytes past its initialized size are zeros as well,
// read at an offset and decoded whole into memory; a lost unit wholly past
// it is not reported, since nothing of the file was there.
TEST(CompressReader, BytesPastTheValidLengthAreZeros) {
    constexpr long long kUnit = 65536;
    std::vector<uint8_t> bytes(40 * 4096);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(1 + (i * 7 + i / 4096) % 250);
    velmora::test::MemoryStorageDevice disk(bytes, 512);
    RecNode node("init", 3 * kUnit, {{1, 16}, {17, 16}, {kLostRunStart, 16}});
    node.MakeCompressed();
    node.validLength = kUnit + 1000;
    CSearchedPartitionInfo partition = Partition(8, disk.GetTotalSectors(), FS_NTFS);
    CCompressFileReader reader;
    ASSERT_EQ(reader.Open(&disk, &node, &partition), 1);
    std::vector<uint8_t> want(static_cast<size_t>(3 * kUnit), 0);
    std::copy(bytes.begin() + 4096, bytes.begin() + 4096 + node.validLength, want.begin());

    std::vector<char> out(want.size());
    int error = 0;
    ASSERT_EQ(reader.ReadData(0, out.data(), static_cast<unsigned>(out.size()), &error),
              out.size());
    EXPECT_EQ(error, 0);
    EXPECT_EQ(0, std::memcmp(out.data(), want.data(), want.size()));
    EXPECT_TRUE(reader.GetLostRanges()->Empty());
    ASSERT_EQ(reader.ReadData(kUnit + 900, out.data(), 200), 200u);
    EXPECT_EQ(0, std::memcmp(out.data(), want.data() + kUnit + 900, 200));
    std::fill(out.begin(), out.end(), '\x5A');
    ASSERT_TRUE(reader.Recovery(out.data(), static_cast<int>(out.size()), nullptr));
    EXPECT_EQ(0, std::memcmp(out.data(), want.data(), want.size()));
}

TEST(CompressReader, RefusesClustersAboveFourKiB) {
    velmora::test::MemoryStorageDevice disk(std::vector<uint8_t>(1 << 20), 512);
    RecNode node("big-clusters", 100000, {{4, 16}});
    node.MakeCompressed();
    CCompressFileReader reader;
    CSearchedPartitionInfo eightK = Partition(16, 2048, FS_NTFS);
    CSearchedPartitionInfo fourK = Partition(8, 2048, FS_NTFS);
    EXPECT_EQ(reader.Open(&disk, &node, &eightK), 0);
    EXPECT_EQ(reader.Open(&disk, &node, &fourK), 1);
}

namespace {

struct ManifestFile {
    std::string path;
    long long size = 0;
    std::string sha256;
    int inode = 0;
    bool compressed = false;
    std::vector<DataRun> runs;
};

struct NtfsFixture {
    std::string imageSha256;
    std::vector<ManifestFile> files;
    const ManifestFile& File(const std::string& path) const {
        for (const auto& f : files)
            if (f.path == path)
                return f;
        throw std::runtime_error("no " + path + " in the manifest");
    }
};

std::string FixtureDir() {
    return velmora::test::SourceDir() + "/tests/fixtures/ntfs_compressed/committed";
}

NtfsFixture ReadManifest() {
    NtfsFixture fixture;
    std::istringstream in(velmora::test::ReadText(FixtureDir() + "/manifest.txt"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "image_sha256") {
            words >> fixture.imageSha256;
        } else if (key == "file") {
            ManifestFile f;
            std::string k;
            words >> f.path >> k >> f.inode >> k >> f.size >> k >> f.sha256;
            fixture.files.push_back(f);
        } else if (key == "compressed" && !fixture.files.empty()) {
            int c = 0;
            words >> c;
            fixture.files.back().compressed = c != 0;
        } else if (key == "run" && !fixture.files.empty()) {
            DataRun r;
            words >> r.start >> r.length;
            fixture.files.back().runs.push_back(r);
        }
    }
    return fixture;
}

std::string Sha256(const std::string& path) {
    std::string out;
    if (!velmora::test::RunProgram({"sha256sum", path}, &out))
        return "sha256sum failed";
    return out.substr(0, out.find(' '));
}

bool HaveTool(const char* tool) {
    std::string out;
    return velmora::test::RunProgram({"sh", "-c", std::string("command -v ") + tool}, &out) &&
           !out.empty();
}

// The unpacked image in a private folder, opened as a disk.
class NtfsImage : public ::testing::Test {
protected:
    void SetUp() override {
        fixture_ = ReadManifest();
        ASSERT_EQ(fixture_.files.size(), 2u);
        image_ = dir_ / "ntfs-compressed.img";
        std::string bytes;
        if (!velmora::test::RunProgram({"gzip", "-dc", FixtureDir() + "/ntfs-compressed.img.gz"},
                                       &bytes))
            GTEST_SKIP() << "gzip is not installed";
        velmora::test::WriteFile(image_, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        ASSERT_EQ(Sha256(image_), fixture_.imageSha256);
        disk_.reset(CreateDiskDevice(image_.c_str()));
        ASSERT_TRUE(disk_ && disk_->Open(image_.data()));
        partition_ = Partition(8, disk_->GetTotalSectors(), FS_NTFS);
    }
    void TearDown() override {
        if (disk_)
            disk_->Close();
        // The scanned image is never written.
        if (!image_.empty() && !HasFatalFailure() && !IsSkipped()) {
            EXPECT_EQ(Sha256(image_), fixture_.imageSha256);
        }
    }
    std::unique_ptr<RecNode> Node(const ManifestFile& f) {
        auto node = std::make_unique<RecNode>(f.path.substr(f.path.rfind('/') + 1), f.size, f.runs);
        if (f.compressed)
            node->MakeCompressed();
        return node;
    }
    // Sleuth Kit's reading of the file, or empty when it is not installed.
    std::vector<uint8_t> Icat(const ManifestFile& f) {
        std::string out;
        if (!HaveTool("icat") ||
            !velmora::test::RunProgram({"icat", image_, std::to_string(f.inode)}, &out))
            return {};
        return std::vector<uint8_t>(out.begin(), out.end());
    }

    velmora::test::ScopedSearcherRows rows_{RowsWithNtfsReader()};
    TempDir dir_;
    std::string image_;
    NtfsFixture fixture_;
    std::unique_ptr<IStorageDevice> disk_;
    CSearchedPartitionInfo partition_;
};

}  // namespace

TEST_F(NtfsImage, RecoversCompressedAndFragmentedFilesByteIdentical) {
    CDataRecovery rec;
    ASSERT_EQ(rec.Initialize(std::vector<CSearchedPartitionInfo*>{&partition_}, disk_.get()),
              VK_OK);
    for (const char* path : {"c/f.txt", "p/frag.bin"}) {
        SCOPED_TRACE(path);
        const ManifestFile& f = fixture_.File(path);
        EXPECT_EQ(f.compressed, std::string(path) == "c/f.txt");
        auto node = Node(f);
        IFileReader* clone = rec.SetRecoverNode(node.get());
        ASSERT_NE(clone, nullptr);
        EXPECT_EQ(clone->IsCompressFile(), f.compressed ? 1 : 0);
        clone->Release();
        // Recovery makes new files only: each file gets a name of its own.
        const std::string out = dir_ / (std::string(f.compressed ? "c" : "p") + "_recovered.bin");
        RecordingProgress progress;
        ASSERT_EQ(rec.RecoverTo(out.c_str(), &progress, 0), VK_OK);
        EXPECT_EQ(Sha256(out), f.sha256);
        ASSERT_FALSE(progress.reports.empty());
        EXPECT_EQ(progress.reports.back().done, f.size);
        // Without icat the bytes are checked by the manifest alone, except
        // where tools are required.
        const auto icat = Icat(f);
        if (!icat.empty() || velmora::test::ToolsRequired()) {
            EXPECT_EQ(ReadFile(out), icat);
        }
    }
}

TEST_F(NtfsImage, ReadsAnyRangeOfTheCompressedFile) {
    const ManifestFile& f = fixture_.File("c/f.txt");
    VELMORA_REQUIRE_TOOL(HaveTool("icat"), "Sleuth Kit's icat");
    auto expected = Icat(f);
    ASSERT_FALSE(expected.empty());
    auto node = Node(f);
    CCompressFileReader reader;
    ASSERT_EQ(reader.Open(disk_.get(), node.get(), &partition_), 1);
    struct Case {
        long long offset;
        unsigned length;
    };
    // Inside a compressed unit, across a unit boundary into the sparse
    // unit, inside the incompressible units, and cut at the end.
    const Case cases[] = {{3, 100}, {65536 - 10, 70000}, {280001, 9999}, {f.size - 7, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        std::vector<char> buffer(c.length + 16, '\x5A');
        const unsigned got = reader.ReadData(c.offset, buffer.data(), c.length, nullptr);
        ASSERT_EQ(got, static_cast<unsigned>(std::min<long long>(c.length, f.size - c.offset)));
        EXPECT_EQ(0, std::memcmp(buffer.data(), expected.data() + c.offset, got));
        for (size_t i = got; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], '\x5A') << i;
    }
    std::vector<char> all(static_cast<size_t>(f.size));
    ASSERT_TRUE(reader.Recovery(all.data(), static_cast<int>(all.size()), nullptr));
    EXPECT_EQ(0, std::memcmp(all.data(), expected.data(), all.size()));
    EXPECT_EQ(reader.ReadData(f.size, all.data(), 1, nullptr), 0u);
}

TEST_F(NtfsImage, CompressedFaultsAreReported) {
    const ManifestFile& f = fixture_.File("c/f.txt");
    auto node = Node(f);
    CDataRecovery rec;
    ASSERT_EQ(rec.Initialize(std::vector<CSearchedPartitionInfo*>{&partition_}, disk_.get()),
              VK_OK);
    ASSERT_TRUE(Select(rec, node.get()));
    // Recovery makes new files only: an existing node such as /dev/full is
    // never written into.
    VKRESULT r = rec.RecoverTo("/dev/full", nullptr, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryOpenTarget)) << Hex(r);
    r = rec.RecoverTo((dir_ / "limited").c_str(), nullptr, 1000);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryOpenTarget)) << Hex(r);

    // What the undamaged image gives.
    const std::string clean = dir_ / "clean.txt";
    ASSERT_EQ(rec.RecoverTo(clean.c_str(), nullptr, 0), VK_OK);
    const std::vector<uint8_t> whole = ReadFile(clean);
    ASSERT_EQ(whole.size(), static_cast<size_t>(f.size));
    EXPECT_TRUE(rec.GetLostRanges().Empty());

    // The same file on a copy of the image whose first compression unit is
    // damaged: every byte 0xFF (a chunk made only of references, the first
    // with nothing before it). That unit comes back as zeros, reported lost;
    // every other unit is kept.
    auto copy = velmora::test::MemoryStorageDevice::FromFile(image_, 512);
    const long long firstUnit = f.runs.front().start * 4096;
    std::memset(copy->Bytes().data() + firstUnit, 0xFF, 3 * 4096);
    CDataRecovery damaged;
    ASSERT_EQ(damaged.Initialize(std::vector<CSearchedPartitionInfo*>{&partition_}, copy.get()),
              VK_OK);
    ASSERT_TRUE(Select(damaged, node.get()));
    const std::string out = dir_ / "damaged.txt";
    r = damaged.RecoverTo(out.c_str(), nullptr, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryIncomplete)) << Hex(r);
    std::vector<uint8_t> expected = whole;
    std::fill(expected.begin(), expected.begin() + 65536, 0);
    EXPECT_EQ(ReadFile(out), expected);
    EXPECT_EQ(damaged.GetLostRanges().Ranges(), (std::vector<LostRange>{{0, 65536}}));
    // Reading a range through the damaged unit says so and keeps the rest.
    {
        CCompressFileReader reader;
        ASSERT_EQ(reader.Open(copy.get(), node.get(), &partition_), 1);
        std::vector<char> buffer(1000);
        int error = 0;
        ASSERT_EQ(reader.ReadData(65536 - 500, buffer.data(), 1000, &error), 1000u);
        EXPECT_EQ(error, kReadDataLost);
        EXPECT_EQ(0, std::memcmp(buffer.data() + 500, whole.data() + 65536, 500));
        EXPECT_EQ(reader.GetLostRanges()->Ranges(), (std::vector<LostRange>{{0, 65536}}));
    }

    // Runs moved past the device's end: nothing can be read, the file keeps
    // its length and is lost whole.
    ManifestFile beyond = f;
    for (auto& run : beyond.runs)
        if (run.start >= 0)
            run.start += disk_->GetTotalSectors() / 8;
    auto far = Node(beyond);
    ASSERT_TRUE(Select(rec, far.get()));
    const std::string farOut = dir_ / "far.txt";
    r = rec.RecoverTo(farOut.c_str(), nullptr, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryIncomplete)) << Hex(r);
    EXPECT_EQ(ReadFile(farOut), std::vector<uint8_t>(static_cast<size_t>(f.size), 0));
    long long lostBytes = 0;
    for (const LostRange& range : rec.GetLostRanges().Ranges())
        lostBytes += range.length;
    // The sparse unit of the file is zeros by definition, not lost.
    EXPECT_GT(lostBytes, f.size - 65536);
    EXPECT_LT(lostBytes, f.size);

    // A stop inside the file leaves no cut file behind as if it were whole.
    ASSERT_TRUE(Select(rec, node.get()));
    RecordingProgress progress;
    progress.stopAfter = 2;
    const std::string stopped = dir_ / "stopped.txt";
    r = rec.RecoverTo(stopped.c_str(), &progress, 0);
    EXPECT_TRUE(ResultIs(r, kModuleDataRecovery, kErrRecoveryStopped)) << Hex(r);
    EXPECT_FALSE(std::filesystem::exists(stopped));
}
