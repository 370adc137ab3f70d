// Analysers that size files from their headers, and the whole-file sizers
// that later streaming analysers hand their candidates to.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Analysers/HeaderSizedAnalysers.h"
#include "Analysers/WholeFileAnalysers.h"
#include "RawTestSupport.h"
#include "support/TestSupport.h"

namespace {

using rawtest::Put16;
using rawtest::Put32;
using rawtest::PutBytes;
using velmora::test::MemoryStorageDevice;

std::vector<uint8_t> Sample(const std::string& name) {
    return velmora::test::ReadFile(velmora::test::SourceDir() + "/tests/carve/samples/" + name);
}

std::vector<uint8_t> Head(const std::string& magic) {
    std::vector<uint8_t> s(512, 0);
    PutBytes(s, 0, magic);
    return s;
}

struct Case {
    const char* what;
    std::function<IRawFileAnalyser*()> make;
    std::vector<uint8_t> sector;
    int accepted;
    RAW_FILE_TYPE type;
    long long size;
};

template <typename T>
std::function<IRawFileAnalyser*()> New() {
    return [] { return new T(); };
}

std::vector<uint8_t> With(std::vector<uint8_t> s,
                          const std::function<void(std::vector<uint8_t>&)>& edit) {
    edit(s);
    return s;
}

std::vector<uint8_t> Icon(std::initializer_list<uint32_t> sizes, uint16_t type = 1) {
    std::vector<uint8_t> s(512, 0);
    Put16(s, 2, type);
    Put16(s, 4, static_cast<uint16_t>(sizes.size()));
    size_t e = 6;
    for (uint32_t size : sizes) {
        s[e] = 32;
        s[e + 1] = 32;
        Put16(s, e + 6, 32);
        Put32(s, e + 8, size);
        Put32(s, e + 12, 100);
        e += 16;
    }
    return s;
}

TEST(HeaderSized, RecognitionAndSizeFromTheFirstSector) {
    auto be32 = [](std::vector<uint8_t>& s, size_t at, uint32_t v) { Put32(s, at, v, false); };
    const std::vector<uint8_t> icns = With(Head("icns"), [&](auto& s) { be32(s, 4, 1000); });
    const std::vector<uint8_t> au = With(Head(".snd"), [&](auto& s) {
        be32(s, 4, 24);
        be32(s, 8, 1000);
    });
    const std::vector<uint8_t> bmp = With(Head("BM"), [](auto& s) {
        Put32(s, 2, 5000);
        Put32(s, 14, 40);
    });
    const std::vector<uint8_t> cab = With(Head("MSCF"), [](auto& s) {
        Put32(s, 8, 4321);
        Put16(s, 24, 0x0103);
    });
    std::vector<uint8_t> chm = Sample("help.chm");
    chm.resize(512);
    std::vector<uint8_t> emf = Sample("drawing.emf");
    emf.resize(512);
    const std::vector<uint8_t> hlp = With(Head("\x3F\x5F\x03"), [](auto& s) {
        Put32(s, 4, 512);
        Put32(s, 12, 4096);
    });
    const std::vector<uint8_t> gz = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
    const std::vector<Case> cases = {
        {"icns", New<FileICNSAnalyser>(), icns, 1, RAW_ICNS, 1000},
        {"icns, length 0", New<FileICNSAnalyser>(), With(icns, [&](auto& s) { be32(s, 4, 0); }), 0,
         0, 0},
        {"icns, longest", New<FileICNSAnalyser>(),
         With(icns, [&](auto& s) { be32(s, 4, 10905190); }), 1, RAW_ICNS, 10905190},
        {"icns, too long", New<FileICNSAnalyser>(),
         With(icns, [&](auto& s) { be32(s, 4, 10905191); }), 0, 0, 0},
        {"au", New<FileAUAnalyser>(), au, 1, RAW_AU, 1024},
        {"au, header too short", New<FileAUAnalyser>(), With(au, [&](auto& s) { be32(s, 4, 23); }),
         0, RAW_AU, 0},
        {"au, size unknown", New<FileAUAnalyser>(),
         With(au, [&](auto& s) { be32(s, 8, 0xFFFFFFFF); }), 0, RAW_AU, 0},
        {"bmp", New<FileBMPAnalyser>(), bmp, 1, RAW_BMP, 5000},
        {"bmp v5", New<FileBMPAnalyser>(), With(bmp, [](auto& s) { Put32(s, 14, 124); }), 1,
         RAW_BMP, 5000},
        {"bmp v4", New<FileBMPAnalyser>(), With(bmp, [](auto& s) { Put32(s, 14, 108); }), 0,
         RAW_BMP, 0},
        {"bmp, reserved used", New<FileBMPAnalyser>(), With(bmp, [](auto& s) { Put16(s, 6, 1); }),
         0, 0, 0},
        {"cab", New<FileCABAnalyser>(), cab, 1, RAW_CAB, 4321},
        {"cab, size 0", New<FileCABAnalyser>(), With(cab, [](auto& s) { Put32(s, 8, 0); }), 0,
         RAW_CAB, 0},
        {"cab, version", New<FileCABAnalyser>(), With(cab, [](auto& s) { Put16(s, 24, 0x0102); }),
         0, RAW_CAB, 0},
        {"chm", New<FileCHMAnalyser>(), chm, 1, RAW_CHM, 3000},
        {"chm, other GUID", New<FileCHMAnalyser>(), With(chm, [](auto& s) { s[30] ^= 1; }), 0, 0,
         0},
        {"emf", New<FileEMFAnalyser>(), emf, 1, RAW_EMF, 928},
        {"emf, reserved", New<FileEMFAnalyser>(), With(emf, [](auto& s) { Put16(s, 58, 1); }), 0, 0,
         0},
        {"cpt", New<FileCPTAnalyser>(), Sample("paint.cpt"), 1, RAW_CPT, 0},
        {"hlp", New<FileHLPAnalyser>(), hlp, 1, RAW_HLP, 4096},
        {"hlp, 511 bytes", New<FileHLPAnalyser>(), With(hlp, [](auto& s) { Put32(s, 12, 511); }), 0,
         0, 0},
        {"hlp, directory past the end", New<FileHLPAnalyser>(),
         With(hlp, [](auto& s) { Put32(s, 4, 8192); }), 0, 0, 0},
        {"ico, two images", New<FileICOAnalyser>(), Icon({1000, 2000}), 1, RAW_ICO, 3038},
        {"cur", New<FileICOAnalyser>(), Icon({744}, 2), 1, RAW_CUR, 766},
        {"ico, 17 images", New<FileICOAnalyser>(),
         Icon({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}), 0, 0, 0},
        {"ico, second entry reserved", New<FileICOAnalyser>(),
         With(Icon({10, 20}), [](auto& s) { s[22 + 3] = 1; }), 0, 0, 0},
        {"ico, 257 bits", New<FileICOAnalyser>(),
         With(Icon({10}), [](auto& s) { Put16(s, 12, 257); }), 0, 0, 0},
        {"ico, more than 1 MiB", New<FileICOAnalyser>(), Icon({0x90000, 0x90000}), 0, 0, 0},
        {"ico, no image", New<FileICOAnalyser>(), Icon({}), 0, 0, 0},
        {"early Word", New<FileLowDocAnalyser>(), Sample("word2.doc"), 1, RAW_DOC, 2048},
        {"money", New<FileMNYAnalyser>(), Sample("money.mny"), 1, RAW_MNY, 0},
        {"money, other engine", New<FileMNYAnalyser>(), Sample("database.mdb"), 0, 0, 0},
        {"midi", New<FileMIDAnalyser>(), Sample("song.mid"), 1, RAW_MID, 0},
        {"midi, format 3", New<FileMIDAnalyser>(),
         With(Sample("song.mid"), [](auto& s) { s[9] = 3; }), 0, 0, 0},
        {"midi, no tracks", New<FileMIDAnalyser>(),
         With(Sample("song.mid"), [](auto& s) { s[11] = 0; }), 0, 0, 0},
        {"jet", New<FileMDBAnalyser>(), Sample("database.mdb"), 1, RAW_MDB, 0},
        {"ace", New<FileMDBAnalyser>(),
         With(Sample("database.mdb"), [](auto& s) { PutBytes(s, 13, "ACE"); }), 1, RAW_ACCDB, 0},
        {"lzh", New<FileLZHAnalyser>(), Sample("archive.lzh"), 1, RAW_LZH, 0},
        {"lzh, lh6", New<FileLZHAnalyser>(),
         With(Sample("archive.lzh"), [](auto& s) { s[5] = '6'; }), 0, 0, 0},
        {"html", New<FileHTMAnalyser>(), Head("<html><body>"), 1, RAW_HTM, 0},
        {"doctype", New<FileHTMAnalyser>(), Head("<!doctype HTML>"), 1, RAW_HTM, 0},
        {"not html", New<FileHTMAnalyser>(), Head("<head>"), 0, 0, 0},
        {"gzip", New<FileGZAnalyser>(), gz, 1, RAW_GZ, 0},
        {"gzip from an unknown system", New<FileGZAnalyser>(),
         With(gz, [](auto& s) { s[9] = 255; }), 1, RAW_GZ, 0},
        {"gzip, other method", New<FileGZAnalyser>(), With(gz, [](auto& s) { s[2] = 7; }), 0, 0, 0},
        {"gzip, reserved flag", New<FileGZAnalyser>(), With(gz, [](auto& s) { s[3] = 32; }), 0, 0,
         0},
        {"gzip, system 20", New<FileGZAnalyser>(), With(gz, [](auto& s) { s[9] = 20; }), 0, 0, 0},
        {"ciff", New<FileCRWAnalyser>(), Head(std::string("II\x1a\x00\x00\x00HEAPCCDR\x02", 15)), 1,
         RAW_CRW, 0},
        {"ciff, other kind", New<FileCRWAnalyser>(),
         Head(std::string("II\x1a\x00\x00\x00HEAPXXXX\x02", 15)), 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> sector = c.sector;
        sector.resize(std::max<size_t>(sector.size(), 512));
        std::unique_ptr<IRawFileAnalyser> analyser(c.make());
        CRawFileInfo info;
        EXPECT_EQ(analyser->AnalyseBuffer(sector.data(), info), c.accepted) << c.what;
        EXPECT_EQ(info.m_type, c.type) << c.what;
        EXPECT_EQ(info.m_size, c.size) << c.what;
    }
}

// The file lies at sector 3 of a device, then `after` bytes of filler.
long long WholeSize(IRawFileAnalyser& analyser, std::vector<uint8_t> file, uint8_t filler = 0,
                    size_t after = 4096, CRawFileInfo* out = nullptr) {
    std::vector<uint8_t> disk(3 * 512 + file.size() + after, filler);
    std::fill(disk.begin(), disk.begin() + 3 * 512, 0x33);
    std::copy(file.begin(), file.end(), disk.begin() + 3 * 512);
    MemoryStorageDevice device(disk, 512);
    CRawFileInfo info;
    info.m_startSector = 3;
    const int answer = analyser.GetRawFileSize(info, &device);
    if (out != nullptr)
        *out = info;
    return answer != 0 ? info.m_size : -1;
}

TEST(WholeFileSizers, PhotoPaintTable) {
    FileCPTAnalyser cpt;
    EXPECT_EQ(WholeSize(cpt, Sample("paint.cpt")), 3500) << "from the two values before F";
    std::vector<uint8_t> f = Sample("paint.cpt");
    Put32(f, 640 + 60, 0);  // F = 0: the file ends at the record
    EXPECT_EQ(WholeSize(cpt, f), 640);
    f = Sample("paint.cpt");
    Put32(f, 640 + 32, 40);  // flag = V: D moves on by V
    Put32(f, 640 + 60, 40);
    Put32(f, 640 + 100, 1000);
    Put32(f, 640 + 104, 1);
    Put32(f, 992, 700);
    Put32(f, 996, 11);
    EXPECT_EQ(WholeSize(cpt, f), 711);
    f = Sample("paint.cpt");
    Put32(f, 52, 0x7FFFFFF0);  // a table far past the device
    EXPECT_EQ(WholeSize(cpt, f), -1);
}

TEST(WholeFileSizers, CiffEndMarks) {
    FileCRWAnalyser crw;
    auto file = [](size_t at, uint8_t third) {
        std::vector<uint8_t> f(3 * 512, 0x44);
        std::fill(f.end() - 600, f.end(), 0);
        f[at] = 0x07;
        f[at + 1] = 0x28;
        f[at + 2] = third;
        f[at + 3] = f[at + 4] = f[at + 5] = 0;
        return f;
    };
    EXPECT_EQ(WholeSize(crw, file(1100, 0xA8)), 1170);
    EXPECT_EQ(WholeSize(crw, file(1100, 0xB2)), 1160);
    EXPECT_EQ(WholeSize(crw, file(1100, 0xE4)), 1150);
    // A mark whose zeros run into the next sector is found across the boundary.
    std::vector<uint8_t> across(3 * 512, 0x44);
    std::fill(across.begin() + 1024, across.end(), 0);
    across[1020] = 0x07;
    across[1021] = 0x28;
    across[1022] = 0xA8;
    across[1023] = 0;
    EXPECT_EQ(WholeSize(crw, across), 1090);
    EXPECT_EQ(WholeSize(crw, std::vector<uint8_t>(2048, 0x44), 0x44), 0x3200000) << "no mark";
}

TEST(WholeFileSizers, WalksOfMidiJetLhaHtmlAndGzip) {
    FileMIDAnalyser mid;
    EXPECT_EQ(WholeSize(mid, Sample("song.mid")), 512) << "raised to the sector";
    std::vector<uint8_t> lower = Sample("song.mid");
    PutBytes(lower, 14 + 8 + 11, "mtrk");
    EXPECT_EQ(WholeSize(mid, lower), 512) << "a lower-case track id counts";
    std::vector<uint8_t> huge = Sample("song.mid");
    Put32(huge, 18, 0xFFFFFFF0, false);
    EXPECT_GT(WholeSize(mid, huge), 0xD000000) << "ends after the step past the limit";

    FileMDBAnalyser mdb;
    EXPECT_EQ(WholeSize(mdb, Sample("database.mdb")), 7 * 4096);
    std::vector<uint8_t> jet = Sample("database.mdb");
    jet[8192] = 0;
    EXPECT_EQ(WholeSize(mdb, jet), 8192);
    // Money files are sized by their pages too, small or past 1 MiB.
    FileMNYAnalyser mny;
    const std::vector<uint8_t> money = Sample("money.mny");
    EXPECT_EQ(WholeSize(mny, money), static_cast<long long>(money.size()));
    std::vector<uint8_t> large = money;
    for (int i = 0; i < 300; ++i)
        large.insert(large.end(), money.begin() + 4096, money.begin() + 8192);
    EXPECT_EQ(WholeSize(mny, large), static_cast<long long>(large.size()));

    FileLZHAnalyser lzh;
    const std::vector<uint8_t> lha = Sample("archive.lzh");
    EXPECT_EQ(WholeSize(lzh, lha), 1024)
        << "two members, less the 2-byte step back, in whole sectors";
    EXPECT_EQ(WholeSize(lzh, std::vector<uint8_t>(1024, 0x55)), -1) << "not a member header";

    FileHTMAnalyser htm;
    EXPECT_EQ(WholeSize(htm, Sample("page.html")), 7168);
    EXPECT_EQ(WholeSize(htm, std::vector<uint8_t>(4096, 'p'), 'p', 0x110000), 0x100000 + 512);

    // gzip: the members that inflate end the file exactly, whatever follows
    // it; two members are one file.
    FileGZAnalyser gz;
    const std::vector<uint8_t> members = Sample("members.gz");
    for (const char* name : {"plain.gz", "named.gz", "python.gz", "members.gz"}) {
        const std::vector<uint8_t> file = Sample(name);
        for (uint8_t filler : {0x00, 0xAA})
            EXPECT_EQ(WholeSize(gz, file, filler, 8192), static_cast<long long>(file.size()))
                << name << " " << int(filler);
    }
    CRawFileInfo named;
    WholeSize(gz, Sample("named.gz"), 0, 4096, &named);
    EXPECT_EQ(named.GetRawFileName(), "notes.txt");
    // A second member that is cut off is not part of the file.
    const std::vector<uint8_t> first = Sample("plain.gz");
    std::vector<uint8_t> cut = first;
    cut.insert(cut.end(), members.begin(), members.begin() + 300);
    EXPECT_EQ(WholeSize(gz, cut, 0xAA, 8192), static_cast<long long>(first.size()));
    // A stream that does not inflate: through the first sector that ends in
    // zeros, or, when none does, to the device's end, 17 whole sectors after
    // the file's start.
    std::vector<uint8_t> broken = first;
    broken[12] = 0xFF;
    broken[13] = 0xFF;
    EXPECT_EQ(WholeSize(gz, broken), 1024);
    EXPECT_EQ(WholeSize(gz, broken, 0xAA, 8192), 17 * 512);
}

}  // namespace
