#include "SearchInterfaces.h"

#include "SearchedPartitionInfo.h"
#include "SearcherRow.h"
#include "Utility/CatchExeception.h"

void FinishQuickSearch(IDirecotryTreeBuilder* builder, _tagSearcherType type,
                       CSearchedPartitionInfo* partition, IStorageDevice* device,
                       IProgress* progress, int64_t total, int64_t done, VKRESULT result) {
    if (builder) {
        builder->SetPartitonDevice(partition, device);
        const SearcherRow* row = vk::FindSearcherRow(type);
        if (row == nullptr) {
            builder->FlashBuild(type);
        } else {
            for (const SearcherTreeRules& tree : row->trees) {
                if (tree.type != SEARCHER_NONE)
                    builder->FlashBuild(tree.type);
            }
        }
    }
    vk::SendProgress(progress, PROGRESS_FINISHED, total, done, result);
}

void vk::SendProgress(IProgress* progress, int32_t state, int64_t total, int64_t done,
                      VKRESULT result) {
    if (progress == nullptr)
        return;
    _PROGRESS_INFO info{};
    info.state = state;
    info.total = total;
    info.done = done;
    info.result = result;
    progress->UpdateProgress(&info);
}

void vk::DeepSearcherBase::SetBlockSize(int sectorsPerBlock) {
    if (sectorsPerBlock <= 0) {
        CatchExeception::WriteLog("%s: block size %d refused\n", m_name, sectorsPerBlock);
        return;
    }
    m_blockSectors = sectorsPerBlock;
}

int AnswerSearchedPartitionQuery(int found, CSearchedPartitionInfo** out, int capacity,
                                 const std::function<CSearchedPartitionInfo*(int)>& make) {
    if (found < 0)
        found = 0;
    if (!out || capacity < found)
        return found;
    int filled = 0;
    for (int i = 0; i < found; ++i) {
        CSearchedPartitionInfo* record = make ? make(i) : nullptr;
        if (record)
            out[filled++] = record;
    }
    return filled;
}

int CollectSearchedPartitions(IFileSystemSearchController* searcher,
                              std::vector<CSearchedPartitionInfo*>& out) {
    if (!searcher)
        return 0;
    constexpr int kFirstAsk = 256;
    // A sane searcher answers in two asks; the bound keeps one whose count
    // grows on every call from looping.
    constexpr int kMaxAsks = 4;
    constexpr int kMaxRecords = 1 << 20;
    int capacity = kFirstAsk;
    for (int ask = 0; ask < kMaxAsks; ++ask) {
        std::vector<CSearchedPartitionInfo*> room(static_cast<size_t>(capacity), nullptr);
        const int answer = searcher->GetSearchedPartitionInfo(room.data(), capacity);
        if (answer <= 0)
            return 0;
        if (answer <= capacity) {
            for (int i = 0; i < answer; ++i) {
                if (room[static_cast<size_t>(i)])
                    out.push_back(room[static_cast<size_t>(i)]);
            }
            return answer;
        }
        if (answer > kMaxRecords) {
            CatchExeception::WriteLog(
                "CollectSearchedPartitions: searcher claims %d partitions, refused\n", answer);
            return 0;
        }
        capacity = answer;
    }
    CatchExeception::WriteLog(
        "CollectSearchedPartitions: partition count keeps changing, gave up\n");
    return 0;
}
