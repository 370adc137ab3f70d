// Turns sized candidates into nodes of the two carved-file trees: the tree
// by extension (searcher type 34: one folder per lower-case extension) and
// the label tree (type 36: label kind, then label value). One manager per
// file category; each has its own label builder.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "RawFileTypes.h"
#include "ReleasePtr.h"

class CRawFileInfo;
class CRAWFileNode;
class IDirecotryTreeBuilder;

class CLABELRAWTreeBuilder {
public:
    // InsertNodeToTree's answer for a file the label tree has no place for
    // (no label kind, an empty label value, an office file of a kind
    // without a folder); the file manager files it by extension instead.
    static constexpr int kNotPlaced = -1;
    // The root id of the label tree.
    static constexpr long long kRootId = 1000;

    explicit CLABELRAWTreeBuilder(unsigned sectorSize = 512) : m_sectorSize(sectorSize) {}
    CLABELRAWTreeBuilder(const CLABELRAWTreeBuilder&) = delete;
    CLABELRAWTreeBuilder& operator=(const CLABELRAWTreeBuilder&) = delete;

    // Places the file under its label kind and value, making the folders it
    // needs; the builder's answer for the file, or kNotPlaced.
    int InsertNodeToTree(CRawFileInfo* info, IDirecotryTreeBuilder* builder);
    // The value followed by the kind's suffix ("_MP3", "_CAMERA", "_Word",
    // "_PowerPoint", "_Excel", "_MOV", "_PDF"; none for AI).
    static std::string GetKeyName(RAW_FILE_TAG tag, RAW_FILE_TYPE type, const std::string& value);
    // The next node id of the label tree; ids are never reused in a process.
    static long long PeekNextNodeId() { return m_gRawCount; }

private:
    struct PendingFolder {
        vk::ReleasePtr<CRAWFileNode> node;
        std::string key;  // empty for kind folders
    };
    vk::ReleasePtr<CRAWFileNode> MakeDirNode(long long parentId, long long nodeId,
                                             const std::string& name);
    vk::ReleasePtr<CRAWFileNode> MakeFileNode(long long parentId, long long nodeId,
                                              CRawFileInfo* info);

    static long long m_gRawCount;
    unsigned m_sectorSize;
    std::map<int, long long> m_kindFolders;         // label kind -> folder id
    std::map<std::string, long long> m_keyFolders;  // key name -> folder id
};

class CRAWFileManager {
public:
    CRAWFileManager(int folderParentId, int category, IDirecotryTreeBuilder* builder,
                    unsigned sectorSize = 512);
    CRAWFileManager(const CRAWFileManager&) = delete;
    CRAWFileManager& operator=(const CRAWFileManager&) = delete;

    // Places the candidate (the manager copies what it needs); 1 when the
    // builder took it.
    int AddRawFileInfo(CRawFileInfo* info);
    int AddNode(CRawFileInfo* info, unsigned attribute, int parentId, int nodeId);
    int GetCategory() const { return m_category; }

    // The next extension-folder id starts over at 10 with every search.
    static void ResetFolderIds() { g_nID = 10; }
    static int PeekNextFolderId() { return g_nID; }
    static std::string GetExt(CRAWFileNode* node);

private:
    int AddToExtensionTree(CRawFileInfo* info, unsigned attribute, int parentId, int nodeId);
    vk::ReleasePtr<CRAWFileNode> MakeDirNode(const std::string& name);

    static int g_nID;
    long long m_fileCount = 10000;
    int m_folderParentId;
    int m_category;
    IDirecotryTreeBuilder* m_builder;
    unsigned m_sectorSize;
    std::map<std::string, int> m_extensionFolders;
    CLABELRAWTreeBuilder m_labels;
};
