// One HFS+ B-tree node: validation, the offset table and every record's key
// and data through the readers of the tree named by the first byte (0
// catalog, 1 extents, 2 attributes). Seeds: nodes of the fixture volume
// (tests/engine/HFSPlus/make_fuzz_seeds.py).
#include <cstddef>
#include <cstdint>

#include "HFSPlusLib/HFSPlusBTree.h"
#include "HFSPlusLib/HFSPlusFileNode.h"
#include "HFSPlusLib/HFSPlusStructs.h"

using namespace hfsplus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hfsplus::SetErrorLines(false);
    if (size < 1 + 512 || size > 1 + 32768)
        return 0;
    const int tree = data[0] % 3;
    CHFSPlusBTNode node(data + 1, (size - 1) / 512 * 512);
    for (uint16_t i = 0; i < node.GetRecordCount(); ++i) {
        uint16_t length = 0;
        const uint8_t* record = node.GetRecord(i, &length);
        if (!record)
            continue;
        BTKey key;
        VKRESULT rc = tree == 0   ? filpCatalogKey(record, length, &key)
                      : tree == 1 ? filpExtentKey(record, length, &key)
                                  : filpAttributeKey(record, length, &key);
        if (ResultFailed(rc) || size_t{key.keyLength} + 2 > length)
            continue;
        const uint8_t* rest = record + key.keyLength + 2;
        const size_t restSize = length - key.keyLength - 2;
        if (tree == 0) {
            HFSPlusCatalogRecord cat;
            if (ResultSucceeded(flipCatalogRecord(rest, restSize, &cat)))
                (void)CatalogNameToUtf8(cat.recordType >= 3 ? cat.threadName : key.name);
        } else if (tree == 1) {
            HFSPlusExtentRecord extents;
            flipExtentRecord(rest, restSize, &extents);
        } else {
            HFSPlusAttrRecord attr;
            flipAttrRecord(rest, restSize, &attr);
        }
    }
    return 0;
}
