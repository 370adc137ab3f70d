#include "OpNodeData.h"

#include <algorithm>

#include "BridgeServices.h"
#include "VKUIPublic.h"

namespace {

int64_t Now() {
    return static_cast<int64_t>(velmora::bridge::CurrentClock()->Now());
}

// A name as the browser shows it: "Unknown" for none, or for bytes that
// are not UTF-8.
std::string ShownName(const char* name) {
    if (!IsValidUtf8(name))
        return "Unknown";
    return name;
}

std::string TimeText(long long ticks) {
    if (ticks == 0)
        return {};
    return VKUIPublic::FormatFileTimeToString(U64ToFileTime(static_cast<uint64_t>(ticks)));
}

}  // namespace

OpNodeData::OpNodeData(const TreeNodeData& data)
    : m_isFileSystem(data.isFileSystem),
      m_fileNode(data.node),
      m_createTime(Now()),
      m_modifyTime(m_createTime) {}

OpNodePtr OpNodeData::initWithFileNode(IFileNode* node) {
    TreeNodeData data;
    data.node = node;
    return std::make_shared<OpNodeData>(data);
}

OpNodePtr OpNodeData::initWithNodeData(const TreeNodeData& data) {
    return std::make_shared<OpNodeData>(data);
}

OpNodePtr OpNodeData::makeGroup(int kind, const std::string& title) {
    OpNodePtr group = std::make_shared<OpNodeData>(TreeNodeData{});
    group->setType(kind);
    group->setFadeName(title);
    return group;
}

void OpNodeData::setSubNode(std::vector<OpChild> children) {
    m_children = std::move(children);
    for (OpChild& child : m_children) {
        if (auto* node = std::get_if<OpNodePtr>(&child); node != nullptr && *node)
            (*node)->setParent(this);
    }
}

void OpNodeData::addChildObject(OpChild child) {
    m_children.push_back(std::move(child));
}

void OpNodeData::insertChildObject(size_t index, OpChild child) {
    index = std::min(index, m_children.size());
    m_children.insert(m_children.begin() + static_cast<std::ptrdiff_t>(index), std::move(child));
}

int OpNodeData::isFadeNode() const {
    return m_type != OP_TREE_PATH && m_fileNode == nullptr ? 1 : 0;
}

int OpNodeData::isDirect() const {
    if (isFadeNode())
        return 1;
    return m_fileNode != nullptr ? m_fileNode->IsDirectory() : 0;
}

uint64_t OpNodeData::size() const {
    if (isDirect() || m_fileNode == nullptr)
        return 0;
    return static_cast<uint64_t>(m_fileNode->GetFileSize());
}

std::string OpNodeData::name() const {
    if (m_fileNode != nullptr)
        return ShownName(m_fileNode->GetFileName());
    if (isFadeNode())
        return m_fadeName.empty() ? "Unknown" : ShownName(m_fadeName.c_str());
    return {};
}

std::string OpNodeData::path() const {
    if (isFadeNode())
        return {};
    return VKUIPublic::GetPathByFileNode(m_fileNode);
}

std::string OpNodeData::createTime() const {
    if (isFadeNode() || m_fileNode == nullptr)
        return {};
    return TimeText(m_fileNode->GetCreationTime());
}

std::string OpNodeData::modifyTime() const {
    if (isFadeNode() || m_fileNode == nullptr)
        return {};
    return TimeText(m_fileNode->GetModificationTime());
}

std::string OpNodeData::lastAccessTime() const {
    if (isFadeNode() || m_fileNode == nullptr)
        return {};
    return TimeText(m_fileNode->GetLastAccessTime());
}

uint64_t OpNodeData::createTimeValue() const {
    if (isFadeNode() || m_fileNode == nullptr)
        return 0;
    return static_cast<uint64_t>(m_fileNode->GetCreationTime());
}

uint64_t OpNodeData::modifyTimeValue() const {
    if (isFadeNode() || m_fileNode == nullptr)
        return 0;
    return static_cast<uint64_t>(m_fileNode->GetModificationTime());
}

int OpNodeData::state() const {
    if (isFadeNode() || m_fileNode == nullptr)
        return m_state;
    return m_fileNode->GetCheckedStatus();
}

int OpNodeData::ChildState(const OpChild& child) {
    if (const auto* node = std::get_if<OpNodePtr>(&child))
        return *node ? (*node)->state() : 0;
    return fileNodeState(std::get<IFileNode*>(child));
}

void OpNodeData::setNodeState(int state) {
    if (isFadeNode() || m_fileNode == nullptr)
        m_state = state;
    else
        // The engine carries the mark through its own tree.
        m_fileNode->SetCheck(static_cast<_tagCheckedStatus>(state));
    if (m_parent != nullptr && m_parent->isFadeNode())
        setParentNodeState(state);
    SetChildrenNodeState(state);
}

