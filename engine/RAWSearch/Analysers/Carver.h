// The carver layer under the analyser interface: the few ways a format is
// carved, written once, so that a format is a small descriptor (how it is
// recognised, where its size comes from) instead of a class written out in
// full. The search still sees IRawFileAnalyser; the classes the registry's
// table names keep their names and derive from one of these templates.
//
//   header-sized   the first sector says the length
//                  (HeaderSizedCarver; Format::Size)
//   zero-tail      streamed until the zero fill after the file
//                  (ZeroTailCarver; Format::Matches, Format::Rule)
//   whole-file     a walker over the device sizes it (GetRawFileSize
//                  through WalkFromStart or SizeByWalk)
//   streaming      the candidate sizes itself sector by sector and hands
//                  what it cannot finish to its whole-file partner
//                  (StreamingCandidate)
#pragma once

#include <cstdint>

#include "ByteReader.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawFileInfo.h"
#include "StreamWalk.h"
#include "StreamWindow.h"

namespace RawSpeed {

// A candidate sized by the zero-tail guess alone.
class ZeroTailRawFileInfo : public CRawFileInfo {
public:
    ZeroTailRawFileInfo(RAW_FILE_TYPE type, const rawwalk::ZeroTailRule& rule,
                        IRawFileAnalyser* whole = nullptr)
        : m_rule(rule), m_whole(whole) {
        m_type = type;
    }
    bool WhetherImplementGuess() override { return true; }
    // Hands the candidate to the whole-file partner, when there is one.
    void WillBeRemove(unsigned char*, long long) override {
        if (m_whole != nullptr)
            m_analyser = m_whole;
    }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext&) override {
        return rawwalk::ZeroTailStep(*this, sector, sectorSize, sectorNumber, m_rule);
    }

protected:
    rawwalk::ZeroTailRule m_rule;
    IRawFileAnalyser* m_whole;
};

}  // namespace RawSpeed

namespace rawcarve {

// The first sector's bytes an analyser may read.
inline vk::ByteReader Head(const unsigned char* sector) {
    return vk::ByteReader(sector, kMinAnalyseBytes);
}

// A format whose first sector gives its length:
//   struct Format {
//       static constexpr RAW_FILE_TYPE kType = RAW_X;
//       // The file's length, or false when the sector is not one.
//       static bool Size(const vk::ByteReader& head, const unsigned char* sector,
//                        long long* size);
//   };
// A recognised sector sets the candidate's type and size and answers 1;
// any other leaves the candidate as it was and answers 0.
template <typename Format>
class HeaderSizedCarver : public IRawFileAnalyser {
public:
    HeaderSizedCarver() : IRawFileAnalyser(Format::kType) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override {
        long long size = 0;
        if (!Format::Size(Head(sector), sector, &size))
            return 0;
        info.m_type = Format::kType;
        info.m_size = size;
        return 1;
    }
};

// A format recognised by its first sector and ended where zero fill begins:
//   struct Format {
//       static constexpr RAW_FILE_TYPE kType = RAW_X;
//       static constexpr long long kMinimum = ..., kMaximum = ...;  // its end's bounds
//       static bool Matches(const unsigned char* sector);
//   };
// Its candidates stream; nothing sizes it from the device.
template <typename Format>
class ZeroTailCarver : public IRawFileAnalyser {
public:
    ZeroTailCarver() : IRawFileAnalyser(Format::kType) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override {
        if (sector == nullptr || !Format::Matches(sector))
            return 0;
        info.m_type = Format::kType;
        return 1;
    }
    CRawFileInfo* CreateRawFileInfo() override {
        rawwalk::ZeroTailRule rule;
        rule.minimum = Format::kMinimum;
        rule.maximum = Format::kMaximum;
        return new RawSpeed::ZeroTailRawFileInfo(Format::kType, rule);
    }
};

// A streaming candidate of the analyser `Owner`: it sizes itself sector by
// sector (CalcRawSize, the format's own), and when the search lets go of it
// unfinished it hands itself to the owner's whole-file partner
// (`Owner::WholeFile()`), which sizes it from the device.
template <typename Owner>
class StreamingCandidate : public CRawFileInfo {
public:
    StreamingCandidate(Owner* owner, RAW_FILE_TYPE type) : m_owner(owner) { m_type = type; }
    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char*, long long) override {
        if (m_owner != nullptr)
            m_analyser = &m_owner->WholeFile();
    }

protected:
    Owner* m_owner;
};

