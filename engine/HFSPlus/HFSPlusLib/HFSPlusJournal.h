// The HFS+ journal keeps copies of B-tree nodes written by recent
// transactions, and its circular buffer still holds older copies after they
// were checkpointed. The scan walks the buffer once round and keeps the
// catalog, extents and attributes leaf records that the live trees no
// longer hold: deleted files and the extents and attributes they need.
#pragma once

#include <cstdint>
#include <functional>

#include "HFSPlusStructs.h"

namespace hfsplus {

class CHFSPlusVolume;

// Limits on sizes read from a journal header: nothing is allocated or
// walked on an unchecked value.
constexpr uint64_t kMaxJournalSize = 1ULL << 32;      // 4 GiB
constexpr uint32_t kMaxJournalBlockBytes = 1u << 20;  // one journaled block
constexpr uint32_t kMaxBlockListBytes = 1u << 24;     // one block list header

class CHFSPlusJournal {
public:
    explicit CHFSPlusJournal(CHFSPlusVolume* volume);

    VKRESULT GetLastError() const { return lastError_; }
    bool IsOpen() const { return open_; }
    const JournalInfoBlock& InfoBlock() const { return info_; }
    const JournalHeader& Header() const { return header_; }

    // Bytes of the circular buffer from `position`; the buffer wraps to
    // jhdr_size, past the journal header, not to 0.
    uint64_t Read(uint64_t position, uint8_t* buffer, uint64_t length);

    // Walks the buffer once round from the header's end field and fills the
    // volume's maps. `continued` is asked before each block list and each
    // block; `counted` is told of each deleted catalog record added. The
    // last code (0 when the journal is not open).
    VKRESULT GetDeleteRecord(const std::function<bool()>& continued,
                             const std::function<void()>& counted);

    // Passes over the buffer in the last scan (a bound for tests).
    uint64_t LastScanSteps() const { return steps_; }

private:
    VKRESULT Open();
    void ProcessLeaf(uint32_t fileID, const uint8_t* node, size_t size,
                     const std::function<void()>& counted);
    uint64_t Wrap(uint64_t position) const;

    CHFSPlusVolume* volume_;
    VKRESULT lastError_ = 0;
    bool open_ = false;
    JournalInfoBlock info_;
    JournalHeader header_;
    uint64_t steps_ = 0;
};

}  // namespace hfsplus
