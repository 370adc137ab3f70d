// Built only by the layering test, which expects this to fail: the scan
// controllers' library sees the recovery layer through engine/include only,
// so the recovery object's own header is out of its reach.
#include "DataRecovery.h"

int LayeringProbe() {
    return 0;
}
