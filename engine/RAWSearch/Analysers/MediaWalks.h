// The structure walks of the audio and video containers, written once for
// both roads: a streaming candidate drives a walk sector by sector over the
// blocks the search holds (a structure not held yet waits for the next
// block), a whole-file sizer drives it over the device to its end (a
// structure that cannot be read ends the file there).
// Declarations only: each walk's code is in its format's file
// (MpgAnalyser.cpp, OggAnalyser.cpp, ...); MediaWalks.cpp runs them.
#pragma once

#include <cstdint>

#include "StreamWindow.h"

enum class WalkStep {
    Continue,  // one structure passed; the position moved on
    NeedMore,  // the structure at the position cannot be had (yet)
    End,       // the file ends at the position (0: no file)
};

class MediaWalk {
public:
    virtual ~MediaWalk() = default;
    virtual WalkStep Next(const ByteSource& source) = 0;
    uint64_t Position() const { return m_pos; }

    // Walks over the device until the walk ends, a structure cannot be read
    // (the file ends there) or the position passes `cap`, which becomes the
    // size then. At most `maxSteps` structures.
    uint64_t RunToEnd(const ByteSource& source, uint64_t cap, uint64_t maxSteps);

protected:
    // Moves `pos` on by `by`; false (and `pos` as it was) when that would
    // pass 2^62.
    static bool Advance(uint64_t& pos, uint64_t by);

    uint64_t m_pos = 0;
};

// MPEG program and elementary streams: pack headers, system headers and
// packets chained by their lengths.
class MpegPsWalk : public MediaWalk {
public:
    static constexpr int kZeroRun = 100;
    static constexpr uint64_t kMinSystemHeaderEnd = 102400;

    // The pack-header length the stream's first pack gives (the value at
    // byte 4 tells MPEG-1 from MPEG-2 clocks).
    void SetPackHeaderLength(uint32_t length) { m_header = length; }
    WalkStep Next(const ByteSource& source) override;

private:
    uint32_t m_header = 12;
    int m_zeros = 0;
    uint64_t m_zeroStart = 0;
    bool m_missed = false;
    uint64_t m_missAt = 0;
};

// Ogg pages.
class OggWalk : public MediaWalk {
public:
    // A page without segments ends the streaming walk as no file; the
    // whole-file walk passes it.
    explicit OggWalk(bool emptyPageFails) : m_emptyPageFails(emptyPageFails) {}
    WalkStep Next(const ByteSource& source) override;

private:
    bool m_emptyPageFails;
};

// FLV tags, each after the size of the tag before it.
class FlvWalk : public MediaWalk {
public:
    WalkStep Next(const ByteSource& source) override;

private:
    bool m_begun = false;
    uint32_t m_previousData = 1;  // data size of the tag before the position
    uint64_t m_tags = 0;
};

// ASF top-level objects after the header object, whose streams type the file.
class AsfWalk : public MediaWalk {
public:
    static constexpr uint64_t kMaxObject = 0x1964000000ull;
    WalkStep Next(const ByteSource& source) override;
    RAW_FILE_TYPE Type() const;

private:
    void CountStreams(const ByteSource& source, uint64_t headerSize);
    bool m_begun = false;
    int m_video = 0;
    int m_media = 0;
    int m_other = 0;
};

// MPEG transport packets of 188 bytes, or 192 with a time code first.
class M2tsWalk : public MediaWalk {
public:
    static constexpr uint64_t kMaxSize = 10000000000ull;
    static constexpr uint64_t kMinSize = 0x5000;
    explicit M2tsWalk(uint32_t packet) : m_packet(packet) {}
    WalkStep Next(const ByteSource& source) override;
    uint32_t PacketSize() const { return m_packet; }

private:
    uint32_t m_packet;
};

// RealMedia chunks from the file header on; an index chunk that links to
// no further index ends the file after its entries.
class RmChunkWalk : public MediaWalk {
public:
    static constexpr int kMaxChunksPerCall = 1024;
    WalkStep Next(const ByteSource& source) override;

private:
    bool m_begun = false;
};

// Whether the 20 bytes are RealMedia's empty index record ("INDX", size 20,
// version 0, no entries, stream 2, no next index).
bool IsEmptyRmIndex(const uint8_t* bytes);
// Whether 1 KiB from a RealMedia file's start describes a video stream.
bool RmDescribesVideo(const uint8_t* probe, size_t length);
