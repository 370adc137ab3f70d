// JPEG: recognition, sizing while the search streams past (by the picture's
// structure, and by the end marker before zero fill where the structure
// breaks), names and labels from the EXIF block, and the whole-file sizer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "Analysers/FileJPGAnalyser.h"
#include "Analysers/JpegAnalyzer.h"
#include "Analysers/JpegStructure.h"
#include "DataRun.h"
#include "ExifBlock.h"
#include "RawFileAnalyserList.h"
#include "RawFileBuffer.h"
#include "RawSearchController.h"
#include "RawTestSupport.h"
#include "Utility/SystemTime.h"
#include "support/TestSupport.h"

namespace {

using BruteForce::JpegAnalyzer;
using rawtest::RecordingBuilder;
using velmora::test::MemoryStorageDevice;

std::vector<uint8_t> Sample(const std::string& name) {
    return velmora::test::ReadFile(velmora::test::SourceDir() + "/tests/carve/samples/" + name);
}

// An EXIF JPEG made of an APP1 with the given make and model and the
// segments of dqt_first.jpg after its start of image.
std::vector<uint8_t> CameraJpeg(const std::string& make, const std::string& model) {
    rawtest::ExifBlock b(false);
    std::vector<uint8_t> exif =
        b.Build({rawtest::Ascii(0x010F, make), rawtest::Ascii(0x0110, model)},
                {rawtest::Ascii(0x9003, "2021:02:03 04:05:06")});
    std::vector<uint8_t> out = {0xFF,
                                0xD8,
                                0xFF,
                                0xE1,
                                static_cast<uint8_t>((exif.size() + 2) >> 8),
                                static_cast<uint8_t>(exif.size() + 2)};
    out.insert(out.end(), exif.begin(), exif.end());
    const std::vector<uint8_t> rest = Sample("dqt_first.jpg");
    out.insert(out.end(), rest.begin() + 2, rest.end());
    return out;
}

struct Carved {
    long long start;
    long long size;
    std::string name;
    std::string folder;
    long long time;
};

class Jpeg : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", savedTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet();
    }
    // Places `bytes` at `sector` of the image.
    void Put(long long sector, const std::vector<uint8_t>& bytes) {
        const size_t at = static_cast<size_t>(sector * 512);
        if (image_.size() < at + bytes.size())
            image_.resize(at + bytes.size());
        std::copy(bytes.begin(), bytes.end(), image_.begin() + static_cast<long>(at));
    }
    void Random(long long sector, size_t bytes) {
        std::mt19937 rnd(static_cast<unsigned>(sector));
        std::vector<uint8_t> r(bytes);
        for (auto& b : r)
            b = static_cast<uint8_t>(rnd());
        for (size_t i = 0; i < r.size(); i += 512)
            r[i] = 0x5A;  // no file starts by chance
        Put(sector, r);
    }
    // Scans the image in blocks of 64 sectors with the real analysers.
    std::vector<Carved> Scan(size_t padTo = 0) {
        if (image_.size() < padTo)
            image_.resize(padTo);
        image_.resize((image_.size() + 511) / 512 * 512);
        MemoryStorageDevice disk(image_, 512);
        RecordingBuilder builder;
        {
            CRAWSearchController search;
            search.SetDevice(&disk);
            search.SetBlockSize(64);
            search.SetDirecotryTreeBuilder(&builder);
            search.PreparetoSearch();
            for (long long first = 0; first < disk.GetTotalSectors(); first += 64)
                search.AnalyzeBlock(first, std::min<long long>(64, disk.GetTotalSectors() - first));
            search.EndSearch(1);
        }
        std::vector<Carved> out;
        for (IFileNode* f : builder.Files()) {
            auto* node = dynamic_cast<CFileNode*>(f);
            out.push_back({node->GetDataRunList()->GetFirst()->start, f->GetFileSize(),
                           f->GetFileName(), builder.FolderPath(f), f->GetCreationTime()});
        }
        return out;
    }
    static const Carved* At(const std::vector<Carved>& carved, long long start) {
        for (const Carved& c : carved) {
            if (c.start == start)
                return &c;
        }
        return nullptr;
    }

    std::vector<uint8_t> image_;
    std::string savedTz_;
    bool hadTz_ = false;
};

