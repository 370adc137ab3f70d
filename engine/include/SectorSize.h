// The one rule for sector sizes. A device decides its sector size once,
// when it opens (from the kernel, an image record or a partition record);
// everything after that trusts the device's answer. Sizes read from disk
// structures (boot sectors, volume headers) are checked with
// IsValidSectorSize before they are used for any arithmetic.
#pragma once

#include <cstdint>

namespace vk {

constexpr uint32_t kDefaultSectorSize = 512;
constexpr uint32_t kMaxSectorSize = 65536;

// A power of two from 512 to 64 KiB: every size real media and image
// formats use (512, 2048 optical, 4096 advanced format).
constexpr bool IsValidSectorSize(uint64_t size) {
    return size >= kDefaultSectorSize && size <= kMaxSectorSize && (size & (size - 1)) == 0;
}

// A device's answer made usable: 0 (unknown) and anything invalid count as
// 512 bytes, the size every caller of the engine assumed before devices
// reported one.
constexpr uint32_t NormaliseSectorSize(uint64_t size) {
    return IsValidSectorSize(size) ? static_cast<uint32_t>(size) : kDefaultSectorSize;
}

}  // namespace vk
