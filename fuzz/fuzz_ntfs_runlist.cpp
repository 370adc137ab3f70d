// NTFS mapping pairs: the validity walk, decoding, cluster lookups and the
// packed form kept in nodes, whose round trip must give the runs back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "NTFSLib/NTFSDataRun.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool valid = CNTFSDataRunList::IsValid(data, size);
    std::vector<CDataRun> runs;
    if (size > 0)
        CNTFSDataRunList::FormDataRunList(data, size, runs);
    (void)CNTFSDataRunList::GetTotalClusters(data, size);
    CNTFSDataRunList list;
    if (list.InitFromBuffer(data, size) != valid)
        std::abort();
    if (!valid)
        return 0;
    for (const CDataRun& r : list.Runs()) {
        (void)list.GetLCN(r.vcn);
        (void)list.GetVCN(r.lcn);
    }
    CNoneResidentNTFSDataRunList plain;
    plain.InitFromBuffer(data, static_cast<long long>(size));
    auto packed = CCompressedDataRunList::Compress(&plain);
    if (!packed)
        return 0;
    IDataRunList* back = packed->Decompress();
    if (back == nullptr)
        std::abort();
    const DataRun* r = back->GetFirst();
    for (const DataRun& want : plain.Runs()) {
        if (r == nullptr || r->start != want.start || r->length != want.length)
            std::abort();
        r = back->GetNext();
    }
    back->Release();
    (void)CCompressedDataRunList::FromBytes(data, size, static_cast<uint16_t>(size));
    return 0;
}
