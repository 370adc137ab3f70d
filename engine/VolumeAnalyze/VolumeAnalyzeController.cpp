#include "VolumeAnalyzeController.h"

#include "EngineTypes.h"
#include "SearcherRow.h"

CVolumeAnalyzeController::CVolumeAnalyzeController(IStorageDevice* device,
                                                   unsigned long long startSector) {
    Register(device, startSector);
}

CVolumeAnalyzeController::~CVolumeAnalyzeController() {
    for (IVolumeAnalyze* analyzer : m_analyzers)
        delete analyzer;
}

void CVolumeAnalyzeController::Register(IStorageDevice* device, unsigned long long startSector) {
    for (const SearcherRow* row : vk::RecogniserRows()) {
        if (IVolumeAnalyze* analyzer = row->createVolumeAnalyze(device, startSector))
            m_analyzers.push_back(analyzer);
    }
}

IVolumeAnalyze* CVolumeAnalyzeController::GetVolumeAnzlyzer() {
    for (IVolumeAnalyze* analyzer : m_analyzers)
        if (analyzer->GetFileSystemType() != FS_UNKNOWN)
            return analyzer;
    return nullptr;
}

IVolumeAnalyzeController* CreateVolumeAnalyzeController(IStorageDevice* device,
                                                        unsigned long long startSector) {
    return new CVolumeAnalyzeController(device, startSector);
}
