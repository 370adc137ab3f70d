#include "NTFSMultiFileRecord.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "CheckedMath.h"
#include "IStorageDevice.h"
#include "SectorSize.h"
#include "Utility/CatchExeception.h"

namespace at = ntfs::layout::attr;
namespace al = ntfs::layout::alist;

namespace {

uint32_t DeviceSectorSize(IStorageDevice* device) {
    return device != nullptr
               ? vk::NormaliseSectorSize(static_cast<uint64_t>(device->GetSectorSize()))
               : 512;
}

}  // namespace

// ---------------------------------------------------------------- locator

bool NTFSRecordLocator::Locate(int64_t recordNumber, int64_t* sector,
                               uint32_t* offsetInSector) const {
    if (mftRuns == nullptr || recordNumber < 0 || clusterBytes == 0 || sectorSize == 0 ||
        recordBytes == 0)
        return false;
    uint64_t byte = 0;
    if (!vk::CheckedMul<uint64_t>(static_cast<uint64_t>(recordNumber), recordBytes, &byte))
        return false;
    const int64_t vcn = static_cast<int64_t>(byte / clusterBytes);
    const int64_t lcn = mftRuns->GetLCN(vcn);
    if (lcn < 0)
        return false;
    uint64_t device = 0;
    if (!vk::CheckedMulAdd<uint64_t>(static_cast<uint64_t>(runOrigin), sectorSize,
                                     byte % clusterBytes, &device) ||
        !vk::CheckedMulAdd<uint64_t>(static_cast<uint64_t>(lcn), clusterBytes, device, &device) ||
        device / sectorSize > static_cast<uint64_t>(INT64_MAX))
        return false;
    *sector = static_cast<int64_t>(device / sectorSize);
    *offsetInSector = static_cast<uint32_t>(device % sectorSize);
    return true;
}

bool NTFSRecordLocator::ReadAt(IStorageDevice* device, int64_t sector, uint32_t offsetInSector,
                               uint32_t recordBytes, std::vector<uint8_t>& out) {
    if (device == nullptr || sector < 0 || recordBytes == 0)
        return false;
    const uint32_t ss = DeviceSectorSize(device);
    const uint64_t sectors = (uint64_t{offsetInSector} + recordBytes + ss - 1) / ss;
    const long long total = device->GetTotalSectors();
    if (total >= 0 &&
        !vk::SpanInside(static_cast<uint64_t>(sector), sectors, static_cast<uint64_t>(total)))
        return false;
    std::vector<uint8_t> raw(static_cast<size_t>(sectors * ss));
    if (!device->ReadSector(raw.data(), sector, static_cast<long long>(sectors)))
        return false;
    out.assign(raw.begin() + offsetInSector, raw.begin() + offsetInSector + recordBytes);
    return true;
}

// ---------------------------------------------------------------- extension lists

