#include "VKUIPublic.h"

#include <dirent.h>
#include <locale.h>
#include <strings.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include "BridgeServices.h"
#include "MainThread.h"
#include "RecoveryOutput.h"
#include "StartThread.h"

using velmora::bridge::CurrentPoster;
using velmora::bridge::CurrentSettings;
using velmora::bridge::CurrentTextCatalog;
using velmora::bridge::Notification;
using velmora::bridge::NotificationCentre;

uint64_t convertWindowsTimeToUnixTime(_FILETIME time) {
    return FileTimeToU64(time) / kFileTimeTicksPerSecond -
           kFileTimeUnixEpoch / kFileTimeTicksPerSecond;
}

namespace {

// Decodes UTF-8 into code points; nothing for bytes that are not UTF-8
// (overlong forms, surrogates and values past U+10FFFF included).
std::optional<std::u32string> DecodeUtf8(const char* text) {
    std::u32string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        char32_t c = *p;
        int more = 0;
        char32_t least = 0;
        if (c < 0x80) {
            more = 0;
        } else if ((c & 0xE0) == 0xC0) {
            c &= 0x1F;
            more = 1;
            least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            c &= 0x0F;
            more = 2;
            least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            c &= 0x07;
            more = 3;
            least = 0x10000;
        } else {
            return std::nullopt;
        }
        ++p;
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (*p & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
        out.push_back(c);
    }
    return out;
}

// Lower case by Unicode's simple mapping, whatever locale the process runs
// in.
void FoldCase(std::u32string& text) {
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    for (char32_t& c : text) {
        if (utf8 != nullptr)
            c = static_cast<char32_t>(::towlower_l(static_cast<wint_t>(c), utf8));
        else if (c >= 'A' && c <= 'Z')
            c = c - 'A' + 'a';
    }
}

bool IsAscii(const char* text) {
    for (; *text != '\0'; ++text) {
        if (static_cast<unsigned char>(*text) >= 0x80)
            return false;
    }
    return true;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The search over a million names mostly compares plain ASCII: the same
// answer as the folding below, without decoding or allocating.
bool AsciiContains(const char* text, const char* needle) {
    for (; *text != '\0'; ++text) {
        size_t i = 0;
        while (needle[i] != '\0' && AsciiLower(text[i]) == AsciiLower(needle[i]))
            ++i;
        if (needle[i] == '\0')
            return true;
    }
    return false;
}

bool IsDesktopFolder(IFileNode* node) {
    const char* name = node->GetFileName();
    return name != nullptr && std::strcmp(name, "Desktop") == 0;
}

}  // namespace

bool IsValidUtf8(const char* text) {
    return text != nullptr && DecodeUtf8(text).has_value();
}

const void* VKUIPublic::NotificationObject() {
    static const char tag = 0;
    return &tag;
}

void VKUIPublic::NotifyMainThread(const std::string& name) {
    CurrentPoster()->Post([name] { NotifyMainThreadCB(name); });
}

void VKUIPublic::NotifyMainThreadCB(const std::string& name) {
    NotificationCentre::Default().Post(Notification{name, NotificationObject()});
}

void VKUIPublic::NotifyMainThreadByPostKey(const std::string& name, std::function<void()> work) {
    velmora::bridge::StartBackgroundThread([name, work = std::move(work)] {
        if (work)
            work();
        NotifyMainThread(name);
    });
}

std::string VKUIPublic::FormatFileTimeToString(_FILETIME time) {
    const auto seconds = static_cast<time_t>(convertWindowsTimeToUnixTime(time));
    return CurrentTextCatalog()->DateTimeText(seconds);
}

void VKUIPublic::GetYear(int* year, int* month, _FILETIME time) {
    VKCPPPublic::instance().GetYearMonthByFileTime(year, month, time);
}

int VKUIPublic::IsStringInString(const char* needle, const char* text) {
    if (needle == nullptr || *needle == '\0')
        return 1;
    if (text == nullptr)
        return 0;
    if (IsAscii(needle) && IsAscii(text))
        return AsciiContains(text, needle) ? 1 : 0;
    std::optional<std::u32string> n = DecodeUtf8(needle);
    std::optional<std::u32string> t = DecodeUtf8(text);
    if (!n || !t)
        return 0;
    FoldCase(*n);
    FoldCase(*t);
    return t->find(*n) != std::u32string::npos ? 1 : 0;
}

// A file matches when its name contains the needle, a folder when anything
// below it does. While the user looks at the Desktop entry of the disk page,
// the needle is not looked at: the files that match are those directly in a
// folder named "Desktop". Walked without recursion: result trees can be
// deeper than a thread's stack allows.
int VKUIPublic::IsStringInFileNode(const char* needle, IFileNode* node) {
    if (needle == nullptr || *needle == '\0')
        return 1;
    if (node == nullptr)
        return 0;
    return IsStringInFileNode(needle, node,
                              CurrentSettings()->GetBool("isSelectDesktopDisk", false));
}

int VKUIPublic::IsStringInFileNode(const char* needle, IFileNode* node, bool desktop) {
    if (needle == nullptr || *needle == '\0')
        return 1;
    if (node == nullptr)
        return 0;
    // A search looks at a million files for every folder: a file is
    // answered without the walk's list.
    if (!node->IsDirectory()) {
        if (desktop) {
            IFileNode* parent = node->GetParent();
            return parent != nullptr && IsDesktopFolder(parent) ? 1 : 0;
        }
        return IsStringInString(needle, node->GetFileName());
    }
    std::vector<IFileNode*> pending{node};
    while (!pending.empty()) {
        IFileNode* current = pending.back();
        pending.pop_back();
        if (current->IsDirectory()) {
            for (IFileNode* child = current->GetFirstChild(); child != nullptr;
                 child = child->GetNextNode())
                pending.push_back(child);
            continue;
        }
        if (desktop) {
            IFileNode* parent = current->GetParent();
            if (parent != nullptr && IsDesktopFolder(parent))
                return 1;
        } else if (IsStringInString(needle, current->GetFileName())) {
            return 1;
        }
    }
    return 0;
}

int VKUIPublic::IsStringInFileNodeVector(const char* needle, const std::vector<IFileNode*>& nodes) {
    if (needle == nullptr || *needle == '\0')
        return 1;
    for (IFileNode* node : nodes) {
        if (node != nullptr && IsStringInString(needle, node->GetFileName()))
            return 1;
    }
    return 0;
}

std::string VKUIPublic::GetPathByFileNode(IFileNode* node) {
    // The names are gathered first and joined once: putting each in front
    // of the path so far would copy the path at every level, which grows
    // with the square of the depth on a deep chain of folders.
    std::vector<const char*> names;
    size_t length = 0;
    // Parent chains are loop-free (the nodes refuse links that would close
    // one); the bound only keeps a broken tree from hanging the window.
    for (int steps = 0; node != nullptr && steps < (1 << 20); ++steps) {
        IFileNode* parent = node->GetParent();
        const char* text = parent != nullptr ? node->GetFileName() : node->GetVolumeName();
        names.push_back(text != nullptr ? text : "");
        length += 1 + std::strlen(names.back());
        node = parent;
    }
    std::string path;
    path.reserve(length);
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path += '/';
        path += *it;
    }
    return path;
}

