// The row of a file system that finds nothing. The engine's wiring calls its
// install hook, which says the row arrived with the number it was given.
#include <cstdio>

#include "SearcherRow.h"

namespace {

void SayInstalled() {
    const SearcherRow* row = vk::FindSearcherRow(SEARCHER_THROWAWAY);
    std::printf("throwaway file system installed as searcher type %d, tree %s\n",
                static_cast<int>(SEARCHER_THROWAWAY), row ? row->trees[0].rootSuffix : "missing");
    std::fflush(stdout);
}

}  // namespace

const SearcherRow& ThrowawaySearcherRow() {
    static const SearcherRow row{
        .name = "Throwaway",
        .type = SEARCHER_THROWAWAY,
        .trees = {{.type = SEARCHER_THROWAWAY, .rootSuffix = "(Throwaway)"}},
        .install = &SayInstalled,
    };
    return row;
}
