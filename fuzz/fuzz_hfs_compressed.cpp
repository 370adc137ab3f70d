// The compressed-file reader over bytes in memory: a type byte (3, 4, 7 or 8
// by its value modulo 4), a little-endian 8-byte uncompressed size (taken
// modulo 1 MiB), then the inline data or the resource fork. The file is read
// whole and in odd pieces; both must agree. Seeds: zlib and LZVN files made
// as the fixture generator makes them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "HFSPlusLib/HFSPlusCompress.h"
#include "HFSPlusLib/HFSPlusStructs.h"

using hfsplus::CHFSPlusCompressFileReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hfsplus::SetErrorLines(false);
    if (size < 9 || size > (1u << 20))
        return 0;
    static const uint32_t kTypes[4] = {3, 4, 7, 8};
    const uint32_t type = kTypes[data[0] % 4];
    uint64_t usize = 0;
    std::memcpy(&usize, data + 1, 8);
    usize %= (1u << 20);
    std::vector<uint8_t> attr(16, 0);
    std::memcpy(attr.data(), "fpmc", 4);
    std::memcpy(attr.data() + 4, &type, 4);
    std::memcpy(attr.data() + 8, &usize, 8);
    std::vector<uint8_t> rest(data + 9, data + size), fork;
    if (type == 3 || type == 7)
        attr.insert(attr.end(), rest.begin(), rest.end());
    else
        fork = rest;
    std::unique_ptr<CHFSPlusCompressFileReader> whole(
        CHFSPlusCompressFileReader::FromMemory(attr, fork));
    std::unique_ptr<CHFSPlusCompressFileReader> pieces(
        CHFSPlusCompressFileReader::FromMemory(attr, fork));
    std::vector<char> a(1u << 20), b(1u << 20);
    int errA = 0, errB = 0;
    const unsigned gotA = whole->ReadData(0, a.data(), static_cast<unsigned>(a.size()), &errA);
    unsigned gotB = 0;
    while (gotB < b.size()) {
        const unsigned n = pieces->ReadData(gotB, b.data() + gotB, 7919, &errB);
        if (n == 0 || errB)
            break;
        gotB += n;
    }
    if (!errA && !errB && (gotA != gotB || std::memcmp(a.data(), b.data(), gotA) != 0))
        __builtin_trap();
    return 0;
}
