// Analysers of drawings: PostScript and EPS (text, or the binary DOS form
// whose header gives every section's place), FreeHand 11 documents and DXF
// drawings. Text EPS and FreeHand files tell nothing of their length; they
// end where the zero fill after them begins (ZeroEndRawFileInfo). A DXF
// ends at its end-of-file group.
// Declarations only: the code is in EpsAnalyser.cpp, Fh11Analyser.cpp,
// DxfAnalyser.cpp and, shared by the first two, ZeroEndRawFileInfo.cpp.
#pragma once

#include <cstdint>

#include "Carver.h"
#include "RawFileInfo.h"

class RawFileBuffer;

namespace BruteForce {

// A candidate that ends where zero fill begins: at the first sector closing
// with at least a word of zeros, just after its last non-zero byte. No end
// is looked for before `skipUntil`; a file reaching `maximum` ends there.
class ZeroEndRawFileInfo : public rawcarve::RunningEndCandidate {
public:
    static constexpr int kZeroWord = 4;  // zero bytes that end a sector's data

    ZeroEndRawFileInfo(RAW_FILE_TYPE type, long long maximum, long long skipUntil = 0)
        : RunningEndCandidate(type, maximum), m_skipUntil(skipUntil) {}

    // The file's length judged at one sector (at file offset `offset`;
    // `previous` the sector before it, or null when not at hand), or -1
    // when the file goes on past it.
    static long long EndAt(const uint8_t* sector, int sectorSize, long long offset,
                           const uint8_t* previous);
    // The same end found by reading the file from its first sector (the
    // road of candidates the search let go of); non-zero when sized. No
    // more than `readLimit` bytes are read: a file still going on there is
    // left unsized.
    static int WholeFileSize(CRawFileInfo& info, IStorageDevice* device, long long maximum,
                             long long readLimit, long long skipUntil = 0);

private:
    long long EndIn(const unsigned char* sector, int sectorSize, long long sectorNumber,
                    long long offset, SearchContext& context) override;

    long long m_skipUntil;
};

class CEPSAnalyser : public IRawFileAnalyser {
public:
    CEPSAnalyser() : IRawFileAnalyser(RAW_EPS) {}
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    // A text head streams; the binary head gives the size at once.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    // The end of the binary form's furthest section, 0 when the header is
    // not one.
    static long long BinarySize(const uint8_t* header);
};

class CFH11Analyser : public IRawFileAnalyser {
public:
    CFH11Analyser() : IRawFileAnalyser(-1) {}
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

// A DXF drawing: recognised by its first SECTION group (at the start, or
// after a "999" comment line, which may need the bytes after the sector),
// ended by its EOF group in the line ends its first line uses.
class CDXFAnalyser : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    // A SECTION group of an open drawing that starts a sector was taken for
    // a drawing of its own: the open one absorbs it.
    class CDXFRawFileInfo : public rawcarve::AbsorbingCandidate<rawcarve::RunningEndCandidate> {
    public:
        CDXFRawFileInfo();
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;

    private:
        long long EndIn(const unsigned char* sector, int sectorSize, long long sectorNumber,
                        long long offset, SearchContext& context) override;

        const char* m_end = nullptr;  // the EOF group, chosen at the first sector
        int m_endBytes = 0;
    };

    CDXFAnalyser() : IRawFileAnalyser(RAW_DXF) {}
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    // The head alone: a drawing that opens with its SECTION group.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new CDXFRawFileInfo(); }
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                        long long sectorNumber, long long windowFirst,
                        long long windowEnd) override;

    // Whether `head` (`length` bytes readable, the first sector's
    // `sectorSize` of them searched) begins a drawing.
    static bool IsDrawingHead(const uint8_t* head, long long length, long long sectorSize);
    // The EOF group a drawing with this first sector ends with.
    static bool UsesLineFeeds(const uint8_t* head) { return head[3] == '\n'; }
};

}  // namespace BruteForce
