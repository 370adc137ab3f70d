#include "HFSPlusKeys.h"

#include "HFSPlusLayout.h"

namespace hfsplus {

namespace {

uint16_t Fold(uint16_t c) {
    const uint16_t page = kCaseFoldTable[c >> 8];
    return page ? kCaseFoldTable[page + (c & 0xFF)] : c;
}

uint16_t SlashForColon(uint16_t c) {
    return c == 0x003A ? 0x002F : c;
}

int Sign(int v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

}  // namespace

int FastUnicodeCompare(const uint16_t* n1, size_t l1, const uint16_t* n2, size_t l2) {
    size_t i = 0, j = 0;
    for (;;) {
        uint16_t c1 = 0, c2 = 0;
        // Characters that fold to 0 are skipped; an exhausted name gives 0.
        while (c1 == 0 && i < l1)
            c1 = Fold(n1[i++]);
        while (c2 == 0 && j < l2)
            c2 = Fold(n2[j++]);
        c1 = SlashForColon(c1);
        c2 = SlashForColon(c2);
        if (c1 != c2)
            return c1 < c2 ? -1 : 1;
        if (c1 == 0)
            return 0;
    }
}

int BinaryUnicodeCompare(const uint16_t* n1, size_t l1, const uint16_t* n2, size_t l2) {
    const size_t n = l1 < l2 ? l1 : l2;
    for (size_t i = 0; i < n; ++i) {
        const uint16_t a = SlashForColon(n1[i]), b = SlashForColon(n2[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return l1 == l2 ? 0 : (l1 < l2 ? -1 : 1);
}

int CompareCatalogKeys(const BTKey& a, const BTKey& b, uint8_t keyCompareType) {
    if (a.id != b.id)
        return a.id < b.id ? -1 : 1;
    if (keyCompareType == layout::kCompareCaseFolding)
        return FastUnicodeCompare(a.name.data(), a.name.size(), b.name.data(), b.name.size());
    return BinaryUnicodeCompare(a.name.data(), a.name.size(), b.name.data(), b.name.size());
}

int CompareExtentKeys(const BTKey& a, const BTKey& b) {
    if (a.id != b.id)
        return a.id < b.id ? -1 : 1;
    if (a.forkType != b.forkType)
        return a.forkType < b.forkType ? -1 : 1;
    if (a.startBlock != b.startBlock)
        return a.startBlock < b.startBlock ? -1 : 1;
    return 0;
}

int CompareAttributeKeys(const BTKey& a, const BTKey& b) {
    if (a.id != b.id)
        return a.id < b.id ? -1 : 1;
    const size_t n = a.name.size() < b.name.size() ? a.name.size() : b.name.size();
    for (size_t i = 0; i < n; ++i)
        if (a.name[i] != b.name[i])
            return a.name[i] < b.name[i] ? -1 : 1;
    return Sign(static_cast<int>(a.name.size()) - static_cast<int>(b.name.size()));
}

BTKey MakeCatalogKey(uint32_t parentID, const std::vector<uint16_t>& name) {
    BTKey key;
    key.id = parentID;
    key.name = name;
    key.keyLength = static_cast<uint16_t>(layout::kCatKeyMinLength + 2 * name.size());
    return key;
}

BTKey MakeExtentKey(uint32_t fileID, uint8_t forkType, uint32_t startBlock) {
    BTKey key;
    key.keyLength = layout::kExtKeySize - 2;
    key.id = fileID;
    key.forkType = forkType;
    key.startBlock = startBlock;
    return key;
}

BTKey MakeAttributeKey(uint32_t fileID, const char* name) {
    BTKey key;
    key.id = fileID;
    for (const char* p = name; p && *p; ++p)
        key.name.push_back(static_cast<unsigned char>(*p));
    key.keyLength = static_cast<uint16_t>(layout::kAttrKeyMinLength + 2 * key.name.size());
    return key;
}

}  // namespace hfsplus
