#include "FindFileFromLogFile.h"

#include <algorithm>
#include <cstring>

#include "CheckedMath.h"
#include "IStorageDevice.h"
#include "NTFSLib/NTFSIndexRecord.h"
#include "ReleasePtr.h"
#include "SectorSize.h"
#include "Utility/CatchExeception.h"

namespace lg = ntfs::layout::log;
namespace at = ntfs::layout::attr;
namespace rec = ntfs::layout::record;

namespace {

constexpr size_t kPage = lg::kPageSize;
// Undo data shorter than this cannot hold mapping pairs worth restoring;
// compressed files need more (their runs come in compression units).
constexpr uint16_t kMinUndo = 10;
constexpr uint16_t kMinUndoCompressed = 24;
// Record images and extension records a repair looks at.
constexpr int kMaxDataAttributes = 5;
constexpr size_t kMaxExtensions = 7;

size_t Align8(size_t n) {
    return (n + 7) & ~size_t{7};
}

}  // namespace

void CFindFileFromLogFile::Reset() {
    m_device = nullptr;
    m_ready = false;
    m_analysed = false;
    m_logRuns.clear();
    m_logProperties.reset();
    m_images.clear();
    m_imagesByName.clear();
    m_undo.clear();
    m_undoByRecord.clear();
    m_mftRuns.ClearDataRunList();
}

bool CFindFileFromLogFile::Init(IStorageDevice* device, const CNTFSDataRunList& mftRuns,
                                uint32_t sectorsPerCluster, int64_t runOrigin,
                                uint32_t recordBytes) {
    Reset();
    if (device == nullptr || mftRuns.IsEmpty())
        return false;
    m_device = device;
    m_sectorSize = vk::NormaliseSectorSize(static_cast<uint64_t>(device->GetSectorSize()));
    m_clusterBytes = uint64_t{sectorsPerCluster == 0 ? 8u : sectorsPerCluster} * m_sectorSize;
    m_runOrigin = runOrigin;
    m_recordBytes = recordBytes ? recordBytes : 1024;
    m_mftRuns = mftRuns;

    NTFSRecordLocator locator;
    locator.runOrigin = runOrigin;
    locator.sectorSize = m_sectorSize;
    locator.clusterBytes = m_clusterBytes;
    locator.recordBytes = m_recordBytes;
    locator.mftRuns = &m_mftRuns;
    int64_t sector = -1;
    uint32_t offset = 0;
    std::vector<uint8_t> bytes;
    if (!locator.Locate(2, &sector, &offset) ||
        !NTFSRecordLocator::ReadAt(device, sector, offset, m_recordBytes, bytes))
        return false;
    CNTFSMultiFileRecord record(bytes.data(), bytes.size(), sector, offset, device, nullptr);
    CNTFSFilePropertiesBuilder::Options o;
    o.clusterBytes = m_clusterBytes;
    int64_t parent = -1;
    std::unique_ptr<CNTFSFileProperties> props(
        CNTFSFilePropertiesBuilder::BuildFileProperties(sector, record, o, &parent));
    if (props && std::strstr(props->GetFileName(), "$LogFile") != nullptr) {
        const vk::ReleasePtr<IDataRunList> runs(props->GetDataRunList());
        if (runs != nullptr && runs->GetDataRunListType() == DATARUN_LIST_NTFS_NONRESIDENT) {
            for (const DataRun* r = runs->GetFirst(); r; r = runs->GetNext())
                m_logRuns.push_back(*r);
        }
        m_logProperties = std::move(props);
        m_ready = !m_logRuns.empty();
    }
    return true;
}

int64_t CFindFileFromLogFile::GetLogPageCount() const {
    int64_t clusters = 0;
    for (const DataRun& r : m_logRuns)
        clusters += r.length;
    uint64_t bytes = 0;
    if (!vk::CheckedMul<uint64_t>(static_cast<uint64_t>(clusters), m_clusterBytes, &bytes))
        return kMaxLogPages;
    return std::min<int64_t>(static_cast<int64_t>(bytes / kPage), kMaxLogPages);
}

