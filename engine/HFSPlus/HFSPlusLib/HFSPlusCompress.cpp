#include "HFSPlusCompress.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ByteReader.h"
#include "DataRun.h"
#include "HFSPlusFileNode.h"
#include "HFSPlusLayout.h"
#include "HFSPlusVolume.h"
#include "Utility/CatchExeception.h"

namespace hfsplus {

namespace L = layout;

// ---------------------------------------------------------------- LZVN

namespace {

enum LzvnClass : uint8_t {
    kSmallDistance,
    kPreviousDistance,
    kLargeDistance,
    kMediumDistance,
    kEndOfStream,
    kNop,
    kLargeLiteral,
    kSmallLiteral,
    kLargeMatch,
    kSmallMatch,
    kUndefined,
};

struct LzvnTable {
    uint8_t cls[256];
    constexpr LzvnTable() : cls() {
        for (int op = 0; op < 256; ++op) {
            const int low = op & 7;
            const bool distanceRange =
                op <= 0x6F || (op >= 0x80 && op <= 0x9F) || (op >= 0xC0 && op <= 0xCF);
            LzvnClass c = kUndefined;
            if (op >= 0xA0 && op <= 0xBF)
                c = kMediumDistance;
            else if (op == 0xE0)
                c = kLargeLiteral;
            else if (op >= 0xE1 && op <= 0xEF)
                c = kSmallLiteral;
            else if (op == 0xF0)
                c = kLargeMatch;
            else if (op >= 0xF1)
                c = kSmallMatch;
            else if (distanceRange) {
                if (low == 7)
                    c = kLargeDistance;
                else if (low < 6)
                    c = kSmallDistance;
                else if (op == 0x06)
                    c = kEndOfStream;
                else if (op == 0x0E || op == 0x16)
                    c = kNop;
                else if (op >= 0x40)
                    c = kPreviousDistance;
                // 0x1E-0x3E with low bits 6 stay undefined.
            }
            cls[op] = c;
        }
    }
};
constexpr LzvnTable kLzvn;

}  // namespace

size_t lzvn_decode(void* destination, size_t destinationSize, const void* source,
                   size_t sourceSize) {
    if (!destination || !source)
        return 0;
    auto* dst = static_cast<uint8_t*>(destination);
    const auto* src = static_cast<const uint8_t*>(source);
    size_t sp = 0, dp = 0, lastDistance = 0;
    for (;;) {
        if (sp >= sourceSize)
            return 0;  // no end-of-stream opcode
        const uint8_t op = src[sp];
        size_t literals = 0, match = 0, distance = lastDistance, length = 1;
        auto need = [&](size_t n) { return sp + n <= sourceSize; };
        switch (kLzvn.cls[op]) {
            case kSmallDistance:
                if (!need(2))
                    return 0;
                literals = op >> 6;
                match = ((op >> 3) & 7) + 3;
                distance = (size_t{op & 7u} << 8) | src[sp + 1];
                length = 2;
                break;
            case kPreviousDistance:
                literals = op >> 6;
                match = ((op >> 3) & 7) + 3;
                break;
            case kLargeDistance:
                if (!need(3))
                    return 0;
                literals = op >> 6;
                match = ((op >> 3) & 7) + 3;
                distance = src[sp + 1] | (size_t{src[sp + 2]} << 8);
                length = 3;
                break;
            case kMediumDistance:
                if (!need(3))
                    return 0;
                literals = (op >> 3) & 3;
                match = ((size_t{op & 7u} << 2) | (src[sp + 1] & 3u)) + 3;
                distance = (src[sp + 1] >> 2) | (size_t{src[sp + 2]} << 6);
                length = 3;
                break;
            case kEndOfStream:
                return dp;
            case kNop:
                ++sp;
                continue;
            case kLargeLiteral:
                if (!need(2))
                    return 0;
                literals = size_t{src[sp + 1]} + 16;
                length = 2;
                break;
            case kSmallLiteral:
                literals = op & 0x0F;
                break;
            case kLargeMatch:
                if (!need(2))
                    return 0;
                match = size_t{src[sp + 1]} + 16;
                length = 2;
                break;
            case kSmallMatch:
                match = op & 0x0F;
                break;
            default:
                return 0;
        }
        if (!need(length + literals))
            return 0;
        sp += length;
        if (literals) {
            const size_t n = std::min(literals, destinationSize - dp);
            std::memcpy(dst + dp, src + sp, n);
            dp += n;
            if (n < literals)
                return destinationSize;
            sp += literals;
        }
        if (match) {
            // A distance of 0 would copy the bytes being written; one past
            // the output's start would read what was never produced.
            if (distance == 0 || distance > dp)
                return 0;
            const size_t n = std::min(match, destinationSize - dp);
            for (size_t i = 0; i < n; ++i, ++dp)
                dst[dp] = dst[dp - distance];
            if (n < match)
                return destinationSize;
            lastDistance = distance;
        }
    }
}

// ---------------------------------------------------------------- reader

CHFSPlusCompressFileReader::CHFSPlusCompressFileReader(CHFSPlusVolume* volume,
                                                       CHFSPlusFileNode* node)
    : volume_(volume), node_(node) {}

CHFSPlusCompressFileReader::CHFSPlusCompressFileReader(const CHFSPlusCompressFileReader& other)
    : IFileReader(),
      volume_(other.volume_),
      node_(other.node_),
      inMemory_(other.inMemory_),
      memoryAttribute_(other.memoryAttribute_),
      memoryFork_(other.memoryFork_) {}

CHFSPlusCompressFileReader* CHFSPlusCompressFileReader::FromMemory(std::vector<uint8_t> decmpfs,
                                                                   std::vector<uint8_t> fork) {
    auto* reader = new CHFSPlusCompressFileReader(nullptr, nullptr);
    reader->inMemory_ = true;
    reader->memoryAttribute_ = std::move(decmpfs);
    reader->memoryFork_ = std::move(fork);
    return reader;
}

long long CHFSPlusCompressFileReader::GetDataSize() const {
    if (inMemory_)
        return static_cast<long long>(size_);
    return node_ ? node_->GetFileSize() : 0;
}

namespace {

// Inflates one zlib stream into exactly `out.size()` bytes at most; the
// length produced, or -1.
long long Inflate(const uint8_t* data, size_t size, uint8_t* out, size_t room) {
    uLongf produced = static_cast<uLongf>(room);
    const int rc = uncompress(out, &produced, data, static_cast<uLong>(size));
    if (rc != Z_OK && rc != Z_BUF_ERROR)
        return -1;
    return static_cast<long long>(produced);
}

}  // namespace

bool CHFSPlusCompressFileReader::Prepare() {
    if (prepared_)
        return usable_;
    prepared_ = true;
    std::vector<uint8_t> attr;
    if (inMemory_) {
        attr = memoryAttribute_;
    } else if (!volume_ || !volume_->Header() || !node_ ||
               volume_->getAttribute(node_->DataFileID(), L::kDecmpfsName, &attr) <
                   L::kDecmpfsHeaderSize) {
        return false;
    }
    HFSPlusDecmpfs head;
    if (ResultFailed(flipHFSPlusDecmpfs(attr.data(), attr.size(), &head)))
        return false;
    type_ = head.compressionType;
    size_ = head.uncompressedSize;
    if (size_ > kMaxUncompressedSize)
        return false;
    payload_.assign(attr.begin() + L::kDecmpfsHeaderSize, attr.end());
    switch (type_) {
        case 3:
        case 7: {
            if (payload_.empty())
                return size_ == 0 && (usable_ = true);
            // A stream that did not shrink is kept raw behind a marker:
            // a low nibble 0xF before zlib data, 0x06 before LZVN data.
            const bool raw = type_ == 3 ? (payload_[0] & 0x0F) == 0x0F : payload_[0] == 0x06;
            if (raw) {
                plain_.assign(payload_.begin() + 1, payload_.end());
            } else {
                // Inline data is a few KiB; neither decoder expands more
                // than about a thousandfold, so the header cannot make this
                // allocate more than the data could fill.
                const uint64_t room =
                    std::min<uint64_t>(size_, uint64_t{payload_.size()} * 1100 + 4096);
                plain_.resize(static_cast<size_t>(room));
                long long produced = -1;
                if (type_ == 3)
                    produced =
                        Inflate(payload_.data(), payload_.size(), plain_.data(), plain_.size());
                else
                    produced = static_cast<long long>(lzvn_decode(
                        plain_.data(), plain_.size(), payload_.data(), payload_.size()));
                if (produced < 0 || (produced == 0 && size_ != 0))
                    return false;
                plain_.resize(static_cast<size_t>(produced));
            }
            if (plain_.size() != size_)
                if (ErrorLinesOn())
                    std::fprintf(stderr, "decmpfs: size mismatch\n");
            return usable_ = true;
        }
        case 4:
        case 8:
            break;
        default:
            return false;
    }

    uint64_t F = memoryFork_.size();
    if (!inMemory_) {
        IDataRunList* list = node_->GetDataRunList();
        if (!list || !list->GetFirst()) {
            if (ErrorLinesOn())
                CatchExeception::WriteLog("%s decompress flag %d,got empty IDataRunList\n",
                                          "ReadData", type_);
            return false;
        }
        uint64_t at = 0;
        const uint64_t B = volume_->BlockSize();
        for (const DataRun* run = list->GetFirst(); run; run = list->GetNext()) {
            runStarts_.push_back(at);
            at += static_cast<uint64_t>(run->length) * B;
        }
        F = std::min<uint64_t>(node_->ForkLength(), at);
    }
    const uint64_t blockCount = (size_ + L::kCompressionBlock - 1) / L::kCompressionBlock;
    if (type_ == 4) {
        uint8_t head16[L::kRsrcHeadSize];
        if (F < L::kRsrcHeadSize || !ReadFork(0, head16, sizeof head16))
            return false;
        const uint64_t H = vk::ByteReader(head16, sizeof head16).BE32(0);
        uint8_t table[8];
        if (H + 8 > F || !ReadFork(H, table, sizeof table))
            return false;
        const uint32_t n = vk::ByteReader(table, sizeof table).LE32(L::kRsrcBlockTable);
        if (n != blockCount || H + 8 + uint64_t{n} * L::kRsrcBlockEntry > F)
            return false;
        std::vector<uint8_t> entries(size_t{n} * L::kRsrcBlockEntry);
        if (n && !ReadFork(H + 8, entries.data(), entries.size()))
            return false;
        vk::ByteReader r(entries.data(), entries.size());
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t offset = H + 4 + r.LE32(i * L::kRsrcBlockEntry);
            const uint64_t length = r.LE32(i * L::kRsrcBlockEntry + 4);
            // A block ending exactly at the fork's end is the last one.
            if (offset + length > F || length > 2 * L::kCompressionBlock)
                return false;
            blocks_.push_back({offset, length});
        }
    } else {
        uint8_t first[4];
        if (F < 4 || !ReadFork(0, first, sizeof first))
            return false;
        const uint64_t T = vk::ByteReader(first, sizeof first).LE32(0);
        if (T < 8 || T % 4 != 0 || T > F || T / 4 - 1 != blockCount)
            return false;
        std::vector<uint8_t> table(static_cast<size_t>(T));
        if (!ReadFork(0, table.data(), table.size()))
            return false;
        vk::ByteReader r(table.data(), table.size());
        for (uint64_t k = 0; k + 1 < T / 4; ++k) {
            const uint64_t start = r.LE32(4 * k), end = r.LE32(4 * (k + 1));
            if (end < start || end > F || end - start > 2 * L::kCompressionBlock)
                return false;
            blocks_.push_back({start, end - start});
        }
    }
    return usable_ = true;
}

