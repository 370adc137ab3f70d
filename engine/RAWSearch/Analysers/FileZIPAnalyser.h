// ZIP archives and the containers built on them: office documents (DOCX,
// XLSX, PPTX), OpenDocument files, EPUB books, iWork documents, application
// packages, Outlook archives. The analyser walks the archive's records while
// the search streams its sectors past, types it by its members' names, names
// office documents from their core properties, and finds the end of archives
// it could not finish from the device.
#pragma once

#include <cstdint>
#include <string>

#include "FileProperty.h"
#include "OfficeMetadata.h"
#include "RawFileInfo.h"
#include "ZipSearch.h"

class FileZIPAnalyser : public IRawFileAnalyser {
public:
    static constexpr long long kSizeLimit = 200000000;
    static constexpr long long kOfficeSizeLimit = 20000000;
    // The whole-file road stops walking, searching for zero fill and for
    // the end record at these distances.
    static constexpr uint64_t kMaxWalk = 0x104000000ULL;
    static constexpr uint64_t kMaxZeroSearch = 0xC800000ULL;
    static constexpr uint64_t kMaxEndSearch = 0xD000000ULL;

    class ZIPRawFileInfo : public CRawFileInfo {
    public:
        ZIPRawFileInfo() { m_type = RAW_ZIP; }
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        bool IsSizeFinal() const override { return m_final; }

        // Names the file (from its core properties when an office document
        // gave them) and sets a missing size.
        void FillFileInfo(long long sectorNumber, int sectorSize, int zeroTail);
        // The office kind the names in a central directory's bytes give.
        static RAW_FILE_TYPE JudeOleType(const unsigned char* bytes, int length);

        bool Office() const { return m_office; }
        const FileProperty& Property() const { return m_property; }

    private:
        // Reads the records that begin before this sector's end.
        void Walk(unsigned char* sector, long long sectorNumber, int sectorSize,
                  const SearchContext& ctx);
        void OnRecord(const classZipSearch::Record& record, const unsigned char* at,
                      size_t available, long long sectorNumber, int sectorSize,
                      long long headerOffset, const SearchContext& ctx);
        void ReadCore(const unsigned char* sector, long long sectorNumber, int sectorSize,
                      const SearchContext& ctx);
        // Looks for the end record of an archive whose sizes the walk lost.
        bool HuntEnd(unsigned char* sector, long long sectorNumber, int sectorSize,
                     const SearchContext& ctx);
        int Done(long long sectorNumber, int sectorSize, int zeroTail);

        bool m_office = false;
        bool m_firstSizesKnown = true;
        bool m_sizesKnown = true;
        bool m_walkValid = true;
        bool m_ended = false;
        bool m_final = false;
        bool m_memberTaken = false;
        bool m_nested = false;  // a member of an archive walked by another candidate
        long long m_walk = 0;   // file offset of the next record
        long long m_huntFrom = 0;
        long long m_pendingCore = -1;  // file offset of a core-properties header not read yet
        long long m_sizeLimit = kSizeLimit;
        tagZipLocalFileHeader m_coreHeader;
        FileProperty m_property;
        bool m_propertiesRead = false;
        uint32_t m_accumulated = RAW_ZIP;
        std::string m_member;
    };

    FileZIPAnalyser() : IRawFileAnalyser(RAW_ZIP) {}
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new ZIPRawFileInfo(); }

    // 1 when the first member's name says the archive is an application
    // package (or a Java archive, which is built the same way).
    static int ZipIpaFileType(const unsigned char* sector);
    // The office and CDR tests on the first local header: the streaming
    // form, and the stricter whole-file form.
    static void JudgeMaybeOfficeType(const unsigned char* sector, int length, bool& office,
                                     bool& cdr);
    void JudgeMaybeOfficeType(const unsigned char* sector);
    // The type a local header's member gives the archive so far. `data` is
    // the member's data (`available` bytes); `core` is set for the
    // core-properties member.
    static void ClassifyMember(const std::string& name, const unsigned char* data, size_t available,
                               bool office, bool whole, uint32_t& type, bool& core);
    static void ClassifyCentral(const std::string& name, bool office, uint32_t& type);
    // The end of an archive whose members carry data descriptors: the first
    // end record from `offset` on that closes the archive; the last offset
    // searched when none does.
    uint64_t GetProbablySize(uint64_t offset, CRawFileInfo& info, IStorageDevice* device);

private:
    bool m_office = false;
    bool m_cdr = false;
    bool m_endFound = false;  // the last GetProbablySize found an end record
};
