#include "platform/VolumeLabel.h"

#include <blkid/blkid.h>

namespace velmora::platform {

std::string ProbeVolumeLabel(std::string_view nodePath) {
    const std::string path(nodePath);
    if (path.empty())
        return {};
    // Opens the node for reading only.
    blkid_probe probe = blkid_new_probe_from_filename(path.c_str());
    if (probe == nullptr)
        return {};
    std::string label;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL);
    // Only the first file system found; an ambiguous node gives none.
    blkid_probe_enable_partitions(probe, 0);
    if (blkid_do_safeprobe(probe) == 0) {
        const char* data = nullptr;
        size_t length = 0;
        if (blkid_probe_lookup_value(probe, "LABEL", &data, &length) == 0 && data != nullptr) {
            // The length counts the closing zero.
            label.assign(data, length > 0 && data[length - 1] == '\0' ? length - 1 : length);
        }
    }
    blkid_free_probe(probe);
    // Control bytes are no part of a name shown to the user.
    for (char& c : label) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    }
    return label;
}

}  // namespace velmora::platform
