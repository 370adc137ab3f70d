// exFAT's place in the engine: the quick search of exFAT volumes, the deep
// search (second in order), the recogniser (second in order, after FAT), and
// the tree of exFAT nodes.
#include "ExFatCompleteSearch.h"
#include "ExFatQuickSearch.h"
#include "SearcherRow.h"

const SearcherRow& ExFatSearcherRow() {
    static const SearcherRow row{
        .name = "exFAT",
        .type = SEARCHER_EXFAT,
        .quickFileSystems = FileSystemBit(FS_EXFAT),
        .createQuickSearcher = &CreateEXFatQuickSearcher,
        .createDeepSearcher = &CreateEXFatSearcher,
        .deepOrder = 20,
        .createVolumeAnalyze = &CreateExfatVolumeAnalyze,
        .recogniserOrder = 20,
        // A restored recycle-bin name is set through the node itself.
        .trees = {{.type = SEARCHER_EXFAT, .rootSuffix = "(ExFat)", .recoveryFolder = "ExFat_"}},
    };
    return row;
}
