// The nodes the NTFS searches report, the properties behind them, and the
// builder that makes properties from one file's records.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "FileNode.h"
#include "NTFSDataRun.h"
#include "NTFSMultiFileRecord.h"

// Attribute bits of NTFS properties.
enum NTFSAttributeBits : uint16_t {
    kNTFSAttrReadOnly = 0x0001,
    kNTFSAttrHidden = 0x0002,
    kNTFSAttrSystem = 0x0004,
    kNTFSAttrDirectory = 0x0010,
    kNTFSAttrArchive = 0x0020,
    kNTFSAttrEncrypted = 0x0040,
    kNTFSAttrCompressed = 0x0800,
};
constexpr unsigned short kNTFSStateDeleted = 0x0001;

// Every NTFS node of a scan holds one: the 16-bit fields sit together so
// that they share one word.
struct CNTFSFilePropertiesStruct {
    std::string name;
    int64_t fileSize = 0;
    // The data attribute's initialized size: bytes past it read as zeros.
    // -1 when the whole file is written (resident data, no data attribute).
    int64_t initializedSize = -1;
    uint64_t creationTime = 0;
    uint64_t modificationTime = 0;
    uint64_t lastAccessTime = 0;
    int64_t fileRecordStartSector = 0;
    int64_t fileRecordIndex = 0;
    uint16_t nameLength = 0;
    uint16_t attribute = 0;
    uint16_t state = 0;
    // Where the base record starts inside that sector (records smaller than
    // a device sector).
    uint16_t fileRecordOffsetInSector = 0;
    std::optional<CCompressedDataRunList> runs;
};

class CNTFSFileProperties final : public IFileProperties {
public:
    CNTFSFileProperties() = default;
    explicit CNTFSFileProperties(CNTFSFilePropertiesStruct&& data) { Init(std::move(data)); }
    ~CNTFSFileProperties() override = default;
    CNTFSFileProperties(const CNTFSFileProperties&) = delete;
    CNTFSFileProperties& operator=(const CNTFSFileProperties&) = delete;

    static CNTFSFileProperties* Create() { return new (std::nothrow) CNTFSFileProperties(); }
    static void Destory(CNTFSFileProperties* p) { delete p; }
    void Init(CNTFSFilePropertiesStruct&& data);

    int GetFileNameLength() override { return m_data.nameLength; }
    // Ignored for null; the length becomes the byte length plus one.
    void SetFileName(const char* name) override;
    const char* GetFileName() override { return m_data.name.c_str(); }
    long long GetFileSize() override { return m_data.fileSize; }
    void SetFileSize(long long size) { m_data.fileSize = size; }
    long long GetInitializedSize() const { return m_data.initializedSize; }
    void SetInitializedSize(long long size) { m_data.initializedSize = size; }
    uint32_t GetAttribute() override { return m_data.attribute; }
    void SetAttribute(uint16_t attribute) { m_data.attribute = attribute; }
    long long GetRawFileCreateTime() override { return 0; }
    long long GetCreationTime() override { return static_cast<long long>(m_data.creationTime); }
    long long GetModificationTime() override {
        return static_cast<long long>(m_data.modificationTime);
    }
    long long GetLastAccessTime() override { return static_cast<long long>(m_data.lastAccessTime); }
    unsigned short GetState() override { return m_data.state; }
    void SetState(unsigned short state) override { m_data.state = state; }
    // A new list the caller releases, decoded from the packed runs; null
    // when there are none.
    IDataRunList* GetDataRunList() override;
    // Replaces the packed runs by the packed form of `list` (the caller
    // keeps it); ignored for null.
    void SetDataRunList(IDataRunList* list);
    void ClearDataRunList() { m_data.runs.reset(); }
    bool HasDataRuns() const { return m_data.runs.has_value(); }
    const CCompressedDataRunList* GetPackedDataRuns() const {
        return m_data.runs ? &*m_data.runs : nullptr;
    }
    IFileProperties* Clone() override { return CloneNTFS(); }
    CNTFSFileProperties* CloneNTFS() const;
    int GetFilePropertyiesType() const { return 0; }

    long long GetFileRecordStartSector() const { return m_data.fileRecordStartSector; }
    void SetFileRecordStartSector(long long sector) { m_data.fileRecordStartSector = sector; }
    uint16_t GetFileRecordOffsetInSector() const { return m_data.fileRecordOffsetInSector; }
    long long GetFileRecordIndex() const { return m_data.fileRecordIndex; }
    // The extension records of the file; the properties own the list.
    const ExtendFileRecordInfoList* GetExtendFileRecordInfoList() const {
        return m_extensions.get();
    }
    void SetExtendFileRecordInfoList(std::unique_ptr<ExtendFileRecordInfoList> list) {
        m_extensions = std::move(list);
    }

private:
    CNTFSFilePropertiesStruct m_data;
    std::unique_ptr<ExtendFileRecordInfoList> m_extensions;
};

