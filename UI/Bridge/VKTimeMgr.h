// The two date trees of the results browser: below a root, one group per
// year and below it one per month, each month holding the found files whose
// creation (creation-date tree) or modification time (modification-date
// tree) falls in it. Like the type tree it files incrementally from the
// scan's per-month index. It also keeps which date tree's marks must be
// worked out again after a tick changed.
//
// No lock of its own: the facade calls it under its tree lock.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "OpNodeData.h"

class VKUIScan;
struct VKSearchResult;

class VKTimeMgr {
public:
    static VKTimeMgr& share();
    // Over the index of `scan` (the process's scan when null).
    explicit VKTimeMgr(VKUIScan* scan = nullptr);

    // Files the new nodes of kind 2 (creation), 3 (modification) or 4
    // (last access: positions advance, nothing is filed) below `root`.
    void refreshTimeTree(const OpNodePtr& root, int kind);
    // Hands each shown file of kind 2, 3 or 4 that arrived since the last
    // call for that kind to `file`, and moves the kind's positions past it.
    void takeNewFiles(int kind, const std::function<void(IFileNode*)>& file);
    // Right after a search reset the positions (setSearch): hands `file`
    // what takeNewFiles would, in the same order, from the search's hits,
    // and resumes where the search stopped looking. Walks the index when
    // the hits are not all the shown files, the positions were not reset,
    // or the hits are so many that the walk costs less.
    void takeSearchHits(int kind, const VKSearchResult& search,
                        const std::function<void(IFileNode*)>& file);
    void AddFileNode(IFileNode* node, const OpNodePtr& root);
    OpNodePtr insertYear(int year, const OpNodePtr& root);
    OpNodePtr insertMonth(int month, int year, const OpNodePtr& yearNode);
    // Where a group titled `title` goes among `nodes`: before the first whose
    // title compares greater ignoring case; -1 for the end.
    static int GetDateInsertIndex(const std::string& title, const std::vector<OpChild>& nodes);
    size_t getIndex(int year, int month, int kind) const;
    void setIndex(size_t position, int year, int month, int kind);
    void initMap();
    void clear();
    void setSearch(bool);
    void VKSetNeedRefreshTree();
    void VKResetNeedRefreshTree();
    int VKGetNeedRefreshTree();

private:
    using MonthDic = std::map<const OpNodeData*, std::map<int, OpNodePtr>>;
    VKUIScan& Scan() const;
    std::map<int, size_t>* PositionsOf(int kind);

    VKUIScan* m_scan;
    std::map<int, OpNodePtr> m_createYear;
    MonthDic m_createMonth;
    std::map<int, OpNodePtr> m_modifyYear;
    MonthDic m_modifyMonth;
    std::map<int, size_t> m_createPositions;
    std::map<int, size_t> m_modifyPositions;
    std::map<int, size_t> m_accessPositions;
    int m_keyType = OP_TREE_CREATION_DATE;
    int m_createNeedRefresh = 0;
    int m_modifyNeedRefresh = 0;
};