std::unique_ptr<ExtendFileRecordInfoList> CNTFSMultiFileRecord::GetExtendFileRecordInfoList(
    const CNTFSFileRecord& record, int64_t partitionStart, uint32_t sectorsPerCluster,
    IStorageDevice* device) {
    if (!record.IsValid())
        return nullptr;
    CNTFSFileRecordAttribute list = record.FindAttibute(at::kAttributeList, 0);
    if (list.Empty())
        return nullptr;

    std::vector<uint8_t> bytes;
    if (list.IsResident()) {
        vk::ByteReader value = list.Value();
        if (value.failed())
            return nullptr;
        bytes.assign(value.data(), value.data() + value.size());
    } else {
        CNTFSFileRecordDataRunsAttribute runs(list);
        CNTFSDataRunList decoded;
        const int64_t allocated = runs.GetAllocSizeofAttribute();
        const int64_t initialized = runs.GetInitializedDataSize();
        if (!runs.GetDataRunList(decoded) || initialized <= 0 || initialized > allocated)
            return nullptr;
        // An attribute list never grows past 256 KiB; a larger size read
        // from a damaged record would only cost memory and reads.
        if (initialized > static_cast<int64_t>(al::kMaxListBytes) || device == nullptr ||
            sectorsPerCluster == 0) {
            CatchExeception::WriteLog("NTFS: attribute list of %lld bytes refused\n",
                                      static_cast<long long>(initialized));
            return nullptr;
        }
        const uint32_t ss = DeviceSectorSize(device);
        const uint64_t clusterBytes = uint64_t{sectorsPerCluster} * ss;
        bytes.assign(
            static_cast<size_t>((initialized + clusterBytes - 1) / clusterBytes * clusterBytes), 0);
        size_t filled = 0;
        for (const CDataRun& run : decoded.Runs()) {
            if (filled >= bytes.size())
                break;
            const uint64_t want = std::min<uint64_t>(
                static_cast<uint64_t>(run.length) * clusterBytes, bytes.size() - filled);
            if (run.lcn >= 0) {
                uint64_t sector = 0;
                if (!vk::ClusterToSector(static_cast<uint64_t>(run.lcn), 0, sectorsPerCluster,
                                         static_cast<uint64_t>(partitionStart), &sector) ||
                    !device->ReadSector(bytes.data() + filled, static_cast<long long>(sector),
                                        static_cast<long long>(want / ss)))
                    return nullptr;
            }
            filled += static_cast<size_t>(want);
        }
        bytes.resize(static_cast<size_t>(initialized));
    }

    auto out = std::make_unique<ExtendFileRecordInfoList>();
    std::unordered_set<int64_t> seen;
    vk::ByteReader r(bytes.data(), bytes.size());
    for (size_t off = 0; vk::RangeInside(bytes.size(), off, al::kMinEntry);) {
        const uint32_t type = r.LE32(off + al::kType);
        const uint16_t length = r.LE16(off + al::kLength);
        if (type == 0 || length == 0)
            break;
        if (length < al::kMinEntry || !vk::RangeInside(bytes.size(), off, length))
            break;
        const int64_t number =
            static_cast<int64_t>(r.LE64(off + al::kReference) & ntfs::layout::kReferenceMask);
        if (seen.insert(number).second)
            out->push_back({-1, 0, number});
        off += length;
    }
    if (out->empty())
        return nullptr;
    return out;
}

void CNTFSMultiFileRecord::CalcFileRecordStartSectorinExtendFileRecordInfoList(
    ExtendFileRecordInfoList& list, const NTFSRecordLocator& locator) {
    for (CAttributeListExtendFileRecordInfo& info : list) {
        int64_t sector = -1;
        uint32_t offset = 0;
        if (locator.Locate(info.recordNumber, &sector, &offset)) {
            info.startSector = sector;
            info.offsetInSector = offset;
        } else {
            info.startSector = -1;
            info.offsetInSector = 0;
        }
    }
}

void CNTFSMultiFileRecord::RemoveMainFileRecordInfofromFileRecordInfoList(
    ExtendFileRecordInfoList& list, int64_t baseSector, uint32_t baseOffset, int64_t baseNumber) {
    std::erase_if(list, [&](const CAttributeListExtendFileRecordInfo& info) {
        return info.startSector < 0 ||
               (info.startSector == baseSector && info.offsetInSector == baseOffset) ||
               (baseNumber >= 0 && info.recordNumber == baseNumber);
    });
}

std::unique_ptr<ExtendFileRecordInfoList> CNTFSMultiFileRecord::InitExtendFileRecord(
    const CNTFSFileRecord& record, int64_t baseSector, uint32_t baseOffset, int64_t baseNumber,
    const NTFSRecordLocator& locator, IStorageDevice* device) {
    const uint32_t ss = locator.sectorSize ? locator.sectorSize : 512;
    const uint32_t spc = static_cast<uint32_t>(locator.clusterBytes / ss);
    auto list = GetExtendFileRecordInfoList(record, locator.runOrigin, spc, device);
    if (!list)
        return nullptr;
    CalcFileRecordStartSectorinExtendFileRecordInfoList(*list, locator);
    RemoveMainFileRecordInfofromFileRecordInfoList(*list, baseSector, baseOffset, baseNumber);
    return list;
}

