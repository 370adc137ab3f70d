// Installer packages: xar archives (a big-endian header, a zlib-compressed
// XML table of contents, then the heap the table points into) and the flat
// 7F "PKG" form whose header carries the whole length. Sized from the
// device: the table of contents is inflated and read for the furthest heap
// extent any of its entries names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "RawFileInfo.h"

namespace pkg_layout {
constexpr size_t kHeaderSizeBE = 4;        // 16 bits: where the table of contents starts
constexpr size_t kTocCompressedBE = 8;     // 64 bits
constexpr size_t kTocUncompressedBE = 16;  // 64 bits
constexpr size_t kHeaderBytes = 28;        // the smallest header
constexpr size_t kMaxHeaderBytes = 4096;   // larger ones are not xar headers
constexpr size_t kFlatVersionBE = 6;       // 16 bits: 1 or 2
constexpr size_t kFlatSizeBE = 24;         // 64 bits: the whole package
constexpr size_t kFlatHeaderBytes = 32;
constexpr uint64_t kTocLimit = 0x300000;  // either length of the table of contents
constexpr long long kSizeLimit = 0x280000000LL;
static_assert(kTocUncompressedBE + 8 + 4 == kHeaderBytes);
static_assert(kFlatSizeBE + 8 == kFlatHeaderBytes);
}  // namespace pkg_layout

class FilePKGAnalyser : public IRawFileAnalyser {
public:
    FilePKGAnalyser() : IRawFileAnalyser(RAW_PKG) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;

    // The flat form: 1 with its length when `header` (kFlatHeaderBytes) is
    // one and the length is within the limit; 0 (size 0) otherwise.
    static int PkgSignFileSize(const unsigned char* header, long long& size);
    // The furthest byte of the heap the table of contents `toc` names (the
    // end of its own checksum and of every file's data); -1 when the text is
    // no table of contents with a file in it.
    static long long HeapExtent(std::string_view toc);
};
