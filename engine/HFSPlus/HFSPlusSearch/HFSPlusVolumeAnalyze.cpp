#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "HFSPlusFactories.h"
#include "HFSPlusLib/HFSPlusLayout.h"
#include "HFSPlusLib/HFSPlusVolume.h"
#include "IStorageDevice.h"
#include "StorageDevices.h"

namespace hfsplus {

namespace L = layout;

// Recognises an HFS+ or HFSX volume at a sector of a device and names it.
class CHFSPlusVolumeAnalyze final : public IVolumeAnalyze {
public:
    CHFSPlusVolumeAnalyze(IStorageDevice* device, unsigned long long startSector) {
        if (!device)
            return;
        const int S = device->GetSectorSize();
        if (S <= 0 || S % 512 != 0)
            return;
        std::vector<uint8_t> sector(static_cast<size_t>(S));
        const long long at = static_cast<long long>(startSector) +
                             static_cast<long long>(L::kVolumeHeaderOffset) / S;
        if (!device->ReadSector(sector.data(), at, 1))
            return;
        const size_t within = L::kVolumeHeaderOffset % static_cast<size_t>(S);
        const uint8_t* vh = sector.data() + within;
        if (!CHFSPlusVolume::IsValidVolumeHeader(vh, sector.size() - within))
            return;
        HFSPlusVolumeHeader header;
        flipVolumeHeader(vh, sector.size() - within, &header);
        type_ = FS_HFSPLUS;
        total_ = static_cast<long long>(uint64_t{header.blockSize} * header.totalBlocks /
                                        static_cast<uint64_t>(S));
        // The name is the root folder's: read through a window on the
        // volume, without the journal and without caching the catalog.
        std::unique_ptr<IStorageDevice> window;
        IStorageDevice* volumeDevice = device;
        if (startSector != 0) {
            const long long count = device->GetTotalSectors() - static_cast<long long>(startSector);
            if (count <= 0)
                return;
            window.reset(CreatePartitionDevice(device, static_cast<long long>(startSector), count));
            volumeDevice = window.get();
        }
        VolumeOptions options;
        options.skipJournal = true;
        options.catalogCacheLimit = 0;
        CHFSPlusVolume volume(volumeDevice, options);
        std::strncpy(label_, volume.VolumeName().c_str(), sizeof label_ - 1);
    }

    int GetFileSystemType() override { return type_; }
    long long GetTotalSector() override { return total_; }
    int GetLabel(char* buffer, int size) override {
        if (!buffer || size <= 0)
            return 0;
        const int n =
            size < static_cast<int>(sizeof label_) ? size : static_cast<int>(sizeof label_);
        std::memcpy(buffer, label_, static_cast<size_t>(n));
        buffer[n - 1] = '\0';
        return n;
    }

private:
    int type_ = FS_UNKNOWN;
    long long total_ = 0;
    char label_[100] = {};
};

}  // namespace hfsplus

IVolumeAnalyze* CreateHFSPlusVolumeAnalyze(IStorageDevice* device, unsigned long long startSector) {
    return new hfsplus::CHFSPlusVolumeAnalyze(device, startSector);
}
