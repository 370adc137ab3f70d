// The user who started the program. It runs as root (pkexec or sudo), but
// what it writes for the user (settings, overlays) belongs to that user and
// what it opens for the user (links, folders) runs as that user.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace velmora::platform {

struct InvokingUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;
};

// The user behind PKEXEC_UID or SUDO_UID, with name and home from the passwd
// entry; nothing when the program was not started that way or the user is
// unknown.
std::optional<InvokingUser> FindInvokingUser();

// The invoking user's configuration folder: their home's ".config". Without
// an invoking user, $XDG_CONFIG_HOME or $HOME/.config of this process.
std::string InvokingUserConfigFolder();

// While it lives, the calling thread reaches files as the invoking user
// (file-system uid and gid) when the program runs as root on their behalf:
// what it creates belongs to the user, and a link the user planted in their
// own folders cannot lead root's writes anywhere the user could not write.
class AsInvokingUser {
public:
    AsInvokingUser();
    ~AsInvokingUser();
    AsInvokingUser(const AsInvokingUser&) = delete;
    AsInvokingUser& operator=(const AsInvokingUser&) = delete;
    bool active() const { return active_; }

private:
    bool active_ = false;
    uid_t savedUid_ = 0;
    gid_t savedGid_ = 0;
};

// Makes a folder and its missing parents as the invoking user. True when
// the folder exists afterwards.
bool MakeFolderForInvokingUser(const std::string& path);

// Replaces `path` with `bytes` so that a reader sees either the old or the
// new whole file: a private temporary file beside it, flushed, then renamed
// over it, all as the invoking user (ReplaceUserFile of UserFiles.h). The
// new file gets `mode` and belongs to that user; a link at `path` is refused,
// never followed. On failure the old file is left as it was.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t mode = 0644);

}  // namespace velmora::platform
