// Jet and ACE databases (Access): "Standard Jet DB" or "Standard ACE DB"
// after the first four bytes. The streaming candidate walks the pages as the
// sectors pass; the whole-file sizer reads them from the device.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "HeaderLayouts.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "StructureWalkers.h"
#include "WholeFileAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewCMDBAnalyser, RawSpeed::CMDBAnalyser);

int RawSpeed::CMDBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr)
        return 0;
    return m_whole.AnalyseBuffer(sector, info);
}

// Page after page: a page of a database begins with its kind (1 to 9) and
// 01; empty pages are counted, and a long run of them, or a page of
// something else, ends the database.
int RawSpeed::CMDBAnalyser::CMDBRawFileInfo::Step(const rawwalk::StreamView& view, SearchContext&) {
    using namespace jet_layout;
    const long long d = view.here;
    if (d < kPage || d % kPage != 0)
        return 2;
    if (d > kLimit)
        return Sized(view, d);
    if (!m_pageCheck) {
        if (rawwalk::TrailingZeros(view.sector, view.sectorSize) >= kZeroTailBytes)
            return Sized(view, d);
        return 2;
    }
    const uint16_t head = vk::LoadLE<uint16_t>(view.sector);
    bool bad = false;
    if ((head & 0xFF00) == 0x0100 && (head & 0xFF) >= 1 && (head & 0xFF) <= 9) {
        m_emptyPages = 0;
    } else if (head == 0) {
        ++m_emptyPages;
    } else if (d == kPage) {
        m_pageCheck = false;  // no page structure here: the zero fill decides
        return 2;
    } else {
        bad = true;
    }
    if (m_emptyPages <= kMostEmptyPages && !bad)
        return 2;
    // The database ends where the empty pages before this one begin: this
    // page is the last of a long run, or another file's.
    const long long run = bad ? m_emptyPages : m_emptyPages - 1;
    return Sized(view, d - run * kPage);
}

// ---------------------------------------------------------------------------
// The whole-file sizer

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
