#include "PartitionTableAnalyze.h"

#include <array>
#include <cstring>
#include <unordered_set>

#include "SectorSize.h"
#include "StorageDeviceData.h"
#include "Utility/CatchExeception.h"

namespace {

constexpr int kMbrTableOffset = 446;
constexpr int kMbrSlotSize = 16;

#define PT_ERROR(e) VK_ERROR(kModulePartitionTable, (e))

bool HasBootSignature(const std::vector<uint8_t>& sector) {
    return sector.size() >= 512 && sector[510] == 0x55 && sector[511] == 0xAA;
}

const std::array<uint32_t, 256>& Crc32Table() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int b = 0; b < 8; ++b)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

}  // namespace

uint32_t GptCrc32(const uint8_t* data, size_t length) {
    const auto& table = Crc32Table();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xff];
    return crc ^ 0xFFFFFFFFu;
}

CPartitionTableEntry::CPartitionTableEntry(const uint8_t* slot) {
    vk::ByteReader r(slot, kMbrSlotSize);
    boot_ = r.U8(0);
    type_ = r.U8(4);
    lead_ = r.LE32(8);
    count_ = r.LE32(12);
    empty_ = true;
    for (int i = 0; i < kMbrSlotSize; ++i)
        empty_ = empty_ && slot[i] == 0;
}

VKRESULT ReadDeviceSectors(IStorageDevice* device, int64_t first, int64_t count,
                           std::vector<uint8_t>& out) {
    int64_t total = device->GetTotalSectors();
    int64_t ss = device->GetSectorSize();
    if (first < 0 || count < 1 || first >= total || count > total - first)
        return PT_ERROR(kErrBadPartitionTable);
    out.assign(static_cast<size_t>(count * ss), 0);
    if (!device->ReadSector(out.data(), first, count)) {
        VKRESULT err = device->GetLastError();
        return ResultFailed(err) ? err : PT_ERROR(kErrFailed);
    }
    return VK_OK;
}

bool AppendFittedEntry(std::vector<PartitionEntry>& list, PartitionEntry entry,
                       int64_t totalSectors) {
    if (entry.startSector < 0 || entry.startSector >= totalSectors)
        return false;
    if (entry.sectorCount < 1 || entry.sectorCount > totalSectors - entry.startSector)
        entry.sectorCount = totalSectors - entry.startSector;
    list.push_back(entry);
    return true;
}

// ---- MBR and extended chain -------------------------------------------------

VKRESULT CPartitionTableChainAnalyzer::Analyze(IStorageDevice* device,
                                               const std::vector<uint8_t>& sector0,
                                               std::vector<PartitionEntry>& list) {
    if (!HasBootSignature(sector0))
        return PT_ERROR(kErrBadPartitionTable);
    for (int i = 0; i < 4; ++i) {
        CPartitionTableEntry slot(sector0.data() + kMbrTableOffset + kMbrSlotSize * i);
        if (!slot.HasValidBootIndicator())
            return PT_ERROR(kErrBadPartitionTable);
    }
    const int64_t total = device->GetTotalSectors();
    nextLogical_ = 5;
    leftOut_ = 0;
    for (int i = 0; i < 4; ++i) {
        CPartitionTableEntry slot(sector0.data() + kMbrTableOffset + kMbrSlotSize * i);
        if (slot.IsEmpty())
            continue;
        if (slot.IsExtended()) {
            VKRESULT r = WalkChain(device, slot.GetLeadSectors(), list);
            if (ResultFailed(r))
                return r;
            continue;
        }
        PartitionEntry e{};
        e.index = i + 1;
        e.startSector = slot.GetLeadSectors();
        e.sectorCount = slot.GetTotalSectors();
        if (!AppendFittedEntry(list, e, total))
            ++leftOut_;
    }
    if (leftOut_)
        CatchExeception::WriteLog("MBR: %d partitions start past the disk; left out\n", leftOut_);
    return VK_OK;
}

