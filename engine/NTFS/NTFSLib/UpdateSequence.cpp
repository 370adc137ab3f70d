#include "UpdateSequence.h"

#include <cstring>

#include "ByteReader.h"
#include "NTFSLayout.h"

using ntfs::layout::kUpdateSequenceStride;

namespace ntfs {

namespace {

uint8_t* StrideEnd(uint8_t* buffer, size_t i) {
    return buffer + (i + 1) * kUpdateSequenceStride - 2;
}

const uint8_t* StrideEnd(const uint8_t* buffer, size_t i) {
    return buffer + (i + 1) * kUpdateSequenceStride - 2;
}

uint8_t* Saved(uint8_t* buffer, UpdateSequence sequence, size_t i) {
    return buffer + sequence.arrayOffset + 2 * (i + 1);
}

}  // namespace

bool SectorEndsMatch(const uint8_t* buffer, UpdateSequence sequence) {
    const uint16_t usn = vk::LoadLE<uint16_t>(buffer + sequence.arrayOffset);
    for (size_t i = 0; i < sequence.sectors; ++i) {
        if (vk::LoadLE<uint16_t>(StrideEnd(buffer, i)) != usn)
            return false;
    }
    return true;
}

void UndoFixups(uint8_t* buffer, UpdateSequence sequence) {
    for (size_t i = 0; i < sequence.sectors; ++i)
        std::memcpy(StrideEnd(buffer, i), Saved(buffer, sequence, i), 2);
}

void ApplyFixups(uint8_t* buffer, UpdateSequence sequence) {
    for (size_t i = 0; i < sequence.sectors; ++i) {
        uint8_t* end = StrideEnd(buffer, i);
        std::memcpy(Saved(buffer, sequence, i), end, 2);
        std::memcpy(end, buffer + sequence.arrayOffset, 2);
    }
}

uint32_t UndoMatchingFixups(uint8_t* buffer, UpdateSequence sequence) {
    const uint16_t usn = vk::LoadLE<uint16_t>(buffer + sequence.arrayOffset);
    uint32_t torn = 0;
    for (size_t i = 0; i < sequence.sectors; ++i) {
        uint8_t* end = StrideEnd(buffer, i);
        if (vk::LoadLE<uint16_t>(end) == usn)
            std::memcpy(end, Saved(buffer, sequence, i), 2);
        else
            torn |= 1u << i;
    }
    return torn;
}

}  // namespace ntfs