bool CHFSPlusCompressFileReader::ReadFork(uint64_t offset, uint8_t* out, uint64_t length) {
    if (inMemory_) {
        if (offset > memoryFork_.size() || length > memoryFork_.size() - offset)
            return false;
        std::memcpy(out, memoryFork_.data() + offset, static_cast<size_t>(length));
        return true;
    }
    IDataRunList* list = node_->GetDataRunList();
    const uint64_t B = volume_->BlockSize();
    uint64_t done = 0;
    size_t i = 0;
    for (const DataRun* run = list->GetFirst(); run && done < length; run = list->GetNext(), ++i) {
        const uint64_t start = runStarts_[i];
        const uint64_t bytes = static_cast<uint64_t>(run->length) * B;
        const uint64_t want = offset + done;
        if (want >= start + bytes)
            continue;
        const uint64_t within = want - start;
        const uint64_t take = std::min(length - done, bytes - within);
        if (volume_->Read(static_cast<uint64_t>(run->start) * B + within, out + done, take) != take)
            return false;
        done += take;
    }
    return done == length;
}

bool CHFSPlusCompressFileReader::DecodeBlock(size_t k) {
    if (k == currentIndex_)
        return true;
    currentIndex_ = SIZE_MAX;
    if (k >= blocks_.size())
        return false;
    const uint64_t expected =
        std::min<uint64_t>(L::kCompressionBlock, size_ - uint64_t{k} * L::kCompressionBlock);
    std::vector<uint8_t> data(static_cast<size_t>(blocks_[k].size));
    if (data.empty() || !ReadFork(blocks_[k].offset, data.data(), data.size()))
        return false;
    current_.assign(static_cast<size_t>(expected), 0);
    // Blocks that did not shrink are stored raw: 0xFF before a zlib
    // block, 0x06 before an LZVN chunk.
    const uint8_t marker = type_ == 4 ? 0xFF : 0x06;
    long long produced = 0;
    if (data[0] == marker) {
        produced = static_cast<long long>(std::min<uint64_t>(data.size() - 1, expected));
        std::memcpy(current_.data(), data.data() + 1, static_cast<size_t>(produced));
    } else if (type_ == 4) {
        produced = Inflate(data.data(), data.size(), current_.data(), current_.size());
    } else {
        produced = static_cast<long long>(
            lzvn_decode(current_.data(), current_.size(), data.data(), data.size()));
    }
    if (produced != static_cast<long long>(expected)) {
        if (ErrorLinesOn())
            CatchExeception::WriteLog(
                "HFS+ compressed file %lld: block %zu gives %lld of %llu bytes",
                node_ ? node_->GetCurrentNodeID() : -1LL, k, produced,
                static_cast<unsigned long long>(expected));
        return false;
    }
    currentIndex_ = k;
    return true;
}

