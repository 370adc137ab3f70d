#include "NTFSFileNode.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "CheckedMath.h"
#include "RecoveryInterfaces.h"
#include "ReleasePtr.h"
#include "Utility/CatchExeception.h"
#include "Utility/TextConvert.h"

namespace at = ntfs::layout::attr;
namespace fn = ntfs::layout::fn;
namespace si = ntfs::layout::si;

// ---------------------------------------------------------------- properties

void CNTFSFileProperties::Init(CNTFSFilePropertiesStruct&& data) {
    m_data = std::move(data);
}

void CNTFSFileProperties::SetFileName(const char* name) {
    if (name == nullptr)
        return;
    m_data.name = name;
    const size_t length = m_data.name.size() + 1;
    m_data.nameLength = static_cast<uint16_t>(std::min<size_t>(length, 0xFFFF));
}

IDataRunList* CNTFSFileProperties::GetDataRunList() {
    return m_data.runs ? m_data.runs->Decompress() : nullptr;
}

void CNTFSFileProperties::SetDataRunList(IDataRunList* list) {
    if (list == nullptr)
        return;
    m_data.runs = CCompressedDataRunList::Compress(list);
}

CNTFSFileProperties* CNTFSFileProperties::CloneNTFS() const {
    auto* copy = new (std::nothrow) CNTFSFileProperties();
    if (copy == nullptr)
        return nullptr;
    copy->m_data.name = m_data.name;
    copy->m_data.nameLength = m_data.nameLength;
    copy->m_data.fileSize = m_data.fileSize;
    copy->m_data.initializedSize = m_data.initializedSize;
    copy->m_data.attribute = m_data.attribute;
    copy->m_data.creationTime = m_data.creationTime;
    copy->m_data.modificationTime = m_data.modificationTime;
    copy->m_data.lastAccessTime = m_data.lastAccessTime;
    copy->m_data.state = m_data.state;
    copy->m_data.fileRecordStartSector = m_data.fileRecordStartSector;
    copy->m_data.fileRecordOffsetInSector = m_data.fileRecordOffsetInSector;
    copy->m_data.fileRecordIndex = m_data.fileRecordIndex;
    copy->m_data.runs = m_data.runs;
    if (m_extensions)
        copy->m_extensions = std::make_unique<ExtendFileRecordInfoList>(*m_extensions);
    return copy;
}

// ---------------------------------------------------------------- node

void CNTFSFileNode::SetFileProperties(CNTFSFileProperties* properties) {
    m_properties.reset(properties);
    SetNodeId(0);
    CFileNode::SetParentNodeID(5);
    if (properties == nullptr) {
        CFileNode::SetDataRunList(nullptr);
        return;
    }
    SetMetaDataSector(properties->GetFileRecordStartSector());
    CFileNode::SetDataRunList(nullptr);
    // The packed runs are decoded when somebody reads them: most nodes of
    // a scan are never recovered.
    if (properties->HasDataRuns())
        SetRunsOnDemand();
}

IDataRunList* CNTFSFileNode::MakeDataRunList() const {
    return m_properties ? m_properties->GetDataRunList() : nullptr;
}

IFileNode* CNTFSFileNode::Clone() {
    CNTFSFileProperties* props = nullptr;
    if (m_properties) {
        props = m_properties->CloneNTFS();
        if (props == nullptr)
            return nullptr;
    }
    auto* copy = new (std::nothrow) CNTFSFileNode();
    if (copy == nullptr) {
        delete props;
        return nullptr;
    }
    copy->m_properties.reset(props);
    copy->SetNodeId(0);
    copy->CFileNode::SetParentNodeID(5);
    if (props != nullptr)
        copy->SetMetaDataSector(props->GetFileRecordStartSector());
    if (HasRunsOnDemand()) {
        // Not decoded yet: the copy's properties hold the same packed runs.
        copy->CFileNode::SetDataRunList(nullptr);
        copy->SetRunsOnDemand();
    } else {
        IDataRunList* runs = GetDataRunList();
        copy->CFileNode::SetDataRunList(runs != nullptr ? runs->Clone() : nullptr);
    }
    copy->m_metadataStart = m_metadataStart;
    return copy;
}

void CNTFSFileNode::MarkDeleted() {
    if (m_properties)
        m_properties->SetState(m_properties->GetState() | kNTFSStateDeleted);
}

IFileReader* CNTFSFileNode::CreateCompressFileReader(void*) {
    return CreateNTFSCompressFileReader();
}

int CNTFSFileNode::IsCompressed() const {
    return m_properties && (m_properties->GetAttribute() & kNTFSAttrCompressed) ? 1 : 0;
}

void CNTFSFileNode::FilterFileNameByDot() {
    if (!m_properties)
        return;
    const std::string filtered = CFileNode::FilterFileNameByDot(m_properties->GetFileName());
    m_properties->SetFileName(filtered.c_str());
}

void CNTFSFileNode::SetFileName(const char* name) {
    if (m_properties)
        m_properties->SetFileName(name);
}

// ---------------------------------------------------------------- builder

