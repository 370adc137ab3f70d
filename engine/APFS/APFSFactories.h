// The APFS faces the engine core creates through its factory table: the
// volume recogniser, the (absent) quick searcher and the deep searcher, and
// the listing of the volumes inside a container that device enumeration asks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SearchInterfaces.h"
#include "platform/ContainerListing.h"

class IStorageDevice;

IVolumeAnalyze* CreateAPFSVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);
// APFS has no quick search: always null.
IQuickFileSystemSearchController* CreateAPFSQuickSearcher();
ICompleteFileSystemSearchController* CreateAPFSDeepSearcher();

namespace apfs {

struct VolumeEntry {
    std::string name;
    unsigned long long superblockBlock = 0;
};

// The volumes the current object map of the container starting at
// startSector lists, in its order; empty when it is not a container this
// reader understands.
std::vector<VolumeEntry> ListContainerVolumes(IStorageDevice* device,
                                              unsigned long long startSector);

// The listing device enumeration uses: reads each physical store (the
// partition named, under devFolder) as an APFS container.
std::shared_ptr<const velmora::platform::IContainerListing> MakeStoreListing(
    const std::string& devFolder);

}  // namespace apfs
