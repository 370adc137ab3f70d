#include "platform/DeviceNaming.h"

namespace velmora::platform {

bool IsPlainDeviceName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255)
        return false;
    for (char c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

DeviceNaming::DeviceNaming(std::string devFolder) : folder_(std::move(devFolder)) {
    while (folder_.size() > 1 && folder_.back() == '/')
        folder_.pop_back();
    if (folder_.empty())
        folder_ = "/dev";
}

std::string DeviceNaming::NodePath(std::string_view bsdName) const {
    if (!IsPlainDeviceName(bsdName))
        return {};
    return (folder_ == "/" ? "" : folder_) + "/" + std::string(bsdName);
}

}  // namespace velmora::platform
