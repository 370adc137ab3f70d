// Follows a gzip file member by member: each header, its deflate data to the
// end of the stream and its trailer, checked against what was inflated. Fed
// the file's bytes in order, in pieces of any size, it tells where the last
// whole member ends, whatever follows the file: "gzip -c a >f; gzip -c b >>f"
// and parallel compressors write files of many members.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class GzipMembers {
public:
    enum class State { Going, End, Broken };

    GzipMembers();
    ~GzipMembers();
    GzipMembers(const GzipMembers&) = delete;
    GzipMembers& operator=(const GzipMembers&) = delete;

    // Feeds the next `length` bytes; bytes after the end or a break are
    // ignored.
    State Feed(const uint8_t* data, size_t length);
    // No more bytes come: a file of whole members ends after the last one.
    void EndOfData();

    State GetState() const { return m_state; }
    // Past the last whole member's trailer (State::End).
    uint64_t EndOffset() const { return m_end; }
    // The offset of the next byte to feed.
    uint64_t Position() const { return m_position; }

private:
    enum class Step { Header, Deflate, Trailer };

    // What follows the last member is no member: the file ended there, or
    // (before any member was whole) this is no gzip file to be followed.
    void Stop();
    void StartInflate();

    struct Inflater;
    Inflater* m_inflater;
    State m_state = State::Going;
    Step m_step = Step::Header;
    uint64_t m_position = 0;
    uint64_t m_end = 0;            // 0 until a member is whole
    std::vector<uint8_t> m_bytes;  // the header, or the trailer, read so far
    uint32_t m_crc = 0;
    uint32_t m_inflated = 0;  // modulo 2^32, as the trailer keeps it
};
