#include "NTFSNodeMaker.h"

#include <cstring>
#include <new>
#include <set>
#include <string>
#include <utility>

#include "CheckedMath.h"
#include "NTFSIntelligentSearchInfo/NTFSMetaFileInfo.h"
#include "Utility/CatchExeception.h"

namespace at = ntfs::layout::attr;
namespace fn = ntfs::layout::fn;

namespace {
// Most names one file may carry: a bound on the hard-link walk.
constexpr int kMaxNames = 1024;
}  // namespace

bool CNTFSNodeMaker::RunsInsideVolume(CNTFSFileProperties* properties) const {
    if (m_c.totalClusters == 0)
        return true;
    const CCompressedDataRunList* runs = properties->GetPackedDataRuns();
    return runs == nullptr || runs->ClustersInside(m_c.totalClusters);
}

bool CNTFSNodeMaker::MakeNodes(const uint8_t* bytes, size_t size, int64_t number, int64_t sector,
                               uint32_t offset) {
    CNTFSFileRecord record(bytes, size);
    if (!record.IsValid()) {
        // Unused records are zeros; one that says FILE but fails its
        // checks is damage.
        if (size >= 4 && std::memcmp(bytes, "FILE", 4) == 0)
            Skip("file record", number, "fails its checks");
        return false;
    }
    if (number < 0 && record.HasXPNumberOfthisMFTRecord())
        number = record.GetXPNumberOfthisMFTRecord();
    if (record.IsExtendFileRecord() || CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record) ||
        (number >= 0 && number < 16))
        return false;
    CCommonFileRecordInfo info;
    if (!info.InitFromBuffer(record, sector))
        return false;
    info.SetMFTFileRecordNumber(number);
    auto extensions = m_c.locator.mftRuns != nullptr
                          ? CNTFSMultiFileRecord::InitExtendFileRecord(
                                record, sector, offset, number, m_c.locator, m_c.device)
                          : nullptr;
    CNTFSMultiFileRecord multi(record, sector, offset, m_c.device, extensions.get());
    CNTFSFilePropertiesBuilder::Options options;
    options.clusterBytes = m_c.locator.clusterBytes;
    options.recordOffsetInSector = static_cast<uint16_t>(offset);
    int64_t builderParent = -1;
    CNTFSFileProperties* props =
        CNTFSFilePropertiesBuilder::BuildFileProperties(sector, multi, options, &builderParent);
    if (props == nullptr)
        return false;
    // The parent of the name the node shows.
    const int64_t parent =
        builderParent >= 5 ? builderParent : info.GetFileRecordNumberofParentDirectory();

    if ((props->GetState() & kNTFSStateDeleted) && props->GetFileSize() == 0 &&
        !record.IsFolder()) {
        for (CFindFileFromLogFile* log : m_c.logFiles) {
            if (log != nullptr &&
                log->ReplaceFileRecordInfo(bytes, size, props, parent, extensions.get()))
                break;
        }
    }
    CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(
        props, m_c.sectorsPerCluster, m_c.locator.sectorSize);
    if (!RunsInsideVolume(props)) {
        // Reading such runs would copy what lies elsewhere into the file.
        Skip("data runs of record", number, "leave the volume");
        props->ClearDataRunList();
    }
    props->SetExtendFileRecordInfoList(std::move(extensions));
    // A record torn by an interrupted write is the file's best account,
    // but what its stale sectors said may be an older version's: its file
    // comes back marked, never as sure.
    m_recordTorn = record.TornSectors() != 0;
    if (m_recordTorn)
        CatchExeception::WriteLog(
            "NTFS: file record %lld at sector %lld is torn (sector mask 0x%x does not match its "
            "update sequence); its file is marked damaged\n",
            static_cast<long long>(number), static_cast<long long>(sector), record.TornSectors());
    if (!record.IsFolder())
        CreateLinkNodes(multi, number, *props, parent, sector);
    CreateFileNode(number, parent, props, sector);
    m_recordTorn = false;
    return true;
}

void CNTFSNodeMaker::CreateFileNode(int64_t number, int64_t parent, CNTFSFileProperties* properties,
                                    int64_t sector) {
    if (properties == nullptr)
        return;
    auto* node = new (std::nothrow) CNTFSFileNode();
    if (node == nullptr) {
        delete properties;
        return;
    }
    node->SetFileProperties(properties);
    node->SetCurrentNodeID(number);
    node->SetParentNodeID(parent);
    node->SetBelongedPartition(m_c.partitionIndex);
    node->SetMetadataStartPosition(sector);
    if (m_recordTorn)
        node->MarkDamaged();
    if (m_c.builder == nullptr || !m_c.builder->AddNode(node, SEARCHER_NTFS)) {
        node->Release();
        return;
    }
    ++m_made;
}

void CNTFSNodeMaker::CreateLinkNodes(CNTFSMultiFileRecord& record, int64_t number,
                                     CNTFSFileProperties& properties, int64_t parent,
                                     int64_t sector) {
    // A file with several names (hard links) is shown under each of them,
    // as its folders list it; the short DOS names are not names of their own.
    if (record.FindAttibute(at::kFileName, 1).Empty())
        return;
    std::set<std::pair<int64_t, std::string>> seen{
        {parent, properties.GetFileName() ? properties.GetFileName() : ""}};
    std::vector<std::pair<int64_t, std::string>> links;
    for (int i = 0; i < kMaxNames; ++i) {
        NTFSAttributeRef ref = record.FindAttibute(at::kFileName, i);
        if (ref.Empty())
            break;
        CNTFSFileRecordFileNameAttribute name(ref.attribute);
        if (name.GetFileNameNamespaceType() == fn::kDos)
            continue;
        std::pair<int64_t, std::string> key{name.GetFileRecordNumberofParentDirectory(),
                                            name.GetFileName()};
        if (key.second.empty() || !seen.insert(key).second)
            continue;
        links.push_back(std::move(key));
    }
    for (auto& [linkParent, linkName] : links) {
        CNTFSFileProperties* copy = properties.CloneNTFS();
        if (copy == nullptr)
            return;
        copy->SetFileName(linkName.c_str());
        CreateFileNode(number, linkParent, copy, sector);
    }
}

void CNTFSNodeMaker::MakeNodesFromReusedRecords(CFindFileFromLogFile& log) {
    for (CFindFileFromLogFile::Image& image : log.Images()) {
        if (image.used || image.recordNumber < 16 || !image.properties)
            continue;
        int64_t sector = -1;
        uint32_t offset = 0;
        std::vector<uint8_t> bytes;
        if (m_c.locator.Locate(image.recordNumber, &sector, &offset) &&
            NTFSRecordLocator::ReadAt(m_c.device, sector, offset, m_c.locator.recordBytes, bytes)) {
            CNTFSFileRecord current(bytes.data(), bytes.size());
            // Not in use: the walk has shown what the record holds. In use
            // under the same sequence number: the same file, alive.
            if (current.IsValid() &&
                (!current.IsinUse() || current.GetSequenceNumber() == image.sequence))
                continue;
        }
        CNTFSFileProperties* props = image.properties->CloneNTFS();
        if (props == nullptr)
            return;
        props->SetState(props->GetState() | kNTFSStateDeleted);
        image.used = true;
        CreateFileNode(image.recordNumber, image.parent, props, sector);
    }
}
