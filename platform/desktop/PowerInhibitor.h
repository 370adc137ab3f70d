// Keeps the session from going idle (screen blanking, suspend on idle) while
// a scan or recovery runs, through a systemd-inhibit child held for as long
// as the inhibitor lives (and never longer than this process). Where logind is missing the request
// fails and the program carries on: sleeping is then the system's business.
#pragma once

#include <memory>
#include <string>

#include "platform/desktop/CommandRunner.h"

namespace velmora::platform {

class PowerInhibitor {
public:
    explicit PowerInhibitor(CommandRunner& runner) : runner_(runner) {}
    ~PowerInhibitor() { Release(); }
    PowerInhibitor(const PowerInhibitor&) = delete;
    PowerInhibitor& operator=(const PowerInhibitor&) = delete;

    // True when the inhibition holds; a second call while it holds does nothing.
    bool Acquire(const std::string& reason);
    void Release();
    bool Held();

private:
    CommandRunner& runner_;
    std::unique_ptr<ChildProcess> child_;
};

}  // namespace velmora::platform
