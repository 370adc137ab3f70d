// The texts of the disk list: sizes in decimal steps of 1000 and
// file-system names by the engine's file-system code.
#pragma once

#include <cstdint>

#include <QString>

namespace velmora::windows {

// "999 byte", "1.00 KB", ... "2.00 TB"; a negative count falls in the
// first step.
QString LongLongDiskSize(int64_t bytes);
// The same without the TB step (1000000000 and above stays in GB); 0 is
// "0.00 KB".
QString ConvertVolSpace(uint64_t bytes);
// "FAT32", "NTFS", ... "Unknown" for 10, "Disk" for codes outside the
// table, "Disk Image" for any disk image.
QString FileSystemTypeForInt(int code, bool isDmg);

}  // namespace velmora::windows
