#include "SearchedPartitionInfo.h"

#include <bit>
#include <cstring>

#include "ByteReader.h"
#include "SectorSize.h"

CSearchedPartitionInfo::CSearchedPartitionInfo(unsigned size)
    : sectorSize(vk::NormaliseSectorSize(size)) {}

void CSearchedPartitionInfo::ToImage(uint8_t* out) const {
    if (!out)
        return;
    std::memset(out, 0, kImageSize);
    vk::StoreLE<int16_t>(out + 16, partitionIndex);
    vk::StoreLE<int32_t>(out + 20, fileSystemType);
    vk::StoreLE<uint32_t>(out + 24, sectorsPerCluster);
    vk::StoreLE<int64_t>(out + 32, runOriginSector);
    vk::StoreLE<int64_t>(out + 40, startSector);
    vk::StoreLE<int64_t>(out + 48, position1);
    vk::StoreLE<int64_t>(out + 56, position2);
    vk::StoreLE<uint32_t>(out + 64, sectorSize);
    vk::StoreLE<uint32_t>(out + 68, reserved1);
    vk::StoreLE<int64_t>(out + 72, totalSectors);
    vk::StoreLE<int64_t>(out + 80, fsValue);
    vk::StoreLE<uint64_t>(out + 88, std::bit_cast<uint64_t>(score));
    vk::StoreLE<uint32_t>(out + 96, reserved2);
    vk::StoreLE<uint32_t>(out + 100, reserved3);
}

bool CSearchedPartitionInfo::FromImage(const uint8_t* image, size_t size) {
    if (!image || size < kImageSize)
        return false;
    vk::ByteReader r(image, kImageSize);
    fileSystemContext = nullptr;
    partitionIndex = r.LES16(16);
    fileSystemType = r.LES32(20);
    sectorsPerCluster = r.LE32(24);
    runOriginSector = r.LES64(32);
    startSector = r.LES64(40);
    position1 = r.LES64(48);
    position2 = r.LES64(56);
    sectorSize = r.LE32(64);
    reserved1 = r.LE32(68);
    totalSectors = r.LES64(72);
    fsValue = r.LES64(80);
    score = std::bit_cast<double>(r.LE64(88));
    reserved2 = r.LE32(96);
    reserved3 = r.LE32(100);
    return true;
}
