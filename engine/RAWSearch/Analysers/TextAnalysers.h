// Text documents: RTF (streamed to the zero fill after it, or sized whole by
// its braces) and HTML in single-byte encodings or UTF-16 (streamed to the
// zero fill, or sized whole by the closing tag). Declarations only: the code
// is in RtfAnalyser.cpp and HtmAnalyser.cpp.
#pragma once

#include "Carver.h"
#include "RawFileInfo.h"
#include "WholeFileAnalysers.h"
#include "ZeroTailAnalysers.h"

// Walks the groups of an RTF document from its first brace to the brace that
// closes it.
class FileRTFAnalyser : public IRawFileAnalyser {
public:
    FileRTFAnalyser() : IRawFileAnalyser(RAW_RTF) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

// HTML saved as UTF-16LE with its byte-order mark: sized by "</HTML>".
class FileUnicodeHTMAnalyser : public IRawFileAnalyser {
public:
    FileUnicodeHTMAnalyser() : IRawFileAnalyser(RAW_HTM) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace RawSpeed {

class RTFAnalyser : public rawcarve::PartneredCarver<RAW_RTF, FileRTFAnalyser> {
public:
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class HTMLAnalyser : public rawcarve::PartneredCarver<RAW_HTM, FileHTMAnalyser> {
public:
    class HTMLRawFileInfo : public ZeroTailRawFileInfo {
    public:
        explicit HTMLRawFileInfo(IRawFileAnalyser* whole);
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

    private:
        bool m_wide = false;  // UTF-16: the text ends on a whole code unit
    };

    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

}  // namespace RawSpeed
