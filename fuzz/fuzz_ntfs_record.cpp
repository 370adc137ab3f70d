// An NTFS file record with its attributes: the first bytes of the input are
// the record (1 or 4 KiB), the rest a small volume whose $MFT holds the
// records an attribute list may name. Every reader of the record library
// runs over it: the attribute walk, names, times, runs, the index root, the
// label, extension records, the properties builder and the resident-data
// readers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "NTFSLib/NTFSFileNode.h"
#include "NTFSLib/NTFSFileRecord.h"
#include "NTFSLib/NTFSIndexRecord.h"
#include "NTFSLib/NTFSMultiFileRecord.h"
#include "NTFSLib/NTFSVolume.h"
#include "support/MemoryStorageDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1024)
        return 0;
    const size_t recordSize = size >= 4096 && (data[0x1C] & 0x10) ? 4096 : 1024;
    std::vector<uint8_t> record(data, data + recordSize);
    (void)CNTFSFileRecord::IsValid(record.data(), record.size());
    (void)CNTFSFileRecord::IsValidUpdateSequence(record.data(), record.size());
    char label[40];
    (void)CVolumeFileAnalyzer::GetLabel(record.data(), record.size(), label,
                                        1 + data[1] % sizeof(label));

    // The raw walk, as the deep search sees records on the surface.
    for (uint32_t type : {0x10u, 0x20u, 0x30u, 0x60u, 0x80u, 0x90u, 0xA0u})
        (void)CNTFSFileRecord::FindAttibute(record.data(), record.size(), type, data[2] % 3);

    CNTFSFileRecord parsed(record.data(), record.size());
    if (!parsed.IsValid())
        return 0;
    (void)CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(parsed);
    (void)CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(parsed);
    (void)CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(parsed);
    CNTFSFileRecordAttribute root = parsed.FindAttibute(0x90, 0);
    if (!root.Empty())
        (void)CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(root);
    CNTFSDataRunList runs;
    int64_t realSize = 0;
    (void)CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(parsed, runs, data[3] & 1,
                                                                      &realSize);
    uint32_t spc = 0;
    (void)CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(parsed, 512, &spc);
    for (int i = 0; i < 4; ++i) {
        CNTFSFileRecordFileNameAttribute name(parsed.FindAttibute(0x30, i));
        if (!name.Empty() && name.IsValid())
            (void)name.GetFileName();
    }

    // The volume behind it: 512-byte sectors, 1 KiB clusters, the $MFT at
    // cluster 0 made of the whole input.
    std::vector<uint8_t> volume(data, data + size);
    volume.resize((volume.size() + 1023) / 1024 * 1024 + 8192, 0);
    velmora::test::MemoryStorageDevice device(volume, 512);
    CNTFSDataRunList mft;
    mft.AddDataRun({0, 0, static_cast<int64_t>(volume.size() / 1024)});
    NTFSRecordLocator locator;
    locator.clusterBytes = 1024;
    locator.recordBytes = static_cast<uint32_t>(recordSize);
    locator.mftRuns = &mft;
    auto list = CNTFSMultiFileRecord::InitExtendFileRecord(
        parsed, 0, 0, parsed.GetXPNumberOfthisMFTRecord(), locator, &device);
    CNTFSMultiFileRecord multi(parsed, 0, 0, &device, list.get());
    CNTFSFilePropertiesBuilder::Options o;
    o.clusterBytes = 1024;
    if (data[4] & 1)
        o.stream = u"s";
    int64_t parent = -1;
    CNTFSFileProperties* props =
        CNTFSFilePropertiesBuilder::BuildFileProperties(0, multi, o, &parent);
    if (props == nullptr)
        return 0;
    props->SetExtendFileRecordInfoList(std::move(list));
    auto* node = new CNTFSFileNode();
    node->SetFileProperties(props);
    long long length = 0;
    std::vector<uint8_t> out(8192);
    (void)GetResidentDataRunsStream(*node, device, &length, out.data(),
                                    static_cast<unsigned>(out.size()));
    CFileReaderEx reader;
    if (!node->IsCompressed() && reader.Open(&device, node, 0, 2)) {
        int got = 0;
        (void)reader.Read(data[5] * 16, out.data(), static_cast<int>(out.size()), got);
    }
    reader.Close();
    node->Release();
    return 0;
}
