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
//                  through WalkFromStart, SizeByWalk or SizeBySectors)
//   streaming      the candidate walks the file sector by sector (its
//                  Step under WalkingCandidate) and hands what it cannot
//                  finish to its whole-file partner (StreamingCandidate;
//                  the analyser a StreamingCarver or PartneredCarver); or
//                  it judges each sector alone (JudgingCandidate), or keeps
//                  a running length up to an end it finds
//                  (RunningEndCandidate)
#pragma once

#include <algorithm>
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

// A candidate sized while the search streams its sectors past; a file it
// sizes is named by position.
class StreamedCandidate : public CRawFileInfo {
public:
    bool WhetherImplementGuess() override { return true; }

protected:
    explicit StreamedCandidate(RAW_FILE_TYPE type) { m_type = type; }

    // Ends with the file's length at the sector `view` offers.
    int Sized(const rawwalk::StreamView& view, long long size, const char* suffix = "_") {
        m_size = size;
        SetRawFileName(rawwalk::PositionName(m_startSector, view.sectorNumber, suffix));
        return 1;
    }
    // Ends with no size: a whole-file sizer, when the format has one,
    // takes the candidate over.
    int Unsized() {
        m_size = 0;
        return 1;
    }
};

// A candidate that walks its file while the search streams it past. The
// checks every walk opens with are made here: a sector the search cannot
// give ends the candidate, and the bytes held around a sector become one
// file-relative view. The format gives only its Step.
class WalkingCandidate : public StreamedCandidate {
public:
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) override {
        if (sector == nullptr || sectorSize <= 0)
            return 1;
        return Step(rawwalk::ViewOf(*this, sector, sectorSize, sectorNumber, context), context);
    }

protected:
    using StreamedCandidate::StreamedCandidate;

    // One sector of the walk; answers as CalcRawSize does.
    virtual int Step(const rawwalk::StreamView& view, SearchContext& context) = 0;
};

// A candidate of the analyser `Owner` whose end shows in one sector, with
// at most the half sector before it, so each sector is judged on its own
// (Judge) and none is skipped over. A sector shorter than `least` bytes,
// or one before the file, is passed by. A candidate the search gave an
// analyser and lets go of unsized goes to the owner's whole-file partner.
template <typename Owner>
class JudgingCandidate : public StreamedCandidate {
public:
    void WillBeRemove(unsigned char*, long long) override {
        if (m_owner != nullptr && m_analyser != nullptr)
            m_analyser = &m_owner->WholeFile();
    }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) override {
        if (!rawwalk::Offered(*this, sector, sectorSize, sectorNumber, m_least))
            return 2;
        return Judge(rawwalk::ViewOf(*this, sector, sectorSize, sectorNumber, context));
    }

protected:
    JudgingCandidate(Owner* owner, RAW_FILE_TYPE type, int least)
        : StreamedCandidate(type), m_owner(owner), m_least(least) {}

    // One sector; answers as CalcRawSize does.
    virtual int Judge(const rawwalk::StreamView& view) = 0;

private:
    Owner* m_owner;
    int m_least;
};

// A walking candidate of the analyser `Owner`: when the search lets go of
// it unfinished it hands itself to the owner's whole-file partner
// (`Owner::WholeFile()`), which sizes it from the device.
template <typename Owner>
class StreamingCandidate : public WalkingCandidate {
public:
    StreamingCandidate(Owner* owner, RAW_FILE_TYPE type) : WalkingCandidate(type), m_owner(owner) {}
    void WillBeRemove(unsigned char*, long long) override {
        if (m_owner != nullptr)
            m_analyser = &m_owner->WholeFile();
    }

protected:
    Owner* m_owner;
};

// The analyser of a streaming format with a whole-file partner (`Whole`):
// it sizes nothing from the device itself; its candidates that cannot
// finish go to the partner (WholeFile()).
template <RAW_FILE_TYPE kType, typename Whole>
class PartneredCarver : public IRawFileAnalyser {
public:
    PartneredCarver() : IRawFileAnalyser(kType) {}
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
    Whole& WholeFile() { return m_whole; }

protected:
    Whole m_whole;
};

// The same for a format whose candidates are `Self::Candidate`s made with
// the analyser as their owner; the format gives AnalyseBuffer.
template <typename Self, RAW_FILE_TYPE kType, typename Whole>
class StreamingCarver : public PartneredCarver<kType, Whole> {
public:
    CRawFileInfo* CreateRawFileInfo() override {
        return new typename Self::Candidate(static_cast<Self*>(this));
    }
};

