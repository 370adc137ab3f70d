#include "NTFSDirectoryTreeBuilder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "CheckedMath.h"
#include "FindFileFromLogFile.h"
#include "IStorageDevice.h"
#include "NTFSLib/NTFSFileRecord.h"
#include "NTFSNodeMaker.h"

namespace {

// Bytes of FILE records read back per device request while the trees are
// built.
constexpr size_t kReadBackBytes = 256 * 1024;

bool IsFileMagic(const uint8_t* p, size_t length) {
    return length >= 4 && std::memcmp(p, "FILE", 4) == 0;
}

}  // namespace

struct CNTFSDirectoryTreeBuilder::Matched {
    CMFTInfo* mft;
    CFindFileFromLogFile* log;
    std::unique_ptr<CNTFSNodeMaker> maker;
};

CNTFSDirectoryTreeBuilder::CNTFSDirectoryTreeBuilder(const CNTFSIntelligentSearchInfo& info,
                                                     IStorageDevice* device,
                                                     IDirecotryTreeBuilder* builder,
                                                     uint32_t sectorSize, vk::DamageCounter* damage)
    : m_info(info),
      m_device(device),
      m_builder(builder),
      m_sectorSize(sectorSize),
      m_damage(damage) {
    if (m_device != nullptr)
        m_deviceTotal = std::max<long long>(0, m_device->GetTotalSectors());
}

CNTFSDirectoryTreeBuilder::~CNTFSDirectoryTreeBuilder() = default;

std::vector<CMFTInfo*> CNTFSDirectoryTreeBuilder::MatchMFTs(
    const CSearchedNTFSPartitionInfo& c, const std::set<const CMFTInfo*>& claimed) const {
    std::vector<CMFTInfo*> out;
    const int64_t start = c.Start();
    const uint32_t spc = c.sectorsPerCluster;
    if (spc == 0 || c.totalClusters <= 0)
        return out;
    auto fits = [&](const CMFTInfo& mft) {
        if (mft.GetSectorsPerCluster() != 0 && mft.GetSectorsPerCluster() != spc)
            return false;
        int64_t last = -1;
        for (const CDataRun& r : mft.GetNTFSDataRunList().Runs()) {
            if (r.lcn >= 0)
                last = std::max(last, r.lcn + r.length - 1);
        }
        return last >= 0 && last < c.totalClusters;
    };
    for (const FindFileMFTAndLogx& ff : (*m_info.findFiles)) {
        const CMFTInfo& mft = *ff.mft;
        if (!claimed.count(ff.mft) &&
            mft.GetSectorAddress() == start + mft.GetFirstClusterNO() * static_cast<int64_t>(spc) &&
            fits(mft))
            out.push_back(ff.mft);
    }
    if (out.empty() && c.mftRecordSector != -1) {
        // The $MFT's own first record is lost; the copy its mirror keeps
        // still says where the records lie.
        for (const FindFileMFTAndLogx& ff : (*m_info.findFiles)) {
            if (!claimed.count(ff.mft) && ff.mft->GetSectorAddress() == c.mftRecordSector &&
                fits(*ff.mft)) {
                out.push_back(ff.mft);
                break;
            }
        }
    }
    return out;
}

bool CNTFSDirectoryTreeBuilder::HeldByAnotherVolume(int64_t sector, uint32_t offset,
                                                    int ordinal) const {
    for (size_t k = 0; k < m_kept.size(); ++k) {
        if (static_cast<int>(k) == ordinal)
            continue;
        const CSearchedNTFSPartitionInfo& other = *m_kept[k];
        for (const CMFTInfo* mft : m_matched[k]) {
            if (CMFTDirectoryTreeBuilder::GetMFTNumber(sector, offset, *mft, other.Start(),
                                                       other.sectorsPerCluster, m_sectorSize) >= 0)
                return true;
        }
    }
    return false;
}

