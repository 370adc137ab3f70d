#include "PackageAnalyser.h"

#include <zlib.h>

#include <tinyxml2.h>
#include <algorithm>
#include <cstring>
#include <vector>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "RawFileBuffer.h"

VK_RAW_ANALYSER_FACTORY(NewFilePKGAnalyser, FilePKGAnalyser);

namespace {

constexpr uint8_t kXarMagic[4] = {'x', 'a', 'r', '!'};
constexpr uint8_t kFlatMagic[4] = {0x7F, 'P', 'K', 'G'};

// A decimal text of a table of contents; false unless it is digits only and
// below the package limit.
bool ReadDecimal(const tinyxml2::XMLElement* element, long long& value) {
    if (element == nullptr || element->GetText() == nullptr)
        return false;
    std::string_view text = element->GetText();
    while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 18)
        return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > pkg_layout::kSizeLimit)
        return false;
    value = v;
    return true;
}

// offset + length (or + size) of an element that places bytes in the heap.
long long PlacedEnd(const tinyxml2::XMLElement* element, const char* lengthName) {
    long long offset = 0;
    long long length = 0;
    if (!ReadDecimal(element->FirstChildElement("offset"), offset) ||
        !ReadDecimal(element->FirstChildElement(lengthName), length))
        return 0;
    return offset + length;
}

}  // namespace

int FilePKGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    if (std::memcmp(sector, kXarMagic, 4) != 0 && std::memcmp(sector, kFlatMagic, 4) != 0)
        return 0;
    info.m_type = RAW_PKG;
    return 1;
}

int FilePKGAnalyser::PkgSignFileSize(const unsigned char* header, long long& size) {
    using namespace pkg_layout;
    size = 0;
    const vk::ByteReader r(header, kFlatHeaderBytes);
    if (!r.Matches(0, std::string_view(reinterpret_cast<const char*>(kFlatMagic), 4)))
        return 0;
    const uint16_t version = r.BE16(kFlatVersionBE);
    if (version != 1 && version != 2)
        return 0;
    const uint64_t length = r.BE64(kFlatSizeBE);
    if (length == 0 || length > static_cast<uint64_t>(kSizeLimit))
        return 0;
    size = static_cast<long long>(length);
    return 1;
}

long long FilePKGAnalyser::HeapExtent(std::string_view toc) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(toc.data(), toc.size()) != tinyxml2::XML_SUCCESS)
        return -1;
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr)
        return -1;
    const tinyxml2::XMLElement* table = root->FirstChildElement("toc");
    if (table == nullptr)
        table = root->FirstChildElement();
    if (table == nullptr || table->FirstChildElement("file") == nullptr)
        return -1;
    // Every entry that places bytes in the heap counts, not only the one
    // with the highest id: that may be a folder (no data) or may lie before
    // others, and a package cut at it loses the files after it.
    long long extent = 0;
    if (const tinyxml2::XMLElement* sum = table->FirstChildElement("checksum"))
        extent = std::max(extent, PlacedEnd(sum, "size"));
    // Depth first without recursion; the parser has bounded the nesting.
    std::vector<const tinyxml2::XMLElement*> pending;
    for (auto* f = table->LastChildElement("file"); f != nullptr;
         f = f->PreviousSiblingElement("file"))
        pending.push_back(f);
    while (!pending.empty()) {
        const tinyxml2::XMLElement* file = pending.back();
        pending.pop_back();
        for (auto* data = file->FirstChildElement("data"); data != nullptr;
             data = data->NextSiblingElement("data"))
            extent = std::max(extent, PlacedEnd(data, "length"));
        for (auto* f = file->LastChildElement("file"); f != nullptr;
             f = f->PreviousSiblingElement("file"))
            pending.push_back(f);
    }
    return extent;
}

int FilePKGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace pkg_layout;
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kFlatHeaderBytes);
    if (head == nullptr)
        return 0;
    long long flat = 0;
    if (PkgSignFileSize(head, flat)) {
        info.m_size = flat;
        return 1;
    }
    const vk::ByteReader r(head, kFlatHeaderBytes);
    if (!r.Matches(0, std::string_view(reinterpret_cast<const char*>(kXarMagic), 4)))
        return 0;
    const size_t headerBytes = r.BE16(kHeaderSizeBE);
    const uint64_t packed = r.BE64(kTocCompressedBE);
    const uint64_t plain = r.BE64(kTocUncompressedBE);
    if (headerBytes < kHeaderBytes || headerBytes > kMaxHeaderBytes || packed == 0 || plain == 0 ||
        packed > kTocLimit || plain > kTocLimit || plain < packed)
        return 0;

    // The compressed table of contents, read window by window.
    std::vector<uint8_t> in(static_cast<size_t>(packed));
    const size_t step = file.GetWindowBytes();
    for (size_t done = 0; done < in.size();) {
        const size_t part = std::min(step, in.size() - done);
        const uint8_t* p = file.GetRawFileBuffer(headerBytes + done, part);
        if (p == nullptr)
            return 0;
        std::memcpy(in.data() + done, p, part);
        done += part;
    }
    std::vector<char> toc(static_cast<size_t>(plain));
    uLongf got = static_cast<uLongf>(toc.size());
    if (uncompress(reinterpret_cast<Bytef*>(toc.data()), &got, in.data(),
                   static_cast<uLong>(in.size())) != Z_OK)
        return 0;
    const long long extent = HeapExtent(std::string_view(toc.data(), got));
    if (extent < 0)
        return 0;
    const long long tocEnd = static_cast<long long>(headerBytes + packed);
    long long size = tocEnd + extent;
    if (size > kSizeLimit)
        size = tocEnd;
    info.m_size = size;
    return 1;
}
