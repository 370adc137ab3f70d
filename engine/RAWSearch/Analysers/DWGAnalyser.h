// AutoCAD drawings, sized while the search streams past them from the size
// fields their headers carry: the section locator records of R13 to R2000
// files, the encoded file header of R2004 and later, and the Reed-Solomon
// interleaved header of R2007.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "Carver.h"
#include "RawFileInfo.h"

namespace dwg_layout {
constexpr size_t kVersionBytes = 6;  // "AC1015" and the like
// R13 to R2000: a count of section locator records, then the records.
constexpr long long kLocatorCount = 21;  // 32 bits
constexpr long long kLocators = 25;
constexpr long long kLocatorBytes = 9;  // number (8 bits), seeker (32), size (32)
constexpr size_t kLocatorSeeker = 1;
constexpr size_t kLocatorSize = 5;
constexpr uint32_t kMaxLocators = 256;  // numbered by one byte from 0
// R2004 and later: the file header at 0x80, XOR-coded.
constexpr long long kHeaderAt = 0x80;
constexpr size_t kR2004HeaderBytes = 108;
constexpr size_t kR2004Zero = 11;            // 32 bits: 0
constexpr size_t kR2004Sizes = 0x10;         // 64 bits: 0x40000006C
constexpr size_t kR2004SecondHeader = 0x34;  // 64 bits: where the copy of the header lies
constexpr size_t kR2004Mark = 0x44;          // 32 bits: 0x20
constexpr size_t kR2004Marks = 0x48;         // 64 bits: 0x4000000080
// R2007: 984 bytes at 0x80, three interleaved Reed-Solomon blocks.
constexpr size_t kR2007Bytes = 984;
constexpr size_t kRsBlocks = 3;
constexpr size_t kRsData = 239;
constexpr size_t kR2007Data = kRsBlocks * kRsData;
constexpr size_t kR2007Compressed = 0x18;  // 32 bits, signed
constexpr size_t kR2007Payload = 0x20;
constexpr size_t kR2007HeaderBytes = 0x110;
constexpr size_t kR2007FileSize = 8;  // 64 bits, in the header
constexpr long long kSizeLimit = 0x514000000LL;
static_assert(kR2007Data <= kR2007Bytes);
static_assert(kR2004Marks + 8 <= kR2004HeaderBytes);
}  // namespace dwg_layout

namespace BruteForce {

class CDWGAnalyser : public IRawFileAnalyser {
public:
    CDWGAnalyser() : IRawFileAnalyser(RAW_DWG) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    // Version families: 1 R13 to R2000, 2 R2004 and later, 3 R2007, 4 R11/R12
    // (no size rule); 0 no drawing.
    static int VersionFamily(const unsigned char* head);
    // The file size an R2004 header (kR2004HeaderBytes at 0x80, still coded)
    // gives, or 0 when the decoded header is not one.
    static long long R2004Size(const uint8_t* coded);
    // The file size the 984 interleaved bytes of an R2007 header give, or 0
    // (also for a compressed header: that scheme is not read yet).
    static long long R2007Size(const uint8_t* interleaved);
};

class CDWGRawInfo : public rawcarve::WalkingCandidate {
public:
    CDWGRawInfo() : WalkingCandidate(RAW_DWG) {}

private:
    int Step(const rawwalk::StreamView& view, SearchContext& context) override;
    int m_family = 0;
    long long m_read = dwg_layout::kLocatorCount;  // the next byte wanted
    uint32_t m_records = 0;                        // locator records read
    uint32_t m_count = 0;
    bool m_haveCount = false;
    unsigned long long m_end = 0;
    std::array<uint8_t, dwg_layout::kR2007Bytes> m_header{};
    size_t m_held = 0;
};

}  // namespace BruteForce
