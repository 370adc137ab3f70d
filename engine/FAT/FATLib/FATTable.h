// File allocation tables of FAT16 and FAT32 volumes, each copy held wholly in
// memory so that following a chain costs no device access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FATDBR.h"

class IStorageDevice;

// Values answered by GetNextCluster: FAT16 markers are widened to the FAT32
// ones so that callers test one set.
constexpr uint32_t kFATClusterMask = fat_layout::table::kFat32EntryMask;
constexpr uint32_t kFATBadCluster = 0x0FFFFFF7;
constexpr uint32_t kFATEndOfChain = 0x0FFFFFF8;  // this value and above

class IFATTable {
public:
    virtual ~IFATTable() = default;
    // The entry of `cluster`, 0 when there is none.
    virtual uint32_t GetNextCluster(uint32_t cluster) const = 0;
    // False when no copy of the table could be read: every entry then
    // answers 0, and a chain cannot be told from a freed one.
    virtual bool HasEntries() const { return true; }
};

// One copy of the FAT.
class IRealFATTable : public IFATTable {
public:
    IRealFATTable(IStorageDevice* device, uint64_t firstSector, uint32_t sectors,
                  uint32_t entryWidth);

    // Reads the whole copy in one device read; false (no buffer kept) when
    // the copy is outside the size limits or the read fails.
    bool ReadSector();
    // A FAT header, and damaged links few enough to be local damage; see
    // the .cpp.
    bool IsValidFATTable() const;
    // Damaged links counted when the copy was read: entries that name no
    // cluster of the table (1, itself, past its end) and chains that join
    // another or loop.
    uint32_t GetDamage() const { return m_bodyDamage + m_chainDamage; }
    // Links the chain check followed: one pass over the table.
    uint64_t GetCheckSteps() const { return m_checkSteps; }

    uint32_t GetEntryCount() const { return m_entryCount; }
    uint32_t GetSectorSize() const { return m_sectorSize; }
    uint64_t GetFirstSector() const { return m_firstSector; }
    uint32_t GetSectorCount() const { return m_sectors; }
    // The entry as stored, widened/masked to 28 bits; 0 past the table.
    virtual uint32_t RawEntry(uint32_t cluster) const = 0;

    // Sectors-per-FAT bounds of this kind of table, for a device sector size.
    virtual bool SizeAllowed(uint32_t sectors) const = 0;
    virtual bool CheckFATHeader() const = 0;
    // No damaged entry; no damaged chain.
    bool CheckFATBody() const;
    bool CheckFATIndex() const;

protected:
    void CountDamage();
    virtual uint32_t LastLinkValue() const = 0;  // highest value that continues a chain

    IStorageDevice* m_device;
    uint64_t m_firstSector;
    uint32_t m_sectors;
    uint32_t m_entryWidth;
    uint32_t m_entryCount = 0;
    uint32_t m_sectorSize;
    std::vector<uint8_t> m_buffer;
    uint32_t m_bodyDamage = 0;
    uint32_t m_chainDamage = 0;
    uint64_t m_checkSteps = 0;
};

class CFAT16Table final : public IRealFATTable {
public:
    CFAT16Table(IStorageDevice* device, uint64_t firstSector, uint32_t sectors)
        : IRealFATTable(device, firstSector, sectors, fat_layout::table::kFat16EntrySize) {}
    uint32_t GetNextCluster(uint32_t cluster) const override;
    uint32_t RawEntry(uint32_t cluster) const override;
    bool SizeAllowed(uint32_t sectors) const override;
    bool CheckFATHeader() const override;

protected:
    uint32_t LastLinkValue() const override { return fat_layout::table::kFat16LastLink; }
};

class CFAT32Table final : public IRealFATTable {
public:
    CFAT32Table(IStorageDevice* device, uint64_t firstSector, uint32_t sectors)
        : IRealFATTable(device, firstSector, sectors, fat_layout::table::kFat32EntrySize) {}
    // The top four bits of a FAT32 entry are reserved and some systems set
    // them, so the entry is always masked to 28 bits.
    uint32_t GetNextCluster(uint32_t cluster) const override;
    uint32_t RawEntry(uint32_t cluster) const override;
    bool SizeAllowed(uint32_t sectors) const override;
    bool CheckFATHeader() const override;

protected:
    uint32_t LastLinkValue() const override { return fat_layout::table::kFat32LastLink; }
};

// Up to two copies; the first that exists answers.
class CDoubleFATTable final : public IFATTable {
public:
    CDoubleFATTable(IRealFATTable* first, IRealFATTable* second)
        : m_first(first), m_second(second) {}
    ~CDoubleFATTable() override;
    CDoubleFATTable(const CDoubleFATTable&) = delete;
    CDoubleFATTable& operator=(const CDoubleFATTable&) = delete;

    uint32_t GetNextCluster(uint32_t cluster) const override;
    bool HasEntries() const override { return HasCopy(); }
    const IRealFATTable* First() const { return m_first; }
    const IRealFATTable* Second() const { return m_second; }
    bool HasCopy() const { return m_first || m_second; }
    // Entries of the copy in use; 0 without one.
    uint32_t GetEntryCount() const;

private:
    IRealFATTable* m_first;
    IRealFATTable* m_second;
};

class IFATTableFactory {
public:
    // One checked copy of type 1 (FAT16) or 2 (FAT32); null when it is
    // refused (not a FAT, or more damaged than local damage) or cannot be
    // read.
    static IRealFATTable* CreateRealFATTable(IStorageDevice* device, int type, uint64_t firstSector,
                                             uint32_t sectorsPerFat);
    // Always a new table over the copy that answers (maybe none): the first,
    // or the second when the first is refused or holds more damaged links.
    static CDoubleFATTable* CreateFATTable(IStorageDevice* device, uint64_t firstFatSector,
                                           int type, uint32_t sectorsPerFat, uint32_t useFirst,
                                           uint32_t useSecond);
    static void DestroyFATTable(IFATTable* table) { delete table; }
};

class CFATTableAnalyser {
public:
    // True when the sector starts like a FAT: type 2 for a FAT32 header,
    // else type 1 for a FAT16 one. A FAT16 header can also pass the FAT32
    // test, so callers rely on the answer, not on the type.
    static bool IsValidFATTableFirstSector(const void* sector, size_t length, int& type);
    static bool IsUsedCluster(uint64_t n) { return n >= 2 && n <= 0x0FFFFFEF; }
};

// Follows a chain from `first`, bounded and cycle-safe: stops at an end
// marker, a free or bad entry, a cluster outside [2, clusterLimit) (when
// clusterLimit is non-zero), a cluster seen before in this chain, or after
// maxClusters clusters. Anything but a clean end is logged once.
struct FATChain {
    std::vector<uint32_t> clusters;
    bool cleanEnd = false;  // ended on an end-of-chain marker
};
FATChain FollowFATChain(const IFATTable& fat, uint32_t first, uint64_t clusterLimit,
                        size_t maxClusters);
