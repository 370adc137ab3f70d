// Files that open with an XML declaration and are told apart by their root
// element: SVG drawings, GPS tracks (GPX), property lists, note exports
// (ENEX) and citation styles (CSL); and a binary SVG form sized by its
// header. Text files end in the sector where zero fill follows their
// closing tag; they are named by position ("start-end_").
#pragma once

#include <cstdint>

#include "RawFileInfo.h"

namespace Dunmere {

// The whole-file road: the same end, read from the device.
class FileSVGAnalyser : public IRawFileAnalyser {
public:
    FileSVGAnalyser() : IRawFileAnalyser(RAW_SVG) {}
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class SVGAnalyser : public IRawFileAnalyser {
public:
    class SVGRawFileInfo : public CRawFileInfo {
    public:
        explicit SVGRawFileInfo(SVGAnalyser* owner) : m_owner(owner) {}
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

    private:
        SVGAnalyser* m_owner;
        bool m_binary = false;
        bool m_first = true;
    };

    SVGAnalyser() : IRawFileAnalyser(-1) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new SVGRawFileInfo(this); }

    // The type a head of kMinAnalyseBytes bytes starts, RAW_RAW when none.
    static RAW_FILE_TYPE TypeOfHead(const uint8_t* head);
    // Where a text file of `type` ends, judged at one sector: `data` holds
    // the sector at file offset `offset`, with `before` bytes of the sector
    // before it (0 when not at hand). The file's length, or -1 to go on.
    static long long TextEnd(RAW_FILE_TYPE type, const uint8_t* data, int before, int sectorSize,
                             long long offset);

private:
    FileSVGAnalyser m_whole;
};

}  // namespace Dunmere
