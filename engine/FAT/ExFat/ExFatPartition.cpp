#include "ExFatPartition.h"

#include <algorithm>
#include <map>
#include <new>

#include "ExFatFileNode.h"
#include "ExFatLayout.h"
#include "FATDirEntry.h"
#include "Utility/CatchExeception.h"

long long DosTime2FileTime(uint16_t time, uint16_t date) {
    // The FAT code's conversion: the same DOS layout and local-time rule,
    // with its cache of converted days.
    _FILETIME ft{};
    DosDateTimeToFileTime(date, time, &ft);
    return static_cast<long long>(FileTimeToU64(ft));
}

uint64_t CExFatPartition::ConvertClusterNumToSector(uint64_t cluster) const {
    if (cluster < 2)
        return 0;
    return m_heapStart + (cluster - 2) * m_sectorsPerCluster;
}

uint32_t CExFatPartition::ConvertSectorToClusterNum(uint64_t sector) const {
    if (m_sectorsPerCluster == 0)
        return 0;
    return static_cast<uint32_t>(
        (sector + m_sectorsPerCluster - 1 - m_heapStart) / m_sectorsPerCluster + 2);
}

uint32_t CExFatPartition::GetNextCluster(uint32_t cluster, bool noFatChain) {
    if (noFatChain && !m_fat.IsValid())
        return cluster;
    const uint32_t next = m_fat.GetNextCluster(cluster);
    return next >= GetClusterLimit() ? exfat::kEndOfChain : next;
}

namespace {

// The runs gathered so far, able to tell whether a cluster is among them.
// Most chains are one or a few runs, scanned directly; long ones get an
// ordered index.
class RunSet {
public:
    bool Contains(uint32_t cluster) const {
        if (index_.empty()) {
            for (const ExFatClusterRun& r : runs_) {
                if (cluster >= r.first && cluster - r.first < r.count)
                    return true;
            }
            return false;
        }
        auto it = index_.upper_bound(cluster);
        if (it == index_.begin())
            return false;
        --it;
        return cluster - it->first < it->second;
    }
    void Add(uint32_t cluster) {
        if (!runs_.empty() && runs_.back().first + runs_.back().count == cluster) {
            ++runs_.back().count;
            if (!index_.empty())
                index_[runs_.back().first] = runs_.back().count;
            return;
        }
        runs_.push_back({cluster, 1});
        if (!index_.empty()) {
            index_.emplace(cluster, 1);
        } else if (runs_.size() > kScanLimit) {
            for (const ExFatClusterRun& r : runs_)
                index_.emplace(r.first, r.count);
        }
    }
    std::vector<ExFatClusterRun> Take() { return std::move(runs_); }

private:
    static constexpr size_t kScanLimit = 16;
    std::vector<ExFatClusterRun> runs_;
    std::map<uint32_t, uint32_t> index_;
};

}  // namespace

std::vector<ExFatClusterRun> CExFatPartition::GetClusterRuns(uint32_t first, uint64_t length,
                                                             bool noFatChain, bool deleted,
                                                             bool* cut) {
    if (cut)
        *cut = false;
    const uint64_t limit = GetClusterLimit();
    const uint64_t bytesPerCluster = GetBytesPerCluster();
    if (!IsHeapCluster(first) || bytesPerCluster == 0) {
        if (cut)
            *cut = length != 0;
        return {};
    }
    const uint64_t needed =
        length == kWholeChain
            ? limit - 2
            : std::max<uint64_t>(1, length / bytesPerCluster + (length % bytesPerCluster != 0));
    if (noFatChain) {
        const uint64_t count = std::min<uint64_t>(needed, limit - first);
        if (cut)
            *cut = count < needed;
        return {{first, static_cast<uint32_t>(count)}};
    }
    RunSet runs;
    bool followFat = true;
    uint64_t taken = 0;
    uint64_t cluster = first;
    bool complete = false;
    while (true) {
        if (runs.Contains(static_cast<uint32_t>(cluster)))
            break;  // the chain comes back: a cyclic FAT
        runs.Add(static_cast<uint32_t>(cluster));
        if (++taken >= needed) {
            complete = true;
            break;
        }
        uint64_t next =
            followFat ? m_fat.GetNextCluster(static_cast<uint32_t>(cluster)) : cluster + 1;
        if (deleted && followFat && next == exfat::kFreeCluster) {
            followFat = false;
            next = cluster + 1;
        }
        if (next >= exfat::kBadCluster) {
            complete = length == kWholeChain;
            break;
        }
        if (next < 2 || next >= limit)
            break;
        cluster = next;
    }
    if (cut)
        *cut = !complete;
    return runs.Take();
}

IDataRunList* CExFatPartition::BuildFileDataRun(const _tagFileBaseInfo& record) {
    auto* list = new (std::nothrow) CDataRunList();
    if (!list)
        return nullptr;
    if (record.IsDirectory() || record.dataLength == 0 || record.firstCluster < 2 ||
        record.firstCluster > exfat::kLastValidCluster)
        return list;
    bool cut = false;
    const std::vector<ExFatClusterRun> runs = GetClusterRuns(
        record.firstCluster, record.dataLength, record.noFatChain != 0, record.inUse == 0, &cut);
    if (cut && record.inUse != 0) {
        CatchExeception::WriteLog(
            "exFAT: clusters of \"%s\" end before its %llu bytes (first cluster %u)\n",
            record.name.c_str(), static_cast<unsigned long long>(record.dataLength),
            record.firstCluster);
    }
    for (const ExFatClusterRun& r : runs) {
        const DataRun run(static_cast<long long>(r.first) - 2, r.count);
        list->AddDataRun(&run);
    }
    return list;
}

CExFatFileNode* CExFatPartition::BuildFile(const _tagFileBaseInfo& record) {
    auto* node = new (std::nothrow) CExFatFileNode();
    if (!node)
        return nullptr;
    node->SetFirstCluster(record.firstCluster);
    node->SetFileAttributes(record.attributes);
    node->SetFileTime(DosTime2FileTime(static_cast<uint16_t>(record.createTime),
                                       static_cast<uint16_t>(record.createTime >> 16)),
                      DosTime2FileTime(static_cast<uint16_t>(record.modifyTime),
                                       static_cast<uint16_t>(record.modifyTime >> 16)),
                      DosTime2FileTime(static_cast<uint16_t>(record.accessTime),
                                       static_cast<uint16_t>(record.accessTime >> 16)));
    node->SetFileName(record.name.c_str());
    node->SetFileSize(static_cast<long long>(record.dataLength));
    // What lies past the valid data length was never written: the volume
    // shows zeros there, and so do we.
    if (!record.IsDirectory() && record.validDataLength < record.dataLength)
        node->SetValidDataLength(static_cast<long long>(record.validDataLength));
    node->SetMetaDataSector(static_cast<long long>(record.metadataSector));
    if (record.inUse == 0)
        node->SetFileDeleted();
    node->SetDataRunList(BuildFileDataRun(record));
    return node;
}
