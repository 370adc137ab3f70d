#include <algorithm>
#include <array>

#include "EngineServices.h"
#include "SearcherRow.h"
#include "Utility/CatchExeception.h"

namespace {

constexpr int kTypeSlots = 64;

struct Registry {
    std::vector<SearcherRow> rows;
    // By searcher or tree type: the row, and the tree rules.
    std::array<const SearcherRow*, kTypeSlots> rowOf{};
    std::array<const SearcherTreeRules*, kTypeSlots> treeOf{};
    IResidentDataService* residentData = nullptr;
    IFileStartService* fileStart = nullptr;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

bool InSlots(int type) {
    return type >= 0 && type < kTypeSlots;
}

// Claims `slot` for `what` of row `name`; false (logged) when an earlier row
// holds it.
template <typename T>
bool Claim(T*& slot, T* what, const char* name, const char* kind, int type) {
    if (slot != nullptr) {
        CatchExeception::WriteLog("searcher rows: %s %d of row %s already taken, ignored\n", kind,
                                  type, name);
        return false;
    }
    slot = what;
    return true;
}

}  // namespace

namespace vk {

void InstallSearcherRows(std::vector<SearcherRow> rows) {
    Registry fresh;
    fresh.rows = std::move(rows);
    for (const SearcherRow& row : fresh.rows) {
        const char* name = row.name ? row.name : "";
        if (row.type != SEARCHER_NONE && InSlots(row.type))
            Claim(fresh.rowOf[row.type], &row, name, "searcher type", row.type);
        for (const SearcherTreeRules& tree : row.trees) {
            if (tree.type == SEARCHER_NONE || !InSlots(tree.type))
                continue;
            if (Claim(fresh.treeOf[tree.type], &tree, name, "tree type", tree.type) &&
                tree.type != row.type && fresh.rowOf[tree.type] == nullptr) {
                fresh.rowOf[tree.type] = &row;
            }
        }
        if (row.residentData)
            Claim(fresh.residentData, row.residentData, name, "service", 1);
        if (row.fileStart)
            Claim(fresh.fileStart, row.fileStart, name, "service", 2);
    }
    // The moved vector keeps its elements where they are, so the pointers
    // taken above stay valid.
    TheRegistry() = std::move(fresh);
}

const std::vector<SearcherRow>& InstalledSearcherRows() {
    return TheRegistry().rows;
}

const SearcherRow* FindSearcherRow(int type) {
    return InSlots(type) ? TheRegistry().rowOf[type] : nullptr;
}

const SearcherTreeRules* FindTreeRules(int treeType) {
    return InSlots(treeType) ? TheRegistry().treeOf[treeType] : nullptr;
}

SearcherNodeRules NodeRulesOf(int nodeType) {
    const SearcherRow* row = FindSearcherRow(nodeType);
    return row ? row->nodes : SearcherNodeRules{};
}

const SearcherRow* QuickSearcherRowFor(int fileSystemType) {
    const uint32_t bit = FileSystemBit(fileSystemType);
    if (bit == 0)
        return nullptr;
    for (const SearcherRow& row : TheRegistry().rows) {
        if ((row.quickFileSystems & bit) != 0)
            return &row;
    }
    return nullptr;
}

std::vector<const SearcherRow*> DeepSearcherRows() {
    std::vector<const SearcherRow*> out;
    for (const SearcherRow& row : TheRegistry().rows) {
        if (row.createDeepSearcher)
            out.push_back(&row);
    }
    std::stable_sort(out.begin(), out.end(), [](const SearcherRow* a, const SearcherRow* b) {
        return a->deepOrder < b->deepOrder;
    });
    return out;
}

std::vector<const SearcherRow*> RecogniserRows() {
    std::vector<const SearcherRow*> out;
    for (const SearcherRow& row : TheRegistry().rows) {
        if (row.createVolumeAnalyze)
            out.push_back(&row);
    }
    std::stable_sort(out.begin(), out.end(), [](const SearcherRow* a, const SearcherRow* b) {
        return a->recogniserOrder < b->recogniserOrder;
    });
    return out;
}

const SearcherRow* ContainerListingRowFor(int fileSystemType) {
    const uint32_t bit = FileSystemBit(fileSystemType);
    for (const SearcherRow& row : TheRegistry().rows) {
        if ((row.namedByContainerListing & bit) != 0)
            return &row;
    }
    return nullptr;
}

IResidentDataService* ResidentDataService() {
    return TheRegistry().residentData;
}

IFileStartService* FileStartService() {
    return TheRegistry().fileStart;
}

}  // namespace vk
