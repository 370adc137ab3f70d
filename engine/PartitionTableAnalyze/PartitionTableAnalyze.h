// Reads the partition table of a whole disk: MBR with its chain of extended
// boot records, GPT, or the Apple partition map.
#pragma once

#include <cstdint>
#include <vector>

#include "ByteReader.h"
#include "IStorageDevice.h"
#include "ResultCode.h"

// Error numbers of this module besides the shared ones.
enum PartitionTableError : uint32_t {
    kErrBadPartitionTable = 0x6,
    kErrSectorTooSmall = 0x8,
};

struct PartitionEntry {
    int32_t index;  // MBR slot 1-4, logicals 5, 6, ... in chain order; GPT/APM entry number from 1
    int32_t reserved;     // always 0
    int64_t startSector;  // absolute, in device sectors
    int64_t sectorCount;
    uint8_t typeGuid[16];    // GPT only, as stored
    uint8_t uniqueGuid[16];  // GPT only
    char typeText[32];       // APM only, not terminated when all 32 bytes are used
};

enum enumDiskPartitionScheme : int {
    kSchemeNone = 0,
    kSchemeMBR = 1,
    kSchemeGPT = 2,
    kSchemeAPM = 3,
};

class IPartitionTableAnalyze {
public:
    virtual ~IPartitionTableAnalyze() = default;
    // Empties `list`, then appends the disk's partitions. On failure the
    // list keeps what was appended before it.
    virtual VKRESULT AnalyzePartitionTable(IStorageDevice* device,
                                           std::vector<PartitionEntry>& list) = 0;
};

IPartitionTableAnalyze* CreatePartitionTableAnalyze();

// One 16-byte MBR slot.
class CPartitionTableEntry {
public:
    explicit CPartitionTableEntry(const uint8_t* slot);
    uint8_t GetBootIndicator() const { return boot_; }
    uint8_t GetType() const { return type_; }
    uint32_t GetLeadSectors() const { return lead_; }
    uint32_t GetTotalSectors() const { return count_; }
    int64_t GetEndSector() const { return static_cast<int64_t>(lead_) + count_ - 1; }
    bool IsEmpty() const { return empty_; }
    bool IsExtended() const { return type_ == 0x05 || type_ == 0x0F; }
    bool HasValidBootIndicator() const { return boot_ == 0x00 || boot_ == 0x80; }

private:
    uint8_t boot_;
    uint8_t type_;
    uint32_t lead_;
    uint32_t count_;
    bool empty_;
};

// Reads `count` sectors from `first` into `out`; checks the range first.
VKRESULT ReadDeviceSectors(IStorageDevice* device, int64_t first, int64_t count,
                           std::vector<uint8_t>& out);

// Appends an entry after fitting it to the device: a count that reaches
// past the end, or is below 1, is cut to the end; an entry that starts at or
// past the end is left out (the caller logs it). Returns whether it was appended.
bool AppendFittedEntry(std::vector<PartitionEntry>& list, PartitionEntry entry,
                       int64_t totalSectors);

// The MBR and its extended chain.
class CPartitionTableChainAnalyzer {
public:
    // Extended boot records walked per extended partition before the walk
    // is ended; the chain of a real disk is far shorter.
    static constexpr int kMaxChainLength = 1024;

    VKRESULT Analyze(IStorageDevice* device, const std::vector<uint8_t>& sector0,
                     std::vector<PartitionEntry>& list);

private:
    VKRESULT WalkChain(IStorageDevice* device, int64_t extendedStart,
                       std::vector<PartitionEntry>& list);
    int32_t nextLogical_ = 5;
    int leftOut_ = 0;
};

// GPT: the primary header and entries when their CRCs hold, else the backup,
// else the 128 entries at sector 2 read without a header.
class CBaseGPTAnalyzer {
public:
    static constexpr uint64_t kMaxEntryArrayBytes = 4u << 20;
    static constexpr int64_t kSmallPartitionBytes = 0x800000;

    VKRESULT Analyze(IStorageDevice* device, std::vector<PartitionEntry>& list);
    // Which table the entries came from: 1 primary, 2 backup, 0 headerless.
    int Source() const { return source_; }

private:
    bool ReadTable(IStorageDevice* device, int64_t headerLba, std::vector<uint8_t>& entries,
                   uint32_t& count, uint32_t& size, uint64_t* alternateLba);
    int source_ = 0;
};

// Apple partition map, big-endian.
class CAPMAnaly {
public:
    static constexpr uint32_t kMaxMapEntries = 31;
    VKRESULT Analyze(IStorageDevice* device, std::vector<PartitionEntry>& list);
};

class CPartitionTableAnalyze : public IPartitionTableAnalyze {
public:
    VKRESULT AnalyzePartitionTable(IStorageDevice* device,
                                   std::vector<PartitionEntry>& list) override;
    // The scheme found by the last analysis.
    enumDiskPartitionScheme GetScheme() const { return scheme_; }

private:
    enumDiskPartitionScheme scheme_ = kSchemeNone;
};

// CRC-32 as GPT stores it (reflected, polynomial 0xEDB88320, inverted).
uint32_t GptCrc32(const uint8_t* data, size_t length);
