#include "RecoveryOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "FileNode.h"
#include "SearcherRow.h"
#include "Utility/CatchExeception.h"
#include "Utility/SystemTime.h"
#include "Utility/TextConvert.h"
#include "platform/AppPaths.h"
#include "platform/FdIo.h"

namespace velmora::recovery {

namespace {

// Parent chains are acyclic by construction; the bound guards against a
// damaged tree all the same.
constexpr int kMaxDepth = 4096;
constexpr int kMaxNumber = 9999;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Makes `path` and its missing parents (only below `base`, which exists).
bool MakeFolders(const std::string& base, const std::string& rel) {
    std::string path = base;
    size_t pos = 0;
    while (pos <= rel.size()) {
        size_t slash = rel.find('/', pos);
        if (slash == std::string::npos)
            slash = rel.size();
        std::string part = rel.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty())
            continue;
        path += "/" + part;
        if (::mkdir(path.c_str(), 0755) == 0) {
            GiveToInvokingUser(path.c_str());
            continue;
        }
        struct stat st {};
        if (errno != EEXIST || ::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return false;
    }
    return true;
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
    if (!path || !*path) {
        errno = EINVAL;
        return -1;
    }
    // Non-blocking only for the open itself: a FIFO with no reader fails
    // at once instead of hanging the recovery.
    const int fd =
        ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0)
        return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

void RemovePartialFile(const char* path) {
    struct stat st {};
    if (path && ::lstat(path, &st) == 0 && S_ISREG(st.st_mode))
        ::unlink(path);
}

bool SetFileTimes(const char* path, long long creation, long long modification, long long access) {
    if (!path)
        return false;
    const long long mtime = modification > 0 ? modification : creation;
    const long long atime = access > 0 ? access : mtime;
    if (mtime <= 0)
        return true;
    timespec times[2] = {TicksToTimespec(atime), TicksToTimespec(mtime)};
    if (::utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW) != 0) {
        CatchExeception::WriteLog("SetFileTimes: utimensat[%s] failed with %s\n", path,
                                  std::strerror(errno));
        return false;
    }
    return true;
}

void DateParentFolders(const char* path, IFileNode* node, const char* root) {
    if (!path || !node)
        return;
    std::string folder = path;
    const std::string stop = root ? std::string(root) : std::string();
    IFileNode* parent = node->GetParent();
    for (int depth = 0; parent && depth < kMaxDepth; ++depth, parent = parent->GetParent()) {
        const size_t slash = folder.rfind('/');
        if (slash == std::string::npos || slash == 0)
            return;
        folder.resize(slash);
        if (!stop.empty() && folder.size() <= stop.size())
            return;
        const std::string name = folder.substr(folder.rfind('/') + 1);
        if (name != NodeName(parent))
            return;
        SetFileTimes(folder.c_str(), parent->GetCreationTime(), parent->GetModificationTime(),
                     parent->GetLastAccessTime());
    }
}

void GiveToInvokingUser(const char* path) {
    uid_t uid = 0;
    gid_t gid = 0;
    if (!path || ::geteuid() != 0 || !velmora::platform::InvokingUserIds(&uid, &gid))
        return;
    // Only what recovery made: never a device node such as /dev/full.
    struct stat st {};
    if (::lstat(path, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
        return;
    if (::lchown(path, uid, gid) != 0)
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

std::string RecoveryPathBuilder::RootFor(_tagSearcherType type) const {
    auto it = roots_.find(type);
    return it == roots_.end() ? std::string() : it->second;
}

std::string RecoveryPathBuilder::PathFor(IFileNode* node) {
    if (!node || !node->IsNodeShow())
        return {};
    IFileNode* top = TopOf(node);
    _tagSearcherType type = node->GetSearcheType();
    if (type == SEARCHER_NONE)
        type = top->GetSearcheType();
    if (type == SEARCHER_NONE)
        return {};

    std::string& root = roots_[type];
    if (root.empty()) {
        const std::string prefix = RecoveryFolderPrefix(type, date_);
        for (int n = 1; n <= kMaxNumber && root.empty(); ++n) {
            char number[16];
            std::snprintf(number, sizeof number, "%04d", n);
            const std::string name = CleanPathComponent(prefix + number);
            if (Exists(destination_ + "/" + name))
                continue;
            if (!MakeFolders(destination_, name))
                break;
            root = destination_ + "/" + name;
        }
        if (root.empty()) {
            roots_.erase(type);
            return {};
        }
    }

    // Folder path from the top of the tree down, every part cleaned; the
    // top is named by its volume.
    std::vector<std::string> parts;
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
    std::string rel;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it)
        rel += "/" + *it;
    if (node->IsDirectory()) {
        MakeFolders(root, rel + "/" + NodeName(node));
        return {};
    }
    if (!MakeFolders(root, rel))
        return {};

    const std::string name = NodeName(node);
    std::string full = root + rel + "/" + name;
    if (Exists(full)) {
        const size_t dot = ExtensionAt(name);
        const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
        const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
        std::string candidate;
        for (int c = 1; c <= kMaxNumber; ++c) {
            char number[16];
            std::snprintf(number, sizeof number, "_%04d", c);
            // The number must fit too: a name at the length limit gives
            // room for it from its stem.
            candidate = root + rel + "/" + FitName(stem, number, ext);
            if (!Exists(candidate))
                break;
            candidate.clear();
        }
        if (candidate.empty())
            return {};
        full = candidate;
    }
    return full;
}

}  // namespace velmora::recovery
