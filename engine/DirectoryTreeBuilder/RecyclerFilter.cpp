#include "RecyclerFilter.h"

#include <strings.h>

#include <cstring>
#include <vector>

#include "FileNode.h"
#include "Utility/TextConvert.h"

bool CRecyclerFilter::IsRecycleBinFolder(IFileNode* node) {
    if (!node || !(node->GetAttribute() & 0x10))
        return false;
    const char* name = node->GetFileName();
    if (!name)
        return false;
    static const char* const kNames[] = {"Recycler", "Recycled", "$Recycle.Bin", "$RECYCLE.BI0"};
    for (const char* bin : kNames) {
        if (strcasecmp(name, bin) == 0)
            return true;
    }
    return false;
}

bool CRecyclerFilter::IsRecycledName(const char* name) {
    if (!name || (name[0] != '$' && name[0] != '#'))
        return false;
    if (name[1] == 'I')
        return true;
    // NTFS keeps system files of these names; they are never recycled.
    return name[1] == 'R' && !std::strstr("$RmMetadata$Reparse$Repair", name);
}

bool CRecyclerFilter::IsIndexFileName(const char* name) {
    return name && name[0] == '$' && name[1] == 'I';
}

bool CRecyclerFilter::IsPair(const char* dataName, const char* indexName) {
    if (!dataName || !indexName)
        return false;
    if (std::strlen(dataName) < 2 || std::strlen(indexName) < 2)
        return false;
    // The whole rest must match: comparing only as far as the shorter name
    // would pair "$RAB.txt" with "$IAB.txt.bak" or with "$IA".
    return std::strcmp(dataName + 2, indexName + 2) == 0;
}

std::string CRecyclerFilter::NameFromIndexFile(const unsigned char* data, size_t size) {
    if (!data)
        return {};
    if (size > 512)
        size = 512;
    size &= ~size_t{1};
    auto unit = [&](size_t at) { return static_cast<unsigned>(data[at] | (data[at + 1] << 8)); };
    // The path starts with a drive: "X:\" in UTF-16LE, at an even offset.
    size_t colon = size;
    for (size_t at = 0; at + 4 <= size; at += 2) {
        if (unit(at) == ':' && unit(at + 2) == '\\') {
            colon = at;
            break;
        }
    }
    if (colon == size)
        return {};
    size_t end = colon;
    while (end < size && unit(end) != 0)
        end += 2;
    // A path that runs past the bytes read has no trustworthy end.
    if (end >= size)
        return {};
    size_t lastSlash = colon + 2;
    for (size_t at = colon + 2; at < end; at += 2) {
        if (unit(at) == '\\')
            lastSlash = at;
    }
    const size_t start = lastSlash + 2;
    if (start >= end)
        return {};
    return UTF162UTF8(data + start, end - start);
}

std::string CRecyclerFilter::UTF162UTF8(const unsigned char* text, size_t bytes, size_t limit) {
    if (!text || bytes < 2)
        return {};
    // A name never holds a NUL: the text ends at one.
    vk::Utf16Options options;
    options.stopAtNul = true;
    bool damaged = false;
    std::string result = vk::Utf16ToUtf8(text, bytes / 2, options, &damaged);
    // Half a unit, a damaged unit or a name longer than the limit: the
    // stored name is not trustworthy, and the recycled file keeps its own.
    if ((bytes % 2) != 0 || damaged || result.size() > limit)
        return {};
    return result;
}

IFileProperties* CRecyclerFilter::GetFileProperties(IFileNode* node) {
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    return fileNode ? fileNode->GetFileProperties() : nullptr;
}
