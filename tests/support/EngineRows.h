// The engine's own rows, as the program installs them, for the life of a
// test that links velmora_engine; the rows in place before come back after.
#pragma once

#include <vector>

#include "EngineFactories.h"

namespace velmora::test {

class ScopedEngineRows {
public:
    ScopedEngineRows() : saved_(vk::InstalledSearcherRows()) { InstallEngineFactories(); }
    ~ScopedEngineRows() { vk::InstallSearcherRows(std::move(saved_)); }
    ScopedEngineRows(const ScopedEngineRows&) = delete;
    ScopedEngineRows& operator=(const ScopedEngineRows&) = delete;

private:
    std::vector<SearcherRow> saved_;
};

}  // namespace velmora::test
