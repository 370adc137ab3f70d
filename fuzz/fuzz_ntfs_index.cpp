// NTFS index blocks ("INDX") and $LogFile record pages ("RCRD"): the header
// and entry tests, the fix-ups and the folder a block names.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "NTFSLib/NTFSIndexRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > CIndexRecord::kMaxBlockSize)
        size = CIndexRecord::kMaxBlockSize;
    std::vector<uint8_t> block(data, data + size);
    (void)CStandardIndexHeader::IsValid(block.data(), block.size());
    if (CIndexRecord::IsValid(block.data(), block.size()) &&
        CIndexRecord::UnfixupIndexRecord(block.data(), block.size()))
        (void)CIndexRecord::GetParentFileReference(block.data(), block.size());
    (void)CIndexRecord::CheckIndexEntries(data, size);
    (void)CIndexRecord::GetVCN(data, size);
    std::vector<uint8_t> page(data, data + size);
    if (CRCRDRecord::IsValid(page.data(), page.size()))
        (void)CRCRDRecord::Unfixup(page.data(), page.size());
    return 0;
}