bool CNTFSMultiFileRecord::HasSameExtendFileRecordInfoList(const ExtendFileRecordInfoList& list,
                                                           int64_t recordNumber) {
    return std::any_of(list.begin(), list.end(), [&](const CAttributeListExtendFileRecordInfo& i) {
        return i.recordNumber == recordNumber;
    });
}

void CNTFSMultiFileRecord::RemoveMainMFTFileRecordInfofromList(ExtendFileRecordInfoList& list) {
    std::erase_if(list,
                  [](const CAttributeListExtendFileRecordInfo& i) { return i.recordNumber == 0; });
}

// ---------------------------------------------------------------- the joined record

CNTFSMultiFileRecord::CNTFSMultiFileRecord(const CNTFSFileRecord& base, int64_t baseSector,
                                           uint32_t baseOffset, IStorageDevice* device,
                                           const ExtendFileRecordInfoList* infoList)
    : m_base(&base), m_baseSector(baseSector), m_baseOffset(baseOffset) {
    Adopt(device, infoList);
}

CNTFSMultiFileRecord::CNTFSMultiFileRecord(const uint8_t* record, size_t size, int64_t baseSector,
                                           uint32_t baseOffset, IStorageDevice* device,
                                           const ExtendFileRecordInfoList* infoList)
    : m_baseSector(baseSector), m_baseOffset(baseOffset) {
    m_own.emplace(record, size);
    m_base = &*m_own;
    Adopt(device, infoList);
}

void CNTFSMultiFileRecord::Adopt(IStorageDevice* device, const ExtendFileRecordInfoList* infoList) {
    m_device = device;
    if (!IsValid() || infoList == nullptr)
        return;
    for (const CAttributeListExtendFileRecordInfo& info : *infoList) {
        CAttributeListExtendFileRecordBufferInfo b;
        b.where = info;
        m_extensions.push_back(std::move(b));
    }
}

int64_t CNTFSMultiFileRecord::GetMainFileRecordIndex() const {
    return IsValid() ? static_cast<int64_t>(m_base->GetXPNumberOfthisMFTRecord()) : 0;
}

const CNTFSFileRecord* CNTFSMultiFileRecord::Extension(size_t i) {
    CAttributeListExtendFileRecordBufferInfo& b = m_extensions[i];
    if (!b.read) {
        b.read = true;
        std::vector<uint8_t> bytes;
        const uint32_t recordBytes = std::max<uint32_t>(m_base->GetAllocatedSize(), 1024);
        if (b.where.startSector >= 0 && m_device != nullptr &&
            NTFSRecordLocator::ReadAt(m_device, b.where.startSector, b.where.offsetInSector,
                                      recordBytes, bytes)) {
            auto record = std::make_unique<CNTFSFileRecord>(bytes.data(), bytes.size());
            // Only an extension of this very file counts: an attribute list
            // left from an older file may name records that now belong to
            // someone else.
            const bool ours =
                record->IsValid() && record->IsExtendFileRecord() &&
                (!m_base->HasXPNumberOfthisMFTRecord() ||
                 record->GetBaseFileRecordNumber() == m_base->GetXPNumberOfthisMFTRecord());
            if (ours)
                b.record = std::move(record);
        }
    }
    return b.record.get();
}

NTFSAttributeRef CNTFSMultiFileRecord::FindAttibute(uint32_t type, int n) {
    NTFSAttributeRef ref;
    if (!IsValid() || n < 0)
        return ref;
    const int inBase = m_base->GetAttibuteCountofSpecifiedType(type);
    if (n < inBase) {
        ref.attribute = m_base->FindAttibute(type, n, &ref.offset);
        ref.sector = m_baseSector;
        ref.offsetInSector = m_baseOffset;
        return ref;
    }
    n -= inBase;
    for (size_t i = 0; i < m_extensions.size(); ++i) {
        const CNTFSFileRecord* ext = Extension(i);
        if (ext == nullptr)
            continue;
        const int here = ext->GetAttibuteCountofSpecifiedType(type);
        if (n < here) {
            ref.attribute = ext->FindAttibute(type, n, &ref.offset);
            ref.sector = m_extensions[i].where.startSector;
            ref.offsetInSector = m_extensions[i].where.offsetInSector;
            return ref;
        }
        n -= here;
    }
    return ref;
}

