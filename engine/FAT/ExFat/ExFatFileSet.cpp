#include "ExFatFileSet.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "ExFatLayout.h"

namespace {

bool IsHeapClusterNumber(uint32_t cluster) {
    return cluster >= exfat::kFirstCluster && cluster <= exfat::kLastValidCluster;
}

}  // namespace

void CFileSet::UpdateFileList(_tagFileBaseInfo&& record) {
    if (IsHeapClusterNumber(record.firstCluster)) {
        lowestCluster = std::min(lowestCluster, record.firstCluster);
        highestCluster = std::max(highestCluster, record.firstCluster);
    }
    // A folder's length is a whole number of clusters: a cluster can be no
    // larger than the largest power of two dividing it.
    if (record.IsDirectory() && record.dataLength != 0) {
        const uint64_t divisor = record.dataLength & (~record.dataLength + 1);
        maxClusterSize = std::min(maxClusterSize, divisor);
    }
    if (record.inUse == 0) {
        deleted.push_back(std::move(record));
        return;
    }
    if (record.IsDirectory() && IsHeapClusterNumber(record.firstCluster))
        folders.push_back(record.firstCluster);
    const auto at = std::upper_bound(
        live.begin(), live.end(), record.firstCluster,
        [](uint32_t cluster, const _tagFileBaseInfo& r) { return cluster < r.firstCluster; });
    live.insert(at, std::move(record));
}

void CFileSet::SetBitmapInfo(uint32_t cluster, uint64_t length) {
    flags |= kFileSetBitmap;
    // The bitmap's bits count the heap's clusters; one beyond 32 bits names
    // no exFAT volume.
    const uint64_t bits = length * 8;
    totalClusters = bits <= exfat::kLastValidCluster ? static_cast<uint32_t>(bits) : 0;
    if (cluster < exfat::kLastValidCluster)
        rootMinCluster = std::max(rootMinCluster, cluster + 1);
}

void CFileSet::SetUpcaseTableInfo(uint32_t cluster, uint64_t length) {
    flags |= kFileSetUpcase;
    upcaseCluster = cluster;
    upcaseLength = length;
    if (cluster < exfat::kLastValidCluster)
        rootMinCluster = std::max(rootMinCluster, cluster + 1);
}

void CFileSet::SetVolumeLabel(std::string text) {
    flags |= kFileSetLabel;
    label = std::move(text);
}

void CFileSet::RecordSector(uint64_t sector) {
    if (!hasSector) {
        firstSector = sector;
        hasSector = true;
    }
    if (sector >= firstSector && sector - firstSector < UINT32_MAX)
        sectorCount = static_cast<uint32_t>(sector - firstSector + 1);
}

void CFileSet::CalculateClusterSize(uint32_t sectorSize) {
    if (finished)
        return;
    finished = true;
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    // A contiguous file of L bytes at cluster a, followed by the next file at
    // cluster b, needs clusters of at least L / (b - a) bytes.
    const _tagFileBaseInfo* previous = nullptr;
    for (const _tagFileBaseInfo& r : live) {
        if (!IsHeapClusterNumber(r.firstCluster))
            continue;
        if (previous && previous->noFatChain != 0 && previous->dataLength != 0 &&
            r.firstCluster > previous->firstCluster) {
            const uint64_t gap = r.firstCluster - previous->firstCluster;
            const uint64_t needed = (previous->dataLength + gap - 1) / gap;
            const uint64_t size =
                needed > kMaxClusterBytes ? kMaxClusterBytes * 2 : std::bit_ceil(needed);
            minClusterSize = std::max(minClusterSize, size);
        }
        previous = &r;
    }
    const uint64_t unit = sectorSize ? sectorSize : 512;
    minClusterSize = std::max<uint64_t>(1, minClusterSize / unit);
    maxClusterSize = maxClusterSize / unit;
}

void CFileSet::NarrowWith(CFileSet& other) {
    const uint64_t low = std::max(minClusterSize, other.minClusterSize);
    const uint64_t high = std::min(maxClusterSize, other.maxClusterSize);
    minClusterSize = other.minClusterSize = low;
    maxClusterSize = other.maxClusterSize = high;
}
