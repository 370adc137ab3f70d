// The list's sort under the standard library's debug checks (this file is
// built with _GLIBCXX_DEBUG): rows with equal keys, creation times above
// all, must form a strict weak ordering, and keep their order in both
// directions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Browser/FileListSort.h"

namespace velmora::browser {
namespace {

struct Row {
    std::string name;
    uint64_t size;
    int64_t created;
};

FileListSortKeys KeysOf(const Row* row, int) {
    FileListSortKeys keys;
    keys.name = row->name;
    keys.path = "/DCIM/" + row->name;
    keys.size = row->size;
    keys.created = row->created;
    return keys;
}

std::vector<std::string> NamesOf(const std::vector<const Row*>& rows) {
    std::vector<std::string> names;
    for (const Row* row : rows)
        names.push_back(row->name);
    return names;
}

TEST(FileListSortDebugTest, EqualKeysKeepTheirOrderInBothDirections) {
    // Enough rows for the sort to merge runs, most with one creation time.
    std::vector<Row> storage;
    for (int i = 0; i < 40; ++i)
        storage.push_back(
            {"f" + std::to_string(100 + i), static_cast<uint64_t>(i % 3), i == 7 ? 5 : 9});
    struct Case {
        int column;
        bool ascending;
    };
    const Case cases[] = {{kCreatedColumn, true}, {kCreatedColumn, false}, {kSizeColumn, true},
                          {kSizeColumn, false},   {kNameColumn, false},    {kPathColumn, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(FileListColumnIdentifier(c.column)) +
                     (c.ascending ? " ascending" : " descending"));
        std::vector<const Row*> rows;
        for (const Row& row : storage)
            rows.push_back(&row);
        ASSERT_TRUE(SortRowsByColumn(rows, c.column, c.ascending, &KeysOf));
        for (size_t i = 1; i < rows.size(); ++i) {
            const FileListSortKeys a = KeysOf(rows[i - 1], c.column);
            const FileListSortKeys b = KeysOf(rows[i], c.column);
            // Never out of order, and equal keys in their first order.
            switch (c.column) {
                case kCreatedColumn:
                    EXPECT_FALSE(ColumnKeyBefore(b.created, a.created, c.ascending));
                    if (a.created == b.created) {
                        EXPECT_LT(a.name, b.name);
                    }
                    break;
                case kSizeColumn:
                    EXPECT_FALSE(ColumnKeyBefore(b.size, a.size, c.ascending));
                    if (a.size == b.size) {
                        EXPECT_LT(a.name, b.name);
                    }
                    break;
                default:
                    EXPECT_FALSE(ColumnKeyBefore(b.name, a.name, c.ascending));
                    break;
            }
        }
    }
}

TEST(FileListSortDebugTest, EqualCreationTimesAreEquivalent) {
    for (bool ascending : {true, false}) {
        EXPECT_FALSE(ColumnKeyBefore<int64_t>(9, 9, ascending));
        EXPECT_TRUE(ColumnKeyBefore<int64_t>(5, 9, ascending) !=
                    ColumnKeyBefore<int64_t>(9, 5, ascending));
    }
    // The tick column leaves the rows alone.
    Row a{"a", 1, 1};
    Row b{"b", 2, 2};
    std::vector<const Row*> rows{&b, &a};
    EXPECT_FALSE(SortRowsByColumn(rows, kCheckBoxColumn, true, &KeysOf));
    EXPECT_EQ(NamesOf(rows), (std::vector<std::string>{"b", "a"}));
}

}  // namespace
}  // namespace velmora::browser
