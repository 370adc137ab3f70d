// The order of the file list's rows by one column. Keys are read once per
// row, then the rows are sorted by them with a stable sort: rows whose keys
// are equal keep the order they had, in both directions, so the order is a
// strict weak ordering whatever the keys (a comparator that never answers
// "equal" is undefined behaviour for the standard sorts).
//
// Header-only so that a test can build it with the library's debug
// iterator checks on, without the rest of the program.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmora::browser {

// Columns of the list, by position; the identifiers are the table's own.
enum FileListColumn : int {
    kCheckBoxColumn = 0,
    kNameColumn = 1,
    kSizeColumn = 2,
    kPathColumn = 3,
    kCreatedColumn = 4,
    kFileListColumnCount = 5,
};

inline const char* FileListColumnIdentifier(int column) {
    static const char* const kIds[] = {"CheckBox", "Name", "Size", "Path", "Created"};
    return column >= 0 && column < kFileListColumnCount ? kIds[column] : "";
}

// Names and paths compare as plain bytes (case-sensitive, by character
// value), sizes unsigned, creation times signed.
template <class Key>
bool ColumnKeyBefore(const Key& a, const Key& b, bool ascending) {
    return ascending ? a < b : b < a;
}

// Sorts `rows` by the key `keyOf` gives each row. Only the row handles
// move; the rows themselves are not copied.
template <class Row, class KeyOf>
void StableSortRows(std::vector<Row>& rows, bool ascending, KeyOf keyOf) {
    using Key = decltype(keyOf(rows.front()));
    std::vector<std::pair<Key, Row>> keyed;
    keyed.reserve(rows.size());
    for (const Row& row : rows)
        keyed.emplace_back(keyOf(row), row);
    std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
        return ColumnKeyBefore(a.first, b.first, ascending);
    });
    for (size_t i = 0; i < keyed.size(); ++i)
        rows[i] = keyed[i].second;
}

// The keys of one row as the sort reads them.
struct FileListSortKeys {
    std::string name;
    std::string path;
    uint64_t size = 0;
    int64_t created = 0;
};

// Sorts by a column; "CheckBox" and unknown columns leave the order alone.
// Answers whether the rows were reordered.
template <class Row, class KeysOf>
bool SortRowsByColumn(std::vector<Row>& rows, int column, bool ascending, KeysOf keysOf) {
    if (rows.empty())
        return column > kCheckBoxColumn && column < kFileListColumnCount;
    switch (column) {
        case kNameColumn:
            StableSortRows(rows, ascending, [&](const Row& r) { return keysOf(r, column).name; });
            return true;
        case kSizeColumn:
            StableSortRows(rows, ascending, [&](const Row& r) { return keysOf(r, column).size; });
            return true;
        case kPathColumn:
            StableSortRows(rows, ascending, [&](const Row& r) { return keysOf(r, column).path; });
            return true;
        case kCreatedColumn:
            StableSortRows(rows, ascending,
                           [&](const Row& r) { return keysOf(r, column).created; });
            return true;
        default:
            return false;
    }
}

}  // namespace velmora::browser