void CNTFSDirectoryTreeBuilder::BuildDirectoryTrees(
    const std::vector<CSearchedNTFSPartitionInfo*>& kept) {
    m_kept = kept;
    const int count = static_cast<int>(m_kept.size());
    // One $MFT makes one volume's tree: the most reliable candidate that
    // fits it takes it.
    m_matched.clear();
    std::set<const CMFTInfo*> claimed;
    for (const CSearchedNTFSPartitionInfo* c : m_kept) {
        m_matched.push_back(MatchMFTs(*c, claimed));
        claimed.insert(m_matched.back().begin(), m_matched.back().end());
    }
    for (int ordinal = 0; ordinal < count; ++ordinal) {
        CSearchedNTFSPartitionInfo& c = *m_kept[static_cast<size_t>(ordinal)];
        c.partitionIndex = static_cast<int16_t>(ordinal);
        c.score = static_cast<double>(count - ordinal);
        BuildDirectoryTree(c, ordinal);
    }
    m_matched.clear();
}

int64_t CMFTDirectoryTreeBuilder::GetMFTNumber(int64_t sector, uint32_t offset, const CMFTInfo& mft,
                                               int64_t start, uint32_t sectorsPerCluster,
                                               uint32_t sectorSize) {
    if (sector < start || sectorsPerCluster == 0 || sectorSize == 0)
        return -1;
    uint64_t rel = 0;
    if (!vk::CheckedMul<uint64_t>(static_cast<uint64_t>(sector - start), sectorSize, &rel) ||
        !vk::CheckedAdd<uint64_t>(rel, offset, &rel))
        return -1;
    const uint64_t clusterBytes = uint64_t{sectorsPerCluster} * sectorSize;
    const int64_t vcn = mft.GetNTFSDataRunList().GetVCN(static_cast<int64_t>(rel / clusterBytes));
    if (vcn < 0)
        return -1;
    uint64_t mftByte = 0;
    if (!vk::CheckedMul<uint64_t>(static_cast<uint64_t>(vcn), clusterBytes, &mftByte))
        return -1;
    mftByte += rel % clusterBytes;
    const uint32_t recordBytes = mft.GetRecordBytes();
    if (recordBytes == 0 || mftByte % recordBytes != 0)
        return -1;
    const int64_t number = static_cast<int64_t>(mftByte / recordBytes);
    // Past the $MFT's data: old bytes, not one of its records.
    if (mft.GetDataSize() > 0 && number >= mft.GetDataSize() / recordBytes)
        return -1;
    return number;
}

void CNTFSDirectoryTreeBuilder::BuildDirectoryTree(CSearchedNTFSPartitionInfo& c, int ordinal) {
    const int64_t start = c.Start();
    const uint32_t spc = c.sectorsPerCluster;
    const uint32_t ss = m_sectorSize;
    if (spc == 0 || c.totalSectors <= 0)
        return;

    std::vector<Matched> matched;
    for (CMFTInfo* mft : m_matched[static_cast<size_t>(ordinal)]) {
        auto owner = std::find_if(m_info.findFiles->begin(), m_info.findFiles->end(),
                                  [&](const FindFileMFTAndLogx& ff) { return ff.mft == mft; });
        matched.push_back({mft, owner->logFile.get(), nullptr});
    }

    std::vector<CFindFileFromLogFile*> logs;
    for (Matched& m : matched) {
        if (!m.log->IsAnalysed() &&
            m.log->Init(m_device, m.mft->GetNTFSDataRunList(), spc, start, m.mft->GetRecordBytes()))
            m.log->Analyzer();
        if (m.log->IsAnalysed())
            logs.push_back(m.log);
    }
    NTFSNodeContext context;
    context.device = m_device;
    context.builder = m_builder;
    context.locator.runOrigin = start;
    context.locator.sectorSize = ss;
    context.locator.clusterBytes = uint64_t{spc} * ss;
    context.sectorsPerCluster = spc;
    context.totalClusters = c.totalClusters > 0 ? static_cast<uint64_t>(c.totalClusters) : 0;
    context.partitionIndex = static_cast<unsigned short>(ordinal);
    context.logFiles = logs;
    context.damage = m_damage;
    for (Matched& m : matched) {
        NTFSNodeContext own = context;
        own.locator.recordBytes = m.mft->GetRecordBytes();
        own.locator.mftRuns = &m.mft->GetNTFSDataRunList();
        m.maker = std::make_unique<CNTFSNodeMaker>(own);
    }
    // Records found outside every $MFT of this volume carry their own
    // numbers; only the most reliable volume takes them, so that one
    // record does not show up in every reading of the surface.
    CNTFSNodeMaker loose(context);
    ReadFileProperties(c, ordinal, matched, loose);
    for (Matched& m : matched) {
        if (m.log->IsAnalysed())
            m.maker->MakeNodesFromReusedRecords(*m.log);
    }
    // A reader whose $MFT fits another candidate reads again for that one.
    for (Matched& m : matched)
        m.log->Reset();
}

