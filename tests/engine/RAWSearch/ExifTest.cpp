// The EXIF reader: fields in both byte orders, and blocks it must refuse
// without reading outside them or walking in circles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "ExifBlock.h"
#include "ExifReader.h"

namespace {

using rawtest::Ascii;
using rawtest::ExifBlock;

int Read(const std::vector<uint8_t>& block, tag_ExifInfo& info) {
    CExifReader reader;
    reader.SetExitInfo(&info);
    return reader.EXIF_process_EXIF(nullptr, 0, block.data(), static_cast<unsigned>(block.size()));
}

TEST(ExifReader, ReadsCameraDateAndExposureInBothByteOrders) {
    for (bool le : {true, false}) {
        ExifBlock b(le);
        const std::vector<uint8_t> block = b.Build(
            {Ascii(0x010F, "Maker"), Ascii(0x0110, "Model X1"), b.Short(0x0112, 6),
             b.Rational(0x011A, 300, 1), b.Short(0x0128, 2), Ascii(0x0132, "2016:07:02 11:21:31")},
            {Ascii(0x9003, "2015:06:01 10:20:30"), b.Short(0x8827, 25), b.Short(0x9209, 0x19),
             b.Rational(0x920A, 50, 1), b.Long(0xA002, 4000), b.Long(0xA003, 3000),
             b.Rational(0xA20E, 4000, 10), b.Short(0xA210, 3)},
            {b.Long(0x0201, 16), b.Long(0x0202, 20)});
        tag_ExifInfo info;
        ASSERT_EQ(Read(block, info), 1) << (le ? "II" : "MM");
        EXPECT_STREQ(info.cameraMake, "Maker");
        EXPECT_STREQ(info.cameraModel, "Model X1");
        EXPECT_STREQ(info.dateTime, "2015:06:01 10:20:30");
        EXPECT_STREQ(info.modifyTime, "2016:07:02 11:21:31");
        EXPECT_EQ(info.orientation, 6);
        EXPECT_FLOAT_EQ(info.xResolution, 300);
        EXPECT_FLOAT_EQ(info.resolutionUnit, 1.0f);
        EXPECT_EQ(info.isoEquivalent, 5000) << "a value below 50 is a gain code";
        EXPECT_EQ(info.flashUsed, 1);
        EXPECT_FLOAT_EQ(info.focalLength, 50);
        // 4000 pixels over 400 per centimetre: 10 cm, in inches.
        EXPECT_NEAR(info.ccdWidth, 4000 * 0.3937 / 400, 1e-3);
        EXPECT_EQ(info.thumbnailSize, 20u);
        ASSERT_NE(info.thumbnail, nullptr);
        EXPECT_EQ(info.thumbnail - (block.data() + 6), 16);
    }
}

TEST(ExifReader, OddValuesAreReadSafely) {
    ExifBlock b(true);
    const std::vector<uint8_t> block = b.Build(
        {b.Short(0x0112, 9), b.Rational(0x011A, 5, 0), Ascii(0x010F, std::string(60, 'M'))}, {});
    tag_ExifInfo info;
    ASSERT_EQ(Read(block, info), 1);
    EXPECT_EQ(info.orientation, 0) << "orientation outside 1 to 8";
    EXPECT_FLOAT_EQ(info.xResolution, 0) << "zero denominator";
    EXPECT_EQ(std::strlen(info.cameraMake), sizeof info.cameraMake - 1) << "cut to the field";
}

// Numbers stored as signed rationals may lie outside the integer a field
// takes (a negative offset, a huge size): they count as unusable, never as
// some wrapped value.
TEST(ExifReader, NumbersOutsideAnIntegersRangeAreUnusable) {
    ExifBlock b(true);
    auto srational = [&](uint16_t tag, int32_t num, int32_t den) {
        rawtest::ExifEntry e =
            b.Rational(tag, static_cast<uint32_t>(num), static_cast<uint32_t>(den));
        e.format = 10;
        return e;
    };
    const std::vector<uint8_t> block =
        b.Build({srational(0x0128, -1, 1), Ascii(0x010F, "Maker")},
                {srational(0x8827, -5, 1), srational(0xA210, INT32_MIN, 1),
                 srational(0x9207, INT32_MIN, -1), srational(0x9208, INT32_MIN, -1),
                 srational(0x8822, INT32_MIN, -1), srational(0x9102, INT32_MIN, -1)},
                {srational(0x0201, -16, 1), srational(0x0202, INT32_MIN, -1)});
    tag_ExifInfo info;
    ASSERT_EQ(Read(block, info), 1);
    EXPECT_STREQ(info.cameraMake, "Maker");
    EXPECT_EQ(info.thumbnail, nullptr) << "a negative offset points nowhere";
    EXPECT_EQ(info.thumbnailCopy.size(), 0u);
    // A sub-directory pointer below 0 ends the walk as a bad pointer does.
    const std::vector<uint8_t> badPointer = b.Build({srational(0x8769, -8, 1)}, {});
    EXPECT_EQ(Read(badPointer, info), 0);
}

// Each case damages one thing of a good block; the reader must refuse it.
TEST(ExifReader, RefusesDamagedBlocks) {
    ExifBlock b(true);
    const std::vector<uint8_t> good = b.Build({Ascii(0x010F, "Maker"), Ascii(0x0110, "Model")},
                                              {Ascii(0x9003, "2015:06:01 10:20:30")});
    const uint32_t ifd0 = b.Ifd0();
    const uint32_t exif = b.ExifIfd();
    const uint32_t ifd0Link = ifd0 + 2 + 12 * 3;         // after its three entries
    const uint32_t exifPointer = ifd0 + 2 + 12 * 2 + 8;  // the value of its third entry
    const uint32_t makeValue = ifd0 + 2 + 8;
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
    } cases[] = {
        {"not Exif", [](std::vector<uint8_t>& v) { v[5] = 1; }},
        {"not a TIFF byte order", [](std::vector<uint8_t>& v) { v[6] = 'X'; }},
        {"first directory too far", [&](std::vector<uint8_t>& v) { b.Patch(v, 4, 20); }},
        {"IFD0 links to itself", [&](std::vector<uint8_t>& v) { b.Patch(v, ifd0Link, ifd0); }},
        {"EXIF directory's next link back to IFD0",
         [&](std::vector<uint8_t>& v) { b.Patch(v, exif + 2 + 12, ifd0); }},
        {"sub-directory points at its parent",
         [&](std::vector<uint8_t>& v) { b.Patch(v, exifPointer, ifd0); }},
        {"sub-directory outside the block",
         [&](std::vector<uint8_t>& v) { b.Patch(v, exifPointer, 0x7FFFFFF0); }},
        {"value outside the block",
         [&](std::vector<uint8_t>& v) { b.Patch(v, makeValue, 0xFFFFFFF0); }},
        {"format 0", [&](std::vector<uint8_t>& v) { b.Patch16(v, ifd0 + 2 + 2, 0); }},
        {"format 13", [&](std::vector<uint8_t>& v) { b.Patch16(v, ifd0 + 2 + 2, 13); }},
        {"entry count past the block", [&](std::vector<uint8_t>& v) { b.Patch16(v, ifd0, 4000); }},
        {"next link past the block",
         [&](std::vector<uint8_t>& v) { b.Patch(v, ifd0Link, 0x10000); }},
        {"cut short", [](std::vector<uint8_t>& v) { v.resize(30); }},
    };
    tag_ExifInfo info;
    ASSERT_EQ(Read(good, info), 1);
    for (const auto& c : cases) {
        std::vector<uint8_t> v = good;
        c.damage(v);
        tag_ExifInfo bad;
        EXPECT_EQ(Read(v, bad), 0) << c.what;
    }
    // Two links to the same directory are not a loop.
    std::vector<uint8_t> shared = good;
    b.Patch(shared, ifd0Link, exif);
    EXPECT_EQ(Read(shared, info), 1);
}

TEST(ExifReader, SharedReaderNeedsARecord) {
    ExifBlock b(false);
    const std::vector<uint8_t> block = b.Build({Ascii(0x0110, "M")}, {});
    SetExitInfo(nullptr);
    EXPECT_EQ(EXIF_process_EXIF(nullptr, 0, block.data(), static_cast<unsigned>(block.size())), 0);
    tag_ExifInfo info;
    SetExitInfo(&info);
    EXPECT_EQ(EXIF_process_EXIF(nullptr, 0, block.data(), static_cast<unsigned>(block.size())), 1);
    EXPECT_STREQ(info.cameraModel, "M");
    SetExitInfo(nullptr);
}

}  // namespace
