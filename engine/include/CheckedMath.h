// Overflow-checked arithmetic for sector, cluster and byte positions taken
// from disk. A value read from a damaged structure can make any product or
// sum wrap; every parser computes positions through these and treats a
// false answer as a damaged structure.
#pragma once

#include <cstdint>
#include <type_traits>

namespace vk {

template <typename T>
[[nodiscard]] constexpr bool CheckedAdd(T a, T b, T* out) {
    static_assert(std::is_integral_v<T>);
    return !__builtin_add_overflow(a, b, out);
}

template <typename T>
[[nodiscard]] constexpr bool CheckedSub(T a, T b, T* out) {
    static_assert(std::is_integral_v<T>);
    return !__builtin_sub_overflow(a, b, out);
}

template <typename T>
[[nodiscard]] constexpr bool CheckedMul(T a, T b, T* out) {
    static_assert(std::is_integral_v<T>);
    return !__builtin_mul_overflow(a, b, out);
}

// a * b + c without wrapping.
template <typename T>
[[nodiscard]] constexpr bool CheckedMulAdd(T a, T b, T c, T* out) {
    T product{};
    return CheckedMul(a, b, &product) && CheckedAdd(product, c, out);
}

// The first sector of `cluster` in a volume whose clusters are numbered from
// `firstCluster` (2 on FAT and exFAT, 0 on NTFS, HFS+ and APFS) and whose
// cluster area starts at `areaStart`. False for clusters below the first or
// when the position does not fit in 64 bits.
[[nodiscard]] constexpr bool ClusterToSector(uint64_t cluster, uint64_t firstCluster,
                                             uint64_t sectorsPerCluster, uint64_t areaStart,
                                             uint64_t* sector) {
    if (cluster < firstCluster || sectorsPerCluster == 0)
        return false;
    return CheckedMulAdd<uint64_t>(cluster - firstCluster, sectorsPerCluster, areaStart, sector);
}

// True when [start, start + count) lies inside [0, limit); no sum wraps.
[[nodiscard]] constexpr bool SpanInside(uint64_t start, uint64_t count, uint64_t limit) {
    return start <= limit && count <= limit - start;
}

}  // namespace vk
