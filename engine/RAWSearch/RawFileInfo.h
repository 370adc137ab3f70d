// The two types that carry carving work between the signature search and
// the file-type analysers: a carved-file candidate (where a file starts, its
// length once known, its type, and the name, date text and label found
// inside it) and the analyser interface (recognise a format's first sector,
// make a candidate, size a file from the device).
#pragma once

#include <cstdint>
#include <string>

#include "RawFileTypes.h"

class IStorageDevice;
class IRawFileAnalyser;

// Sectors handed to AnalyseBuffer are at least this long; analysers read no
// further into them.
constexpr int kMinAnalyseBytes = 512;

class CRawFileInfo {
public:
    // What the search knows around the sector it offers. The sector pointer
    // points into one buffer: the previous block, the current block, then
    // kContextSlackBytes zero bytes; a candidate may address any sector of
    // [windowFirstSector, windowEndSector) relative to it.
    struct SearchContext {
        long long windowFirstSector = 0;
        long long windowEndSector = 0;
        int32_t flags = 0;              // kContextZeroWord when the first 32-bit word is 0
        int32_t zeroTail = 0;           // zero bytes at the sector's end, whole words, at most 32
        CRawFileInfo* other = nullptr;  // a new candidate found at this very sector
    };
    static constexpr int32_t kContextZeroWord = 4;
    static constexpr int kContextSlackBytes = 4096;
    static constexpr int32_t kMaxZeroTail = 32;

    CRawFileInfo() = default;
    virtual ~CRawFileInfo() = default;
    CRawFileInfo(const CRawFileInfo&) = default;
    CRawFileInfo& operator=(const CRawFileInfo&) = default;

    // True for a candidate that sizes itself sector by sector while the
    // search goes on.
    virtual bool WhetherImplementGuess() { return false; }
    // The search stops streaming sectors to this candidate (too many open,
    // finished without a size, or the end of the search: a null sector and
    // -1). A streaming candidate fixes its best size here, or hands itself
    // to a whole-file analyser by replacing m_analyser.
    virtual void WillBeRemove(unsigned char* sector, long long sectorNumber) {
        (void)sector;
        (void)sectorNumber;
    }
    // One further sector: 1 when finished (m_size holds the length, or 0
    // when the candidate gave up), anything else (2) to go on.
    virtual int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                            SearchContext& context) {
        (void)sector;
        (void)sectorSize;
        (void)sectorNumber;
        (void)context;
        return 2;
    }
    // Whether a non-zero m_size is the file's length. Candidates that keep a
    // running length in m_size while they stream answer false until they
    // have fixed it; only a final size makes a carved file when the search
    // ends or evicts the candidate.
    virtual bool IsSizeFinal() const { return true; }

    // Names and label values are stored filtered (ApiStrFilterBadFileName).
    void SetRawFileName(const std::string& name);
    std::string GetRawFileName();
    void SetRawFileTime(const std::string& text) { m_time = text; }
    const std::string& GetRawFileTime() const { return m_time; }
    void SetRawFileTagAndValue(RAW_FILE_TAG tag, const std::string& value);
    void GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value) const;
    RAW_FILE_TAG GetRawFileTag() const { return m_tag; }

    long long m_startSector = 0;
    long long m_size = 0;  // bytes; 0 until known
    RAW_FILE_TYPE m_type = RAW_RAW;
    IRawFileAnalyser* m_analyser = nullptr;  // not owned
    long long m_thumbStart = 0;
    long long m_thumbSize = 0;

private:
    std::string m_name;
    std::string m_time;
    RAW_FILE_TAG m_tag = RAW_TAG_NONE;
    std::string m_tagValue;
};

class ISpecialRawFileAnalyser {
public:
    virtual ~ISpecialRawFileAnalyser() = default;
    // Recognition with a look past the first sector: the sectors
    // [windowFirst, windowEnd) of the search's buffer surround `sector`
    // (which is sector `sectorNumber`). Non-zero when recognised.
    virtual int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                long long sectorNumber, long long windowFirst,
                                long long windowEnd) = 0;
};

class IRawFileAnalyser {
public:
    explicit IRawFileAnalyser(RAW_FILE_TYPE type = -1) : m_type(type) {}
    virtual ~IRawFileAnalyser() = default;
    IRawFileAnalyser(const IRawFileAnalyser&) = delete;
    IRawFileAnalyser& operator=(const IRawFileAnalyser&) = delete;

    // Finds the file's length by reading it from info.m_startSector through
    // the device and sets info.m_size; non-zero on success.
    virtual int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
        (void)info;
        (void)device;
        return 1;
    }
    // 1 when `sector` (kMinAnalyseBytes at least) starts a file of this
    // format; sets info's type and, when the header gives it, its size.
    virtual int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
        (void)sector;
        (void)info;
        return 0;
    }
    virtual std::string GetRawFileName() { return {}; }
    virtual std::string GetRawFileTime() { return {}; }
    // A new candidate of the analyser's own class; null makes none.
    virtual CRawFileInfo* CreateRawFileInfo() { return new CRawFileInfo(); }
    virtual ISpecialRawFileAnalyser* GetSpecialRawFile() { return nullptr; }

    // -1 for an analyser that types each candidate itself.
    RAW_FILE_TYPE GetType() const { return m_type; }

protected:
    RAW_FILE_TYPE m_type;
};

// Cuts trailing spaces, then replaces each of 01 \ / : ? " < > | * CR LF
// with "_". Every name and label value found inside a file goes through it.
std::string ApiStrFilterBadFileName(const std::string& name);
// 1 when the text holds a byte other than ASCII letters, digits, space,
// comma, hyphen, full stop, at sign and underscore.
int ApiIsInvalidCharInFileName(const std::string& text);
