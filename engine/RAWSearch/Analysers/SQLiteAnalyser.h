// SQLite databases, told apart by what their first tables hold: generic
// event databases, address books, music-score libraries and sketch
// documents. The candidate streams: the header first, then the first bytes
// of every page, to the first page that cannot belong to a database.
#pragma once

#include <cstdint>

#include "Carver.h"
#include "RawFileInfo.h"
#include "StreamWalk.h"

namespace BruteForce {

class CFCPEvtFileInfo : public rawcarve::WalkingCandidate {
public:
    CFCPEvtFileInfo() : WalkingCandidate(RAW_FCPEVENT) {}

private:
    int Step(const rawwalk::StreamView& view, SearchContext& context) override;
    // Decides music score or sketch from the first page's first cells.
    void JudeMuseSuffix(const rawwalk::StreamView& view);
    // One page that begins at `offset`: 2 to go on, 1 when the file ends there.
    int Page(const rawwalk::StreamView& view, long long offset);
    int Finish(const rawwalk::StreamView& view, long long offset);
    // Types an address book by the table list a page holds.
    void JudgeAddressBook(const rawwalk::StreamView& view, long long offset);

    int32_t m_pageSize = 0;
    long long m_offset = 0;
    long long m_databasePages = 0;
    long long m_declaredSize = 0;  // from a header that vouches for its page count, else 0
    bool m_chainStarted = false;
    int32_t m_chainRun = 0;
    int32_t m_lastChainByte = 0;
    int32_t m_freePages = 0;
    int32_t m_cellContent = 0;
    int32_t m_marker = 0;
    bool m_typeOpen = true;
    long long m_nextPage = 0;  // the next page start not looked at yet
};

class CFCPEvtAnalyser : public IRawFileAnalyser {
public:
    CFCPEvtAnalyser() : IRawFileAnalyser(-1) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new CFCPEvtFileInfo(); }
    // Whether the page lists, among 26 to 34 short names, two that begin
    // "ABCDRecord" or "ABCDPhoneNumber".
    static bool AnalyseABCDDBFileType(const uint8_t* page, int pageSize, int cellCount);
};

}  // namespace BruteForce
