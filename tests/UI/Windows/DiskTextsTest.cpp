#include "Windows/DiskTexts.h"

#include <gtest/gtest.h>

#include "QtPrinters.h"

namespace velmora::windows {
namespace {

TEST(DiskTexts, SizesInDecimalSteps) {
    const struct {
        int64_t bytes;
        const char* disk;    // with the TB step
        const char* volume;  // without it
    } cases[] = {
        {0, "0 byte", "0.00 KB"},
        {999, "999 byte", "1.00 KB"},
        {1000, "1.00 KB", "1.00 KB"},
        {999'999, "1000.00 KB", "1000.00 KB"},
        {1'000'000, "1.00 MB", "1.00 MB"},
        {1'500'000, "1.50 MB", "1.50 MB"},
        {1'000'000'000, "1.00 GB", "1.00 GB"},
        {2'000'000'000'000, "2.00 TB", "2000.00 GB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(LongLongDiskSize(c.bytes), c.disk);
        EXPECT_EQ(ConvertVolSpace(static_cast<uint64_t>(c.bytes)), c.volume);
    }
    EXPECT_EQ(LongLongDiskSize(-5), "-5 byte");
}

TEST(DiskTexts, FileSystemNames) {
    const struct {
        int code;
        bool image;
        const char* name;
    } cases[] = {{0, false, "FAT12"}, {2, false, "FAT32"}, {3, false, "NTFS"},
                 {7, false, "EXFAT"}, {9, false, "APFS"},  {10, false, "Unknown"},
                 {11, false, "Disk"}, {-1, false, "Disk"}, {3, true, "Disk Image"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(FileSystemTypeForInt(c.code, c.image), c.name);
    }
}

}  // namespace
}  // namespace velmora::windows
