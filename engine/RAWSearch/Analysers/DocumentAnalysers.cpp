#include "DocumentAnalysers.h"

#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewFileSWFAnalyser, FileSWFAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileTTFAnalyser, FileTTFAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileWMFAnalyser, FileWMFAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileWPDAnalyser, FileWPDAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFilePSTAnalyser, FilePSTAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileITLAnalyser, FileITLAnalyser);
VK_RAW_ANALYSER_FACTORY(NewFileMboxAnalyser, FileMboxAnalyser);

namespace {

vk::ByteReader Head(const unsigned char* sector) {
    return vk::ByteReader(sector, kMinAnalyseBytes);
}

// The first byte no mail text holds: NUL and the control characters other
// than tab, line feed, form feed, carriage return and escape (which
// ISO-2022 texts use). Null when there is none.
const uint8_t* FirstNonMailByte(const uint8_t* bytes, long long length) {
    for (long long i = 0; i < length; ++i) {
        const uint8_t c = bytes[i];
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r' && c != 0x1B)
            return bytes + i;
    }
    return nullptr;
}

}  // namespace

// A compressed movie's length field counts it uncompressed, so its size
// reaches past its end; that is the most the header can tell.
int FileSWFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace swf_layout;
    if (sector == nullptr)
        return 0;
    const bool plain = std::memcmp(sector, "FWS", 3) == 0;
    const bool compressed = std::memcmp(sector, "CWS", 3) == 0;
    const uint8_t version = sector[kVersion];
    if ((!plain && !compressed) || version > kLastVersion ||
        (compressed && version < kFirstCompressedVersion))
        return 0;
    const uint32_t length = Head(sector).LE32(kLength);
    if (length == 0)
        return 0;
    info.m_type = RAW_SWF;
    info.m_size = static_cast<long long>(length) + (compressed ? kCompressedExtra : 0);
    return 1;
}

int FileTTFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace ttf_layout;
    static constexpr char kKnown[][5] = {"DSIG", "cmap", "glyf", "head", "hhea", "hmtx", "loca",
                                         "maxp", "name", "post", "OS/2", "cvt ", "EBDT", "EBLC",
                                         "EBSC", "fpgm", "gasp", "hdmx", "kern", "LTSH", "prep",
                                         "PCLT", "VDMX", "vhea", "vmtx"};
    if (sector == nullptr)
        return 0;
    const vk::ByteReader r = Head(sector);
    const uint16_t tables = r.BE16(kTableCountBE);
    if (tables < 1 || tables > kMostTables)
        return 0;
    unsigned known = 0;
    unsigned long long size = kDirectory + static_cast<unsigned long long>(kRecordBytes) * tables;
    for (uint16_t i = 0; i < tables; ++i) {
        const size_t record = kDirectory + kRecordBytes * i;
        for (const char* tag : kKnown) {
            if (std::memcmp(sector + record, tag, 4) == 0) {
                ++known;
                break;
            }
        }
        size += (static_cast<unsigned long long>(r.BE32(record + kRecordLengthBE)) + 3) / 4 * 4;
    }
    if (2 * known < tables)
        return 0;
    info.m_type = RAW_TTF;
    info.m_size = static_cast<long long>(size);
    return 1;
}

int FileWMFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace wmf_layout;
    if (sector == nullptr)
        return 0;
    const vk::ByteReader r = Head(sector);
    long long size = 0;
    if (r.LE32(0) == kPlainHead) {
        if (r.LE16(kPlainZero) != 0)
            return 0;
        size = 2LL * r.LE32(kPlainSizeWords);
    } else if (std::memcmp(sector, kPlaceableKey, 6) == 0) {
        uint16_t sum = 0;
        for (size_t i = 0; i < 10; ++i)
            sum ^= r.LE16(2 * i);
        if (sum != r.LE16(kPlaceableChecksum) || r.LE16(kPlaceableHandle) != 0 ||
            r.LE32(kPlaceableReserved) != 0 || r.LE32(kPlaceableBytes) != kPlainHead ||
            r.LE16(kPlaceableZero) != 0)
            return 0;
        size = 2LL * r.LE32(kPlaceableSizeWords) + static_cast<long long>(kPlaceableBytes);
    } else {
        return 0;
    }
    if (size == 0)
        return 0;
    info.m_type = RAW_WMF;
    info.m_size = size;
    return 1;
}

int FileWPDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace wpd_layout;
    struct Row {
        uint8_t product[4];
        uint8_t index[4];
        RAW_FILE_TYPE type;
    };
    static constexpr Row kRows[] = {
        {{0x01, 0x0A, 0x02, 0x01}, {0x00, 0x02, 0x05, 0x00}, RAW_WPD},
        {{0x01, 0x16, 0x02, 0x00}, {0x00, 0x00, 0x03, 0x00}, RAW_WPG},
        {{0x0F, 0x0F, 0x01, 0x00}, {0x00, 0x00, 0x03, 0x00}, RAW_SHW},
    };
    static constexpr uint8_t kMagic[4] = {0xFF, 'W', 'P', 'C'};
    if (sector == nullptr || std::memcmp(sector, kMagic, 4) != 0)
        return 0;
    RAW_FILE_TYPE type = -1;
    for (const Row& row : kRows) {
        if (std::memcmp(sector + kProduct, row.product, 4) == 0 &&
            std::memcmp(sector + kIndex, row.index, 4) == 0)
            type = row.type;
    }
    const uint32_t size = Head(sector).LE32(kFileSize);
    if (type < 0 || size == 0)
        return 0;
    info.m_type = type;
    info.m_size = size;
    return 1;
}

int FilePSTAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace pst_layout;
    if (sector == nullptr)
        return 0;
    const vk::ByteReader r = Head(sector);
    long long size = kOtherSize;
    if (sector[kFormat] == kUnicode)
        size = r.LE32(kUnicodeEnd);
    else if (sector[kFormat] == kAnsi)
        size = r.LE32(kAnsiEnd);
    info.m_type = RAW_PST;
    info.m_size = size;
    return size != 0 ? 1 : 0;
}

int FileITLAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "hdfm", 4) != 0)
        return 0;
    const uint32_t size = Head(sector).BE32(itl_layout::kLengthBE);
    if (size == 0)
        return 0;
    info.m_type = RAW_ITL;
    info.m_size = size;
    return 1;
}

int FileMboxAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || std::memcmp(sector, "From ", 5) != 0)
        return 0;
    info.m_type = RAW_MBOX;
    return 1;
}

// A mailbox has no length: its last message closes a piece of 512 bytes
// that ends in zero fill, with a signature separator or an address line
// and a blank line. Without either, the mailbox's text ends at the first
// byte no mail holds (the zero fill, or another file's binary data), never
// at the disk's end.
int FileMboxAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace mbox_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    static constexpr unsigned char kSeparator[] = "--\n\n";
    static constexpr unsigned char kAddress[] = ".com>\n\n";
    for (long long at = 0; at <= kLimit; at += kPiece) {
        const uint8_t* piece = file.GetRawFileBuffer(static_cast<unsigned long long>(at), kPiece);
        if (piece == nullptr) {
            info.m_size = at;
            return 1;
        }
        auto* bytes = const_cast<unsigned char*>(piece);
        if (vk::LoadLE<uint32_t>(piece + kPiece - 4) != 0) {
            if (const uint8_t* stop = FirstNonMailByte(piece, kPiece)) {
                info.m_size = at + (stop - piece);
                return 1;
            }
            continue;
        }
        if (const unsigned char* hit = Apimemstr(bytes, kPiece, kSeparator, 4)) {
            long long end = at + (hit - piece) + 4;
            if (hit - piece + 6 <= kPiece && hit[4] == '\n' && hit[5] == '\n')
                end += 2;
            info.m_size = end;
            return 1;
        }
        if (const unsigned char* hit = Apimemstr(bytes, kPiece, kAddress, 7)) {
            info.m_size = at + (hit - piece) + 7;
            return 1;
        }
        info.m_size = at + (FirstNonMailByte(piece, kPiece) - piece);
        return 1;
    }
    info.m_size = kLimit + kPiece;
    return 1;
}
