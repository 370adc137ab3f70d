#include "platform/TextBuffer.h"

#include <cstring>

namespace velmora::platform {

bool CopyToBuffer(char* out, size_t size, std::string_view text, bool* truncated) {
    if (out == nullptr || size == 0)
        return false;
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    if (n < text.size()) {
        // Step back over continuation bytes to the start of the cut sequence,
        // so the field holds whole characters only.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xc0) == 0x80)
            --n;
    }
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    if (truncated)
        *truncated = n < text.size();
    return true;
}

}  // namespace velmora::platform
