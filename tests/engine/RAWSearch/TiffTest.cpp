// TIFF and camera raw files: the heads the analyser takes, the maker table,
// names and labels on the whole-file road, the exact end the directories
// give on both roads, and walks over damaged directories (lying counts,
// loops, offsets past the device, directories out of the search's reach).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Analysers/FileTIFAnalyser.h"
#include "Analysers/TiffAnalyzer.h"
#include "ScanImage.h"
#include "TiffBuild.h"
#include "support/TestSupport.h"

namespace {

using rawtest::Carved;
using rawtest::TiffFile;
using velmora::test::MemoryStorageDevice;

constexpr uint16_t kWidth = 256, kHeight = 257, kMake = 271, kModel = 272, kStrips = 273,
                   kStripBytes = 279, kDateTime = 306, kSubIfds = 330, kExifIfd = 34665,
                   kMakerNote = 37500, kDateTimeOriginal = 36867;

std::vector<uint8_t> Sample(const std::string& name) {
    return velmora::test::ReadFile(velmora::test::SourceDir() + "/tests/carve/samples/" + name);
}

// Bytes that are never zero, so nothing past a file looks like zero fill.
std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> d(n);
    for (auto& b : d) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>((seed >> 16) | 1);
    }
    return d;
}

struct Measured {
    long long size;
    RAW_FILE_TYPE type;
    std::string name;
    std::string label;
};

// The whole-file sizer on `file` at sector 0 of a device; what follows the
// file is `after`.
Measured WholeFile(std::vector<uint8_t> file, const std::vector<uint8_t>& after) {
    file.insert(file.end(), after.begin(), after.end());
    file.resize((file.size() + 511) / 512 * 512 + 512);
    MemoryStorageDevice disk(file, 512);
    FileTIFAnalyser sizer;
    CRawFileInfo info;
    info.m_type = RAW_TIF;
    EXPECT_EQ(sizer.GetRawFileSize(info, &disk), 1);
    RAW_FILE_TAG tag = RAW_TAG_NONE;
    std::string value;
    info.GetRawFileTagAndValue(tag, value);
    return {info.m_size, info.m_type, info.GetRawFileName(),
            tag == RAW_TAG_CAMERA ? "Camera/" + value : std::string()};
}

// An exiftool-like file: IFD0 at 8 with the camera and one strip, the
// strip's data after it.
TiffFile Camera(bool le, const std::string& make, const std::string& model, size_t data,
                std::vector<TiffFile::Entry> more = {}) {
    TiffFile t(le);
    t.First(8);
    std::vector<TiffFile::Entry> entries = {t.Short(kWidth, 64), t.Short(kHeight, 48)};
    if (!make.empty())
        entries.push_back(t.Ascii(kMake, make));
    if (!model.empty())
        entries.push_back(t.Ascii(kModel, model));
    entries.push_back(t.Long(kStrips, 0));  // patched below
    entries.push_back(t.Long(kStripBytes, static_cast<uint32_t>(data)));
    entries.push_back(t.Ascii(kDateTime, "2014:03:15 08:09:10"));
    for (auto& e : more)
        entries.push_back(e);
    const uint32_t dir = t.Directory(entries);
    const uint32_t strip = t.Blob(data, 7);
    size_t stripEntry = 0;
    while (entries[stripEntry].tag != kStrips)
        ++stripEntry;
    t.Put32(dir + 2 + 12 * stripEntry + 8, strip);
    return t;
}

TEST(Tiff, TakesTheHeadsOfTiffAndItsRawFormats) {
    const struct {
        const char* head;
        int taken;
    } cases[] = {
        {"II*\0", 1},
        {"MM\0*", 1},
        {"IIU\0", 1},
        {"IIRO", 1},
        {"IIRS", 1},
        {"MMOR", 1},
        {"FUJIFILMCCD-RAW ", 1},
        {"FUJIFILM DSC   ", 0},  // "FUJI" of something else
        {"II+\0", 0},
        {"MM\0+", 0},  // BigTIFF is not read
        {"IIRX", 0},
    };
    for (const auto& c : cases) {
        unsigned char sector[512] = {};
        std::memcpy(sector, c.head, std::strlen(c.head) < 4 ? 4 : std::strlen(c.head));
        BruteForce::TiffAnalyzer tiff;
        CRawFileInfo info;
        EXPECT_EQ(tiff.AnalyseBuffer(sector, info), c.taken) << c.head;
        if (c.taken) {
            EXPECT_EQ(info.m_type, RAW_TIF) << c.head;
        }
    }
}