VKRESULT CPartitionTableChainAnalyzer::WalkChain(IStorageDevice* device, int64_t extendedStart,
                                                 std::vector<PartitionEntry>& list) {
    const int64_t total = device->GetTotalSectors();
    std::unordered_set<int64_t> visited;
    std::vector<uint8_t> sector;
    int64_t current = extendedStart;
    // An EBR may link anywhere, itself included: the walk ends on the first
    // record seen twice, on a record outside the disk, or after the cap.
    for (int step = 0;; ++step) {
        if (step >= kMaxChainLength) {
            CatchExeception::WriteLog(
                "Extended partition chain longer than %d records; walk ended\n", kMaxChainLength);
            return VK_OK;
        }
        if (current < 0 || current >= total) {
            CatchExeception::WriteLog(
                "Extended boot record at sector %lld lies outside the disk; walk ended\n",
                static_cast<long long>(current));
            return VK_OK;
        }
        if (!visited.insert(current).second)
            return VK_OK;

        VKRESULT r = ReadDeviceSectors(device, current, 1, sector);
        if (ResultFailed(r))
            return r;
        if (!HasBootSignature(sector))
            return PT_ERROR(kErrBadPartitionTable);
        for (int i = 0; i < 4; ++i) {
            if (!CPartitionTableEntry(sector.data() + kMbrTableOffset + kMbrSlotSize * i)
                     .HasValidBootIndicator())
                return PT_ERROR(kErrBadPartitionTable);
        }

        int64_t next = -1;
        for (int i = 0; i < 4; ++i) {
            CPartitionTableEntry slot(sector.data() + kMbrTableOffset + kMbrSlotSize * i);
            if (slot.IsEmpty())
                continue;
            const int64_t start = current + slot.GetLeadSectors();
            bool seen = false;
            for (const auto& e : list)
                seen = seen || e.startSector == start;
            if (seen)
                break;
            if (slot.IsExtended()) {
                if (next >= 0)
                    return PT_ERROR(kErrBadPartitionTable);
                next = extendedStart + slot.GetLeadSectors();
                continue;
            }
            PartitionEntry e{};
            e.index = nextLogical_++;
            e.startSector = start;
            e.sectorCount = slot.GetTotalSectors();
            if (!AppendFittedEntry(list, e, total))
                ++leftOut_;
        }
        if (next < 0)
            return VK_OK;
        current = next;
    }
}

// ---- GPT --------------------------------------------------------------------

bool CBaseGPTAnalyzer::ReadTable(IStorageDevice* device, int64_t headerLba,
                                 std::vector<uint8_t>& entries, uint32_t& count, uint32_t& size,
                                 uint64_t* alternateLba) {
    const int64_t total = device->GetTotalSectors();
    const int64_t ss = device->GetSectorSize();
    std::vector<uint8_t> sector;
    if (ResultFailed(ReadDeviceSectors(device, headerLba, 1, sector)))
        return false;
    vk::ByteReader h(sector.data(), sector.size());
    if (!h.Matches(0, "EFI PART"))
        return false;
    uint32_t headerSize = h.LE32(12);
    if (headerSize < 92 || headerSize > sector.size())
        return false;
    std::vector<uint8_t> copy(sector.begin(), sector.begin() + headerSize);
    std::memset(copy.data() + 16, 0, 4);
    if (GptCrc32(copy.data(), copy.size()) != h.LE32(16))
        return false;
    if (h.LE64(24) != static_cast<uint64_t>(headerLba))
        return false;
    if (alternateLba)
        *alternateLba = h.LE64(32);

    uint64_t entryLba = h.LE64(72);
    count = h.LE32(80);
    size = h.LE32(84);
    if (count == 0 || size < 128 || size % 8 != 0)
        return false;
    uint64_t bytes = static_cast<uint64_t>(count) * size;
    if (bytes > kMaxEntryArrayBytes)
        return false;
    int64_t sectors = static_cast<int64_t>((bytes + ss - 1) / ss);
    if (entryLba < 1 || entryLba >= static_cast<uint64_t>(total))
        return false;
    std::vector<uint8_t> array;
    if (ResultFailed(ReadDeviceSectors(device, static_cast<int64_t>(entryLba), sectors, array)))
        return false;
    if (GptCrc32(array.data(), bytes) != h.LE32(88))
        return false;
    array.resize(bytes);
    entries.swap(array);
    return true;
}

