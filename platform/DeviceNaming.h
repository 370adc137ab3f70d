// Device node paths from kernel block device names.
#pragma once

#include <string>
#include <string_view>

namespace velmora::platform {

// Builds "<devFolder>/<name>". There is no separate raw node on Linux, so
// callers asking for one get the same path. Tests point the folder at a
// directory of image files named like devices.
class DeviceNaming {
public:
    explicit DeviceNaming(std::string devFolder = "/dev");
    // Empty when the name is not a plain kernel name (empty, ".", "..",
    // containing '/' or control bytes): it must not escape the folder.
    std::string NodePath(std::string_view bsdName) const;
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
};

bool IsPlainDeviceName(std::string_view bsdName);

}  // namespace velmora::platform
