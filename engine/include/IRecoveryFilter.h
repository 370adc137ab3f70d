// The file-type filter: which found nodes belong to the categories the user
// chose, and whether files that are not deleted are shown at all.
#pragma once

#include <map>
#include <string>

#include "EngineTypes.h"

class IFileNode;

// Category of an extension in the filter's table. Note that movies and
// music are ordered the other way round than in the category mask.
enum FILE_TYPE_ID : int {
    FILE_TYPE_DOCUMENT = 2,
    FILE_TYPE_PICS = 3,
    FILE_TYPE_MUSIC = 4,
    FILE_TYPE_MOVIES = 5,
    FILE_TYPE_ARCHIVES = 6,
    FILE_TYPE_EMAIL = 7,
    FILE_TYPE_OTHER = 8,
};

enum _SCAN_TYPE : int {
    SCAN_QUICK = 0,
    SCAN_COMPLETE = 1,
};

class IRecoveryFilter {
public:
    virtual ~IRecoveryFilter() = default;
    // Non-zero for a deep scan: it shows live files too; a quick scan shows
    // only deleted ones.
    virtual int ShowNormalFiles() const = 0;
    virtual void SetScanType(_SCAN_TYPE type) = 0;
    // 1 when the node passes the chosen categories (folders always pass).
    virtual int IsFileNodeValid(IFileNode* node) = 0;
    // A FileCategoryMask; 127 (or 0) lets everything through.
    virtual void SetFilterTypes(unsigned mask) = 0;
    // The FileCategoryMask bit of the node's category (64 for other).
    virtual unsigned GetNodeFileType(IFileNode* node) = 0;
    virtual void Release() = 0;
};

// The process-wide filter, made on the first call; Release does nothing.
IRecoveryFilter* CreateFilter();

// The category of a file extension (without the dot) in the process-wide
// file-type table; FILE_TYPE_OTHER for null or unknown extensions. Searchers
// that name files by type (the signature search) sort them by it.
FILE_TYPE_ID GetExtensionFileTypeID(const char* extension);

// The work folder's "FileType" list.
std::string DefaultFileTypeListsPath();
// Hands the interface's extension lists of the six categories (keys 1, 2,
// 4, 8, 16 and 32, each a ";"-separated list without dots) to the
// process-wide file-type table.
void InitializeFileTypeLists(std::map<int, std::string>& lists);