// A candidate that keeps a running length in m_size while it streams, up
// to the end its format finds (EndIn) or its maximum. The length is final
// once the end is found or the maximum reached, or when the search ends
// inside the file: then the device held this much of it.
class RunningEndCandidate : public StreamedCandidate {
public:
    void WillBeRemove(unsigned char*, long long sectorNumber) override {
        if (sectorNumber == -1 && m_size > 0) {
            m_final = true;
            SetRawFileName(rawwalk::PositionName(m_startSector, m_lastSector));
        }
    }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    SearchContext& context) override {
        if (m_final)
            return 1;
        if (!rawwalk::Offered(*this, sector, sectorSize, sectorNumber))
            return 2;
        m_lastSector = sectorNumber;
        const long long offset = (sectorNumber - m_startSector) * sectorSize;
        const long long end = EndIn(sector, sectorSize, sectorNumber, offset, context);
        if (end >= 0)
            return Finish(end, sectorNumber);
        if (offset + sectorSize >= m_maximum)
            return Finish(m_maximum, sectorNumber);
        m_size = offset + sectorSize;
        return 2;
    }
    bool IsSizeFinal() const override { return m_final; }

protected:
    RunningEndCandidate(RAW_FILE_TYPE type, long long maximum)
        : StreamedCandidate(type), m_maximum(maximum) {}

    // The file's length when it ends in the offered sector (at file offset
    // `offset`), or -1 when it goes on past it.
    virtual long long EndIn(const unsigned char* sector, int sectorSize, long long sectorNumber,
                            long long offset, SearchContext& context) = 0;

private:
    int Finish(long long size, long long sectorNumber) {
        m_size = std::max(0LL, std::min(size, m_maximum));
        m_final = true;
        SetRawFileName(rawwalk::PositionName(m_startSector, sectorNumber));
        return 1;
    }

    long long m_maximum;
    bool m_final = false;
    long long m_lastSector = -1;  // the last sector offered
};

// A streaming candidate (over `Base`) of a format whose signature stands
// again inside its files (a later member's header, a bare SECTION group):
// the search takes such a signature at a sector's start for a file of its
// own. The candidate walking the outer file absorbs it, and the absorbed one
// ends with no size and goes to no whole-file sizer, so the inner bytes are
// not carved a second time.
template <typename Base>
class AbsorbingCandidate : public Base {
public:
    void Absorb() { m_absorbed = true; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                    CRawFileInfo::SearchContext& context) override {
        if (m_absorbed) {
            this->m_size = 0;
            this->m_analyser = nullptr;
            return 1;
        }
        return Base::CalcRawSize(sector, sectorSize, sectorNumber, context);
    }

protected:
    using Base::Base;

    // For WillBeRemove: when absorbed, hands the candidate to no sizer.
    bool DropIfAbsorbed() {
        if (!m_absorbed)
            return false;
        this->m_analyser = nullptr;
        return true;
    }
    // The walk reached file offset `offset` at the start of sector
    // `sectorNumber`, on a signature of its own format: the candidate the
    // search opened there, when it is a `Same`, is part of this file.
    template <typename Same>
    static void AbsorbOpenedAt(long long offset, long long sectorNumber,
                               CRawFileInfo::SearchContext& context) {
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

// The whole-file road of a format whose end shows in one sector, with the
// half sector before it (JudgingCandidate's): reads the file from its first
// sector, one sector at a time, for the sectors that start before
// `readUntil`, until `end(data, before, sectorSize, offset)` gives its
// length (-1 to go on; `data` holds `before` bytes of the sector before,
// then the sector at file offset `offset`). A length found is set with the
// position name (1, or 0 when it is 0); a device that ends first sizes the
// file to what it held; past the sectors read, the file is `sizeAtLimit`.
template <typename End>
int SizeBySectors(CRawFileInfo& info, RawFileBuffer& file, int sectorSize, long long readUntil,
                  long long sizeAtLimit, End end) {
    const int n = sectorSize;
    for (long long offset = 0; offset < readUntil; offset += n) {
        const int before = offset > 0 ? n / 2 : 0;
        const uint8_t* data = file.GetRawFileBuffer(
            static_cast<unsigned long long>(offset - before), static_cast<size_t>(before + n));
        if (data == nullptr) {
            info.m_size = offset;  // the device ends inside the file
            return offset > 0 ? 1 : 0;
        }
        const long long length = end(data, before, n, offset);
        if (length >= 0) {
            info.m_size = length;
            info.SetRawFileName(
                rawwalk::PositionName(info.m_startSector, info.m_startSector + offset / n));
            return length > 0 ? 1 : 0;
        }
    }
    info.m_size = sizeAtLimit;
    return 1;
}

}  // namespace rawcarve
