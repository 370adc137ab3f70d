#include "ExFatTable.h"

#include <algorithm>

#include "ByteReader.h"
#include "ExFatLayout.h"
#include "IStorageDevice.h"
#include "SectorSize.h"

void CFatTable::CreateFatTable(IStorageDevice* device, long long fatStart, uint32_t fatLength,
                               uint32_t clusters) {
    ClearFatData();
    m_device = nullptr;
    if (!device || fatLength == 0 || fatStart < 0)
        return;
    const int sectorSize = device->GetSectorSize();
    const long long total = device->GetTotalSectors();
    if (sectorSize <= 0 || !vk::IsValidSectorSize(static_cast<uint64_t>(sectorSize)))
        return;
    if (total <= 0 || static_cast<uint64_t>(fatStart) + fatLength >= static_cast<uint64_t>(total))
        return;
    m_device = device;
    m_fatStart = static_cast<uint64_t>(fatStart);
    m_fatLength = fatLength;
    m_sectorSize = static_cast<uint32_t>(sectorSize);
    m_windowSectors = kWindowBytes / m_sectorSize;
    m_clusters = clusters;
    std::vector<uint8_t> first;
    if (ReadWindow(m_fatStart, first))
        m_windows.emplace(m_fatStart, std::move(first));
}

bool CFatTable::ReadWindow(uint64_t first, std::vector<uint8_t>& buffer) const {
    // Only the FAT's own sectors: past its end lies the heap (or another
    // volume), whose bytes are no FAT entries.
    const uint64_t offset = first - m_fatStart;
    if (offset >= m_fatLength)
        return false;
    const uint64_t sectors = std::min<uint64_t>(m_windowSectors, m_fatLength - offset);
    buffer.assign(static_cast<size_t>(sectors) * m_sectorSize, 0);
    return m_device->ReadSector(buffer.data(), static_cast<long long>(first),
                                static_cast<long long>(sectors)) != 0;
}

uint32_t CFatTable::GetNextCluster(uint32_t cluster) {
    if (m_windows.empty())
        return exfat::kEndOfChain;
    const uint64_t byte = static_cast<uint64_t>(cluster) * 4;
    if (byte + 4 > static_cast<uint64_t>(m_fatLength) * m_sectorSize)
        return exfat::kEndOfChain;
    const uint64_t sectorInFat = byte / m_sectorSize;
    const uint64_t start = m_fatStart + sectorInFat - sectorInFat % m_windowSectors;
    const std::vector<uint8_t>* window = nullptr;
    if (start == m_lastStart && m_last) {
        window = m_last;
    } else {
        auto it = m_windows.find(start);
        if (it == m_windows.end()) {
            std::vector<uint8_t> buffer;
            if (m_windows.size() >= kMaxWindows) {
                // The map is ordered: its first window has the lowest sector.
                buffer = std::move(m_windows.begin()->second);
                m_windows.erase(m_windows.begin());
            }
            m_last = nullptr;
            m_lastStart = UINT64_MAX;
            if (!ReadWindow(start, buffer))
                return exfat::kEndOfChain;
            it = m_windows.emplace(start, std::move(buffer)).first;
        }
        window = &it->second;
        m_lastStart = start;
        m_last = window;
    }
    const vk::ByteReader r(window->data(), window->size());
    const uint64_t within = byte - (start - m_fatStart) * m_sectorSize;
    if (!r.Has(within, 4))
        return exfat::kEndOfChain;
    return r.LE32(within);
}

void CFatTable::ClearFatData() {
    m_windows.clear();
    m_last = nullptr;
    m_lastStart = UINT64_MAX;
}

uint64_t CFatTable::GetEntryCapacity() const {
    return static_cast<uint64_t>(m_fatLength) * m_sectorSize / 4;
}

std::vector<uint64_t> CFatTable::GetWindowStarts() const {
    std::vector<uint64_t> starts;
    for (const auto& [start, buffer] : m_windows)
        starts.push_back(start);
    return starts;
}