TEST_F(Jpeg, Recognition) {
    JpegAnalyzer jpeg;
    auto first = [](const std::string& name) {
        std::vector<uint8_t> s = Sample(name);
        s.resize(64 * 512);
        return s;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> data;
        long long available;
        int expected;
    } cases[] = {
        {"JFIF", first("jfif_baseline.jpg"), 64, 1},
        {"EXIF", first("exif_only.jpg"), 64, 1},
        {"tables first, chain to a three-component scan", first("dqt_first.jpg"), 64, 1},
        {"chain past the window: left to the structure walk", first("dqt_first.jpg"), 1, 1},
        {"grey frame with tables first",
         [&] {
             std::vector<uint8_t> s = first("dqt_first.jpg");
             for (size_t i = 2; i + 10 < s.size(); ++i) {
                 if (s[i] == 0xFF && s[i + 1] == 0xC0) {
                     s[i + 9] = 1;
                     break;
                 }
             }
             return s;
         }(),
         64, 0},
        {"chain broken",
         [&] {
             std::vector<uint8_t> s = first("dqt_first.jpg");
             s[2 + 2 + ((s[4] << 8) | s[5])] = 0x00;
             return s;
         }(),
         64, 0},
        {"other head", std::vector<uint8_t>(512, 0x20), 64, 0},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> s = c.data;
        CRawFileInfo info;
        EXPECT_EQ(jpeg.AnalyseBufferEx(s.data(), info, 512, 0, 0, c.available), c.expected)
            << c.what;
    }
    std::vector<uint8_t> lower = first("jfif_baseline.jpg");
    std::memcpy(lower.data() + 6, "jfif", 4);
    CRawFileInfo info;
    EXPECT_EQ(jpeg.AnalyseBuffer(lower.data(), info), 1);
    EXPECT_EQ(info.m_type, RAW_JPG);
}

// The structure gives the exact end whatever follows; names carry the
// sectors, the camera and the model; the capture date is the file's time.
TEST_F(Jpeg, StreamedPicturesEndAtTheirEndOfImage) {
    const std::vector<uint8_t> camera = Sample("exif_camera.jpg");
    const std::vector<uint8_t> plain = Sample("jfif_baseline.jpg");
    const std::vector<uint8_t> split = Sample("eoi_split.jpg");
    // Random bytes everywhere, the pictures laid over them: whatever
    // follows a picture's end is not zero.
    Random(0, 800 * 512);
    Put(16, camera);
    Put(400, plain);
    Put(500, split);
    // A make that cannot stand in a name gives no label; the model names it.
    const std::vector<uint8_t> odd = CameraJpeg("Ma/ker", "M1");
    Put(600, odd);
    const std::vector<uint8_t> accented = CameraJpeg("Maker", "Caf\xc3\xa9");
    Put(700, accented);
    const auto carved = Scan(800 * 512);

    const Carved* c = At(carved, 16);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->size, static_cast<long long>(camera.size()));
    const long long last = 16 + static_cast<long long>(camera.size() - 1) / 512;
    EXPECT_TRUE(std::regex_match(
        c->name, std::regex("MAKER_Model X1_16-" + std::to_string(last) + "[0-9]{3}\\.JPG")))
        << c->name;
    EXPECT_EQ(c->folder, "Camera/MAKER");
    EXPECT_EQ(c->time, static_cast<long long>(UnixTimeToFileTime(1433154030)))
        << "2015-06-01 10:20:30";
    ASSERT_NE(At(carved, 400), nullptr);
    EXPECT_EQ(At(carved, 400)->size, static_cast<long long>(plain.size()));
    EXPECT_EQ(At(carved, 400)->folder, "jpg");
    ASSERT_NE(At(carved, 500), nullptr);
    EXPECT_EQ(At(carved, 500)->size, static_cast<long long>(split.size()))
        << "FF ends one sector, D9 starts the next";
    ASSERT_NE(At(carved, 600), nullptr);
    EXPECT_TRUE(std::regex_match(At(carved, 600)->name, std::regex("M1_600-[0-9]+[0-9]{3}\\.JPG")))
        << At(carved, 600)->name;
    EXPECT_EQ(At(carved, 600)->folder, "jpg");
    ASSERT_NE(At(carved, 700), nullptr);
    EXPECT_TRUE(
        std::regex_match(At(carved, 700)->name, std::regex("MAKER_700-[0-9]+[0-9]{3}\\.JPG")))
        << At(carved, 700)->name;
    EXPECT_EQ(carved.size(), 5u) << "nothing carved from inside the pictures";
}

