// The update sequence of NTFS's multi-sector structures (FILE and INDX
// records, log-file pages): the last two bytes of every 512-byte stride are
// stored in an array in the header and replaced on disk by the sequence
// number, so that a torn write shows. Callers check that the array and the
// strides lie inside the buffer before they call these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ntfs {

struct UpdateSequence {
    size_t arrayOffset = 0;  // where the sequence number and the saved words are
    size_t sectors = 0;      // protected strides
};

// Every protected stride ends with the sequence number.
bool SectorEndsMatch(const uint8_t* buffer, UpdateSequence sequence);
// Puts the saved words back at the strides' ends.
void UndoFixups(uint8_t* buffer, UpdateSequence sequence);
// Saves the strides' last words into the array and writes the sequence
// number over them, as they are stored on disk.
void ApplyFixups(uint8_t* buffer, UpdateSequence sequence);
// Puts the saved words back where the stride ends with the sequence
// number; answers one bit per stride that does not (a torn write).
uint32_t UndoMatchingFixups(uint8_t* buffer, UpdateSequence sequence);

}  // namespace ntfs
