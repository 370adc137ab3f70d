// Key order of the three HFS+ B-trees. A B-tree is sorted on disk by these
// rules; exact-key searches and the journal maps use them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "HFSPlusStructs.h"

namespace hfsplus {

// The published case-folding table: 256 high-byte entries, then pages.
extern const uint16_t kCaseFoldTable[2816];

// Case-insensitive compare of two names (HFS+): folded characters, those
// folding to 0 skipped, ":" compared as "/". -1, 0 or 1.
int FastUnicodeCompare(const uint16_t* name1, size_t length1, const uint16_t* name2,
                       size_t length2);
// Binary compare (HFSX and any compare type but 0xCF), ":" as "/".
int BinaryUnicodeCompare(const uint16_t* name1, size_t length1, const uint16_t* name2,
                         size_t length2);

// parentID, then the name by the catalog's keyCompareType (0xCF folds case).
int CompareCatalogKeys(const BTKey& a, const BTKey& b, uint8_t keyCompareType);
// fileID, forkType, startBlock.
int CompareExtentKeys(const BTKey& a, const BTKey& b);
// fileID, then the name (shorter first); startBlock does not count.
int CompareAttributeKeys(const BTKey& a, const BTKey& b);

struct CCatalogKeyLess {
    uint8_t keyCompareType = 0xCF;
    bool operator()(const BTKey& a, const BTKey& b) const {
        return CompareCatalogKeys(a, b, keyCompareType) < 0;
    }
};
struct CExtentKeyLess {
    bool operator()(const BTKey& a, const BTKey& b) const { return CompareExtentKeys(a, b) < 0; }
};
struct CAttributeKeyLess {
    bool operator()(const BTKey& a, const BTKey& b) const { return CompareAttributeKeys(a, b) < 0; }
};

// Keys for lookups.
BTKey MakeCatalogKey(uint32_t parentID, const std::vector<uint16_t>& name);
BTKey MakeExtentKey(uint32_t fileID, uint8_t forkType, uint32_t startBlock);
BTKey MakeAttributeKey(uint32_t fileID, const char* name);

}  // namespace hfsplus
