// The engine's one rule for turning UTF-16 names read from disk into the
// UTF-8 byte strings that cross the engine. Every file system (FAT long
// names, exFAT, NTFS, HFS+ and the NTFS recycle-bin index files) goes
// through here so that a damaged name looks the same wherever it was found.
//
// Policy:
//   - surrogate pairs are joined; a lone or reversed surrogate becomes "_"
//     (one per bad unit), so a damaged name keeps its length and stays
//     distinguishable from its neighbours instead of being dropped;
//   - U+0000 is kept only when the caller asks to stop there (names padded
//     with NULs); otherwise it becomes "_" as well, since a NUL cannot live
//     inside a C string;
//   - a byte limit cuts only between whole characters, never inside one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vk {

enum class Utf16Order : uint8_t { LittleEndian, BigEndian };

struct Utf16Options {
    Utf16Order order = Utf16Order::LittleEndian;
    // Stop at the first U+0000 unit instead of replacing it.
    bool stopAtNul = false;
    // Largest number of UTF-8 bytes to produce (whole characters only).
    size_t maxBytes = static_cast<size_t>(-1);
};

// Converts `units` UTF-16 code units starting at `data` (which must hold
// 2 * units bytes). Never fails: bad units are replaced as described above.
// When `damaged` is given it is set to true if any unit was replaced.
std::string Utf16ToUtf8(const uint8_t* data, size_t units, const Utf16Options& options = {},
                        bool* damaged = nullptr);

// The same for code units already in host order.
std::string Utf16UnitsToUtf8(const uint16_t* units, size_t count, const Utf16Options& options = {},
                             bool* damaged = nullptr);

// Appends the UTF-8 form of one code point (U+0000..U+10FFFF, no
// surrogates) to out; answers false and appends nothing otherwise.
bool AppendUtf8(std::string& out, uint32_t codePoint);

// Length of the longest prefix of `text` (at most maxBytes long) that ends
// on a UTF-8 character boundary. Bytes that are not UTF-8 count as one
// character each, so the result never splits a valid sequence.
size_t Utf8CutPoint(const char* text, size_t length, size_t maxBytes);

}  // namespace vk
