// Property lists from the update host and from other machines: whatever
// the bytes, parsing ends without a crash, and what parses writes back out.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/desktop/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    auto value = velmora::platform::ParsePlist(bytes);
    if (value) {
        const std::string xml = velmora::platform::ToXmlPlist(*value);
        if (xml.empty())
            __builtin_trap();
    }
    return 0;
}