namespace {

// A $FILE_NAME found across the file's records, valid for reading.
// (The records a multi-record reads checked every $FILE_NAME when they were
// read.)
CNTFSFileRecordFileNameAttribute FileNameAt(CNTFSMultiFileRecord& record, int n) {
    NTFSAttributeRef ref = record.FindAttibute(at::kFileName, n);
    return ref.Empty() ? CNTFSFileRecordFileNameAttribute()
                       : CNTFSFileRecordFileNameAttribute(ref.attribute);
}

}  // namespace

bool CNTFSFilePropertiesBuilder::BuildFilePropertiesFrom0x30(CNTFSMultiFileRecord& record,
                                                             CNTFSFilePropertiesStruct& out,
                                                             int64_t* parentRecord) {
    const CNTFSFileRecordFileNameAttribute first = FileNameAt(record, 0);
    if (first.Empty())
        return false;
    const CNTFSFileRecordFileNameAttribute second = FileNameAt(record, 1);
    // The long (Win32) name wins over the short DOS one, whichever comes first.
    const bool takeSecond = !second.Empty() && (second.GetFileNameNamespaceType() == fn::kWin32 ||
                                                (first.GetFileNameNamespaceType() == fn::kDos &&
                                                 second.GetFileNameNamespaceType() != fn::kDos));
    const CNTFSFileRecordFileNameAttribute& chosen = takeSecond ? second : first;
    const CNTFSFileRecordFileNameAttribute& other = takeSecond ? first : second;

    // The parent of the name shown: a hard link in another folder must not
    // lend its folder to this name.
    int64_t parent = chosen.GetFileRecordNumberofParentDirectory();
    if (parent < 5 && !other.Empty() && other.GetFileRecordNumberofParentDirectory() >= 5)
        parent = other.GetFileRecordNumberofParentDirectory();
    if (parentRecord != nullptr && parent != -1)
        *parentRecord = parent;

    if (chosen.GetFileNameLength() == 0)
        return false;
    if (chosen.IsDirectory())
        out.attribute |= kNTFSAttrDirectory;
    out.name = chosen.GetFileName();
    if (out.name.empty())
        return false;
    out.nameLength = static_cast<uint16_t>(std::min<size_t>(out.name.size(), 0xFFFF));
    out.creationTime = chosen.GetCreationTime();
    out.modificationTime = chosen.GetModificationTime();
    out.lastAccessTime = chosen.GetLastAccessTime();
    out.fileSize = chosen.GetFileRealSize();
    return true;
}

bool CNTFSFilePropertiesBuilder::BuildFilePropertiesFrom0x10(CNTFSMultiFileRecord& record,
                                                             CNTFSFilePropertiesStruct& out) {
    NTFSAttributeRef ref = record.FindAttibute(at::kStandardInformation, 0);
    if (ref.Empty())
        return true;
    CNTFSFileRecordStandardInformationAttribute info(ref.attribute);
    if (!info.IsValid())
        return true;
    out.creationTime = info.GetCreationTime();
    out.modificationTime = info.GetModificationTime();
    out.lastAccessTime = info.GetLastAccessTime();
    const uint32_t dos = info.GetDosFilePermission();
    for (uint32_t bit : {si::kReadOnly, si::kHidden, si::kSystem, si::kArchive}) {
        if (dos & bit)
            out.attribute |= static_cast<uint16_t>(bit);
    }
    return true;
}

