// Bounds-checked reads of little- and big-endian integers from bytes read off
// a disk, an image or a file. Every on-disk parser goes through these instead
// of casting packed structures, so that a short or lying buffer can never be
// read past its end and the host's byte order does not matter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>

namespace vk {

// True when [off, off + len) lies inside a buffer of `size` bytes; written
// so that no sum can wrap.
constexpr bool RangeInside(size_t size, size_t off, size_t len) {
    return off <= size && len <= size - off;
}

template <typename T>
constexpr T LoadLE(const uint8_t* p) {
    static_assert(std::is_integral_v<T>);
    using U = std::make_unsigned_t<T>;
    U v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v |= static_cast<U>(static_cast<U>(p[i]) << (8 * i));
    return static_cast<T>(v);
}

template <typename T>
constexpr T LoadBE(const uint8_t* p) {
    static_assert(std::is_integral_v<T>);
    using U = std::make_unsigned_t<T>;
    U v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v = static_cast<U>((v << 8) | p[i]);
    return static_cast<T>(v);
}

template <typename T>
constexpr void StoreLE(uint8_t* p, T value) {
    using U = std::make_unsigned_t<T>;
    U v = static_cast<U>(value);
    for (size_t i = 0; i < sizeof(T); ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

template <typename T>
constexpr void StoreBE(uint8_t* p, T value) {
    using U = std::make_unsigned_t<T>;
    U v = static_cast<U>(value);
    for (size_t i = 0; i < sizeof(T); ++i)
        p[sizeof(T) - 1 - i] = static_cast<uint8_t>(v >> (8 * i));
}

// A read-only view of bytes with checked accessors. A read outside the view
// yields 0 and marks the reader as failed, so a parser can read a whole
// record and check once with failed(), or test Has() before each field.
class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
    explicit ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool failed() const { return failed_; }

    bool Has(size_t off, size_t len) const { return RangeInside(size_, off, len); }

    uint8_t U8(size_t off) const { return Get<uint8_t>(off, false); }
    int8_t S8(size_t off) const { return Get<int8_t>(off, false); }
    uint16_t LE16(size_t off) const { return Get<uint16_t>(off, false); }
    uint32_t LE32(size_t off) const { return Get<uint32_t>(off, false); }
    uint64_t LE64(size_t off) const { return Get<uint64_t>(off, false); }
    int16_t LES16(size_t off) const { return Get<int16_t>(off, false); }
    int32_t LES32(size_t off) const { return Get<int32_t>(off, false); }
    int64_t LES64(size_t off) const { return Get<int64_t>(off, false); }
    uint16_t BE16(size_t off) const { return Get<uint16_t>(off, true); }
    uint32_t BE32(size_t off) const { return Get<uint32_t>(off, true); }
    uint64_t BE64(size_t off) const { return Get<uint64_t>(off, true); }
    int16_t BES16(size_t off) const { return Get<int16_t>(off, true); }
    int32_t BES32(size_t off) const { return Get<int32_t>(off, true); }
    int64_t BES64(size_t off) const { return Get<int64_t>(off, true); }

    // Little-endian value of 1 to 8 bytes (data-run fields have such widths).
    uint64_t LEN(size_t off, size_t width) const {
        if (width == 0 || width > 8 || !Has(off, width)) {
            if (width != 0)
                failed_ = true;
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < width; ++i)
            v |= static_cast<uint64_t>(data_[off + i]) << (8 * i);
        return v;
    }

    // Copies len bytes into dst; on a short view copies nothing, zero-fills
    // dst and returns false.
    bool Copy(size_t off, void* dst, size_t len) const {
        if (!Has(off, len)) {
            failed_ = true;
            if (dst && len)
                std::memset(dst, 0, len);
            return false;
        }
        if (len)
            std::memcpy(dst, data_ + off, len);
        return true;
    }

    // The sub-view [off, off + len); an empty, failed view when out of range.
    ByteReader Sub(size_t off, size_t len) const {
        if (!Has(off, len)) {
            failed_ = true;
            ByteReader bad;
            bad.failed_ = true;
            return bad;
        }
        return ByteReader(data_ + off, len);
    }

    std::span<const uint8_t> Span(size_t off, size_t len) const {
        if (!Has(off, len)) {
            failed_ = true;
            return {};
        }
        return {data_ + off, len};
    }

    // True when the bytes at off equal `magic` exactly.
    bool Matches(size_t off, std::string_view magic) const {
        return Has(off, magic.size()) && std::memcmp(data_ + off, magic.data(), magic.size()) == 0;
    }

private:
    template <typename T>
    T Get(size_t off, bool bigEndian) const {
        if (!Has(off, sizeof(T))) {
            failed_ = true;
            return 0;
        }
        return bigEndian ? LoadBE<T>(data_ + off) : LoadLE<T>(data_ + off);
    }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    mutable bool failed_ = false;
};

}  // namespace vk