std::string VKUIPublic::GetFileSystemStrByType(_tagSearcherType type) {
    const time_t now = velmora::bridge::CurrentClock()->Now();
    struct tm local {};
    ::localtime_r(&now, &local);
    char date[64];
    std::snprintf(date, sizeof date, "Recovered Data%04d-%02d-%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday);
    return velmora::recovery::RecoveryFolderPrefix(type, date);
}

bool cmpFileNode::operator()(IFileNode* a, IFileNode* b) const {
    // Nodes missing from the list sort last: answering "not before" for
    // both orders would break the ordering std::sort relies on.
    if (a == nullptr || b == nullptr)
        return a != nullptr;
    switch (key) {
        case 2:
            return static_cast<unsigned long long>(a->GetCreationTime()) >
                   static_cast<unsigned long long>(b->GetCreationTime());
        case 3:
            return static_cast<unsigned long long>(a->GetModificationTime()) >
                   static_cast<unsigned long long>(b->GetModificationTime());
        case 4:
            return static_cast<unsigned long long>(a->GetLastAccessTime()) >
                   static_cast<unsigned long long>(b->GetLastAccessTime());
        default: {
            const char* na = a->GetFileName();
            const char* nb = b->GetFileName();
            return std::strcmp(na != nullptr ? na : "", nb != nullptr ? nb : "") > 0;
        }
    }
}

VKCPPPublic& VKCPPPublic::instance() {
    static VKCPPPublic one;
    return one;
}

IFilesystemNode* VKCPPPublic::GetFileSystemNode(IFileNode* node) {
    if (node == nullptr)
        return nullptr;
    for (int steps = 0; steps < kMaxRootSteps; ++steps) {
        IFileNode* parent = node->GetParent();
        if (parent == nullptr)
            break;
        node = parent;
    }
    return dynamic_cast<IFilesystemNode*>(node);
}

_tagSearcherType VKCPPPublic::GetNodeSearcheType(IFileNode* node) {
    IFilesystemNode* root = GetFileSystemNode(node);
    return root != nullptr ? root->GetSearcheType() : SEARCHER_NONE;
}

void VKCPPPublic::GetYearMonthByTimeT(int* year, int* month, time_t time) {
    struct tm local {};
    ::localtime_r(&time, &local);
    if (year != nullptr)
        *year = local.tm_year + 1900;
    if (month != nullptr)
        *month = local.tm_mon + 1;
}

void VKCPPPublic::GetYearMonthByFileTime(int* year, int* month, _FILETIME time) {
    GetYearMonthByTimeT(year, month, static_cast<time_t>(convertWindowsTimeToUnixTime(time)));
}

void VKCPPPublic::SortFileNodeVector(std::vector<IFileNode*>& nodes, int key) {
    std::sort(nodes.begin(), nodes.end(), cmpFileNode{key});
}

namespace {

struct CategoryTitle {
    unsigned bit;
    const char* key;
};
constexpr CategoryTitle kCategoryTitles[] = {
    {CATEGORY_DOCUMENT, "PLX_TWO_DOCUMENT_TITLE"}, {CATEGORY_PICTURE, "PLX_TWO_PICTURE_TITLE"},
    {CATEGORY_MOVIE, "PLX_TWO_MOVIE_TITLE"},       {CATEGORY_MUSIC, "PLX_TWO_MUSIC_TITLE"},
    {CATEGORY_ARCHIVE, "PLX_TWO_ARCHIVES_TITLE"},  {CATEGORY_EMAIL, "PLX_TWO_EMAIL_TITLE"},
    {CATEGORY_OTHER, "PLX_TWO_OTHER_TITLE"},
};

}  // namespace

std::string VKCPPPublic::FilterTypeToString(unsigned bit) {
    for (const CategoryTitle& title : kCategoryTitles) {
        if (title.bit == bit)
            return CurrentTextCatalog()->Text(title.key, "");
    }
    return {};
}

unsigned VKCPPPublic::StringToFilterType(const char* text) {
    if (text == nullptr)
        return CATEGORY_OTHER;
    for (unsigned bit : {CATEGORY_DOCUMENT, CATEGORY_PICTURE, CATEGORY_MOVIE, CATEGORY_MUSIC,
                         CATEGORY_ARCHIVE, CATEGORY_EMAIL}) {
        if (IsTypeString(text, bit))
            return bit;
    }
    return CATEGORY_OTHER;
}

int VKCPPPublic::IsTypeString(const char* text, unsigned bit) {
    if (!IsValidUtf8(text))
        return 0;
    return FilterTypeToString(bit) == text ? 1 : 0;
}

int VKCPPPublic::IsStringInFileNode(const char* needle, IFileNode* node) {
    return VKUIPublic::IsStringInFileNode(needle, node);
}

int VKCPPPublic::IsAppRunning() {
    return IsAppRunningIn("/proc", kProcessName, ::getpid());
}

// Whole names only: a shell, an editor or a tool whose short name happens to
// begin the program's name ("v", "vel") is no copy of the program.
int VKCPPPublic::IsAppRunningIn(const std::string& procRoot, const std::string& name, pid_t self) {
    DIR* dir = ::opendir(procRoot.c_str());
    if (dir == nullptr)
        return 0;
    int found = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0 || pid == self)
            continue;
        std::ifstream comm(procRoot + "/" + entry->d_name + "/comm");
        std::string command;
        if (!comm || !std::getline(comm, command) || command.empty())
            continue;
        if (command.size() == name.size() && ::strcasecmp(command.c_str(), name.c_str()) == 0) {
            found = 1;
            break;
        }
    }
    ::closedir(dir);
    return found;
}
