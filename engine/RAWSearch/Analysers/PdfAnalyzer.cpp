#include "PdfAnalyzer.h"

#include <algorithm>
#include <cstring>

#include "AnalyserFactories.h"

using namespace pdf_structure;

VK_RAW_ANALYSER_FACTORY(NewPdfAnalyzer, BruteForce::PdfAnalyzer);

namespace BruteForce {

int PdfAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (std::memcmp(sector, "%PDF-", 5) != 0) {
        // PostScript only when Illustrator wrote it; EPS files are the EPS
        // analyser's.
        if (std::memcmp(sector, "%!PS-Adobe", 10) != 0)
            return 0;
        static const char kEps[] = " EPSF-";
        const auto* s = reinterpret_cast<const char*>(sector);
        const char* end = s + kMinAnalyseBytes;
        if (std::search(s, end, kEps, kEps + 6) != end ||
            !IllustratorHead(sector, kMinAnalyseBytes))
            return 0;
    }
    info.m_type = RAW_PDF;
    return 1;
}

PdfAnalyzer::PdfRawFileInfo::PdfRawFileInfo(PdfAnalyzer* owner) : m_owner(owner) {
    m_type = RAW_PDF;
}

void PdfAnalyzer::PdfRawFileInfo::WillBeRemove(unsigned char*, long long) {
    // What was read of the document still names it on the whole-file road.
    PdfTagDealwith();
    if (m_owner != nullptr && m_analyser != nullptr)
        m_analyser = &m_owner->WholeFile();
}

void PdfAnalyzer::PdfRawFileInfo::PdfTagDealwith() {
    if (m_named)
        return;
    m_named = true;
    const FileProperty& p = m_property;
    const bool read = !m_infoWanted;
    std::string value;
    if (read) {
        value = !p.lastAuthor.empty() ? p.lastAuthor
                : !p.creator.empty()  ? p.creator
                : !p.producer.empty() ? p.producer
                                      : std::string("unknown");
    }
    std::string name;
    for (const std::string* s : {&p.title, &p.lastAuthor, &p.creator, &p.producer}) {
        if (!s->empty()) {
            name = *s + p.modified;
            break;
        }
    }
    if (name.empty())
        name = p.created;
    SetRawFileName(name);
    if (read && !m_noLabel && (!name.empty() || !p.created.empty()))
        SetRawFileTagAndValue(m_type == RAW_PDF ? RAW_TAG_PDF : RAW_TAG_AI, value);
    if (!p.created.empty())
        SetRawFileTime(p.created);
}

int PdfAnalyzer::PdfRawFileInfo::Finish(long long size) {
    PdfTagDealwith();
    m_size = size;
    return 1;
}

int PdfAnalyzer::PdfRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long a,
                                             SearchContext& context) {
    if (sector == nullptr || sectorSize <= 0 || a < m_startSector)
        return 2;
    const long long n = sectorSize;
    const long long d = (a - m_startSector) * n;  // this sector's offset in the file
    const long long windowFirst = (context.windowFirstSector - m_startSector) * n;
    const long long windowEnd = (std::max(context.windowEndSector, a + 1) - m_startSector) * n;

    // The information is read two sectors at a time. A sector that ends the
    // search's block is read with the next one when that block comes (the
    // buffer then holds both).
    auto readInformation = [&](const unsigned char* text) {
        if (m_titleReader.ObtainPerSecPDFInformation(text, sectorSize, true, m_property) == 0)
            return;
        if (m_property.creator.find("Illustrator") != std::string::npos)
            m_type = RAW_AI;
        m_infoWanted = false;
    };
    if (m_infoWanted && m_pairPending && a - 1 >= context.windowFirstSector)
        readInformation(sector - n);
    m_pairPending = false;
    if (m_infoWanted) {
        if (a + 1 < context.windowEndSector)
            readInformation(sector);
        else
            m_pairPending = true;
    }
    // Illustrator's PostScript names itself in the first two sectors.
    if (m_checkIllustrator) {
        const long long headAt = (m_startSector - a) * n;  // the file's first byte, from here
        const long long held = windowEnd;                  // bytes of the file the buffer holds
        if (m_startSector < context.windowFirstSector) {
            m_checkIllustrator = false;
        } else if (held >= std::min<long long>(2 * n, 4095) || a > m_startSector) {
            m_checkIllustrator = false;
            if (IllustratorHead(sector + headAt,
                                static_cast<size_t>(std::min<long long>({2 * n, 4095, held}))))
                m_type = RAW_AI;
        }
    }
    if (d > kMaxLength) {
        m_size = 0;
        m_analyser = nullptr;  // not a document: not sized whole either
        return 1;
    }
    if (a != m_startSector && std::memcmp(sector, "%PDF-", 5) == 0)
        return Finish(d);  // the next document begins here

    // Every "%%EOF" from here on, including one that began in the sector
    // before: the first that nothing of the document follows ends it.
    long long x =
        std::max<long long>({static_cast<long long>(m_searchedTo), d - 4, windowFirst, 0});
    // A document's sectors are mostly compressed streams and pictures: the
    // search jumps from '%' to '%' rather than testing every byte.
    const long long stop = std::min(d + n, windowEnd - static_cast<long long>(kEofBytes) + 1);
    while (x < stop) {
        const uint8_t* from = sector + (x - d);
        const void* hit = std::memchr(from, '%', static_cast<size_t>(stop - x));
        if (hit == nullptr) {
            x = stop;
            break;
        }
        x += static_cast<const uint8_t*>(hit) - from;
        const uint8_t* p = sector + (x - d);
        if (std::memcmp(p, kEof, kEofBytes) != 0 ||
            (x > 0 && x - 1 >= windowFirst && !EofLineStart(p[-1]))) {
            ++x;
            continue;
        }
        size_t end = 0;
        const After after = AfterEof(p, static_cast<size_t>(windowEnd - x), 0, &end);
        if (after == After::End)
            return Finish(x + static_cast<long long>(end));
        if (after == After::Open)
            break;  // decided once more of the file is at hand
        ++x;
    }
    m_searchedTo = static_cast<uint64_t>(x);
    return 2;
}

}  // namespace BruteForce
