// Camera raw containers that are not TIFF: Sigma's X3F, which ends with its
// section directory (and the pointer to it), and Minolta's MRW, whose
// header gives the raw data's place and dimensions.
// Declarations only: the code is in X3fAnalyser.cpp and MrwAnalyser.cpp.
#pragma once

#include <cstdint>

#include "Carver.h"
#include "RawFileInfo.h"

namespace Dunmere {

// The whole-file road of X3F: the directory searched through the device.
class FileX3FAnalyser : public IRawFileAnalyser {
public:
    FileX3FAnalyser() : IRawFileAnalyser(RAW_X3F) {}
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class X3FAnalyser : public rawcarve::StreamingCarver<X3FAnalyser, RAW_X3F, FileX3FAnalyser> {
public:
    class X3FRawFileInfo : public rawcarve::JudgingCandidate<X3FAnalyser> {
    public:
        explicit X3FRawFileInfo(X3FAnalyser* owner) : JudgingCandidate(owner, RAW_X3F, 4) {}

    private:
        int Judge(const rawwalk::StreamView& view) override;
    };
    using Candidate = X3FRawFileInfo;

    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;

    // Where the file ends, judged at a sector that closes with zeros:
    // `data` holds `length` bytes ending with that sector, the sector at
    // file offset `sectorOffset` the last `sectorSize` of them; the
    // directory is searched back from the sector's end. The file's length,
    // or -1 when no directory is there.
    static long long DirectoryEnd(const uint8_t* data, int length, int sectorSize,
                                  long long sectorOffset);
};

}  // namespace Dunmere

struct MrwFormat {  // Minolta raw pictures
    static constexpr RAW_FILE_TYPE kType = RAW_MRW;
    static bool Size(const vk::ByteReader& head, const unsigned char* sector, long long* size);
};
class FileMRWAnalyser : public rawcarve::HeaderSizedCarver<MrwFormat> {};
