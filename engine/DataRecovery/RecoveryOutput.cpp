#include "RecoveryOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <vector>

#include "FileNode.h"
#include "SearcherRow.h"
#include "Utility/CatchExeception.h"
#include "Utility/SystemTime.h"
#include "Utility/TextConvert.h"
#include "platform/AppPaths.h"
#include "platform/FdIo.h"
#include "platform/UserFiles.h"

namespace velmora::recovery {

using velmora::platform::AsFileUser;
using velmora::platform::CreateNewFileAt;
using velmora::platform::OpenFolderBelow;
using velmora::platform::OpenFolderNoFollow;
using velmora::platform::RemoveMadeFile;

namespace {

// Parent chains are acyclic by construction; the bound guards against a
// damaged tree all the same.
constexpr int kMaxDepth = 4096;
constexpr int kMaxNumber = 9999;

// A path split into its folder and last part.
struct SplitPath {
    std::string folder;
    std::string name;
};

bool Split(const char* path, SplitPath* out) {
    if (!path || path[0] != '/')
        return false;
    const std::string whole(path);
    const size_t slash = whole.rfind('/');
    out->folder = slash == 0 ? "/" : whole.substr(0, slash);
    out->name = whole.substr(slash + 1);
    return !out->name.empty() && out->name != "." && out->name != "..";
}

// The folder of `path`, reached without following a link, or -1.
struct FolderOf {
    explicit FolderOf(const SplitPath& parts) : fd(OpenFolderNoFollow(parts.folder)) {}
    ~FolderOf() {
        if (fd >= 0)
            ::close(fd);
    }
    FolderOf(const FolderOf&) = delete;
    FolderOf& operator=(const FolderOf&) = delete;
    int fd;
};

// The files OpenRecoveredFile made, so that a removal takes only those.
// Bounded: a partial file is removed right after it was written.
constexpr size_t kMadeKept = 256;
std::mutex gMadeLock;
std::deque<std::pair<std::string, struct stat>> gMade;

void NoteMade(const std::string& path, const struct stat& st) {
    std::lock_guard<std::mutex> hold(gMadeLock);
    for (auto& entry : gMade) {
        if (entry.first == path) {
            entry.second = st;
            return;
        }
    }
    if (gMade.size() >= kMadeKept)
        gMade.pop_front();
    gMade.emplace_back(path, st);
}

bool TakeMade(const std::string& path, struct stat* st) {
    std::lock_guard<std::mutex> hold(gMadeLock);
    for (auto it = gMade.begin(); it != gMade.end(); ++it) {
        if (it->first == path) {
            *st = it->second;
            gMade.erase(it);
            return true;
        }
    }
    return false;
}

timespec TicksToTimespec(long long ticks) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(FileTimeToUnixTime(static_cast<uint64_t>(ticks)));
    ts.tv_nsec = static_cast<long>((static_cast<uint64_t>(ticks) % kFileTimeTicksPerSecond) * 100);
    return ts;
}

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not one.
size_t Utf8Length(std::string_view s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 0;
    return n;
}

std::string NodeName(IFileNode* node) {
    const char* name = node->GetFileName();
    return CleanPathComponent(name ? name : "");
}

IFileNode* TopOf(IFileNode* node) {
    IFileNode* top = node;
    for (int depth = 0; depth < kMaxDepth && top->GetParent(); ++depth)
        top = top->GetParent();
    return top;
}

}  // namespace

bool WriteAllAt(int fd, const void* data, size_t size, long long offset) {
    return !velmora::platform::PwriteRetrying(fd, data, size, static_cast<off_t>(offset)).failed;
}

int OpenRecoveredFile(const char* path) {
    SplitPath parts;
    if (!Split(path, &parts)) {
        errno = EINVAL;
        return -1;
    }
    // As the user who chose the destination, through folders that are no
    // links, and never over a file that is there.
    AsFileUser as;
    FolderOf folder(parts);
    if (folder.fd < 0)
        return -1;
    const int fd = CreateNewFileAt(folder.fd, parts.name, 0644);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        NoteMade(path, st);
    return fd;
}

bool RemovePartialFile(const char* path) {
    SplitPath parts;
    struct stat made {};
    if (!Split(path, &parts) || !TakeMade(path, &made))
        return false;
    AsFileUser as;
    FolderOf folder(parts);
    return folder.fd >= 0 && RemoveMadeFile(folder.fd, parts.name, made);
}

