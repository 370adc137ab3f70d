#include "RawFileManager.h"

#include <cctype>
#include <utility>

#include "RawFileInfo.h"
#include "RawFileNode.h"
#include "SearchInterfaces.h"

int CRAWFileManager::g_nID = 10;
long long CLABELRAWTreeBuilder::m_gRawCount = 2001;

namespace {

struct KindFolder {
    int tag;
    const char* name;
    long long id;
};
constexpr KindFolder kKindFolders[] = {
    {RAW_TAG_ARTIST, "Artists", -14}, {RAW_TAG_CAMERA, "Camera", -15},
    {RAW_TAG_OFFICE, "Office", -13},  {RAW_TAG_MOVIE, "MOV", -8},
    {RAW_TAG_PDF, "PDF", -7},         {RAW_TAG_AI, "AI", -6},
};

struct OfficeFolder {
    const char* name;
    long long id;
    const char* suffix;
};

// A node of the carved-file trees; null when the candidate makes none.
vk::ReleasePtr<CRAWFileNode> NewNode(CRawFileInfo* info, unsigned attribute, long long parentId,
                                     long long nodeId, unsigned sectorSize) {
    vk::ReleasePtr<CRAWFileNode> node(new CRAWFileNode());
    if (!node->Initilaize(info, attribute, parentId, nodeId, sectorSize))
        return nullptr;
    return node;
}

vk::ReleasePtr<CRAWFileNode> NewFolderNode(long long parentId, long long nodeId,
                                           const std::string& name, unsigned sectorSize) {
    CRawFileInfo folder;
    folder.m_startSector = -1;
    folder.SetRawFileName(name);
    return NewNode(&folder, 0x10, parentId, nodeId, sectorSize);
}

// Hands the node to the builder, which owns it from then on; a refused one
// is released. The builder's answer.
int GiveNode(IDirecotryTreeBuilder* builder, vk::ReleasePtr<CRAWFileNode>& node,
             _tagSearcherType type) {
    const int answer = builder->AddNode(node.get(), type);
    if (answer == 0)
        node.reset();
    else
        node.release();
    return answer;
}

// The office kind of a type; null for types without one.
const OfficeFolder* OfficeKind(RAW_FILE_TYPE type) {
    static constexpr OfficeFolder kWord{"Word", -12, "_Word"};
    static constexpr OfficeFolder kPowerPoint{"PowerPoint", -10, "_PowerPoint"};
    static constexpr OfficeFolder kExcel{"Excel", -11, "_Excel"};
    switch (type) {
        case RAW_DOC:
        case RAW_DOCX:
            return &kWord;
        case RAW_PPT:
        case RAW_PPTX:
            return &kPowerPoint;
        case RAW_XLS:
        case RAW_XLSX:
            return &kExcel;
        default:
            return nullptr;
    }
}

const KindFolder* Kind(int tag) {
    for (const KindFolder& k : kKindFolders) {
        if (k.tag == tag)
            return &k;
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Label tree

std::string CLABELRAWTreeBuilder::GetKeyName(RAW_FILE_TAG tag, RAW_FILE_TYPE type,
                                             const std::string& value) {
    switch (tag) {
        case RAW_TAG_ARTIST:
            return value + "_MP3";
        case RAW_TAG_CAMERA:
            return value + "_CAMERA";
        case RAW_TAG_OFFICE: {
            const OfficeFolder* office = OfficeKind(type);
            return office != nullptr ? value + office->suffix : value;
        }
        case RAW_TAG_MOVIE:
            return value + "_MOV";
        case RAW_TAG_PDF:
            return value + "_PDF";
        default:
            return value;
    }
}

vk::ReleasePtr<CRAWFileNode> CLABELRAWTreeBuilder::MakeDirNode(long long parentId, long long nodeId,
                                                               const std::string& name) {
    return NewFolderNode(parentId, nodeId, name, m_sectorSize);
}

vk::ReleasePtr<CRAWFileNode> CLABELRAWTreeBuilder::MakeFileNode(long long parentId,
                                                                long long nodeId,
                                                                CRawFileInfo* info) {
    return NewNode(info, 0x20, parentId, nodeId, m_sectorSize);
}

int CLABELRAWTreeBuilder::InsertNodeToTree(CRawFileInfo* info, IDirecotryTreeBuilder* builder) {
    if (info == nullptr || builder == nullptr)
        return 0;
    RAW_FILE_TAG tag = RAW_TAG_NONE;
    std::string value;
    info->GetRawFileTagAndValue(tag, value);
    const KindFolder* kind = Kind(tag);
    // A file that has no folder to go to here is not lost: the caller files
    // it by extension.
    if (kind == nullptr || value.empty())
        return kNotPlaced;
    const OfficeFolder* office = nullptr;
    if (tag == RAW_TAG_OFFICE) {
        office = OfficeKind(info->m_type);
        if (office == nullptr)
            return kNotPlaced;
    }

    // Folders made for this file; every early return lets go of them.
    std::vector<PendingFolder> made;
    if (m_kindFolders.count(tag) == 0) {
        vk::ReleasePtr<CRAWFileNode> folder = MakeDirNode(kRootId, kind->id, kind->name);
        if (folder == nullptr)
            return 0;
        made.push_back({std::move(folder), std::string()});
    }
    long long parent = kind->id;
    if (office != nullptr) {
        parent = office->id;
        if (m_keyFolders.count(office->name) == 0) {
            vk::ReleasePtr<CRAWFileNode> folder = MakeDirNode(kind->id, office->id, office->name);
            if (folder == nullptr)
                return 0;
            made.push_back({std::move(folder), office->name});
        }
    }
    const std::string key = GetKeyName(tag, info->m_type, value);
    const auto known = m_keyFolders.find(key);
    const bool newKind = m_kindFolders.count(tag) == 0;
    if (newKind || known == m_keyFolders.end()) {
        const long long id = m_gRawCount;
        vk::ReleasePtr<CRAWFileNode> folder = MakeDirNode(parent, id, value);
        if (folder == nullptr)
            return 0;
        ++m_gRawCount;
        made.push_back({std::move(folder), key});
        parent = id;
    } else {
        parent = known->second;
    }

    const long long fileId = m_gRawCount;
    vk::ReleasePtr<CRAWFileNode> file = MakeFileNode(parent, fileId, info);
    if (file == nullptr)
        return 0;
    ++m_gRawCount;
    // Refused (the user's categories leave it out): neither the file nor
    // folders made only for it stay around.
    if (GiveNode(builder, file, SEARCHER_RAW_LABEL) == 0)
        return 0;
    int answer = 1;
    for (PendingFolder& f : made) {
        const long long id = f.node->GetCurrentNodeID();
        answer = GiveNode(builder, f.node, SEARCHER_RAW_LABEL);
        if (f.key.empty()) {
            // Kind folders have fixed ids: another manager's folder of the
            // same kind serves as well when this one was refused as a copy.
            m_kindFolders[tag] = id;
        } else if (answer != 0 || id < 0) {
            m_keyFolders[f.key] = id;
        }
    }
    return answer;
}

// ---------------------------------------------------------------------------
// File manager

CRAWFileManager::CRAWFileManager(int folderParentId, int category, IDirecotryTreeBuilder* builder,
                                 unsigned sectorSize)
    : m_folderParentId(folderParentId),
      m_category(category),
      m_builder(builder),
      m_sectorSize(sectorSize != 0 ? sectorSize : 512),
      m_labels(m_sectorSize) {}

int CRAWFileManager::AddRawFileInfo(CRawFileInfo* info) {
    if (info == nullptr)
        return 0;
    const int answer = AddNode(info, 0x20, m_category, static_cast<int>(m_fileCount));
    ++m_fileCount;
    return answer;
}

std::string CRAWFileManager::GetExt(CRAWFileNode* node) {
    if (node == nullptr)
        return {};
    const std::string name = node->GetFileName();
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return {};
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

vk::ReleasePtr<CRAWFileNode> CRAWFileManager::MakeDirNode(const std::string& name) {
    return NewFolderNode(m_folderParentId, g_nID, name, m_sectorSize);
}

int CRAWFileManager::AddNode(CRawFileInfo* info, unsigned attribute, int parentId, int nodeId) {
    if (info == nullptr || m_builder == nullptr)
        return 0;
    RAW_FILE_TAG tag = RAW_TAG_NONE;
    std::string value;
    info->GetRawFileTagAndValue(tag, value);
    if (tag != RAW_TAG_NONE || !value.empty()) {
        const int answer = m_labels.InsertNodeToTree(info, m_builder);
        if (answer != CLABELRAWTreeBuilder::kNotPlaced)
            return answer;
    }
    return AddToExtensionTree(info, attribute, parentId, nodeId);
}

int CRAWFileManager::AddToExtensionTree(CRawFileInfo* info, unsigned attribute, int parentId,
                                        int nodeId) {
    vk::ReleasePtr<CRAWFileNode> node = NewNode(info, attribute, parentId, nodeId, m_sectorSize);
    if (node == nullptr)
        return 0;
    const std::string ext = GetExt(node.get());
    vk::ReleasePtr<CRAWFileNode> folder;
    if (auto it = m_extensionFolders.find(ext); it != m_extensionFolders.end()) {
        node->SetParentNodeID(it->second);
    } else {
        folder = MakeDirNode(ext);
        if (folder == nullptr)
            return 0;
        ++g_nID;
        node->SetParentNodeID(folder->GetCurrentNodeID());
    }
    // A folder made for this file alone goes with it when the file is
    // refused, so a later file of the extension does not point at a folder
    // the tree never got.
    if (GiveNode(m_builder, node, SEARCHER_RAW) == 0)
        return 0;
    if (folder != nullptr) {
        const int id = static_cast<int>(folder->GetCurrentNodeID());
        if (GiveNode(m_builder, folder, SEARCHER_RAW) == 0)
            return 0;
        m_extensionFolders[ext] = id;
    }
    return 1;
}