bool CFindFileFromLogFile::ReadLog(uint64_t offset, size_t length, uint8_t* out) const {
    if (m_device == nullptr || m_clusterBytes == 0)
        return false;
    uint64_t runStart = 0;
    for (const DataRun& r : m_logRuns) {
        if (length == 0)
            break;
        const uint64_t runBytes = static_cast<uint64_t>(r.length) * m_clusterBytes;
        if (offset >= runStart + runBytes) {
            runStart += runBytes;
            continue;
        }
        const uint64_t within = offset - runStart;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(length, runBytes - within));
        if (r.start < 0) {
            std::memset(out, 0, n);
        } else {
            uint64_t byte = 0;
            if (!vk::CheckedMulAdd<uint64_t>(static_cast<uint64_t>(r.start), m_clusterBytes, within,
                                             &byte) ||
                !vk::CheckedMulAdd<uint64_t>(static_cast<uint64_t>(m_runOrigin), m_sectorSize, byte,
                                             &byte))
                return false;
            const uint64_t first = byte / m_sectorSize;
            const uint64_t skip = byte % m_sectorSize;
            const uint64_t sectors = (skip + n + m_sectorSize - 1) / m_sectorSize;
            std::vector<uint8_t> buffer(static_cast<size_t>(sectors * m_sectorSize));
            if (!m_device->ReadSector(buffer.data(), static_cast<long long>(first),
                                      static_cast<long long>(sectors)))
                return false;
            std::memcpy(out, buffer.data() + skip, n);
        }
        out += n;
        offset += n;
        length -= n;
        runStart += runBytes;
    }
    return length == 0;
}

bool CFindFileFromLogFile::GetLogPageBuffer(int64_t page, std::vector<uint8_t>& out) const {
    if (page < 0 || page >= GetLogPageCount())
        return false;
    out.assign(kPage, 0);
    return ReadLog(static_cast<uint64_t>(page) * kPage, kPage, out.data());
}

void CFindFileFromLogFile::WalkLog(const std::function<void(const uint8_t*, size_t)>& visit) const {
    const int64_t pages = GetLogPageCount();
    if (pages <= static_cast<int64_t>(lg::kFirstRecordPage))
        return;
    std::vector<uint8_t> head;
    std::vector<uint8_t> page;
    // Reads page p, checks it and undoes its fix-ups; its last LSN and last
    // end LSN, which differ when its last record goes on in the next page.
    auto load = [&](int64_t p, uint64_t* lastLsn, uint64_t* lastEndLsn) {
        if (!GetLogPageBuffer(p, page) ||
            !CRCRDRecord::IsValidRCRDRecordFirstSector(page.data(), page.size()) ||
            !CRCRDRecord::Unfixup(page.data(), page.size()))
            return false;
        *lastLsn = vk::LoadLE<uint64_t>(page.data() + lg::kPageLastLsn);
        *lastEndLsn = vk::LoadLE<uint64_t>(page.data() + lg::kPageLastEndLsn);
        return true;
    };
    uint64_t lastLsn = 0, lastEndLsn = 0;
    // The log is circular: the last page's last record may go on in page 4.
    if (load(pages - 1, &lastLsn, &lastEndLsn) && lastLsn != lastEndLsn) {
        for (size_t off = lg::kPageHeaderSize; off + lg::kRecordHeaderSize <= kPage; off += 8) {
            if (vk::LoadLE<uint64_t>(page.data() + off) == lastLsn) {
                head.assign(page.begin() + static_cast<long>(off), page.end());
                break;
            }
        }
    }
    for (int64_t p = static_cast<int64_t>(lg::kFirstRecordPage); p < pages; ++p) {
        if (!load(p, &lastLsn, &lastEndLsn)) {
            head.clear();
            continue;
        }
        if (!head.empty()) {
            head.insert(head.end(), page.begin() + lg::kPageHeaderSize, page.end());
            if (head.size() >= lg::kRecordHeaderSize) {
                const uint64_t length = uint64_t{lg::kRecordHeaderSize} +
                                        vk::LoadLE<uint32_t>(head.data() + lg::kRecordClientLength);
                if (length <= head.size())
                    visit(head.data(), static_cast<size_t>(length));
            }
            head.clear();
        }
        // Records lie in the used part of the page, each whole header first.
        size_t limit = vk::LoadLE<uint16_t>(page.data() + lg::kPageNextRecord);
        if (limit < lg::kPageHeaderSize || limit > kPage)
            limit = kPage;
        for (size_t off = lg::kPageHeaderSize;
             off + lg::kRecordHeaderSize <= kPage && off < limit;) {
            const uint64_t lsn = vk::LoadLE<uint64_t>(page.data() + off + lg::kRecordLsn);
            const uint32_t client =
                vk::LoadLE<uint32_t>(page.data() + off + lg::kRecordClientLength);
            if (lsn == 0 || client == 0)
                break;
            const uint64_t length = uint64_t{lg::kRecordHeaderSize} + client;
            if (off + length > kPage) {
                // Only the page's last record may go on in the next page; any
                // other length past the page is damage and ends the page.
                if (lsn == lastLsn && lastLsn != lastEndLsn && length <= 2 * kPage)
                    head.assign(page.begin() + static_cast<long>(off), page.end());
                break;
            }
            visit(page.data() + off, static_cast<size_t>(length));
            off = Align8(off + static_cast<size_t>(length));
        }
    }
}

