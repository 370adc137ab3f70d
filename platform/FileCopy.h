// Copies a file or a folder tree with its data, permission bits, times and
// extended attributes (which on Linux also carry POSIX ACLs).
#pragma once

#include <string>

namespace velmora::platform {

// Returns 0 on success, -1 on failure (errno describes the first failure).
// A folder is copied recursively; symbolic links are copied as links.
int CopyTree(const std::string& from, const std::string& to);

}  // namespace velmora::platform
