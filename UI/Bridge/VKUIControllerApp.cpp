#include "VKUIController.h"
#include "VKUIPublic.h"

int VKUIController::IsAppRunning() {
    return VKCPPPublic::instance().IsAppRunning();
}
