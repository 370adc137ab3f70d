#include "platform/ContainerListing.h"

#include <atomic>
#include <cctype>

namespace velmora::platform {
namespace {

std::atomic<ContainerListingFactory> g_factory{nullptr};

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

void FixedContainerListing::Add(std::string_view physicalStore, ContainerVolume volume) {
    // The first volume found for a store is the one named; later ones do
    // not replace it.
    byStore_.emplace(Lower(physicalStore), std::move(volume));
}

std::optional<ContainerVolume> FixedContainerListing::Find(std::string_view physicalStore) const {
    auto it = byStore_.find(Lower(physicalStore));
    if (it == byStore_.end())
        return std::nullopt;
    return it->second;
}

void InstallContainerListingFactory(ContainerListingFactory factory) {
    g_factory.store(factory);
}

std::shared_ptr<const IContainerListing> MakeContainerListing(const std::string& devFolder) {
    if (ContainerListingFactory factory = g_factory.load()) {
        if (auto listing = factory(devFolder))
            return listing;
    }
    return std::make_shared<NoContainerListing>();
}

}  // namespace velmora::platform
