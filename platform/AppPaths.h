// Where the program keeps its working files, and whose home it serves.
#pragma once

#include <sys/types.h>

#include <string>

namespace velmora::platform {

// The environment variable that overrides the work folder (tests use it).
inline constexpr const char* kWorkPathEnv = "VELMORA_WORK_PATH";

// The folder of the running executable, or $VELMORA_WORK_PATH when set.
std::string ExecutableFolder();

// The home folder of the user who started the program: under pkexec or sudo
// the process runs as root, but trash folders and default destinations are
// the invoking user's. Falls back to $HOME, then to the passwd entry.
std::string InvokingUserHome();

// The user and group of the user who started the program through pkexec
// or sudo (PKEXEC_UID, SUDO_UID; the group from SUDO_GID or the passwd
// entry). False when the program was not started that way.
bool InvokingUserIds(uid_t* uid, gid_t* gid);

}  // namespace velmora::platform