VKRESULT CBaseGPTAnalyzer::Analyze(IStorageDevice* device, std::vector<PartitionEntry>& list) {
    const int64_t total = device->GetTotalSectors();
    const int64_t ss = device->GetSectorSize();
    std::vector<uint8_t> entries;
    uint32_t count = 0, size = 0;
    uint64_t alternate = 0;
    source_ = 0;
    if (ReadTable(device, 1, entries, count, size, &alternate)) {
        source_ = 1;
    } else {
        std::vector<int64_t> backups;
        if (alternate > 1 && alternate < static_cast<uint64_t>(total))
            backups.push_back(static_cast<int64_t>(alternate));
        if (total > 2 && (backups.empty() || backups[0] != total - 1))
            backups.push_back(total - 1);
        for (int64_t lba : backups) {
            if (ReadTable(device, lba, entries, count, size, nullptr)) {
                source_ = 2;
                CatchExeception::WriteLog(
                    "GPT primary table damaged; using the backup at sector %lld\n",
                    static_cast<long long>(lba));
                break;
            }
        }
    }
    if (source_ == 0) {
        // Neither table checks out: read the usual 128 entries where they
        // normally lie, as the partitions there may still be right.
        CatchExeception::WriteLog(
            "GPT headers damaged; reading the entries at sector 2 unchecked\n");
        count = 128;
        size = 128;
        int64_t sectors = (int64_t{128} * 128 + ss - 1) / ss;
        VKRESULT r = ReadDeviceSectors(device, 2, sectors, entries);
        if (ResultFailed(r))
            return r;
    }

    const int64_t smallest = kSmallPartitionBytes / ss;
    int leftOut = 0;
    for (uint32_t i = 0; i < count; ++i) {
        vk::ByteReader e =
            vk::ByteReader(entries.data(), entries.size()).Sub(static_cast<size_t>(i) * size, 128);
        if (e.failed())
            break;
        bool used = false;
        for (int b = 0; b < 16; ++b)
            used = used || e.U8(b) != 0;
        if (!used)
            continue;
        uint64_t first = e.LE64(32);
        uint64_t last = e.LE64(40);
        if (first >= static_cast<uint64_t>(total)) {
            ++leftOut;
            continue;
        }
        PartitionEntry p{};
        p.index = static_cast<int32_t>(i + 1);
        p.startSector = static_cast<int64_t>(first);
        p.sectorCount = (last >= static_cast<uint64_t>(total) || last < first)
                            ? total - p.startSector
                            : static_cast<int64_t>(last - first + 1);
        if (p.sectorCount <= smallest)
            continue;
        e.Copy(0, p.typeGuid, 16);
        e.Copy(16, p.uniqueGuid, 16);
        list.push_back(p);
    }
    if (leftOut)
        CatchExeception::WriteLog("GPT: %d entries start past the disk; left out\n", leftOut);
    return VK_OK;
}

// ---- Apple partition map ----------------------------------------------------

