// The HFS+ faces the engine creates through its factory table: the quick
// searcher of a live HFS+ / HFSX volume, the deep searcher of a raw surface
// and the volume recogniser (type 8 and the volume's name).
#pragma once

#include "SearchInterfaces.h"

class IStorageDevice;

IQuickFileSystemSearchController* CreateHFSPlusQuickSearcher();
ICompleteFileSystemSearchController* CreateHFSPlusSearcher();
IVolumeAnalyze* CreateHFSPlusVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);
