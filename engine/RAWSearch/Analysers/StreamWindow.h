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
#include "StreamWalk.h"

// Bytes of one carved file by file offset, however they are had.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The bytes [offset, offset + length) of the file, or null when they
    // cannot be had (yet).
    virtual const uint8_t* At(uint64_t offset, size_t length) const = 0;
};

// The search's view of the held blocks (rawwalk::StreamView), read through
// the same interface as a file read whole, so that one walker serves both
// roads.
class StreamWindow : public ByteSource {
public:
    StreamWindow(const CRawFileInfo& file, unsigned char* sector, int sectorSize,
                 long long sectorNumber, const CRawFileInfo::SearchContext& context) {
        if (rawwalk::Offered(file, sector, sectorSize, sectorNumber))
            m_view = rawwalk::ViewOf(file, sector, sectorSize, sectorNumber, context);
    }

    uint64_t SectorSize() const { return static_cast<uint64_t>(m_view.sectorSize); }
    // File offset of the sector offered and of the byte after it.
    uint64_t SectorOffset() const { return static_cast<uint64_t>(m_view.here); }
    uint64_t SectorEnd() const { return static_cast<uint64_t>(m_view.SectorEnd()); }
    // File offsets [HeldBegin, HeldEnd) are in the buffer.
    uint64_t HeldBegin() const { return static_cast<uint64_t>(m_view.first); }
    uint64_t HeldEnd() const { return static_cast<uint64_t>(m_view.end); }
    bool IsLastOfBlock() const { return m_view.SectorEnd() >= m_view.end; }

    // The bytes [offset, offset + length) of the file, when all of them are
    // held; null otherwise.
    const uint8_t* At(uint64_t offset, size_t length) const override {
        if (m_view.base == nullptr || offset > static_cast<uint64_t>(m_view.end) ||
            length > static_cast<uint64_t>(m_view.end))
            return nullptr;
        return m_view.At(static_cast<long long>(offset), static_cast<long long>(length));
    }
    // Bytes held from `offset` on (0 when it is not held).
    uint64_t HeldFrom(uint64_t offset) const {
        return offset >= HeldBegin() && offset < HeldEnd() ? HeldEnd() - offset : 0;
    }

private:
    rawwalk::StreamView m_view;
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

// A streaming candidate that reads the held blocks through a StreamWindow
// and ends once: a sector before its start, or none, waits; after its end
// every sector answers "finished". `Step` looks at one sector.
class WindowedRawFileInfo : public CRawFileInfo {
public:
    explicit WindowedRawFileInfo(RAW_FILE_TYPE type) { m_type = type; }
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) final {
        if (m_finished)
            return 1;
        if (!rawwalk::Offered(*this, sector, sectorSize, sectorNumber))
            return 2;
        const StreamWindow window(*this, sector, sectorSize, sectorNumber, context);
        return Step(window, sector, sectorSize, context);
    }

protected:
    virtual int Step(const StreamWindow& window, unsigned char* sector, int sectorSize,
                     SearchContext& context) = 0;
    // Ends the file at `size` (0: no file), named by its sectors.
    int Finish(long long size, int sectorSize) {
        m_finished = true;
        m_size = size;
        if (size > 0)
            SetRawFileName(SectorSpanName(m_startSector, size, sectorSize));
        return 1;
    }

private:
    bool m_finished = false;
};
