// Mailboxes: "From " starts one; the end is found by reading the text.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "DocumentAnalysers.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawUtility.h"
#include "StreamLayouts.h"

VK_RAW_ANALYSER_FACTORY(NewFileMboxAnalyser, FileMboxAnalyser);

namespace {

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
