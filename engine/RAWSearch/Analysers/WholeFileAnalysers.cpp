#include "WholeFileAnalysers.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "GzipMembers.h"
#include "HeaderLayouts.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"

namespace {

vk::ByteReader Head(const unsigned char* sector) {
    return vk::ByteReader(sector, kMinAnalyseBytes);
}

// Pages begin with a page-type byte 1 to 9 followed by 01; the first page
// that does not ends the database.
int SizeByJetPages(CRawFileInfo& info, IStorageDevice* device) {
    using namespace mdb_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    uint64_t offset = kPageBytes;
    for (; offset <= kLastPage; offset += kPageBytes) {
        const uint8_t* page = file.GetRawFileBuffer(offset, 2);
        if (page == nullptr || page[0] == 0 || vk::LoadLE<uint16_t>(page) >= 0x0902)
            break;
    }
    info.m_size = static_cast<long long>(offset);
    return 1;
}

// Raised to the next multiple of the sector size when not one already.
uint64_t WholeSectors(uint64_t bytes, uint64_t sectorSize) {
    if (sectorSize == 0)
        return bytes;
    const uint64_t rest = bytes % sectorSize;
    return rest == 0 ? bytes : bytes + (sectorSize - rest);
}

}  // namespace

VK_RAW_ANALYSER_FACTORY(NewFileHLPAnalyser, FileHLPAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileICOAnalyser, FileICOAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileLowDocAnalyser, FileLowDocAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileMNYAnalyser, FileMNYAnalyser);

int FileHLPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace hlp_layout;
    const vk::ByteReader r = Head(sector);
    const uint32_t size = r.LE32(kFileSize);
    if (size < 512 || size < r.LE32(kDirectoryStart))
        return 0;
    info.m_type = RAW_HLP;
    info.m_size = size;
    return 1;
}

bool FileICOAnalyser::IsInvalidIconDirEntry(const unsigned char* entry) {
    using namespace ico_layout;
    const vk::ByteReader e(entry, kEntryBytes);
    return e.U8(kEntryReserved) == 0 && e.LE16(kEntryBitCount) <= 256 &&
           e.LE32(kEntryBytesInRes) <= kMaxImageBytes && e.LE32(kEntryOffset) <= kMaxImageBytes;
}

int FileICOAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace ico_layout;
    const vk::ByteReader r = Head(sector);
    const uint16_t type = r.LE16(kType);
    const uint16_t count = r.LE16(kCount);
    if ((type != 1 && type != 2) || count < 1 || count > kMaxImages)
        return 0;
    uint64_t total = kEntries;
    for (uint16_t i = 0; i < count; ++i) {
        const unsigned char* entry = sector + kEntries + i * kEntryBytes;
        if (!IsInvalidIconDirEntry(entry))
            return 0;
        total += vk::LoadLE<uint32_t>(entry + kEntryBytesInRes) + kEntryBytes;
    }
    if (total > kMaxTotal)
        return 0;
    info.m_type = type == 1 ? RAW_ICO : RAW_CUR;
    info.m_size = static_cast<long long>(total);
    return 1;
}

int FileLowDocAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace lowdoc_layout;
    const vk::ByteReader r = Head(sector);
    const uint32_t size = (r.LE32(kTextEnd) + r.LE16(kTail) + 511u) & ~511u;
    info.m_type = RAW_DOC;
    info.m_size = size;
    return 1;
}

int FileMNYAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace mny_layout;
    if (!Head(sector).Matches(kSignature, "MSISAM Database"))
        return 0;
    info.m_type = RAW_MNY;
    info.m_size = 0;
    return 1;
}

int FileMNYAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    return SizeByJetPages(info, device);
}

int FileMIDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace mid_layout;
    const vk::ByteReader r = Head(sector);
    if (r.BE32(kHeaderLengthBE) != 6 || r.BE16(kFormatBE) > 2 || r.BE16(kTracksBE) == 0)
        return 0;
    info.m_type = RAW_MID;
    return 1;
}

// Track chunks follow the header chunk; the file ends after the last one.
int FileMIDAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace mid_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    if (file.GetRawFileBuffer(0) == nullptr)
        return 0;
    uint64_t offset = kFirstChunk;
    while (true) {
        const uint8_t* chunk = file.GetRawFileBuffer(offset, kChunkHeaderBytes);
        if (chunk == nullptr || strncasecmp(reinterpret_cast<const char*>(chunk), "MTrk", 4) != 0)
            break;
        // Read unsigned: every chunk moves the walk forward.
        offset += kChunkHeaderBytes + vk::LoadBE<uint32_t>(chunk + kChunkLengthBE);
        if (offset > 0xD000000)
            break;
    }
    info.m_size = static_cast<long long>(WholeSectors(offset, file.GetSectorSize()));
    return 1;
}

int FileMDBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr char kJet[] = "\x00\x01\x00\x00Standard Jet DB";
    static constexpr char kAce[] = "\x00\x01\x00\x00Standard ACE DB";
    if (std::memcmp(sector, kJet, mdb_layout::kSignatureBytes) == 0)
        info.m_type = RAW_MDB;
    else if (std::memcmp(sector, kAce, mdb_layout::kSignatureBytes) == 0)
        info.m_type = RAW_ACCDB;
    else
        return 0;
    return 1;
}

int FileMDBAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    return SizeByJetPages(info, device);
}

int FileLZHAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const char* method = reinterpret_cast<const char*>(sector + lzh_layout::kMethod);
    if (std::memcmp(method, "-lh5-", 5) != 0 && std::memcmp(method, "-lh0-", 5) != 0 &&
        std::memcmp(method, "-lhd-", 5) != 0)
        return 0;
    info.m_type = RAW_LZH;
    return 1;
}

int FileLZHAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace lzh_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    uint32_t n = 0;
    bool longForm = false;
    bool retry = false;
    for (int step = 0; step < kMaxSteps; ++step) {
        const uint8_t* h = file.GetRawFileBuffer(n, kHeaderProbe);
        if (h == nullptr) {
            if (n == 0)
                return 0;
            break;
        }
        const char* method = reinterpret_cast<const char*>(h + kMethod);
        const uint32_t headerSize = h[kHeaderSize];
        const uint32_t packed = vk::LoadLE<uint32_t>(h + kPackedSize);
        if (std::memcmp(method, "-lh5-", 5) == 0 || std::memcmp(method, "-lh0-", 5) == 0) {
            n += packed + headerSize + 2;
            if (longForm)
                n -= 2;
            if (n > kMaxOffset)
                break;
            if (!longForm)
                retry = true;
        } else if (std::memcmp(method, "-lhd-", 5) == 0) {
            n += headerSize;
            longForm = true;
        } else if (std::memcmp(method, "-lh7-", 5) == 0) {
            n += packed + headerSize;
            longForm = true;
        } else if (retry) {
            n -= 2;
            retry = false;
        } else {
            if (n == 0)
                return 0;
            break;
        }
    }
    info.m_size = static_cast<long long>(WholeSectors(n, file.GetSectorSize()));
    return 1;
}

int FileHTMAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const char* text = reinterpret_cast<const char*>(sector);
    if (strncasecmp(text, "<HTML", 5) != 0 && strncasecmp(text, "<!DOCTYPE HTML", 14) != 0)
        return 0;
    info.m_type = RAW_HTM;
    return 1;
}

int FileHTMAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr)
        return 0;
    SearchSignCodeInfo code;
    std::memcpy(code.signature, "</html>", 7);
    code.length = 7;
    code.maxLength = 0x100000;
    const int result = SearchSignFileAnalyser::SearchEndSignCode(info, device, code, 0);
    const int sectorSize = device->GetSectorSize();
    info.m_size = static_cast<long long>(
        WholeSectors(static_cast<uint64_t>(info.m_size),
                     sectorSize > 0 ? static_cast<uint64_t>(sectorSize) : 512));
    return result;
}

bool CGzSearch::IsValidGzHeader(const unsigned char* header, unsigned length) {
    using namespace gz_layout;
    if (header == nullptr || length < kHeaderBytes)
        return false;
    const uint8_t os = header[kOs];
    return header[kId] == 0x1F && header[kId + 1] == 0x8B && header[kMethod] == 8 &&
           header[kFlags] < 32 && (os < 14 || os == 255);
}

int FileGZAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!CGzSearch::IsValidGzHeader(sector, kMinAnalyseBytes))
        return 0;
    info.m_type = RAW_GZ;
    return 1;
}

// The member header's fields, then the members to the last whole one; where
// the first does not inflate, sector by sector to the first one that ends in
// zero fill.
int FileGZAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace gz_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kHeaderBytes);
    if (head == nullptr || !CGzSearch::IsValidGzHeader(head, kHeaderBytes))
        return 0;
    const uint8_t flags = head[kFlags];
    uint64_t pos = kHeaderBytes;
    if (flags & kFlagExtra) {
        const uint8_t* x = file.GetRawFileBuffer(pos, 2);
        if (x == nullptr)
            return 0;
        pos += 2 + vk::LoadLE<uint16_t>(x);
    }
    // A zero-terminated field; false when it runs into an unreadable byte,
    // `limited` when it runs past the field limit.
    bool limited = false;
    auto skipText = [&](std::string* keep) {
        while (true) {
            if (pos >= kFieldLimit) {
                limited = true;
                return true;
            }
            const uint8_t* c = file.GetRawFileBuffer(pos);
            if (c == nullptr)
                return false;
            ++pos;
            if (*c == 0)
                return true;
            if (keep != nullptr && keep->size() < 1024)
                keep->push_back(static_cast<char>(*c));
        }
    };
    std::string name;
    if ((flags & kFlagName) && !skipText(&name))
        return 0;
    if (!limited && (flags & kFlagComment) && !skipText(nullptr))
        return 0;
    if (limited) {
        info.m_size = static_cast<long long>(pos);
        return 1;
    }
    if (flags & kFlagHeaderCrc)
        pos += 2;
    if (flags & kFlagName)
        info.SetRawFileName(name);
    const uint64_t sectorSize = file.GetSectorSize();
    // Members that inflate say exactly where the file ends.
    GzipMembers members;
    while (members.GetState() == GzipMembers::State::Going && members.Position() < kMaxSize) {
        const uint64_t at = members.Position();
        const uint8_t* p = file.GetRawFileBuffer(at, 1);
        if (p == nullptr)
            break;
        members.Feed(p, std::min<size_t>(file.Available(at), sectorSize * 16));
    }
    members.EndOfData();
    if (members.GetState() == GzipMembers::State::End) {
        info.m_size = static_cast<long long>(members.EndOffset());
        return 1;
    }
    uint64_t offset = (pos / sectorSize + 1) * sectorSize;
    while (offset < kMaxSize) {
        const uint8_t* s = file.GetRawFileBuffer(offset, sectorSize);
        if (s == nullptr)
            break;
        offset += sectorSize;
        if (vk::LoadLE<uint64_t>(s + sectorSize - 8) == 0)
            break;
    }
    info.m_size = static_cast<long long>(offset);
    return 1;
}
