// gzip files. The streaming candidate follows the members through their
// deflate streams as the sectors pass, and falls back on the zero fill when
// the first member does not inflate; the whole-file sizer reads the member
// header's fields, then the members to the last whole one.
#include <algorithm>
#include <memory>
#include <string>

#include "AnalyserFactories.h"
#include "ByteReader.h"
#include "GzipMembers.h"
#include "HeaderLayouts.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "WholeFileAnalysers.h"
#include "ZeroTailAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewGZAnalyzer, RawSpeed::GZAnalyzer);

namespace RawSpeed {

using rawwalk::ZeroTailRule;

int GZAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !CGzSearch::IsValidGzHeader(sector, 10))
        return 0;
    info.m_type = RAW_GZ;
    return 1;
}

// Without the stream, the last byte before the zero fill is one short of
// the end when the member's length field ends in a zero byte, as it does for
// every member below 16 MiB: one byte more is counted.
CRawFileInfo* GZAnalyzer::CreateRawFileInfo() {
    ZeroTailRule rule;
    rule.minimum = gz_stream_layout::kMinimum;
    rule.maximum = gz_stream_layout::kMaximum;
    rule.extra = 1;
    return new GZRawFileInfo(rule, &m_whole);
}

GZRawFileInfo::GZRawFileInfo(const ZeroTailRule& rule, IRawFileAnalyser* whole)
    : ZeroTailRawFileInfo(RAW_GZ, rule, whole) {}

GZRawFileInfo::~GZRawFileInfo() = default;

long long GZRawFileInfo::DataStart(const unsigned char* head, size_t length) {
    using namespace gz_layout;
    if (head == nullptr || length < kHeaderBytes)
        return 0;
    const uint8_t flags = head[kFlags];
    size_t pos = kHeaderBytes;
    if (flags & kFlagExtra) {
        if (pos + 2 > length)
            return 0;
        pos += 2 + vk::LoadLE<uint16_t>(head + pos);
    }
    for (uint8_t text : {kFlagName, kFlagComment}) {
        if (!(flags & text))
            continue;
        while (pos < length && head[pos] != 0)
            ++pos;
        if (pos >= length)
            return 0;
        ++pos;
    }
    if (flags & kFlagHeaderCrc)
        pos += 2;
    return pos < length ? static_cast<long long>(pos) : 0;
}

// The members, while they are followed, say exactly where the file ends;
// a file whose data is no deflate stream, or whose sectors do not come in
// order, is left to the zero fill.
int GZRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                               SearchContext& context) {
    if (sector == nullptr || sectorSize <= 0)
        return 1;
    const long long here = (sectorNumber - m_startSector) * sectorSize;
    if (!m_tried && here == 0) {
        m_tried = true;
        m_members = std::make_unique<GzipMembers>();
    }
    if (m_members != nullptr && (m_fed != here || here > m_rule.maximum))
        m_members.reset();
    if (m_members != nullptr) {
        m_members->Feed(sector, static_cast<size_t>(sectorSize));
        m_fed = here + sectorSize;
        switch (m_members->GetState()) {
            case GzipMembers::State::Going:
                return 2;
            case GzipMembers::State::End: {
                const auto end = static_cast<long long>(m_members->EndOffset());
                m_members.reset();
                m_size = end;
                SetRawFileName(
                    rawwalk::PositionName(m_startSector, m_startSector + (end - 1) / sectorSize));
                return 1;
            }
            case GzipMembers::State::Broken:
                m_members.reset();
                break;
        }
    }
    return ZeroTailRawFileInfo::CalcRawSize(sector, sectorSize, sectorNumber, context);
}

}  // namespace RawSpeed

bool CGzSearch::IsValidGzHeader(const unsigned char* header, unsigned length) {
    using namespace gz_layout;
    if (header == nullptr || length < kHeaderBytes)
        return false;
    const uint8_t os = header[kOs];
    return header[kId] == 0x1F && header[kId + 1] == 0x8B && header[kMethod] == 8 &&
           header[kFlags] < 32 && (os < 14 || os == 255);
}

int FileGZAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!CGzSearch::IsValidGzHeader(sector, kMinAnalyseBytes))
        return 0;
    info.m_type = RAW_GZ;
    return 1;
}

// The member header's fields, then the members to the last whole one; where
// the first does not inflate, sector by sector to the first one that ends in
// zero fill.
int FileGZAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    using namespace gz_layout;
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, kHeaderBytes);
    if (head == nullptr || !CGzSearch::IsValidGzHeader(head, kHeaderBytes))
        return 0;
    const uint8_t flags = head[kFlags];
    uint64_t pos = kHeaderBytes;
    if (flags & kFlagExtra) {
        const uint8_t* x = file.GetRawFileBuffer(pos, 2);
        if (x == nullptr)
            return 0;
        pos += 2 + vk::LoadLE<uint16_t>(x);
    }
    // A zero-terminated field; false when it runs into an unreadable byte,
    // `limited` when it runs past the field limit.
    bool limited = false;
    auto skipText = [&](std::string* keep) {
        while (true) {
            if (pos >= kFieldLimit) {
                limited = true;
                return true;
            }
            const uint8_t* c = file.GetRawFileBuffer(pos);
            if (c == nullptr)
                return false;
            ++pos;
            if (*c == 0)
                return true;
            if (keep != nullptr && keep->size() < 1024)
                keep->push_back(static_cast<char>(*c));
        }
    };
    std::string name;
    if ((flags & kFlagName) && !skipText(&name))
        return 0;
    if (!limited && (flags & kFlagComment) && !skipText(nullptr))
        return 0;
    if (limited) {
        info.m_size = static_cast<long long>(pos);
        return 1;
    }
    if (flags & kFlagHeaderCrc)
        pos += 2;
    if (flags & kFlagName)
        info.SetRawFileName(name);
    const uint64_t sectorSize = file.GetSectorSize();
    // Members that inflate say exactly where the file ends.
    GzipMembers members;
    while (members.GetState() == GzipMembers::State::Going && members.Position() < kMaxSize) {
        const uint64_t at = members.Position();
        const uint8_t* p = file.GetRawFileBuffer(at, 1);
        if (p == nullptr)
            break;
        members.Feed(p, std::min<size_t>(file.Available(at), sectorSize * 16));
    }
    members.EndOfData();
    if (members.GetState() == GzipMembers::State::End) {
        info.m_size = static_cast<long long>(members.EndOffset());
        return 1;
    }
    uint64_t offset = (pos / sectorSize + 1) * sectorSize;
    while (offset < kMaxSize) {
        const uint8_t* s = file.GetRawFileBuffer(offset, sectorSize);
        if (s == nullptr)
            break;
        offset += sectorSize;
        if (vk::LoadLE<uint64_t>(s + sectorSize - 8) == 0)
            break;
    }
    info.m_size = static_cast<long long>(offset);
    return 1;
}
