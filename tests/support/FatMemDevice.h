// An in-memory sector device for the FAT tests, with a switch that makes
// reads fail.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "IStorageDevice.h"

class FatMemDevice final : public IStorageDevice {
public:
    explicit FatMemDevice(std::vector<uint8_t> bytes, int sectorSize = 512)
        : m_bytes(std::move(bytes)), m_sectorSize(sectorSize) {}

    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long first, long long count) override {
        if (m_failReads || first < 0 || count < 0)
            return 0;
        const uint64_t off = static_cast<uint64_t>(first) * m_sectorSize;
        const uint64_t len = static_cast<uint64_t>(count) * m_sectorSize;
        if (off > m_bytes.size() || len > m_bytes.size() - off)
            return 0;
        std::memcpy(buffer, m_bytes.data() + off, len);
        return 1;
    }
    int GetSectorSize() override { return m_sectorSize; }
    long long GetTotalSectors() override {
        return static_cast<long long>(m_bytes.size() / m_sectorSize);
    }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return kDeviceVolume; }
    VKRESULT GetLastError() override { return VK_OK; }

    std::vector<uint8_t>& bytes() { return m_bytes; }
    void FailReads(bool fail) { m_failReads = fail; }

private:
    std::vector<uint8_t> m_bytes;
    int m_sectorSize;
    bool m_failReads = false;
};
