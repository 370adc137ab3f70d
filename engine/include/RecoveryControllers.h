// The scan controllers: one quick or deep scan of one device, and the
// recovery objects for what it found.
#pragma once

#include "RecoveryInterfaces.h"

class RestoreScanSink;

// A new controller of the given kind (null for an unknown kind), released
// through its Release().
IRecoveryController* CreateRecoveryController(_RECOVERY_CONTROLLER_TYPE type);

// Makes the controller replay a saved result through `sink` (not owned; it
// must outlive the controller) instead of reading the device. Set it before
// StartDataRecovery. False when the controller is not one of ours.
bool SetRecoveryRestoreSink(IRecoveryController* controller, RestoreScanSink* sink);
