#include "platform/ApfsListing.h"

#include <atomic>
#include <cctype>

namespace velmora::platform {
namespace {

std::atomic<ApfsListingFactory> g_factory{nullptr};

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

void InstallApfsListingFactory(ApfsListingFactory factory) {
    g_factory.store(factory);
}

std::shared_ptr<const IApfsListing> MakeApfsListing(const std::string& devFolder) {
    if (ApfsListingFactory factory = g_factory.load()) {
        if (auto listing = factory(devFolder))
            return listing;
    }
    return std::make_shared<NoApfsListing>();
}

}  // namespace velmora::platform
