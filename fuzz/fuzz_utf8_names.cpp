// Names read from disk are checked for UTF-8 before they are shown or used as
// a path; the check must hold for any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ByteReader.h"
#include "Utility/FileUtility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string s(reinterpret_cast<const char*>(data), size);
    isValidString(s.data(), s.size());
    isValidString(s.c_str());
    vk::ByteReader r(data, size);
    for (size_t off = 0; off < size + 4; off += 3)
        (void)(r.LE32(off) + r.BE64(off) + r.LEN(off, off % 9));
    return 0;
}
