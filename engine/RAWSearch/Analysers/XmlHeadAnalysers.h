// Files that open with an XML declaration and are told apart by their root
// element: SVG drawings, GPS tracks (GPX), property lists, note exports
// (ENEX) and citation styles (CSL); and a binary SVG form sized by its
// header. Text files end in the sector where zero fill follows their
// closing tag; they are named by position ("start-end_").
#pragma once

#include <cstdint>

#include "Carver.h"
#include "RawFileInfo.h"

namespace Dunmere {

// The whole-file road: the same end, read from the device.
class FileSVGAnalyser : public IRawFileAnalyser {
public:
    FileSVGAnalyser() : IRawFileAnalyser(RAW_SVG) {}
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class SVGAnalyser : public rawcarve::StreamingCarver<SVGAnalyser, -1, FileSVGAnalyser> {
public:
    // Typed by the analyser when it recognises the head.
    class SVGRawFileInfo : public rawcarve::JudgingCandidate<SVGAnalyser> {
    public:
        explicit SVGRawFileInfo(SVGAnalyser* owner) : JudgingCandidate(owner, RAW_RAW, 2) {}

    private:
        int Judge(const rawwalk::StreamView& view) override;

        bool m_binary = false;
        bool m_first = true;
    };
    using Candidate = SVGRawFileInfo;

    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;

    // The type a head of kMinAnalyseBytes bytes starts, RAW_RAW when none.
    static RAW_FILE_TYPE TypeOfHead(const uint8_t* head);
    // Where a text file of `type` ends, judged at one sector: `data` holds
    // the sector at file offset `offset`, with `before` bytes of the sector
    // before it (0 when not at hand). The file's length, or -1 to go on.
    static long long TextEnd(RAW_FILE_TYPE type, const uint8_t* data, int before, int sectorSize,
                             long long offset);
};

}  // namespace Dunmere
