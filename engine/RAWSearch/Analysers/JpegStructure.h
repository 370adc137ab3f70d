// Follows a JPEG's structure byte by byte: its marker segments by their
// lengths, and its entropy-coded scans to the next marker, up to the end of
// image. Fed the file's bytes in order, in pieces of any size, it tells
// exactly where the image ends whatever bytes follow it, and where the
// structure stops making sense (a file cut short and overwritten).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class JpegStructure {
public:
    enum class State { Going, End, Broken };

    // A segment with a length: called when its length has been read.
    // `offset` is the file offset of its FF.
    using SegmentHook = std::function<void(uint8_t code, uint64_t offset, uint16_t length)>;

    // Starts at the file's first byte (FF D8 expected there), or at a marker
    // inside the file.
    explicit JpegStructure(uint64_t startOffset = 0);
    void SetSegmentHook(SegmentHook hook) { m_hook = std::move(hook); }
    // Walks on over a picture that starts right after the end of image, as
    // multi-picture files and camera bursts store them, or over the boxes
    // of a movie there (a motion photo's clip, "ftyp" first); the file then
    // ends where the last of them does. One that starts at a sector
    // boundary may as well be a file of its own, and ends the walk.
    void FollowNextPicture(uint32_t sectorSize) { m_sectorSize = sectorSize; }
    // No more bytes come: a walk past an end of image ends there, as a
    // following picture cut off is not part of what can be carved whole.
    void EndOfData();

    // Feeds the next `length` bytes; returns the state after them. Bytes fed
    // after the end or a break are ignored.
    State Feed(const uint8_t* data, size_t length);

    State GetState() const { return m_state; }
    // The offset just past the end-of-image marker (State::End), or of the
    // byte that broke the structure (State::Broken).
    uint64_t StopOffset() const { return m_stop; }
    // The offset of the next byte to feed.
    uint64_t Position() const { return m_position; }
    bool SawScan() const { return m_sawScan; }

private:
    enum class Step {
        Start,
        StartCode,
        ExpectMarker,
        Code,
        Length1,
        Length2,
        Skip,
        Entropy,
        EntropyCode,
        NextStart,
        NextStartCode,
        BoxHeader,
        BoxSkip
    };

    void Break() {
        if (m_lastEnd != 0) {
            // What follows the last end of image was no picture: the file
            // ended there.
            m_state = State::End;
            m_stop = m_lastEnd;
            return;
        }
        m_state = State::Broken;
        m_stop = m_position;
    }
    void Marker(uint8_t code);
    // One more byte of a movie box's header.
    void BoxByte(uint8_t b);

    State m_state = State::Going;
    Step m_step;
    uint64_t m_position;
    uint64_t m_stop = 0;
    uint64_t m_markerOffset = 0;
    uint8_t m_code = 0;
    uint16_t m_length = 0;
    uint32_t m_skip = 0;
    bool m_sawScan = false;
    uint32_t m_sectorSize = 0;  // 0: the walk ends at the first end of image
    uint64_t m_lastEnd = 0;     // past the last end of image, when a picture may follow
    uint8_t m_box[16] = {};     // the box header read so far
    size_t m_boxHave = 0;
    bool m_firstBox = true;
    uint64_t m_boxSkip = 0;  // bytes of the current box still to pass
    SegmentHook m_hook;
};
