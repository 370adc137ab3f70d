// The streaming PDF analyser: PDF documents and Adobe Illustrator files
// (written as PDF or as PostScript). Its candidate reads the document
// information as it passes, to name the file and file it under its author,
// and ends the file at the "%%EOF" line that nothing of the document
// follows. What it cannot end goes to its whole-file partner.
#pragma once

#include <cstdint>
#include <string>

#include "FilePDFAnalyser.h"
#include "FileProperty.h"
#include "PdfTitleAnalyzer.h"
#include "RawFileInfo.h"

namespace BruteForce {

class PdfAnalyzer : public IRawFileAnalyser {
public:
    class PdfRawFileInfo : public CRawFileInfo {
    public:
        // Longer candidates are not documents: they are dropped.
        static constexpr long long kMaxLength = 200000000;

        explicit PdfRawFileInfo(PdfAnalyzer* owner);
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        const FileProperty& Property() const { return m_property; }

    private:
        // Names and labels the file from its document information.
        void PdfTagDealwith();
        int Finish(long long size);

        PdfAnalyzer* m_owner;
        bool m_checkIllustrator = true;
        bool m_noLabel = false;
        bool m_infoWanted = true;
        bool m_named = false;
        bool m_pairPending = false;  // a block's last sector waits for the next
        uint64_t m_searchedTo = 0;   // "%%EOF" starts below this were looked at
        FileProperty m_property;
        PdfTitleAnalyzer m_titleReader;
    };

    PdfAnalyzer() : IRawFileAnalyser(RAW_PDF) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new PdfRawFileInfo(this); }

    FilePDFAnalyser& WholeFile() { return m_whole; }

private:
    FilePDFAnalyser m_whole;
};

}  // namespace BruteForce