VKRESULT CAPMAnaly::Analyze(IStorageDevice* device, std::vector<PartitionEntry>& list) {
    const int64_t ss = device->GetSectorSize();
    const int64_t total = device->GetTotalSectors();
    if (ss <= 0 || !vk::IsValidSectorSize(static_cast<uint64_t>(ss)))
        return PT_ERROR(kErrNotSupported);
    std::vector<uint8_t> block;
    VKRESULT r = ReadDeviceSectors(device, 0, 1, block);
    if (ResultFailed(r))
        return r;
    vk::ByteReader ddr(block.data(), block.size());
    if (!ddr.Matches(0, "ER"))
        return PT_ERROR(kErrBadPartitionTable);
    const int64_t blockSize = ddr.BE16(2);
    // A block smaller than a sector, or not a whole number of sectors, cannot
    // be mapped onto this device.
    if (blockSize < ss || blockSize % ss != 0)
        return PT_ERROR(kErrBadPartitionTable);
    const int64_t perBlock = blockSize / ss;

    r = ReadDeviceSectors(device, perBlock, 1, block);
    if (ResultFailed(r))
        return r;
    vk::ByteReader first(block.data(), block.size());
    if (!first.Matches(0, "PM") && !first.Matches(0, "TS"))
        return PT_ERROR(kErrBadPartitionTable);
    uint32_t entries = first.BE32(4);
    if (entries > kMaxMapEntries)
        return PT_ERROR(kErrBadPartitionTable);
    int leftOut = 0;

    for (uint32_t i = 1; i <= entries; ++i) {
        const int64_t sector = static_cast<int64_t>(i) * perBlock;
        if (sector >= total) {
            CatchExeception::WriteLog("Apple partition map runs past the disk at entry %u\n", i);
            break;
        }
        r = ReadDeviceSectors(device, sector, 1, block);
        if (ResultFailed(r))
            return r;
        vk::ByteReader m(block.data(), block.size());
        if (!m.Matches(0, "PM") && !m.Matches(0, "TS"))
            continue;
        PartitionEntry p{};
        p.index = static_cast<int32_t>(i);
        p.startSector = static_cast<int64_t>(m.BE32(8)) * perBlock;
        p.sectorCount = static_cast<int64_t>(m.BE32(12)) * perBlock;
        m.Copy(48, p.typeText, sizeof p.typeText);
        if (p.sectorCount < 1)
            continue;
        if (!AppendFittedEntry(list, p, total))
            ++leftOut;
    }
    if (leftOut)
        CatchExeception::WriteLog("Apple map: %d partitions start past the disk; left out\n",
                                  leftOut);
    return VK_OK;
}

// ---- Detection --------------------------------------------------------------

VKRESULT CPartitionTableAnalyze::AnalyzePartitionTable(IStorageDevice* device,
                                                       std::vector<PartitionEntry>& list) {
    list.clear();
    scheme_ = kSchemeNone;
    if (!device)
        return PT_ERROR(kErrBadArgument);
    if (device->GetType() != kDeviceDisk)
        return PT_ERROR(kErrNotSupported);
    auto* disk = dynamic_cast<IDiskDeviceData*>(device->GetPrivateData());
    if (!disk || !disk->GetDiskInfo())
        return PT_ERROR(kErrNoInformation);
    if (disk->GetDiskInfo()->flag != 0)
        return PT_ERROR(kErrNotSupported);

    const int ss = device->GetSectorSize();
    if (ss <= 0)
        return PT_ERROR(kErrSectorTooSmall);
    // A size the one rule refuses is not a disk we understand; refusing it
    // also bounds every buffer below. Sizes under 512 get their own answer
    // once sector 0 says what the disk is.
    if (ss >= 512 && !vk::IsValidSectorSize(static_cast<uint64_t>(ss)))
        return PT_ERROR(kErrNotSupported);
    std::vector<uint8_t> sector0;
    VKRESULT r = ReadDeviceSectors(device, 0, 1, sector0);
    if (ResultFailed(r)) {
        // An empty device has nothing to read; any other failure is the device's.
        return device->GetTotalSectors() < 1 ? VK_OK : r;
    }

    const bool isApm = sector0[0] == 'E' && sector0[1] == 'R';
    if (ss < 512) {
        if (isApm)
            return PT_ERROR(kErrNotSupported);
        return PT_ERROR(kErrSectorTooSmall);
    }
    const bool signature = HasBootSignature(sector0);
    const bool isGpt = signature && sector0[kMbrTableOffset + 4] == 0xEE;
    if (isGpt || (!isApm && signature)) {
        for (int i = 0; i < 4; ++i) {
            if (sector0[kMbrTableOffset + kMbrSlotSize * i + 4] == 0x42) {
                CatchExeception::WriteLog("Dynamic disk: partition table not read\n");
                return PT_ERROR(kErrNotSupported);
            }
        }
    }
    if (isGpt) {
        scheme_ = kSchemeGPT;
        return CBaseGPTAnalyzer().Analyze(device, list);
    }
    if (isApm) {
        scheme_ = kSchemeAPM;
        return CAPMAnaly().Analyze(device, list);
    }
    if (signature) {
        scheme_ = kSchemeMBR;
        return CPartitionTableChainAnalyzer().Analyze(device, sector0, list);
    }
    return VK_OK;
}

IPartitionTableAnalyze* CreatePartitionTableAnalyze() {
    return new CPartitionTableAnalyze();
}
