// RTF documents: "{\rtf". The streaming candidate ends at the zero fill
// (and the zero byte word processors write after the last brace); the
// whole-file sizer walks the groups to the brace that closes the document.
#include <cstring>

#include "AnalyserFactories.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "StreamLayouts.h"
#include "TextAnalysers.h"

VK_RAW_ANALYSER_FACTORY(NewRTFAnalyser, RawSpeed::RTFAnalyser);

namespace {

bool IsRtf(const unsigned char* sector) {
    return sector != nullptr && std::memcmp(sector, "{\\rt", 4) == 0 &&
           sector[rtf_layout::kVersionLetter] == 'f';
}

}  // namespace

int FileRTFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsRtf(sector))
        return 0;
    info.m_type = RAW_RTF;
    return 1;
}

// Braces open and close groups; a backslash takes the next character
// literally, so text holding "\{" or "\}" keeps its groups where they are.
// A group that closes at depth 0 ends the document unless another top-level
// group follows at once.
int FileRTFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr)
        return 0;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const uint8_t* head = file.GetRawFileBuffer(0, 5);
    if (head == nullptr || !IsRtf(head))
        return 0;
    long long depth = 0;
    bool escaped = false;
    bool closed = false;  // depth came back to 0 at the byte before
    unsigned long long offset = 0;
    while (offset <= static_cast<unsigned long long>(rtf_layout::kWalkLimit)) {
        const uint8_t* p = file.GetRawFileBuffer(offset);
        if (p == nullptr)
            return 0;
        const size_t run = file.Available(offset);
        for (size_t i = 0; i < run; ++i, ++offset) {
            const uint8_t c = p[i];
            if (closed) {
                if (c != '{') {
                    info.m_size = static_cast<long long>(offset);
                    return 1;
                }
                closed = false;
            }
            if (c == 0)
                return 0;
            if (escaped) {
                escaped = false;
                continue;
            }
            if (c == '\\') {
                escaped = true;
            } else if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (--depth <= 0)
                    closed = true;
            }
        }
    }
    if (closed) {
        info.m_size = static_cast<long long>(offset);
        return 1;
    }
    return 0;
}

int RawSpeed::RTFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!IsRtf(sector))
        return 0;
    info.m_type = RAW_RTF;
    return 1;
}

// Word processors close an RTF file with a zero byte after the last brace;
// it is counted.
CRawFileInfo* RawSpeed::RTFAnalyser::CreateRawFileInfo() {
    rawwalk::ZeroTailRule rule;
    rule.minimum = rtf_layout::kMinimum;
    rule.maximum = rtf_layout::kMaximum;
    rule.extra = 1;
    return new ZeroTailRawFileInfo(RAW_RTF, rule, &m_whole);
}
