#include "VKUIController.h"
#include "VKUITreeData.h"

int VKUIController::DoSearchWithString(const std::string& text, const std::string& postKey) {
    return VKUITreeData::instance().DoSearchWithString(text, postKey);
}

std::string VKUIController::GetSearchString() {
    return VKUITreeData::instance().GetSearchString();
}

void VKUIController::StopSearch() {
    VKUITreeData::instance().StopSearch();
}

int VKUIController::VKGetIsSearching() {
    return VKUITreeData::instance().VKGetIsSearching();
}

void VKUIController::GetSearchResultToArr(std::vector<IFileNode*>& list) {
    VKUITreeData::instance().GetSearchResultToArr(list);
}

int VKUIController::VKCleanState() {
    return VKUITreeData::instance().VKCleanState();
}

int VKUIController::VKCleanOpNodeSate() {
    return VKUITreeData::instance().VKCleanOpNodeSate();
}

void VKUIController::UnselectedAllNodes() {
    VKUITreeData::instance().UnselectedAllNodes();
}

void VKUIController::VKTableViewCellCilck() {
    VKUITreeData::instance().VKTableViewCellCilck();
}

void VKUIController::SetNodeState(OpNodeData* node, int state) {
    VKUITreeData::instance().SetNodeState(node, state);
}

int VKUIController::GetFileNodeToArray(std::vector<OpChild>& list, OpNodeData* node) {
    return VKUITreeData::instance().GetFileNodeToArray(list, node);
}

uint64_t VKUIController::GetNodeChildrenCnt(OpNodeData* node) {
    return VKUITreeData::instance().GetNodeChildrenCnt(node);
}

void VKUIController::RefreshTimeTreeState(const std::vector<OpNodePtr>& roots, int onlyWhenMarked) {
    VKUITreeData::instance().RefreshTimeTreeState(roots, onlyWhenMarked);
}

void VKUIController::RefreshTypeTreeState(OpNodeData* node) {
    VKUITreeData::instance().RefreshTypeTreeState(node);
}
