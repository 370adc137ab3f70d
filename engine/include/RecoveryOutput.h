// Writing recovered files: where they go, how their names are cleaned, how
// their bytes, dates and owner are set.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "EngineTypes.h"

class IFileNode;

namespace velmora::recovery {

// Writes all `size` bytes at `offset`; a short write goes on from where it
// stopped and an interrupted one is repeated. False with errno kept on
// failure (a full disk fails at once, as does a write that moves nothing).
bool WriteAllAt(int fd, const void* data, size_t size, long long offset);

// Opens a new file for a recovered node's data: created or truncated, never
// through a symbolic link. -1 with errno on failure.
int OpenRecoveredFile(const char* path);

// Removes a partial file left by a failed recovery; only a regular file is
// removed (a device such as /dev/full is left alone).
void RemovePartialFile(const char* path);

// Sets the access and modification times of `path` from node times (100 ns
// ticks since 1601). Linux keeps no settable creation time, so the
// modification time falls back to the creation time and the access time to
// the modification time; with no time at all the file is left unchanged.
// True when set or nothing was to be set.
bool SetFileTimes(const char* path, long long creation, long long modification, long long access);

// Re-dates the folders that hold a recovered file from the node's parents:
// the innermost folder of `path` gets the times of the node's parent, the
// next the grandparent's, and so on. The walk stops at the first folder
// whose name is not the parent node's cleaned name (the numbered folder,
// the user's destination and above are never touched), at `root` when
// given, and after a bounded depth.
void DateParentFolders(const char* path, IFileNode* node, const char* root = nullptr);

// Hands a file or folder to the user who started the program when running
// as root under pkexec or sudo; otherwise does nothing. Only regular files
// and folders are handed over.
void GiveToInvokingUser(const char* path);

// One path part taken from disk, safe to join: "/" and control bytes
// become "_", bytes that are not UTF-8 become "_", "" "." and ".." become
// "_", and the part is cut to 255 bytes on a character boundary.
std::string CleanPathComponent(std::string_view name);

// The name prefix of the numbered folder of one tree type, as its searcher's
// row gives it (SearcherTreeRules::recoveryFolder); `date` is "Recovered
// Data" followed by yyyy-MM-dd. Empty for a type no row knows.
std::string RecoveryFolderPrefix(_tagSearcherType type, const std::string& date);

// Places recovered files below a destination: one numbered folder per
// searcher type and recovery ("<prefix>0001", the first free number), then
// the node's cleaned folder path and name; a name that exists gets "_0001"
// (the first free number) before its extension.
class RecoveryPathBuilder {
public:
    // `destination` is the user's chosen folder; `date` as for the prefix
    // (empty: today's local date).
    explicit RecoveryPathBuilder(std::string destination, std::string date = {});

    // The path to write the node's data to, with its folders made; "" for
    // a folder node (its folder is made), an unusable node, or a folder
    // that cannot be made.
    std::string PathFor(IFileNode* node);
    // The numbered folder made for a searcher type; "" when none yet.
    std::string RootFor(_tagSearcherType type) const;

private:
    std::string destination_;
    std::string date_;
    std::map<int, std::string> roots_;
};

}  // namespace velmora::recovery
