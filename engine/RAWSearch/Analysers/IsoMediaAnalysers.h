// QuickTime and ISO media files (MOV, MP4, M4A, M4V, 3GP, TREC): a chain of
// top-level boxes. The streaming analysers recognise an "ftyp" box at a
// sector's start, type the file by its brands and follow the box chain while
// the search streams the sectors past; a candidate they cannot finish goes
// to the whole-file box walker, which reads the chain from the device.
#pragma once

#include <cstdint>
#include <string>

#include "RawFileInfo.h"

class StreamWindow;

// Whether a four-character box type is one a file's top level holds.
bool IsTopLevelBoxType(const uint8_t* type);

// Walks the top-level boxes of an ISO media file from its start sector.
class CRawBoxFileAnalyser {
public:
    static constexpr int kMaxBoxes = 500;
    // Sets info's size to where the chain ends; 1 when it did, 0 when the
    // file cannot be sized (its first box unreadable or impossible, or no
    // box after it).
    int GetFileSize(CRawFileInfo& info, IStorageDevice* device);
};

// The whole-file partner of the streaming ISO media analysers.
class FileMP4Analyser : public IRawFileAnalyser {
public:
    FileMP4Analyser() : IRawFileAnalyser(RAW_MP4) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace BruteForce {

class MovAnalyzer : public IRawFileAnalyser {
public:
    class MovRawFileInfo : public CRawFileInfo {
    public:
        static constexpr int kMaxBoxesPerSector = 4096;
        static constexpr size_t kExifProbe = 1024;
        static constexpr size_t kMaxMake = 29;

        MovRawFileInfo(MovAnalyzer* owner, RAW_FILE_TYPE type);
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;
        bool IsSizeFinal() const override { return m_finished; }

        int BoxCount() const { return m_boxes; }
        const std::string& CameraMake() const { return m_make; }
        const std::string& CameraModel() const { return m_model; }

    private:
        void ReadExif(const StreamWindow& window, uint64_t moovOffset, uint64_t moovSize);
        void FindDeviceName(const StreamWindow& window);
        // Ends the walk with what it found; `window` is null when the search
        // no longer holds the file's bytes.
        void EndSearch(const StreamWindow* window);

        MovAnalyzer* m_owner;
        uint64_t m_next = 0;  // file offset of the next top-level box
        int m_boxes = 0;
        int m_moovs = 0;
        bool m_iso = false;
        bool m_begun = false;
        bool m_finished = false;
        bool m_littleEndian = false;
        bool m_exifPending = false;
        uint64_t m_exifAt = 0;
        uint64_t m_exifSize = 0;
        std::string m_make;
        std::string m_model;
        int m_sectorSize = 512;
    };

    MovAnalyzer() : IRawFileAnalyser(RAW_MOV) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new MovRawFileInfo(this, RAW_MOV); }
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }

    // The analyser a candidate cut off from the stream is handed to: the
    // whole-file box walker, so that a movie is never cut at the box the
    // stream had reached.
    IRawFileAnalyser* SecondAnalyser() { return &m_whole; }
    RAW_FILE_TYPE LastType() const { return m_lastType; }

    // The type the brands give an "ftyp" box at the sector's start, 0 when
    // they give none.
    static RAW_FILE_TYPE TypeByBrand(const unsigned char* sector);

protected:
    RAW_FILE_TYPE m_lastType = RAW_MOV;

private:
    FileMP4Analyser m_whole;
};

// Sees what the QuickTime analyser refused under the same key: longer
// "ftyp" boxes of the MP4 brands.
class Mp4Analyzer : public MovAnalyzer {
public:
    Mp4Analyzer() { m_type = RAW_MP4; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new MovRawFileInfo(this, RAW_MP4); }
};

class C3GPAnalyser : public MovAnalyzer {
public:
    C3GPAnalyser() { m_type = RAW_3GP; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override { return new MovRawFileInfo(this, RAW_3GP); }
};

}  // namespace BruteForce
