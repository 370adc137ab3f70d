#include "NTFSPartitionInfo.h"

#include <algorithm>

#include "CheckedMath.h"
#include "NTFSLib/NTFSDBR.h"

CSearchedNTFSPartitionInfo::CSearchedNTFSPartitionInfo(unsigned sectorSize)
    : CSearchedPartitionInfo(sectorSize) {
    fileSystemType = 3;
    position2 = 0;
    fsValue = 0;
}

std::unique_ptr<CSearchedNTFSPartitionInfo>
CSearchedNTFSPartitionInfo::BuildPartitionInfoAccordingtoFileRecord(
    int64_t recordSector, int64_t cluster, uint32_t sectorsPerCluster, uint32_t flag,
    int64_t deviceTotalSectors, unsigned sectorSize) {
    if (cluster < 0 || sectorsPerCluster == 0 || sectorsPerCluster > 128)
        return nullptr;
    int64_t offset = 0;
    if (!vk::CheckedMul<int64_t>(cluster, sectorsPerCluster, &offset))
        return nullptr;
    const int64_t start = recordSector - offset;
    // The structure lies at least 4 KiB into the volume, past the boot
    // sector and its code.
    const int64_t lead = std::max<int64_t>(1, 4096 / std::max<unsigned>(sectorSize, 1));
    if (start < 0 || start > recordSector - lead || deviceTotalSectors <= start)
        return nullptr;
    auto c = std::make_unique<CSearchedNTFSPartitionInfo>(sectorSize);
    c->runOriginSector = start;
    c->sectorsPerCluster = sectorsPerCluster & 0xFF;
    c->totalClusters = (deviceTotalSectors - start) / sectorsPerCluster;
    c->totalSectors = c->totalClusters * sectorsPerCluster;
    c->flags = flag;
    return c;
}

std::unique_ptr<CSearchedNTFSPartitionInfo> CSearchedNTFSPartitionInfo::BuildPartitionInfoFromDBR(
    const CNTFSDBR& dbr, int64_t start, uint32_t flag, int64_t deviceTotalSectors,
    unsigned deviceSectorSize) {
    if (start < 0 || deviceSectorSize == 0)
        return nullptr;
    NTFSVolumeGeometry g;
    if (!GetNTFSVolumeGeometry(dbr, deviceSectorSize, &g))
        return nullptr;
    const uint64_t volumeSectors =
        dbr.GetTotalSectors() * dbr.GetBytesPerSector() / deviceSectorSize;
    const int64_t left = deviceTotalSectors - start;
    const int64_t size =
        std::min<int64_t>(static_cast<int64_t>(std::min<uint64_t>(volumeSectors, INT64_MAX)), left);
    if (size < 8)
        return nullptr;
    auto c = std::make_unique<CSearchedNTFSPartitionInfo>(deviceSectorSize);
    c->flags = flag;
    c->sectorsPerCluster = g.sectorsPerCluster;
    c->serialNumber = static_cast<int64_t>(dbr.GetSerialNumber());
    c->runOriginSector = start;
    c->totalClusters = size / g.sectorsPerCluster;
    c->totalSectors = c->totalClusters * g.sectorsPerCluster;
    c->sectorsPerFileRecord = std::max<uint32_t>(1, g.recordBytes / deviceSectorSize);
    return c;
}

void CNTFSCandidateSet::Clear() {
    for (CSearchedNTFSPartitionInfo* c : m_set)
        delete c;
    m_set.clear();
}

bool CNTFSCandidateSet::Insert(std::unique_ptr<CSearchedNTFSPartitionInfo> candidate) {
    if (!candidate || m_set.size() >= kMaxCandidates)
        return false;
    m_set.insert(candidate.release());
    return true;
}

CNTFSCandidateSet::Set::iterator CNTFSCandidateSet::Erase(Set::iterator it) {
    delete *it;
    return m_set.erase(it);
}

std::pair<CNTFSCandidateSet::Set::iterator, CNTFSCandidateSet::Set::iterator>
CNTFSCandidateSet::EqualRange(const CSearchedNTFSPartitionInfo& c) {
    return m_set.equal_range(const_cast<CSearchedNTFSPartitionInfo*>(&c));
}

int CNTFSPartitionInfoBuilder::AdjustPartitionBuildFromFlag(const CSearchedNTFSPartitionInfo& c,
                                                            uint32_t add, uint32_t clear) {
    auto [it, end] = m_set.EqualRange(c);
    if (it == end)
        return 0;
    while (it != end) {
        CSearchedNTFSPartitionInfo* e = *it;
        e->flags = (e->flags & ~clear) | add;
        if (e->flags == 0)
            it = m_set.Erase(it);
        else
            ++it;
    }
    return 1;
}

void CNTFSPartitionInfoBuilder::Merge(std::unique_ptr<CSearchedNTFSPartitionInfo> candidate) {
    if (!candidate)
        return;
    if (AdjustPartitionBuildFromFlag(*candidate, candidate->flags, 0) == 0)
        m_set.Insert(std::move(candidate));
}

int64_t CalcFileSystemReliabilityScore(const CSearchedNTFSPartitionInfo& c) {
    int64_t score = 0;
    const struct {
        uint32_t flag;
        int points;
    } table[] = {{kNTFSFromBootSector, 30},       {kNTFSFromBackupBootSector, 10},
                 {kNTFSFromMftAndMirror, 30},     {kNTFSFromMft, 10},
                 {kNTFSFromMirror, 10},           {kNTFSFromFirstRestartPage, 10},
                 {kNTFSFromSecondRestartPage, 10}};
    for (const auto& t : table) {
        if (c.flags & t.flag)
            score += t.points;
    }
    // Each content term is worth 10 once so many bytes of the metafile's
    // data were seen (256, 10,000 and 5 sectors of 512 bytes), whatever
    // the device's sector size.
    const int64_t ss = c.GetSectorSize();
    auto points = [ss](int64_t sectors, int64_t fullBytes) -> int64_t {
        return sectors <= 0 ? 0 : std::min<int64_t>(10, sectors * ss / fullBytes * 10);
    };
    score += points(c.upCaseMatch, 256 * 512);
    score += points(c.logFileMatch, 10000LL * 512);
    score += points(c.attrDefMatch, 5 * 512);
    return score;
}