bool SetFileTimes(const char* path, long long creation, long long modification, long long access) {
    SplitPath parts;
    if (!Split(path, &parts))
        return false;
    const long long mtime = modification > 0 ? modification : creation;
    const long long atime = access > 0 ? access : mtime;
    if (mtime <= 0)
        return true;
    timespec times[2] = {TicksToTimespec(atime), TicksToTimespec(mtime)};
    AsFileUser as;
    FolderOf folder(parts);
    if (folder.fd < 0 ||
        ::utimensat(folder.fd, parts.name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        CatchExeception::WriteLog("SetFileTimes: utimensat[%s] failed with %s\n", path,
                                  std::strerror(errno));
        return false;
    }
    return true;
}

void DateParentFolders(const char* path, IFileNode* node, const char* root) {
    if (!path || !node)
        return;
    DateParentFolders(path, ParentDatesOf(node), root);
}

std::vector<FolderDates> ParentDatesOf(IFileNode* node) {
    std::vector<FolderDates> parents;
    if (!node)
        return parents;
    IFileNode* parent = node->GetParent();
    for (int depth = 0; parent && depth < kMaxDepth; ++depth, parent = parent->GetParent())
        parents.push_back({NodeName(parent), parent->GetCreationTime(),
                           parent->GetModificationTime(), parent->GetLastAccessTime()});
    return parents;
}

void DateParentFolders(const char* path, const std::vector<FolderDates>& parents,
                       const char* root) {
    if (!path)
        return;
    std::string folder = path;
    const std::string stop = root ? std::string(root) : std::string();
    for (const FolderDates& parent : parents) {
        const size_t slash = folder.rfind('/');
        if (slash == std::string::npos || slash == 0)
            return;
        folder.resize(slash);
        if (!stop.empty() && folder.size() <= stop.size())
            return;
        const std::string name = folder.substr(folder.rfind('/') + 1);
        if (name != parent.name)
            return;
        SetFileTimes(folder.c_str(), parent.creation, parent.modification, parent.access);
    }
}

void GiveToInvokingUser(const char* path) {
    uid_t uid = 0;
    gid_t gid = 0;
    SplitPath parts;
    if (!Split(path, &parts) || ::geteuid() != 0 || !velmora::platform::InvokingUserIds(&uid, &gid))
        return;
    FolderOf folder(parts);
    // Only what recovery made: never a device node such as /dev/full, and
    // never through a link.
    struct stat st {};
    if (folder.fd < 0 || ::fstatat(folder.fd, parts.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
        return;
    if (st.st_uid == uid && st.st_gid == gid)
        return;
    if (::fchownat(folder.fd, parts.name.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) != 0)
        CatchExeception::WriteLog("GiveToInvokingUser: chown[%s] failed with %s\n", path,
                                  std::strerror(errno));
}

namespace {

// The longest name a Linux file system takes, in bytes.
constexpr size_t kMaxNameBytes = 255;
// An extension is kept when a name must be cut only when it looks like one.
constexpr size_t kMaxExtensionBytes = 16;

// Where the extension of a cleaned name starts (its last dot), or npos.
size_t ExtensionAt(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > kMaxExtensionBytes)
        return std::string::npos;
    return dot;
}

// `stem` + `suffix` + `ext` in at most kMaxNameBytes bytes: the stem is cut
// on a character boundary, the suffix and the extension are kept.
std::string FitName(const std::string& stem, const std::string& suffix, const std::string& ext) {
    const size_t room = kMaxNameBytes - std::min(kMaxNameBytes, suffix.size() + ext.size());
    const size_t keep = vk::Utf8CutPoint(stem.data(), stem.size(), room);
    return stem.substr(0, keep) + suffix + ext;
}

}  // namespace

std::string CleanPathComponent(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const size_t n = Utf8Length(name, i);
        if (n == 0 || c < 0x20 || c == 0x7F || c == '/') {
            out += '_';
            ++i;
            continue;
        }
        out.append(name.substr(i, n));
        i += n;
    }
    // Too long for a file name: the stem is cut, on a character boundary,
    // and the extension kept, so the file still opens with its program.
    if (out.size() > kMaxNameBytes) {
        const size_t dot = ExtensionAt(out);
        out = dot == std::string::npos ? FitName(out, "", "")
                                       : FitName(out.substr(0, dot), "", out.substr(dot));
    }
    if (out.empty() || out == "." || out == "..")
        return "_";
    return out;
}

std::string RecoveryFolderPrefix(_tagSearcherType type, const std::string& date) {
    const SearcherTreeRules* rules = vk::FindTreeRules(type);
    if (rules == nullptr || rules->recoveryFolder == nullptr || *rules->recoveryFolder == '\0')
        return "";
    std::string prefix = rules->recoveryFolder;
    if (rules->recoveryFolderDated)
        prefix += date + "_";
    return prefix;
}

std::string NumberedName(const std::string& name, int number) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%04d", number);
    const size_t dot = ExtensionAt(name);
    return dot == std::string::npos ? FitName(name, suffix, "")
                                    : FitName(name.substr(0, dot), suffix, name.substr(dot));
}

