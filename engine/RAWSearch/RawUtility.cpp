#include "RawUtility.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "ByteReader.h"

unsigned char* Apimemstr(unsigned char* data, int length, const unsigned char* pattern,
                         int patternLength) {
    if (data == nullptr || pattern == nullptr || length <= 0 || patternLength <= 0 ||
        patternLength > length)
        return nullptr;
    const void* hit =
        memmem(data, static_cast<size_t>(length), pattern, static_cast<size_t>(patternLength));
    return static_cast<unsigned char*>(const_cast<void*>(hit));
}

unsigned char* Apimemstr(unsigned char* data, int length,
                         const std::map<std::string, int>& patterns, int& matched) {
    if (data == nullptr || length <= 0)
        return nullptr;
    for (int i = 0; i < length; ++i) {
        for (const auto& [pattern, size] : patterns) {
            const int n = std::min<int>(size, static_cast<int>(pattern.size()));
            if (n <= 0 || n > length - i)
                continue;
            if (std::memcmp(data + i, pattern.data(), static_cast<size_t>(n)) == 0) {
                matched = n;
                return data + i;
            }
        }
    }
    return nullptr;
}

namespace BruteForce {
namespace RawUtility {

int16_t EXIF_Get16s(const unsigned char* p, bool littleEndian) {
    return littleEndian ? vk::LoadLE<int16_t>(p) : vk::LoadBE<int16_t>(p);
}

int32_t EXIF_Get32s(const unsigned char* p, bool littleEndian) {
    return littleEndian ? vk::LoadLE<int32_t>(p) : vk::LoadBE<int32_t>(p);
}

int FindMagicInBuffer(const unsigned char* buffer, int length, int backOffset,
                      const unsigned char* magic, int magicLength) {
    if (buffer == nullptr || magic == nullptr || magicLength <= 0 || length < backOffset ||
        backOffset < 0 || magic[0] == 0)
        return 0;
    int i = std::min(length - backOffset, length - magicLength);
    for (; i >= 0; --i) {
        if (buffer[i] != magic[0])
            continue;
        if (std::memcmp(buffer + i, magic, static_cast<size_t>(magicLength)) == 0)
            return i + magicLength;
    }
    return 0;
}

int Binary_Compare(const unsigned char* buffer, int length) {
    if (buffer == nullptr)
        return 0;
    for (int i = length; i > 0; --i) {
        if (buffer[i - 1] != 0)
            return i;
    }
    return 0;
}

}  // namespace RawUtility
}  // namespace BruteForce

unsigned long UTF8ToANSI(const unsigned char* text, unsigned long length, char* out,
                         unsigned long outputLength) {
    if (text == nullptr || out == nullptr || outputLength == 0)
        return 0;
    out[0] = '\0';
    // Decode at most outputLength characters; malformed bytes stop the text.
    std::vector<wchar_t> wide;
    wide.reserve(std::min<unsigned long>(length, outputLength) + 1);
    unsigned long i = 0;
    while (i < length && wide.size() < outputLength && text[i] != 0) {
        const unsigned char c = text[i];
        uint32_t cp = 0;
        int extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            break;
        }
        if (i + static_cast<unsigned long>(extra) >= length && extra != 0)
            break;
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cc = text[i + static_cast<unsigned long>(k)];
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok)
            break;
        wide.push_back(static_cast<wchar_t>(cp));
        i += static_cast<unsigned long>(extra) + 1;
    }
    wide.push_back(L'\0');
    // wcstombs never writes more than the count it is given; one byte is
    // kept for the terminating zero.
    const size_t written = std::wcstombs(out, wide.data(), outputLength - 1);
    if (written == static_cast<size_t>(-1)) {
        out[0] = '\0';
        return 0;
    }
    out[written] = '\0';
    return static_cast<unsigned long>(written);
}