TEST_F(Jpeg, CutShortOrBrokenPictures) {
    // Cut inside its scan and overwritten by another picture: it ends where
    // the other begins.
    const std::vector<uint8_t> progressive = Sample("jfif_progressive.jpg");
    const std::vector<uint8_t> next = Sample("exif_only.jpg");
    Put(16, std::vector<uint8_t>(progressive.begin(), progressive.begin() + 8 * 512));
    Put(24, next);
    // A start of image with no scan before its structure breaks: nothing.
    std::vector<uint8_t> decoy = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x40, 'E', 'x', 'i', 'f', 0, 0};
    Put(100, decoy);
    // A picture whose scan holds a byte pair no encoder writes: its end is
    // found by the end marker before zero fill.
    std::vector<uint8_t> broken = Sample("jfif_baseline.jpg");
    broken[broken.size() - 200] = 0xFF;
    broken[broken.size() - 199] = 0x05;
    Put(200, broken);
    const auto carved = Scan(400 * 512);
    ASSERT_NE(At(carved, 16), nullptr);
    EXPECT_EQ(At(carved, 16)->size, 8 * 512);
    ASSERT_NE(At(carved, 24), nullptr);
    EXPECT_EQ(At(carved, 24)->size, static_cast<long long>(next.size()));
    EXPECT_EQ(At(carved, 100), nullptr);
    ASSERT_NE(At(carved, 200), nullptr);
    EXPECT_EQ(At(carved, 200)->size, static_cast<long long>(broken.size()));
}

// Sectors in the middle of a picture that cannot be read stream past as
// zeros: the picture keeps its place and its end.
TEST_F(Jpeg, UnreadableSectorsInsideAPicture) {
    const std::vector<uint8_t> camera = Sample("exif_camera.jpg");
    Random(0, 400 * 512);
    Put(100, camera);
    Put(300, Sample("jfif_baseline.jpg"));
    image_.resize(400 * 512);
    rawtest::FlakyDevice disk(image_, 512, 150, 151);
    RecordingBuilder builder;
    {
        CRAWSearchController search;
        search.SetDevice(&disk);
        search.SetBlockSize(64);
        search.SetDirecotryTreeBuilder(&builder);
        search.PreparetoSearch();
        for (long long first = 0; first < 400; first += 64)
            search.AnalyzeBlock(first, std::min<long long>(64, 400 - first));
        search.EndSearch(1);
    }
    long long size100 = -1;
    long long size300 = -1;
    for (IFileNode* f : builder.Files()) {
        const long long start = dynamic_cast<CFileNode*>(f)->GetDataRunList()->GetFirst()->start;
        if (start == 100)
            size100 = f->GetFileSize();
        if (start == 300)
            size300 = f->GetFileSize();
    }
    EXPECT_EQ(size100, static_cast<long long>(camera.size()));
    EXPECT_EQ(size300, static_cast<long long>(Sample("jfif_baseline.jpg").size()))
        << "later files keep their place";
}

TEST_F(Jpeg, EndlessScansStopAtTheLimit) {
    std::vector<uint8_t> head = Sample("jfif_baseline.jpg");
    head.resize(head.size() - 2);  // no end of image
    Put(0, head);
    std::vector<uint8_t> fill(21 << 20, 0x11);
    Put(static_cast<long long>(head.size() + 511) / 512, fill);
    const auto carved = Scan();
    ASSERT_NE(At(carved, 0), nullptr);
    EXPECT_EQ(At(carved, 0)->size, JpegAnalyzer::JpegRawFileInfo::kMaxLengthPlain);
}

long long WholeFile(FileJPGAnalyser& whole, const std::vector<uint8_t>& file, uint8_t filler,
                    CRawFileInfo* out) {
    std::vector<uint8_t> disk(512, 0x77);
    disk.insert(disk.end(), file.begin(), file.end());
    disk.resize(disk.size() + 8192, filler);
    MemoryStorageDevice device(disk, 512);
    CRawFileInfo info;
    info.m_startSector = 1;
    const int answer = whole.GetRawFileSize(info, &device);
    *out = info;
    return answer != 0 ? info.m_size : -1;
}

