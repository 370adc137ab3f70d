// Where a recovered file goes: the engine's one path builder
// (velmora::recovery::RecoveryPathBuilder, shared with the scan driver and
// the tests) with the pass's folder numbers and the bridge's date.
#pragma once

#include <string>

#include "RecoveryOutput.h"
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
// The same for a place taken from the node beforehand (under the scan's
// tree lock): reads no node, makes the folders.
std::string RecoveryFilePathByPlace(const velmora::recovery::RecoveryPathBuilder::Place& place,
                                    const std::string& destination, VKUIRecovery& numbers);

// The engine's numbered name (velmora::recovery::NumberedName).
std::string NumberedName(const std::string& name, int number);

}  // namespace velmora::bridge