// The whole-file road on every sample the carve harness streams: the same
// exact size, the maker's type, "make_model" and the camera label, though
// the bytes after the file are not zero fill.
TEST(Tiff, WholeFileRoadMeasuresEverySampleExactly) {
    const struct {
        const char* file;
        RAW_FILE_TYPE type;
        const char* name;
        const char* label;
    } cases[] = {
        {"plain_ii.tif", RAW_TIF, "", ""},
        {"plain_mm.tif", RAW_TIF, "", ""},
        {"tiled.tif", RAW_TIF, "", ""},
        {"nikon.nef", RAW_NEF, "NIKON CORPORATION_NIKON D70", "Camera/NIKON CORPORATION"},
        {"canon.cr2", RAW_CR2, "CANON_Canon EOS 350D DIGITAL", "Camera/CANON"},
        {"sony_r1.sr2", RAW_SR2, "SONY_DSC-R1", "Camera/SONY"},
        {"sony.arw", RAW_ARW, "SONY_DSLR-A700", "Camera/SONY"},
        {"panasonic.rw2", RAW_RW2, "PANASONIC_DMC-GH1", "Camera/PANASONIC"},
        {"panasonic.raw", RAW_RAWIMG, "PANASONIC_DC-FZ80", "Camera/PANASONIC"},
        {"leica.raw", RAW_RAWIMG, "LEICA_DIGILUX 2", "Camera/LEICA"},
        {"kodak_pro.dcr", RAW_DCR, "KODAK_DCS Pro SLR_n", "Camera/KODAK"},
        {"kodak.kdc", RAW_KDC, "EASTMAN KODAK COMPANY_KODAK EASYSHARE Z1015 IS",
         "Camera/EASTMAN KODAK COMPANY"},
        {"epson.erf", RAW_ERF, "SEIKO EPSON CORP._R-D1", "Camera/SEIKO EPSON CORP."},
        {"hasselblad.3fr", RAW_3FR, "HASSELBLAD_H3D-39", "Camera/HASSELBLAD"},
        {"mamiya.mef", RAW_MEF, "MAMIYA-OP CO.,LTD._ZD", "Camera/MAMIYA-OP CO.,LTD."},
        {"pentax.pef", RAW_PEF, "PENTAX CORPORATION_PENTAX K10D", "Camera/PENTAX CORPORATION"},
        {"samsung.srw", RAW_SRW, "SAMSUNG_NX10", "Camera/SAMSUNG"},
        {"olympus.orf", RAW_ORF, "OLYMPUS IMAGING CORP._E-M5", "Camera/OLYMPUS IMAGING CORP."},
        {"olympus_mm.orf", RAW_ORF, "OLYMPUS OPTICAL CO.,LTD_E-1",
         "Camera/OLYMPUS OPTICAL CO.,LTD"},
        {"canon.dng", RAW_DNG, "CANON_Canon EOS 5D", "Camera/CANON"},
        {"fuji.raf", RAW_RAF, "FUJIFILM_FinePix S5Pro", "Camera/FUJIFILM"},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> file = Sample(c.file);
        ASSERT_FALSE(file.empty()) << c.file;
        const Measured m = WholeFile(file, Noise(3000, 5));
        EXPECT_EQ(m.size, static_cast<long long>(file.size())) << c.file;
        EXPECT_EQ(m.type, c.type) << c.file;
        EXPECT_EQ(m.name, c.name) << c.file;
        EXPECT_EQ(m.label, c.label) << c.file;
    }
}

TEST(Tiff, MakesAndModelsUnfitForNamesAreDropped) {
    const struct {
        const char* make;
        const char* model;
        const char* name;
        const char* label;
    } cases[] = {
        {"nikon corporation", "D70", "NIKON CORPORATION_D70", "Camera/NIKON CORPORATION"},
        {"Zeiss & Co", "M-1", "M-1", "Camera/M-1"},  // "&" is not a name's
        {"A MAKER WHOSE NAME RUNS PAST 30", "X", "X", "Camera/X"},
        {"ACME", "Model \xC3\xA9", "ACME", "Camera/ACME"},
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        TiffFile t = Camera(true, c.make, c.model, 700);
        const Measured m = WholeFile(t.bytes, {});
        EXPECT_EQ(m.name, c.name) << c.make;
        EXPECT_EQ(m.label, c.label) << c.make;
        EXPECT_EQ(m.size, static_cast<long long>(t.bytes.size())) << c.make;
    }
}

