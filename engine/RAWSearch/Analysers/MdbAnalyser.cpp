// Jet and ACE databases (Access): "Standard Jet DB" or "Standard ACE DB"
// after the first four bytes; sized by their pages.
#include <cstring>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "HeaderLayouts.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "WholeFileAnalysers.h"

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
