// APFS's place in the engine: no quick search (a quick scan of an APFS
// volume ends with "no quick search"), the last of the deep searchers, the
// last recogniser, and the listing of container volumes that device
// enumeration names APFS volumes from.
#include "APFSFactories.h"
#include "IStorageDevice.h"
#include "SearcherRow.h"

namespace {

void InstallApfsListing() {
    velmora::platform::InstallContainerListingFactory(&apfs::MakeStoreListing);
}

// The volume device reads the listed volume through this device.
void SetApfsDevice(IStorageDevice* volume, char* device) {
    volume->SetApfsDevicePath(device);
}

}  // namespace

const SearcherRow& ApfsSearcherRow() {
    static const SearcherRow row{
        .name = "APFS",
        .type = SEARCHER_APFS,
        .quickFileSystems = FileSystemBit(FS_APFS),
        .createQuickSearcher = &CreateAPFSQuickSearcher,
        .createDeepSearcher = &CreateAPFSDeepSearcher,
        .deepOrder = 60,
        .namedByContainerListing = FileSystemBit(FS_APFS),
        .setContainerDevice = &SetApfsDevice,
        .createVolumeAnalyze = &CreateAPFSVolumeAnalyze,
        .recogniserOrder = 50,
        // Its nodes stay with the container that found them: no recycle
        // bins are set aside, and every node is shown as it comes.
        .trees = {{
            .type = SEARCHER_APFS,
            .rootSuffix = "(APFS)",
            .divertsRecycleBins = false,
            .attachesAllNodes = true,
            .recoveryFolder = "APFS_",
        }},
        .install = &InstallApfsListing,
    };
    return row;
}
