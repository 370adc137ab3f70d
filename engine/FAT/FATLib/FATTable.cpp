#include "FATTable.h"

#include <new>
#include <unordered_set>

#include "IStorageDevice.h"
#include "Utility/CatchExeception.h"

IRealFATTable::IRealFATTable(IStorageDevice* device, uint64_t firstSector, uint32_t sectors,
                             uint32_t entryWidth)
    : m_device(device), m_firstSector(firstSector), m_sectors(sectors), m_entryWidth(entryWidth) {
    // The device's size, trusted as it opened; 0 (no device) refuses reading.
    const int size = device ? device->GetSectorSize() : 0;
    m_sectorSize = size > 0 ? static_cast<uint32_t>(size) : 0;
}

bool IRealFATTable::ReadSector() {
    m_buffer.clear();
    m_entryCount = 0;
    if (!m_device || !vk::IsValidSectorSize(m_sectorSize) || !SizeAllowed(m_sectors))
        return false;
    const uint64_t bytes = static_cast<uint64_t>(m_sectors) * m_sectorSize;
    try {
        m_buffer.resize(bytes);
    } catch (const std::bad_alloc&) {
        CatchExeception::WriteLog("FAT copy at sector %llu: no memory for %llu bytes\n",
                                  static_cast<unsigned long long>(m_firstSector),
                                  static_cast<unsigned long long>(bytes));
        m_buffer.clear();
        return false;
    }
    if (!m_device->ReadSector(m_buffer.data(), static_cast<long long>(m_firstSector), m_sectors)) {
        CatchExeception::WriteLog("FAT copy at sector %llu: read of %u sectors failed\n",
                                  static_cast<unsigned long long>(m_firstSector), m_sectors);
        m_buffer.clear();
        return false;
    }
    m_entryCount = static_cast<uint32_t>(bytes / m_entryWidth);
    CountDamage();
    return true;
}

bool IRealFATTable::IsValidFATTable() const {
    if (m_buffer.empty() || !CheckFATHeader())
        return false;
    // A copy is a table of links where most of them are: a loop or a
    // cross-link in a few files' chains costs only those files (the walkers
    // cut them), while a copy that is garbage would pass wrong chains off as
    // files.
    const uint64_t tolerated = 16 + m_entryCount / 64;
    if (m_bodyDamage + m_chainDamage > tolerated) {
        CatchExeception::WriteLog(
            "FAT copy at sector %llu: %u damaged entries and %u damaged chains, refused\n",
            static_cast<unsigned long long>(m_firstSector), m_bodyDamage, m_chainDamage);
        return false;
    }
    if (m_bodyDamage + m_chainDamage > 0)
        CatchExeception::WriteLog(
            "FAT copy at sector %llu: %u damaged entries and %u damaged chains; only the files "
            "that use them are affected\n",
            static_cast<unsigned long long>(m_firstSector), m_bodyDamage, m_chainDamage);
    return true;
}

void IRealFATTable::CountDamage() {
    m_bodyDamage = 0;
    m_chainDamage = 0;
    m_checkSteps = 0;
    // Values from the entry count up to the first marker cannot name a
    // cluster of this table.
    const uint32_t firstMarker = LastLinkValue() + 1;
    for (uint32_t i = 2; i < m_entryCount; ++i) {
        const uint32_t e = RawEntry(i);
        if (e == 1 || e == i || (e >= m_entryCount && e < firstMarker))
            ++m_bodyDamage;
    }
    if (m_entryCount < 3)
        return;
    // Every chain is walked once. A chain that reaches a cluster another
    // chain already leads to (two files sharing clusters) or that comes back
    // to its own start (a loop) is damaged. Reaching a link recorded by an
    // earlier walk means the rest was checked then, so the walk stops there:
    // the whole check costs one pass over the table.
    std::vector<uint32_t> pred;
    try {
        pred.assign(m_entryCount, 0);
    } catch (const std::bad_alloc&) {
        m_chainDamage = m_entryCount;
        return;
    }
    const uint32_t lastLink = LastLinkValue();
    for (uint32_t i = 2; i < m_entryCount; ++i) {
        if (pred[i] != 0)
            continue;
        uint32_t cur = i;
        uint64_t links = 0;
        for (;;) {
            ++m_checkSteps;
            const uint32_t next = RawEntry(cur);
            if (next < 2 || next > lastLink || next >= m_entryCount)
                break;
            if (next == i) {
                ++m_chainDamage;  // a loop through its start
                break;
            }
            if (pred[next] != 0) {
                if (pred[next] != cur)
                    ++m_chainDamage;  // joins another chain, or loops behind its head
                break;
            }
            pred[next] = cur;
            cur = next;
            if (++links >= m_entryCount - 2ULL) {
                ++m_chainDamage;
                break;
            }
        }
    }
}

