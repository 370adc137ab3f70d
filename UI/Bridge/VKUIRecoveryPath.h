// Where a recovered file goes: below the user's destination, in a numbered
// folder per file system, then the folders of the file's tree. Every part
// of the path comes from the scanned disk or a result file and may hold
// anything, so each is cleaned before it is joined, and the final folder is
// checked to lie below the destination before a byte is written.
#pragma once

#include <string>

#include "SearchInterfaces.h"

class VKUIRecovery;

// The path to write the node's data to, newly allocated (free with
// `free`); its folders are made and belong to the invoking user. Null for
// no node or destination, a hidden node, a node without a file-system
// root, a folder node (its folder is made), or a path that could not be
// made or would leave the destination.
char* CreateRecoveryFilePathByNode(IFileNode* node, const char* destination);

namespace velmora::bridge {

// The same with the folder numbers of `numbers`; "" for no path.
std::string RecoveryFilePathByNode(IFileNode* node, const std::string& destination,
                                   VKUIRecovery& numbers);

// `stem` + "_%04d" of `number` + the extension of `name` (from its last
// dot, not a leading one), the stem cut on a character boundary so that
// the whole stays a valid file-name length.
std::string NumberedName(const std::string& name, int number);

}  // namespace velmora::bridge
