// Names the file system of a volume or of a partition window by asking the
// recogniser of every supported file system in a fixed order.
#pragma once

#include <vector>

#include "IStorageDevice.h"
#include "SearchInterfaces.h"

class IVolumeAnalyzeController {
public:
    virtual ~IVolumeAnalyzeController() = default;
    // The first recogniser that knows the volume; null when none does. The
    // controller keeps ownership.
    virtual IVolumeAnalyze* GetVolumeAnzlyzer() = 0;
};

class CVolumeAnalyzeController : public IVolumeAnalyzeController {
public:
    CVolumeAnalyzeController(IStorageDevice* device, unsigned long long startSector);
    ~CVolumeAnalyzeController() override;
    CVolumeAnalyzeController(const CVolumeAnalyzeController&) = delete;
    CVolumeAnalyzeController& operator=(const CVolumeAnalyzeController&) = delete;

    IVolumeAnalyze* GetVolumeAnzlyzer() override;

private:
    // In the rows' recogniser order (FAT before exFAT before NTFS before
    // HFS+ before APFS): a volume two of them accept is named by the
    // earlier one.
    void Register(IStorageDevice* device, unsigned long long startSector);

    std::vector<IVolumeAnalyze*> m_analyzers;
};

IVolumeAnalyzeController* CreateVolumeAnalyzeController(IStorageDevice* device,
                                                        unsigned long long startSector);
