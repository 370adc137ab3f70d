// The exFAT entry checks, the entry-set checksum and the directory parser
// over arbitrary bytes: the first byte says where the folder's first
// "cluster" ends, so sets that cross into the next cluster are parsed too;
// a second folder follows the first. Seeds: directory clusters of a small
// generated volume (tests/engine/ExFat/make_fuzz_seeds.py).
#include <cstddef>
#include <cstdint>

#include "ExFatDirEntry.h"
#include "ExFatEntrySet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 16) + 1)
        return 0;
    const uint8_t* dir = data + 1;
    const size_t length = size - 1;
    const size_t split = (static_cast<size_t>(data[0]) * 32) % (length + 1);

    CEFDTAnalyze parser;
    parser.PrepareAnayze(9, 12, 1u << 20);
    parser.BeginFolder();
    if (parser.Analyze(dir, split, 4096))
        parser.Analyze(dir + split, length - split, 4104);
    parser.BeginFolder();
    parser.Analyze(dir + split, length - split, 8192);
    size_t names = 0;
    for (const _tagFileBaseInfo& r : parser.GetCompleted())
        names += r.name.size();
    (void)names;

    for (size_t off = 0; off + 32 <= length; off += 32) {
        const vk::ByteReader e(dir + off, 32);
        exfat::IsValidFileEntry(e);
        exfat::IsValidStreamEntry(e, exfat::StreamLimits{12, 25, 1u << 30});
        exfat::IsValidNameEntry(e);
        exfat::IsValidLabelEntry(e);
        const size_t set = 32u * (dir[off + 1] + 1u);
        if (set <= length - off)
            CheckDirEntry(dir + off, set, static_cast<uint16_t>(dir[off + 2] | dir[off + 3] << 8));
    }
    return 0;
}
