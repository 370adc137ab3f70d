#include "RecoveryFilter.h"

#include <cstring>

#include "FileNode.h"
#include "Utility/CatchExeception.h"

std::string CFileTypeManager::strDocument;
std::string CFileTypeManager::strPics;
std::string CFileTypeManager::strMovies;
std::string CFileTypeManager::strMusic;
std::string CFileTypeManager::strArchives;
std::string CFileTypeManager::strEmail;

namespace {
bool g_listsSet = false;
}

void CFileTypeManager::Initialze(std::map<int, std::string>& lists) {
    std::string* texts[] = {&strDocument, &strPics, &strMovies, &strMusic, &strArchives, &strEmail};
    const int keys[] = {CATEGORY_DOCUMENT, CATEGORY_PICTURE, CATEGORY_MOVIE,
                        CATEGORY_MUSIC,    CATEGORY_ARCHIVE, CATEGORY_EMAIL};
    for (size_t i = 0; i < 6; ++i) {
        auto it = lists.find(keys[i]);
        *texts[i] = it != lists.end() ? it->second : std::string();
    }
    g_listsSet = true;
}

bool CFileTypeManager::HasLists() {
    return g_listsSet;
}

void CFileTypeManager::Insert2Table(const std::string& text, FILE_TYPE_ID id) {
    if (text.empty())
        return;
    size_t begin = 0;
    // Every piece counts, an empty one too (a trailing ";" makes a name
    // ending in a dot match this category).
    while (true) {
        const size_t end = text.find(';', begin);
        const std::string piece =
            text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        if (!table_.Insert(piece.c_str(), id)) {
            CatchExeception::WriteLog("CFileTypeManager: extension table full, \"%s\" left out\n",
                                      piece.c_str());
        }
        if (end == std::string::npos)
            break;
        begin = end + 1;
    }
}

void CFileTypeManager::Initialize() {
    Insert2Table(strPics, FILE_TYPE_PICS);
    Insert2Table(strMusic, FILE_TYPE_MUSIC);
    Insert2Table(strMovies, FILE_TYPE_MOVIES);
    Insert2Table(strEmail, FILE_TYPE_EMAIL);
    Insert2Table(strArchives, FILE_TYPE_ARCHIVES);
    Insert2Table(strDocument, FILE_TYPE_DOCUMENT);
}

FILE_TYPE_ID CFileTypeManager::GetFileTypeID(const char* extension) const {
    if (!extension)
        return FILE_TYPE_OTHER;
    const FILE_TYPE_ID* id = table_.Find(extension);
    return id ? *id : FILE_TYPE_OTHER;
}

CRecoveryFilter::CRecoveryFilter() {
    types_.Initialize();
}

void CRecoveryFilter::SetFilterTypes(unsigned mask) {
    mask_ = mask;
    std::memset(accepted_, 0, sizeof(accepted_));
    anyAccepted_ = false;
    if (mask == CATEGORY_ALL)
        return;
    static constexpr struct {
        unsigned bit;
        FILE_TYPE_ID id;
    } kBits[] = {
        {CATEGORY_DOCUMENT, FILE_TYPE_DOCUMENT}, {CATEGORY_PICTURE, FILE_TYPE_PICS},
        {CATEGORY_MOVIE, FILE_TYPE_MOVIES},      {CATEGORY_MUSIC, FILE_TYPE_MUSIC},
        {CATEGORY_ARCHIVE, FILE_TYPE_ARCHIVES},  {CATEGORY_EMAIL, FILE_TYPE_EMAIL},
        {CATEGORY_OTHER, FILE_TYPE_OTHER},
    };
    for (const auto& b : kBits) {
        if (mask & b.bit) {
            accepted_[b.id] = true;
            anyAccepted_ = true;
        }
    }
}

FILE_TYPE_ID CRecoveryFilter::GetNodeType(IFileNode* node) const {
    if (!node)
        return FILE_TYPE_OTHER;
    const char* name = node->GetFileName();
    if (!name)
        return FILE_TYPE_OTHER;
    const char* dot = std::strrchr(name, '.');
    if (!dot)
        return FILE_TYPE_OTHER;
    return types_.GetFileTypeID(dot + 1);
}

int CRecoveryFilter::IsFileNodeValid(IFileNode* node) {
    if (!node)
        return 0;
    if (!anyAccepted_ || node->IsDirectory())
        return 1;
    const FILE_TYPE_ID id = GetNodeType(node);
    return id >= 0 && id <= FILE_TYPE_OTHER && accepted_[id] ? 1 : 0;
}

unsigned CRecoveryFilter::GetNodeFileType(IFileNode* node) {
    switch (GetNodeType(node)) {
        case FILE_TYPE_DOCUMENT:
            return CATEGORY_DOCUMENT;
        case FILE_TYPE_PICS:
            return CATEGORY_PICTURE;
        case FILE_TYPE_MUSIC:
            return CATEGORY_MUSIC;
        case FILE_TYPE_MOVIES:
            return CATEGORY_MOVIE;
        case FILE_TYPE_ARCHIVES:
            return CATEGORY_ARCHIVE;
        case FILE_TYPE_EMAIL:
            return CATEGORY_EMAIL;
        default:
            return CATEGORY_OTHER;
    }
}

IRecoveryFilter* CreateFilter() {
    // Built once; when the interface has not handed over its category lists
    // yet, the program's own "FileType" list from the work folder is used.
    static CRecoveryFilter* filter = [] {
        if (!CFileTypeManager::HasLists()) {
            std::map<int, std::string> lists;
            const std::string path = CFileTypeManager::DefaultFileTypeListPath();
            if (CFileTypeManager::LoadFileTypeList(path, lists))
                CFileTypeManager::Initialze(lists);
        }
        static CRecoveryFilter instance;
        return &instance;
    }();
    return filter;
}

FILE_TYPE_ID GetExtensionFileTypeID(const char* extension) {
    // The filter loads the category lists when nobody has handed them over.
    CreateFilter();
    static const CFileTypeManager* types = [] {
        static CFileTypeManager instance;
        instance.Initialize();
        return &instance;
    }();
    return types->GetFileTypeID(extension);
}
