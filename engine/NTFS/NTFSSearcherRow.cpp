// NTFS's place in the engine: the recogniser (third in order), the tree of
// NTFS nodes, and the reader of data kept inside file records, which the
// tree builder and recovery use. The quick search (it serves NTFS volumes)
// and the deep search (fifth in order) join this row when they are built.
#include "EngineServices.h"
#include "NTFSFactories.h"
#include "SearcherRow.h"

namespace {

class CNTFSResidentDataService final : public IResidentDataService {
public:
    IFileReader* CreateResidentDataReader(IStorageDevice* device, IFileNode* node,
                                          long long startSector,
                                          unsigned sectorsPerCluster) override {
        return CreateNTFSResidentDataReader(device, node, startSector, sectorsPerCluster);
    }
};

}  // namespace

const SearcherRow& NtfsSearcherRow() {
    static CNTFSResidentDataService residentData;
    static const SearcherRow row{
        .name = "NTFS",
        .type = SEARCHER_NTFS,
        .quickFileSystems = FileSystemBit(FS_NTFS),
        .createQuickSearcher = nullptr,
        .createDeepSearcher = nullptr,
        .deepOrder = 50,
        .createVolumeAnalyze = &CreateNTFSVolumeAnalyze,
        .recogniserOrder = 30,
        .trees = {{
            .type = SEARCHER_NTFS,
            .rootSuffix = "(NTFS)",
            .recycledNameToProperties = true,
        }},
        .residentData = &residentData,
    };
    return row;
}
