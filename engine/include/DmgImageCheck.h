// The check a disk image passes before it is scanned: an encrypted image is
// refused, a UDIF image is accepted only when its sectors lie uncompressed
// where a plain read finds them, and any other file is a raw image of
// 512-byte sectors. The check fills the image record the disk-image device
// reads its geometry from.
#pragma once

#include <cstdint>
#include <vector>

#include "StorageDeviceData.h"

// Zeroes the record and sets the sector size (512), the file name (the last
// path component) and the path. false when the path does not fit.
bool InitDmgRecord(const char* path, CDMGDeviceInfoStruct& record);

// 1 accepted (file size and total sectors filled in), 0 refused.
int ParseDmgFile(const char* path, CDMGDeviceInfoStruct& record);

// The block tables ("mish") of a UDIF image, one per "blkx" element: 1 when
// every chunk is stored uncompressed at the position of its sectors, else 0.
int ParseChunkEntry(const std::vector<std::vector<uint8_t>>& blockTables);

// Byte-order reversal of the big-endian UDIF fields.
uint32_t swap_uint32(uint32_t v);
int32_t swap_int32(int32_t v);
int64_t swap_int64(int64_t v);
uint64_t swap_uint64(uint64_t v);
