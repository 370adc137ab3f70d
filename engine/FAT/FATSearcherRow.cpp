// FAT's place in the engine: the quick search of FAT volumes (a FAT12 volume
// is refused by the search itself and scanned deep instead), the deep search,
// the volume recogniser, the tree of FAT nodes and how its nodes compare.
#include "FATCompleteSearch.h"
#include "FATQuickSearch.h"
#include "SearcherRow.h"

const SearcherRow& FatSearcherRow() {
    static const SearcherRow row{
        .name = "FAT",
        .type = SEARCHER_FAT,
        .quickFileSystems =
            FileSystemBit(FS_FAT12) | FileSystemBit(FS_FAT16) | FileSystemBit(FS_FAT32),
        .createQuickSearcher = &CreateFATQuickSearcher,
        // Third of the deep searchers, sharing the signature search's map
        // of file starts.
        .createDeepSearcher = &CreateFATSearcher,
        .deepOrder = 30,
        .deepNeeds = kDeepNeedsSectorMap,
        .createVolumeAnalyze = &CreateFatVolumeAnalyze,
        .recogniserOrder = 10,
        .trees = {{
            .type = SEARCHER_FAT,
            .rootSuffix = "(FAT/FAT32)",
            .recycledNameToProperties = true,
            .recoveryFolder = "Fat_",
        }},
        // A directory entry seen again under another name is the same
        // folder; the newer entry's properties win.
        .nodes = {.renamedFolderPassesProperties = true},
    };
    return row;
}
