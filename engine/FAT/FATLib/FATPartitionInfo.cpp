#include "FATPartitionInfo.h"

#include <new>

CFATSearchedPartitionInfo* CFATSearchedPartitionInfo::CreateFATSearchedPartitionInfo(
    unsigned sectorSize) {
    return new (std::nothrow) CFATSearchedPartitionInfo(sectorSize);
}

CFATSearchedPartitionInfo* CFATSearchedPartitionInfo::Clone() const {
    auto* copy = new (std::nothrow) CFATSearchedPartitionInfo(*this);
    if (!copy)
        return nullptr;
    copy->position2 = 0;
    return copy;
}
