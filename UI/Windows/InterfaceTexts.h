// The interface language's texts for what the operations bridge writes into
// its rows (an untitled disk's name, the result trees' titles, dates). The
// bridge knows no Qt: it reads them through its text catalogue, which this
// catalogue answers from the windows' own tables.
#pragma once

#include <memory>

#include "BridgeServices.h"

namespace velmora::windows {

class InterfaceTextCatalog final : public bridge::ITextCatalog {
public:
    // The text of `key` in the loaded language (English where it has none);
    // `fallback` when no table has the key.
    std::string Text(const std::string& key, const std::string& fallback) const override;
    // Day, month's name, year and the time of day.
    std::string DateTimeText(time_t seconds) const override;
};

// Puts the catalogue above in place for the bridge; the windows do it before
// they ask the bridge for any row.
void InstallInterfaceTexts();

}  // namespace velmora::windows