int64_t CFindFileFromLogFile::TargetRecord(uint64_t vcn, uint16_t blockOffset) const {
    // The target is a byte position inside the $MFT's data: VCN clusters
    // plus 512-byte blocks, whatever the cluster and record sizes.
    uint64_t byte = 0;
    if (m_recordBytes == 0 ||
        !vk::CheckedMulAdd<uint64_t>(vcn, m_clusterBytes, uint64_t{blockOffset} * 512, &byte) ||
        byte / m_recordBytes > static_cast<uint64_t>(INT64_MAX))
        return -1;
    return static_cast<int64_t>(byte / m_recordBytes);
}

void CFindFileFromLogFile::VisitRecord(const uint8_t* data, size_t length) {
    if (length < lg::kOperationHeaderEnd)
        return;
    vk::ByteReader r(data, length);
    const uint64_t lsn = r.LE64(lg::kRecordLsn);
    const uint16_t redoOffset = r.LE16(lg::kRedoOffset);
    const uint16_t redoLength = r.LE16(lg::kRedoLength);
    const uint16_t undoOffset = r.LE16(lg::kUndoOffset);
    const uint16_t undoLength = r.LE16(lg::kUndoLength);
    const uint16_t recordOffset = r.LE16(lg::kRecordOffset);
    const uint16_t attributeOffset = r.LE16(lg::kAttributeOffset);
    const uint16_t blockOffset = r.LE16(lg::kClusterBlockOffset);
    const uint64_t vcn = r.LE64(lg::kTargetVcn);
    const int64_t target = TargetRecord(vcn, blockOffset);

    // A record image: the redo data of a record's initialisation.
    size_t imageAt = lg::kRecordHeaderSize + size_t{redoOffset};
    size_t imageLength = redoLength;
    if (redoOffset < lg::kOperationHeaderEnd - lg::kRecordHeaderSize ||
        !r.Has(imageAt, imageLength)) {
        imageAt = lg::kOperationHeaderEnd;
        imageLength = length - lg::kOperationHeaderEnd;
    }
    if (imageLength > 72 && r.Matches(imageAt, "FILE0") && m_images.size() < (size_t{1} << 20)) {
        std::vector<uint8_t> image(m_recordBytes, 0);
        const size_t copied = std::min<size_t>(imageLength, m_recordBytes);
        std::memcpy(image.data(), data + imageAt, copied);
        CNTFSFileRecord record;
        // The image may hold only the record's used bytes: enough when it
        // covers what the record says is in use.
        if (record.InitFromImage(image.data(), image.size()) && copied >= record.GetLength() &&
            !record.IsFolder() && !record.IsExtendFileRecord()) {
            CNTFSMultiFileRecord multi(record, -1, 0, nullptr, nullptr);
            CNTFSFilePropertiesBuilder::Options o;
            o.clusterBytes = m_clusterBytes;
            int64_t parent = -1;
            std::unique_ptr<CNTFSFileProperties> props(
                CNTFSFilePropertiesBuilder::BuildFileProperties(-1, multi, o, &parent));
            if (props && props->GetFileSize() != 0) {
                Image found;
                found.recordNumber = record.HasXPNumberOfthisMFTRecord()
                                         ? record.GetXPNumberOfthisMFTRecord()
                                         : target;
                found.sequence = vk::LoadLE<uint16_t>(image.data() + rec::kSequenceNumber);
                found.parent = parent;
                found.lsn = lsn;
                const std::string name = props->GetFileName();
                found.properties = std::move(props);
                // The latest image of one record under one name is the one kept.
                auto range = m_imagesByName.equal_range(name);
                for (auto it = range.first; it != range.second; ++it) {
                    Image& known = m_images[it->second];
                    if (known.recordNumber == found.recordNumber) {
                        if (known.lsn < found.lsn)
                            known = std::move(found);
                        return;
                    }
                }
                m_imagesByName.emplace(name, m_images.size());
                m_images.push_back(std::move(found));
            }
        }
        return;
    }

    // Undo data aimed at an attribute of an MFT record: kept only when it
    // lies wholly inside the log record and fits a record.
    if (undoLength > kMinUndo && attributeOffset != 0 && target >= 0 &&
        undoLength <= m_recordBytes &&
        r.Has(lg::kRecordHeaderSize + size_t{undoOffset}, undoLength) &&
        m_undo.size() < (size_t{1} << 22)) {
        UndoPiece piece;
        piece.record = target;
        piece.recordOffset = recordOffset;
        piece.attributeOffset = attributeOffset;
        const uint8_t* from = data + lg::kRecordHeaderSize + undoOffset;
        piece.data.assign(from, from + undoLength);
        m_undoByRecord.emplace(target, m_undo.size());
        m_undo.push_back(std::move(piece));
    }
}

