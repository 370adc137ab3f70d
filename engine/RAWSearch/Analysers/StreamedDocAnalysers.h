// Streaming analysers of three formats sized while the search streams past
// them: Canon CIFF raw pictures (ended by the marks of their last record
// table, handed to the whole-file sizer when they cannot finish), After
// Effects projects (a big-endian RIFX length, then perhaps an XMP packet up
// to the zero fill) and NGRR recordings (a chain of "atad" records).
// Declarations only: the code is in CrwAnalyser.cpp, AepAnalyser.cpp and
// NgrrAnalyser.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Carver.h"
#include "HeaderSizedAnalysers.h"
#include "RawFileInfo.h"

namespace crw_stream_layout {
constexpr long long kSkipBytes = 409600;  // no end is looked for before this
constexpr long long kSizeLimit = 0x6400000;
constexpr int kMarkBytes = 5;     // 07 28, the kind, 00 00
constexpr int kMinZeros = 9;      // an end sector closes with this many zero bytes
constexpr int kAroundStart = 86;  // bytes searched on each side of a sector's start
constexpr long long kAfterA8 = 70;
constexpr long long kAfterB2 = 60;
constexpr long long kAfterE4 = 50;
constexpr long long kB2Further = 10;  // when the 4 bytes at the B2 end are not zero
}  // namespace crw_stream_layout

namespace aep_layout {
constexpr size_t kLengthBE = 4;  // 32 bits: RIFX data after the 8-byte head
constexpr size_t kForm = 8;      // "Egg"
constexpr long long kHeadBytes = 8;
constexpr long long kSizeLimit = 100000000;
constexpr int kMinZeros = 9;
}  // namespace aep_layout

namespace ngrr_layout {
constexpr long long kFirstRecord = 60;
constexpr size_t kRecordLength = 16;  // 32 bits (little-endian) of data after the record head
constexpr long long kRecordHead = 24;
constexpr long long kSizeLimit = 0x3200000;
static_assert(kRecordLength + 4 <= static_cast<size_t>(kRecordHead));
}  // namespace ngrr_layout

namespace Dunmere {

class CRWAnalyser : public rawcarve::StreamingCarver<CRWAnalyser, RAW_CRW, FileCRWAnalyser> {
public:
    class CRWRawFileInfo : public rawcarve::StreamingCandidate<CRWAnalyser> {
    public:
        explicit CRWRawFileInfo(CRWAnalyser* owner) : StreamingCandidate(owner, RAW_CRW) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
    };

    using Candidate = CRWRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;

    // Where the file ends when an end mark starts at `at` of `bytes`
    // (`length` long): the distance from the mark's start, or -1 when no
    // mark starts there.
    static long long EndAfterMark(const uint8_t* bytes, long long length, long long at);
};

}  // namespace Dunmere

namespace RawSpeed {

class AEPAnalyser : public IRawFileAnalyser {
public:
    class AEPRawFileInfo : public rawcarve::WalkingCandidate {
    public:
        AEPRawFileInfo() : WalkingCandidate(RAW_AEP) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        long long m_length = -1;  // the RIFX length
        bool m_packet = false;    // an XMP packet follows: the zero fill ends it
    };

    AEPAnalyser() : IRawFileAnalyser(RAW_AEP) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new AEPRawFileInfo(); }
};

class NGRRAnalyser : public IRawFileAnalyser {
public:
    class NGRRRawFileInfo : public rawcarve::WalkingCandidate {
    public:
        NGRRRawFileInfo() : WalkingCandidate(RAW_NGRR) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        long long m_walk = ngrr_layout::kFirstRecord;
    };

    NGRRAnalyser() : IRawFileAnalyser(RAW_NGRR) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new NGRRRawFileInfo(); }
};

}  // namespace RawSpeed
