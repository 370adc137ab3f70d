#include "VKUIRecoveryPath.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "BridgeServices.h"
#include "FileNode.h"
#include "RecoveryOutput.h"
#include "VKUIPublic.h"
#include "VKUIRecovery.h"

namespace velmora::bridge {

namespace {

// The builder of the running pass: one per destination and day, made anew
// when the pass's numbers are cleared.
std::mutex gPathLock;
std::unique_ptr<velmora::recovery::RecoveryPathBuilder> gPaths;
std::string gPathsFor;
unsigned gPathsGeneration = 0;

// "Recovered Data" and the local date by the bridge's clock, as the
// folder prefix carries it.
std::string DateText() {
    const time_t now = CurrentClock()->Now();
    struct tm local {};
    ::localtime_r(&now, &local);
    char date[64];
    std::snprintf(date, sizeof date, "Recovered Data%04d-%02d-%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday);
    return date;
}

}  // namespace

std::string NumberedName(const std::string& name, int number) {
    return velmora::recovery::NumberedName(name, number);
}

std::string RecoveryFilePathByNode(IFileNode* node, const std::string& destination,
                                   VKUIRecovery& numbers) {
    if (node == nullptr || destination.empty() || node->IsNodeShow() == 0)
        return {};
    return RecoveryFilePathByPlace(velmora::recovery::RecoveryPathBuilder::PlaceOf(node),
                                   destination, numbers);
}

std::string RecoveryFilePathByPlace(const velmora::recovery::RecoveryPathBuilder::Place& place,
                                    const std::string& destination, VKUIRecovery& numbers) {
    const _tagSearcherType type = place.type;
    if (destination.empty() || type == SEARCHER_NONE)
        return {};
    std::lock_guard<std::mutex> hold(gPathLock);
    const std::string date = DateText();
    const std::string key = destination + '\n' + date;
    if (!gPaths || gPathsFor != key || gPathsGeneration != numbers.FolderGeneration()) {
        gPaths = std::make_unique<velmora::recovery::RecoveryPathBuilder>(destination, date);
        gPathsFor = key;
        gPathsGeneration = numbers.FolderGeneration();
    }
    // A number the pass already holds (or was given) is gone on with.
    if (const int n = numbers.GetCreateDirIndex(type);
        n > 0 && gPaths->RootNumber(type) != n && !gPaths->UseRoot(type, n))
        return {};
    std::string path = gPaths->PathFor(place);
    if (const int n = gPaths->RootNumber(type); n > 0 && numbers.GetCreateDirIndex(type) != n)
        numbers.SetCreateDirIndex(type, n);
    return path;
}

}  // namespace velmora::bridge

char* CreateRecoveryFilePathByNode(IFileNode* node, const char* destination) {
    if (node == nullptr || destination == nullptr)
        return nullptr;
    const std::string path =
        velmora::bridge::RecoveryFilePathByNode(node, destination, VKUIRecovery::instance());
    return path.empty() ? nullptr : ::strdup(path.c_str());
}