bool CNTFSFilePropertiesBuilder::BuildFilePropertiesFrom0x80(CNTFSMultiFileRecord& record,
                                                             CNTFSFilePropertiesStruct& out,
                                                             const Options& options) {
    CNTFSDataRunList collected;
    bool resident = false;
    bool found = false;
    bool haveFirstExtent = false;
    int64_t size = out.fileSize;
    int64_t initialized = -1;
    for (int i = 0; i < 4 * CNTFSFileRecord::kMaxAttributes; ++i) {
        NTFSAttributeRef ref = record.FindAttibute(at::kData, i);
        if (ref.Empty())
            break;
        const CNTFSFileRecordAttribute& a = ref.attribute;
        if (options.stream.empty() ? a.IsNamed() : !a.NameEquals(options.stream))
            continue;
        found = true;
        if (a.IsCompressed())
            out.attribute |= kNTFSAttrCompressed;
        if (a.IsEncrypted())
            out.attribute |= kNTFSAttrEncrypted;
        if (a.IsResident()) {
            CResidentNTFSDataRunList list;
            list.InitList(ref.sector, 1,
                          static_cast<long long>(ref.offsetInSector) +
                              static_cast<long long>(ref.offset) + a.GetOffsetToAttribute());
            out.runs = CCompressedDataRunList::Compress(&list);
            size = a.GetLengthOfAttribute();
            resident = true;
            break;
        }
        CNTFSFileRecordDataRunsAttribute runs(a);
        const uint8_t* pairs = runs.GetDataRunsBuffer();
        if (pairs != nullptr && runs.GetDataRunsLength() > 0)
            collected.AddDataRunsfromBuffer(pairs, runs.GetDataRunsLength(), runs.GetStartVCN());
        if (runs.GetStartVCN() == 0 && !haveFirstExtent) {
            // The data attribute's real size is the file's size; the one in
            // $FILE_NAME is only updated now and then.
            size = runs.GetRealSizeOfAttribute();
            // Only the first extent's header carries the sizes.
            initialized = runs.GetInitializedDataSize();
            haveFirstExtent = true;
        }
    }
    if (!options.stream.empty() && !found)
        return false;

    if (!resident) {
        collected.Sort();
        // Extents in VCN order; a missing extent (an extension record that
        // could not be read) becomes a sparse gap so that what follows still
        // lands at its place in the file, and a repeated extent is dropped.
        CNoneResidentNTFSDataRunList list;
        int64_t expected = 0;
        bool damaged = false;
        for (const CDataRun& r : collected.Runs()) {
            if (r.vcn < expected) {
                damaged = true;
                continue;
            }
            if (r.vcn > expected) {
                const DataRun gap(-1, r.vcn - expected);
                list.AddDataRun(&gap);
                damaged = true;
            }
            const DataRun run(r.lcn, r.length);
            list.AddDataRun(&run);
            expected = r.vcn + r.length;
        }
        if (damaged)
            CatchExeception::WriteLog("NTFS: record %lld has missing or repeated data extents\n",
                                      static_cast<long long>(record.GetMainFileRecordIndex()));
        if (size < 0)
            size = 0;
        const long long clusters = list.GetTotalClusters();
        if (options.clusterBytes != 0 && options.clusterBytes % 512 == 0) {
            int64_t cap = 0;
            if (!vk::CheckedMul<int64_t>(static_cast<int64_t>(options.clusterBytes), clusters,
                                         &cap))
                cap = std::numeric_limits<int64_t>::max();
            if (size > cap)
                size = cap;
            // A deleted record whose size was cleared still tells how much
            // data its runs hold; a live file of size 0 is empty.
            if (size == 0 && cap != 0 && !record.IsinUse()) {
                size = cap;
                // Cleared with the size: it says nothing of these bytes.
                initialized = -1;
            }
        }
        if (list.Count() > 0)
            out.runs = CCompressedDataRunList::Compress(&list);
    }
    if (size < 0)
        size = 0;
    out.fileSize = size;
    // Bytes past the initialized size were never written: whatever their
    // clusters hold is not the file's. A size the record cannot mean (below
    // zero) is no limit; one past the file's size limits nothing either.
    out.initializedSize = !resident && initialized >= 0 && initialized < size ? initialized : -1;
    if ((out.attribute & kNTFSAttrEncrypted) && (out.attribute & kNTFSAttrCompressed))
        out.attribute &= static_cast<uint16_t>(~kNTFSAttrCompressed);
    return true;
}

CNTFSFileProperties* CNTFSFilePropertiesBuilder::BuildFileProperties(int64_t recordSector,
                                                                     CNTFSMultiFileRecord& record,
                                                                     const Options& options,
                                                                     int64_t* parentRecord) {
    if (!record.IsValid())
        return nullptr;
    CNTFSFilePropertiesStruct data;
    if (!BuildFilePropertiesFrom0x30(record, data, parentRecord))
        return nullptr;
    BuildFilePropertiesFrom0x10(record, data);
    data.fileRecordStartSector = recordSector;
    data.fileRecordOffsetInSector = options.recordOffsetInSector;
    if (!record.IsinUse())
        data.state |= kNTFSStateDeleted;
    if (!options.stream.empty()) {
        // A stream is a file of its own: its name carries the stream's, and
        // it is never a folder.
        data.attribute &= static_cast<uint16_t>(~kNTFSAttrDirectory);
        data.name.push_back(':');
        data.name.append(vk::Utf16UnitsToUtf8(
            reinterpret_cast<const uint16_t*>(options.stream.data()), options.stream.size()));
        data.nameLength = static_cast<uint16_t>(std::min<size_t>(data.name.size(), 0xFFFF));
        data.fileSize = 0;
    }
    if (!BuildFilePropertiesFrom0x80(record, data, options))
        return nullptr;
    data.fileRecordIndex = record.GetMainFileRecordIndex();
    return new (std::nothrow) CNTFSFileProperties(std::move(data));
}

void CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(
    CNTFSFileProperties* properties, uint32_t sectorsPerCluster, uint32_t sectorSize) {
    if (properties == nullptr || properties->GetFileSize() >= 0)
        return;
    const vk::ReleasePtr<IDataRunList> list(properties->GetDataRunList());
    if (list == nullptr)
        return;
    long long size = 0;
    if (list->GetDataRunListType() == DATARUN_LIST_NTFS_NONRESIDENT) {
        const long long clusters =
            static_cast<CNoneResidentNTFSDataRunList*>(list.get())->GetTotalClusters();
        if (!vk::CheckedMul<long long>(
                clusters, static_cast<long long>(sectorsPerCluster) * sectorSize, &size))
            size = 0;
        properties->SetFileSize(size);
    }
}
