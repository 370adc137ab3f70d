#include "BridgeSeam/IBridge.h"

#include "BridgeSeam/VKBridge.h"

#include <unordered_set>

namespace velmora::seam {

namespace {

IBridge* g_bridge = nullptr;

}  // namespace

int AppendPathChildren(std::vector<IFileNode*>* array, const OpNodeData* node) {
    if (array == nullptr || node == nullptr || node->type() != OP_TREE_PATH)
        return 0;
    // The engine's tree holds every file; the interface node may hold only
    // what the outline shows (its folders).
    if (IFileNode* folder = node->fileNode()) {
        // A damaged tree can chain siblings into a loop: each entry is
        // listed once and the walk ends where the chain comes back.
        std::unordered_set<IFileNode*> seen;
        for (IFileNode* child = folder->GetFirstChild();
             child != nullptr && seen.insert(child).second; child = child->GetNextNode())
            array->push_back(child);
        return 1;
    }
    for (const OpChild& child : node->children()) {
        if (IFileNode* const* leaf = std::get_if<IFileNode*>(&child)) {
            if (*leaf != nullptr)
                array->push_back(*leaf);
        } else if (const OpNodePtr& tree = std::get<OpNodePtr>(child);
                   tree && tree->fileNode() != nullptr) {
            array->push_back(tree->fileNode());
        }
    }
    return 1;
}

IBridge& Bridge() {
    static VKBridge program;
    return g_bridge ? *g_bridge : program;
}

void SetBridge(IBridge* bridge) {
    g_bridge = bridge;
}

}  // namespace velmora::seam