class TiffScan : public ::testing::Test {
protected:
    void TearDown() override { CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet(); }
    std::vector<uint8_t> image_;
};

// A directory of more than 512 entries is no directory: the walk stops there
// and the file ends where its data runs out into zero fill, on both roads.
TEST_F(TiffScan, DirectoryOfMoreThan512EntriesStopsTheWalk) {
    for (int count : {512, 513}) {
        SCOPED_TRACE(count);
        TiffFile t = Camera(true, "", "", 1500);
        std::vector<TiffFile::Entry> many;
        for (int i = 0; i < 512; ++i)
            many.push_back(t.Short(static_cast<uint16_t>(40000 + i), 1));
        const uint32_t ifd1 = t.Directory(many, 0, count);
        t.Link(8, ifd1);
        const long long length = static_cast<long long>(t.bytes.size());
        // The file claims 513 entries but holds 512: what it says is read.
        image_.assign(2 * 1024 * 1024, 0);
        rawtest::PutAt(image_, 100, t.bytes);
        const std::vector<Carved> carved = rawtest::ScanImage(image_);
        ASSERT_EQ(carved.size(), 1u);
        const Measured whole = WholeFile(t.bytes, {});
        if (count == 512) {
            EXPECT_EQ(carved[0].size, length);
            EXPECT_EQ(whole.size, length);
        } else {
            for (long long size : {carved[0].size, whole.size}) {
                EXPECT_EQ(size % 512, 0);
                EXPECT_GE(size, length);
                EXPECT_LT(size, length + 1024);
            }
        }
    }
}

// Links that come back never make the walk endless; the file is still
// carved, whole, from its zero fill.
TEST_F(TiffScan, LoopsOfDirectoryLinksEnd) {
    enum Loop { kChainBack, kSelf, kExifSelf, kSubIfdToIfd0 };
    for (Loop loop : {kChainBack, kSelf, kExifSelf, kSubIfdToIfd0}) {
        SCOPED_TRACE(loop);
        TiffFile t(loop % 2 == 0);
        t.First(8);
        std::vector<TiffFile::Entry> entries = {t.Short(kWidth, 64), t.Short(kHeight, 48),
                                                t.Long(kStrips, 0),  t.Long(kStripBytes, 900),
                                                t.Long(kSubIfds, 8), t.Long(kExifIfd, 0)};
        const uint32_t ifd0 = t.Directory(entries);
        const uint32_t strip = t.Blob(900, 3);
        const uint32_t exif = t.Directory({t.Ascii(kDateTimeOriginal, "2014:03:15 08:09:10")});
        const uint32_t ifd1 = t.Directory({t.Short(kWidth, 8)});
        t.Put32(ifd0 + 2 + 12 * 2 + 8, strip);
        t.Put32(ifd0 + 2 + 12 * 5 + 8, exif);
        t.Put32(ifd0 + 2 + 12 * 4 + 8, loop == kSubIfdToIfd0 ? ifd0 : ifd1);
        if (loop == kChainBack) {
            t.Link(ifd0, ifd1);
            t.Link(ifd1, ifd0);
        } else if (loop == kSelf) {
            t.Link(ifd0, ifd0);
        } else if (loop == kExifSelf) {
            t.Link(exif, exif);
        }
        const long long length = static_cast<long long>(t.bytes.size());
        image_.assign(1024 * 1024, 0);
        rawtest::PutAt(image_, 100, t.bytes);
        const std::vector<Carved> carved = rawtest::ScanImage(image_);
        ASSERT_EQ(carved.size(), 1u);
        const Measured whole = WholeFile(t.bytes, {});
        for (long long size : {carved[0].size, whole.size}) {
            EXPECT_EQ(size % 512, 0);
            EXPECT_GE(size, length);
            EXPECT_LE(size, 8704);
        }
    }
}

