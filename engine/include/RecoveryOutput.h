// Writing recovered files: where they go, how their names are cleaned, how
// their bytes, dates and owner are set.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "EngineTypes.h"

class IFileNode;

namespace velmora::recovery {

// Writes all `size` bytes at `offset`; a short write goes on from where it
// stopped and an interrupted one is repeated. False with errno kept on
// failure (a full disk fails at once, as does a write that moves nothing).
bool WriteAllAt(int fd, const void* data, size_t size, long long offset);

// Opens a new file for a recovered node's data at the absolute `path`: as
// the invoking user, through folders reached one at a time without following
// a link, and never over anything that is there (EEXIST). -1 with errno.
int OpenRecoveredFile(const char* path);

// Abandons a file OpenRecoveredFile made (a failed, stopped or unwanted
// copy): removed while it is still the very file made there, reached without
// following a link. Anything else at `path` is left alone. True when removed.
bool RemovePartialFile(const char* path);

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

// The names (cleaned) and times of a node's parents, innermost first, as
// DateParentFolders uses them: taken while the node's tree holds still, so
// that the folders are dated later without reading the nodes again.
struct FolderDates {
    std::string name;
    long long creation = 0;
    long long modification = 0;
    long long access = 0;
};
std::vector<FolderDates> ParentDatesOf(IFileNode* node);
void DateParentFolders(const char* path, const std::vector<FolderDates>& parents,
                       const char* root = nullptr);

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

// `name` with "_%04d" of `number` before its extension (a last dot that
// starts no more than 16 bytes), the stem cut on a character boundary so
// that the whole stays a valid name length.
std::string NumberedName(const std::string& name, int number);

// Places recovered files below a destination, for the program, the scan
// driver and the tests alike: one numbered folder per searcher type and
// recovery ("<prefix>0001", the first free number), then the node's cleaned
// folder path and name. A name that exists gets "_0001" (the first free
// number) before its extension; so does a folder whose name a file or link
// holds. The destination is resolved once (a missing one is made from its
// nearest existing parent); every folder is made as the invoking user and
// walked from it without following a link, and a path that would not lie
// below it is refused.
class RecoveryPathBuilder {
public:
    // `destination` is the user's chosen folder (absolute); `date` as for
    // the prefix (empty: today's local date).
    explicit RecoveryPathBuilder(std::string destination, std::string date = {});
    ~RecoveryPathBuilder();
    RecoveryPathBuilder(const RecoveryPathBuilder&) = delete;
    RecoveryPathBuilder& operator=(const RecoveryPathBuilder&) = delete;

    // Where a node goes, read from the node alone: its tree type, its
    // folder path from the top (every part cleaned) and its name. Reads no
    // disk, so a caller whose tree another thread changes takes it under
    // that tree's lock and makes the folders afterwards.
    struct Place {
        _tagSearcherType type = SEARCHER_NONE;
        std::vector<std::string> folders;
        std::string name;
        bool directory = false;
    };
    static Place PlaceOf(IFileNode* node);
    // The path to write the node's data to, with its folders made; "" for
    // a folder node (its folder is made), an unusable node, or a folder
    // that cannot be made or would not lie below the destination.
    std::string PathFor(IFileNode* node);
    std::string PathFor(const Place& place);
    // The numbered folder made for a searcher type; "" when none yet.
    std::string RootFor(_tagSearcherType type) const;
    // Its number; 0 when none yet.
    int RootNumber(_tagSearcherType type) const;
    // Goes on in the numbered folder `number` of an earlier pass (it must be
    // a folder there); false when it is not.
    bool UseRoot(_tagSearcherType type, int number);
    // The destination as resolved; "" when it cannot be reached or made.
    const std::string& Destination();

private:
    struct Root {
        std::string path;
        int fd = -1;
        int number = 0;
    };
    bool Open();
    int RootFolder(_tagSearcherType type);

    std::string destination_;
    std::string date_;
    std::string real_;
    int destFd_ = -1;
    bool tried_ = false;
    std::map<int, Root> roots_;
};

}  // namespace velmora::recovery
