#include "TBitmap.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Utility/CatchExeception.h"

int TBitmap::CreateBitmap(long long bits, unsigned unit) {
    if (bits <= 0)
        return 0;
    DestroyBitmap();
    // The byte count is 64-bit: one bit per 512-byte sector of a disk past
    // 16 TiB needs more than 2^32 bytes, which a 32-bit size would wrap.
    const uint64_t bytes = BytesFor(bits);
    // calloc, not new and memset: a map of a whole disk (64 MiB for 2 TB in
    // units of 8 sectors) comes as fresh zero pages that take no memory until
    // a bit in them is set, and a deep scan sets few (the live files of the
    // volume that made the map). Writing the zeros would make all of it resident.
    bits_ = bytes <= SIZE_MAX ? static_cast<uint8_t*>(std::calloc(static_cast<size_t>(bytes), 1))
                              : nullptr;
    if (!bits_) {
        CatchExeception::WriteLog("TBitmap: cannot allocate %llu bytes\n",
                                  static_cast<unsigned long long>(bytes));
        return 0;
    }
    written_.assign(static_cast<size_t>((bytes + kStretch - 1) / kStretch), 0);
    size_ = bytes;
    lastIndex_ = bits - 1;
    unit_ = unit;
    return 1;
}

int TBitmap::SetBit(long long first, int value, unsigned count) {
    if (!bits_ || first < 0 || first > lastIndex_)
        return 0;
    if (count == 0)
        return 1;
    long long last = first + static_cast<long long>(count) - 1;
    if (last > lastIndex_)
        last = lastIndex_;
    const uint64_t lastStretch = static_cast<uint64_t>(last >> 3) / kStretch;
    for (uint64_t k = static_cast<uint64_t>(first >> 3) / kStretch; k <= lastStretch; ++k)
        written_[static_cast<size_t>(k)] = 1;
    long long i = first;
    // Single bits up to a byte boundary, whole bytes, then single bits.
    while (i <= last && (i & 7) != 0) {
        if (value)
            bits_[i >> 3] |= static_cast<uint8_t>(1u << (i & 7));
        else
            bits_[i >> 3] &= static_cast<uint8_t>(~(1u << (i & 7)));
        ++i;
    }
    if (last - i + 1 >= 8) {
        const long long wholeBytes = (last - i + 1) >> 3;
        std::memset(bits_ + (i >> 3), value ? 0xFF : 0x00, static_cast<size_t>(wholeBytes));
        i += wholeBytes << 3;
    }
    while (i <= last) {
        if (value)
            bits_[i >> 3] |= static_cast<uint8_t>(1u << (i & 7));
        else
            bits_[i >> 3] &= static_cast<uint8_t>(~(1u << (i & 7)));
        ++i;
    }
    return 1;
}

int TBitmap::GetBit(long long index) const {
    if (!bits_ || index < 0 || index > lastIndex_ ||
        written_[static_cast<size_t>(static_cast<uint64_t>(index >> 3) / kStretch)] == 0)
        return 0;
    return bits_[index >> 3] & (1u << (index & 7));
}

int TBitmap::FillBitmap(int zero) {
    if (!bits_)
        return 0;
    std::memset(bits_, zero ? 0x00 : 0xFF, size_);
    written_.assign(written_.size(), 1);
    return 1;
}

int TBitmap::DestroyBitmap() {
    std::free(bits_);
    bits_ = nullptr;
    written_.clear();
    written_.shrink_to_fit();
    size_ = 0;
    lastIndex_ = 0;
    return 1;
}
