// Streaming analysers of formats whose end the search guesses from the zero
// fill after it (password safes, music scores, gzip, key stores, mail
// databases), and of e-books, whose record list points at their end record.
// Their files are named by position ("start-end_"). Declarations only: each
// format's code is in its own file (Psafe3Analyser.cpp, SibAnalyser.cpp,
// JksAnalyser.cpp, GzAnalyser.cpp, DbxAnalyser.cpp, MobiAnalyser.cpp).
#pragma once

#include <memory>

#include "Carver.h"
#include "GzipMembers.h"
#include "RawFileInfo.h"
#include "StreamLayouts.h"
#include "StreamWalk.h"
#include "WholeFileAnalysers.h"

namespace RawSpeed {

struct Psafe3Format {  // Password Safe v3 databases
    static constexpr RAW_FILE_TYPE kType = RAW_PSAFE3;
    static constexpr long long kMinimum = psafe3_layout::kMinimum;
    static constexpr long long kMaximum = psafe3_layout::kMaximum;
    static bool Matches(const unsigned char* sector);
};
class PSAFE3Analyser : public rawcarve::ZeroTailCarver<Psafe3Format> {};

struct SibFormat {  // Sibelius scores
    static constexpr RAW_FILE_TYPE kType = RAW_SIB;
    static constexpr long long kMinimum = sib_layout::kMinimum;
    static constexpr long long kMaximum = sib_layout::kMaximum;
    static bool Matches(const unsigned char* sector);
};
class SIBAnalyser : public rawcarve::ZeroTailCarver<SibFormat> {};

struct JksFormat {  // Java key stores
    static constexpr RAW_FILE_TYPE kType = RAW_JKS;
    static constexpr long long kMinimum = jks_layout::kMinimum;
    static constexpr long long kMaximum = jks_layout::kMaximum;
    static bool Matches(const unsigned char* sector);
};
class JKSAnalyser : public rawcarve::ZeroTailCarver<JksFormat> {};

// A gzip file's members followed through their deflate streams as the
// sectors pass: the trailer of the last whole member is the file's end. The
// zero fill cannot tell it, since the trailer's length field ends in up to
// three zero bytes. A file whose first member does not inflate is ended by
// the zero fill as before.
class GZRawFileInfo : public ZeroTailRawFileInfo {
public:
    GZRawFileInfo(const rawwalk::ZeroTailRule& rule, IRawFileAnalyser* whole);
    ~GZRawFileInfo() override;
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) override;
    // Where the deflate data of a member begins, from its first `length`
    // bytes; 0 when the header does not end inside them.
    static long long DataStart(const unsigned char* head, size_t length);

private:
    std::unique_ptr<GzipMembers> m_members;  // while the members are followed
    bool m_tried = false;
    long long m_fed = 0;  // file offset up to which bytes were given to the walk
};

class GZAnalyzer : public rawcarve::PartneredCarver<RAW_GZ, FileGZAnalyser> {
public:
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class DbxAnalyser : public IRawFileAnalyser {
public:
    class DBXRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMaxLength = 500000000;
        DBXRawFileInfo() { m_type = RAW_DBX; }
        bool WhetherImplementGuess() override { return true; }
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

    private:
        int m_kind = -1;  // 1: the zero-tail head, 0: sized by its header
    };

    DbxAnalyser() : IRawFileAnalyser(RAW_DBX) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new DBXRawFileInfo(); }
    // 0 none, 1 to 5 the five 16-byte heads (5 is the zero-tail one), 6 "JMF6".
    static int HeadKind(const unsigned char* sector);
};

// Reads the record list through the device: the last record's offset + 4.
class FileMOBIAnalyser : public IRawFileAnalyser {
public:
    FileMOBIAnalyser() : IRawFileAnalyser(RAW_MOBI) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class MOBIAnalyser : public rawcarve::StreamingCarver<MOBIAnalyser, RAW_MOBI, FileMOBIAnalyser> {
public:
    class MOBIRawFileInfo : public rawcarve::StreamingCandidate<MOBIAnalyser> {
    public:
        static constexpr long long kMaxLength = 0x9600000;
        explicit MOBIRawFileInfo(MOBIAnalyser* owner) : StreamingCandidate(owner, RAW_MOBI) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        int m_hop = 0;  // 0: at the record list, 1: at the last record, 2: zero-tail guess
        long long m_position = -1;
    };

    using Candidate = MOBIRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

}  // namespace RawSpeed
