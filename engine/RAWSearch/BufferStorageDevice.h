// A ring of the last blocks the signature search has read, served as a
// device: analysers sizing a file shortly after its start read it from
// memory instead of going back to the disk. Reads outside what the ring
// holds go to the real device.
#pragma once

#include <cstdint>
#include <memory>

#include "IStorageDevice.h"

class CBufferStorageDevice : public IStorageDevice {
public:
    CBufferStorageDevice() = default;
    ~CBufferStorageDevice() override = default;
    CBufferStorageDevice(const CBufferStorageDevice&) = delete;
    CBufferStorageDevice& operator=(const CBufferStorageDevice&) = delete;

    // Allocates a zeroed ring of sectorsPerBlock * blocks sectors; false
    // (and not initialised) when the sizes are 0 or the memory cannot be had.
    bool InitBufferDevice(IStorageDevice* device, unsigned long long startSector,
                          unsigned sectorSize, unsigned sectorsPerBlock, unsigned blocks);
    // Appends one block (sectorsPerBlock sectors) that holds sectors
    // [firstSector, firstSector + sectorsPerBlock). A block that does not
    // follow the last one held starts the ring afresh, so a sector is never
    // served from the wrong slot.
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
    std::unique_ptr<uint8_t[]> m_ring;
    unsigned long long m_start = 0;
    unsigned long long m_held = 0;
    unsigned m_writePos = 0;  // slot of the next block; the oldest slot once full
    unsigned m_sectorsPerBlock = 0;
    unsigned m_blocks = 0;
    unsigned m_capacity = 0;
    bool m_initialised = false;
    unsigned m_sectorSize = 512;
    IStorageDevice* m_device = nullptr;
};
