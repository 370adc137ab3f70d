#include <cstdlib>
#include <mutex>
#include <utility>

#include "Utility/MessageCenter.h"
#include "VKUIController.h"
#include "VKUIPublic.h"

namespace {

std::mutex& HookLock() {
    static std::mutex lock;
    return lock;
}

std::function<void()>& UsageEndHook() {
    static std::function<void()> hook;
    return hook;
}

}  // namespace

int VKUIController::IsAppRunning() {
    return VKCPPPublic::instance().IsAppRunning();
}

void VKUIController::SetUsageEndHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> hold(HookLock());
    UsageEndHook() = std::move(hook);
}

void VKUIController::CloseApp() {
    CMessageCenter::Instance()->StopReceiveMessage();
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> hold(HookLock());
        hook = UsageEndHook();
    }
    if (hook)
        hook();
    std::exit(0);
}
