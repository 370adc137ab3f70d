// A ring of the last blocks the signature search has read, served as a
// device: analysers sizing a file shortly after its start read it from
// memory instead of going back to the disk. Reads outside what the ring
// holds go to the real device.
//
// The ring's memory is also where the search reads its blocks: a block is
// placed in the slot after the newest one, so the block before it lies just
// before it in memory and nothing is copied, neither to look back across the
// boundary nor to keep the block in the ring. Spare slots keep the slot
// being read, the zeros before and after it clear of the blocks held (sizing
// still reads them before the new block is added); when the slots run out,
// the newest block is copied to a slot in front of the first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>

#include "IStorageDevice.h"

class CBufferStorageDevice : public IStorageDevice {
public:
    CBufferStorageDevice() = default;
    ~CBufferStorageDevice() override = default;
    CBufferStorageDevice(const CBufferStorageDevice&) = delete;
    CBufferStorageDevice& operator=(const CBufferStorageDevice&) = delete;

    // Allocates a zeroed ring that holds `blocks` blocks of sectorsPerBlock
    // sectors, and `slackBytes` after a placed block; false (and not
    // initialised) when the sizes are 0 or the memory cannot be had.
    bool InitBufferDevice(IStorageDevice* device, unsigned long long startSector,
                          unsigned sectorSize, unsigned sectorsPerBlock, unsigned blocks,
                          size_t slackBytes = 0);
    // Where the block of sectors [firstSector, firstSector + sectorsPerBlock)
    // is to be read in place: the block-sized slot it gets when it is added.
    // Before the slot lies the newest block held when this block follows it,
    // otherwise zeros; after it, slackBytes zeros. The blocks held stay as
    // they are until AddPlacedBlock. Null when not initialised.
    uint8_t* PlaceBlock(unsigned long long firstSector);
    // Adds the block last placed (read into the slot PlaceBlock gave).
    void AddPlacedBlock(unsigned long long firstSector);
    // The slot PlaceBlock gives a block once the block before it is added:
    // `held` whether any block is held then, `follows` whether the block
    // continues the newest one held, which lies in `newestSlot`. Lets a
    // reader fill the next block's slot (all but its first SlotHeadBytes,
    // where the zeros after the newest block lie until the block is placed)
    // while the block before it is still being looked at.
    unsigned SlotFor(bool held, bool follows, unsigned newestSlot) const;
    uint8_t* SlotAddress(unsigned slot) const { return Slot(slot); }
    unsigned PlacedSlot() const { return m_placedSlot; }
    size_t SlackBytes() const { return m_slackBytes; }
    // Appends one block (sectorsPerBlock sectors) that holds sectors
    // [firstSector, firstSector + sectorsPerBlock), copying it. A block that
    // does not follow the last one held starts the ring afresh, so a sector
    // is never served from the wrong slot.
    void AddBlockToBuffer(const uint8_t* block, unsigned long long firstSector);
    bool IsFullBuffer() const { return m_initialised && m_held == m_capacity; }
    unsigned long long GetDeviceStartSector() const { return m_start; }
    unsigned GetSectorsPerBlock() const { return m_sectorsPerBlock; }

    int Open(char*) override { return 1; }
    int Close() override;
    int ReadSector(void* buffer, long long firstSector, long long count) override;
    int GetSectorSize() override {
        return m_sectorSize != 0 ? static_cast<int>(m_sectorSize) : 512;
    }
    // The sectors held.
    long long GetTotalSectors() override { return static_cast<long long>(m_held); }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return kDeviceCache; }
    VKRESULT GetLastError() override { return 0; }

    // The real device behind the ring.
    IStorageDevice* GetRealDevice() const { return m_device; }

private:
    uint8_t* Slot(unsigned slot) const { return m_ring.get() + slot * m_blockBytes; }
    bool Follows(unsigned long long firstSector) const {
        return m_held != 0 && firstSector == m_start + m_held;
    }

    struct FreeBytes {
        void operator()(uint8_t* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<uint8_t, FreeBytes> m_ring;  // m_slotCount slots, then the slack
    unsigned long long m_start = 0;
    unsigned long long m_held = 0;
    std::deque<unsigned> m_heldSlots;  // the slot of each block held, oldest first
    unsigned m_newestSlot = 0;         // slot of the newest block held
    unsigned m_placedSlot = 0;         // slot PlaceBlock gave last
    unsigned m_slotCount = 0;
    size_t m_blockBytes = 0;
    size_t m_slackBytes = 0;
    unsigned m_sectorsPerBlock = 0;
    unsigned m_blocks = 0;
    unsigned m_capacity = 0;
    bool m_initialised = false;
    unsigned m_sectorSize = 512;
    IStorageDevice* m_device = nullptr;
};
