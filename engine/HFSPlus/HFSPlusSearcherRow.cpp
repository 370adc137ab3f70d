// HFS+'s place in the engine: the quick search of live HFS+ volumes, the
// first of the deep searchers (told when the scanned device is a live HFS+
// volume), the recogniser, and the tree with its hidden folder of hard-link
// targets.
#include "HFSPlusSearch/HFSPlusFactories.h"
#include "SearcherRow.h"

const SearcherRow& HfsPlusSearcherRow() {
    static const SearcherRow row{
        .name = "HFS+",
        .type = SEARCHER_HFSPLUS,
        .quickFileSystems = FileSystemBit(FS_HFSPLUS),
        .createQuickSearcher = &CreateHFSPlusQuickSearcher,
        .createDeepSearcher = &CreateHFSPlusSearcher,
        .deepOrder = 10,
        .deepNeeds = kDeepNeedsProgress,
        .activeOnVolumesOf = FileSystemBit(FS_HFSPLUS),
        .createVolumeAnalyze = &CreateHFSPlusVolumeAnalyze,
        .recogniserOrder = 40,
        .trees = {{
            .type = SEARCHER_HFSPLUS,
            .rootSuffix = "(HFS+)",
            .hiddenRootFolder = "HFS+ Private Data",
            .recoveryFolder = "HFS+_",
        }},
    };
    return row;
}
