// What a streaming candidate can read while the search offers it one
// sector: the bytes of the blocks the search holds (the previous block, the
// current block), addressed by the candidate's file offsets. The search's
// buffer goes on with zero slack after the current block; that slack is not
// data, so nothing here hands it out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "RawFileInfo.h"

// Bytes of one carved file by file offset, however they are had.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The bytes [offset, offset + length) of the file, or null when they
    // cannot be had (yet).
    virtual const uint8_t* At(uint64_t offset, size_t length) const = 0;
};

class StreamWindow : public ByteSource {
public:
    StreamWindow(unsigned char* sector, int sectorSize, long long sectorNumber, long long fileStart,
                 const CRawFileInfo::SearchContext& context)
        : m_sector(sector),
          m_sectorSize(sectorSize > 0 ? static_cast<uint64_t>(sectorSize) : 512),
          m_sectorNumber(sectorNumber),
          m_fileStart(fileStart) {
        const long long first =
            context.windowFirstSector <= sectorNumber ? context.windowFirstSector : sectorNumber;
        long long end =
            context.windowEndSector > sectorNumber ? context.windowEndSector : sectorNumber + 1;
        // Sectors before the file's start belong to whatever lay there.
        m_first = first > fileStart ? first : fileStart;
        m_end = end;
    }

    uint64_t SectorSize() const { return m_sectorSize; }
    // File offset of the sector offered and of the byte after it.
    uint64_t SectorOffset() const {
        return static_cast<uint64_t>(m_sectorNumber - m_fileStart) * m_sectorSize;
    }
    uint64_t SectorEnd() const { return SectorOffset() + m_sectorSize; }
    // File offsets [HeldBegin, HeldEnd) are in the buffer.
    uint64_t HeldBegin() const {
        return static_cast<uint64_t>(m_first - m_fileStart) * m_sectorSize;
    }
    uint64_t HeldEnd() const { return static_cast<uint64_t>(m_end - m_fileStart) * m_sectorSize; }
    bool IsLastOfBlock() const { return m_sectorNumber + 1 >= m_end; }

    // The bytes [offset, offset + length) of the file, when all of them are
    // held; null otherwise.
    const uint8_t* At(uint64_t offset, size_t length) const override {
        if (m_sector == nullptr || offset < HeldBegin() || offset > HeldEnd() ||
            length > HeldEnd() - offset)
            return nullptr;
        const uint64_t here = SectorOffset();
        if (offset >= here)
            return m_sector + (offset - here);
        return m_sector - (here - offset);
    }
    // Bytes held from `offset` on (0 when it is not held).
    uint64_t HeldFrom(uint64_t offset) const {
        return offset >= HeldBegin() && offset < HeldEnd() ? HeldEnd() - offset : 0;
    }

private:
    unsigned char* m_sector;
    uint64_t m_sectorSize;
    long long m_sectorNumber;
    long long m_fileStart;
    long long m_first = 0;
    long long m_end = 0;
};

// The same view of a file read whole from the device: walkers written once
// for both roads read through either. A null answer means "not readable":
// the device ends there, or the read failed.
class FileBytes : public ByteSource {
public:
    explicit FileBytes(class RawFileBuffer& file) : m_file(&file) {}
    const uint8_t* At(uint64_t offset, size_t length) const override;

private:
    class RawFileBuffer* m_file;
};

// How streaming analysers name the files they size: "%lld-%lld_" with the
// first sector and the sector that holds the file's last byte.
std::string SectorSpanName(long long startSector, long long size, int sectorSize);