void CNTFSDirectoryTreeBuilder::ReadFileProperties(const CSearchedNTFSPartitionInfo& c, int ordinal,
                                                   std::vector<Matched>& matched,
                                                   CNTFSNodeMaker& loose) {
    const int64_t start = c.Start();
    const uint32_t spc = c.sectorsPerCluster;
    const uint32_t ss = m_sectorSize;
    const int64_t end = start + c.totalSectors;
    std::vector<uint8_t> buffer(std::max<size_t>(kReadBackBytes, ss));
    std::vector<uint8_t> bad;
    for (const CCommonFileRecordPositionInfo& e : *m_info.positions) {
        if (e.End() <= start || e.GetFileRecordStartSector() >= end)
            continue;
        const int64_t spr = e.GetSectorsPerRecord();
        int64_t from = e.GetFileRecordStartSector();
        if (from < start)
            from += (start - from + spr - 1) / spr * spr;
        const int64_t to = std::min(e.End(), end);
        const int64_t chunk =
            std::max<int64_t>(spr, static_cast<int64_t>(buffer.size() / ss) / spr * spr);
        if (static_cast<size_t>(chunk) * ss > buffer.size())
            buffer.resize(static_cast<size_t>(chunk) * ss);
        for (int64_t at = from; at < to && at < m_deviceTotal; at += chunk) {
            const int64_t n = std::min({chunk, to - at, m_deviceTotal - at});
            const size_t bytes = static_cast<size_t>(n) * ss;
            bad.assign(static_cast<size_t>(n), 0);
            if (!m_device->ReadSector(buffer.data(), at, n)) {
                for (int64_t i = 0; i < n; ++i) {
                    uint8_t* p = buffer.data() + static_cast<size_t>(i) * ss;
                    if (!m_device->ReadSector(p, at + i, 1)) {
                        std::memset(p, 0, ss);
                        bad[static_cast<size_t>(i)] = 1;
                    }
                }
            }
            for (size_t o = 0; o + 1024 <= bytes;) {
                const uint8_t* p = buffer.data() + o;
                if (!IsFileMagic(p, bytes - o)) {
                    o += 1024;
                    continue;
                }
                const size_t rb = CNTFSFileRecord::StatedRecordSize(p, bytes - o);
                if (o + rb > bytes)
                    break;
                const int64_t sector = at + static_cast<int64_t>(o / ss);
                const uint32_t offset = static_cast<uint32_t>(o % ss);
                bool damaged = false;
                for (size_t s = o / ss; s <= (o + rb - 1) / ss; ++s)
                    damaged |= bad[s] != 0;
                if (damaged) {
                    m_damage->Skip("file record", static_cast<uint64_t>(sector),
                                   "its sectors cannot be read");
                    o += rb;
                    continue;
                }
                Matched* owner = nullptr;
                int64_t number = -1;
                if (c.mftLocated == 1) {
                    for (Matched& m : matched) {
                        number = CMFTDirectoryTreeBuilder::GetMFTNumber(sector, offset, *m.mft,
                                                                        start, spc, ss);
                        if (number >= 0) {
                            owner = &m;
                            break;
                        }
                    }
                }
                if (owner != nullptr)
                    owner->maker->MakeNodes(p, rb, number, sector, offset);
                else if (ordinal == 0 && !HeldByAnotherVolume(sector, offset, ordinal))
                    loose.MakeNodes(p, rb, -1, sector, offset);
                o += rb;
            }
        }
    }
}
