// Handed to the include check by the layering test, which expects it to be
// refused: climbing out of a folder reaches any layer's private headers.
#include "../../engine/DataRecovery/DataRecovery.h"
