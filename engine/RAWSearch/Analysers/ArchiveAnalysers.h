// Archives and disk images: RAR (block chain), tar (512-byte headers), LHA
// (member headers), StuffIt and disk images that begin with a bzip2 stream
// (their "koly" trailer). Each streaming analyser owns the whole-file
// analyser of its format and hands it the candidates it cannot finish.
// Declarations only: the code is in RarAnalyser.cpp, TarAnalyser.cpp,
// LzhAnalyser.cpp, SitAnalyser.cpp and DmgAnalyser.cpp.
#pragma once

#include <cstdint>

#include "Carver.h"
#include "RawFileInfo.h"
#include "StreamWalk.h"
#include "WholeFileAnalysers.h"

namespace classRarSearch {
// The whole length of the block whose head is at `block` (at least 7 of
// `available` bytes), as two 32-bit halves; false for a block that is not
// one of the kinds a RAR archive holds, or that contradicts itself. The
// 7-byte end-of-archive block answers false: the walks find the end there.
bool GetBlockSize(const unsigned char* block, int available, unsigned* low, unsigned* high);
inline unsigned long long BitOperation(unsigned low, unsigned high) {
    return (static_cast<unsigned long long>(high) << 32) | low;
}
bool IsEndBlock(const unsigned char* block);
}  // namespace classRarSearch

class FileRARAnalyser : public IRawFileAnalyser {
public:
    FileRARAnalyser() : IRawFileAnalyser(RAW_RAR) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

// A tar header's 12-character size field: octal digits (leading blanks
// skipped, ended by the first other character), or a big-endian number when
// its first byte has the top bit set, as GNU tar writes sizes of 8 GiB and
// more. Negative or oversized values read as the largest value.
unsigned long long OctStringToint(const char* field);

class FileTARAnalyser : public IRawFileAnalyser {
public:
    FileTARAnalyser() : IRawFileAnalyser(RAW_TAR) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

// Whole-file sizer of disk images found by their bzip2 head.
class FileDMGAnalyser : public IRawFileAnalyser {
public:
    FileDMGAnalyser() : IRawFileAnalyser(RAW_DMG) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    // True when a UDIF trailer begins at `p` (512 bytes readable).
    static bool IsTrailer(const uint8_t* p);
};

class FileSITAnalyser : public IRawFileAnalyser {
public:
    FileSITAnalyser() : IRawFileAnalyser(RAW_SIT) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace RawSpeed {

class RARAnalyser : public rawcarve::StreamingCarver<RARAnalyser, RAW_RAR, FileRARAnalyser> {
public:
    class RARRawFileInfo : public rawcarve::StreamingCandidate<RARAnalyser> {
    public:
        explicit RARRawFileInfo(RARAnalyser* owner) : StreamingCandidate(owner, RAW_RAR) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        long long m_next = 7;  // the next block head, from the archive's start
        bool m_first = true;   // the archive header not read yet
    };

    using Candidate = RARRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class TARAnalyser : public rawcarve::StreamingCarver<TARAnalyser, RAW_TAR, FileTARAnalyser> {
public:
    // A later member's header of an archive being walked is not an
    // archive of its own: the walk absorbs it.
    class TARRawFileInfo : public rawcarve::AbsorbingCandidate<rawcarve::WalkingCandidate> {
    public:
        explicit TARRawFileInfo(TARAnalyser* owner) : AbsorbingCandidate(RAW_TAR), m_owner(owner) {}
        void WillBeRemove(unsigned char*, long long) override;

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        int Finish(const rawwalk::StreamView& view, long long size);

        TARAnalyser* m_owner;
        long long m_next = 0;     // the next header
        long long m_zero = -1;    // the first zero block, once met
        long long m_checked = 0;  // zero bytes seen up to here after it
    };

    using Candidate = TARRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class SITAnalyser : public rawcarve::StreamingCarver<SITAnalyser, RAW_SIT, FileSITAnalyser> {
public:
    class SITRawFileInfo : public rawcarve::StreamingCandidate<SITAnalyser> {
    public:
        explicit SITRawFileInfo(SITAnalyser* owner) : StreamingCandidate(owner, RAW_SIT) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        bool m_headerRead = false;
        bool m_classic = true;
        bool m_zeroTail = false;
    };

    using Candidate = SITRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

}  // namespace RawSpeed

namespace Dunmere {

class LZHAnalyser : public rawcarve::StreamingCarver<LZHAnalyser, RAW_LZH, FileLZHAnalyser> {
public:
    // A later member's header of an archive being walked is absorbed, as
    // a tar member's is.
    class LZHRawFileInfo : public rawcarve::AbsorbingCandidate<rawcarve::WalkingCandidate> {
    public:
        explicit LZHRawFileInfo(LZHAnalyser* owner) : AbsorbingCandidate(RAW_LZH), m_owner(owner) {}
        void WillBeRemove(unsigned char*, long long) override;

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
        LZHAnalyser* m_owner;
        long long m_walk = 0;  // the next member header
    };

    using Candidate = LZHRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class DMGAnalyser : public rawcarve::StreamingCarver<DMGAnalyser, RAW_DMG, FileDMGAnalyser> {
public:
    class DMGRawFileInfo : public rawcarve::StreamingCandidate<DMGAnalyser> {
    public:
        explicit DMGRawFileInfo(DMGAnalyser* owner) : StreamingCandidate(owner, RAW_DMG) {}

    private:
        int Step(const rawwalk::StreamView& view, SearchContext& context) override;
    };

    using Candidate = DMGRawFileInfo;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

}  // namespace Dunmere
