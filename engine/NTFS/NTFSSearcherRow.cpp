// NTFS's place in the engine: the quick search of NTFS volumes, the deep
// search (fifth in order), the recogniser (third in order), the tree of NTFS
// nodes, the reader of data kept inside file records, which the tree builder
// and recovery use, and the reader of compressed files recovery opens.
#include "EngineServices.h"
#include "NTFSFactories.h"
#include "RecoveryInterfaces.h"
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
        .createQuickSearcher = &CreateNTFSQuickSearcher,
        .createDeepSearcher = &CreateNTFSSearcher,
        .deepOrder = 50,
        .createVolumeAnalyze = &CreateNTFSVolumeAnalyze,
        .recogniserOrder = 30,
        .trees = {{
            .type = SEARCHER_NTFS,
            .rootSuffix = "(NTFS)",
            .recycledNameToProperties = true,
        }},
        .openCompressedReader = &OpenNTFSCompressFileReader,
        .residentData = &residentData,
    };
    return row;
}
