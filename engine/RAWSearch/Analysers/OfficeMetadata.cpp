#include "OfficeMetadata.h"

#include <iconv.h>
#include <tinyxml2.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "ByteReader.h"
#include "OfficeLayout.h"
#include "RawUtility.h"
#include "Utility/TextConvert.h"

namespace {

constexpr uint32_t kTitle = 2;
constexpr uint32_t kAuthor = 4;
constexpr uint32_t kLastAuthor = 8;
constexpr uint32_t kCreated = 12;
constexpr uint32_t kLastSaved = 13;
constexpr uint32_t kMaxProperties = 31;
constexpr uint32_t kMaxStringBytes = 1024;
constexpr size_t kMaxAnsiText = 24;

constexpr uint32_t kTypeI2 = 2;
constexpr uint32_t kTypeString = 30;
constexpr uint32_t kTypeWideString = 31;
constexpr uint32_t kTypeFileTime = 64;

// FILETIME of 1970-01-01, in seconds.
constexpr int64_t kUnixEpochSeconds = 11644473600LL;

// Lead bytes below 0x80, or C0-DF with one and E0-EF with two continuation
// bytes: what the summary reader takes for UTF-8 as it stands.
bool LooksUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t follow = 0;
        if (c < 0x80)
            follow = 0;
        else if (c >= 0xC0 && c <= 0xDF)
            follow = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            follow = 2;
        else
            return false;
        for (size_t k = 1; k <= follow; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += follow + 1;
    }
    return true;
}

std::string GbkToUtf8(const std::string& text) {
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    std::vector<char> out(text.size() * 2 + 4, 0);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* to = out.data();
    size_t outLeft = out.size() - 1;
    const size_t r = iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1))
        return {};
    return std::string(out.data(), static_cast<size_t>(to - out.data()));
}

// The 8-bit text of a summary value: taken as UTF-8 when it is, else read
// as GBK; leading spaces dropped, cut to 24 bytes between characters.
std::string AnsiText(const uint8_t* data, uint32_t count) {
    std::string text(reinterpret_cast<const char*>(data), count);
    const size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    if (!LooksUtf8(text))
        text = GbkToUtf8(text);
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    text.erase(0, first);
    // A cut inside a character would leave a name that is no UTF-8 at all.
    text.resize(vk::Utf8CutPoint(text.data(), text.size(), kMaxAnsiText));
    return text;
}

std::string LocaleText(const char* text) {
    if (text == nullptr)
        return {};
    const size_t length = std::strlen(text);
    if (length == 0 || length > Dunmere::OfficeTagFromXML::kMaxText)
        return {};
    char out[1024] = {};
    const unsigned long n =
        UTF8ToANSI(reinterpret_cast<const unsigned char*>(text), length, out, sizeof out);
    return n != 0 ? std::string(out, n) : std::string();
}

}  // namespace

// ---------------------------------------------------------------------------
// Summary information

