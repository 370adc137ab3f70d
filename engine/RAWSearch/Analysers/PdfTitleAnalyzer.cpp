#include "PdfTitleAnalyzer.h"

#include <cstring>

#include "RawFileInfo.h"
#include "Utility/TextConvert.h"

namespace BruteForce {

namespace {

bool IsLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

std::string Cut(std::string value) {
    if (value.size() > PdfTitleAnalyzer::kMaxValueBytes)
        value.resize(
            vk::Utf8CutPoint(value.data(), value.size(), PdfTitleAnalyzer::kMaxValueBytes));
    return value;
}

}  // namespace

bool PdfTitleAnalyzer::RemoveNolessVec(const char* text, int length) {
    if (text == nullptr || length <= 0)
        return false;
    const int at[4] = {0, length / 4 - 1, 2 * length / 4 - 1, 3 * length / 4 - 1};
    for (int i : at) {
        if (i < 0 || i >= length)
            continue;
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0 || (c >= '1' && c <= '9') || IsLetter(c) || c == '?' || c == '@' || c >= 254 ||
            std::strchr("\r ()-./:<>", c) != nullptr)
            return true;
    }
    return false;
}

const char* PdfTitleAnalyzer::myStrstr(const char* text, int length, const char* word,
                                       int wordLength, int& offset) {
    offset = -1;
    if (text == nullptr || word == nullptr || wordLength <= 0 || length < wordLength)
        return nullptr;
    // Called on every sector of an open document, six times: memchr jumps
    // to each candidate first byte instead of a test per byte.
    const char* const last = text + (length - wordLength);
    for (const char* at = text; at <= last; ++at) {
        at = static_cast<const char*>(std::memchr(at, word[0], static_cast<size_t>(last - at) + 1));
        if (at == nullptr)
            break;
        if (std::memcmp(at, word, static_cast<size_t>(wordLength)) == 0) {
            offset = static_cast<int>(at - text);
            return at;
        }
    }
    return nullptr;
}

std::string PdfTitleAnalyzer::ObtainPerInfo(const char* at, int length) {
    const int n = length < kValueSpan ? length : kValueSpan;
    if (at == nullptr || n <= 0)
        return {};
    // The value lies before the next key.
    int end = n;
    for (int i = 0; i < n; ++i) {
        if (at[i] == '/') {
            end = i;
            break;
        }
    }
    int open = -1;
    int close = -1;
    for (int i = 0; i < end; ++i) {
        if (open < 0 && at[i] == '(')
            open = i;
        if (close < 0 && at[i] == ')')
            close = i;
    }
    if (close < 0 || (open >= 0 && close < open))
        return {};
    const int first = open >= 0 ? open + 1 : 0;
    std::string value(at + first, static_cast<size_t>(close - first));
    if (value.size() >= 2 && static_cast<unsigned char>(value[0]) == 0xFE &&
        static_cast<unsigned char>(value[1]) == 0xFF) {
        vk::Utf16Options options;
        options.order = vk::Utf16Order::BigEndian;
        options.stopAtNul = true;
        return vk::Utf16ToUtf8(reinterpret_cast<const uint8_t*>(value.data()) + 2,
                               (value.size() - 2) / 2, options);
    }
    return value;
}

std::string PdfTitleAnalyzer::TimeChange(const std::string& value) {
    // "D:" and fourteen digits; what may follow (the time zone) is optional.
    if (value.size() < 16)
        return {};
    for (size_t i = 2; i < 16; ++i) {
        if (!IsDigit(static_cast<unsigned char>(value[i])))
            return {};
    }
    return value.substr(2, 4) + "-" + value.substr(6, 2) + "-" + value.substr(8, 2) + " " +
           value.substr(10, 2) + "-" + value.substr(12, 2) + "-" + value.substr(14, 2);
}

bool PdfTitleAnalyzer::JudeLegalInfo(const std::string& value) {
    if (value.size() < 2)
        return false;
    for (unsigned char c : value) {
        if (!IsLetter(c) && !IsDigit(c) && c != '_' && c != ' ' && c != '(' && c != '-' && c != '.')
            return false;
    }
    return true;
}

std::string PdfTitleAnalyzer::RemoveIllegalTitle(const std::string& title) {
    for (unsigned char c : title) {
        if (IsDigit(c))
            return {};
    }
    return title;
}

int PdfTitleAnalyzer::SeparateInformation(const char* text, int length, FileProperty& property) {
    static const char* const kKeys[6] = {"Author",  "Creator",  "CreationDate",
                                         "ModDate", "Producer", "Title"};
    int at[6];
    for (int k = 0; k < 6; ++k)
        myStrstr(text, length, kKeys[k], static_cast<int>(std::strlen(kKeys[k])), at[k]);
    const bool author = at[0] >= 0, creator = at[1] >= 0, created = at[2] >= 0,
               modified = at[3] >= 0;
    if (!(author && creator) && !(created && (author || creator || modified)))
        return 0;
    auto text_ = [&](int k) { return Cut(ObtainPerInfo(text + at[k], length - at[k])); };
    auto name = [&](int k, std::string& field, bool title) {
        if (at[k] < 0)
            return;
        const std::string value = ApiStrFilterBadFileName(text_(k));
        if (JudeLegalInfo(value))
            field = title ? RemoveIllegalTitle(value) : value;
    };
    name(0, property.lastAuthor, false);
    name(1, property.creator, false);
    if (created)
        property.created = TimeChange(text_(2));
    if (modified)
        property.modified = TimeChange(text_(3));
    name(4, property.producer, false);
    name(5, property.title, true);
    return !property.creator.empty() || !property.lastAuthor.empty() || !property.created.empty() ||
                   !property.modified.empty()
               ? 1
               : 0;
}

int PdfTitleAnalyzer::ObtainPerSecPDFInformation(const unsigned char* text, int length,
                                                 bool moreFollows, FileProperty& property) {
    const char* t = reinterpret_cast<const char*>(text);
    if (!RemoveNolessVec(t, length))
        return 0;
    int offset = 0;
    const char* obj = myStrstr(t, length, "obj", 3, offset);
    if (obj == nullptr)
        return 0;
    int left = length - offset;
    if (moreFollows)
        left += length;
    if (left < 0)
        return 0;
    m_length = left;
    return SeparateInformation(obj, left, property);
}

}  // namespace BruteForce