bool IRealFATTable::CheckFATBody() const {
    return m_bodyDamage == 0;
}

bool IRealFATTable::CheckFATIndex() const {
    return m_chainDamage == 0;
}

uint32_t CFAT16Table::RawEntry(uint32_t cluster) const {
    if (cluster >= m_entryCount)
        return 0;
    return vk::LoadLE<uint16_t>(m_buffer.data() +
                                static_cast<size_t>(cluster) * fat_layout::table::kFat16EntrySize);
}

uint32_t CFAT16Table::GetNextCluster(uint32_t cluster) const {
    const uint32_t e = RawEntry(cluster);
    if (e == fat_layout::table::kFat16Bad)
        return kFATBadCluster;
    if (e >= fat_layout::table::kFat16EndOfChain)
        return kFATEndOfChain;
    return e;
}

bool CFAT16Table::SizeAllowed(uint32_t sectors) const {
    const uint32_t u = m_sectorSize / fat_layout::kMinBytesPerSector;
    return u != 0 && sectors >= 12 / u && sectors <= 256 / u && sectors != 0;
}

namespace {

// Entry 1 carries two status bits that systems clear at run time: "clean
// shutdown" and "no disk error". A volume that met disk errors is exactly
// what gets brought for recovery, so neither bit decides whether the copy is
// a FAT (the masks leave them out).
using fat_layout::table::kFat16HeaderMask;
using fat_layout::table::kFat32Entry0Mask;
using fat_layout::table::kFat32Entry1Mask;
constexpr size_t kEntry0 = 0;
constexpr size_t kFat32Entry1 = fat_layout::table::kFat32EntrySize;

bool Fat16HeaderOk(const vk::ByteReader& r) {
    // Entries 0 and 1 of a FAT16 copy, read as one 32-bit value.
    return r.Has(kEntry0, 4) && (r.LE32(kEntry0) & kFat16HeaderMask) == kFat16HeaderMask;
}

bool Fat32HeaderOk(const vk::ByteReader& r) {
    return r.Has(kEntry0, 2 * fat_layout::table::kFat32EntrySize) &&
           (r.LE32(kEntry0) & kFat32Entry0Mask) == kFat32Entry0Mask &&
           (r.LE32(kFat32Entry1) & kFat32Entry1Mask) == kFat32Entry1Mask;
}

}  // namespace

bool CFAT16Table::CheckFATHeader() const {
    return Fat16HeaderOk(vk::ByteReader(m_buffer.data(), m_buffer.size()));
}

uint32_t CFAT32Table::RawEntry(uint32_t cluster) const {
    if (cluster >= m_entryCount)
        return 0;
    return vk::LoadLE<uint32_t>(m_buffer.data() +
                                static_cast<size_t>(cluster) * fat_layout::table::kFat32EntrySize) &
           kFATClusterMask;
}

uint32_t CFAT32Table::GetNextCluster(uint32_t cluster) const {
    return RawEntry(cluster);
}

bool CFAT32Table::SizeAllowed(uint32_t sectors) const {
    const uint32_t u = m_sectorSize / fat_layout::kMinBytesPerSector;
    return u != 0 && sectors >= 256 / u && sectors <= 128000 / u && sectors != 0;
}

bool CFAT32Table::CheckFATHeader() const {
    return Fat32HeaderOk(vk::ByteReader(m_buffer.data(), m_buffer.size()));
}

CDoubleFATTable::~CDoubleFATTable() {
    delete m_first;
    delete m_second;
}