unsigned CHFSPlusCompressFileReader::ReadData(long long offset, char* buffer, unsigned size,
                                              int* error) {
    if (!buffer || offset < 0 || size == 0)
        return 0;
    if (!Prepare()) {
        if (error)
            *error = -1;
        return 0;
    }
    const uint64_t start = static_cast<uint64_t>(offset);
    if (type_ == 3 || type_ == 7) {
        if (start >= plain_.size()) {
            // The header promised more than the stream held.
            if (start < size_ && error)
                *error = -1;
            return 0;
        }
        const uint64_t n = std::min<uint64_t>(size, plain_.size() - start);
        std::memcpy(buffer, plain_.data() + start, static_cast<size_t>(n));
        return static_cast<unsigned>(n);
    }
    if (start >= size_)
        return 0;
    const uint64_t want = std::min<uint64_t>(size, size_ - start);
    uint64_t done = 0;
    while (done < want) {
        const uint64_t at = start + done;
        const size_t k = static_cast<size_t>(at / L::kCompressionBlock);
        if (!DecodeBlock(k)) {
            if (error)
                *error = -1;
            return static_cast<unsigned>(done);
        }
        const uint64_t within = at - uint64_t{k} * L::kCompressionBlock;
        const uint64_t n = std::min<uint64_t>(want - done, current_.size() - within);
        std::memcpy(buffer + done, current_.data() + within, static_cast<size_t>(n));
        done += n;
    }
    return static_cast<unsigned>(done);
}

}  // namespace hfsplus
