// MP3 files: found by an ID3v2 tag at a sector's start or by a run of MPEG
// audio frame headers, sized while the search streams past by their frame
// chain (or, for a tagged file whose audio does not follow its tag at once,
// by the zero fill after its last sector), named from their tags and filed
// under their artist. Candidates the stream cannot finish go to the
// whole-file sizer, which reads the file from the device.
#pragma once

#include <memory>
#include <string>

#include "Id3Text.h"
#include "RawFileInfo.h"

class StreamWindow;

// Tests shared by both roads.
namespace mp3 {
// An MPEG audio frame header as the chain accepts one: FF, a second byte of
// E0 or more, a third below F0, accepted by CMPAHeader. Its frame length,
// or 0.
uint32_t FrameLength(const unsigned char* header);
// An ID3v2 tag of version 3 or 4.
bool IsId3Start(const unsigned char* bytes);
// The synchsafe size at offset 6 of an ID3v2 header, or 0 when a byte has
// its top bit set or the size lies outside 1 to 0x40000000.
uint32_t Id3TagSize(const unsigned char* header);
constexpr uint32_t kMaxFrameLength = 352800;
constexpr long long kMinChainBytes = 10240;
}  // namespace mp3

class FileMP3Analyser : public IRawFileAnalyser {
public:
    static constexpr uint64_t kMaxFrameWalk = 0x82000000ull;
    static constexpr uint64_t kMaxAudioWalk = 0x104000000ull;
    static constexpr uint32_t kMaxSkip = 4095;

    FileMP3Analyser() : IRawFileAnalyser(RAW_MP3) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    std::string GetRawFileName() override { return m_title; }
    std::string GetRawFileTime() override { return m_year; }
    void GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value) const {
        tag = m_tag;
        value = m_artist;
    }

private:
    int GetRawFileSizeXING(CRawFileInfo& info, class RawFileBuffer& file);
    int GetRawFileSizeFromFrame(CRawFileInfo& info, class RawFileBuffer& file);
    int GetRawFileSizeFromTag(CRawFileInfo& info, class RawFileBuffer& file);
    // Reads an ID3v1 tag at `tag` (128 bytes) into title, artist and year.
    void ReadV1(const uint8_t* tag, Id3TextDecoder& decoder, bool onlyMissing);
    void Name(CRawFileInfo& info);

    std::string m_title;
    std::string m_year;
    std::string m_artist;
    RAW_FILE_TAG m_tag = RAW_TAG_NONE;
    std::string m_charset;
    // The last file sized by the frame path: a second start inside it is a
    // piece of the same file.
    long long m_lastStart = -1;
    long long m_lastSectors = 0;
};

namespace BruteForce {

class MP3Analyzer : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    class MP3RawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kMinLength = 20480;
        static constexpr long long kMaxLength = 0xC800000;
        static constexpr long long kGiveUp = 524288001;
        static constexpr int kMaxFramesPerCall = 1024;

        explicit MP3RawFileInfo(MP3Analyzer* owner);
        ~MP3RawFileInfo() override;
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        int CalcRawSizeEx(const StreamWindow& window, long long sectorNumber);

        long long MinLength() const { return m_minLength; }
        bool FrameMode() const { return m_frameMode != 0; }
        long long PictureOffset() const { return m_pictureOffset; }
        long long PictureLength() const { return m_pictureLength; }

    private:
        void ReadTag(const StreamWindow& window);
        bool HealthyStart(const StreamWindow& window);
        uint64_t StartBytes(const StreamWindow& window) const;
        int TagModeStep(const StreamWindow& window, unsigned char* sector, int sectorSize,
                        long long sectorNumber, const SearchContext& context);
        // Ends the candidate: sets the size (0: no file) and lets the next
        // frame-started file be found.
        int Finish(long long size);
        void ReleaseChain();
        void ClaimChain();
        void NameFromV1(const uint8_t* tag, long long size, int sectorSize);

        MP3Analyzer* m_owner;
        long long m_pictureOffset = 0;
        long long m_pictureLength = 0;
        long long m_minLength = kMinLength;
        unsigned long long m_nextFrame = 0;
        uint64_t m_tagEnd = 0;  // where the audio of a tagged file should begin
        int m_frameMode = 0;
        unsigned long long m_currentEnd = 0;
        long long m_maxLength = kMaxLength;
        long long m_lastSector = 0;
        bool m_started = false;
        bool m_finished = false;
        uint64_t m_firstHeldEnd = 0;
        std::unique_ptr<int[]> m_histogram;
        int m_histogramLength = 512;
        Id3TextDecoder m_text;
    };

    MP3Analyzer() : IRawFileAnalyser(RAW_MP3) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new MP3RawFileInfo(this); }
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                        long long sectorNumber, long long windowFirst,
                        long long windowEnd) override;

    FileMP3Analyser& WholeFile() { return m_whole; }

    // The start sector of the MP3 whose frame chain the search is following
    // (-1 when none): frame headers start no new file inside it. Every
    // analyser object of the family sees the one value.
    static long long LastStartSector() { return m_lastStartSector; }
    static void ResetLastStartSector() { m_lastStartSector = -1; }

private:
    friend class MP3RawFileInfo;
    static long long m_lastStartSector;
    FileMP3Analyser m_whole;
};

}  // namespace BruteForce
