#include "VKTypeMgr.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>

#include "IRecoveryFilter.h"
#include "VKUIPublic.h"
#include "VKUIScan.h"

namespace {

constexpr unsigned kCategories[] = {1, 2, 4, 8, 16, 32, 64};
constexpr unsigned kOther = 64;

// The table is a few kilobytes; anything far larger is not ours.
constexpr std::streamsize kMaxTableBytes = 4 << 20;

// The category table: bit -> its extensions, for the keys the list has.
std::map<int, std::vector<std::string>> ReadTable(const std::string& path) {
    std::map<int, std::vector<std::string>> table;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty() || static_cast<std::streamsize>(bytes.size()) > kMaxTableBytes)
        return table;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    std::unique_ptr<void, void (*)(plist_t)> owned(root, plist_free);
    if (root == nullptr || plist_get_node_type(root) != PLIST_DICT)
        return table;
    for (int i = 0; i < 6; ++i) {
        plist_t list = plist_dict_get_item(root, std::to_string(1 << i).c_str());
        if (list == nullptr || plist_get_node_type(list) != PLIST_ARRAY)
            continue;
        std::vector<std::string>& exts = table[1 << i];
        for (uint32_t n = 0; n < plist_array_get_size(list); ++n) {
            plist_t item = plist_array_get_item(list, n);
            if (plist_get_node_type(item) != PLIST_STRING)
                continue;
            char* text = nullptr;
            plist_get_string_val(item, &text);
            if (text != nullptr && *text != '\0')
                exts.push_back(text);
            std::free(text);
        }
    }
    return table;
}

OpNodePtr MakeGroup(const std::string& title) {
    OpNodePtr node = OpNodeData::initWithNodeData(TreeNodeData{1, 0, 0, nullptr});
    node->setType(OP_TREE_FILE_TYPE);
    node->setFadeName(title);
    node->setExpandAble(1);
    return node;
}

}  // namespace

VKTypeMgr& VKTypeMgr::share() {
    static VKTypeMgr* one = new VKTypeMgr();
    return *one;
}

VKTypeMgr::VKTypeMgr(const std::string& tablePath, VKUIScan* scan) : m_scan(scan) {
    m_dic = ReadTable(tablePath.empty() ? DefaultFileTypeListsPath() : tablePath);
    // A later category wins for an extension listed twice.
    for (int i = 0; i < 6; ++i) {
        auto it = m_dic.find(1 << i);
        if (it == m_dic.end())
            continue;
        for (const std::string& ext : it->second)
            m_typeDict[ext] = static_cast<unsigned>(1 << i);
    }
    for (unsigned bit : kCategories)
        m_rootNode[bit] = MakeGroup(VKCPPPublic::instance().FilterTypeToString(bit));
    initTypeMap();
}

VKUIScan& VKTypeMgr::Scan() const {
    return m_scan != nullptr ? *m_scan : VKUIScan::instance();
}

std::optional<std::string> VKTypeMgr::getTypeString(int bit) const {
    auto it = m_dic.find(bit);
    if (it == m_dic.end())
        return std::nullopt;
    std::string joined;
    for (const std::string& ext : it->second)
        joined += (joined.empty() ? "" : ";") + ext;
    return joined;
}

// The groups are named when they are handed out: the manager is made before
// the windows give the bridge their language, and named once it would show
// the categories by their keys.
std::vector<OpNodePtr> VKTypeMgr::getRootNode() const {
    std::vector<OpNodePtr> out;
    for (unsigned bit : kCategories) {
        const OpNodePtr& root = m_rootNode.at(bit);
        root->setFadeName(VKCPPPublic::instance().FilterTypeToString(bit));
        out.push_back(root);
    }
    return out;
}

unsigned VKTypeMgr::CategoryOf(const std::string& ext) const {
    auto it = m_typeDict.find(ext);
    return it != m_typeDict.end() ? it->second : kOther;
}

void VKTypeMgr::initTypeMap() {
    m_typeIndexMap.clear();
    for (unsigned bit : kCategories)
        m_typeIndexMap[bit] = 0;
}

bool VKTypeMgr::FiledSet::insert(IFileNode* node) {
    if ((count_ + 1) * 2 > slots_.size())
        grow();
    const size_t mask = slots_.size() - 1;
    uint64_t hash = reinterpret_cast<uintptr_t>(node);
    hash = (hash ^ (hash >> 33)) * 0xFF51AFD7ED558CCDULL;
    size_t at = static_cast<size_t>(hash ^ (hash >> 33)) & mask;
    for (; slots_[at] != nullptr; at = (at + 1) & mask) {
        if (slots_[at] == node)
            return false;
    }
    slots_[at] = node;
    ++count_;
    return true;
}

