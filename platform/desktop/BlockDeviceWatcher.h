// Tells when block devices and media come and go, from udev's events (the
// kernel's own when no udev daemon runs, as in containers). Events arrive
// on the watcher's thread; the interface reposts them on its main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace velmora::platform {

struct BlockDeviceEvent {
    enum class Kind { Appeared, Gone };
    Kind kind = Kind::Appeared;
    std::string action;   // udev's word: "add", "remove", "change"
    std::string name;     // kernel name, such as "sdb1"
    std::string devtype;  // "disk" or "partition"
    uint64_t sizeBytes = 0;
};

// Turns one udev event into what the interface cares about: a device with
// a medium appeared, or a device or its medium went. A loop device or card
// reader announces attach and detach as "change" with a new size.
bool ClassifyBlockEvent(const std::string& action, uint64_t sizeBytes,
                        BlockDeviceEvent::Kind* kind);

class BlockDeviceWatcher {
public:
    using Callback = std::function<void(const BlockDeviceEvent&)>;
    BlockDeviceWatcher() = default;
    ~BlockDeviceWatcher() { Stop(); }
    BlockDeviceWatcher(const BlockDeviceWatcher&) = delete;
    BlockDeviceWatcher& operator=(const BlockDeviceWatcher&) = delete;

    // False when no event source could be opened (no permission for the
    // kernel's events, no udev).
    bool Start(Callback callback);
    void Stop();
    bool Running() const { return thread_.joinable(); }

private:
    void Loop(void* monitor, Callback callback);
    std::thread thread_;
    int stopFd_ = -1;
};

}  // namespace velmora::platform
