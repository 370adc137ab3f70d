// Builds 32-byte directory entries for the FAT tests.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ByteReader.h"

using RawEntry = std::array<uint8_t, 32>;

inline RawEntry ShortEntry(const char* name11, uint8_t attr, uint32_t cluster, uint32_t size) {
    RawEntry e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = attr;
    vk::StoreLE<uint16_t>(&e[20], static_cast<uint16_t>(cluster >> 16));
    vk::StoreLE<uint16_t>(&e[26], static_cast<uint16_t>(cluster));
    vk::StoreLE<uint32_t>(&e[28], size);
    vk::StoreLE<uint16_t>(&e[14], 0x5A3C);  // 11:17:56
    vk::StoreLE<uint16_t>(&e[16], 0x5895);  // 2024-04-21
    vk::StoreLE<uint16_t>(&e[22], 0x5A3C);
    vk::StoreLE<uint16_t>(&e[24], 0x5895);
    vk::StoreLE<uint16_t>(&e[18], 0x5895);
    return e;
}

// One long-name piece holding up to 13 UTF-16 units.
inline RawEntry LongEntry(uint8_t ordinal, uint8_t checksum, const std::u16string& units) {
    RawEntry e{};
    e[0] = ordinal;
    e[11] = 0x0F;
    e[13] = checksum;
    std::array<uint16_t, 13> u;
    u.fill(0xFFFF);
    for (size_t i = 0; i < units.size() && i < 13; ++i)
        u[i] = units[i];
    if (units.size() < 13)
        u[units.size()] = 0;
    static constexpr size_t kOff[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (size_t i = 0; i < 13; ++i)
        vk::StoreLE<uint16_t>(&e[kOff[i]], u[i]);
    return e;
}

inline uint8_t Checksum(const char* name11) {
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<uint8_t>(name11[i]));
    return sum;
}

inline std::vector<uint8_t> Join(const std::vector<RawEntry>& entries, size_t length = 0) {
    std::vector<uint8_t> out;
    for (const auto& e : entries)
        out.insert(out.end(), e.begin(), e.end());
    if (out.size() < length)
        out.resize(length, 0);
    return out;
}