// A partly ticked node makes every group above it partly ticked; otherwise
// each group above works its mark out again from all its children.
void OpNodeData::setParentNodeState(int state) {
    OpNodeData* node = this;
    while (true) {
        node->m_state = state;
        OpNodeData* parent = node->m_parent;
        if (parent == nullptr || !parent->isFadeNode())
            return;
        if (state != CHECK_PARTLY) {
            int sum = 0;
            for (const OpChild& child : parent->m_children)
                sum += ChildState(child);
            if (sum == 0)
                state = CHECK_UNCHECKED;
            else if (sum == 2 * static_cast<int>(parent->m_children.size()))
                state = CHECK_CHECKED;
            else
                state = CHECK_PARTLY;
        }
        node = parent;
    }
}

void OpNodeData::SetChildrenNodeState(int state) {
    if (m_fileNode != nullptr && !isFadeNode()) {
        if (m_parent != nullptr && m_parent->isFadeNode())
            m_fileNode->SetCheck(static_cast<_tagCheckedStatus>(state));
        return;
    }
    m_state = state;
    // A partly ticked group leaves what is below it as it is.
    if (state == CHECK_PARTLY)
        return;
    for (OpChild& child : m_children) {
        if (auto* node = std::get_if<OpNodePtr>(&child)) {
            if (*node)
                (*node)->SetChildrenNodeState(state);
        } else if (IFileNode* leaf = std::get<IFileNode*>(child)) {
            leaf->SetCheck(static_cast<_tagCheckedStatus>(state));
        }
    }
}

int OpNodeData::IsShow() const {
    if (isFadeNode())
        return 1;
    return m_fileNode != nullptr && m_fileNode->IsNodeShow() != 0 ? 1 : 0;
}

void OpNodeData::SetShow(int show) {
    if (!isFadeNode() && m_fileNode != nullptr)
        m_fileNode->ShowNode(show);
}

int OpNodeData::isHasFolderChildren() const {
    if (isFadeNode())
        return m_isExpandAble;
    if (m_fileNode == nullptr)
        return 0;
    for (IFileNode* child = m_fileNode->GetFirstChild(); child != nullptr;
         child = child->GetNextNode()) {
        if (child->IsDirectory())
            return 1;
    }
    return 0;
}

int OpNodeData::nodeType() const {
    if (!isFadeNode())
        return m_isFileSystem != 0 ? OP_ICON_FILE_SYSTEM : OP_ICON_FILE;
    switch (m_type) {
        case OP_TREE_FILE_TYPE:
            switch (VKCPPPublic::instance().StringToFilterType(m_fadeName.c_str())) {
                case CATEGORY_DOCUMENT:
                    return OP_ICON_DOCUMENT;
                case CATEGORY_PICTURE:
                    return OP_ICON_PICTURE;
                case CATEGORY_MOVIE:
                    return OP_ICON_MOVIE;
                case CATEGORY_MUSIC:
                    return OP_ICON_MUSIC;
                case CATEGORY_ARCHIVE:
                    return OP_ICON_ARCHIVE;
                case CATEGORY_EMAIL:
                    return OP_ICON_EMAIL;
                default:
                    return OP_ICON_OTHER;
            }
        case OP_TREE_CREATION_DATE:
        case OP_TREE_MODIFICATION_DATE:
            return m_parent != nullptr ? OP_ICON_DATE_GROUP : OP_ICON_DATE_ROOT;
        default:
            return OP_ICON_GROUP;
    }
}

int OpNodeData::isDeleted() const {
    if (isFadeNode() || m_fileNode == nullptr)
        return 0;
    return m_fileNode->IsDeleted();
}

void OpNodeData::free() {
    // Without recursion: a path tree can be deeper than the stack allows.
    std::vector<OpNodePtr> pending;
    for (OpChild& child : m_children) {
        if (auto* node = std::get_if<OpNodePtr>(&child); node != nullptr && *node)
            pending.push_back(std::move(*node));
    }
    m_children.clear();
    while (!pending.empty()) {
        OpNodePtr node = std::move(pending.back());
        pending.pop_back();
        for (OpChild& child : node->m_children) {
            if (auto* sub = std::get_if<OpNodePtr>(&child); sub != nullptr && *sub)
                pending.push_back(std::move(*sub));
        }
        node->m_children.clear();
        node->m_parent = nullptr;
    }
}

int OpNodeData::isFileNodeDirect(IFileNode* node) {
    return node != nullptr ? node->IsDirectory() : 0;
}

int OpNodeData::isFileNodeDeleted(IFileNode* node) {
    return node != nullptr ? node->IsDeleted() : 0;
}

int OpNodeData::fileNodeState(IFileNode* node) {
    return node != nullptr ? node->GetCheckedStatus() : 0;
}

void OpNodeData::setFileNode(IFileNode* node, int state) {
    if (node == nullptr || state < CHECK_UNCHECKED || state > CHECK_CHECKED)
        return;
    node->SetCheck(static_cast<_tagCheckedStatus>(state));
}

std::string OpNodeData::fileNodeName(IFileNode* node) {
    if (node == nullptr || node->GetFileName() == nullptr)
        return {};
    return node->GetFileName();
}
