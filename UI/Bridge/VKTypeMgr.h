// The file-type tree of the results browser: seven category groups
// (document, picture, movie, music, archive, e-mail, other), under each of
// the first six one group per extension, the found files under those. It
// files incrementally from the scan's index of files by category, so a
// refresh during a scan only files what arrived since the last one. It also
// holds the table of which extensions belong to which category (the
// "FileType" list), which the engine's filter is given at start-up.
//
// No lock of its own: the facade calls it under its tree lock.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "OpNodeData.h"

class VKUIScan;
struct VKSearchResult;

class VKTypeMgr {
public:
    static VKTypeMgr& share();
    // Over the table at `tablePath` (the work folder's list when empty) and
    // the index of `scan` (the process's scan when null).
    explicit VKTypeMgr(const std::string& tablePath = {}, VKUIScan* scan = nullptr);

    // The category's extensions joined with ";"; none when the table has no
    // such key.
    std::optional<std::string> getTypeString(int bit) const;
    // The seven category groups in the order 1, 2, 4, 8, 16, 32, 64.
    std::vector<OpNodePtr> getRootNode() const;
    // Files the nodes that arrived since the last refresh.
    void refreshTypeTree();
    // Right after a search emptied the tree (setSearch): files what the
    // search showed from its hits, as refreshTypeTree would over the whole
    // index, and resumes where the search stopped looking. Walks the index
    // when the hits are not all the shown files or the tree was not emptied.
    void refreshTypeTreeAfterSearch(const VKSearchResult& search);
    OpNodePtr insertSubNodeToTree(const std::string& ext);
    // The group's mark from its file leaves.
    void setNodeState(OpNodeData* node);
    void setNodeState(const OpNodePtr& node) { setNodeState(node.get()); }
    void refreshTypeTreeState();
    bool isOtherNode(const OpNodeData* node) const;
    // Empties the tree, keeping the category groups.
    void clearData();
    // Empties the leaves and the bookkeeping and leaves search mode.
    void clear();
    void setSearch(bool search);
    void VKSetNeedRefreshTree() { m_needRefreshTree = 1; }
    int NeedRefreshTree() const { return m_needRefreshTree; }
    // The category bit of an extension; 64 when no list names it.
    unsigned CategoryOf(const std::string& ext) const;

private:
    // The nodes filed, a node looked at once: open addressing over a flat
    // table, so that a search's reset lets go of a million at once.
    class FiledSet {
    public:
        // False when the node was there already.
        bool insert(IFileNode* node);
        void clear();
        size_t size() const { return count_; }

    private:
        void grow();
        std::vector<IFileNode*> slots_;
        size_t count_ = 0;
    };

    void fileNode(IFileNode* node);
    void initTypeMap();
    VKUIScan& Scan() const;

    VKUIScan* m_scan;
    std::map<std::string, unsigned> m_typeDict;
    std::map<int, std::vector<std::string>> m_dic;
    std::map<unsigned, OpNodePtr> m_rootNode;
    std::map<std::string, OpNodePtr> m_subNodeDict;
    FiledSet m_insertFileNodeMap;
    bool m_search = false;
    std::map<unsigned, size_t> m_typeIndexMap;
    int m_needRefreshTree = 0;
};
