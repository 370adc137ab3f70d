// 3D Studio meshes and cartridge images that begin with the mesh's "MM":
// the streaming analyser reads the main chunk's length (or the cartridge's
// size); its whole-file partner reads the same from the device.
#pragma once

#include "Carver.h"
#include "RawFileInfo.h"

class File3DSAnalyser : public IRawFileAnalyser {
public:
    File3DSAnalyser() : IRawFileAnalyser(RAW_3DS) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace RawSpeed {

class New3DSAnalyser : public rawcarve::StreamingCarver<New3DSAnalyser, RAW_3DS, File3DSAnalyser> {
public:
    class New3DSRawFileInfo : public rawcarve::StreamingCandidate<New3DSAnalyser> {
    public:
        explicit New3DSRawFileInfo(New3DSAnalyser* owner) : StreamingCandidate(owner, RAW_3DS) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        long long m_end = -1;  // where the file ends, once read
    };

    using Candidate = New3DSRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // The length the first sector gives: the main chunk's, or the cartridge
    // image's; 0 when it gives none that can be.
    static long long DeclaredLength(const unsigned char* sector);
};

}  // namespace RawSpeed
