#include "NTFSQuickSearch.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <utility>

#include "CheckedMath.h"
#include "IStorageDevice.h"
#include "SectorSize.h"
#include "Utility/CatchExeception.h"

namespace {

VKRESULT Fail(uint32_t line, uint32_t error) {
    return MakeResult(kModuleNTFSQuickSearch, line, error);
}

}  // namespace

IQuickFileSystemSearchController* CreateNTFSQuickSearcher() {
    return new (std::nothrow) CNTFSQuickSearch();
}

CNTFSQuickSearch::CNTFSQuickSearch() : m_volume(512) {}

int CNTFSQuickSearch::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    return AnswerSearchedPartitionQuery(m_haveVolume ? 1 : 0, out, capacity, [this](int) {
        return new (std::nothrow) CSearchedPartitionInfo(m_volume);
    });
}

bool CNTFSQuickSearch::ReadMFTRuns(int64_t cluster, CNTFSDataRunList& runs, int64_t* records) {
    const NTFSVolumeGeometry& g = m_geometry;
    runs.ClearDataRunList();
    // A boot sector whose $MFT lies outside the volume is damaged.
    if (cluster < 0 || static_cast<uint64_t>(cluster) >= g.totalClusters)
        return false;
    const uint64_t byte = static_cast<uint64_t>(cluster) * g.clusterBytes;
    const int64_t sector = static_cast<int64_t>(byte / g.deviceSectorSize);
    std::vector<uint8_t> bytes;
    if (!NTFSRecordLocator::ReadAt(m_device, sector,
                                   static_cast<uint32_t>(byte % g.deviceSectorSize), g.recordBytes,
                                   bytes))
        return false;
    CNTFSFileRecord record(bytes.data(), bytes.size());
    if (!CMetaFileRecordTypeAnalyzer::IsValidMFTFileRecord(record))
        return false;
    int64_t size = 0;
    if (record.HasAttributeList()) {
        // A fragmented $MFT keeps the rest of its runs in extension records,
        // each found through the runs gathered so far.
        if (!CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(record, runs, false,
                                                                         &size))
            return false;
        auto list = CNTFSMultiFileRecord::GetExtendFileRecordInfoList(
            record, 0, g.sectorsPerCluster, m_device);
        if (list) {
            CNTFSMultiFileRecord::RemoveMainMFTFileRecordInfofromList(*list);
            for (const CAttributeListExtendFileRecordInfo& info : *list) {
                runs.Sort();
                NTFSRecordLocator locator = m_locator;
                locator.mftRuns = &runs;
                int64_t at = -1;
                uint32_t offset = 0;
                std::vector<uint8_t> ext;
                if (!locator.Locate(info.recordNumber, &at, &offset) ||
                    !NTFSRecordLocator::ReadAt(m_device, at, offset, g.recordBytes, ext)) {
                    m_damage.Skip("$MFT extension record", static_cast<uint64_t>(info.recordNumber),
                                  "not mapped");
                    continue;
                }
                CNTFSFileRecord extension(ext.data(), ext.size());
                int64_t part = 0;
                if (extension.IsValid() &&
                    CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(extension, runs,
                                                                                false, &part) &&
                    part > size)
                    size = part;
            }
        }
        runs.Sort();
    } else {
        auto info = CMFTInfo::Build(record, sector, g.deviceSectorSize, g.sectorsPerCluster);
        if (!info)
            return false;
        runs = info->GetNTFSDataRunList();
        size = info->GetDataSize();
    }
    if (runs.IsEmpty() || runs.GetLCN(0) < 0)
        return false;
    // Runs that leave the volume are damage: their records are not read.
    CNTFSDataRunList checked;
    for (const CDataRun& r : runs.Runs()) {
        if (r.lcn >= 0 && !vk::SpanInside(static_cast<uint64_t>(r.lcn),
                                          static_cast<uint64_t>(r.length), g.totalClusters)) {
            m_damage.Skip("$MFT run", static_cast<uint64_t>(r.lcn), "outside the volume");
            checked.AddDataRun({-1, r.vcn, r.length});
        } else {
            checked.AddDataRun(r);
        }
    }
    runs = std::move(checked);
    const int64_t held =
        runs.GetTotalClusters() * static_cast<int64_t>(g.clusterBytes / g.recordBytes > 0
                                                           ? g.clusterBytes / g.recordBytes
                                                           : 1);
    *records = size > 0 ? size / g.recordBytes : held;
    return true;
}

