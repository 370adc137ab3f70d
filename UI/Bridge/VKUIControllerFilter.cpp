#include "VKUIController.h"
#include "VKUIFilter.h"

void VKUIController::SetRecoveryType(int mask) {
    VKUIFilter::instance().ResetFilter(static_cast<unsigned>(mask));
}
