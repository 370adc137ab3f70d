// The streaming TIFF analyser: TIFF images and the camera raw formats built
// on TIFF. Its candidate walks the image file directories as the search
// brings the sectors that hold them, keeps the furthest byte any directory,
// strip, tile or thumbnail reaches, reads the camera's make, model and date,
// and types the file by its maker. What it cannot finish while streaming
// (an RAF wrapper, a directory that scrolled out of the search's buffer, too
// many directories) goes to its whole-file partner.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Carver.h"
#include "FileTIFAnalyser.h"
#include "RawFileInfo.h"

namespace BruteForce {

class TiffAnalyzer : public rawcarve::StreamingCarver<TiffAnalyzer, RAW_TIF, FileTIFAnalyser> {
public:
    class TiffRawFileInfo : public CRawFileInfo {
    public:
        static constexpr long long kInitialEnd = 8192;
        // A first directory further in than this is not waited for.
        static constexpr long long kMaxFirstIfd = 0x400000;
        // Directories read while streaming; the next one gives the file to
        // the whole-file sizer.
        static constexpr int kMaxDirectories = 11;
        // Pending reads handled for one candidate at most.
        static constexpr int kMaxReads = 256;
        // The zero-fill end of files whose structure does not say where
        // they end.
        static constexpr long long kSmallEnd = 0xA00000;
        static constexpr long long kWholeSectorsFrom = 0x100000;
        static constexpr long long kMaxPixelEnd = 0xC800000;

        explicit TiffRawFileInfo(TiffAnalyzer* owner);
        bool WhetherImplementGuess() override { return true; }
        void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
        int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                        SearchContext& context) override;

        long long EndOffset() const { return m_endOffset; }
        long long Measured() const { return static_cast<long long>(m_measured); }

    private:
        enum class Kind : uint8_t {
            ChainDirectory,   // the main chain of directories
            SubDirectory,     // sub-IFDs, the EXIF directory: part of the picture
            NoteDirectory,    // a maker note read as a directory: may be none
            LastStripOffset,  // the last element of an array
            LastStripCount,
            LastTileOffset,
            LastTileCount,
            SubDirectoryList,
            Make,
            Model,
            DateTime,
            JpegStrip,  // does a JPEG start here?
            JpegThumb,
        };
        struct Read {
            uint64_t offset = 0;
            uint32_t length = 0;
            Kind kind = Kind::ChainDirectory;
            uint64_t base = 0;   // offsets inside a directory count from here
            uint32_t count = 0;  // elements of a list
        };

        // The bytes [offset, offset + length) of the file when the search's
        // buffer holds them.
        const uint8_t* At(uint64_t offset, uint64_t length) const;
        uint16_t U16(const uint8_t* p) const;
        uint32_t U32(const uint8_t* p) const;
        void Reach(uint64_t end);
        void Queue(Kind kind, uint64_t offset, uint32_t length, uint64_t base = 0,
                   uint32_t count = 0);
        // Handles what the buffer holds; false when `read` must wait.
        bool Handle(Read& read, const uint8_t* data);
        void CheckIFD(const Read& read);
        void Entry(const uint8_t* e, uint64_t base);
        static bool Sizes(Kind kind);
        void SetLast(Kind kind, uint64_t base, uint64_t value);
        void StripEnd();
        void TileEnd();
        void SetFileExt();
        int Finish(long long size);
        // Gives up streaming: the whole-file sizer measures the file.
        int GiveUp();

        TiffAnalyzer* m_owner;
        bool m_bigEndian = false;
        bool m_iiu = false;
        bool m_dng = false;
        bool m_started = false;
        bool m_done = false;        // gave up
        bool m_lost = false;        // a directory that holds the picture could not be read
        bool m_chainEnded = false;  // the main chain's last link was 0
        bool m_imageData = false;   // strips or tiles were located
        int m_directories = 0;
        int m_reads = 0;
        int m_sectorSize = 0;
        long long m_endOffset = kInitialEnd;  // furthest byte known, for the zero-fill end
        uint64_t m_measured = 8;              // furthest byte the structure describes
        long long m_pixelCount = 0;
        uint32_t m_width = 0;
        uint32_t m_height = 0;
        uint64_t m_stripOffset = 0;
        uint64_t m_stripCount = 0;
        bool m_stripOffsetKnown = false;
        bool m_stripCountKnown = false;
        bool m_stripIsJpeg = false;
        bool m_sizesRead = false;  // a strip byte count or thumbnail length was read
        uint64_t m_thumbOffset = 0;
        uint64_t m_thumbLength = 0;
        uint64_t m_tileOffset = 0;
        uint64_t m_tileCount = 0;
        bool m_tileOffsetKnown = false;
        bool m_tileCountKnown = false;
        std::string m_make;
        std::string m_model;
        std::vector<Read> m_pending;
        std::set<uint64_t> m_seen;
        // What the current call sees: the sector, its file offset, and the
        // file offsets the search's buffer holds.
        const uint8_t* m_sector = nullptr;
        long long m_sectorOffset = 0;
        long long m_windowFirst = 0;
        long long m_windowEnd = 0;
    };

    using Candidate = TiffRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

}  // namespace BruteForce
