#include "GzipMembers.h"

#include <algorithm>

#include <zlib.h>

#include "ByteReader.h"
#include "HeaderLayouts.h"
#include "ZeroTailAnalysers.h"

namespace {

constexpr size_t kTrailerBytes = 8;  // CRC-32 and length of what was inflated
// A header's name and comment are short; one that does not end within this
// many bytes is taken for no header.
constexpr size_t kLongestHeader = 65536;

}  // namespace

struct GzipMembers::Inflater {
    z_stream z{};
    bool open = false;
    uint8_t out[16384];
};

GzipMembers::GzipMembers() : m_inflater(new Inflater()) {}

GzipMembers::~GzipMembers() {
    if (m_inflater->open)
        inflateEnd(&m_inflater->z);
    delete m_inflater;
}

void GzipMembers::Stop() {
    m_state = m_end != 0 ? State::End : State::Broken;
}

void GzipMembers::StartInflate() {
    z_stream& z = m_inflater->z;
    if (m_inflater->open) {
        inflateReset(&z);
    } else {
        z = z_stream{};
        m_inflater->open = inflateInit2(&z, -15) == Z_OK;
    }
    if (!m_inflater->open) {
        Stop();
        return;
    }
    m_crc = crc32(0L, Z_NULL, 0);
    m_inflated = 0;
    m_step = Step::Deflate;
}

GzipMembers::State GzipMembers::Feed(const uint8_t* data, size_t length) {
    size_t i = 0;
    while (i < length && m_state == State::Going) {
        switch (m_step) {
            case Step::Header: {
                const size_t before = m_bytes.size();
                if ((before == 0 && data[i] != 0x1F) || (before == 1 && data[i] != 0x8B)) {
                    Stop();
                    break;
                }
                const size_t take = std::min(length - i, kLongestHeader - before);
                m_bytes.insert(m_bytes.end(), data + i, data + i + take);
                if (m_bytes.size() >= gz_layout::kHeaderBytes &&
                    !CGzSearch::IsValidGzHeader(m_bytes.data(),
                                                static_cast<unsigned>(m_bytes.size()))) {
                    Stop();
                    break;
                }
                const long long header =
                    m_bytes.size() > gz_layout::kHeaderBytes
                        ? RawSpeed::GZRawFileInfo::DataStart(m_bytes.data(), m_bytes.size())
                        : 0;
                if (header == 0) {
                    if (m_bytes.size() >= kLongestHeader)
                        Stop();
                    i += take;
                    m_position += take;
                    break;
                }
                // Only the header's own bytes are consumed here.
                const size_t used = static_cast<size_t>(header) - before;
                i += used;
                m_position += used;
                m_bytes.clear();
                StartInflate();
                break;
            }
            case Step::Deflate: {
                z_stream& z = m_inflater->z;
                z.next_in = const_cast<Bytef*>(data + i);
                z.avail_in = static_cast<uInt>(std::min<size_t>(length - i, 1u << 30));
                const uInt given = z.avail_in;
                int r = Z_OK;
                while (r == Z_OK && z.avail_in > 0) {
                    z.next_out = m_inflater->out;
                    z.avail_out = sizeof m_inflater->out;
                    r = inflate(&z, Z_NO_FLUSH);
                    const uInt produced = static_cast<uInt>(sizeof m_inflater->out) - z.avail_out;
                    m_crc = crc32(m_crc, m_inflater->out, produced);
                    m_inflated += produced;
                    if (r == Z_BUF_ERROR && z.avail_out > 0)
                        r = Z_OK;  // wants more input
                }
                const size_t used = given - z.avail_in;
                i += used;
                m_position += used;
                if (r == Z_STREAM_END)
                    m_step = Step::Trailer;
                else if (r != Z_OK)
                    Stop();
                break;
            }
            case Step::Trailer: {
                const size_t take = std::min(length - i, kTrailerBytes - m_bytes.size());
                m_bytes.insert(m_bytes.end(), data + i, data + i + take);
                i += take;
                m_position += take;
                if (m_bytes.size() < kTrailerBytes)
                    break;
                if (vk::LoadLE<uint32_t>(m_bytes.data()) != m_crc ||
                    vk::LoadLE<uint32_t>(m_bytes.data() + 4) != m_inflated) {
                    Stop();
                    break;
                }
                m_end = m_position;
                m_bytes.clear();
                m_step = Step::Header;
                break;
            }
        }
    }
    return m_state;
}

void GzipMembers::EndOfData() {
    if (m_state == State::Going)
        Stop();
}
