// Table-driven checksums processed most significant bit first, initial value
// 0, no reflection and no final XOR. The archive header uses RunCRC16 with
// polynomial 0x8005 (CRC-16/BUYPASS).
#pragma once

#include <cstddef>
#include <cstdint>

class CCRC {
public:
    static unsigned short RunCRC16(const unsigned char* data, size_t length,
                                   unsigned short polynomial);
    static unsigned long RunCRC32(const unsigned char* data, size_t length,
                                  unsigned long polynomial);
};
