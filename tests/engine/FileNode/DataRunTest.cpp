#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "DataRun.h"

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
        {"overlap with an earlier run ignored",
         {{10, 5}, {30, 2}, {12, 4}, {8, 3}, {31, 1}, {5, 5}},
         {{10, 5}, {30, 2}, {5, 5}}},
        {"the same run twice ignored", {{10, 5}, {10, 5}}, {{10, 5}}},
        {"run past the address space ignored", {{0x7FFFFFFFFFFFFFF0LL, 0x20}}, {}},
    };
    for (const Case& c : cases) {
        CDataRunList list;
        for (auto [s, l] : c.added) {
            DataRun r(s, l);
            list.AddDataRun(&r);
        }
        EXPECT_EQ(Collect(&list), c.expected) << c.what;
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