namespace {

// The nearest folder of `path` that exists, real, followed by the parts
// below it that do not exist yet.
bool ResolveDestination(const std::string& path, std::string* real, std::string* missing) {
    std::string existing = path;
    std::string rest;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        struct stat st {};
        if (::lstat(existing.c_str(), &st) == 0)
            break;
        if (errno != ENOENT)
            return false;
        const size_t slash = existing.rfind('/');
        if (slash == std::string::npos)
            return false;
        const std::string part = existing.substr(slash + 1);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".")
            rest = rest.empty() ? part : part + "/" + rest;
        existing.resize(slash == 0 ? 1 : slash);
        if (slash == 0)
            break;
    }
    char* resolved = ::realpath(existing.c_str(), nullptr);
    if (!resolved)
        return false;
    *real = resolved;
    std::free(resolved);
    *missing = rest;
    return true;
}

// Opens (making it) the folder `part` in `dirFd`; where a file or a link
// holds the name, the first free numbered name instead, as clashing file
// names are. -1 when none can be made; `used` gets the name taken.
int OpenOrNumberFolder(int dirFd, const std::string& part, std::string* used) {
    for (int n = 0; n <= kMaxNumber; ++n) {
        const std::string name = n == 0 ? part : NumberedName(part, n);
        const int fd = OpenFolderBelow(dirFd, name, true);
        if (fd >= 0) {
            *used = name;
            return fd;
        }
        if (errno != ENOTDIR && errno != ELOOP && errno != EEXIST)
            return -1;
    }
    return -1;
}

}  // namespace

RecoveryPathBuilder::RecoveryPathBuilder(std::string destination, std::string date)
    : destination_(std::move(destination)), date_(std::move(date)) {
    while (destination_.size() > 1 && destination_.back() == '/')
        destination_.pop_back();
    if (date_.empty()) {
        time_t now = ::time(nullptr);
        struct tm local {};
        char text[16] = {};
        if (::localtime_r(&now, &local))
            std::strftime(text, sizeof text, "%Y-%m-%d", &local);
        date_ = std::string("Recovered Data") + text;
    }
}

RecoveryPathBuilder::~RecoveryPathBuilder() {
    for (auto& [type, root] : roots_)
        if (root.fd >= 0)
            ::close(root.fd);
    if (destFd_ >= 0)
        ::close(destFd_);
}

bool RecoveryPathBuilder::Open() {
    if (destFd_ >= 0)
        return true;
    if (tried_)
        return false;
    tried_ = true;
    std::string real;
    std::string missing;
    if (destination_.empty() || destination_[0] != '/' ||
        !ResolveDestination(destination_, &real, &missing))
        return false;
    AsFileUser as;
    const int existing = OpenFolderNoFollow(real);
    if (existing < 0)
        return false;
    destFd_ = OpenFolderBelow(existing, missing, true);
    ::close(existing);
    if (destFd_ < 0)
        return false;
    real_ = missing.empty() ? real : (real == "/" ? "" : real) + "/" + missing;
    return true;
}

const std::string& RecoveryPathBuilder::Destination() {
    Open();
    return real_;
}

std::string RecoveryPathBuilder::RootFor(_tagSearcherType type) const {
    auto it = roots_.find(type);
    return it == roots_.end() ? std::string() : it->second.path;
}

int RecoveryPathBuilder::RootNumber(_tagSearcherType type) const {
    auto it = roots_.find(type);
    return it == roots_.end() ? 0 : it->second.number;
}

