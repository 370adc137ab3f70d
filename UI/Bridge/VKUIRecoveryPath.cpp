#include "VKUIRecoveryPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FileNode.h"
#include "RecoveryOutput.h"
#include "Utility/CatchExeception.h"
#include "Utility/TextConvert.h"
#include "VKUIPublic.h"
#include "VKUIRecovery.h"

namespace velmora::bridge {

namespace {

// Numbers of folders and of clashing names stop here: a destination full
// of ten thousand copies gets no eleventh.
constexpr int kMaxNumber = 9999;
// Trees are loop-free by construction; a damaged one must not hang us.
constexpr int kMaxDepth = 4096;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Makes one folder below an existing one. An existing entry counts only
// when it is a real folder: a symbolic link planted there would lead the
// file out of the destination.
bool MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0) {
        velmora::recovery::GiveToInvokingUser(path.c_str());
        return true;
    }
    struct stat st {};
    return errno == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes `base` (the user's choice, which may pass through links of the
// user's own) and its missing parents.
bool MakeDestination(const std::string& base) {
    struct stat st {};
    if (::stat(base.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    for (size_t slash = base.find('/', 1);; slash = base.find('/', slash + 1)) {
        const std::string part = base.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) == 0)
            velmora::recovery::GiveToInvokingUser(part.c_str());
        if (slash == std::string::npos)
            break;
    }
    return ::stat(base.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The cleaned names from the node's tree root (named by its volume) down
// to the node.
std::vector<std::string> CleanedParts(IFileNode* node) {
    std::vector<std::string> parts;
    for (int depth = 0; node != nullptr && depth < kMaxDepth; ++depth) {
        IFileNode* parent = node->GetParent();
        const char* text = parent != nullptr ? node->GetFileName() : node->GetVolumeName();
        parts.insert(parts.begin(), velmora::recovery::CleanPathComponent(text ? text : ""));
        node = parent;
    }
    return parts;
}

// The first free numbered variant of `full` (its last part numbered), or
// "" when every number is taken.
std::string FirstFreeName(const std::string& folder, const std::string& name) {
    std::string full = folder + "/" + name;
    for (int c = 1; Exists(full); ++c) {
        if (c > kMaxNumber)
            return {};
        full = folder + "/" + NumberedName(name, c);
    }
    return full;
}

// The real path of a folder, or "".
std::string RealFolder(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return {};
    std::string out(real);
    std::free(real);
    return out;
}

// Whether `folder` (real) is `root` (real) or below it.
bool IsBelow(const std::string& folder, const std::string& root) {
    if (root.empty() || folder.empty())
        return false;
    if (root == "/")
        return true;
    return folder == root ||
           (folder.size() > root.size() && folder.compare(0, root.size(), root) == 0 &&
            folder[root.size()] == '/');
}

}  // namespace

std::string NumberedName(const std::string& name, int number) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%04d", number);
    size_t dot = name.rfind('.');
    if (dot == 0)
        dot = std::string::npos;
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    constexpr size_t kMaxName = NAME_MAX;
    const size_t tail = std::string(suffix).size() + ext.size();
    if (stem.size() + tail <= kMaxName)
        return stem + suffix + ext;
    if (tail >= kMaxName) {
        // An extension too long to keep: number the cut name instead.
        const std::string whole =
            name.substr(0, vk::Utf8CutPoint(name.data(), name.size(), kMaxName - strlen(suffix)));
        return whole + suffix;
    }
    return stem.substr(0, vk::Utf8CutPoint(stem.data(), stem.size(), kMaxName - tail)) + suffix +
           ext;
}

std::string RecoveryFilePathByNode(IFileNode* node, const std::string& destination,
                                   VKUIRecovery& numbers) {
    if (node == nullptr || destination.empty() || node->IsNodeShow() == 0)
        return {};
    const _tagSearcherType type = VKCPPPublic::instance().GetNodeSearcheType(node);
    if (type == SEARCHER_NONE)
        return {};
    std::string base = destination;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    if (!MakeDestination(base))
        return {};
    const std::string realBase = RealFolder(base);

    // The numbered folder of this file system in this recovery.
    const std::string prefix = VKUIPublic::GetFileSystemStrByType(type);
    auto rootOf = [&](int n) {
        char number[16];
        std::snprintf(number, sizeof number, "%04d", n);
        return base + "/" + velmora::recovery::CleanPathComponent(prefix + number);
    };
    std::string root;
    if (const int n = numbers.GetCreateDirIndex(type); n > 0) {
        root = rootOf(n);
    } else {
        for (int c = 1; c <= kMaxNumber && root.empty(); ++c) {
            if (Exists(rootOf(c)))
                continue;
            if (!MakeFolder(rootOf(c)))
                return {};
            root = rootOf(c);
            numbers.SetCreateDirIndex(type, c);
        }
        if (root.empty())
            return {};
    }

    const std::vector<std::string> parts = CleanedParts(node);
    if (parts.empty())
        return {};
    // Folders down to the one that holds the node (a folder node: down to
    // the node itself).
    const size_t folders = node->IsDirectory() ? parts.size() : parts.size() - 1;
    std::string folder = root;
    bool made = MakeFolder(root);
    for (size_t i = 0; made && i < folders; ++i) {
        folder += "/" + parts[i];
        made = MakeFolder(folder);
    }
    if (node->IsDirectory())
        return {};
    if (!made || !IsBelow(RealFolder(folder), realBase)) {
        CatchExeception::WriteLog("recovery path of [%s] refused: below [%s] it cannot be made\n",
                                  parts.back().c_str(), base.c_str());
        return {};
    }
    return FirstFreeName(folder, parts.back());
}

}  // namespace velmora::bridge

char* CreateRecoveryFilePathByNode(IFileNode* node, const char* destination) {
    if (node == nullptr || destination == nullptr)
        return nullptr;
    const std::string path =
        velmora::bridge::RecoveryFilePathByNode(node, destination, VKUIRecovery::instance());
    return path.empty() ? nullptr : ::strdup(path.c_str());
}
