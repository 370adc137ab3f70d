#include "FilePDFAnalyser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "AnalyserFactories.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"

namespace pdf_structure {

namespace {

bool IsSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

bool IsDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

// How `word` compares with the bytes at `p` (`n` of them at hand): More on
// a match, End on a mismatch, Open when the bytes run out first.
After Word(const uint8_t* p, size_t n, const char* word) {
    const size_t w = std::strlen(word);
    for (size_t i = 0; i < w; ++i) {
        if (i >= n)
            return After::Open;
        if (p[i] != static_cast<uint8_t>(word[i]))
            return After::End;
    }
    return After::More;
}

// "N G obj": the next object of the same document.
After ObjectHead(const uint8_t* p, size_t n) {
    size_t i = 0;
    for (int part = 0; part < 2; ++part) {
        const size_t digits = i;
        while (i < n && IsDigit(p[i]) && i - digits < 10)
            ++i;
        if (i >= n)
            return After::Open;
        if (i == digits)
            return After::End;
        const size_t spaces = i;
        while (i < n && IsSpace(p[i]) && i - spaces < 8)
            ++i;
        if (i >= n)
            return After::Open;
        if (i == spaces)
            return After::End;
    }
    return Word(p + i, n - i, "obj");
}

}  // namespace

After AfterEof(const uint8_t* data, size_t length, size_t at, size_t* end) {
    size_t i = at + kEofBytes;
    if (i >= length)
        return After::Open;
    if (data[i] == '\r') {
        if (i + 1 >= length)
            return After::Open;
        i += data[i + 1] == '\n' ? 2 : 1;
    } else if (data[i] == '\n') {
        ++i;
    }
    *end = i;
    // Blank space between the marker and what follows it.
    size_t j = i;
    while (j < length && IsSpace(data[j]) && j - i < 256)
        ++j;
    if (j >= length)
        return After::Open;
    if (j - i >= 256)
        return After::More;
    const uint8_t* p = data + j;
    const size_t n = length - j;
    if (IsDigit(p[0]))
        return ObjectHead(p, n);
    if (p[0] == '%') {
        // A comment goes on with the document; another PDF's head does not.
        const After head = Word(p, n, "%PDF-");
        return head == After::More ? After::End : head == After::Open ? After::Open : After::More;
    }
    for (const char* word : {"xref", "trailer", "startxref", "endstream", "endobj"}) {
        const After a = Word(p, n, word);
        if (a != After::End)
            return a;
    }
    return After::End;
}

bool IllustratorHead(const uint8_t* data, size_t length) {
    static const char kPs[] = "%!PS-Adobe";
    static const char kAi[] = "Adobe Illustrator";
    const auto* begin = reinterpret_cast<const char*>(data);
    const char* end = begin + length;
    const char* ps = std::search(begin, end, kPs, kPs + sizeof kPs - 1);
    return ps != end && std::search(ps, end, kAi, kAi + sizeof kAi - 1) != end;
}

}  // namespace pdf_structure

using namespace pdf_structure;

int FilePDFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (std::memcmp(sector, "%PDF-", 5) != 0) {
        if (std::memcmp(sector, "%!PS-Adobe", 10) != 0)
            return 0;
        static const char kEps[] = " EPSF-";
        const auto* s = reinterpret_cast<const char*>(sector);
        if (std::search(s, s + 200, kEps, kEps + 6) != s + 200 || !IllustratorHead(sector, 512))
            return 0;
    }
    info.m_type = RAW_PDF;
    return 1;
}

int FilePDFAnalyser::IsContainPdfKeyWords(const char* text) {
    if (text == nullptr)
        return 0;
    for (const char* word : {" 0 obj", "xref\r\n", "xref\r", "xref\n", "trailer\r\n", "trailer\r",
                             "trailer\n", "startxref\r\n", "startxref\r", "startxref\n"}) {
        if (std::strstr(text, word) != nullptr)
            return 1;
    }
    return 0;
}

int FilePDFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr)
        return 0;
    return GetRawFileSizeEx(info, device);
}

int FilePDFAnalyser::GetRawFileSizeEx(CRawFileInfo& info, IStorageDevice* device) {
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint64_t sectorSize = file.GetSectorSize();
    // An Illustrator file written as PostScript names itself in its head.
    if (const uint8_t* head = file.GetRawFileBuffer(0, sectorSize)) {
        const size_t n = std::min<size_t>(file.Available(0), 2 * kHeadScan);
        if (IllustratorHead(head, n)) {
            info.m_type = RAW_AI;
            RAW_FILE_TAG tag = RAW_TAG_NONE;
            std::string value;
            info.GetRawFileTagAndValue(tag, value);
            if (tag == RAW_TAG_PDF)
                info.SetRawFileTagAndValue(RAW_TAG_AI, value);
        }
    } else {
        return 0;
    }

    uint64_t p = 0;
    for (; p <= kMaxLength; p += sectorSize) {
        const uint8_t* sector = file.GetRawFileBuffer(p, sectorSize);
        if (sector == nullptr) {
            // The device ends, or this sector cannot be read: what came
            // before it is kept.
            if (p == 0)
                return 0;
            info.m_size = static_cast<long long>(p);
            return 1;
        }
        // The next document begins here.
        if (p > 0 && std::memcmp(sector, "%PDF-", 5) == 0) {
            info.m_size = static_cast<long long>(p);
            return 1;
        }
        // Markers that start in this sector, or in the last bytes of the one
        // before and end in this one.
        const uint64_t from = p >= kEofBytes - 1 ? p - (kEofBytes - 1) : 0;
        const size_t span = static_cast<size_t>(p + sectorSize - from);
        const uint8_t* buf = file.GetRawFileBuffer(from, span + kEofBytes - 1);
        size_t have = span + kEofBytes - 1;
        if (buf == nullptr) {
            buf = file.GetRawFileBuffer(from, span);
            have = span;
        }
        if (buf == nullptr) {
            info.m_size = static_cast<long long>(p);
            return 1;
        }
        std::vector<uint64_t> hits;
        for (size_t i = 0; i < span && i + kEofBytes <= have; ++i) {
            if (buf[i] == '%' && std::memcmp(buf + i, kEof, kEofBytes) == 0)
                hits.push_back(from + i);
        }
        for (uint64_t x : hits) {
            const uint8_t* before = x > 0 ? file.GetRawFileBuffer(x - 1, 1) : nullptr;
            if (before != nullptr && !EofLineStart(*before))
                continue;
            // What follows the marker, as far as the device goes.
            size_t look = kLookAhead;
            const uint8_t* q = file.GetRawFileBuffer(x, look);
            if (q == nullptr && file.GetRawFileBuffer(x, kEofBytes) != nullptr) {
                look = std::min<size_t>(file.Available(x), look);
                q = file.GetRawFileBuffer(x, look);
            }
            if (q == nullptr) {
                info.m_size = static_cast<long long>(x + kEofBytes);
                return 1;
            }
            size_t end = kEofBytes;
            const After after = AfterEof(q, look, 0, &end);
            // Bytes the device does not have are not more of the document.
            if (after == After::End || (after == After::Open && look < kLookAhead)) {
                info.m_size = static_cast<long long>(x + end);
                return 1;
            }
        }
    }
    // No end: the file is taken to the limit.
    const uint64_t rest = p % sectorSize;
    info.m_size = static_cast<long long>(rest == 0 ? p : p + sectorSize - rest);
    return 1;
}