bool RecoveryPathBuilder::UseRoot(_tagSearcherType type, int number) {
    if (number < 1 || number > kMaxNumber || !Open())
        return false;
    char text[16];
    std::snprintf(text, sizeof text, "%04d", number);
    const std::string name = CleanPathComponent(RecoveryFolderPrefix(type, date_) + text);
    AsFileUser as;
    const int fd = OpenFolderBelow(destFd_, name, false);
    if (fd < 0)
        return false;
    auto found = roots_.find(type);
    if (found != roots_.end() && found->second.fd >= 0)
        ::close(found->second.fd);
    roots_[type] = Root{real_ + "/" + name, fd, number};
    return true;
}

int RecoveryPathBuilder::RootFolder(_tagSearcherType type) {
    auto found = roots_.find(type);
    if (found != roots_.end())
        return found->second.fd;
    const std::string prefix = RecoveryFolderPrefix(type, date_);
    for (int n = 1; n <= kMaxNumber; ++n) {
        char number[16];
        std::snprintf(number, sizeof number, "%04d", n);
        const std::string name = CleanPathComponent(prefix + number);
        // A number in use, by a folder or anything else, is passed over: a
        // new recovery never mixes with an earlier one.
        if (::mkdirat(destFd_, name.c_str(), 0755) != 0) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        const int fd = OpenFolderBelow(destFd_, name, false);
        if (fd < 0)
            return -1;
        roots_[type] = Root{real_ + "/" + name, fd, n};
        return fd;
    }
    return -1;
}

RecoveryPathBuilder::Place RecoveryPathBuilder::PlaceOf(IFileNode* node) {
    Place place;
    if (!node || !node->IsNodeShow())
        return place;
    IFileNode* top = TopOf(node);
    place.type = node->GetSearcheType();
    if (place.type == SEARCHER_NONE)
        place.type = top->GetSearcheType();
    if (place.type == SEARCHER_NONE)
        return place;
    // Folder path from the top of the tree down, every part cleaned; the
    // top is named by its volume (by its own name when it has none).
    std::vector<std::string>& parts = place.folders;
    for (IFileNode* p = node->GetParent(); p && parts.size() < static_cast<size_t>(kMaxDepth);
         p = p->GetParent()) {
        if (!p->GetParent()) {
            const char* volume = p->GetVolumeName();
            parts.push_back(CleanPathComponent(
                volume && *volume ? volume : (p->GetFileName() ? p->GetFileName() : "")));
        } else {
            parts.push_back(NodeName(p));
        }
    }
    std::reverse(parts.begin(), parts.end());
    place.directory = node->IsDirectory() != 0;
    place.name = NodeName(node);
    return place;
}

std::string RecoveryPathBuilder::PathFor(IFileNode* node) {
    return PathFor(PlaceOf(node));
}

std::string RecoveryPathBuilder::PathFor(const Place& place) {
    if (place.type == SEARCHER_NONE || !Open())
        return {};
    AsFileUser as;
    const int rootFd = RootFolder(place.type);
    if (rootFd < 0)
        return {};
    std::vector<std::string> parts = place.folders;
    if (place.directory)
        parts.push_back(place.name);

    // The walk never follows a link, but a folder moved out of the
    // destination while the recovery runs (the numbered folder is held
    // open) would still lead its files out: each folder the walk stands in
    // must lie below the destination before anything is made in it.
    std::string folder;
    const auto below = [&](int at) {
        folder = velmora::platform::PathOfDescriptor(at);
        if (velmora::platform::PathIsBelow(folder, real_))
            return true;
        CatchExeception::WriteLog("recovery path refused: [%s] is not below [%s]\n", folder.c_str(),
                                  real_.c_str());
        return false;
    };
    int fd = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
    for (size_t i = 0; fd >= 0 && i <= parts.size(); ++i) {
        if (!below(fd)) {
            ::close(fd);
            return {};
        }
        if (i == parts.size())
            break;
        std::string used;
        const int next = OpenOrNumberFolder(fd, parts[i], &used);
        ::close(fd);
        fd = next;
    }
    if (fd < 0)
        return {};
    if (place.directory) {
        ::close(fd);
        return {};
    }

    const std::string& name = place.name;
    std::string chosen;
    for (int n = 0; n <= kMaxNumber && chosen.empty(); ++n) {
        const std::string candidate = n == 0 ? name : NumberedName(name, n);
        struct stat st {};
        if (::fstatat(fd, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
            chosen = candidate;
    }
    ::close(fd);
    if (chosen.empty())
        return {};
    return folder + "/" + chosen;
}

}  // namespace velmora::recovery
