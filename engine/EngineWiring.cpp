// Puts the engine together from the file systems linked into it: their rows
// are listed by the build (BuiltSearcherRows, generated from the
// velmora_searcher_row() calls of their CMakeLists.txt files).
#include "EngineFactories.h"

std::vector<SearcherRow> BuiltSearcherRows();

void InstallEngineFactories() {
    vk::InstallSearcherRows(BuiltSearcherRows());
    for (const SearcherRow& row : vk::InstalledSearcherRows()) {
        if (row.install)
            row.install();
    }
}
