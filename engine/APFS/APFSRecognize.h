// Recognises a volume that starts with an APFS container superblock and
// names it after the container's first volume.
#pragma once

#include <cstdint>
#include <vector>

#include "SearchInterfaces.h"

class IStorageDevice;

namespace apfs {

class APFSRecognize final : public IVolumeAnalyze {
public:
    APFSRecognize(IStorageDevice* device, unsigned long long startSector);
    int GetFileSystemType() override { return 9; }
    long long GetTotalSector() override { return totalSectors_; }
    // Fills label with up to 32 bytes of the first volume's name, never more
    // than size - 1, always terminated; a label that is not empty on entry
    // is left as it is. Answers the length of the label.
    int GetLabel(char* label, int size) override;

private:
    bool ReadBlock(uint64_t block, std::vector<uint8_t>& buffer);
    bool ReadVolumeName(uint64_t objectMapBlock, char* label, int size,
                        std::vector<uint8_t>& buffer);

    IStorageDevice* device_;
    unsigned long long startSector_;
    long long totalSectors_;
};

}  // namespace apfs
