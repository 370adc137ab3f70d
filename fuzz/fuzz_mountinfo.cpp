// Mount table text: mount points and FUSE sources are chosen by users, so the
// parser must survive any bytes, and lookups over what it made must too.
#include <sys/sysmacros.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/MountInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    velmora::platform::MountTable table = velmora::platform::MountTable::FromText(text);
    for (const auto& e : table.entries()) {
        if (e.mountPoint.empty() || e.fsType.empty())
            __builtin_trap();
        (void)table.FindByDeviceId(e.deviceId);
    }
    velmora::platform::VolumeDescriber d(table);
    (void)d.VolumeName("", "sdb1", makedev(8, 17), "/dev/sdb1");
    return 0;
}