// A streaming candidate of a format whose signature stands again inside
// its files (a later member's header, a bare SECTION group): the search
// takes such a signature at a sector's start for a file of its own. The
// candidate walking the outer file absorbs it, and the absorbed one ends
// with no size and goes to no whole-file sizer, so the inner bytes are not
// carved a second time.
class AbsorbingCandidate : public CRawFileInfo {
public:
    bool WhetherImplementGuess() override { return true; }
    void Absorb() { m_absorbed = true; }

protected:
    explicit AbsorbingCandidate(RAW_FILE_TYPE type) { m_type = type; }

    // For CalcRawSize: when absorbed, ends the candidate with no size.
    bool EndIfAbsorbed() {
        if (!m_absorbed)
            return false;
        m_size = 0;
        m_analyser = nullptr;
        return true;
    }
    // For WillBeRemove: when absorbed, hands the candidate to no sizer.
    bool DropIfAbsorbed() {
        if (!m_absorbed)
            return false;
        m_analyser = nullptr;
        return true;
    }
    // The walk reached file offset `offset` at the start of sector
    // `sectorNumber`, on a signature of its own format: the candidate the
    // search opened there, when it is a `Same`, is part of this file.
    template <typename Same>
    static void AbsorbOpenedAt(long long offset, long long sectorNumber, SearchContext& context) {
        if (offset <= 0 || context.other == nullptr || context.other->m_startSector != sectorNumber)
            return;
        if (auto* inner = dynamic_cast<Same*>(context.other))
            inner->Absorb();
    }

private:
    bool m_absorbed = false;
};

// `bytes` raised to the next multiple of the sector size when not one
// already (a sector size of 0 leaves it as it is).
inline uint64_t WholeSectors(uint64_t bytes, uint64_t sectorSize) {
    if (sectorSize == 0)
        return bytes;
    const uint64_t rest = bytes % sectorSize;
    return rest == 0 ? bytes : bytes + (sectorSize - rest);
}

// The device's sector size; 512 without a device or when it gives none.
inline int SectorSizeOf(IStorageDevice* device) {
    const int size = device != nullptr ? device->GetSectorSize() : 0;
    return size > 0 ? size : 512;
}

// Steps a whole-file walk may take before it gives up.
constexpr uint64_t kMaxWholeSteps = 1ull << 26;

// The whole-file road of a structure walker: runs `walk` over the device
// from the candidate's first sector, reading no further than `cap` bytes;
// the end it found, or 0.
template <typename Walk>
uint64_t WalkFromStart(Walk& walk, CRawFileInfo& info, IStorageDevice* device, uint64_t cap) {
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const FileBytes source(file);
    return walk.RunToEnd(source, cap, kMaxWholeSteps);
}

// Sizes the candidate by a walk from its first sector: 1 with its size set
// when the walk found an end (and, with `refuseOverCap`, one within `cap`).
template <typename Walk>
int SizeByWalk(Walk& walk, CRawFileInfo& info, IStorageDevice* device, uint64_t cap,
               bool refuseOverCap = false) {
    if (device == nullptr || info.m_startSector < 0)
        return 0;
    const uint64_t size = WalkFromStart(walk, info, device, cap);
    if (size == 0 || (refuseOverCap && size > cap))
        return 0;
    info.m_size = static_cast<long long>(size);
    return 1;
}

}  // namespace rawcarve