void VKTypeMgr::FiledSet::grow() {
    std::vector<IFileNode*> old(std::max<size_t>(64, slots_.size() * 2), nullptr);
    old.swap(slots_);
    count_ = 0;
    for (IFileNode* node : old) {
        if (node != nullptr)
            insert(node);
    }
}

void VKTypeMgr::FiledSet::clear() {
    std::vector<IFileNode*>().swap(slots_);
    count_ = 0;
}

void VKTypeMgr::fileNode(IFileNode* node) {
    const std::string ext = VKUIScan::GetNodeExt(node);
    if (m_typeDict.count(ext) != 0) {
        auto sub = m_subNodeDict.find(ext);
        OpNodePtr group = sub != m_subNodeDict.end() ? sub->second : insertSubNodeToTree(ext);
        group->addChildObject(node);
    } else {
        m_rootNode[kOther]->addChildObject(node);
    }
}

void VKTypeMgr::refreshTypeTree() {
    const VKTypeIndex index = Scan().GetTypeMap();
    for (const auto& [category, nodes] : index) {
        size_t& resume = m_typeIndexMap[category];
        // The last element looked at is looked at again next time; the set
        // of filed nodes keeps it from being filed twice.
        for (size_t i = resume; i < nodes.size(); ++i) {
            resume = i;
            IFileNode* node = nodes[i];
            if (node->IsNodeShow() == 0 || !m_insertFileNodeMap.insert(node))
                continue;
            fileNode(node);
        }
    }
}

void VKTypeMgr::refreshTypeTreeAfterSearch(const VKSearchResult& search) {
    bool emptied = m_insertFileNodeMap.size() == 0;
    for (const auto& [category, resume] : m_typeIndexMap)
        emptied = emptied && resume == 0;
    if (!search.complete || !emptied) {
        refreshTypeTree();
        return;
    }
    // The hits come in the index's order, as the walk would meet them.
    for (IFileNode* node : search.hits) {
        if (node->IsNodeShow() == 0 || !m_insertFileNodeMap.insert(node))
            continue;
        fileNode(node);
    }
    for (const auto& [category, extent] : search.typeExtent) {
        if (extent != 0)
            m_typeIndexMap[category] = extent - 1;
    }
}

OpNodePtr VKTypeMgr::insertSubNodeToTree(const std::string& ext) {
    OpNodePtr node = MakeGroup(ext);
    const OpNodePtr& parent = m_rootNode[CategoryOf(ext)];
    node->setParent(parent.get());
    parent->addChildObject(node);
    m_subNodeDict[ext] = node;
    return node;
}

void VKTypeMgr::setNodeState(OpNodeData* node) {
    if (node == nullptr)
        return;
    size_t leaves = 0, checked = 0;
    for (const OpChild& child : node->children()) {
        if (IFileNode* const* leaf = std::get_if<IFileNode*>(&child)) {
            ++leaves;
            checked += (*leaf)->GetCheckedStatus() == CHECK_CHECKED ? 1 : 0;
        }
    }
    const int state = leaves != 0 && checked == leaves ? CHECK_CHECKED
                      : checked != 0                   ? CHECK_PARTLY
                                                       : CHECK_UNCHECKED;
    node->setNodeState(state);
}

void VKTypeMgr::refreshTypeTreeState() {
    if (m_needRefreshTree == 0)
        return;
    m_needRefreshTree = 0;
    for (const auto& [bit, root] : m_rootNode) {
        if (bit == kOther) {
            if (!root->children().empty())
                setNodeState(root);
            continue;
        }
        for (const OpChild& child : root->children()) {
            if (const OpNodePtr* sub = std::get_if<OpNodePtr>(&child))
                setNodeState(*sub);
        }
    }
}

bool VKTypeMgr::isOtherNode(const OpNodeData* node) const {
    return node != nullptr && node == m_rootNode.at(kOther).get();
}

void VKTypeMgr::clearData() {
    for (const auto& [bit, root] : m_rootNode) {
        for (const OpChild& child : root->children()) {
            if (const OpNodePtr* sub = std::get_if<OpNodePtr>(&child)) {
                m_subNodeDict.erase((*sub)->name());
                (*sub)->setSubNode({});
            }
        }
        root->setSubNode({});
        // Without children the mark stays on the group alone.
        root->setNodeState(CHECK_UNCHECKED);
    }
    m_needRefreshTree = 1;
}

void VKTypeMgr::clear() {
    m_subNodeDict.clear();
    for (const auto& [bit, root] : m_rootNode)
        root->setSubNode({});
    m_search = false;
    m_insertFileNodeMap.clear();
    initTypeMap();
}

void VKTypeMgr::setSearch(bool search) {
    m_insertFileNodeMap.clear();
    clearData();
    initTypeMap();
    m_search = search;
}