void CFindFileFromLogFile::Analyzer() {
    m_analysed = true;
    if (!m_ready)
        return;
    WalkLog([this](const uint8_t* data, size_t length) { VisitRecord(data, length); });
}

int CFindFileFromLogFile::RebuildFileRecord(uint8_t* record, size_t size, int64_t recordNumber,
                                            bool compressed) const {
    if (record == nullptr || size < rec::kMinRecordSize)
        return 0;
    const uint16_t minimum = compressed ? kMinUndoCompressed : kMinUndo;
    std::vector<const UndoPiece*> pieces;
    auto range = m_undoByRecord.equal_range(recordNumber);
    for (auto it = range.first; it != range.second; ++it)
        pieces.push_back(&m_undo[it->second]);
    if (pieces.empty())
        return 0;
    std::stable_sort(pieces.begin(), pieces.end(), [](const UndoPiece* a, const UndoPiece* b) {
        return a->recordOffset != b->recordOffset ? a->recordOffset < b->recordOffset
                                                  : a->attributeOffset < b->attributeOffset;
    });
    // The $DATA attributes by their offsets, found before anything changes.
    std::vector<size_t> offsets;
    for (int i = 0; i < CNTFSFileRecord::kMaxAttributes; ++i) {
        size_t off = 0;
        if (CNTFSFileRecord::FindAttibute(record, size, at::kData, i, &off).Empty())
            break;
        offsets.push_back(off);
    }
    int rebuilt = 0;
    size_t end = 0;
    for (size_t offset : offsets) {
        size_t attributeEnd = 0;
        for (const UndoPiece* p : pieces) {
            if (p->recordOffset != offset || p->data.size() <= minimum)
                continue;
            const size_t at = size_t{p->recordOffset} + p->attributeOffset;
            // A piece that would end past the record is damage: skipped.
            if (!vk::RangeInside(size, at, p->data.size()))
                continue;
            std::memcpy(record + at, p->data.data(), p->data.size());
            attributeEnd = std::max(attributeEnd, at + p->data.size());
        }
        if (attributeEnd == 0)
            continue;
        vk::StoreLE<uint32_t>(record + offset + at::kLength,
                              static_cast<uint32_t>(Align8(attributeEnd) - offset));
        end = std::max(end, offset + Align8(attributeEnd - offset));
        ++rebuilt;
    }
    if (rebuilt > 0 && end + 8 <= size)
        vk::StoreLE<uint32_t>(record + end, at::kEnd);
    return rebuilt;
}

