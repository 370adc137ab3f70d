#include "platform/desktop/PowerInhibitor.h"

#include <unistd.h>

#include <string>

namespace velmora::platform {

bool PowerInhibitor::Acquire(const std::string& reason) {
    if (Held())
        return true;
    // The program held under the inhibition ends with us, also when we end
    // by a crash and never release it: an inhibition must not outlive the
    // program that asked for it.
    child_ = runner_.Start({"systemd-inhibit", "--what=idle", "--who=Velmora", "--why=" + reason,
                            "--mode=block", "tail", "-f", "--pid=" + std::to_string(getpid()),
                            "/dev/null"});
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
