#include "platform/desktop/PowerInhibitor.h"

namespace velmora::platform {

bool PowerInhibitor::Acquire(const std::string& reason) {
    if (Held())
        return true;
    child_ = runner_.Start({"systemd-inhibit", "--what=idle", "--who=Velmora", "--why=" + reason,
                            "--mode=block", "sleep", "infinity"});
    return Held();
}

void PowerInhibitor::Release() {
    if (child_)
        child_->Terminate();
    child_.reset();
}

bool PowerInhibitor::Held() {
    if (child_ && !child_->Running())
        child_.reset();
    return child_ != nullptr;
}

}  // namespace velmora::platform
