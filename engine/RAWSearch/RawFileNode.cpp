#include "RawFileNode.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "DataRun.h"
#include "RawFileInfo.h"
#include "Utility/FileUtility.h"
#include "Utility/SystemTime.h"

namespace {

std::vector<int32_t>& CountPerFileType() {
    static std::vector<int32_t> counts(kRawFileTypeSlots, 0);
    return counts;
}

}  // namespace

void ResetRawFileNameCounters() {
    CountPerFileType().assign(kRawFileTypeSlots, 0);
}

void CRAWFileProperties::SetRawFileName(const char* name) {
    m_name = name != nullptr ? name : "";
}

CRAWFileNode::~CRAWFileNode() {
    CRAWFileProperties::Destory(m_properties);
}

std::string CRAWFileNode::BuildFileName(RAW_FILE_TYPE type, const std::string& name) {
    const char* ext = RawFileTypeName(type);
    if (ext == nullptr)
        ext = "";
    int32_t& n = CountPerFileType()[static_cast<size_t>(RawFileTypeHasManager(type) ? type : 0)];
    char text[1200];
    if (!name.empty() && name.size() < 1024 && isValidString(name.c_str()))
        std::snprintf(text, sizeof text, "%s%03d.%s", name.c_str(), n, ext);
    else
        std::snprintf(text, sizeof text, "FILE%03d.%s", n, ext);
    ++n;
    return text;
}

int CRAWFileNode::Initilaize(CRawFileInfo* info, unsigned attribute, long long parentId,
                             long long nodeId, unsigned sectorSize) {
    if (info == nullptr)
        return 0;
    CRAWFileProperties* properties = CRAWFileProperties::Create();
    if (properties == nullptr)
        return 0;
    if (sectorSize == 0)
        sectorSize = 512;
    properties->SetFileSize(info->m_size);
    properties->SetAttribute(static_cast<uint16_t>(attribute));
    // The run counts device sectors, as its start does, so a file on a
    // 4 KiB-sector device does not read eight times its length.
    if ((attribute & 0x10) == 0 && info->m_size > 0) {
        IDataRunList* runs = CreateDataRunList();
        const long long length = (info->m_size + sectorSize - 1) / sectorSize;
        const DataRun run(info->m_startSector, length);
        runs->AddDataRun(&run);
        properties->SetDataRunList(runs);
        SetDataRunList(runs);
    }
    const std::string filtered = info->GetRawFileName();
    const std::string name =
        (attribute & 0x10) != 0 ? filtered : BuildFileName(info->m_type, filtered);
    properties->SetRawFileName(name.c_str());
    // A date found inside the file comes first; a name that reads as a date
    // stands in when the file gave none.
    std::string timeText = info->GetRawFileTime();
    if (TimeFromText(timeText) == 0 && !filtered.empty())
        timeText = filtered;
    properties->SetRawFileTime(timeText);
    CRAWFileProperties::Destory(m_properties);
    m_properties = properties;
    m_displayName = name;
    m_time = -1;
    SetNodeId(nodeId);
    SetParentNodeID(parentId);
    return 1;
}

long long CRAWFileNode::TimeFromText(const std::string& text) {
    if (text.size() <= 1)
        return 0;
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::vector<std::string> pieces;
    std::string piece;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '-' || c == ':') {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty())
        pieces.push_back(piece);
    if (pieces.size() < 6)
        return 0;
    long long v[6] = {};
    for (int k = 0; k < 6; ++k) {
        const std::string& p = pieces[static_cast<size_t>(k)];
        long long x = 0;
        size_t j = 0;
        for (; j < p.size() && p[j] >= '0' && p[j] <= '9' && x < 100000; ++j)
            x = x * 10 + (p[j] - '0');
        // A piece that is not a number makes the text no date.
        if (j != p.size())
            return 0;
        v[k] = x;
    }
    if (v[0] < 1601 || v[0] > 30000 || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 ||
        v[3] > 23 || v[4] > 59 || v[5] > 60)
        return 0;
    // The real date through the 64-bit calendar, so the local rules of its
    // own year apply.
    struct tm local {};
    local.tm_year = static_cast<int>(v[0] - 1900);
    local.tm_mon = static_cast<int>(v[1] - 1);
    local.tm_mday = static_cast<int>(v[2]);
    local.tm_hour = static_cast<int>(v[3]);
    local.tm_min = static_cast<int>(v[4]);
    local.tm_sec = static_cast<int>(v[5]);
    local.tm_isdst = -1;
    const time_t t = std::mktime(&local);
    if (t == static_cast<time_t>(-1) && !(v[0] == 1969 && v[1] == 12 && v[2] == 31))
        return 0;
    return static_cast<long long>(UnixTimeToFileTime(static_cast<int64_t>(t)));
}

long long CRAWFileNode::NodeTime() {
    if (m_time < 0)
        m_time = m_properties ? TimeFromText(m_properties->GetRawFileTime()) : 0;
    return m_time;
}