// ---------------------------------------------------------------- run collection

bool CNTFSFileRecordAnalyzer::AddDataRunListfromNonResidentAttributeBuffer(
    const CNTFSFileRecordAttribute& attribute, int64_t* realSize, int64_t* firstVcn,
    CNTFSDataRunList& runList) {
    if (attribute.Empty() || attribute.IsNamed() || attribute.IsResident() || !attribute.IsValid())
        return false;
    CNTFSFileRecordDataRunsAttribute runs(attribute);
    if (firstVcn != nullptr)
        *firstVcn = runs.GetStartVCN();
    const uint8_t* pairs = runs.GetDataRunsBuffer();
    if (pairs == nullptr || runs.GetDataRunsLength() == 0) {
        if (realSize != nullptr)
            *realSize = 0;
        return true;
    }
    if (!runList.AddDataRunsfromBuffer(pairs, runs.GetDataRunsLength(), runs.GetStartVCN()))
        return false;
    if (realSize != nullptr)
        *realSize = runs.GetRealSizeOfAttribute();
    return true;
}

bool CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(const CNTFSFileRecord& record,
                                                                 CNTFSDataRunList& runList,
                                                                 bool checkTotals,
                                                                 int64_t* realSize) {
    if (!record.IsValid())
        return false;
    for (int i = 0; i < CNTFSFileRecord::kMaxAttributes; ++i) {
        CNTFSFileRecordAttribute a = record.FindAttibute(at::kData, i);
        if (a.Empty())
            return true;
        if (a.IsNamed())
            continue;
        if (a.GetLength() == 0 || a.IsResident())
            return false;
        CNTFSFileRecordDataRunsAttribute runs(a);
        if (checkTotals && !a.IsCompressed()) {
            const int64_t clusters = runs.GetTotalClusters();
            int64_t span = 0;
            if (clusters < 0 || !vk::CheckedSub(runs.GetLastVCN(), runs.GetStartVCN(), &span) ||
                !vk::CheckedAdd(span, int64_t{1}, &span) || clusters != span)
                return false;
        }
        int64_t size = 0;
        int64_t vcn = 0;
        if (!AddDataRunListfromNonResidentAttributeBuffer(a, &size, &vcn, runList))
            return false;
        if (vcn == 0 && realSize != nullptr)
            *realSize = size;
    }
    return true;
}

bool CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(const CNTFSFileRecord& record,
                                                           uint32_t sectorSize,
                                                           uint32_t* sectorsPerCluster) {
    if (sectorsPerCluster != nullptr)
        *sectorsPerCluster = 0;
    CNTFSDataRunList runs;
    int64_t realSize = 0;
    if (!AddDataRunListfromFileRecordBuffer(record, runs, true, &realSize))
        return false;
    if (sectorSize == 0 || sectorSize % 512 != 0)
        sectorSize = 512;
    const int64_t clusters = runs.GetTotalClusters();
    uint32_t answer = 0;
    if (clusters > 0 && realSize > 0) {
        const double q = static_cast<double>(realSize) / static_cast<double>(clusters) / sectorSize;
        const double up = q == static_cast<double>(static_cast<int64_t>(q))
                              ? q
                              : static_cast<double>(static_cast<int64_t>(q) + 1);
        for (uint32_t p = 1; p <= 128; p <<= 1) {
            if (up <= p) {
                answer = p;
                break;
            }
        }
    }
    if (sectorsPerCluster != nullptr)
        *sectorsPerCluster = answer;
    return true;
}
