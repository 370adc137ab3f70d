// Random sequences of link, tick and show operations on a small pool of
// nodes, and random run lists: nothing may crash, loop or leave a list
// that disagrees with its links.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "DataRun.h"
#include "support/TestNode.h"

namespace {

constexpr int kPool = 12;

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

void CheckNode(CFileNode* n) {
    unsigned shown = 0;
    int steps = 0;
    const CFileNode* prev = nullptr;
    for (CFileNode* c = n->GetFirstChild(); c; c = c->GetNextNode()) {
        Check(++steps <= kPool);
        Check(c->GetParent() == n);
        if (c->IsNodeShow())
            ++shown;
        prev = c;
    }
    (void)prev;
    Check(shown == n->GetShownChildrenCount());
    steps = 0;
    for (const CFileNode* p = n->GetParent(); p; p = p->GetParent())
        Check(++steps <= kPool);
}

void FuzzTree(const uint8_t* data, size_t size) {
    std::vector<std::unique_ptr<TestNode>> pool;
    for (int i = 0; i < kPool; ++i)
        pool.push_back(std::make_unique<TestNode>(i, -1, "n", i % 3 == 0));
    for (size_t i = 0; i + 2 < size; i += 3) {
        TestNode* a = pool[data[i] % kPool].get();
        TestNode* b = pool[data[i + 1] % kPool].get();
        switch (data[i + 2] % 8) {
            case 0:
                a->AddChild(b);
                break;
            case 1:
                a->AddNext(b);
                break;
            case 2:
                a->RemoveChild(b);
                break;
            case 3:
                a->SetCheck(static_cast<_tagCheckedStatus>(data[i + 1] % 4));
                break;
            case 4:
                a->ShowNode(data[i + 1] & 1);
                break;
            case 5: {
                // Free a node and put a fresh one in its place.
                const int k = data[i] % kPool;
                pool[k] = std::make_unique<TestNode>(k, -1, "n", k % 3 == 0);
                break;
            }
            case 6:
                Check(CFileNode::IsLoopedToSelf(a, b) <= 1);
                break;
            default:
                (void)(*a == *b);
                break;
        }
        for (auto& n : pool)
            CheckNode(n.get());
    }
}

void FuzzRuns(const uint8_t* data, size_t size) {
    CDataRunList list;
    for (size_t i = 0; i + 4 <= size; i += 4) {
        DataRun run(static_cast<int8_t>(data[i]) * 16 + data[i + 1] % 16,
                    static_cast<int8_t>(data[i + 2]) % 24);
        if (data[i + 3] & 1)
            run.start = -1;
        list.AddDataRun(&run);
    }
    // No allocated unit belongs to two runs, and the offset lookup agrees
    // with a walk over the runs.
    std::vector<std::pair<long long, long long>> seen;
    long long offset = 0;
    size_t count = 0;
    for (const DataRun* r = list.GetFirst(); r; r = list.GetNext()) {
        Check(++count <= list.GetCount());
        Check(r->length > 0);
        if (r->start >= 0) {
            for (auto [s, l] : seen)
                Check(r->start + r->length <= s || s + l <= r->start);
            seen.emplace_back(r->start, r->length);
        }
        long long within = -1;
        Check(list.FindRunByOffset(offset, &within) == r && within == 0);
        Check(list.FindRunByOffset(offset + r->length - 1, &within) == r &&
              within == r->length - 1);
        offset += r->length;
    }
    Check(list.IsDone());
    Check(offset == list.GetTotalLength());
    Check(list.FindRunByOffset(offset) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    if (data[0] & 1)
        FuzzRuns(data + 1, size - 1);
    else
        FuzzTree(data + 1, size - 1);
    return 0;
}