// A file whose directories describe no picture data says nothing of its
// end: it runs on to the zero fill after its data, not to a fixed guess of
// some 125 MiB that would swallow whatever follows it.
TEST(Tiff, SmallFileWithUndescribedDataEndsAtItsZeroFill) {
    TiffFile t(true);
    t.First(8);
    t.Directory({t.Ascii(kMake, "NIKON"), t.Ascii(kModel, "D1X")});
    t.Blob(4800, 9);  // raw data no directory points at
    ASSERT_LT(t.bytes.size(), 10240u);
    const Measured m = WholeFile(t.bytes, std::vector<uint8_t>(600 * 1024, 0));
    EXPECT_EQ(m.size, static_cast<long long>((t.bytes.size() + 511) / 512 * 512));
    EXPECT_EQ(m.type, RAW_NEF);
}

// A first directory more than 4 MiB in is not waited for while streaming;
// the whole-file sizer measures the file, names it "make_model" and sizes
// it exactly.
TEST_F(TiffScan, FirstDirectoryBeyond4MiBIsLeftToTheWholeFileSizer) {
    TiffFile t(false);
    const uint32_t strip = t.Blob(0x400100, 1);
    const uint32_t dir = t.Directory({t.Short(kWidth, 1200), t.Short(kHeight, 1200),
                                      t.Ascii(kMake, "PENTAX"), t.Ascii(kModel, "K10D"),
                                      t.Long(kStrips, strip), t.Long(kStripBytes, 0x400100)});
    t.First(dir);
    ASSERT_GT(dir, 0x400000u);
    image_.assign(6 * 1024 * 1024, 0);
    rawtest::PutAt(image_, 300, t.bytes);
    const std::vector<Carved> carved = rawtest::ScanImage(image_);
    const Carved* c = rawtest::CarvedAt(carved, 300);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->size, static_cast<long long>(t.bytes.size()));
    EXPECT_EQ(c->name, "PENTAX_K10D000.PEF");
    EXPECT_EQ(c->folder, "Camera/PENTAX");
}

// A directory that crosses the end of a block is read once the next block
// is in the buffer; one the buffer has already left behind makes the
// streaming road hand the file to the whole-file sizer. Both end exactly.
TEST_F(TiffScan, DirectoriesAcrossAndBehindTheSearchBuffer) {
    // Blocks of 64 sectors. The file starts at sector 40; its IFD0 (after
    // the data) begins 20 bytes before the end of sector 63.
    TiffFile across(true);
    const uint32_t strip = across.Blob((64 - 40) * 512 - 20 - 8, 2);
    const uint32_t dir = across.Directory(
        {across.Short(kWidth, 64), across.Short(kHeight, 48), across.Ascii(kMake, "SAMSUNG"),
         across.Ascii(kModel, "NX10"), across.Long(kStrips, strip),
         across.Long(kStripBytes, (64 - 40) * 512 - 28)});
    across.First(dir);
    ASSERT_EQ(40 * 512 + dir, 64 * 512 - 20);

    // The EXIF directory at 8, IFD0 100 KiB later: two blocks of 32 KiB on.
    TiffFile behind(false);
    behind.First(0);
    const uint32_t exif =
        behind.Directory({behind.Ascii(kDateTimeOriginal, "2014:03:15 08:09:10")});
    const uint32_t data = behind.Blob(100 * 1024, 4);
    const uint32_t ifd0 = behind.Directory(
        {behind.Short(kWidth, 64), behind.Short(kHeight, 48), behind.Ascii(kMake, "SAMSUNG"),
         behind.Ascii(kModel, "NX10"), behind.Long(kStrips, data),
         behind.Long(kStripBytes, 100 * 1024), behind.Long(kExifIfd, exif)});
    behind.First(ifd0);

    image_.assign(2 * 1024 * 1024, 0);
    rawtest::PutAt(image_, 40, across.bytes);
    rawtest::PutAt(image_, 1000, behind.bytes);
    const std::vector<Carved> carved = rawtest::ScanImage(image_, 512, 64);
    const Carved* a = rawtest::CarvedAt(carved, 40);
    const Carved* b = rawtest::CarvedAt(carved, 1000);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->size, static_cast<long long>(across.bytes.size()));
    const long long lastA = 40 + (a->size - 1) / 512;
    EXPECT_EQ(a->name.rfind("SAMSUNG_NX10_40-" + std::to_string(lastA) + "_", 0), 0u) << a->name;
    EXPECT_EQ(b->size, static_cast<long long>(behind.bytes.size()));
    // The whole-file road's name: no sector numbers.
    EXPECT_EQ(b->name.rfind("SAMSUNG_NX10", 0), 0u) << b->name;
    EXPECT_EQ(b->name.find('-'), std::string::npos) << b->name;
}

