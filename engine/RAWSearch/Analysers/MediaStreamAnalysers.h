// Streaming analysers of video and audio containers whose structures chain
// by their lengths: MPEG program streams, Ogg, FLV, RealMedia, ASF and MPEG
// transport streams. Each candidate drives its format's walk (MediaWalks.h)
// while the search streams the sectors past; what it cannot finish goes to
// a whole-file sizer running the same walk over the device.
// Declarations only: the shared candidate is in WalkRawFileInfo.cpp, each
// format in its own file (MpgAnalyser.cpp, OggAnalyser.cpp, FlvAnalyser.cpp,
// RmAnalyser.cpp, AsfAnalyser.cpp, M2tsAnalyser.cpp).
#pragma once

#include <memory>

#include "Carver.h"
#include "MediaWalks.h"
#include "RawFileInfo.h"

// A candidate sized by a structure walk.
class WalkRawFileInfo : public CRawFileInfo {
public:
    static constexpr long long kLimit = 0xC800000;
    static constexpr int kMaxStepsPerSector = 1025;

    WalkRawFileInfo(RAW_FILE_TYPE type, IRawFileAnalyser* partner, long long limit = kLimit);
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) override;

protected:
    enum class Start { Ready, Wait, Fail };
    virtual MediaWalk& Walk() = 0;
    // Before the walk: Fail finishes the candidate without a size, Wait asks
    // again with the next sector (what the start needs is not held yet).
    virtual Start Begin(const StreamWindow&) { return Start::Ready; }
    // The size the walk's end gives (0: none); `walked` bytes of the file
    // have streamed past.
    virtual long long SizeAtEnd(uint64_t position, long long walked);
    // Names the finished candidate.
    virtual void NameAtEnd(int sectorSize);
    // The search stops following this file: markers it holds are freed.
    virtual void Release() {}
    int Done(long long size, int sectorSize);

    long long m_limit;
    bool m_finished = false;

private:
    IRawFileAnalyser* m_partner;
    bool m_started = false;
};

namespace Dunmere {

// Files of every sizer below that the last whole-file sizing found: a start
// inside one is a piece of it.
class LastSized {
public:
    bool Inside(long long start) const {
        return m_start >= 0 && start > m_start && start < m_start + m_sectors;
    }
    void Remember(long long start, long long size, int sectorSize);

private:
    long long m_start = -1;
    long long m_sectors = 0;
};

class FileMPGAnalyser : public IRawFileAnalyser {
public:
    static constexpr uint64_t kMaxSize = 0x82000000ull;
    FileMPGAnalyser() : IRawFileAnalyser(RAW_MPG) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    // The pack-header length a stream's first sector gives; 0 when the
    // value at byte 4 is not one of the clocks recognised.
    static uint32_t PackHeaderLength(const unsigned char* sector);

private:
    LastSized m_last;
};

class MPGAnalyser : public rawcarve::PartneredCarver<RAW_MPG, FileMPGAnalyser> {
public:
    static constexpr long long kNearSectors = 20;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    // A candidate of this analyser was sized by the stream.
    void Sized(long long start, long long size, int sectorSize);

private:
    long long m_lastAccepted = -1;
    long long m_lastEnd = -1;  // the sector after the last accepted stream, once sized
    uint32_t m_header = 12;
};

class CFileOggAnalyser : public IRawFileAnalyser {
public:
    static constexpr uint64_t kMaxSize = 0x82000000ull;
    CFileOggAnalyser() : IRawFileAnalyser(RAW_OGG) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class OGGAnalyser : public rawcarve::PartneredCarver<RAW_OGG, CFileOggAnalyser> {
public:
    // Every sector under the key, unless an Ogg file is being followed.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    // The Ogg candidate the search is following, or null: while there is
    // one, pages inside it start no file.
    static const void* InProgress() { return s_inProgress; }
    static const void* s_inProgress;
};

class FileFLVAnalyser : public IRawFileAnalyser {
public:
    static constexpr uint64_t kMaxSize = 0x82000000ull;
    FileFLVAnalyser() : IRawFileAnalyser(RAW_FLV) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FLVAnalyser : public rawcarve::PartneredCarver<RAW_FLV, FileFLVAnalyser> {
public:
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class FileRM_RMVBAnalyser : public IRawFileAnalyser {
public:
    static constexpr uint64_t kMaxIndexSearch = 0x104000001ull;
    FileRM_RMVBAnalyser() : IRawFileAnalyser(RAW_RM) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class RM_RMVBAnalyser : public rawcarve::PartneredCarver<RAW_RM, FileRM_RMVBAnalyser> {
public:
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

}  // namespace Dunmere

namespace BruteForce {

// Sizes ASF files while they stream past and, for a candidate cut off from
// the stream, from the device.
class CAsfAnalyser : public IRawFileAnalyser {
public:
    CAsfAnalyser() : IRawFileAnalyser(-1) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class CM2TSAnalyser : public IRawFileAnalyser {
public:
    CM2TSAnalyser() : IRawFileAnalyser(-1) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    // A transport stream cut off from the stream, walked from the device.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;

    // The packet size (188 or 192) the sector's packets have, 0 for none.
    static uint32_t JudeM2TSHeader(const unsigned char* sector);
    // The transport-stream candidate the search is following, or null.
    static const void* InProgress() { return s_inProgress; }
    static const void* s_inProgress;

private:
    uint32_t m_packet = 188;
};

}  // namespace BruteForce