TEST_F(Jpeg, WholeFileSizerAndNames) {
    FileJPGAnalyser whole;
    CRawFileInfo info;
    for (const char* name : {"jfif_baseline.jpg", "jfif_progressive.jpg", "gray.jpg",
                             "dqt_first.jpg", "eoi_boundary.jpg", "eoi_split.jpg", "crowded.jpg"}) {
        const std::vector<uint8_t> file = Sample(name);
        EXPECT_EQ(WholeFile(whole, file, 0xC3, &info), static_cast<long long>(file.size())) << name;
    }
    const std::vector<uint8_t> camera = Sample("exif_camera.jpg");
    EXPECT_EQ(WholeFile(whole, camera, 0xC3, &info), static_cast<long long>(camera.size()));
    EXPECT_EQ(info.GetRawFileName(), "Model X1");
    EXPECT_EQ(info.GetRawFileTime(), "2015:06:01 10:20:30");
    EXPECT_EQ(whole.GetRawFileName(), "Model X1");
    RAW_FILE_TAG tag = RAW_TAG_NONE;
    std::string value;
    whole.GetRawFileTagAndValue(tag, value);
    EXPECT_EQ(tag, RAW_TAG_CAMERA);
    const std::vector<uint8_t> proto = Sample("exif_only.jpg");
    EXPECT_EQ(WholeFile(whole, proto, 0, &info), static_cast<long long>(proto.size()));
    EXPECT_EQ(info.GetRawFileName(), "Acme") << "a model holding '<' names the file by its make";

    // No frame header and no end of image: the end search runs to the device.
    std::vector<uint8_t> noFrame = CameraJpeg("Maker", "M");
    for (size_t i = 2; i + 1 < noFrame.size(); ++i) {
        if (noFrame[i] == 0xFF && noFrame[i + 1] == 0xC0)
            noFrame[i + 1] = 0xFE;  // the frame becomes a comment
    }
    noFrame.resize(noFrame.size() - 2);
    EXPECT_EQ(WholeFile(whole, noFrame, 0x11, &info),
              static_cast<long long>((noFrame.size() + 8192) / 512 * 512));
    EXPECT_EQ(WholeFile(whole, std::vector<uint8_t>(2048, 0x11), 0, &info), -1) << "no marker at 2";
}

// A picture stored right after another one's end of image belongs to the
// same file (multi-picture and burst files), as does a movie there (motion
// photos), on both roads; one that starts
// at a sector boundary may be a file of its own and is carved as one; a
// following picture that is cut off is not part of the file.
TEST_F(Jpeg, PicturesThatFollowAnEndOfImage) {
    const std::vector<uint8_t> first = Sample("jfif_baseline.jpg");
    const std::vector<uint8_t> second = Sample("gray.jpg");
    const std::vector<uint8_t> boundary = Sample("eoi_boundary.jpg");
    ASSERT_NE(first.size() % 512, 0u);
    ASSERT_EQ(boundary.size() % 512, 0u);
    const std::vector<uint8_t> cut(second.begin(), second.begin() + second.size() / 2);
    const std::vector<uint8_t> movie = Sample("movie.mp4");
    std::vector<uint8_t> notMovie = movie;
    std::memcpy(notMovie.data() + 4, "free", 4);
    // A clip whose next box claims far more than follows: the file is the
    // picture and the boxes that were whole.
    const uint32_t ftyp =
        (uint32_t{movie[0]} << 24) | (movie[1] << 16) | (movie[2] << 8) | movie[3];
    ASSERT_LT(ftyp, movie.size());
    std::vector<uint8_t> cutMovie(movie.begin(), movie.begin() + ftyp);
    cutMovie.insert(cutMovie.end(), {0x7F, 0xFF, 0xFF, 0xFF, 'm', 'd', 'a', 't'});
    cutMovie.resize(cutMovie.size() + 3000, 0x41);
    const struct {
        const char* what;
        std::vector<std::vector<uint8_t>> parts;
        size_t size;  // of the file at sector 16
    } cases[] = {
        {"two pictures", {first, second}, first.size() + second.size()},
        {"three pictures", {first, second, second}, first.size() + 2 * second.size()},
        {"the second cut off", {first, cut}, first.size()},
        {"the second at a sector boundary", {boundary, second}, boundary.size()},
        {"a motion photo's movie", {first, movie}, first.size() + movie.size()},
        {"boxes of no movie", {first, notMovie}, first.size()},
        {"a movie cut off", {first, cutMovie}, first.size() + ftyp},
    };
    for (const auto& c : cases) {
        image_.clear();
        std::vector<uint8_t> file;
        for (const auto& part : c.parts)
            file.insert(file.end(), part.begin(), part.end());
        Random(0, 400 * 512);
        Put(16, file);
        const auto carved = Scan(400 * 512);
        ASSERT_NE(At(carved, 16), nullptr) << c.what;
        EXPECT_EQ(At(carved, 16)->size, static_cast<long long>(c.size)) << c.what;
        const long long next = 16 + static_cast<long long>(boundary.size() / 512);
        EXPECT_EQ(At(carved, next) != nullptr, c.parts[0] == boundary) << c.what;

        FileJPGAnalyser whole;
        CRawFileInfo info;
        EXPECT_EQ(WholeFile(whole, file, 0xC3, &info), static_cast<long long>(c.size)) << c.what;
    }
}

