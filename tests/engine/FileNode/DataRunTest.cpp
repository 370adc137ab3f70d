#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "DataRun.h"
#include "LostRanges.h"

namespace {

using Runs = std::vector<std::pair<long long, long long>>;

Runs Collect(IDataRunList* list) {
    Runs out;
    for (const DataRun* r = list->GetFirst(); r; r = list->GetNext())
        out.emplace_back(r->start, r->length);
    return out;
}

TEST(DataRunList, MergesOnlyAContinuationOfTheLastAllocatedRun) {
    struct Case {
        const char* what;
        Runs added;
        Runs expected;
    } cases[] = {
        {"continuation", {{10, 5}, {15, 3}}, {{10, 8}}},
        {"after a sparse run", {{-1, 4}, {3, 2}}, {{-1, 4}, {3, 2}}},
        {"gap", {{10, 5}, {20, 1}}, {{10, 5}, {20, 1}}},
        {"two sparse runs stay apart", {{-1, 4}, {-1, 4}}, {{-1, 4}, {-1, 4}}},
        {"only with the last run", {{10, 5}, {30, 2}, {15, 1}}, {{10, 5}, {30, 2}, {15, 1}}},
        {"zero and negative lengths ignored", {{10, 0}, {10, 5}, {15, -2}, {15, 1}}, {{10, 6}}},
        // Unusable runs keep their length as lost runs, so every later run
        // stays at its place in the file.
        {"overlap with an earlier run lost",
         {{10, 5}, {30, 2}, {12, 4}, {8, 3}, {31, 1}, {5, 5}},
         {{10, 5}, {30, 2}, {-2, 4}, {-2, 3}, {-2, 1}, {5, 5}}},
        {"the same run twice lost", {{10, 5}, {10, 5}, {15, 1}}, {{10, 5}, {-2, 5}, {15, 1}}},
        {"run past the address space lost",
         {{0x7FFFFFFFFFFFFFF0LL, 0x20}, {3, 1}},
         {{-2, 0x20}, {3, 1}}},
        {"lost runs given by a file system", {{-2, 3}, {3, 1}}, {{-2, 3}, {3, 1}}},
    };
    for (const Case& c : cases) {
        CDataRunList list;
        for (auto [s, l] : c.added) {
            DataRun r(s, l);
            list.AddDataRun(&r);
        }
        EXPECT_EQ(Collect(&list), c.expected) << c.what;
        bool lost = false;
        for (auto [s, l] : c.expected)
            lost = lost || s == kLostRunStart;
        EXPECT_EQ(list.HasLostRun(), lost) << c.what;
        IDataRunList* copy = list.Clone();
        EXPECT_EQ(Collect(copy), c.expected) << c.what;
        copy->Release();
    }
}

TEST(DataRunList, CursorWalk) {
    IDataRunList* list = CreateDataRunList();
    EXPECT_EQ(list->GetFirst(), nullptr);
    EXPECT_TRUE(list->IsDone());
    list->AddDataRun(nullptr);
    DataRun a(1, 1), b(5, 2);
    list->AddDataRun(&a);
    list->AddDataRun(&b);
    ASSERT_NE(list->GetFirst(), nullptr);
    EXPECT_FALSE(list->IsDone());
    EXPECT_EQ(list->GetNext()->start, 5);
    EXPECT_EQ(list->GetNext(), nullptr);
    EXPECT_TRUE(list->IsDone());
    EXPECT_EQ(list->GetNext(), nullptr);
    EXPECT_EQ(list->GetFirst()->start, 1);
    EXPECT_EQ(list->IsResident(), 0);
    EXPECT_EQ(list->GetOffset(), 0);
    EXPECT_EQ(list->GetDataRunListType(), 5);
    IDataRunList* copy = list->Clone();
    list->Release();
    EXPECT_EQ(Collect(copy), (Runs{{1, 1}, {5, 2}}));
    copy->Release();
}

TEST(DataRunList, FindsTheRunHoldingAnOffset) {
    CDataRunList list;
    for (auto [s, l] : Runs{{100, 4}, {-1, 2}, {50, 3}}) {
        DataRun r(s, l);
        list.AddDataRun(&r);
    }
    EXPECT_EQ(list.GetTotalLength(), 9);
    struct Case {
        long long offset;
        long long start;  // -2: no run
        long long within;
    } cases[] = {{0, 100, 0}, {3, 100, 3}, {4, -1, 0}, {5, -1, 1},
                 {6, 50, 0},  {8, 50, 2},  {9, -2, 0}, {-1, -2, 0}};
    for (const Case& c : cases) {
        long long within = -7;
        const DataRun* r = list.FindRunByOffset(c.offset, &within);
        if (c.start == -2) {
            EXPECT_EQ(r, nullptr) << c.offset;
        } else {
            ASSERT_NE(r, nullptr) << c.offset;
            EXPECT_EQ(r->start, c.start) << c.offset;
            EXPECT_EQ(within, c.within) << c.offset;
        }
    }
}

}  // namespace

namespace {

TEST(LostRanges, MergesTouchingAndOverlappingRanges) {
    using List = std::vector<LostRange>;
    struct Case {
        const char* what;
        Runs added;  // offset, length
        List expected;
    } cases[] = {
        {"apart, kept in order", {{100, 10}, {0, 5}}, {{0, 5}, {100, 10}}},
        {"touching", {{0, 5}, {5, 5}}, {{0, 10}}},
        {"overlapping several", {{0, 5}, {10, 5}, {20, 5}, {3, 19}}, {{0, 25}}},
        {"inside another", {{0, 100}, {10, 5}}, {{0, 100}}},
        {"empty and negative ignored", {{5, 0}, {-3, 10}, {7, -1}}, {}},
    };
    for (const Case& c : cases) {
        CLostRanges ranges;
        for (auto [offset, length] : c.added)
            ranges.Add(offset, length);
        EXPECT_EQ(ranges.Ranges(), c.expected) << c.what;
        long long total = 0;
        for (const LostRange& r : c.expected)
            total += r.length;
        EXPECT_EQ(ranges.TotalBytes(), total) << c.what;
    }
}

TEST(LostRanges, StaysBoundedOnADyingDisk) {
    // Every other sector lost: the list stops growing and still covers every
    // lost byte.
    CLostRanges ranges;
    const long long count = 3 * static_cast<long long>(CLostRanges::kMaxRanges);
    for (long long i = 0; i < count; ++i)
        ranges.Add(i * 1024, 512);
    EXPECT_LE(ranges.Ranges().size(), CLostRanges::kMaxRanges);
    for (long long i = 0; i < count; ++i) {
        const long long at = i * 1024;
        bool covered = false;
        for (const LostRange& r : ranges.Ranges())
            covered = covered || (r.offset <= at && at + 512 <= r.offset + r.length);
        ASSERT_TRUE(covered) << at;
    }
}

}  // namespace
