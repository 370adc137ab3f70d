#include "platform/desktop/BlockDeviceWatcher.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace velmora::platform {

bool ClassifyBlockEvent(const std::string& action, uint64_t sizeBytes,
                        BlockDeviceEvent::Kind* kind) {
    if (action == "remove") {
        *kind = BlockDeviceEvent::Kind::Gone;
        return true;
    }
    if (action == "add" || action == "change") {
        // An empty loop device or an empty card slot is no medium to scan.
        *kind = sizeBytes > 0 ? BlockDeviceEvent::Kind::Appeared : BlockDeviceEvent::Kind::Gone;
        return true;
    }
    return false;
}

bool BlockDeviceWatcher::Start(Callback callback) {
    if (Running())
        return true;
    udev* context = udev_new();
    if (!context)
        return false;
    // Without a udev daemon nobody republishes the kernel's events.
    const char* source = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, source);
    udev_unref(context);
    if (!monitor)
        return false;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        return false;
    }
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) {
        udev_monitor_unref(monitor);
        return false;
    }
    thread_ = std::thread(&BlockDeviceWatcher::Loop, this, monitor, std::move(callback));
    return true;
}

void BlockDeviceWatcher::Stop() {
    if (!thread_.joinable())
        return;
    uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) {
        // The thread also ends on the next event; nothing else to do.
    }
    thread_.join();
    close(stopFd_);
    stopFd_ = -1;
}

void BlockDeviceWatcher::Loop(void* handle, Callback callback) {
    auto* monitor = static_cast<udev_monitor*>(handle);
    const int fd = udev_monitor_get_fd(monitor);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (fds[0].revents & (POLLNVAL | POLLHUP))
            break;
        // POLLERR is an overrun of the socket's buffer: receiving clears it.
        if (!(fds[0].revents & (POLLIN | POLLERR)))
            continue;
        udev_device* device = udev_monitor_receive_device(monitor);
        if (!device)
            continue;
        BlockDeviceEvent event;
        const char* action = udev_device_get_action(device);
        const char* name = udev_device_get_sysname(device);
        const char* devtype = udev_device_get_devtype(device);
        event.action = action ? action : "";
        event.name = name ? name : "";
        event.devtype = devtype ? devtype : "";
        if (event.action != "remove") {
            // sysfs counts in 512-byte units whatever the sector size.
            if (const char* size = udev_device_get_sysattr_value(device, "size"))
                event.sizeBytes = std::strtoull(size, nullptr, 10) * 512;
        }
        if (!event.name.empty() && ClassifyBlockEvent(event.action, event.sizeBytes, &event.kind))
            callback(event);
        udev_device_unref(device);
    }
    udev_monitor_unref(monitor);
}

}  // namespace velmora::platform
