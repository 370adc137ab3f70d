// A minimal concrete node for the tests.
#pragma once

#include <string>

#include "FileNode.h"

class TestNode : public CFileNode {
public:
    TestNode(long long id, long long parentId, std::string name, bool dir = false,
             _tagSearcherType type = SEARCHER_NONE)
        : name_(std::move(name)), dir_(dir), type_(type) {
        SetNodeId(id);
        SetParentNodeID(parentId);
    }

    const char* GetFileName() override { return name_.c_str(); }
    long long GetFileSize() override { return size; }
    uint32_t GetAttribute() override { return dir_ ? 0x10 : 0; }
    long long GetCreationTime() override { return created; }
    long long GetModificationTime() override { return modified; }
    long long GetLastAccessTime() override { return 0; }
    int IsDirectory() override { return dir_ ? 1 : 0; }
    int IsDeleted() override { return deleted ? 1 : 0; }
    _tagSearcherType GetSearcheType() const override {
        return type_ == SEARCHER_NONE ? CFileNode::GetSearcheType() : type_;
    }
    IFileNode* Clone() override {
        return new TestNode(GetCurrentNodeID(), GetParentNodeID(), name_, dir_, type_);
    }
    void MarkDeleted() override { deleted = true; }
    void FilterFileNameByDot() override { name_ = CFileNode::FilterFileNameByDot(name_.c_str()); }
    void UpdateFileSize(long long s) override { size = s; }
    void CopyFilePropertiesFrom(CFileNode& other) override {
        ++propertiesCopied;
        name_ = other.GetFileName();
    }

    long long size = 0;
    long long created = 0;
    long long modified = 0;
    bool deleted = false;
    int propertiesCopied = 0;

private:
    std::string name_;
    bool dir_;
    _tagSearcherType type_;
};
