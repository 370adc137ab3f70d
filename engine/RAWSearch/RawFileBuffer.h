// Reading a carved file by byte offset from its first sector, through a
// window of 128 sectors that moves with the reads, and the end-signature
// search of text-like files built on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class IStorageDevice;
class CRawFileInfo;

class RawFileBuffer {
public:
    static constexpr unsigned kWindowSectors = 128;
    // One sector more than the window is read, so a structure that crosses
    // the window's end by up to a sector is still contiguous.
    static constexpr unsigned kReadSectors = kWindowSectors + 1;

    RawFileBuffer(IStorageDevice* device, unsigned long long startSector);
    RawFileBuffer(const RawFileBuffer&) = delete;
    RawFileBuffer& operator=(const RawFileBuffer&) = delete;

    // The byte at `offset` from the file's first byte, with at least
    // `needed` bytes readable after it (1 up to the window size); null past
    // the device's end, when the read fails, when `needed` cannot be had in
    // one piece, or when the scan is being stopped. The pointer stays valid
    // until the next call on this object.
    const uint8_t* GetRawFileBuffer(unsigned long long offset, size_t needed = 1);
    // Bytes readable from `offset` without another read (0 when none).
    size_t Available(unsigned long long offset) const;

    unsigned GetSectorSize() const { return m_sectorSize; }
    unsigned GetWindowBytes() const { return m_sectorSize * kWindowSectors; }
    IStorageDevice* GetDevice() const { return m_device; }
    unsigned long long GetStartSector() const { return m_startSector; }

private:
    bool Fill(unsigned long long base);

    IStorageDevice* m_device;
    unsigned long long m_startSector;
    unsigned m_sectorSize;
    std::unique_ptr<uint8_t[]> m_data;  // kReadSectors sectors, made on first use
    unsigned long long m_base = 0;      // file offset of m_data[0]
    size_t m_valid = 0;
};

// What the end-signature search looks for.
struct SearchSignCodeInfo {
    char signature[64] = {};
    uint32_t length = 0;
    uint64_t maxLength = 0;  // bytes; 0 means 0xD000000
};

namespace SearchSignFileAnalyser {
// Walks the file sector by sector from its start and stops at the first
// sector that ends in zero fill and holds the signature (or whose start
// completes one begun in the sector before). Sets info.m_size to the end
// of the signature; without a match, to the first offset past the limit or
// to the offset of an unreadable sector. Always answers 1. With `exact` 0
// the signature is compared without regard to letter case.
int SearchEndSignCode(CRawFileInfo& info, IStorageDevice* device, const SearchSignCodeInfo& code,
                      int exact);
}  // namespace SearchSignFileAnalyser
