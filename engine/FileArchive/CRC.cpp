#include "CRC.h"

#include <array>

unsigned short CCRC::RunCRC16(const unsigned char* data, size_t length, unsigned short polynomial) {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i << 8);
        for (int b = 0; b < 8; ++b)
            c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ polynomial : c << 1);
        table[i] = c;
    }
    uint16_t crc = 0;
    for (size_t i = 0; i < length && data; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xff]);
    return crc;
}

unsigned long CCRC::RunCRC32(const unsigned char* data, size_t length, unsigned long polynomial) {
    const uint32_t poly = static_cast<uint32_t>(polynomial);
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int b = 0; b < 8; ++b)
            c = (c & 0x80000000u) ? (c << 1) ^ poly : c << 1;
        table[i] = c;
    }
    uint32_t crc = 0;
    for (size_t i = 0; i < length && data; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xff];
    return crc;
}
