// Every test process starts with the planned searcher rows installed, as the
// program has them once every file system is built: the tree, node and order
// rules hold, and no searcher can be made until a test gives it a factory.
#include <gtest/gtest.h>

#include "support/PlannedSearcherRows.h"

namespace {

class PlannedRowsEnvironment : public testing::Environment {
public:
    void SetUp() override { vk::InstallSearcherRows(velmora::test::PlannedRows()); }
};

const auto* const kPlannedRows = testing::AddGlobalTestEnvironment(new PlannedRowsEnvironment);

}  // namespace
