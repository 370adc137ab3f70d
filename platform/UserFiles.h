// Writing files for the user who started the program. The program runs as
// root, but a folder the user chose is the user's: everything made there is
// made as that user (their permissions hold, and what is made is theirs),
// reached one folder at a time without following a link (a link swapped in
// while a long write runs leads nowhere), new files never replace anything,
// and a file that does replace one (a saved result, a disk image, settings)
// takes the old one's place only once it is whole and on the disk.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace velmora::platform {

// While it lives, the calling thread reaches files with the invoking user's
// file-system ids (when the process is root and such a user is known):
// root's right to override permissions is gone for as long.
class AsFileUser {
public:
    AsFileUser();
    ~AsFileUser();
    AsFileUser(const AsFileUser&) = delete;
    AsFileUser& operator=(const AsFileUser&) = delete;
    bool active() const { return active_; }

private:
    bool active_ = false;
    uid_t savedUid_ = 0;
    gid_t savedGid_ = 0;
};

// While it lives, AsFileUser does nothing on the calling thread: for the
// program's own private files (thumbnails in its mkdtemp folder), which are
// no user's and lie where the user cannot reach.
class AsProcessOwner {
public:
    AsProcessOwner();
    ~AsProcessOwner();
    AsProcessOwner(const AsProcessOwner&) = delete;
    AsProcessOwner& operator=(const AsProcessOwner&) = delete;
};

// Opens the folder at the absolute `path`, one part at a time from "/",
// never through a link. -1 with errno (ELOOP or ENOTDIR where a part is a
// link or no folder).
int OpenFolderNoFollow(const std::string& path);

// Opens the folder `rel` ("a/b", parts without "." or "..") below `dirFd`,
// one part at a time and never through a link; with `make`, missing parts
// are made (0755, by the calling thread's file-system user). -1 with errno.
int OpenFolderBelow(int dirFd, const std::string& rel, bool make);

// Makes the new file `name` in `dirFd` for writing: never one that exists,
// never through a link, and a FIFO there does not hang the call. -1 with
// errno (EEXIST when the name is taken).
int CreateNewFileAt(int dirFd, const std::string& name, mode_t mode = 0644);

// The real path of an open descriptor, "" when it cannot be told.
std::string PathOfDescriptor(int fd);

// Whether the real path `path` is `root` or lies below it.
bool PathIsBelow(const std::string& path, const std::string& root);

// How a folder chosen for the user's files stands, judged as that user.
enum class FolderCheck : int {
    kUsable = 0,
    kNotAbsolute = 1,   // no absolute path
    kNoParent = 2,      // not even a parent of it exists or can be resolved
    kNotAFolder = 3,    // it (or its nearest existing part) is no folder
    kNoPermission = 4,  // the user may not search and write there
    kForeignLink = 5,   // a link on the way belongs to neither the user nor root
};

// Checks the folder `path` as the invoking user: a link on the way must be
// theirs or root's, and the folder (for one not made yet: its nearest
// existing parent) must let them search and write. `existing` gets the real
// path of the part that exists, `missing` the parts below it still to make.
FolderCheck CheckFolderForUser(const std::string& path, std::string* existing = nullptr,
                               std::string* missing = nullptr);

// The sync every write for the user ends with (fsync, unless a test put
// another in place; null puts fsync back). 0 on success, -1 with errno.
using SyncFunction = int (*)(int fd);
void SetSyncFunctionForTests(SyncFunction sync);
int SyncDescriptor(int fd);

// A file that replaces `target` only once it is whole: a new file beside
// the target, written, synced, renamed over it and the folder synced. A
// failed or abandoned write removes the new file (only that file, and only
// while it is still the one made) and leaves the target as it was.
class ReplacingFile {
public:
    ReplacingFile() = default;
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Makes the new file beside the absolute `target`, as the invoking user,
    // the target's folder reached without following a link. Refused (false,
    // errno) when the target is there but no plain file (a device, a folder,
    // and a link unless `replaceLink`: then the link itself is replaced by
    // the new file, never followed).
    bool Begin(const std::string& target, mode_t mode = 0644, bool replaceLink = false);
    // The new file's descriptor while it is being written; -1 otherwise.
    int fd() const { return fd_; }
    // Syncs, closes and renames the new file over the target, then syncs the
    // folder. False with errno (the new file removed, the target unchanged).
    bool Commit();
    // Removes the new file; the target is untouched.
    void Abandon();

private:
    int dirFd_ = -1;
    int fd_ = -1;
    std::string name_;
    std::string tempName_;
    struct stat made_ {};
};

// The absolute `path` of a file to be written for the user, its folder
// resolved as the invoking user (a link of theirs or root's on the way is
// followed once, here; one of anyone else's is not): the folder's real path
// and the file's name, or "" (errno) when the folder is missing, is no
// folder, or cannot be written by the user.
std::string ResolveUserFileTarget(const std::string& path);

// Replaces the file `path` with `bytes` the one safe way: its folder
// resolved as above, then a ReplacingFile: a link at `path` itself is
// replaced by the new file, never followed; anything else but a plain file
// there is refused. False with errno; the old file is then as it was.
bool ReplaceUserFile(const std::string& path, const std::string& bytes, mode_t mode = 0644);

// Removes `name` in `dirFd` only while it is still the file `made` (same
// device and inode, a plain file). True when removed.
bool RemoveMadeFile(int dirFd, const std::string& name, const struct stat& made);

}  // namespace velmora::platform
