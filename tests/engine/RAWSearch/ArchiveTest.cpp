// Archives and disk images: RAR block chains, tar headers, LHA members, disk
// images ended by their trailer, StuffIt, gzip; each on its streaming road
// and on its whole-file road.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Analysers/ArchiveAnalysers.h"
#include "Analysers/PackageAnalyser.h"
#include "Analysers/ZeroTailAnalysers.h"
#include "CarveDriver.h"

namespace {

using namespace rawtest;

std::vector<uint8_t> Bytes(std::initializer_list<int> values, size_t size = 64) {
    std::vector<uint8_t> v(size, 0);
    size_t i = 0;
    for (int x : values)
        v[i++] = static_cast<uint8_t>(x);
    return v;
}

// ---------------------------------------------------------------------------
// RAR

TEST(Rar, BlockLengthsByKind) {
    struct Case {
        const char* what;
        std::vector<uint8_t> block;
        bool valid;
        unsigned long long length;
    };
    auto block = [](uint8_t type, uint16_t flags, uint16_t head) {
        std::vector<uint8_t> b(64, 0);
        b[2] = type;
        Put16(b, 3, flags);
        Put16(b, 5, head);
        return b;
    };
    auto with = [](std::vector<uint8_t> b, size_t at, uint32_t v, int width = 4) {
        if (width == 4)
            Put32(b, at, v);
        else if (width == 2)
            Put16(b, at, static_cast<uint16_t>(v));
        else
            b[at] = static_cast<uint8_t>(v);
        return b;
    };
    std::vector<uint8_t> file = with(with(block(0x74, 0x8000, 40), 7, 1000), 11, 1000);
    std::vector<uint8_t> large = with(with(file, 3, 0x8100, 2), 32, 2);
    large = with(large, 36, 2);
    const std::vector<Case> cases = {
        {"archive header", block(0x73, 0, 13), true, 13},
        {"archive header too short", block(0x73, 0, 9), false, 0},
        {"file", file, true, 1040},
        {"file larger packed than unpacked", with(file, 11, 999), false, 0},
        {"file from host system 5", with(file, 15, 5, 1), false, 0},
        {"file of 8 GiB and more", large, true, 40 + 0x200000000ULL + 1000},
        {"old comment", with(block(0x75, 0, 13), 7, 300, 2), true, 313},
        {"old authenticity", block(0x76, 0, 20), true, 20},
        {"old sub-block", with(block(0x77, 0, 14), 7, 50), true, 64},
        {"old sub-block, byte 13 set", with(with(block(0x77, 0, 14), 7, 50), 13, 1, 1), false, 0},
        {"recovery record", with(block(0x78, 0, 20), 7, 4096), true, 4116},
        {"new sub-block", with(block(0x7A, 0x8000, 30), 7, 77), true, 107},
        {"end with a field", with(block(0x7B, 0x4000, 20), 7, 0), true, 20},
        {"plain end block", Bytes({0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00}), false, 0},
        {"kind 0x79", block(0x79, 0, 20), false, 0},
        {"kind 0x72", block(0x72, 0, 20), false, 0},
        {"head below 7 bytes", block(0x76, 0, 6), false, 0},
    };
    for (const Case& c : cases) {
        unsigned low = 0;
        unsigned high = 0;
        EXPECT_EQ(classRarSearch::GetBlockSize(c.block.data(), 64, &low, &high), c.valid) << c.what;
        if (c.valid) {
            EXPECT_EQ(classRarSearch::BitOperation(low, high), c.length) << c.what;
        }
    }
    unsigned low = 0;
    unsigned high = 0;
    EXPECT_FALSE(classRarSearch::GetBlockSize(file.data(), 6, &low, &high)) << "under 7 bytes held";
}

// Both roads end after the 7-byte end block, so they agree on the length.
TEST(Rar, BothRoadsEndAfterTheEndBlock) {
    const std::vector<uint8_t> rar = Sample("stored.rar");
    RawSpeed::RARAnalyser stream;
    for (int sectorSize : {512, 4096}) {
        const Streamed s = StreamFile(stream, rar, sectorSize, 8, 0x77);
        EXPECT_EQ(s.answer, 1);
        EXPECT_EQ(s.size, static_cast<long long>(rar.size())) << sectorSize;
        EXPECT_EQ(s.name, "3-" + std::to_string(3 + (rar.size() - 1) / sectorSize) + "_");
    }
    FileRARAnalyser whole;
    EXPECT_EQ(WholeFileSize(whole, rar, 0x77), static_cast<long long>(rar.size()));
}

TEST(Rar, BrokenChainsGoToTheWholeFileRoad) {
    std::vector<uint8_t> rar = Sample("stored.rar");
    // The second file header claims more packed than unpacked bytes.
    const size_t second = 7 + 13 + 32 + 9 + 5000;
    ASSERT_EQ(rar[second + 2], 0x74);
    Put32(rar, second + 11, 1);
    RawSpeed::RARAnalyser stream;
    const Streamed s = StreamFile(stream, rar, 512, 8, 0x77);
    EXPECT_EQ(s.answer, 1);
    EXPECT_EQ(s.size, 0);
    ASSERT_TRUE(s.handedOver);
    EXPECT_EQ(WholeFileSize(*s.owner, rar, 0x77), static_cast<long long>(second))
        << "sized to the last whole block";

    std::vector<uint8_t> damaged = Sample("stored.rar");
    damaged[7 + 2] = 0x99;  // the archive header
    FileRARAnalyser whole;
    EXPECT_EQ(WholeFileSize(whole, damaged), -1);
    EXPECT_EQ(StreamFile(stream, damaged).size, 0);
}

// ---------------------------------------------------------------------------
// tar

TEST(Tar, SizeFields) {
    struct Case {
        std::string field;
        unsigned long long value;
    };
    const std::vector<Case> cases = {
        {std::string("00000001750\0", 12), 1000},
        {std::string("     1750 \0\0", 12), 1000},
        {std::string("1750\0\0\0\0\0\0\0\0", 12), 1000},
        {std::string("77777777777\0", 12), 8589934591ULL},
        {std::string("\x80\0\0\0\0\0\0\0\0\x02\0\0", 12), 0x20000},
        {std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 12), ~0ULL},
        {std::string("abc\0\0\0\0\0\0\0\0\0", 12), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OctStringToint(c.field.data()), c.value) << c.field;
}

// A folder archive begins with the folder's header, a member without data;
// the walk goes on past it and past empty files to the end blocks and the
// record padding.
TEST(Tar, ArchivesOfFoldersAndEmptyFiles) {
    for (const char* name : {"folder.tar", "pax.tar"}) {
        const std::vector<uint8_t> tar = Sample(name);
        ASSERT_EQ(tar.size() % 10240, 0u);
        RawSpeed::TARAnalyser stream;
        for (int sectorSize : {512, 4096}) {
            const Streamed s = StreamFile(stream, tar, sectorSize, 8, 0, 20480);
            EXPECT_EQ(s.size, static_cast<long long>(tar.size())) << name << " " << sectorSize;
        }
        FileTARAnalyser whole;
        EXPECT_EQ(WholeFileSize(whole, tar), static_cast<long long>(tar.size())) << name;
    }
}

TEST(Tar, EndWithoutRecordPadding) {
    std::vector<uint8_t> tar = Sample("folder.tar");
    // Where the end blocks are: the first zero block on a header boundary.
    size_t end = 0;
    for (size_t at = 0; at < tar.size(); at += 512) {
        bool zero =
            std::all_of(tar.begin() + at, tar.begin() + at + 512, [](uint8_t b) { return !b; });
        if (zero) {
            end = at + 1024;
            break;
        }
        // Skip the member's data.
        if (std::memcmp(&tar[at + 257], "ustar", 5) == 0) {
            const unsigned long long size =
                OctStringToint(reinterpret_cast<const char*>(&tar[at + 124]));
            at += (size + 511) / 512 * 512;
        }
    }
    ASSERT_GT(end, 0u);
    ASSERT_LT(end, tar.size());
    tar.resize(end);  // written with a blocking factor of 1
    RawSpeed::TARAnalyser stream;
    FileTARAnalyser whole;
    EXPECT_EQ(StreamFile(stream, tar, 512, 8, 0xAB).size, static_cast<long long>(end))
        << "other data after the end blocks";
    EXPECT_EQ(WholeFileSize(whole, tar, 0xAB), static_cast<long long>(end));
    EXPECT_EQ(StreamFile(stream, tar, 512, 8, 0, 20480).size,
              static_cast<long long>((end + 10239) / 10240 * 10240))
        << "zeros after it are the record's padding";
    // Something that is neither a header nor zeros ends the walk there.
    std::vector<uint8_t> cut = Sample("folder.tar");
    cut.resize(1024);
    cut.resize(1536, 'x');
    EXPECT_EQ(StreamFile(stream, cut, 512, 8, 'x').size, 1024);
    EXPECT_EQ(WholeFileSize(whole, cut, 'x'), 1024);
}

TEST(Tar, LaterMembersAreNotArchivesOfTheirOwn) {
    for (int sectorSize : {512, 4096}) {
        Image image(sectorSize);
        image.Put(16, Sample("folder.tar"));
        const std::vector<Carved> carved = image.Scan(8);
        ASSERT_EQ(carved.size(), 1u) << sectorSize;
        EXPECT_EQ(carved[0].start, 16);
        EXPECT_EQ(carved[0].size, static_cast<long long>(Sample("folder.tar").size()));
    }
}

// ---------------------------------------------------------------------------
// LHA

TEST(Lha, MembersOfEveryHeaderLevel) {
    const std::vector<uint8_t> lzh = Sample("members.lzh");  // level 2, -lh5-
    Dunmere::LZHAnalyser stream;
    const Streamed s = StreamFile(stream, lzh, 512, 8, 0x61);
    EXPECT_EQ(s.size, static_cast<long long>(lzh.size())) << "up to and with the closing zero";

    // Level 0: the header counts from its third byte.
    std::vector<uint8_t> level0;
    for (const std::string& body : {std::string(700, 'a'), std::string(300, 'b')}) {
        std::vector<uint8_t> h(22, 0);
        PutBytes(h, 2, "-lh0-");
        Put32(h, 7, static_cast<uint32_t>(body.size()));
        Put32(h, 11, static_cast<uint32_t>(body.size()));
        h[20] = 0;
        h[21] = 0;  // a name of no bytes
        h.resize(24);
        h[0] = static_cast<uint8_t>(h.size() - 2);
        level0.insert(level0.end(), h.begin(), h.end());
        level0.insert(level0.end(), body.begin(), body.end());
    }
    const size_t members = level0.size();
    level0.push_back(0);
    EXPECT_EQ(StreamFile(stream, level0, 512, 8, 0x61).size, static_cast<long long>(members + 1));
    // A method the recognition does not start on still continues a walk.
    std::vector<uint8_t> lh6 = level0;
    lh6[24 + 700 + 5] = '6';
    EXPECT_EQ(StreamFile(stream, lh6, 512, 8, 0x61).size, static_cast<long long>(members + 1));
    // No closing byte: the archive ends after its last member.
    std::vector<uint8_t> open = level0;
    open.back() = 'Q';
    EXPECT_EQ(StreamFile(stream, open, 512, 8, 'Q').size, static_cast<long long>(members));
}

TEST(Lha, LaterMembersAtSectorStartsAreNotArchivesOfTheirOwn) {
    // Members of exactly 2 sectors each: every header starts a sector.
    std::vector<uint8_t> lzh;
    for (int i = 0; i < 6; ++i) {
        std::vector<uint8_t> h(24, 0);
        PutBytes(h, 2, "-lh0-");
        Put32(h, 7, 1024 - 24);
        Put32(h, 11, 1024 - 24);
        h[0] = 22;
        lzh.insert(lzh.end(), h.begin(), h.end());
        lzh.resize(lzh.size() + 1024 - 24, static_cast<uint8_t>('a' + i));
    }
    lzh.push_back(0);
    Image image;
    image.Put(10, lzh);
    const std::vector<Carved> carved = image.Scan(8);
    ASSERT_EQ(carved.size(), 1u);
    EXPECT_EQ(carved[0].size, static_cast<long long>(lzh.size()));
}

// ---------------------------------------------------------------------------
// Disk images that begin with bzip2

TEST(DiskImage, EndsWithItsTrailer) {
    const std::vector<uint8_t> dmg = Sample("image.dmg");
    Dunmere::DMGAnalyser stream;
    FileDMGAnalyser whole;
    // The trailer lies across two sectors, inside one, at the device's start
    // of a block: the end is where it ends.
    const std::vector<size_t> leads = {0, 100, 512 - dmg.size() % 512, 3000};
    for (size_t lead : leads) {
        std::vector<uint8_t> file(lead, 0x77);
        file.insert(file.end(), dmg.begin(), dmg.end());
        std::memcpy(file.data(), "BZh11AY&SY", 10);
        for (int sectorSize : {512, 4096}) {
            const Streamed s = StreamFile(stream, file, sectorSize, 8);
            EXPECT_EQ(s.size, static_cast<long long>(file.size())) << lead << " " << sectorSize;
        }
        EXPECT_EQ(WholeFileSize(whole, file), static_cast<long long>(file.size())) << lead;
    }
    // A trailer whose sector does not close with zeros is not seen.
    std::vector<uint8_t> covered = dmg;
    covered.resize((covered.size() + 511) / 512 * 512, 0x44);
    EXPECT_EQ(StreamFile(stream, covered, 512, 8, 0x44).size, 0);
    EXPECT_EQ(WholeFileSize(whole, covered, 0x44, 4096), -1);
    // "koly" alone is no trailer.
    std::vector<uint8_t> fake = dmg;
    fake[fake.size() - 512 + 7] = 5;  // version 5
    EXPECT_EQ(StreamFile(stream, fake, 512, 8, 0, 4096).size, 0);
}

// ---------------------------------------------------------------------------
// StuffIt

TEST(StuffIt, ClassicLengthAndStuffItXEndMarker) {
    const std::vector<uint8_t> sit = Sample("classic.sit");
    RawSpeed::SITAnalyser stream;
    FileSITAnalyser whole;
    Streamed s = StreamFile(stream, sit);
    EXPECT_EQ(s.size, static_cast<long long>(sit.size()));
    EXPECT_EQ(s.type, RAW_SIT);
    EXPECT_EQ(WholeFileSize(whole, sit), static_cast<long long>(sit.size()));
    std::vector<uint8_t> unknown = sit;
    Put32(unknown, 84, 0, false);
    EXPECT_EQ(StreamFile(stream, unknown).size, 2000000000) << "no length: the largest";
    Put32(unknown, 84, 0x80000010, false);
    EXPECT_EQ(StreamFile(stream, unknown).size, 2000000000);
    EXPECT_EQ(WholeFileSize(whole, unknown), 0x82000000LL);

    const std::vector<uint8_t> sitx = Sample("archive.sitx");
    s = StreamFile(stream, sitx);
    EXPECT_EQ(s.type, RAW_SITX);
    EXPECT_EQ(s.size, static_cast<long long>(sitx.size()));
    EXPECT_EQ(s.name, "3-" + std::to_string(3 + (sitx.size() - 1) / 512));
    CRawFileInfo info;
    EXPECT_EQ(WholeFileSize(whole, sitx, 0, 8192, 512, &info), static_cast<long long>(sitx.size()))
        << "8 bytes of marker and 4 after it";
    EXPECT_EQ(info.m_type, RAW_SITX);
}

// ---------------------------------------------------------------------------
// gzip

TEST(Gzip, StreamedToTheZeroFill) {
    RawSpeed::GZAnalyzer gz;
    for (const char* name : {"text.gz", "python_text.gz"}) {
        const std::vector<uint8_t> file = Sample(name);
        const Streamed s = StreamFile(gz, file);
        EXPECT_EQ(s.size, static_cast<long long>(file.size())) << name;
    }
    // A member below 64 KiB ends in two zero bytes: its deflate stream, not
    // the zero fill, tells the end; random bytes after it change nothing.
    const std::vector<uint8_t> small = Sample("small.gz");
    ASSERT_EQ(small[small.size() - 1], 0);
    ASSERT_EQ(small[small.size() - 2], 0);
    for (int sectorSize : {512, 4096})
        for (uint8_t filler : {0x00, 0x5A}) {
            const Streamed s = StreamFile(gz, small, sectorSize, 8, filler);
            EXPECT_EQ(s.size, static_cast<long long>(small.size()))
                << sectorSize << " " << int(filler);
            EXPECT_EQ(s.name, "3-" + std::to_string(3 + (small.size() - 1) / sectorSize) + "_");
        }
    // Members one after the other are one file; one cut off is not part of
    // it.
    const std::vector<uint8_t> members = Sample("members.gz");
    std::vector<uint8_t> cut = small;
    cut.insert(cut.end(), members.begin(), members.begin() + 300);
    for (int sectorSize : {512, 4096})
        for (uint8_t filler : {0x00, 0x5A}) {
            EXPECT_EQ(StreamFile(gz, members, sectorSize, 8, filler).size,
                      static_cast<long long>(members.size()))
                << sectorSize << " " << int(filler);
            EXPECT_EQ(StreamFile(gz, cut, sectorSize, 8, filler).size,
                      static_cast<long long>(small.size()))
                << sectorSize << " " << int(filler);
        }
    // A stream that does not inflate falls back to the zero fill.
    std::vector<uint8_t> broken = Sample("text.gz");
    broken[12] = 0xFF;
    broken[13] = 0xFF;
    EXPECT_EQ(StreamFile(gz, broken).size, static_cast<long long>(broken.size()));
    std::vector<uint8_t> head = Sample("text.gz");
    head[9] = 20;
    CRawFileInfo info;
    EXPECT_EQ(gz.AnalyseBuffer(head.data(), info), 0) << "unknown system";
    head[9] = 255;
    EXPECT_EQ(gz.AnalyseBuffer(head.data(), info), 1);
}

// ---------------------------------------------------------------------------
// Installer packages

TEST(Package, XarSizedToTheFurthestHeapExtent) {
    FilePKGAnalyser pkg;
    const std::vector<uint8_t> xar = Sample("package.xar");
    CRawFileInfo info;
    ASSERT_EQ(pkg.AnalyseBuffer(const_cast<uint8_t*>(xar.data()), info), 1);
    EXPECT_EQ(info.m_type, RAW_PKG);
    // The sample's highest id is a folder: the files before it still count.
    for (int sectorSize : {512, 4096})
        EXPECT_EQ(WholeFileSize(pkg, xar, 0x5A, 8192, sectorSize),
                  static_cast<long long>(xar.size()))
            << sectorSize;
    // A table of contents that says it is over 3 MiB is not read.
    std::vector<uint8_t> huge = xar;
    Put32(huge, 12, 0x400000, false);
    EXPECT_EQ(WholeFileSize(pkg, huge), -1);
    std::vector<uint8_t> broken = xar;
    broken[40] ^= 0xFF;
    EXPECT_EQ(WholeFileSize(pkg, broken), -1) << "inflate fails";
}

TEST(Package, TableOfContentsExtents) {
    struct Case {
        const char* what;
        const char* toc;
        long long extent;
    };
    const std::vector<Case> cases = {
        {"checksum and one file",
         "<xar><toc><checksum><offset>0</offset><size>20</size></checksum><file id=\"1\"><data>"
         "<length>100</length><offset>20</offset></data></file></toc></xar>",
         120},
        {"a later id placed earlier",
         "<xar><toc><file id=\"1\"><data><length>50</length><offset>900</offset></data></file>"
         "<file id=\"2\"><data><length>10</length><offset>20</offset></data></file></toc></xar>",
         950},
        {"nested files, the last one a folder",
         "<xar><toc><file id=\"2\"><file "
         "id=\"1\"><name>a</name><data><offset>30</offset><length>5</length>"
         "<size>9</size></data></file></file><file "
         "id=\"3\"><type>directory</type></file></toc></xar>",
         35},
        {"a length that is no number",
         "<xar><toc><file id=\"1\"><data><length>-5</length><offset>20</offset>"
         "</data></file></toc></xar>",
         0},
        {"an extent past any package",
         "<xar><toc><file id=\"1\"><data><length>99999999999999</length>"
         "<offset>0</offset></data></file></toc></xar>",
         0},
        {"no file", "<xar><toc><checksum><offset>0</offset><size>20</size></checksum></toc></xar>",
         -1},
        {"not XML", "<xar><toc><file>", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FilePKGAnalyser::HeapExtent(c.toc), c.extent) << c.what;
}

TEST(Package, FlatFormByItsLengthField) {
    FilePKGAnalyser pkg;
    std::vector<uint8_t> flat = Sample("flat.pkg");
    EXPECT_EQ(WholeFileSize(pkg, flat), static_cast<long long>(flat.size()));
    long long size = 0;
    flat[7] = 3;  // version 3 is not the flat form, and it is no xar either
    EXPECT_EQ(FilePKGAnalyser::PkgSignFileSize(flat.data(), size), 0);
    EXPECT_EQ(WholeFileSize(pkg, flat), -1);
    flat[7] = 2;
    Put32(flat, 24, 3, false);  // 12 GiB and more
    EXPECT_EQ(FilePKGAnalyser::PkgSignFileSize(flat.data(), size), 0);
}

}  // namespace
