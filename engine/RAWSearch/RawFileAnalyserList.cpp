#include "RawFileAnalyserList.h"

#include "ByteReader.h"
#include "Utility/CatchExeception.h"

CRawFileAnalyserListSingle& CRawFileAnalyserListSingle::CreateInstance() {
    static CRawFileAnalyserListSingle instance;
    return instance;
}

CRawFileAnalyserListSingle::CRawFileAnalyserListSingle() {
    Build(m_sets[1]);
}

std::span<const AnalyserRow> CRawFileAnalyserListSingle::Table() const {
    return m_testRows.empty() ? GetAnalyserTable() : m_testRows;
}

bool CRawFileAnalyserListSingle::IsEmpty(int set) const {
    const AnalyserSet& s = Set(set);
    return s.map.empty() && s.multimap.empty() && s.list.empty();
}

void CRawFileAnalyserListSingle::Clear(AnalyserSet& set) {
    set.map.clear();
    set.multimap.clear();
    set.list.clear();
    set.firstTwo.clear();
    set.owned.clear();
}

void CRawFileAnalyserListSingle::IndexFirstTwo(AnalyserSet& set) {
    set.firstTwo.assign(0x10000, 0);
    for (const auto& [key, analyser] : set.map)
        set.firstTwo[key & 0xFFFF] |= kInMap;
    for (const auto& [key, analyser] : set.multimap)
        set.firstTwo[key] |= kInMultimap;
}

void CRawFileAnalyserListSingle::Build(AnalyserSet& set) {
    Clear(set);
    BuildRawFileAnalyserMap(set);
    BuildRawFileListMultimap(set);
    BuildRawFileAnalyserList(set);
    IndexFirstTwo(set);
}

// Every entry owns a fresh analyser, so state an analyser keeps is never
// shared between two keys or two sets.
void CRawFileAnalyserListSingle::BuildRawFileAnalyserMap(AnalyserSet& set) {
    for (const AnalyserRow& row : Table()) {
        if (row.place != AnalyserPlace::Map || row.make == nullptr)
            continue;
        if (set.map.count(row.key) != 0) {
            CatchExeception::WriteLog("analyser registry: key %08x filed twice, %s left out\n",
                                      row.key, row.className);
            continue;
        }
        IRawFileAnalyser* analyser = row.make();
        if (analyser == nullptr)
            continue;
        set.owned.emplace_back(analyser);
        set.map.emplace(row.key, analyser);
    }
}

void CRawFileAnalyserListSingle::BuildRawFileListMultimap(AnalyserSet& set) {
    for (const AnalyserRow& row : Table()) {
        if (row.place != AnalyserPlace::Multimap || row.make == nullptr)
            continue;
        IRawFileAnalyser* analyser = row.make();
        if (analyser == nullptr)
            continue;
        set.owned.emplace_back(analyser);
        // Equal keys keep their insertion order.
        set.multimap.emplace(static_cast<uint16_t>(row.key), analyser);
    }
}

void CRawFileAnalyserListSingle::BuildRawFileAnalyserList(AnalyserSet& set) {
    for (const AnalyserRow& row : Table()) {
        if (row.place != AnalyserPlace::List || row.make == nullptr)
            continue;
        IRawFileAnalyser* analyser = row.make();
        if (analyser == nullptr)
            continue;
        set.owned.emplace_back(analyser);
        set.list.push_back(analyser);
    }
}

void CRawFileAnalyserListSingle::ReinitAnalyzeList(IRecoveryFilter* filter) {
    (void)filter;
    Build(m_sets[0]);
}

void CRawFileAnalyserListSingle::ClearSearchSet() {
    Clear(m_sets[0]);
}

void CRawFileAnalyserListSingle::UseTableForTesting(std::span<const AnalyserRow> rows) {
    m_testRows = rows;
}

void CRawFileAnalyserListSingle::RebuildFileStartSet() {
    Build(m_sets[1]);
}

namespace {

int Ask(IRawFileAnalyser* analyser, unsigned char* sector, CRawFileInfo& scratch,
        long long sectorSize, long long sectorNumber, const CRawFileInfo::SearchContext& context) {
    if (ISpecialRawFileAnalyser* special = analyser->GetSpecialRawFile()) {
        return special->AnalyseBufferEx(sector, scratch, sectorSize, sectorNumber,
                                        context.windowFirstSector, context.windowEndSector) != 0
                   ? 1
                   : 0;
    }
    return analyser->AnalyseBuffer(sector, scratch) == 1 ? 1 : 0;
}

}  // namespace

IRawFileAnalyser* CRawFileAnalyserListSingle::Lookup(
    int set, unsigned char* sector, CRawFileInfo& scratch, long long sectorSize,
    long long sectorNumber, const CRawFileInfo::SearchContext& context) const {
    if (sector == nullptr)
        return nullptr;
    const AnalyserSet& s = Set(set);
    const uint32_t word = vk::LoadLE<uint32_t>(sector);
    // A zero first word selects nothing by key (too many files and gaps start
    // that way); only the list looks at such sectors.
    const uint8_t keys = word != 0 && !s.firstTwo.empty() ? s.firstTwo[word & 0xFFFF] : 0;
    if ((keys & kInMap) != 0) {
        if (auto it = s.map.find(word); it != s.map.end()) {
            if (Ask(it->second, sector, scratch, sectorSize, sectorNumber, context))
                return it->second;
        }
    }
    if ((keys & kInMultimap) != 0) {
        const auto range = s.multimap.equal_range(static_cast<uint16_t>(word & 0xFFFF));
        for (auto it = range.first; it != range.second; ++it) {
            if (Ask(it->second, sector, scratch, sectorSize, sectorNumber, context))
                return it->second;
        }
    }
    for (IRawFileAnalyser* analyser : s.list) {
        if (analyser->AnalyseBuffer(sector, scratch) != 0)
            return analyser;
    }
    return nullptr;
}
