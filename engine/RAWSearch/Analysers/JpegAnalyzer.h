// The streaming JPEG analyser: recognises a JPEG's first sector, reads its
// EXIF block for the camera and date, and sizes it while the search streams
// the following sectors past, by its structure (to the end-of-image marker)
// and, where that breaks, by the end marker before zero fill. Candidates it
// cannot finish go to its whole-file partner.
#pragma once

#include <memory>
#include <string>

#include "FileJPGAnalyser.h"
#include "JpegStructure.h"
#include "RawFileInfo.h"

namespace BruteForce {

class JpegAnalyzer : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    class JpegRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMinLength = 1024;
        static constexpr long long kMaxLengthExif = 0x3200000;
        static constexpr long long kMaxLengthPlain = 0x1400000;
        static constexpr int kDirectoryBudget = 7;

        explicit JpegRawFileInfo(JpegAnalyzer* owner);
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long MinLength() const { return m_minLength; }
        long long PixelCount() const { return m_pixelCount; }

    private:
        // Reads the EXIF block whose "Exif" stands at `exif` in the search's
        // buffer; `available` bytes are valid from there.
        void ReadExif(const uint8_t* exif, size_t available);
        void ReadDirectory(const uint8_t* tiff, size_t bound, size_t app1Length, uint32_t offset,
                           bool littleEndian);
        void OnSegment(uint8_t code, uint64_t offset, uint16_t length);
        int Finish(long long size, long long sectorNumber);

        JpegAnalyzer* m_owner;
        long long m_minLength = kMinLength;
        long long m_maxLength = kMaxLengthExif;
        long long m_pixelCount = 0;
        bool m_pixelWalk = false;  // SOF0 sets the pixel count
        int m_exifFlag = 0;
        int m_budget = 0;
        long long m_lastSector = -1;
        uint64_t m_exifReadAt = 0;  // file offset of the "Exif" already read
        // What the current sizing step sees.
        unsigned char* m_sector = nullptr;
        long long m_current = 0;
        int m_sectorSize = 0;
        size_t m_available = 0;  // valid bytes from m_sector on
        JpegStructure m_structure;
        bool m_structureLost = false;
        long long m_otherStart = -1;  // file offset of the last other file begun inside this one
    };

    JpegAnalyzer() : IRawFileAnalyser(RAW_JPG) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new JpegRawFileInfo(this); }
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                        long long sectorNumber, long long windowFirst,
                        long long windowEnd) override;

    FileJPGAnalyser& WholeFile() { return m_whole; }
    // The look-ahead test of heads without "JFIF" or "Exif": the marker chain
    // up to the first scan, inside the `available` bytes from `sector`.
    static int MarkerChainTest(const unsigned char* sector, uint64_t available);

private:
    FileJPGAnalyser m_whole;
};

}  // namespace BruteForce
