// A file or folder found on an exFAT volume.
#pragma once

#include <cstdint>
#include <string>

#include "FileNode.h"

// Bit 31 of the attribute word marks a deleted entry; the low 16 bits are
// the entry's own attributes (0x10 a folder).
constexpr uint32_t kExFatAttributeDeleted = 0x80000000u;

class CExFatFileNode final : public CFileNode {
public:
    CExFatFileNode() = default;

    const char* GetFileName() override { return m_hasName ? m_name.c_str() : nullptr; }
    long long GetFileSize() override { return m_size; }
    uint32_t GetAttribute() override { return m_attribute; }
    long long GetCreationTime() override { return m_creation; }
    long long GetModificationTime() override { return m_modification; }
    long long GetLastAccessTime() override { return m_access; }
    int IsDirectory() override { return (m_attribute & 0x10) != 0 ? 1 : 0; }
    int IsDeleted() override { return (m_attribute & kExFatAttributeDeleted) != 0 ? 1 : 0; }
    // The exFAT tree's type, so that whoever picks a data-recovery object by
    // a node's type finds the one that knows this node's partition.
    _tagSearcherType GetSearcheType() const override { return SEARCHER_EXFAT; }
    // Name, size, the low 16 attribute bits, the deleted bit, the times, a
    // copy of the run list, and the ids and state word the node was found
    // with; never the tree links.
    IFileNode* Clone() override;
    void MarkDeleted() override { SetFileDeleted(); }
    // Drops leading blanks and dots from the name.
    void FilterFileNameByDot() override;
    // A copy of the text; null leaves the name as it is.
    void SetFileName(const char* name) override;

    void SetFileSize(long long size) { m_size = size; }
    // Bytes past the valid data length read as zeros; -1 (or a length not
    // below the size) for a file written to its end.
    void SetValidDataLength(long long length) { m_validLength = length; }
    long long GetValidDataLength() const override { return m_validLength; }
    // ORs the bits in.
    void SetFileAttributes(uint32_t bits) { m_attribute |= bits; }
    void SetFileTime(long long creation, long long modification, long long access) {
        m_creation = creation;
        m_modification = modification;
        m_access = access;
    }
    void SetFileDeleted() { m_attribute |= kExFatAttributeDeleted; }
    void SetID(long long id) { SetNodeId(id); }
    void SetParentID(long long id) { CFileNode::SetParentNodeID(id); }
    void SetFirstCluster(long long cluster) { m_firstCluster = cluster; }
    long long GetFirstCluster() const { return m_firstCluster; }

protected:
    void UpdateValidDataLength(long long length) override { m_validLength = length; }

private:
    std::string m_name;
    bool m_hasName = false;
    long long m_size = 0;
    long long m_validLength = -1;
    uint32_t m_attribute = 0;
    long long m_firstCluster = -1;
    long long m_creation = 0;
    long long m_modification = 0;
    long long m_access = 0;
};
