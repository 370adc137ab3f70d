#include "platform/ApfsListing.h"

#include <cctype>

namespace velmora::platform {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

void FixedApfsListing::Add(std::string_view physicalStore, ApfsVolumeName volume) {
    // The first volume found for a store is the one named; later ones do
    // not replace it.
    byStore_.emplace(Lower(physicalStore), std::move(volume));
}

std::optional<ApfsVolumeName> FixedApfsListing::Find(std::string_view physicalStore) const {
    auto it = byStore_.find(Lower(physicalStore));
    if (it == byStore_.end())
        return std::nullopt;
    return it->second;
}

}  // namespace velmora::platform
