// Reads an EXIF block into a record of camera, date and exposure fields,
// for naming and labelling carved photos.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct tag_ExifInfo {
    // 8: copy the maker note, 4: copy the user comment, 2: copy the
    // thumbnail, each into a buffer of its own instead of pointing into the
    // block given.
    uint8_t options = 0;
    char version[5] = {};
    char cameraMake[32] = {};
    char cameraModel[40] = {};
    char dateTime[20] = {};    // when the picture was taken
    char modifyTime[20] = {};  // IFD0's date and time: when the file was last changed
    char digitizedTime[20] = {};
    int32_t orientation = 0;
    int32_t flashUsed = 0;
    float focalLength = 0;
    float exposureTime = 0;
    float fNumber = 0;
    float distance = 0;
    float ccdWidth = 0;
    float exposureBias = 0;
    int32_t lightSource = 0;
    int32_t meteringMode = 0;
    int32_t exposureProgram = 0;
    int32_t isoEquivalent = 0;
    int32_t compressionLevel = 0;
    float focalPlaneXRes = 0;
    float focalPlaneYRes = 0;
    float focalPlaneUnits = 0;
    float xResolution = 0;
    float yResolution = 0;
    float resolutionUnit = 0;
    float brightness = 0;
    char comments[1000] = {};
    int32_t userCommentLength = 0;
    const uint8_t* userComment = nullptr;
    int32_t makerNoteLength = 0;
    const uint8_t* makerNote = nullptr;
    const uint8_t* thumbnail = nullptr;
    uint32_t thumbnailSize = 0;
    // The copies asked for by `options`.
    std::vector<uint8_t> userCommentCopy;
    std::vector<uint8_t> makerNoteCopy;
    std::vector<uint8_t> thumbnailCopy;
};

class CExifReader {
public:
    // Directories read for one block at most (links that come back are
    // refused as loops; this also bounds directories shared by many links).
    static constexpr int kMaxDirectories = 32;

    void SetExitInfo(tag_ExifInfo* info) { m_info = info; }
    // 1 when the block ("Exif" 00 00, then a TIFF header and its
    // directories, `length` bytes) was read into the chosen record; 0 when
    // no record is chosen or the block is refused: a bad header, a
    // directory, entry value or link outside the block, a format outside 1
    // to 12, or a loop of directory links. `fileBase` and `fileLength` (the
    // file the block lies in) are not needed for reading the block.
    int EXIF_process_EXIF(const unsigned char* fileBase, unsigned fileLength,
                          const unsigned char* exifBlock, unsigned length);
    bool LittleEndian() const { return m_littleEndian; }

private:
    bool ReadDirectory(uint32_t offset, int depth);
    double Number(const uint8_t* p, uint16_t format) const;

    tag_ExifInfo* m_info = nullptr;
    const uint8_t* m_tiff = nullptr;
    size_t m_tiffLength = 0;
    bool m_littleEndian = true;
    int m_directories = 0;
    std::vector<uint32_t> m_open;  // directories being read, for loops
    double m_imageWidth = 0;
    double m_focalPlaneUnit = 0;
};

// The process-wide reader the analysers use (one deep scan at a time).
void SetExitInfo(tag_ExifInfo* info);
int EXIF_process_EXIF(const unsigned char* fileBase, unsigned fileLength,
                      const unsigned char* exifBlock, unsigned length);