class CCommonFileRecordInfo;

class CNTFSFileNode final : public vk::PropertiesFileNode {
public:
    CNTFSFileNode() = default;
    // The node owns its properties and frees them with itself.
    ~CNTFSFileNode() override = default;

    // Takes ownership: node id 0, parent id 5 (the root folder), the
    // metadata sector and run list from the properties.
    void SetFileProperties(CNTFSFileProperties* properties);
    IFileProperties* GetFileProperties() const override { return m_properties.get(); }
    CNTFSFileProperties* GetNTFSFileProperties() const { return m_properties.get(); }
    void SetDataRunList(IDataRunList* list) { CFileNode::SetDataRunList(list); }
    void SetCurrentNodeID(long long id) { SetNodeId(id); }
    void SetPrivateDataofSpecifiedFileSystem(CCommonFileRecordInfo* info) { m_recordInfo = info; }
    CCommonFileRecordInfo* GetPrivateDataofSpecifiedFileSystem() const { return m_recordInfo; }
    void SetMetadataStartPosition(long long position) { m_metadataStart = position; }
    long long GetMetadataStartPositionNTFS() const { return m_metadataStart; }

    int IsDirectory() override { return (GetAttribute() & kNTFSAttrDirectory) ? 1 : 0; }
    int IsDeleted() override {
        return m_properties && (m_properties->GetState() & kNTFSStateDeleted) ? 1 : 0;
    }
    _tagSearcherType GetSearcheType() const override { return SEARCHER_NTFS; }
    IFileNode* Clone() override;
    void MarkDeleted() override;
    // The data-recovery layer's LZNT1 reader, unopened.
    IFileReader* CreateCompressFileReader(void* fileSystemContext) override;
    int IsCompressed() const override;
    void FilterFileNameByDot() override;
    void SetFileName(const char* name) override;
    long long GetValidDataLength() const override {
        return m_properties ? m_properties->GetInitializedSize() : -1;
    }

protected:
    IDataRunList* MakeDataRunList() const override;
    void UpdateValidDataLength(long long length) override {
        if (m_properties)
            m_properties->SetInitializedSize(length);
    }

private:
    std::unique_ptr<CNTFSFileProperties> m_properties;
    CCommonFileRecordInfo* m_recordInfo = nullptr;
    long long m_metadataStart = 0;
};

// Makes properties from a file's records. Keeps no state.
class CNTFSFilePropertiesBuilder {
public:
    struct Options {
        // Bytes per cluster (device sectors per cluster times sector size);
        // sizes are capped to the clusters the runs hold.
        uint64_t clusterBytes = 0;
        // Where the base record starts inside its first sector.
        uint16_t recordOffsetInSector = 0;
        // Build the properties of this named stream ("file:stream") instead
        // of the unnamed data; empty for the file itself.
        std::u16string stream;
    };

    // New properties, or null (an invalid record, no usable $FILE_NAME, an
    // empty name, or a stream that is not there). `parentRecord` receives
    // the parent folder's record number when one is found.
    static CNTFSFileProperties* BuildFileProperties(int64_t recordSector,
                                                    CNTFSMultiFileRecord& record,
                                                    const Options& options, int64_t* parentRecord);
    static CNTFSFileProperties* BuildFileProperties(int64_t recordSector,
                                                    CNTFSMultiFileRecord& record,
                                                    uint64_t clusterBytes, int64_t* parentRecord) {
        Options o;
        o.clusterBytes = clusterBytes;
        return BuildFileProperties(recordSector, record, o, parentRecord);
    }

    // Name, parent, directory bit, times and size from the file names.
    static bool BuildFilePropertiesFrom0x30(CNTFSMultiFileRecord& record,
                                            CNTFSFilePropertiesStruct& out, int64_t* parentRecord);
    // Times and attribute bits from $STANDARD_INFORMATION (when sound).
    static bool BuildFilePropertiesFrom0x10(CNTFSMultiFileRecord& record,
                                            CNTFSFilePropertiesStruct& out);
    // Size, runs, compressed and encrypted bits from the unnamed $DATA (or
    // the named stream).
    static bool BuildFilePropertiesFrom0x80(CNTFSMultiFileRecord& record,
                                            CNTFSFilePropertiesStruct& out, const Options& options);

    // For non-resident runs and a negative size: the size of all clusters.
    static void AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(
        CNTFSFileProperties* properties, uint32_t sectorsPerCluster, uint32_t sectorSize = 512);
};
