#include "Windows/DiskTexts.h"

namespace velmora::windows {

namespace {

// The quotient goes through single precision before it is printed, so
// 999999 bytes print as 1000.00 KB.
QString Step(double value, double unit, const char* suffix) {
    const float quotient = static_cast<float>(value / unit);
    return QString::asprintf("%0.2f %s", static_cast<double>(quotient), suffix);
}

}  // namespace

QString LongLongDiskSize(int64_t bytes) {
    const double v = static_cast<double>(bytes);
    if (v < 1e3)
        return QString::asprintf("%.0f byte", static_cast<double>(static_cast<float>(v)));
    if (v < 1e6)
        return Step(v, 1e3, "KB");
    if (v < 1e9)
        return Step(v, 1e6, "MB");
    if (v < 1e12)
        return Step(v, 1e9, "GB");
    return Step(v, 1e12, "TB");
}

QString ConvertVolSpace(uint64_t bytes) {
    const double v = static_cast<double>(bytes);
    if (bytes == 0)
        return Step(0, 1, "KB");
    if (v <= 999999)
        return Step(v, 1e3, "KB");
    if (v >= 1e9)
        return Step(v, 1e9, "GB");
    return Step(v, 1e6, "MB");
}

QString FileSystemTypeForInt(int code, bool isDmg) {
    if (isDmg)
        return QStringLiteral("Disk Image");
    static const char* const kNames[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2",   "EXT3",
                                         "RAW",   "EXFAT", "HFS+",  "APFS", "Unknown"};
    if (code >= 0 && code < static_cast<int>(std::size(kNames)))
        return QString::fromLatin1(kNames[code]);
    return QStringLiteral("Disk");
}

}  // namespace velmora::windows
