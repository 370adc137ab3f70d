// The scan controllers: one quick or deep scan of one device, and the
// recovery objects for what it found.
#pragma once

#include <string>

#include "RecoveryInterfaces.h"

class RestoreScanSink;

// A new controller of the given kind (null for an unknown kind), released
// through its Release().
IRecoveryController* CreateRecoveryController(_RECOVERY_CONTROLLER_TYPE type);

// Makes the controller replay a saved result through `sink` (not owned; it
// must outlive the controller) instead of reading the device. Set it before
// StartDataRecovery. False when the controller is not one of ours.
bool SetRecoveryRestoreSink(IRecoveryController* controller, RestoreScanSink* sink);

// Whether deep scans started from now on let searchers that can look at
// blocks on a thread of their own (the signature search) do so; on unless
// turned off. The results are the same; benchmarks and tests compare both.
void SetDeepScanSearcherThreads(bool on);
bool DeepScanSearcherThreads();

// The text the tree builder shows for the device and stores as its trees'
// volume name: a volume's name, an edi image's device name, otherwise empty.
// A saved result is matched to a live device by it.
std::string DeviceDescription(IStorageDevice* device);
