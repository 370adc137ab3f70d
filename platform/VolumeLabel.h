// The label a volume's file system carries, read from its device node by
// libblkid (read-only). For file systems whose own recogniser gives no
// label, so that the disk page shows the volume by the name it was given.
#pragma once

#include <string>
#include <string_view>

namespace velmora::platform {

// Empty when the node cannot be read, holds no file system libblkid knows,
// or the file system has no label.
std::string ProbeVolumeLabel(std::string_view nodePath);

}  // namespace velmora::platform