TEST_F(Jpeg, EndSearchOverZeroFilledSectors) {
    auto run = [](std::vector<uint8_t> bytes, uint64_t from) {
        bytes.resize(8 * 512, 0x00);
        MemoryStorageDevice device(bytes, 512);
        RawFileBuffer file(&device, 0);
        return FileJPGAnalyser::AddFileSizeByPerSecSize(file, from, 0xD000000);
    };
    std::vector<uint8_t> endsSector(2048, 0x42);
    endsSector[1022] = 0xFF;
    endsSector[1023] = 0xD9;
    EXPECT_EQ(run(endsSector, 10), 1024u) << "a sector ending in FF D9 ends the file with it";
    std::vector<uint8_t> zeros(1002, 0x42);
    zeros[1000] = 0xFF;
    zeros[1001] = 0xD9;
    EXPECT_EQ(run(zeros, 10), 1002u);
    std::vector<uint8_t> d9(1100, 0x42);
    d9[1024] = 0xD9;
    std::fill(d9.begin() + 1025, d9.end(), 0);
    EXPECT_EQ(run(d9, 1024), 1026u);
}

// The structure walk gives the same end, or the same break, however the
// bytes are cut into pieces: stuffed FF 00 pairs, restart markers and fill
// bytes in the coded data may fall on either side of a cut.
TEST(JpegStructureWalk, SameStopForEveryPieceSize) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        JpegStructure::State state;
        uint64_t stop;
    };
    // A scan of coded bytes dense in FF: stuffed pairs, a restart marker,
    // fill before a marker, then the end of image and bytes after it.
    std::vector<uint8_t> coded = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x01,
                                  0x02, 0xFF, 0xDA, 0x00, 0x04, 0x03, 0x04};
    std::mt19937 rnd(7);
    for (int i = 0; i < 3000; ++i) {
        const uint8_t b = static_cast<uint8_t>(rnd() % 5 == 0 ? 0xFF : rnd());
        coded.push_back(b);
        if (b == 0xFF)
            coded.push_back(i % 500 == 499 ? 0xD0 + (i / 500) % 8 : 0x00);
    }
    coded.insert(coded.end(), {0xFF, 0xFF, 0xD9});
    const uint64_t codedEnd = coded.size();
    coded.insert(coded.end(), {0xFF, 0x00, 0x12, 0xFF, 0xD8});
    // The same with a code no encoder writes inside the scan.
    std::vector<uint8_t> broken = coded;
    broken[1500] = 0xFF;
    broken[1501] = 0x05;
    const std::vector<uint8_t> baseline = Sample("jfif_baseline.jpg");
    std::vector<uint8_t> trailed = Sample("jfif_progressive.jpg");
    const uint64_t progressiveEnd = trailed.size();
    trailed.insert(trailed.end(), 700, 0xFF);
    const std::vector<Case> cases = {
        {"coded bytes dense in FF", coded, JpegStructure::State::End, codedEnd},
        {"a reserved code in the scan", broken, JpegStructure::State::Broken, 1501},
        {"baseline sample", baseline, JpegStructure::State::End, baseline.size()},
        {"progressive sample, FF after it", trailed, JpegStructure::State::End, progressiveEnd},
    };
    for (const Case& c : cases) {
        for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{255}, size_t{256},
                             size_t{511}, size_t{512}, size_t{4096}, c.bytes.size()}) {
            JpegStructure walk;
            for (size_t at = 0;
                 at < c.bytes.size() && walk.GetState() == JpegStructure::State::Going; at += piece)
                walk.Feed(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
            EXPECT_EQ(walk.GetState(), c.state) << c.what << ", pieces of " << piece;
            EXPECT_EQ(walk.StopOffset(), c.stop) << c.what << ", pieces of " << piece;
            EXPECT_TRUE(walk.SawScan()) << c.what;
        }
    }
}

}  // namespace
