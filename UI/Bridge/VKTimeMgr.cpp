#include "VKTimeMgr.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "BridgeServices.h"
#include "VKUIPublic.h"
#include "VKUIScan.h"

namespace {

OpNodePtr MakeDateGroup(int kind, const char* format, int value, int expandable) {
    OpNodePtr node = OpNodeData::initWithNodeData(TreeNodeData{1, 1, 0, nullptr});
    char title[16];
    std::snprintf(title, sizeof title, format, value);
    node->setType(kind);
    node->setFadeName(title);
    node->setExpandAble(expandable);
    return node;
}

void InsertSorted(const OpNodePtr& parent, const OpNodePtr& node) {
    const int at = VKTimeMgr::GetDateInsertIndex(node->name(), parent->children());
    node->setParent(parent.get());
    if (at < 0) {
        parent->addChildObject(node);
        return;
    }
    std::vector<OpChild> children = parent->children();
    children.insert(children.begin() + at, node);
    parent->setSubNode(std::move(children));
}

long long TimeOfKind(IFileNode* node, int kind) {
    switch (kind) {
        case OP_TREE_CREATION_DATE:
            return node->GetCreationTime();
        case OP_TREE_MODIFICATION_DATE:
            return node->GetModificationTime();
        case OP_TREE_ACCESS_DATE:
            return node->GetLastAccessTime();
        default:
            return 0;
    }
}

}  // namespace

VKTimeMgr& VKTimeMgr::share() {
    static VKTimeMgr* one = new VKTimeMgr();
    return *one;
}

VKTimeMgr::VKTimeMgr(VKUIScan* scan) : m_scan(scan) {}

VKUIScan& VKTimeMgr::Scan() const {
    return m_scan != nullptr ? *m_scan : VKUIScan::instance();
}

std::map<int, size_t>* VKTimeMgr::PositionsOf(int kind) {
    switch (kind) {
        case OP_TREE_CREATION_DATE:
            return &m_createPositions;
        case OP_TREE_MODIFICATION_DATE:
            return &m_modifyPositions;
        case OP_TREE_ACCESS_DATE:
            return &m_accessPositions;
        default:
            return nullptr;
    }
}

size_t VKTimeMgr::getIndex(int year, int month, int kind) const {
    const std::map<int, size_t>* map = const_cast<VKTimeMgr*>(this)->PositionsOf(kind);
    if (map == nullptr)
        return 0;
    auto it = map->find(year * 100 + month);
    return it != map->end() ? it->second : 0;
}

void VKTimeMgr::setIndex(size_t position, int year, int month, int kind) {
    if (std::map<int, size_t>* map = PositionsOf(kind))
        (*map)[year * 100 + month] = position;
}

void VKTimeMgr::initMap() {
    m_createPositions.clear();
    m_modifyPositions.clear();
    m_accessPositions.clear();
}

void VKTimeMgr::clear() {
    initMap();
    m_createYear.clear();
    m_createMonth.clear();
    m_modifyYear.clear();
    m_modifyMonth.clear();
    m_createNeedRefresh = 1;
    m_modifyNeedRefresh = 1;
}

void VKTimeMgr::setSearch(bool) {
    clear();
}

void VKTimeMgr::refreshTimeTree(const OpNodePtr& root, int kind) {
    m_keyType = kind;
    takeNewFiles(kind, [this, &root](IFileNode* node) { AddFileNode(node, root); });
}

void VKTimeMgr::takeNewFiles(int kind, const std::function<void(IFileNode*)>& file) {
    VKDateIndex index;
    if (kind == OP_TREE_ACCESS_DATE)
        index = Scan().GetAccessTimeMap();
    else if (kind == OP_TREE_MODIFICATION_DATE)
        index = Scan().GetModifyTimeMap();
    else if (kind == OP_TREE_CREATION_DATE)
        index = Scan().GetCreateTimeMap();
    for (const auto& [year, months] : index) {
        for (const auto& [month, nodes] : months) {
            const size_t from = getIndex(year, month, kind);
            if (from >= nodes.size())
                continue;
            // Moved on before the files are handed over: a month is filed
            // once, whatever the callback does.
            setIndex(nodes.size(), year, month, kind);
            for (size_t i = from; i < nodes.size(); ++i) {
                IFileNode* node = nodes[i];
                if (node == nullptr || node->IsNodeShow() == 0 || node->IsDirectory() != 0 ||
                    TimeOfKind(node, kind) == 0)
                    continue;
                file(node);
            }
        }
    }
}

