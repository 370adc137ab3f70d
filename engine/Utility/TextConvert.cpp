#include "Utility/TextConvert.h"

namespace vk {

bool AppendUtf8(std::string& out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    return true;
}

namespace {

template <typename UnitAt>
std::string Convert(size_t count, const Utf16Options& options, bool* damaged, UnitAt unitAt) {
    std::string out;
    out.reserve(count < 256 ? count * 3 : count);
    bool bad = false;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t unit = unitAt(i);
        uint32_t cp = unit;
        size_t used = 1;
        if (unit == 0 && options.stopAtNul)
            break;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
            const uint16_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
                used = 2;
            }
        }
        const bool replace = unit == 0 || (used == 1 && unit >= 0xD800 && unit <= 0xDFFF);
        const size_t before = out.size();
        if (replace) {
            out.push_back('_');
            bad = true;
        } else {
            AppendUtf8(out, cp);
        }
        if (out.size() > options.maxBytes) {
            out.resize(before);
            break;
        }
        i += used - 1;
    }
    if (damaged)
        *damaged = bad;
    return out;
}

}  // namespace

std::string Utf16ToUtf8(const uint8_t* data, size_t units, const Utf16Options& options,
                        bool* damaged) {
    if (data == nullptr)
        units = 0;
    const bool be = options.order == Utf16Order::BigEndian;
    return Convert(units, options, damaged, [data, be](size_t i) -> uint16_t {
        const uint8_t a = data[2 * i];
        const uint8_t b = data[2 * i + 1];
        return be ? static_cast<uint16_t>((a << 8) | b) : static_cast<uint16_t>((b << 8) | a);
    });
}

std::string Utf16UnitsToUtf8(const uint16_t* units, size_t count, const Utf16Options& options,
                             bool* damaged) {
    if (units == nullptr)
        count = 0;
    return Convert(count, options, damaged, [units](size_t i) { return units[i]; });
}

size_t Utf8CutPoint(const char* text, size_t length, size_t maxBytes) {
    if (text == nullptr)
        return 0;
    if (length <= maxBytes)
        return length;
    size_t pos = 0;
    while (pos < length) {
        const auto lead = static_cast<uint8_t>(text[pos]);
        size_t len = 1;
        if (lead >= 0xC2 && lead <= 0xDF)
            len = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            len = 3;
        else if (lead >= 0xF0 && lead <= 0xF4)
            len = 4;
        if (len > 1) {
            if (pos + len > length)
                len = 1;
            for (size_t k = 1; k < len; ++k) {
                if ((static_cast<uint8_t>(text[pos + k]) & 0xC0) != 0x80) {
                    len = 1;
                    break;
                }
            }
        }
        if (pos + len > maxBytes)
            break;
        pos += len;
    }
    return pos;
}

}  // namespace vk