bool CFindFileFromLogFile::ReplaceFileRecordInfo(const uint8_t* record, size_t size,
                                                 CNTFSFileProperties* properties, int64_t parent,
                                                 const ExtendFileRecordInfoList* extensions) {
    if (record == nullptr || properties == nullptr || !m_analysed)
        return false;
    const std::string name = properties->GetFileName();
    Image* image = nullptr;
    int best = -1;
    auto range = m_imagesByName.equal_range(name);
    for (auto it = range.first; it != range.second; ++it) {
        Image& candidate = m_images[it->second];
        const int score = (candidate.recordNumber == properties->GetFileRecordIndex() ? 2 : 0) +
                          (parent != -1 && candidate.parent == parent ? 1 : 0);
        if (score > best || (score == best && image != nullptr && candidate.lsn > image->lsn)) {
            best = score;
            image = &candidate;
        }
    }
    const bool isFile = (properties->GetAttribute() & kNTFSAttrDirectory) == 0;
    if (image == nullptr && (!isFile || (properties->GetState() & kNTFSStateDeleted) == 0))
        return false;
    const bool compressed = (properties->GetAttribute() & kNTFSAttrCompressed) != 0 ||
                            (image && (image->properties->GetAttribute() & kNTFSAttrCompressed));

    // The base record and its first extension records, rebuilt from undo
    // data; the mapping pairs of their unnamed data attributes decoded.
    CNTFSDataRunList collected;
    auto collect = [&](std::vector<uint8_t>& bytes, int64_t number) {
        if (!CNTFSFileRecord::UnfixupFileRecord(bytes.data(), bytes.size()))
            return;
        if (RebuildFileRecord(bytes.data(), bytes.size(), number, compressed) == 0)
            return;
        int taken = 0;
        for (int i = 0; i < CNTFSFileRecord::kMaxAttributes && taken < kMaxDataAttributes; ++i) {
            CNTFSFileRecordAttribute a =
                CNTFSFileRecord::FindAttibute(bytes.data(), bytes.size(), at::kData, i);
            if (a.Empty())
                break;
            if (a.IsNamed() || a.IsResident())
                continue;
            ++taken;
            CNTFSFileRecordDataRunsAttribute runs(a);
            const uint8_t* pairs = runs.GetDataRunsBuffer();
            if (pairs != nullptr)
                collected.AddDataRunsfromBuffer(pairs, runs.GetDataRunsLength(),
                                                std::max<int64_t>(0, runs.GetStartVCN()));
        }
    };
    std::vector<uint8_t> base(record, record + std::min<size_t>(size, m_recordBytes));
    collect(base, properties->GetFileRecordIndex());
    if (extensions != nullptr) {
        for (size_t i = 0; i < extensions->size() && i < kMaxExtensions; ++i) {
            const CAttributeListExtendFileRecordInfo& e = (*extensions)[i];
            std::vector<uint8_t> bytes;
            if (e.startSector >= 0 &&
                NTFSRecordLocator::ReadAt(m_device, e.startSector, e.offsetInSector, m_recordBytes,
                                          bytes))
                collect(bytes, e.recordNumber);
        }
    }
    collected.Sort();
    CNoneResidentNTFSDataRunList rebuilt;
    for (const CDataRun& r : collected.Runs()) {
        const DataRun run(r.lcn, r.length);
        rebuilt.AddDataRun(&run);
    }

    if (image != nullptr) {
        image->used = true;
        if (rebuilt.Count() > 0) {
            properties->SetDataRunList(&rebuilt);
        } else if (const vk::ReleasePtr<IDataRunList> own(image->properties->GetDataRunList());
                   own != nullptr) {
            properties->SetDataRunList(own.get());
        }
        properties->SetFileSize(image->properties->GetFileSize());
        properties->SetInitializedSize(image->properties->GetInitializedSize());
        if (compressed)
            properties->SetAttribute(
                static_cast<uint16_t>(properties->GetAttribute() | kNTFSAttrCompressed));
        return true;
    }
    if (rebuilt.Count() == 0)
        return false;
    properties->SetDataRunList(&rebuilt);
    long long bytes = 0;
    if (!vk::CheckedMul<long long>(rebuilt.GetTotalClusters(),
                                   static_cast<long long>(m_clusterBytes), &bytes))
        bytes = 0;
    properties->SetFileSize(bytes);
    // Sized by its clusters: nothing says how much of them was written.
    properties->SetInitializedSize(-1);
    return true;
}
