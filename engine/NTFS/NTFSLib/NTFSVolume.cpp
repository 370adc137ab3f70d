#include "NTFSVolume.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "CheckedMath.h"
#include "IStorageDevice.h"
#include "NTFSDBR.h"
#include "NTFSFileNode.h"
#include "NTFSFileRecord.h"
#include "NTFSMultiFileRecord.h"
#include "ReleasePtr.h"
#include "SectorSize.h"
#include "Utility/CatchExeception.h"
#include "Utility/TextConvert.h"

namespace at = ntfs::layout::attr;

namespace {

uint32_t SectorSizeOf(IStorageDevice& device) {
    return vk::NormaliseSectorSize(static_cast<uint64_t>(device.GetSectorSize()));
}

// The record whose first byte is at (sector, offset): 4 KiB read when the
// device has them, else 1 KiB.
bool ReadRecord(IStorageDevice& device, int64_t sector, uint32_t offset, CNTFSFileRecord& record) {
    std::vector<uint8_t> bytes;
    for (uint32_t size :
         {ntfs::layout::record::kMaxRecordSize, ntfs::layout::record::kMinRecordSize}) {
        if (NTFSRecordLocator::ReadAt(&device, sector, offset, size, bytes))
            return record.Init(bytes.data(), bytes.size());
    }
    return false;
}

// Copies a resident $DATA value out; 1 when it fits. With `holder` (the
// record the attribute lies in, `offset` bytes into it), the value's bytes
// in the record's torn sectors are zeros in the copy and their ranges go to
// `lost`: they may be an older version's.
int CopyValue(const CNTFSFileRecordAttribute& a, long long* length, uint8_t* buffer, unsigned size,
              const CNTFSFileRecord* holder = nullptr, size_t offset = 0,
              CLostRanges* lost = nullptr) {
    if (a.Empty() || !a.IsResident())
        return 0;
    vk::ByteReader value = a.Value();
    if (value.failed() || value.size() > size)
        return 0;
    std::memcpy(buffer, value.data(), value.size());
    *length = static_cast<long long>(value.size());
    if (holder != nullptr && holder->TornSectors() != 0) {
        const CLostRanges torn = holder->TornBytes(offset + a.GetOffsetToAttribute(), value.size());
        for (const LostRange& r : torn.Ranges())
            std::memset(buffer + r.offset, 0, static_cast<size_t>(r.length));
        if (lost != nullptr)
            lost->Add(torn);
    }
    return 1;
}

// The resident $DATA whose value starts `valueOffset` bytes after the start
// of device sector `sector`: the record holding it begins at a multiple of
// 1 KiB before the value.
int ValueAt(IStorageDevice& device, int64_t sector, long long valueOffset, long long* length,
            uint8_t* buffer, unsigned size, CLostRanges* lost) {
    if (sector < 0 || valueOffset <= 0)
        return 0;
    for (long long start = valueOffset / 1024 * 1024; start >= 0; start -= 1024) {
        const long long within = valueOffset - start;
        const uint32_t ss = SectorSizeOf(device);
        CNTFSFileRecord record;
        if (!ReadRecord(device, sector + start / ss, static_cast<uint32_t>(start % ss), record))
            continue;
        for (int i = 0; i < CNTFSFileRecord::kMaxAttributes; ++i) {
            size_t off = 0;
            CNTFSFileRecordAttribute a = record.FindAttibute(at::kData, i, &off);
            if (a.Empty())
                break;
            if (a.IsResident() && static_cast<long long>(off) + a.GetOffsetToAttribute() == within)
                return CopyValue(a, length, buffer, size, &record, off, lost);
        }
        return 0;
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------- recogniser

int CNTFSVolumeAnalyer::GetLabel(char* buffer, int size) {
    if (buffer == nullptr || size <= 0)
        return 0;
    const size_t n =
        vk::Utf8CutPoint(m_label.data(), m_label.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, m_label.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

IVolumeAnalyze* CreateNTFSVolumeAnalyze(IStorageDevice* device, unsigned long long startSector) {
    if (device == nullptr)
        return nullptr;
    const uint32_t ss = SectorSizeOf(*device);
    std::vector<uint8_t> sector(std::max<size_t>(ss, 4096), 0);
    if (!device->ReadSector(sector.data(), static_cast<long long>(startSector), 1))
        return nullptr;
    CNTFSDBR dbr;
    NTFSVolumeGeometry g;
    if (!dbr.InitFromBuffer(sector.data()) || !GetNTFSVolumeGeometry(dbr, ss, &g))
        return nullptr;
    const long long total =
        static_cast<long long>(dbr.GetTotalSectors() * dbr.GetBytesPerSector() / ss);

    // The label lives in $Volume, record 3, which NTFS keeps in the first
    // clusters of the $MFT.
    std::string label;
    uint64_t byte = 0;
    if (vk::CheckedMulAdd<uint64_t>(g.mftCluster, g.clusterBytes, 3ull * g.recordBytes, &byte) &&
        vk::CheckedMulAdd<uint64_t>(startSector, ss, byte, &byte)) {
        std::vector<uint8_t> record;
        if (NTFSRecordLocator::ReadAt(device, static_cast<int64_t>(byte / ss),
                                      static_cast<uint32_t>(byte % ss), g.recordBytes, record)) {
            char text[512];
            if (CVolumeFileAnalyzer::GetLabel(record.data(), record.size(), text, sizeof(text)) >=
                0)
                label = text;
        }
    }
    return new (std::nothrow) CNTFSVolumeAnalyer(total, std::move(label));
}

// ---------------------------------------------------------------- resident data

int GetResidentDataRunsStream(CNTFSFileNode& node, IStorageDevice& device, long long* length,
                              uint8_t* buffer, unsigned size, CLostRanges* lost) {
    if (length == nullptr || buffer == nullptr)
        return 0;
    CNTFSFileProperties* props = node.GetNTFSFileProperties();
    if (props == nullptr || (props->GetAttribute() & kNTFSAttrDirectory))
        return 0;
    if (const vk::ReleasePtr<IDataRunList> list(props->GetDataRunList()); list != nullptr) {
        const DataRun* run = list->GetFirst();
        const bool resident =
            list->GetDataRunListType() == DATARUN_LIST_NTFS_RESIDENT && run != nullptr;
        const int64_t sector = resident ? run->start : -1;
        const long long offset = list->GetOffset();
        if (resident)
            return ValueAt(device, sector, offset, length, buffer, size, lost);
        return 0;
    }
    CNTFSFileRecord base;
    if (!ReadRecord(device, props->GetFileRecordStartSector(), props->GetFileRecordOffsetInSector(),
                    base))
        return 0;
    CNTFSMultiFileRecord multi(base, props->GetFileRecordStartSector(),
                               props->GetFileRecordOffsetInSector(), &device,
                               props->GetExtendFileRecordInfoList());
    for (int i = 0; i < 4 * CNTFSFileRecord::kMaxAttributes; ++i) {
        NTFSAttributeRef ref = multi.FindAttibute(at::kData, i);
        if (ref.Empty())
            return 0;
        if (!ref.attribute.IsNamed()) {
            const bool inBase = ref.sector == props->GetFileRecordStartSector() &&
                                ref.offsetInSector == props->GetFileRecordOffsetInSector();
            return CopyValue(ref.attribute, length, buffer, size, inBase ? &base : nullptr,
                             ref.offset, lost);
        }
    }
    return 0;
}

int GetResidentDataRunsStream(unsigned long long recordSector, IStorageDevice& device,
                              long long* length, uint8_t* buffer, unsigned size,
                              uint32_t offsetInSector) {
    if (length == nullptr || buffer == nullptr)
        return 0;
    CNTFSFileRecord record;
    if (!ReadRecord(device, static_cast<int64_t>(recordSector), offsetInSector, record) ||
        record.IsFolder())
        return 0;
    for (int i = 0; i < CNTFSFileRecord::kMaxAttributes; ++i) {
        CNTFSFileRecordAttribute a = record.FindAttibute(at::kData, i);
        if (a.Empty())
            return 0;
        if (!a.IsNamed())
            return CopyValue(a, length, buffer, size);
    }
    return 0;
}

// ---------------------------------------------------------------- CFileReaderEx

bool CFileReaderEx::Open(IStorageDevice* device, CFileNode* node,
                         CSearchedPartitionInfo* partition) {
    if (partition == nullptr)
        return false;
    return Open(device, node, partition->runOriginSector,
                static_cast<int>(partition->sectorsPerCluster));
}

bool CFileReaderEx::Open(IStorageDevice* device, CFileNode* node, long long partitionStart,
                         int sectorsPerCluster) {
    Close();
    if (device == nullptr || node == nullptr || sectorsPerCluster <= 0 || partitionStart < 0)
        return false;
    const long long ss = SectorSizeOf(*device);
    const long long clusterBytes = ss * sectorsPerCluster;
    // The buffer holds eight clusters; NTFS clusters stop at 2 MiB.
    if (clusterBytes > (2LL << 20) || node->GetFileSize() <= 0 || node->GetDataRunList() == nullptr)
        return false;
    m_device = device;
    m_node = node;
    m_partitionStart = partitionStart;
    m_sectorsPerCluster = sectorsPerCluster;
    m_clusterBytes = clusterBytes;
    m_fileSize = node->GetFileSize();
    m_buffer.assign(static_cast<size_t>(8 * clusterBytes), 0);
    IDataRunList* runs = node->GetDataRunList();
    if (node->IsCompressed() && runs->IsResident() == 0 &&
        runs->GetDataRunListType() != DATARUN_LIST_NTFS_RESIDENT) {
        CSearchedPartitionInfo record(static_cast<unsigned>(ss));
        record.fileSystemType = 3;
        record.runOriginSector = partitionStart;
        record.sectorsPerCluster = static_cast<uint32_t>(sectorsPerCluster);
        m_compressed.reset(OpenNTFSCompressFileReader(device, node, &record));
        if (m_compressed == nullptr) {
            Close();
            return false;
        }
    }
    return true;
}

void CFileReaderEx::Close() {
    m_compressed.reset();
    m_device = nullptr;
    m_node = nullptr;
    m_buffer.clear();
    m_buffer.shrink_to_fit();
}

bool CFileReaderEx::ReadResidentData(long long offset, uint8_t* out, int count, int& got) {
    got = 0;
    auto* node = dynamic_cast<CNTFSFileNode*>(m_node);
    if (node == nullptr)
        return ReadStoredResidentData(offset, out, count, got);
    if (m_device == nullptr || count < 0)
        return false;
    long long length = 0;
    CLostRanges torn;
    if (!GetResidentDataRunsStream(*node, *m_device, &length, m_buffer.data(),
                                   static_cast<unsigned>(m_buffer.size()), &torn) ||
        offset < 0 || offset >= length)
        return false;
    const long long n = std::min<long long>(count, length - offset);
    std::memcpy(out, m_buffer.data() + offset, static_cast<size_t>(n));
    got = static_cast<int>(n);
    for (const LostRange& r : torn.Ranges()) {
        const long long from = std::max(r.offset, offset);
        const long long to = std::min(r.offset + r.length, offset + n);
        m_lost.Add(from, to - from);
    }
    return true;
}

// The run names the sector the record starts in; a device sector may hold
// several records, so the one taken must carry the node's number (when both
// tell it) and data of the node's size.
bool CFileReaderEx::ReadStoredResidentData(long long offset, uint8_t* out, int count, int& got) {
    got = 0;
    if (m_node == nullptr || m_device == nullptr || count < 0 || offset < 0)
        return false;
    IDataRunList* runs = m_node->GetDataRunList();
    if (runs == nullptr)
        return false;
    const vk::ReleasePtr<IDataRunList> list(runs->Clone());
    const DataRun* run = list->GetFirst();
    if (run == nullptr || run->start < 0)
        return false;
    const uint32_t ss = SectorSizeOf(*m_device);
    const long long id = m_node->GetCurrentNodeID();
    for (uint32_t slot = 0; slot == 0 || slot < ss; slot += ntfs::layout::record::kMinRecordSize) {
        CNTFSFileRecord record;
        if (!ReadRecord(*m_device, run->start, slot, record) || record.IsFolder())
            continue;
        if (id >= 0 && record.HasXPNumberOfthisMFTRecord() &&
            record.GetXPNumberOfthisMFTRecord() != static_cast<uint32_t>(id))
            continue;
        long long length = 0;
        if (!GetResidentDataRunsStream(static_cast<unsigned long long>(run->start), *m_device,
                                       &length, m_buffer.data(),
                                       static_cast<unsigned>(m_buffer.size()), slot) ||
            length != m_fileSize)
            continue;
        if (offset >= length)
            return false;
        const long long n = std::min<long long>(count, length - offset);
        std::memcpy(out, m_buffer.data() + offset, static_cast<size_t>(n));
        got = static_cast<int>(n);
        return true;
    }
    return false;
}

bool CFileReaderEx::Read(long long offset, uint8_t* out, int count, int& got) {
    got = 0;
    if (m_device == nullptr || m_node == nullptr || out == nullptr || count < 0 || offset < 0 ||
        offset >= m_fileSize)
        return false;
    count = static_cast<int>(std::min<long long>(count, m_fileSize - offset));
    IDataRunList* runs = m_node->GetDataRunList();
    if (runs == nullptr)
        return false;
    if (runs->IsResident() != 0 || runs->GetDataRunListType() == DATARUN_LIST_NTFS_RESIDENT)
        return ReadResidentData(offset, out, count, got);
    if (m_compressed != nullptr) {
        int error = 0;
        const unsigned n = m_compressed->ReadData(offset, reinterpret_cast<char*>(out),
                                                  static_cast<unsigned>(count), &error);
        got = static_cast<int>(std::min<unsigned>(n, static_cast<unsigned>(count)));
        return n != 0 || count == 0;
    }

    const long long c = m_clusterBytes;
    const long long deviceSectors = m_device->GetTotalSectors();
    long long before = 0;  // file clusters before the current run
    long long want = count;
    // Walks a copy of the runs: the node's list and its cursor stay the node's.
    const vk::ReleasePtr<IDataRunList> list(runs->Clone());
    for (const DataRun* run = list->GetFirst(); run != nullptr && want > 0; run = list->GetNext()) {
        if (run->length <= 0)
            continue;
        long long runEnd = 0;
        if (!vk::CheckedAdd(before, run->length, &runEnd))
            return false;
        for (long long cluster = offset / c; want > 0 && cluster < runEnd; cluster = offset / c) {
            if (cluster < before)
                break;
            const long long within = offset % c;
            const long long n = std::min(want, c - within);
            if (run->start < 0) {
                // A sparse run holds zeros; it has no clusters to read.
                std::memset(out + got, 0, static_cast<size_t>(n));
            } else {
                uint64_t sector = 0;
                if (!vk::ClusterToSector(static_cast<uint64_t>(run->start + (cluster - before)), 0,
                                         static_cast<uint64_t>(m_sectorsPerCluster),
                                         static_cast<uint64_t>(m_partitionStart), &sector) ||
                    (deviceSectors >= 0 &&
                     !vk::SpanInside(sector, static_cast<uint64_t>(m_sectorsPerCluster),
                                     static_cast<uint64_t>(deviceSectors))) ||
                    !m_device->ReadSector(m_buffer.data(), static_cast<long long>(sector),
                                          m_sectorsPerCluster)) {
                    CatchExeception::WriteLog("CFileReaderEx: cluster %lld cannot be read\n",
                                              run->start + (cluster - before));
                    return false;
                }
                std::memcpy(out + got, m_buffer.data() + within, static_cast<size_t>(n));
            }
            got += static_cast<int>(n);
            offset += n;
            want -= n;
        }
        before = runEnd;
    }
    return true;
}

// ---------------------------------------------------------------- the factory entry

namespace {

class CNTFSNodeReader final : public IFileReader {
public:
    bool Open(IStorageDevice* device, CFileNode* node, long long start, unsigned spc) {
        m_device = device;
        m_start = start;
        m_spc = spc;
        return m_reader.Open(device, node, start, static_cast<int>(spc));
    }
    unsigned ReadData(long long offset, char* buffer, unsigned length, int* error) override {
        int got = 0;
        const int asked = static_cast<int>(std::min<unsigned>(length, 0x7FFFFFFFu));
        const long long lostBefore = m_reader.GetLostRanges().TotalBytes();
        if (!m_reader.Read(offset, reinterpret_cast<uint8_t*>(buffer), asked, got)) {
            if (error != nullptr)
                *error = -1;
            return 0;
        }
        if (error != nullptr && m_reader.GetLostRanges().TotalBytes() != lostBefore)
            *error = kReadDataLost;
        return static_cast<unsigned>(got);
    }
    const CLostRanges* GetLostRanges() const override { return &m_reader.GetLostRanges(); }
    void ClearLostRanges() override { m_reader.ClearLostRanges(); }
    IFileReader* Clone() override {
        auto* copy = new (std::nothrow) CNTFSNodeReader();
        if (copy != nullptr && !copy->Open(m_device, m_reader.GetNode(), m_start, m_spc)) {
            delete copy;
            return nullptr;
        }
        return copy;
    }
    long long GetDataSize() const override { return m_reader.GetFileSize(); }
    int IsCompressFile() override {
        return m_reader.GetNode() ? m_reader.GetNode()->IsCompressed() : 0;
    }
    void Release() override { delete this; }

private:
    CFileReaderEx m_reader;
    IStorageDevice* m_device = nullptr;
    long long m_start = 0;
    unsigned m_spc = 0;
};

}  // namespace

IFileReader* CreateNTFSResidentDataReader(IStorageDevice* device, IFileNode* node,
                                          long long startSector, unsigned sectorsPerCluster) {
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    if (fileNode == nullptr)
        return nullptr;
    auto* reader = new (std::nothrow) CNTFSNodeReader();
    if (reader != nullptr && !reader->Open(device, fileNode, startSector, sectorsPerCluster)) {
        delete reader;
        return nullptr;
    }
    return reader;
}
