// Fills the factory table with the subsystems linked into the engine.
#include "EngineFactories.h"

#ifdef VELMORA_HAVE_FAT
#include "FATQuickSearch.h"
#endif

void InstallEngineFactories() {
    EngineFactoryTable& table = EngineFactories();
#ifdef VELMORA_HAVE_FAT
    table.createFATQuickSearcher = &CreateFATQuickSearcher;
    table.createFatVolumeAnalyze = &CreateFatVolumeAnalyze;
#endif
    (void)table;
}
