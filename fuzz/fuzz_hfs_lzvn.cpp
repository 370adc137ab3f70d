// The LZVN decoder on any stream, into destinations of two sizes (one that
// cuts the output short). Seeds: streams of the fixture generator's encoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "HFSPlusLib/HFSPlusCompress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out(65536);
    const size_t n = hfsplus::lzvn_decode(out.data(), out.size(), data, size);
    if (n > out.size())
        __builtin_trap();
    std::vector<uint8_t> small(37);
    if (hfsplus::lzvn_decode(small.data(), small.size(), data, size) > small.size())
        __builtin_trap();
    return 0;
}
