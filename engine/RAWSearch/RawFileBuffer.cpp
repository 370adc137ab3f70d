#include "RawFileBuffer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "CheckedMath.h"
#include "IStorageDevice.h"
#include "NotifyCenter.h"
#include "RawFileInfo.h"

RawFileBuffer::RawFileBuffer(IStorageDevice* device, unsigned long long startSector)
    : m_device(device), m_startSector(startSector) {
    const int size = device != nullptr ? device->GetSectorSize() : 0;
    m_sectorSize = size > 0 ? static_cast<unsigned>(size) : 512;
}

size_t RawFileBuffer::Available(unsigned long long offset) const {
    if (m_valid == 0 || offset < m_base || offset - m_base >= m_valid)
        return 0;
    return m_valid - static_cast<size_t>(offset - m_base);
}

bool RawFileBuffer::Fill(unsigned long long base) {
    m_valid = 0;
    if (m_device == nullptr)
        return false;
    if (!m_data) {
        m_data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(kReadSectors) * m_sectorSize]);
        if (!m_data)
            return false;
    }
    unsigned long long sector = 0;
    if (!vk::CheckedAdd<unsigned long long>(m_startSector, base / m_sectorSize, &sector) ||
        sector > static_cast<unsigned long long>(INT64_MAX))
        return false;
    m_base = base;
    if (m_device->ReadSector(m_data.get(), static_cast<long long>(sector), kReadSectors) != 0) {
        m_valid = static_cast<size_t>(kReadSectors) * m_sectorSize;
        return true;
    }
    // At the device's end fewer sectors remain; anything else is a read that
    // failed.
    const long long total = m_device->GetTotalSectors();
    if (total <= 0 || sector >= static_cast<unsigned long long>(total))
        return false;
    const unsigned long long remaining = static_cast<unsigned long long>(total) - sector;
    if (remaining >= kReadSectors)
        return false;
    if (m_device->ReadSector(m_data.get(), static_cast<long long>(sector),
                             static_cast<long long>(remaining)) == 0)
        return false;
    m_valid = static_cast<size_t>(remaining) * m_sectorSize;
    return true;
}

const uint8_t* RawFileBuffer::GetRawFileBuffer(unsigned long long offset, size_t needed) {
    if (CNotifyCenter::Instance().isContinue() == 0)
        return nullptr;
    if (needed == 0)
        needed = 1;
    const unsigned long long window = GetWindowBytes();
    if (needed > window)
        return nullptr;
    if (Available(offset) >= needed)
        return m_data.get() + (offset - m_base);
    unsigned long long base = offset / window * window;
    // A piece that does not fit the aligned window is read from its own sector.
    if (offset - base + needed > static_cast<unsigned long long>(kReadSectors) * m_sectorSize)
        base = offset / m_sectorSize * m_sectorSize;
    if (!Fill(base) || Available(offset) < needed)
        return nullptr;
    return m_data.get() + (offset - m_base);
}

namespace {

const uint8_t* Find(const uint8_t* data, size_t size, const uint8_t* pattern, size_t length,
                    bool anyCase) {
    if (length == 0 || size < length)
        return nullptr;
    for (size_t i = 0; i + length <= size; ++i) {
        size_t j = 0;
        if (anyCase) {
            while (j < length && std::tolower(data[i + j]) == std::tolower(pattern[j]))
                ++j;
        } else if (data[i] == pattern[0] && std::memcmp(data + i, pattern, length) == 0) {
            j = length;
        }
        if (j == length)
            return data + i;
    }
    return nullptr;
}

bool AllZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != 0)
            return false;
    }
    return true;
}

}  // namespace

namespace SearchSignFileAnalyser {

int SearchEndSignCode(CRawFileInfo& info, IStorageDevice* device, const SearchSignCodeInfo& code,
                      int exact) {
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    const size_t sectorSize = file.GetSectorSize();
    const size_t L = std::min<size_t>(code.length, sizeof(code.signature));
    const unsigned long long limit = code.maxLength != 0 ? code.maxLength : 0xD000000ULL;
    const auto* signature = reinterpret_cast<const uint8_t*>(code.signature);
    const bool anyCase = exact == 0;
    // The last L bytes of the sector before, for a signature that straddles
    // the boundary; empty before the first sector.
    std::string tail;
    auto straddle = [&](const uint8_t* sector, unsigned long long p, unsigned long long* end) {
        if (L == 0)
            return false;
        std::string joined = tail;
        joined.append(reinterpret_cast<const char*>(sector), std::min(L, sectorSize));
        const uint8_t* hit = Find(reinterpret_cast<const uint8_t*>(joined.data()), joined.size(),
                                  signature, L, anyCase);
        if (hit == nullptr)
            return false;
        // The file ends where the signature does, which lies within L bytes
        // of the boundary on either side.
        const size_t endInJoined =
            static_cast<size_t>(hit - reinterpret_cast<const uint8_t*>(joined.data())) + L;
        *end = p - tail.size() + endInJoined;
        return true;
    };

    unsigned long long p = 0;
    for (; p <= limit; p += sectorSize) {
        const uint8_t* sector = file.GetRawFileBuffer(p, sectorSize);
        if (sector == nullptr) {
            info.m_size = static_cast<long long>(p);
            return 1;
        }
        const bool zeroEnd2 = sector[sectorSize - 1] == 0 && sector[sectorSize - 2] == 0;
        if (zeroEnd2) {
            unsigned long long end = 0;
            if (const uint8_t* hit = Find(sector, sectorSize, signature, L, anyCase)) {
                info.m_size = static_cast<long long>(p + (hit - sector) + L);
                return 1;
            }
            if (exact != 0 && AllZero(sector + sectorSize - 8, 8)) {
                // A sector that ends in real zero fill is past the file's end:
                // the file ends in it or with the sector before.
                info.m_size = static_cast<long long>(straddle(sector, p, &end) ? end : p);
                return 1;
            }
            if (straddle(sector, p, &end)) {
                info.m_size = static_cast<long long>(end);
                return 1;
            }
        }
        tail.assign(reinterpret_cast<const char*>(sector + sectorSize - std::min(L, sectorSize)),
                    std::min(L, sectorSize));
    }
    info.m_size = static_cast<long long>(p);
    return 1;
}

}  // namespace SearchSignFileAnalyser