uint32_t CDoubleFATTable::GetNextCluster(uint32_t cluster) const {
    if (m_first)
        return m_first->GetNextCluster(cluster);
    if (m_second)
        return m_second->GetNextCluster(cluster);
    return 0;
}

uint32_t CDoubleFATTable::GetEntryCount() const {
    if (m_first)
        return m_first->GetEntryCount();
    if (m_second)
        return m_second->GetEntryCount();
    return 0;
}

IRealFATTable* IFATTableFactory::CreateRealFATTable(IStorageDevice* device, int type,
                                                    uint64_t firstSector, uint32_t sectorsPerFat) {
    IRealFATTable* table = nullptr;
    if (type == FILE_SYSTEM_FAT16)
        table = new (std::nothrow) CFAT16Table(device, firstSector, sectorsPerFat);
    else if (type == FILE_SYSTEM_FAT32)
        table = new (std::nothrow) CFAT32Table(device, firstSector, sectorsPerFat);
    if (!table)
        return nullptr;
    if (!table->ReadSector() || !table->IsValidFATTable()) {
        CatchExeception::WriteLog("FAT copy at sector %llu (%u sectors, type %d) refused\n",
                                  static_cast<unsigned long long>(firstSector), sectorsPerFat,
                                  type);
        delete table;
        return nullptr;
    }
    return table;
}

CDoubleFATTable* IFATTableFactory::CreateFATTable(IStorageDevice* device, uint64_t firstFatSector,
                                                  int type, uint32_t sectorsPerFat,
                                                  uint32_t useFirst, uint32_t useSecond) {
    IRealFATTable* first = nullptr;
    IRealFATTable* second = nullptr;
    if (!(useFirst == 0 && useSecond != 0))
        first = CreateRealFATTable(device, type, firstFatSector, sectorsPerFat);
    // The second copy is also read when the first holds damaged links: the
    // copy with fewer of them answers.
    if (useSecond != 0 && (!first || first->GetDamage() != 0)) {
        second = CreateRealFATTable(device, type, firstFatSector + sectorsPerFat, sectorsPerFat);
        if (first && second) {
            if (second->GetDamage() < first->GetDamage()) {
                delete first;
                first = nullptr;
            } else {
                delete second;
                second = nullptr;
            }
        }
    }
    auto* table = new (std::nothrow) CDoubleFATTable(first, second);
    if (!table) {
        delete first;
        delete second;
    }
    return table;
}

bool CFATTableAnalyser::IsValidFATTableFirstSector(const void* sector, size_t length, int& type) {
    vk::ByteReader r(sector, length);
    if (!r.Has(kEntry0, 2 * fat_layout::table::kFat32EntrySize))
        return false;
    if (Fat32HeaderOk(r)) {
        type = FILE_SYSTEM_FAT32;
        return true;
    }
    if (Fat16HeaderOk(r)) {
        type = FILE_SYSTEM_FAT16;
        return true;
    }
    return false;
}

FATChain FollowFATChain(const IFATTable& fat, uint32_t first, uint64_t clusterLimit,
                        size_t maxClusters) {
    FATChain chain;
    const auto inRange = [&](uint32_t c) {
        return c >= 2 && (clusterLimit == 0 || c < clusterLimit);
    };
    if (!inRange(first)) {
        CatchExeception::WriteLog("FAT chain: first cluster %u outside the volume\n", first);
        return chain;
    }
    std::unordered_set<uint32_t> seen;
    uint32_t cur = first;
    for (;;) {
        if (chain.clusters.size() >= maxClusters) {
            CatchExeception::WriteLog("FAT chain from %u cut at %zu clusters\n", first,
                                      maxClusters);
            return chain;
        }
        if (!seen.insert(cur).second) {
            CatchExeception::WriteLog("FAT chain from %u loops back to cluster %u\n", first, cur);
            return chain;
        }
        chain.clusters.push_back(cur);
        const uint32_t next = fat.GetNextCluster(cur);
        if (next >= kFATEndOfChain) {
            chain.cleanEnd = true;
            return chain;
        }
        if (!inRange(next) || next == kFATBadCluster) {
            CatchExeception::WriteLog("FAT chain from %u broken at cluster %u (entry 0x%x)\n",
                                      first, cur, next);
            return chain;
        }
        cur = next;
    }
}
