#include "PrivateData.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace velmora::loader {

namespace {

// Settings files are small; anything larger is not ours.
constexpr off_t kMaxFileSize = 4 << 20;

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using Plist = std::unique_ptr<void, PlistFree>;

Plist LoadDict(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    std::string bytes;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        st.st_size <= kMaxFileSize) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);
    }
    close(fd);
    if (bytes.empty())
        return nullptr;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    Plist owned(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        return nullptr;
    return owned;
}

// The value of `key`, the overlay's over the installed file's; it stays
// valid while `holder` lives.
plist_t Lookup(const std::string& shipped, const std::string& overlay, const std::string& key,
               Plist& holder) {
    for (const std::string* path : {&overlay, &shipped}) {
        holder = LoadDict(*path);
        if (holder) {
            if (plist_t item = plist_dict_get_item(holder.get(), key.c_str()))
                return item;
        }
    }
    holder.reset();
    return nullptr;
}

std::optional<std::string> StringOf(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    char* text = nullptr;
    plist_get_string_val(node, &text);
    if (!text)
        return std::nullopt;
    std::string out(text);
    std::free(text);
    return out;
}

bool ParseId(const char* text, unsigned long* out) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    *out = std::strtoul(text, &end, 10);
    return errno == 0 && *end == '\0';
}

// The user we act for when running as root on someone's behalf.
bool InvokingUser(uid_t* uid, gid_t* gid, std::string* home) {
    unsigned long id = 0;
    if (!ParseId(std::getenv("PKEXEC_UID"), &id) && !ParseId(std::getenv("SUDO_UID"), &id))
        return false;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (getpwuid_r(static_cast<uid_t>(id), &pw, buf.data(), buf.size(), &found) != 0 || !found)
        return false;
    *uid = pw.pw_uid;
    *gid = pw.pw_gid;
    *home = pw.pw_dir ? pw.pw_dir : "";
    return true;
}

// While it lives, files are reached as the invoking user when we run as
// root on their behalf: what is made belongs to them, and a link they
// planted in their own folders cannot lead our writes anywhere they could
// not write themselves. The launcher has one thread.
class AsInvokingUser {
public:
    AsInvokingUser() {
        uid_t uid = 0;
        gid_t gid = 0;
        std::string home;
        if (geteuid() != 0 || !InvokingUser(&uid, &gid, &home))
            return;
        setfsgid(gid);
        setfsuid(uid);
        active_ = true;
    }
    ~AsInvokingUser() {
        if (!active_)
            return;
        setfsuid(0);
        setfsgid(0);
    }
    AsInvokingUser(const AsInvokingUser&) = delete;
    AsInvokingUser& operator=(const AsInvokingUser&) = delete;

private:
    bool active_ = false;
};

bool MakeFolders(const std::string& folder) {
    if (folder.empty())
        return false;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const auto slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash)))
        return false;
    return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Readers see the old file or the new one whole: a private file beside it,
// flushed, then renamed over it.
bool ReplaceFile(const std::string& path, const char* data, size_t size) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || !MakeFolders(path.substr(0, slash)))
        return false;
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data, size) && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp.c_str(), path.c_str()) == 0)
        return true;
    std::fprintf(stderr, "PrivateData: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    unlink(temp.c_str());
    return false;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string InvokingUserConfigFolder() {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
    if (InvokingUser(&uid, &gid, &home) && !home.empty())
        return home + "/.config";
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    if (const char* h = std::getenv("HOME"); h && *h)
        return std::string(h) + "/.config";
    return {};
}

PrivateData::PrivateData(std::string shippedPath, std::string overlayPath)
    : shipped_(std::move(shippedPath)), overlay_(std::move(overlayPath)) {}

PrivateData PrivateData::ForApp(const std::string& appPath) {
    const std::string work = FolderOf(appPath);
    std::string shipped = work + "/resources/PrivateData.plist";
    if (access(shipped.c_str(), F_OK) != 0)
        shipped = work + "/../share/tamsweld/PrivateData.plist";
    const std::string config = InvokingUserConfigFolder();
    return PrivateData(shipped, config.empty() ? "" : config + "/Velmora/PrivateData.plist");
}

bool PrivateData::Exists() const {
    return LoadDict(overlay_) || LoadDict(shipped_);
}

bool PrivateData::Has(const std::string& key) const {
    Plist holder;
    return Lookup(shipped_, overlay_, key, holder) != nullptr;
}

std::optional<std::string> PrivateData::String(const std::string& key) const {
    Plist holder;
    return StringOf(Lookup(shipped_, overlay_, key, holder));
}

std::vector<std::pair<std::string, std::string>> PrivateData::StringPairs(
    const std::string& key) const {
    std::vector<std::pair<std::string, std::string>> out;
    Plist holder;
    plist_t dict = Lookup(shipped_, overlay_, key, holder);
    if (!dict || plist_get_node_type(dict) != PLIST_DICT)
        return out;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    for (;;) {
        char* name = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, it, &name, &value);
        if (!name)
            break;
        if (auto text = StringOf(value))
            out.emplace_back(name, *text);
        std::free(name);
    }
    std::free(it);
    return out;
}

bool PrivateData::SetString(const std::string& key, const std::string& value) {
    if (overlay_.empty() || readOnly_)
        return false;
    Plist dict = LoadDict(overlay_);
    if (!dict)
        dict.reset(plist_new_dict());
    plist_dict_set_item(dict.get(), key.c_str(), plist_new_string(value.c_str()));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(dict.get(), &xml, &length);
    if (!xml)
        return false;
    AsInvokingUser asUser;
    const bool ok = ReplaceFile(overlay_, xml, length);
    plist_to_xml_free(xml);
    return ok;
}

}  // namespace velmora::loader