// A Nikon maker note holds a TIFF header of its own: its directory is read
// 18 bytes past the note's start (8 for Epson), and what it points at is
// part of the file.
TEST(Tiff, MakerNoteDirectoryOfTheMakersThatOffsetIt) {
    const struct {
        const char* make;
        uint32_t skip;  // where the note's directory stands
        bool read;
    } cases[] = {
        {"NIKON CORPORATION", 18, true},
        {"SEIKO EPSON CORP.", 8, true},
        {"PENTAX", 0, true},
        {"NIKON CORPORATION", 0, false},  // not where a Nikon note's directory is
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.make) + " " + std::to_string(c.skip));
        TiffFile t(false);
        t.First(8);
        const uint32_t ifd0 =
            t.Directory({t.Short(kWidth, 64), t.Ascii(kMake, c.make), t.Ascii(kModel, "D70 X"),
                         t.Long(kStrips, 0), t.Long(kStripBytes, 1000), t.Long(kExifIfd, 0)});
        const uint32_t strip = t.Blob(1000, 6);
        // The note: a maker's header of `skip` bytes, then a directory whose
        // one entry points 3000 bytes past the file's other data.
        std::vector<uint8_t> note(c.skip, 'N');
        TiffFile dir(false);
        const uint32_t noteAt = static_cast<uint32_t>((t.bytes.size() + 100) / 2 * 2);
        const uint32_t base = c.make[0] == 'N' ? 18 : c.make[0] == 'S' ? 8 : 0;
        const uint32_t target = noteAt + 400 + 3000;
        dir.bytes.clear();
        dir.Directory({dir.Undefined(0x0011, 64, target - base)});
        note.insert(note.end(), dir.bytes.begin(), dir.bytes.end());
        note.resize(300, 0);
        const uint32_t exif = t.Directory({t.Undefined(kMakerNote, 300, noteAt)});
        t.bytes.resize(noteAt);
        t.Blob(note);
        t.Put32(ifd0 + 2 + 12 * 3 + 8, strip);
        t.Put32(ifd0 + 2 + 12 * 5 + 8, exif);
        const Measured m = WholeFile(t.bytes, std::vector<uint8_t>(8192, 0));
        EXPECT_EQ(m.size, c.read ? static_cast<long long>(target + 64)
                                 : static_cast<long long>(t.bytes.size()));
    }
}

TEST(Tiff, RafHeaderDecidesWhatTheWrapperHolds) {
    const std::vector<uint8_t> raf = Sample("fuji.raf");
    ASSERT_GT(raf.size(), 200u);
    auto put = [](std::vector<uint8_t> v, size_t at, uint32_t x) {
        rawtest::Put32(v, at, x, false);
        return v;
    };
    // Extra bytes the header announces after the raw data.
    Measured m = WholeFile(put(raf, 132, 1000), std::vector<uint8_t>(4096, 0));
    EXPECT_EQ(m.size, static_cast<long long>(raf.size()) + 1000);
    EXPECT_EQ(m.type, RAW_RAF);
    // A JPEG far in whose length no disk could hold: not an RAF file's header.
    m = WholeFile(put(put(raf, 84, 0x90000), 88, 0x4F000000), {});
    EXPECT_EQ(m.size, 0);
}

// Data the directories place past the device's end is cut at the device's
// end.
TEST_F(TiffScan, DataPastTheDeviceEndsAtTheDevicesEnd) {
    TiffFile t = Camera(true, "CANON", "EOS", 800);
    t.Put32(8 + 2 + 12 * 5 + 8, 0x30000000);  // the strip's byte count
    image_.assign(512 * 1024, 0);
    rawtest::PutAt(image_, 200, t.bytes);
    const std::vector<Carved> carved = rawtest::ScanImage(image_);
    const Carved* c = rawtest::CarvedAt(carved, 200);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->size, static_cast<long long>(image_.size()) - 200 * 512);
}

}  // namespace