VKRESULT CNTFSQuickSearch::QuickSearchFiles(IStorageDevice* device, IProgress* progress) {
    if (device == nullptr || progress == nullptr)
        return Fail(__LINE__, kErrNTFSNoDeviceOrProgress);
    m_device = device;
    m_progress = progress;
    m_damage.Reset();
    m_haveVolume = false;
    m_logFile.Reset();
    const uint32_t ss = vk::NormaliseSectorSize(static_cast<uint64_t>(device->GetSectorSize()));
    m_volume = CSearchedPartitionInfo(ss);
    m_volume.fileSystemType = FS_NTFS;
    m_volume.partitionIndex = 0;
    m_volume.runOriginSector = 0;
    m_volume.startSector = 0;
    m_volume.sectorsPerCluster = 1;
    m_volume.SetTotalSectors(
        static_cast<unsigned long long>(std::max<long long>(device->GetTotalSectors(), 0)));

    std::vector<uint8_t> boot(std::max<size_t>(ss, 4096), 0);
    CNTFSDBR dbr;
    if (!device->ReadSector(boot.data(), 0, 1) || !dbr.InitFromBuffer(boot.data()) ||
        !GetNTFSVolumeGeometry(dbr, ss, &m_geometry))
        return Fail(__LINE__, kErrNTFSNotNTFSVolume);
    m_volume.sectorsPerCluster = m_geometry.sectorsPerCluster;
    m_haveVolume = true;
    m_locator.runOrigin = 0;
    m_locator.sectorSize = ss;
    m_locator.clusterBytes = m_geometry.clusterBytes;
    m_locator.recordBytes = m_geometry.recordBytes;
    m_locator.mftRuns = &m_mftRuns;

    int64_t records = 0;
    if (!ReadMFTRuns(static_cast<int64_t>(m_geometry.mftCluster), m_mftRuns, &records)) {
        CatchExeception::WriteLog(
            "NTFS quick search: the $MFT record is damaged; reading its mirror\n");
        if (!ReadMFTRuns(static_cast<int64_t>(m_geometry.mftMirrCluster), m_mftRuns, &records))
            return Fail(__LINE__, kErrNTFSNoMFT);
    }

    if (m_builder != nullptr)
        m_builder->AddSearcherInfo(SEARCHER_NTFS, 5);
    if (m_logFile.Init(device, m_mftRuns, m_geometry.sectorsPerCluster, 0, m_geometry.recordBytes))
        m_logFile.Analyzer();
    NTFSNodeContext context;
    context.device = device;
    context.builder = m_builder;
    context.locator = m_locator;
    context.sectorsPerCluster = m_geometry.sectorsPerCluster;
    context.totalClusters = m_geometry.totalClusters;
    context.logFiles = {&m_logFile};
    context.damage = &m_damage;
    m_nodes = std::make_unique<CNTFSNodeMaker>(context);
    const VKRESULT result = BuildFileNodeFromMFTFileRecord(m_mftRuns, records);
    m_damage.LogSummary();
    return result;
}

