// The remaining audio and video analysers: ADTS AAC streams, MIDI songs,
// Monkey's Audio, AIFF, RIFF forms (WAV, AVI and their kin), Matroska,
// Magic Lantern video and MXF.
// Declarations only: each format's code is in its own file (AdtsAnalyser.cpp,
// MidAnalyser.cpp, ApeAnalyser.cpp, AifAnalyser.cpp, RiffAnalyser.cpp,
// MkvAnalyser.cpp, MlvAnalyser.cpp, MxfAnalyser.cpp).
#pragma once

#include <cstdint>

#include "MediaWalks.h"
#include "RawFileInfo.h"

class FileMIDAnalyser;

namespace BruteForce {

class CADTSAnalyser : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    static constexpr int kConfirmFrames = 5;
    CADTSAnalyser() : IRawFileAnalyser(-1) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                        long long sectorNumber, long long windowFirst,
                        long long windowEnd) override;
    CRawFileInfo* CreateRawFileInfo() override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }

    // The frame length of an ADTS header, 0 when it is none.
    static uint32_t FrameLength(const unsigned char* header);

private:
    // The look-ahead ran out of window before five frames were seen: the
    // candidate it makes must show more frames than that to be a file.
    bool m_overflow = false;
};

class CAPEAnalyser : public IRawFileAnalyser {
public:
    CAPEAnalyser() : IRawFileAnalyser(-1) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
};

class CAPERawFileInfo : public CRawFileInfo {
public:
    static constexpr uint64_t kMaxSize = 0x82000000ull;
    static constexpr uint64_t kMaxConsumed = 0x81FFFFFFull;

    CAPERawFileInfo() { m_type = RAW_APE; }
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) override;
    bool IsSizeFinal() const override { return m_finished; }
    // The APE tag nearest the end of the sector: its length (0 when none),
    // where it starts in the sector and the zero bytes after the data.
    static int searchTag(const unsigned char* sector, int length, int zeroTail, int& position,
                         int& zeroCount);

private:
    int Finish(long long size, int sectorSize);
    int ScanSeekTable(const unsigned char* from, uint64_t bytes, int sectorSize);
    int TagCheck(const unsigned char* sector, int sectorSize, const SearchContext& context);

    uint64_t m_consumed = 0;
    uint64_t m_seekLeft = 0;
    uint64_t m_largest = 0;
    uint16_t m_version = 0;
    int32_t m_alignment = 4;
    bool m_started = false;
    bool m_finished = false;
    bool m_headerPending = false;
};

}  // namespace BruteForce

namespace RawSpeed {

class MIDAnalyser : public IRawFileAnalyser {
public:
    MIDAnalyser();
    ~MIDAnalyser() override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    IRawFileAnalyser* WholeFile();

private:
    FileMIDAnalyser* m_whole;
};

class MLvAnalyser : public IRawFileAnalyser {
public:
    MLvAnalyser() : IRawFileAnalyser(RAW_MLV) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    // A recording cut off from the stream, walked block by block from the
    // device.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class MxfAnalyser : public IRawFileAnalyser {
public:
    MxfAnalyser() : IRawFileAnalyser(RAW_MXF) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    // A file cut off from the stream, walked packet by packet from the device.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

}  // namespace RawSpeed

// MLV blocks: a known four-character type and a length each.
class MlvWalk : public MediaWalk {
public:
    static constexpr uint64_t kMaxSize = 2097152000ull;
    WalkStep Next(const ByteSource& source) override;
    uint64_t LastBlock() const { return m_lastBlock; }
    static bool KnownType(const uint8_t* type);

private:
    uint64_t m_lastBlock = 0;
};

// MXF KLV packets: a SMPTE key and a BER length each.
class MxfWalk : public MediaWalk {
public:
    static constexpr uint64_t kMaxSize = 2000000000ull;
    WalkStep Next(const ByteSource& source) override;
    // The packet header's length and the value's length at `packet`
    // (which holds at least 17 bytes); false for a length that is not BER.
    static bool PacketLength(const ByteSource& source, uint64_t at, uint64_t& header,
                             uint64_t& value);
};

class FileMKVAnalyser : public IRawFileAnalyser {
public:
    FileMKVAnalyser() : IRawFileAnalyser(RAW_MKV) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // An EBML variable-length integer at `p` (with `available` bytes): its
    // length in bytes (0 when it is none) and value; `unknown` when all its
    // value bits are set.
    static int ReadVint(const unsigned char* p, size_t available, uint64_t& value, bool& unknown);
};

class CFileAIFAnalyzer : public IRawFileAnalyser {
public:
    CFileAIFAnalyzer() : IRawFileAnalyser(RAW_AIFF) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FileRIFFAnalyser : public IRawFileAnalyser {
public:
    FileRIFFAnalyser() : IRawFileAnalyser(RAW_RIFF) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    // Whether the form at byte 8 and the first chunk at byte 12 are these
    // (letters in any case).
    static bool CompareSignString(const char* form, const char* chunk, const unsigned char* sector);
    static RAW_FILE_TYPE FormType(const unsigned char* sector);
};
