#include "BridgeSeam/IBridge.h"

#include "BridgeSeam/VKBridge.h"

namespace velmora::seam {

namespace {

IBridge* g_bridge = nullptr;

}  // namespace

IBridge& Bridge() {
    static VKBridge program;
    return g_bridge ? *g_bridge : program;
}

void SetBridge(IBridge* bridge) {
    g_bridge = bridge;
}

}  // namespace velmora::seam