std::string CSummaryInFormation::TimeText(uint64_t fileTime) {
    if (fileTime == 0)
        return {};
    // The real date of the local calendar: moving the count to another
    // epoch and back lands a day off wherever leap days do not line up.
    const time_t seconds =
        static_cast<time_t>(static_cast<int64_t>(fileTime / 10000000ULL) - kUnixEpochSeconds);
    struct tm local {};
    if (localtime_r(&seconds, &local) == nullptr)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d-%02d-%02d-%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

int CSummaryInFormation::GetFileInformation(const unsigned char* stream, FileProperty& property,
                                            int length) {
    using namespace summary_layout;
    if (stream == nullptr || length <= 0)
        return 0;
    const vk::ByteReader r(stream, static_cast<size_t>(length));
    m_length = static_cast<uint32_t>(length);
    if (!r.Has(0, kHeaderBytes) || r.LE16(kByteOrder) != 0xFFFE || r.LE16(kVersion) > 1)
        return 0;
    const uint32_t sections = r.LE32(kSectionCount);
    if (sections < 1 || sections > 2)
        return 0;
    // Other property sets (the document summary among them) begin alike but
    // number their properties otherwise.
    if (std::memcmp(stream + kFormatId, kSummaryFormatId, sizeof kSummaryFormatId) != 0)
        return 0;
    const uint32_t section = r.LE32(kSectionOffset);
    if (!r.Has(section, kPropertyList))
        return 0;
    m_sectionBytes = r.LE32(section + kSectionBytes);
    m_propertyCount = r.LE32(section + kPropertyCount);
    if (m_propertyCount < 1)
        return 0;
    bool found = false;
    bool whole = true;
    const uint32_t count = m_propertyCount < kMaxProperties ? m_propertyCount : kMaxProperties;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = section + kPropertyList + static_cast<size_t>(i) * kPropertyEntryBytes;
        if (!r.Has(entry, kPropertyEntryBytes)) {
            whole = false;
            break;
        }
        const uint32_t id = r.LE32(entry);
        if (id != kTitle && id != kAuthor && id != kLastAuthor && id != kCreated &&
            id != kLastSaved)
            continue;
        const uint64_t at = static_cast<uint64_t>(section) + r.LE32(entry + 4);
        if (at + kValueMinBytes > static_cast<uint64_t>(length)) {
            whole = false;
            break;
        }
        const size_t value = static_cast<size_t>(at);
        const uint32_t type = r.LE32(value + kValueType);
        std::string text;
        if (type == kTypeString) {
            const uint32_t bytes = r.LE32(value + kValueData);
            if (bytes > kMaxStringBytes || !r.Has(value + kValueMinBytes, bytes))
                continue;
            text = AnsiText(stream + value + kValueMinBytes, bytes);
        } else if (type == kTypeWideString) {
            const uint32_t chars = r.LE32(value + kValueData);
            if (chars * 2ULL > kMaxStringBytes || !r.Has(value + kValueMinBytes, chars * 2ULL))
                continue;
            vk::Utf16Options options;
            options.stopAtNul = true;
            text = vk::Utf16ToUtf8(stream + value + kValueMinBytes, chars, options);
        } else if (type == kTypeFileTime) {
            if (!r.Has(value + kValueData, 8))
                continue;
            text = TimeText(r.LE64(value + kValueData));
        } else {
            // kTypeI2 (the code page) and anything else: not used.
            (void)kTypeI2;
            continue;
        }
        switch (id) {
            case kTitle:
                property.title = text;
                break;
            case kAuthor:
                property.creator = text;
                break;
            case kLastAuthor:
                property.lastAuthor = text;
                break;
            case kCreated:
                property.created = text;
                break;
            default:
                property.modified = text;
                break;
        }
        found = found || !text.empty();
    }
    return found && whole ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Core properties

namespace Dunmere {

OfficeTagFromXML& OfficeTagFromXML::Instance() {
    static OfficeTagFromXML instance;
    return instance;
}

std::string OfficeTagFromXML::FilterTime(const std::string& text) {
    std::string out = text;
    for (size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (i > 0 && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            out[i] = ' ';
        else if (c == ':')
            out[i] = '-';
    }
    return out;
}

bool OfficeTagFromXML::InflateMember(const unsigned char* data, size_t compressedSize,
                                     uint16_t method, uint32_t uncompressedSize, std::string& out) {
    out.clear();
    if (data == nullptr || uncompressedSize == 0 || uncompressedSize > kMaxMemberBytes)
        return false;
    if (method == 0) {
        // A stored member is its own text.
        if (compressedSize != uncompressedSize)
            return false;
        out.assign(reinterpret_cast<const char*>(data), compressedSize);
        return true;
    }
    if (method != 8)
        return false;
    std::vector<unsigned char> buffer(kBufferBytes, 0);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(compressedSize);
    z.next_out = buffer.data();
    z.avail_out = uncompressedSize;
    const int result = inflate(&z, Z_FINISH);
    const size_t produced = uncompressedSize - z.avail_out;
    inflateEnd(&z);
    if (result < 0 && result != Z_BUF_ERROR)
        return false;
    out.assign(reinterpret_cast<const char*>(buffer.data()), produced);
    return produced > 0;
}

int OfficeTagFromXML::ReadCoreProperties(const std::string& xml, FileProperty& property) {
    // Writers differ on the XML declaration (openpyxl writes none): what
    // matters is that the member inflated to XML at all.
    if (xml.empty() || xml[0] != '<')
        return 0;
    tinyxml2::XMLDocument doc;
    if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS)
        return 0;
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr || std::strcmp(root->Name(), "cp:coreProperties") != 0)
        return 0;
    auto text = [root](const char* name) -> const char* {
        const tinyxml2::XMLElement* e = root->FirstChildElement(name);
        return e != nullptr ? e->GetText() : nullptr;
    };
    auto assign = [](std::string& field, const std::string& value) {
        if (!value.empty())
            field = value;
    };
    assign(property.title, LocaleText(text("dc:title")));
    assign(property.creator, LocaleText(text("dc:creator")));
    assign(property.lastAuthor, LocaleText(text("cp:lastModifiedBy")));
    if (const char* created = text("dcterms:created"))
        assign(property.created, FilterTime(created));
    if (const char* modified = text("dcterms:modified"))
        assign(property.modified, FilterTime(modified));
    return 1;
}

int OfficeTagFromXML::GetOfficeTagFromXML(const unsigned char* data, int sectorSize,
                                          long long sector, long long headerOffset,
                                          const CRawFileInfo::SearchContext& ctx,
                                          const tagZipLocalFileHeader& header,
                                          FileProperty& property, int& needMore) {
    needMore = 0;
    if (data == nullptr || sectorSize <= 0 || header.compressedSize == 0 ||
        header.uncompressedSize == 0 || header.compressedSize > kMaxMemberBytes ||
        header.uncompressedSize > kMaxMemberBytes || header.method > 10)
        return 0;
    const long long before = (sector - ctx.windowFirstSector) * sectorSize;
    const long long after = (ctx.windowEndSector - sector) * sectorSize;
    const long long start = headerOffset + static_cast<long long>(zip_layout::kLocalBytes) +
                            header.nameLength + header.extraLength;
    if (start + static_cast<long long>(header.compressedSize) > after) {
        needMore = 1;
        return 0;
    }
    // The member began in a sector the buffer no longer holds.
    if (before < 0 || headerOffset < -before)
        return 0;
    std::string xml;
    if (!InflateMember(data + start, header.compressedSize, header.method, header.uncompressedSize,
                       xml))
        return 0;
    return ReadCoreProperties(xml, property);
}

}  // namespace Dunmere
