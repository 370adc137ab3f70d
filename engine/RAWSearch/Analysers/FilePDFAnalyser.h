// The whole-file PDF sizer, and what both PDF roads know of where a PDF
// ends: at an "%%EOF" line that is not followed by more of the document (an
// incremental update, the rest of a linearized file, or the end of a stream
// that embeds another PDF).
#pragma once

#include <cstddef>
#include <cstdint>

#include "RawFileInfo.h"

namespace pdf_structure {

constexpr char kEof[] = "%%EOF";
constexpr size_t kEofBytes = 5;

enum class After : uint8_t {
    End,   // the file ends at `end`
    More,  // the document goes on
    Open,  // the bytes at hand do not say yet
};

// `data` holds `length` bytes and "%%EOF" at `at`. Sets `end` to the offset
// (in `data`) just past the marker and its line end.
After AfterEof(const uint8_t* data, size_t length, size_t at, size_t* end);

// Whether a "%%EOF" after this byte stands at a line's start, as the end
// marker does; one inside a line is text (of a content stream, say).
inline bool EofLineStart(uint8_t before) {
    return before == '\r' || before == '\n';
}

// A "%!PS-Adobe" head in the first `length` bytes followed, in them, by
// "Adobe Illustrator": a file Illustrator wrote as PostScript or PDF.
bool IllustratorHead(const uint8_t* data, size_t length);

}  // namespace pdf_structure

class FilePDFAnalyser : public IRawFileAnalyser {
public:
    // How far the end is looked for; a file without one is cut here.
    static constexpr uint64_t kMaxLength = 0xD000000;
    static constexpr unsigned kHeadScan = 1024;
    // Bytes after an "%%EOF" looked at to tell whether the document goes on.
    static constexpr size_t kLookAhead = 640;

    FilePDFAnalyser() : IRawFileAnalyser(RAW_PDF) {}
    // Sizes the candidate: 1 when a size was set, 0 when the device could
    // not be read.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // 1 when the text holds a keyword only PDF bodies hold.
    static int IsContainPdfKeyWords(const char* text);

private:
    int GetRawFileSizeEx(CRawFileInfo& info, IStorageDevice* device);
};
