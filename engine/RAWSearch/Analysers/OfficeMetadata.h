// The two readers of document properties that name carved office files:
// the summary-information property set of a compound (OLE) document, and
// the core-properties XML member of a ZIP-based office document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "FileProperty.h"
#include "RawFileInfo.h"

// The fields of a ZIP local file header the analysers use.
struct tagZipLocalFileHeader {
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
};

class CSummaryInFormation {
public:
    // Reads the property set at `stream` (`length` bytes readable) into
    // `property`: title, author, last author, creation and last-save time.
    // 1 when one of them was found non-empty and the whole property list
    // lay inside `length`; what was read before a failure stays.
    int GetFileInformation(const unsigned char* stream, FileProperty& property, int length);

    // The date text of a FILETIME ("%d-%02d-%02d-%02d-%02d-%02d", local
    // time); empty for 0.
    static std::string TimeText(uint64_t fileTime);

private:
    uint32_t m_sectionBytes = 0;
    uint32_t m_propertyCount = 0;
    uint32_t m_length = 0;
};

namespace Dunmere {

class OfficeTagFromXML {
public:
    static constexpr size_t kBufferBytes = 10241;
    static constexpr uint32_t kMaxMemberBytes = 10239;
    static constexpr size_t kMaxText = 1023;

    static OfficeTagFromXML& Instance();

    // `data` is sector `sector` in the search's buffer, which holds the
    // sectors [ctx.windowFirstSector, ctx.windowEndSector); the member's
    // local header (`header`) starts `headerOffset` bytes from `data` (a
    // negative offset reaches back into earlier sectors). 1 when the
    // properties were read; 0 otherwise, with `needMore` 1 when the
    // member's data runs past what the buffer holds yet.
    int GetOfficeTagFromXML(const unsigned char* data, int sectorSize, long long sector,
                            long long headerOffset, const CRawFileInfo::SearchContext& ctx,
                            const tagZipLocalFileHeader& header, FileProperty& property,
                            int& needMore);

    // Decompresses a member's data (stored or deflated) into `out`, at
    // most kMaxMemberBytes; false when it does not decompress.
    static bool InflateMember(const unsigned char* data, size_t compressedSize, uint16_t method,
                              uint32_t uncompressedSize, std::string& out);
    // Reads title, creator, last modified by and the two dates from the
    // text of a core-properties member. 1 when the XML was read.
    static int ReadCoreProperties(const std::string& xml, FileProperty& property);
    // "2013-05-01T10:20:30Z" reads "2013-05-01 10-20-30 ".
    static std::string FilterTime(const std::string& text);

private:
    OfficeTagFromXML() = default;
};

}  // namespace Dunmere
