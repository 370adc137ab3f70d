// Nodes, searchers and progress sinks for the recovery tests.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "DataRun.h"
#include "NTFSLib/CompressFileReader.h"
#include "RecoveryInterfaces.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"
#include "support/TestNode.h"

namespace rectest {

// A file node with runs, times and an optional NTFS compression flag.
class RecNode : public TestNode {
public:
    RecNode(std::string name, long long fileSize, const std::vector<DataRun>& runs,
            bool dir = false)
        : TestNode(1, 0, std::move(name), dir) {
        size = fileSize;
        if (!runs.empty()) {
            auto* list = new CDataRunList();
            for (const DataRun& r : runs)
                list->AddDataRun(&r);
            SetDataRunList(list);
        }
    }
    void MakeCompressed() { SetCompressed(1); }
    IFileReader* CreateCompressFileReader(void*) override { return ::CreateCompressFileReader(); }
    long long GetLastAccessTime() override { return accessed; }
    long long GetValidDataLength() const override { return validLength; }
    long long accessed = 0;
    long long validLength = -1;
};

// A searcher that hands out copies of its records.
class FakeSearcher : public IQuickFileSystemSearchController {
public:
    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder*) override {}
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override {
        return AnswerSearchedPartitionQuery(
            static_cast<int>(records.size()), out, capacity,
            [this](int i) { return new CSearchedPartitionInfo(records[static_cast<size_t>(i)]); });
    }
    VKRESULT QuickSearchFiles(IStorageDevice*, IProgress*) override { return VK_OK; }
    std::vector<CSearchedPartitionInfo> records;
};

// Records every progress report; stops the work after `stopAfter` polls.
class RecordingProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override { reports.push_back(*info); }
    int Continued() override { return ++polls <= stopAfter ? 1 : 0; }
    int shouldBuild() override { return 0; }
    std::vector<_PROGRESS_INFO> reports;
    int polls = 0;
    int stopAfter = 1 << 30;
};

inline CSearchedPartitionInfo Partition(unsigned spc, long long totalSectors, int fsType = FS_FAT32,
                                        unsigned sectorSize = 512) {
    CSearchedPartitionInfo p(sectorSize);
    p.sectorsPerCluster = spc;
    p.totalSectors = totalSectors;
    p.fileSystemType = fsType;
    p.partitionIndex = 0;
    return p;
}

// Selects a node for recovery; false when refused. The reader handed back
// is released at once.
inline bool Select(IDataRecovery& recovery, IFileNode* node) {
    IFileReader* clone = recovery.SetRecoverNode(node);
    if (!clone)
        return false;
    clone->Release();
    return true;
}

inline bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

inline std::string Hex(VKRESULT r) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(r));
    return text;
}

}  // namespace rectest
