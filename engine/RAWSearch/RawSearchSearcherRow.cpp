// The signature search's place in the engine: the fourth deep searcher,
// sharing the file-start map with the FAT deep search and reporting its own
// end phase, skipped when the scan was stopped; two trees of carved files, by
// extension and by tag; and the file-start test it offers the FAT walker.
#include "EngineServices.h"
#include "RawSearchController.h"
#include "SearcherRow.h"

namespace {

class CRawFileStartService final : public IFileStartService {
public:
    int TestFileStart(const unsigned char* sector, unsigned length) override {
        return RawSearchTestFileStart(sector, length);
    }
};

}  // namespace

const SearcherRow& RawSearchSearcherRow() {
    static CRawFileStartService fileStart;
    static const SearcherRow row{
        .name = "signature search",
        .type = SEARCHER_RAW,
        .createDeepSearcher = &CreateRAWSearcher,
        .deepOrder = 40,
        .deepNeeds = kDeepNeedsSectorMap | kDeepNeedsProgress | kDeepSkipsEndWhenStopped,
        // Files by extension go to one undated folder; by tag, to a dated
        // one under the name the program has always used.
        .trees = {{.type = SEARCHER_RAW,
                   .rootSuffix = "(RAW Files)",
                   .recoveryFolder = "RAW_",
                   .recoveryFolderDated = false},
                  {.type = SEARCHER_RAW_LABEL,
                   .rootSuffix = "(Label RAW Files)",
                   .recoveryFolder = "Lable_RAW_"}},
        .fileStart = &fileStart,
    };
    return row;
}
