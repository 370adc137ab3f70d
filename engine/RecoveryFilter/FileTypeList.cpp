// Reading the "FileType" property list: category bit (decimal text) to an
// array of extensions.
#include <plist/plist.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "RecoveryFilter.h"
#include "Utility/CatchExeception.h"
#include "Utility/FileUtility.h"

namespace {

constexpr long kMaxListBytes = 4 << 20;

struct PlistDeleter {
    void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};

bool ReadWholeFile(const std::string& path, std::vector<char>& data) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(f) : -1;
    ok = ok && size > 0 && size <= kMaxListBytes && std::fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
        data.resize(static_cast<size_t>(size));
        ok = std::fread(data.data(), 1, data.size(), f) == data.size();
    }
    std::fclose(f);
    return ok;
}

}  // namespace

std::string DefaultFileTypeListsPath() {
    return CFileTypeManager::DefaultFileTypeListPath();
}

void InitializeFileTypeLists(std::map<int, std::string>& lists) {
    CFileTypeManager::Initialze(lists);
}

std::string CFileTypeManager::DefaultFileTypeListPath() {
    return GetAppWorkPath() + "/FileType.plist";
}

bool CFileTypeManager::LoadFileTypeList(const std::string& path,
                                        std::map<int, std::string>& lists) {
    std::vector<char> data;
    if (!ReadWholeFile(path, data)) {
        CatchExeception::WriteLog("CFileTypeManager: cannot read the file-type list %s\n",
                                  path.c_str());
        return false;
    }
    plist_t raw = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &raw);
    std::unique_ptr<void, PlistDeleter> root(raw);
    if (!raw || plist_get_node_type(raw) != PLIST_DICT) {
        CatchExeception::WriteLog("CFileTypeManager: %s is not a file-type dictionary\n",
                                  path.c_str());
        return false;
    }
    static constexpr int kKeys[] = {CATEGORY_DOCUMENT, CATEGORY_PICTURE, CATEGORY_MOVIE,
                                    CATEGORY_MUSIC,    CATEGORY_ARCHIVE, CATEGORY_EMAIL};
    for (int key : kKeys) {
        plist_t array = plist_dict_get_item(raw, std::to_string(key).c_str());
        std::string joined;
        if (array && plist_get_node_type(array) == PLIST_ARRAY) {
            const uint32_t n = plist_array_get_size(array);
            for (uint32_t i = 0; i < n; ++i) {
                plist_t item = plist_array_get_item(array, i);
                if (!item || plist_get_node_type(item) != PLIST_STRING)
                    continue;
                uint64_t length = 0;
                const char* text = plist_get_string_ptr(item, &length);
                if (!text || length == 0)
                    continue;
                if (!joined.empty())
                    joined += ';';
                joined.append(text, static_cast<size_t>(length));
            }
        }
        lists[key] = joined;
    }
    return true;
}
