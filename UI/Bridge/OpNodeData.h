// The element of every result tree the results browser shows (by path, by
// file type, by creation and by modification date): either one engine node,
// or a group node that exists only in the interface (a category, an
// extension, a year, a month, the root of a date tree). It gives the texts
// and flags the browser draws and carries the three-state tick mark up and
// down the interface trees.
//
// Engine nodes are not owned: the engine's trees keep them until the next
// scan or load, and an interface tree is emptied before that.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "FileNode.h"

// Tree kinds.
enum OpTreeKind : int {
    OP_TREE_PATH = 0,
    OP_TREE_FILE_TYPE = 1,
    OP_TREE_CREATION_DATE = 2,
    OP_TREE_MODIFICATION_DATE = 3,
    OP_TREE_ACCESS_DATE = 4,
};

// Icon kinds (nodeType).
enum OpNodeIcon : int {
    OP_ICON_FILE_SYSTEM = 0,
    OP_ICON_FILE = 1,
    OP_ICON_DOCUMENT = 2,
    OP_ICON_PICTURE = 3,
    OP_ICON_MOVIE = 4,
    OP_ICON_MUSIC = 5,
    OP_ICON_ARCHIVE = 6,
    OP_ICON_EMAIL = 7,
    OP_ICON_OTHER = 8,
    OP_ICON_DATE_ROOT = 9,
    OP_ICON_DATE_GROUP = 10,
    OP_ICON_GROUP = 11,
};

// What an OpNodeData is made from.
struct TreeNodeData {
    int isDirectory = 0;
    int isDeleted = 0;
    int isFileSystem = 0;
    IFileNode* node = nullptr;
};

class OpNodeData;
using OpNode = OpNodeData;
using OpNodePtr = std::shared_ptr<OpNodeData>;
// A child: a node of the interface tree, or the file leaf of a month,
// extension or "other" group, carried as the engine node itself.
using OpChild = std::variant<OpNodePtr, IFileNode*>;

class OpNodeData {
public:
    explicit OpNodeData(const TreeNodeData& data);
    // initWithFileNode:
    static OpNodePtr initWithFileNode(IFileNode* node);
    static OpNodePtr initWithNodeData(const TreeNodeData& data);
    // A group node of the given kind and title.
    static OpNodePtr makeGroup(int kind, const std::string& title);

    // Keeps the children and makes this node the parent of the tree nodes.
    void setSubNode(std::vector<OpChild> children);
    const std::vector<OpChild>& children() const { return m_children; }
    void addChildObject(OpChild child);
    // Puts the child before position `index` (at the end past it).
    void insertChildObject(size_t index, OpChild child);

    OpNodeData* parent() const { return m_parent; }
    void setParent(OpNodeData* parent) { m_parent = parent; }
    IFileNode* fileNode() const { return m_fileNode; }
    int isFileSystem() const { return m_isFileSystem; }
    int type() const { return m_type; }
    void setType(int type) { m_type = type; }
    void setFadeName(const std::string& name) { m_fadeName = name; }
    // A group's title as stored (name() checks it for display).
    const std::string& fadeName() const { return m_fadeName; }
    int isExpandAble() const { return m_isExpandAble; }
    void setExpandAble(int able) { m_isExpandAble = able; }
    int isExpand() const { return m_isExpand; }
    void setExpand(int expand) { m_isExpand = expand; }
    // Date stamps of date-tree groups.
    int64_t createtime() const { return m_createTime; }
    void setCreateTime(int64_t time) { m_createTime = time; }
    int64_t modifytime() const { return m_modifyTime; }
    void setModifyTime(int64_t time) { m_modifyTime = time; }

    // A node of a tree other than the path tree that wraps no engine node.
    int isFadeNode() const;
    int isDirect() const;
    uint64_t size() const;
    std::string name() const;
    std::string path() const;
    // Times as text; "" for groups and for a time that was not recorded.
    std::string createTime() const;
    std::string modifyTime() const;
    std::string lastAccessTime() const;
    // Engine times (100 ns since 1601); 0 for groups.
    uint64_t createTimeValue() const;
    uint64_t modifyTimeValue() const;
    int state() const;
    // Ticks the node: its engine node or its stored mark, the group nodes
    // above it, and everything below it.
    void setNodeState(int state);
    void setParentNodeState(int state);
    void SetChildrenNodeState(int state);
    int IsShow() const;
    void SetShow(int show);
    int isHasFolderChildren() const;
    int nodeType() const;
    int isDeleted() const;
    // Lets go of the whole tree below (children first).
    void free();

    // Queries of a file leaf.
    static int isFileNodeDirect(IFileNode* node);
    static int isFileNodeDeleted(IFileNode* node);
    static int fileNodeState(IFileNode* node);
    // Ticks the leaf; values other than 0, 1 and 2 are ignored.
    static void setFileNode(IFileNode* node, int state);
    static std::string fileNodeName(IFileNode* node);

private:
    static int ChildState(const OpChild& child);

    int m_type = OP_TREE_PATH;
    int m_isFileSystem = 0;
    std::vector<OpChild> m_children;
    IFileNode* m_fileNode = nullptr;
    int m_state = 0;
    int m_isExpandAble = 0;
    int m_isExpand = 0;
    int64_t m_createTime = 0;
    int64_t m_modifyTime = 0;
    std::string m_fadeName;
    OpNodeData* m_parent = nullptr;
};
