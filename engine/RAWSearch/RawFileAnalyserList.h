// The analyser registry: the one place that knows every file-type analyser
// and the leading bytes that select it. The signature search asks it, for
// every sector it examines, which analyser recognises the sector; the FAT
// walker asks it (through the file-start test) whether a guessed cluster
// starts a file. It holds two identical sets so the two users never share
// analyser objects: set 0 belongs to the signature search and is rebuilt
// at the start of every search, set 1 to the file-start test and is built
// once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "RawFileInfo.h"

class IRecoveryFilter;

// Where a row of the table files its analyser.
enum class AnalyserPlace : uint8_t {
    Map,       // the first four bytes of a sector, read as little-endian 32 bits
    Multimap,  // the first two bytes, little-endian 16 bits; rows of one key in table order
    List,      // tried, in table order, on every sector
};

// One row of the registry table. Every key the registry will ever know has
// its row; `make` is null while that analyser is not built, and the key then
// answers "no analyser".
struct AnalyserRow {
    AnalyserPlace place;
    uint32_t key;
    const char* className;
    IRawFileAnalyser* (*make)();
};

// The key of the first four (two) bytes as they stand at a sector's start.
constexpr uint32_t RawKey4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8) |
           (static_cast<uint32_t>(c) << 16) | (static_cast<uint32_t>(d) << 24);
}
constexpr uint32_t RawKey4(const char (&s)[5]) {
    return RawKey4(static_cast<uint8_t>(s[0]), static_cast<uint8_t>(s[1]),
                   static_cast<uint8_t>(s[2]), static_cast<uint8_t>(s[3]));
}
constexpr uint32_t RawKey2(uint8_t a, uint8_t b) {
    return static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8);
}
constexpr uint32_t RawKey2(const char (&s)[3]) {
    return RawKey2(static_cast<uint8_t>(s[0]), static_cast<uint8_t>(s[1]));
}

// The table, in the order its rows are inserted (Analysers/AnalyserTable.cpp).
std::span<const AnalyserRow> GetAnalyserTable();

class CRawFileAnalyserListSingle {
public:
    using AnalyserMap = std::map<uint32_t, IRawFileAnalyser*>;
    using AnalyserMultimap = std::multimap<uint16_t, IRawFileAnalyser*>;
    using AnalyserList = std::vector<IRawFileAnalyser*>;

    // The singleton; the first call builds set 1.
    static CRawFileAnalyserListSingle& CreateInstance();

    // Set 1 when `set` is non-zero, else set 0.
    const AnalyserMap& GetAnalyserMap(int set) const { return Set(set).map; }
    const AnalyserMultimap& GetAnalyserMultimap(int set) const { return Set(set).multimap; }
    const AnalyserList& GetAnalyserList(int set) const { return Set(set).list; }
    bool IsEmpty(int set) const;

    // Destroys every analyser of set 0 and builds the set again from the
    // table. The filter is not consulted.
    void ReinitAnalyzeList(IRecoveryFilter* filter);
    // Empties set 0 (its analysers are destroyed).
    void ClearSearchSet();

    // The analyser that recognises `sector` in the given set, or null.
    // `scratch` is the candidate the analysers fill in; an analyser that
    // refuses may have written into it.
    IRawFileAnalyser* Lookup(int set, unsigned char* sector, CRawFileInfo& scratch,
                             long long sectorSize, long long sectorNumber,
                             const CRawFileInfo::SearchContext& context) const;

    // Tests put their own rows in (an empty span brings the real table
    // back); they take effect at the next ReinitAnalyzeList or
    // RebuildFileStartSet.
    void UseTableForTesting(std::span<const AnalyserRow> rows);
    void RebuildFileStartSet();

private:
    struct AnalyserSet {
        std::vector<std::unique_ptr<IRawFileAnalyser>> owned;
        AnalyserMap map;
        AnalyserMultimap multimap;
        AnalyserList list;
        // For each value of a sector's first two bytes, whether a key of the
        // map (kInMap) or of the two-byte map (kInMultimap) starts with them:
        // most sectors start with bytes no key has, and skip both tree walks.
        std::vector<uint8_t> firstTwo;
    };
    static constexpr uint8_t kInMap = 1;
    static constexpr uint8_t kInMultimap = 2;

    CRawFileAnalyserListSingle();
    const AnalyserSet& Set(int set) const { return set != 0 ? m_sets[1] : m_sets[0]; }
    std::span<const AnalyserRow> Table() const;
    void Build(AnalyserSet& set);
    static void Clear(AnalyserSet& set);
    static void IndexFirstTwo(AnalyserSet& set);
    void BuildRawFileAnalyserMap(AnalyserSet& set);
    void BuildRawFileListMultimap(AnalyserSet& set);
    void BuildRawFileAnalyserList(AnalyserSet& set);

    AnalyserSet m_sets[2];
    std::span<const AnalyserRow> m_testRows;
};
