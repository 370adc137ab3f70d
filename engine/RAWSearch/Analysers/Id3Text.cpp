#include "Id3Text.h"

#include <chardet.h>
#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "Utility/TextConvert.h"

namespace {

// libchardet names a few sets the way browsers do; glibc's iconv knows them
// by other names.
std::string IconvName(const std::string& name) {
    static constexpr struct {
        const char* detected;
        const char* iconv;
    } kNames[] = {
        {"x-mac-cyrillic", "MAC-CYRILLIC"},
        {"x-euc-tw", "EUC-TW"},
        {"HZ-GB-2312", "GB18030"},  // glibc has no HZ decoder on every build
    };
    for (const auto& n : kNames) {
        if (strcasecmp(name.c_str(), n.detected) == 0)
            return n.iconv;
    }
    return name;
}

// The text up to its first zero byte, at most `limit` bytes.
std::string Cut(const uint8_t* text, size_t length, size_t limit) {
    length = std::min(length, limit);
    size_t n = 0;
    while (n < length && text[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(text), n);
}

bool WellFormedUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t follow = 0;
        if (c < 0x80)
            follow = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            follow = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            follow = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            follow = 3;
        else
            return false;
        for (size_t k = 1; k <= follow; ++k) {
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += follow + 1;
    }
    return true;
}

// Bytes of 0x80 and above become "_"; a text of nothing else becomes empty.
std::string Underscored(const std::string& s) {
    std::string out = s;
    bool plain = false;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) >= 0x80)
            c = '_';
        else
            plain = true;
    }
    return plain ? out : std::string();
}

}  // namespace

std::string Id3TextDecoder::GuessCharset(const std::string& text) {
    if (text.empty())
        return {};
    DetectObj* obj = detect_obj_init();
    if (obj == nullptr)
        return {};
    std::string charset;
    const short result = detect(text.c_str(), &obj);
    if (result != CHARDET_NULL_OBJECT && result != CHARDET_OUT_OF_MEMORY && obj != nullptr &&
        obj->encoding != nullptr && obj->confidence > 0.0f)
        charset = obj->encoding;
    detect_obj_free(&obj);
    return charset;
}

bool Id3TextDecoder::Convert(const std::string& text, const std::string& charset,
                             std::string& out) {
    out.clear();
    if (charset.empty())
        return false;
    iconv_t cd = iconv_open("UTF-8", IconvName(charset).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::vector<char> input(text.begin(), text.end());
    std::vector<char> output(text.size() * 4 + 16);
    char* in = input.data();
    size_t inLeft = input.size();
    char* o = output.data();
    size_t outLeft = output.size();
    const size_t done = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1) || inLeft != 0)
        return false;
    out.assign(output.data(), output.size() - outLeft);
    return true;
}

std::string Id3TextDecoder::Latin(const uint8_t* text, size_t length, bool guess) {
    const std::string raw = Cut(text, length, m_limits.latin);
    if (raw.empty())
        return raw;
    if (guess && !m_guessed) {
        m_charset = GuessCharset(raw);
        m_guessed = true;
    }
    const std::string charset = !m_charset.empty() ? m_charset : GuessCharset(raw);
    std::string out;
    if (Convert(raw, charset, out))
        return out;
    return Underscored(raw);
}

std::string Id3TextDecoder::FrameText(const uint8_t* body, size_t length, bool guess) {
    if (body == nullptr || length < 1)
        return {};
    const uint8_t encoding = body[0];
    const uint8_t* text = body + 1;
    const size_t n = length - 1;
    switch (encoding) {
        case 0:
            return Latin(text, n, guess);
        case 1: {
            if (n < 2 || text[0] != 0xFF || text[1] != 0xFE)
                return {};
            const size_t units = std::min(n - 2, m_limits.unicode) / 2;
            vk::Utf16Options options;
            options.stopAtNul = true;
            return vk::Utf16ToUtf8(text + 2, units, options);
        }
        case 3: {
            const std::string raw = Cut(text, n, m_limits.unicode);
            if (!m_limits.checkUtf8 || WellFormedUtf8(raw))
                return raw;
            return Underscored(raw);
        }
        default:
            return {};  // UTF-16 without a byte-order mark is not read
    }
}

std::string Id3TextDecoder::V1Text(const uint8_t* field, size_t length, const uint8_t* titleField,
                                   size_t titleLength) {
    if (!m_guessed) {
        m_charset = GuessCharset(Cut(titleField, titleLength, titleLength));
        m_guessed = true;
    }
    std::string raw = Cut(field, length, length);
    while (!raw.empty() && raw.back() == ' ')
        raw.pop_back();
    if (raw.empty() || m_charset.empty())
        return {};
    std::string out;
    if (Convert(raw, m_charset, out))
        return out;
    return Underscored(raw);
}
