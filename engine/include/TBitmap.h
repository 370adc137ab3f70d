// A bit map of units (sectors or clusters) already claimed during a deep
// scan, shared by the searchers of one scan. Bit i lives in byte i / 8, least
// significant bit first.
#pragma once

#include <cstdint>
#include <vector>

class TBitmap {
public:
    TBitmap() = default;
    ~TBitmap() { DestroyBitmap(); }
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // Allocates ceil(bits / 8) zero bytes (any old map is freed); 0 when
    // bits <= 0 or the memory cannot be had, 1 otherwise.
    int CreateBitmap(long long bits, unsigned unit);
    // Sets (value != 0) or clears `count` bits from `first`, stopping at the
    // last bit. 0 when `first` is negative or past the last bit.
    int SetBit(long long first, int value, unsigned count);
    // Non-zero when the bit is set; 0 outside the map.
    int GetBit(long long index) const;
    // Index of the last bit; 0 without a map.
    long long GetMaxBitIndex() const { return lastIndex_; }
    // Size of the array in bytes (64-bit: a map of a large disk passes 4 GiB).
    uint64_t GetBitmapSize() const { return size_; }
    // The array, for telling whether there is a map and for reading it; bits
    // are set through SetBit and FillBitmap only (GetBit trusts their record
    // of which parts were ever written).
    uint8_t* GetBitmapData() { return bits_; }
    unsigned GetUnitSize() const { return unit_; }
    // Clears every byte (zero != 0) or sets every byte to 0xFF; 0 without a map.
    int FillBitmap(int zero);
    int DestroyBitmap();

    // Bytes needed for `bits` bits (0 for none).
    static uint64_t BytesFor(long long bits) {
        return bits <= 0 ? 0 : (static_cast<uint64_t>(bits) + 7) / 8;
    }

private:
    // Bytes of the array per entry of written_.
    static constexpr uint64_t kStretch = 4096;

    uint8_t* bits_ = nullptr;
    // One entry per kStretch bytes of the array: non-zero once anything was
    // written there. GetBit answers 0 for the rest without reading it, so
    // the untouched pages of a map of a whole disk stay untouched (on some
    // kernels even a read of a fresh page makes it resident).
    std::vector<uint8_t> written_;
    uint64_t size_ = 0;
    long long lastIndex_ = 0;
    unsigned unit_ = 1;
};
