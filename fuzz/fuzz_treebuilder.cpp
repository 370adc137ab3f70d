// Two things found on disk reach the tree builder: the bytes of a recycle
// bin's index files and the shape of the found nodes (ids, parent ids and
// names that may repeat, loop or be missing). The input is both: the index
// file every "$I" node reads, and a stream of node records.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "DirectoryTreeBuilder.h"
#include "IRecoveryFilter.h"
#include "RecoveryInterfaces.h"
#include "RecyclerFilter.h"
#include "support/PlannedSearcherRows.h"
#include "support/TestNode.h"

namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;

struct InputReader : IFileReader {
    unsigned ReadData(long long offset, char* buffer, unsigned length, int*) override {
        if (offset < 0 || static_cast<size_t>(offset) >= g_size)
            return 0;
        const size_t n = std::min<size_t>(length, g_size - static_cast<size_t>(offset));
        std::memcpy(buffer, g_data + offset, n);
        return static_cast<unsigned>(n);
    }
    IFileReader* Clone() override { return new InputReader; }
    long long GetDataSize() const override { return static_cast<long long>(g_size); }
    int IsCompressFile() override { return 0; }
    void Release() override { delete this; }
};

IFileReader* MakeReader(IStorageDevice*, IFileNode*, long long, unsigned) {
    return new InputReader;
}

struct Filter : IRecoveryFilter {
    int ShowNormalFiles() const override { return showNormal; }
    void SetScanType(_SCAN_TYPE) override {}
    int IsFileNodeValid(IFileNode*) override { return 1; }
    void SetFilterTypes(unsigned) override {}
    unsigned GetNodeFileType(IFileNode*) override { return 64; }
    void Release() override {}
    int showNormal = 1;
};

struct Receiver : IDrirectoryTree {
    void ShowNodes(IFileNode** nodes, unsigned count, int) override {
        // Touch every node handed over: a freed one shows up here.
        for (unsigned i = 0; i < count; ++i)
            sink += nodes[i]->GetCurrentNodeID();
    }
    void ShowFilesystemNode(IFilesystemNode* root) override { sink += root->GetCurrentNodeID(); }
    long long sink = 0;
};

const char* const kNames[] = {
    "a",        "b.txt",    ".Trash",  ".Trashes", "$RECYCLE.BIN",
    "$IAB.txt", "$RAB.txt", "#Ix",     "$Reparse", "HFS+ Private Data",
    "",         "...",      ".hidden", "caf\xe9",  "home",
    "alice",    "Recycler", "$RAB",
};
const _tagSearcherType kTypes[] = {SEARCHER_NTFS, SEARCHER_HFSPLUS, SEARCHER_APFS, SEARCHER_FAT};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)CRecyclerFilter::NameFromIndexFile(data, size);
    // The index file is the input after its mode byte.
    g_data = size > 0 ? data + 1 : data;
    g_size = size > 0 ? size - 1 : 0;
    // The planned rows (HFS+ hidden folder, APFS, recycled names) and an
    // NTFS stand-in that serves the input as every index file.
    static velmora::test::ResidentDataFromFunction ntfs(&MakeReader);
    static const bool installed = [] {
        std::vector<SearcherRow> rows = velmora::test::PlannedRows();
        rows.front().residentData = &ntfs;
        vk::InstallSearcherRows(rows);
        return true;
    }();
    (void)installed;

    Filter filter;
    Receiver receiver;
    TreeBuilderHooks hooks;
    double clock = 0;
    hooks.now = [&clock] { return clock; };
    hooks.sleep = [](unsigned) {};
    hooks.userHome = [] { return std::string("/home/alice"); };
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(size > 0 && (data[0] & 0x80), hooks);
    builder->Initialize("fuzz", &receiver, &filter);
    filter.showNormal = size > 0 && (data[0] & 1);
    int device = 0;
    builder->SetPartitonDevice(nullptr, reinterpret_cast<IStorageDevice*>(&device));
    for (_tagSearcherType t : kTypes)
        builder->AddSearcherInfo(t, 2);

    // Records of four bytes: id, parent id, flags, name.
    for (size_t at = 1; at + 4 <= size; at += 4) {
        const uint8_t flags = data[at + 2];
        const _tagSearcherType type = kTypes[flags & 3];
        if ((flags & 0xF0) == 0xF0) {
            if (flags & 4)
                builder->FlashBuild(type);
            else
                builder->AddSearcherInfo(type, data[at]);
            continue;
        }
        auto* node = new TestNode(data[at], data[at + 1], kNames[data[at + 3] % std::size(kNames)],
                                  (flags & 4) != 0, type);
        node->deleted = (flags & 8) != 0;
        node->size = (flags & 16) ? 0 : 100;
        node->modified = flags >> 5;
        if (flags & 32)
            clock += 4;
        if (!builder->AddNode(node, type))
            node->Release();
    }
    if (size > 0 && (data[0] & 2)) {
        for (_tagSearcherType t : kTypes)
            builder->FlashBuild(t);
    }
    builder->Release();
    return 0;
}