VKRESULT CNTFSQuickSearch::BuildFileNodeFromMFTFileRecord(const CNTFSDataRunList& runs,
                                                          int64_t records) {
    const NTFSVolumeGeometry& g = m_geometry;
    const uint32_t ss = g.deviceSectorSize;
    const uint32_t rb = g.recordBytes;
    const uint64_t limit = static_cast<uint64_t>(std::max<int64_t>(records, 0)) * rb;
    int64_t total = 0;
    for (const CDataRun& r : runs.Runs()) {
        if (r.lcn >= 0)
            total += r.length * g.sectorsPerCluster;
    }
    int64_t done = 0;
    vk::SendProgress(m_progress, PROGRESS_RUNNING, total, 0);

    // The buffer gathers the $MFT's bytes in VCN order; records are taken
    // from it whole, so one that spans two runs is read as one.
    std::vector<uint8_t> buffer(kWalkBufferBytes);
    std::vector<uint8_t> bad(kWalkBufferBytes / ss, 0);
    struct Segment {
        size_t at;            // first byte in the buffer
        uint64_t deviceByte;  // where it came from
    };
    std::vector<Segment> segments;
    uint64_t mftPos = 0;  // $MFT byte of buffer[0]
    size_t filled = 0;

    auto process = [&]() {
        uint64_t first = (mftPos + rb - 1) / rb * rb;
        size_t used = 0;
        for (uint64_t pos = first; pos + rb <= mftPos + filled && pos < limit; pos += rb) {
            const size_t o = static_cast<size_t>(pos - mftPos);
            used = o + rb;
            bool damaged = false;
            for (size_t s = o / ss; s <= (o + rb - 1) / ss; ++s)
                damaged |= bad[s] != 0;
            if (damaged) {
                m_damage.Skip("file record", pos / rb, "its sectors cannot be read");
                continue;
            }
            auto seg = std::upper_bound(segments.begin(), segments.end(), o,
                                        [](size_t v, const Segment& s) { return v < s.at; });
            --seg;
            const uint64_t deviceByte = seg->deviceByte + (o - seg->at);
            BuildFileNodeFromBuffer(buffer.data() + o, static_cast<int64_t>(pos / rb),
                                    static_cast<int64_t>(deviceByte / ss),
                                    static_cast<uint32_t>(deviceByte % ss));
        }
        return used;
    };
    // Keeps the bytes of a record not yet whole at the front of the buffer.
    auto carry = [&](size_t used) {
        const size_t keep = used == 0 ? 0 : filled - used;
        if (used == 0 || keep == 0 || keep >= rb) {
            filled = 0;
            mftPos += used == 0 ? 0 : used;
            segments.clear();
            std::fill(bad.begin(), bad.end(), 0);
            return;
        }
        // `used` and the buffer are multiples of the sector size whenever a
        // record is split: records never share a sector with a piece.
        std::memmove(buffer.data(), buffer.data() + used, keep);
        auto seg = std::upper_bound(segments.begin(), segments.end(), used,
                                    [](size_t v, const Segment& s) { return v < s.at; });
        --seg;
        Segment moved{0, seg->deviceByte + (used - seg->at)};
        std::vector<Segment> rest{moved};
        for (auto it = seg + 1; it != segments.end(); ++it)
            rest.push_back({it->at - used, it->deviceByte});
        segments = std::move(rest);
        std::vector<uint8_t> kept(bad.size(), 0);
        for (size_t s = used / ss; s < (filled + ss - 1) / ss && s < bad.size(); ++s)
            kept[s - used / ss] = bad[s];
        bad = std::move(kept);
        mftPos += used;
        filled = keep;
    };
    auto flush = [&]() {
        const size_t used = process();
        if (used == 0 && filled > 0) {
            mftPos += filled;
            filled = 0;
            segments.clear();
            std::fill(bad.begin(), bad.end(), 0);
            return;
        }
        carry(used);
    };

    bool stopped = false;
    uint64_t vcnByte = 0;
    for (const CDataRun& run : runs.Runs()) {
        if (!m_progress->Continued()) {
            stopped = true;
            break;
        }
        const uint64_t runBytes = static_cast<uint64_t>(run.length) * g.clusterBytes;
        const uint64_t runStart = static_cast<uint64_t>(run.vcn) * g.clusterBytes;
        if (vcnByte >= limit)
            break;
        if (run.lcn < 0 || runStart != vcnByte) {
            // A hole in the $MFT (or a run out of place): the records there
            // do not exist; what came before is handled now.
            flush();
            filled = 0;
            segments.clear();
            std::fill(bad.begin(), bad.end(), 0);
            vcnByte = runStart + (run.lcn < 0 ? runBytes : 0);
            mftPos = vcnByte;
            if (run.lcn < 0)
                continue;
        }
        uint64_t read = 0;
        const uint64_t wanted = std::min<uint64_t>(
            runBytes, limit > vcnByte ? (limit - vcnByte + ss - 1) / ss * ss : 0);
        while (read < wanted) {
            if (!m_progress->Continued()) {
                stopped = true;
                break;
            }
            if (filled == buffer.size())
                flush();
            const size_t n =
                static_cast<size_t>(std::min<uint64_t>(buffer.size() - filled, wanted - read));
            const uint64_t deviceByte = static_cast<uint64_t>(run.lcn) * g.clusterBytes + read;
            const long long sector = static_cast<long long>(deviceByte / ss);
            const long long count = static_cast<long long>(n / ss);
            if (!m_device->ReadSector(buffer.data() + filled, sector, count)) {
                // Read what can be read, sector by sector; the rest is
                // marked so that no record is parsed from stale bytes.
                for (long long i = 0; i < count; ++i) {
                    uint8_t* at = buffer.data() + filled + static_cast<size_t>(i) * ss;
                    if (!m_device->ReadSector(at, sector + i, 1)) {
                        std::memset(at, 0, ss);
                        bad[filled / ss + static_cast<size_t>(i)] = 1;
                    }
                }
            }
            segments.push_back({filled, deviceByte});
            filled += n;
            read += n;
            vcnByte += n;
            done += count;
            if (filled == buffer.size())
                vk::SendProgress(m_progress, PROGRESS_RUNNING, total, done);
        }
        if (stopped)
            break;
        vcnByte = runStart + runBytes;
        if (read < runBytes)
            break;
    }
    if (!stopped)
        flush();
    if (!stopped)
        BuildNodesFromReusedRecords();
    if (m_builder != nullptr) {
        m_builder->SetPartitonDevice(&m_volume, m_device);
        m_builder->FlashBuild(SEARCHER_NTFS);
    }
    vk::SendProgress(m_progress, PROGRESS_FINISHED, total, total);
    return VK_OK;
}

void CNTFSQuickSearch::BuildFileNodeFromBuffer(const uint8_t* bytes, int64_t number, int64_t sector,
                                               uint32_t offset) {
    m_nodes->MakeNodes(bytes, m_geometry.recordBytes, number, sector, offset);
}

void CNTFSQuickSearch::BuildNodesFromReusedRecords() {
    m_nodes->MakeNodesFromReusedRecords(m_logFile);
}
