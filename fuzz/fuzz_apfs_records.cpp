// The record handling of one file-system tree node (inode, directory and
// extent records, extended fields, merging), fed the same node twice at
// different blocks so copies merge, then the final flush.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "APFSContainer.h"

namespace {

class Delegate final : public apfs::APFSDelegate {
public:
    bool Continued() override { return true; }
    int AddNode(apfs::APFSFileNode* node) override {
        node->flags_ |= apfs::APFSFileNode::kReported;
        return 1;
    }
    int ReadBlocks(apfs::APFSContainer*, unsigned long long, int, void*) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 8192)
        return 0;
    std::vector<uint8_t> node(4096, 0);
    std::memcpy(node.data(), data, size < 4096 ? size : 4096);
    Delegate d;
    apfs::APFSContainer container(&d, 0, 0);
    container.HandleFsTreeNode(node.data(), 10);
    if (size > 4096)
        std::memcpy(node.data(), data + 4096, size - 4096);
    container.HandleFsTreeNode(node.data(), 5000);
    container.FlushPending(-1);
    return 0;
}
