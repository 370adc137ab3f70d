// The file-type table and the filter built on it.
#pragma once

#include <map>
#include <string>

#include "IRecoveryFilter.h"
#include "KeHashTable.h"

// Which category each file extension belongs to. The six category texts are
// process-wide (the interface hands them over once, from the "FileType"
// list); each filter builds its own lookup table from them.
class CFileTypeManager {
public:
    // Keys 1, 2, 4, 8, 16 and 32: document, picture, movie, music, archive
    // and e-mail texts, each a ";"-separated list of extensions without dots.
    // A missing key leaves that text empty.
    static void Initialze(std::map<int, std::string>& lists);
    // Whether Initialze (or LoadFileTypeList) has set the texts.
    static bool HasLists();
    // Reads a "FileType" property list (category bit as decimal text ->
    // array of extensions) into the form Initialze takes. False, with a log
    // line, when the file cannot be read or is not such a list.
    static bool LoadFileTypeList(const std::string& path, std::map<int, std::string>& lists);
    // The work folder's "FileType.plist".
    static std::string DefaultFileTypeListPath();

    static std::string strDocument;
    static std::string strPics;
    static std::string strMovies;
    static std::string strMusic;
    static std::string strArchives;
    static std::string strEmail;

    // Fills this manager's table from the category texts.
    void Initialize();
    // 8 (other) for a null extension or one not in the table.
    FILE_TYPE_ID GetFileTypeID(const char* extension) const;

    static constexpr size_t kTableSlots = 2048;

private:
    void Insert2Table(const std::string& text, FILE_TYPE_ID id);

    CKeHashTable<FILE_TYPE_ID, kTableSlots> table_;
};

class CRecoveryFilter : public IRecoveryFilter {
public:
    // Builds the table from the category texts as they are now.
    CRecoveryFilter();

    int ShowNormalFiles() const override { return scanType_ != SCAN_QUICK ? 1 : 0; }
    void SetScanType(_SCAN_TYPE type) override { scanType_ = type; }
    int IsFileNodeValid(IFileNode* node) override;
    void SetFilterTypes(unsigned mask) override;
    unsigned GetNodeFileType(IFileNode* node) override;
    // The process-wide filter stays.
    void Release() override {}

    // The category of the text after the last "." of the node's name; 8
    // when the name is missing or has no dot.
    FILE_TYPE_ID GetNodeType(IFileNode* node) const;
    unsigned GetFilterTypes() const { return mask_; }

private:
    _SCAN_TYPE scanType_ = SCAN_QUICK;
    unsigned mask_ = 0;
    CFileTypeManager types_;
    // Indexed by FILE_TYPE_ID; all false means everything passes.
    bool accepted_[FILE_TYPE_OTHER + 1] = {};
    bool anyAccepted_ = false;
};
