// Fills the factory table with the subsystems linked into the engine.
#include "EngineFactories.h"

#ifdef VELMORA_HAVE_FAT
#include "FATCompleteSearch.h"
#include "FATQuickSearch.h"
#endif
#ifdef VELMORA_HAVE_APFS
#include "APFSFactories.h"
#endif
#ifdef VELMORA_HAVE_HFSPLUS
#include "HFSPlusSearch/HFSPlusFactories.h"
#endif
#ifdef VELMORA_HAVE_RAWSEARCH
#include "RawSearchController.h"
#endif
#ifdef VELMORA_HAVE_NTFS
#include "NTFSFactories.h"
#endif
#ifdef VELMORA_HAVE_EXFAT
#include "ExFatQuickSearch.h"
#endif

void InstallEngineFactories() {
    EngineFactoryTable& table = EngineFactories();
#ifdef VELMORA_HAVE_FAT
    table.createFATQuickSearcher = &CreateFATQuickSearcher;
    table.createFatVolumeAnalyze = &CreateFatVolumeAnalyze;
    table.createFATSearcher = &CreateFATSearcher;
#endif
#ifdef VELMORA_HAVE_APFS
    table.createAPFSVolumeAnalyze = &CreateAPFSVolumeAnalyze;
    table.createAPFSQuickSearcher = &CreateAPFSQuickSearcher;
    table.createAPFSDeepSearcher = &CreateAPFSDeepSearcher;
    velmora::platform::InstallApfsListingFactory(&apfs::MakeStoreListing);
#endif
#ifdef VELMORA_HAVE_HFSPLUS
    table.createHFSPlusQuickSearcher = &CreateHFSPlusQuickSearcher;
    table.createHFSPlusVolumeAnalyze = &CreateHFSPlusVolumeAnalyze;
    table.createHFSPlusSearcher = &CreateHFSPlusSearcher;
#endif
#ifdef VELMORA_HAVE_RAWSEARCH
    table.createRAWSearcher = &CreateRAWSearcher;
    table.testFileStart = &RawSearchTestFileStart;
#endif
#ifdef VELMORA_HAVE_NTFS
    table.createNTFSVolumeAnalyze = &CreateNTFSVolumeAnalyze;
    table.createResidentDataReader = &CreateNTFSResidentDataReader;
#endif
#ifdef VELMORA_HAVE_EXFAT
    table.createEXFatQuickSearcher = &CreateEXFatQuickSearcher;
    table.createExfatVolumeAnalyze = &CreateExfatVolumeAnalyze;
#endif
    (void)table;
}
