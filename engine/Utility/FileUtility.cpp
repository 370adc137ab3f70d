#include "Utility/FileUtility.h"

#include <sys/stat.h>

#include <cstring>

#include "platform/AppPaths.h"
#include "platform/FileCopy.h"

uint32_t GetFileSize(const char* path) {
    if (path == nullptr)
        return 0;
    struct stat st {};
    if (stat(path, &st) != 0 || st.st_size <= 0)
        return 0;
    return static_cast<uint32_t>(st.st_size);
}

int CopyFileA(const char* from, const char* to, int) {
    if (from == nullptr || to == nullptr)
        return -1;
    return velmora::platform::CopyTree(from, to);
}

std::string GetAppWorkPath() {
    return velmora::platform::ExecutableFolder();
}

bool isValidString(const char* text) {
    return text != nullptr && isValidString(text, std::strlen(text));
}

bool isValidString(const char* text, size_t length) {
    if (text == nullptr)
        return false;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t extra;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;  // continuation byte first, overlong lead (C0/C1) or past F4
        }
        if (length - i <= extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char cc = s[i + k];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, UTF-16 surrogates and values past U+10FFFF.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}
