// Windows recycle bins as the tree builder meets them: which nodes belong to
// a bin, and the original name that a bin's "$I" index file keeps for its
// "$R" data file.
#pragma once

#include <cstddef>
#include <string>

class IFileNode;
class IFileProperties;

class CRecyclerFilter {
public:
    // A folder (attribute bit 0x10) named, in any case, "Recycler",
    // "Recycled", "$Recycle.Bin" or "$RECYCLE.BI0".
    static bool IsRecycleBinFolder(IFileNode* node);
    // A name that marks a bin's own files: "$I…"/"#I…", or "$R…"/"#R…" that
    // is not one of NTFS's "$RmMetadata", "$Reparse", "$Repair".
    static bool IsRecycledName(const char* name);
    // "$I…" with a capital I: the index file that names its "$R…" pair.
    static bool IsIndexFileName(const char* name);
    // Whether index file `indexName` pairs with data file `dataName`: both
    // carry the same text after their two-letter prefix.
    static bool IsPair(const char* dataName, const char* indexName);
    // The original file name kept in the first bytes of an index file: the
    // UTF-16LE path that starts with a drive ("X:\"), after its last
    // backslash, up to the terminator. Empty when there is none.
    static std::string NameFromIndexFile(const unsigned char* data, size_t size);
    // UTF-16LE to UTF-8 through iconv, at most `limit` bytes of output;
    // empty when the text is not valid UTF-16 or does not fit.
    static std::string UTF162UTF8(const unsigned char* text, size_t bytes, size_t limit = 512);
    // The node's file properties (FAT, NTFS), or null.
    static IFileProperties* GetFileProperties(IFileNode* node);
};
