// Byte and text helpers the analysers share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// First occurrence of the pattern in the data, or null (null pointers,
// lengths of 0 or less, or a pattern longer than the data).
unsigned char* Apimemstr(unsigned char* data, int length, const unsigned char* pattern,
                         int patternLength);
// Tries, at every position from the start, each pattern of the map in the
// map's order; the first position where one fits inside the data and
// matches, with `matched` set to that pattern's length; null when none does.
unsigned char* Apimemstr(unsigned char* data, int length,
                         const std::map<std::string, int>& patterns, int& matched);

namespace BruteForce {
namespace RawUtility {
int16_t EXIF_Get16s(const unsigned char* p, bool littleEndian);
int32_t EXIF_Get32s(const unsigned char* p, bool littleEndian);
// Searches backwards from buffer + length - backOffset down to the first
// byte for the magic (whose first byte must be non-zero); the offset just
// past the match, or 0 (also when length < backOffset). Only matches that
// lie wholly inside the buffer count.
int FindMagicInBuffer(const unsigned char* buffer, int length, int backOffset,
                      const unsigned char* magic, int magicLength);
// Where the data before a zero-filled tail ends: the length up to the last
// non-zero byte, 0 when all bytes are zero.
int Binary_Compare(const unsigned char* buffer, int length);
}  // namespace RawUtility
}  // namespace BruteForce

// Converts UTF-8 text to the current locale's multibyte encoding through
// wide characters. Writes at most outputLength bytes including the
// terminating zero; the bytes written without it, 0 on failure.
unsigned long UTF8ToANSI(const unsigned char* text, unsigned long length, char* out,
                         unsigned long outputLength);
