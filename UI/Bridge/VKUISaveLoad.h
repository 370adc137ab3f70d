// What saving and loading results need of the scan operation: the scan
// operation reports a load's replay as it reports a scan, so that the
// browser rebuilds from it as from a fresh scan. The scan operation
// implements it; tests hand in one of their own.
#pragma once

#include <string>

#include "SaveRestore.h"
#include "VKUIOperation.h"

class ISaveLoadScanSource {
public:
    virtual ~ISaveLoadScanSource() = default;
    // The scan operation: the progress sink of a load.
    virtual VKUIOperation& ScanOperation() = 0;
    // The finished scan a save writes.
    virtual SaveRestoreResult::IScanResultSource* ResultSource() = 0;
    virtual SaveRestoreResult::IResultDeviceCatalogue* Catalogue() = 0;
    // Forgets the scan's result with the type and date indexes built on it.
    virtual void ClearData() = 0;
    virtual SaveRestoreResult::IResultScanRunner* Runner() = 0;
    // The catalogue name of the storage of the current or last scan.
    virtual std::string SavedStorageName() = 0;
};

namespace velmora::bridge {

// The scan the save and load calls work on (null: none); borrowed.
void SetSaveLoadScanSource(ISaveLoadScanSource* source);
ISaveLoadScanSource* SaveLoadScanSource();

// "<name>_MM-DD-YYYY at HH:MM:SS" of local time `now`; with
// `fileSafe` the time is written HH_MM_SS.
std::string ResultFileName(const std::string& name, time_t now, bool fileSafe);

}  // namespace velmora::bridge
