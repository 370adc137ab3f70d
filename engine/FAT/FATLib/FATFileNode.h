// Nodes of files and folders found on FAT volumes, and their properties.
#pragma once

#include <cstdint>
#include <string>

#include "DataRun.h"
#include "FileNode.h"
#include "ReleasePtr.h"
#include "Utility/SystemTime.h"

constexpr unsigned short kFATStateDeleted = 0x01;
// On a deleted folder: its children's first clusters are guessed afresh.
constexpr unsigned short kFATStateReguessChildren = 0x08;

struct CFATFilePropertiesStruct {
    std::string name;
    bool hasName = false;
    uint16_t nameLength = 0;
    int64_t size = 0;
    uint16_t attribute = 0;
    _FILETIME creation{};
    _FILETIME modification{};
    _FILETIME lastAccess{};
    uint8_t state = 0;
    int64_t firstCluster = 0;
    int64_t parentFirstCluster = 0;
    int64_t metaDataSector = 0;
};

class CFATFileProperties final : public IFileProperties {
public:
    CFATFileProperties() = default;
    ~CFATFileProperties() override;
    CFATFileProperties(const CFATFileProperties&) = delete;
    // Name, state, attribute, both clusters, the three times and the size;
    // the metadata sector and the run list stay as they were.
    CFATFileProperties& operator=(CFATFileProperties& other);

    static CFATFileProperties* Create();
    static void Destory(CFATFileProperties* record) { delete record; }

    int GetFileNameLength() override { return m_data.nameLength; }
    // Null clears the name and keeps the last length.
    void SetFileName(const char* name) override;
    const char* GetFileName() override { return m_data.hasName ? m_data.name.c_str() : nullptr; }
    long long GetFileSize() override { return m_data.size; }
    void SetFileSize(long long size) { m_data.size = size; }
    uint32_t GetAttribute() override { return m_data.attribute; }
    void SetAttribute(uint16_t attribute) { m_data.attribute = attribute; }
    long long GetRawFileCreateTime() override { return 0; }
    long long GetCreationTime() override { return U64(m_data.creation); }
    long long GetModificationTime() override { return U64(m_data.modification); }
    long long GetLastAccessTime() override { return U64(m_data.lastAccess); }
    void SetCreationTime(uint16_t date, uint16_t time);
    void SetCreationTime(const _FILETIME& t) { m_data.creation = t; }
    void SetCreationTime() { m_data.creation = {}; }
    void SetModificationTime(uint16_t date, uint16_t time);
    void SetModificationTime(const _FILETIME& t) { m_data.modification = t; }
    void SetModificationTime() { m_data.modification = {}; }
    void SetLastAccessTime(uint16_t date);
    void SetLastAccessTime(const _FILETIME& t) { m_data.lastAccess = t; }
    void SetLastAccessTime() { m_data.lastAccess = {}; }
    unsigned short GetState() override { return m_data.state; }
    void SetState(unsigned short state) override { m_data.state = static_cast<uint8_t>(state); }
    IDataRunList* GetDataRunList() override { return m_dataRuns.get(); }
    // Takes ownership; a previous list is released.
    void SetDataRunList(IDataRunList* list);
    // Hands the list over to the caller.
    IDataRunList* TakeDataRunList();
    long long GetFirstClusterNum() const { return m_data.firstCluster; }
    void SetFirstClusterNum(long long c) { m_data.firstCluster = c; }
    long long GetParentFirstClusterNum() const { return m_data.parentFirstCluster; }
    void SetParentFirstClusterNum(long long c) { m_data.parentFirstCluster = c; }
    long long GetMetaDataSector() const { return m_data.metaDataSector; }
    void SetMetaDataSector(long long s) { m_data.metaDataSector = s; }
    // Everything but the run list.
    IFileProperties* Clone() override;
    CFATFileProperties* CloneFAT();

private:
    static long long U64(const _FILETIME& t) { return static_cast<long long>(::FileTimeToU64(t)); }
    CFATFilePropertiesStruct m_data;
    // Kept out of m_data: copies of the fields leave the run list behind.
    vk::ReleasePtr<IDataRunList> m_dataRuns;
};

class CFATFilePropertiesBuilder {
public:
    // Null when name is null.
    static CFATFileProperties* BuildFATFilePropertyFromDirEntry(const char* name,
                                                                const uint8_t* entry);
    // A run of long-name entries ended by its short entry; the long name
    // when the run is whole and valid, else the short name. Null when the
    // buffer holds no short entry or the long name grows too long.
    static CFATFileProperties* BuildFATFilePropertyFromDirEntryBuffer(const uint8_t* entries,
                                                                      size_t length);
};

class CFATFileNode final : public vk::PropertiesFileNode {
public:
    CFATFileNode() = default;
    ~CFATFileNode() override;

    IFileProperties* GetFileProperties() const override { return m_properties; }
    CFATFileProperties* GetFATFileProperties() const { return m_properties; }
    void CopyFilePropertiesFrom(CFileNode& other) override;
    // Takes ownership; node id, parent id and metadata sector follow it.
    void SetFileProperties(CFATFileProperties* properties);
    void DelDataRunList() { CFileNode::SetDataRunList(nullptr); }

    int IsDirectory() override { return (GetAttribute() & 0x10) ? 1 : 0; }
    int IsDeleted() override {
        return m_properties && (m_properties->GetState() & kFATStateDeleted) ? 1 : 0;
    }
    _tagSearcherType GetSearcheType() const override { return SEARCHER_FAT; }
    IFileNode* Clone() override;
    void MarkDeleted() override;
    void FilterFileNameByDot() override;
    void SetFileName(const char* name) override;

    // The per-node trace line on standard output; on unless switched off.
    static void SetTraceEnabled(bool on);

private:
    CFATFileProperties* m_properties = nullptr;
};