void VKTimeMgr::takeSearchHits(int kind, const VKSearchResult& search,
                               const std::function<void(IFileNode*)>& file) {
    const VKDateExtent* extent = kind == OP_TREE_CREATION_DATE       ? &search.createExtent
                                 : kind == OP_TREE_MODIFICATION_DATE ? &search.modifyExtent
                                                                     : nullptr;
    const std::map<int, size_t>* positions = PositionsOf(kind);
    size_t indexed = 0;
    if (extent != nullptr) {
        for (const auto& [year, months] : *extent) {
            for (const auto& [month, count] : months)
                indexed += count;
        }
    }
    // Each hit's month is worked out again (a time zone conversion): past
    // an eighth of the index, walking it is the cheaper way.
    if (extent == nullptr || !search.complete || positions == nullptr || !positions->empty() ||
        search.arrival.size() != search.hits.size() || search.hits.size() > indexed / 8) {
        takeNewFiles(kind, file);
        return;
    }
    struct Hit {
        int month;  // year * 100 + month, as the index files it
        uint32_t arrival;
        IFileNode* node;
    };
    std::vector<Hit> hits;
    VKCPPPublic& helpers = VKCPPPublic::instance();
    for (size_t i = 0; i < search.hits.size(); ++i) {
        IFileNode* node = search.hits[i];
        if (node == nullptr || node->IsNodeShow() == 0 || node->IsDirectory() != 0)
            continue;
        const long long time = TimeOfKind(node, kind);
        if (time == 0)
            continue;
        int year = 0, month = 0;
        helpers.GetYearMonthByFileTime(&year, &month, U64ToFileTime(static_cast<uint64_t>(time)));
        hits.push_back({year * 100 + month, search.arrival[i], node});
    }
    // The walk's order: by year and month, then as the files arrived.
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
        return a.month != b.month ? a.month < b.month : a.arrival < b.arrival;
    });
    for (const auto& [year, months] : *extent) {
        for (const auto& [month, count] : months) {
            if (count != 0)
                setIndex(count, year, month, kind);
        }
    }
    for (const Hit& hit : hits)
        file(hit.node);
}

void VKTimeMgr::AddFileNode(IFileNode* node, const OpNodePtr& root) {
    if (m_keyType != OP_TREE_CREATION_DATE && m_keyType != OP_TREE_MODIFICATION_DATE)
        return;
    const bool modify = m_keyType == OP_TREE_MODIFICATION_DATE;
    const long long time = modify ? node->GetModificationTime() : node->GetCreationTime();
    int year = 0, month = 0;
    VKCPPPublic::instance().GetYearMonthByFileTime(&year, &month,
                                                   U64ToFileTime(static_cast<uint64_t>(time)));
    if (year < 1 || month < 1)
        return;
    std::map<int, OpNodePtr>& years = modify ? m_modifyYear : m_createYear;
    MonthDic& months = modify ? m_modifyMonth : m_createMonth;
    OpNodePtr monthNode;
    auto y = years.find(year);
    if (y == years.end()) {
        monthNode = insertMonth(month, year, insertYear(year, root));
    } else {
        std::map<int, OpNodePtr>& inner = months[y->second.get()];
        auto m = inner.find(month);
        monthNode = m != inner.end() ? m->second : insertMonth(month, year, y->second);
    }
    monthNode->addChildObject(node);
}

OpNodePtr VKTimeMgr::insertYear(int year, const OpNodePtr& root) {
    OpNodePtr node = MakeDateGroup(m_keyType, "%04d", year, 1);
    InsertSorted(root, node);
    if (m_keyType == OP_TREE_MODIFICATION_DATE)
        m_modifyYear[year] = node;
    else if (m_keyType == OP_TREE_CREATION_DATE)
        m_createYear[year] = node;
    return node;
}

OpNodePtr VKTimeMgr::insertMonth(int month, int year, const OpNodePtr& yearNode) {
    OpNodePtr node = MakeDateGroup(m_keyType, "%02d", month, 0);
    // Today's day and time in the group's month, normalised: the 31st of a
    // 30-day month becomes the 1st of the next.
    const time_t now = velmora::bridge::CurrentClock()->Now();
    struct tm local {};
    ::localtime_r(&now, &local);
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_isdst = -1;
    const int64_t stamp = static_cast<int64_t>(::mktime(&local));
    MonthDic* months = nullptr;
    if (m_keyType == OP_TREE_MODIFICATION_DATE) {
        yearNode->setModifyTime(stamp);
        node->setModifyTime(stamp);
        months = &m_modifyMonth;
    } else if (m_keyType == OP_TREE_CREATION_DATE) {
        yearNode->setCreateTime(stamp);
        node->setCreateTime(stamp);
        months = &m_createMonth;
    }
    InsertSorted(yearNode, node);
    if (months != nullptr)
        (*months)[yearNode.get()][month] = node;
    return node;
}

int VKTimeMgr::GetDateInsertIndex(const std::string& title, const std::vector<OpChild>& nodes) {
    for (size_t i = 0; i < nodes.size(); ++i) {
        const OpNodePtr* node = std::get_if<OpNodePtr>(&nodes[i]);
        if (node != nullptr && ::strcasecmp((*node)->name().c_str(), title.c_str()) > 0)
            return static_cast<int>(i);
    }
    return -1;
}

void VKTimeMgr::VKSetNeedRefreshTree() {
    switch (Scan().GetScanType()) {
        case OP_TREE_PATH:
        case OP_TREE_FILE_TYPE:
            m_createNeedRefresh = 1;
            m_modifyNeedRefresh = 1;
            break;
        case OP_TREE_CREATION_DATE:
            m_modifyNeedRefresh = 1;
            break;
        case OP_TREE_MODIFICATION_DATE:
            m_createNeedRefresh = 1;
            break;
        default:
            break;
    }
}

void VKTimeMgr::VKResetNeedRefreshTree() {
    const int kind = Scan().GetScanType();
    if (kind == OP_TREE_CREATION_DATE)
        m_createNeedRefresh = 0;
    else if (kind == OP_TREE_MODIFICATION_DATE)
        m_modifyNeedRefresh = 0;
}

int VKTimeMgr::VKGetNeedRefreshTree() {
    const int kind = Scan().GetScanType();
    if (kind == OP_TREE_CREATION_DATE)
        return m_createNeedRefresh;
    if (kind == OP_TREE_MODIFICATION_DATE)
        return m_modifyNeedRefresh;
    return 1;
}
