// Which volume lives in a container whose physical store is a given
// partition, for file systems whose volumes are containers of volumes. The
// file system's reader answers this; until one is linked in nothing is known
// and callers keep the names they already have.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

struct ContainerVolume {
    std::string name;                       // the container's first volume's name
    std::string device;                     // that volume's device identifier
    std::vector<std::string> volumes = {};  // every volume of the container, in order
};

class IContainerListing {
public:
    virtual ~IContainerListing() = default;
    // physicalStore: the kernel name of the partition holding the container;
    // compared without regard to case.
    virtual std::optional<ContainerVolume> Find(std::string_view physicalStore) const = 0;
};

// Knows no containers.
class NoContainerListing : public IContainerListing {
public:
    std::optional<ContainerVolume> Find(std::string_view) const override { return std::nullopt; }
};

// A listing filled by its owner (a file system's reader after reading each
// store, or a test).
class FixedContainerListing : public IContainerListing {
public:
    void Add(std::string_view physicalStore, ContainerVolume volume);
    std::optional<ContainerVolume> Find(std::string_view physicalStore) const override;

private:
    std::map<std::string, ContainerVolume> byStore_;  // lower-cased store name
};

// The listing enumeration uses when it is handed none. The file system that
// reads containers installs a factory at start-up (platform code cannot
// depend on the engine); before that, or without one, the listing knows
// nothing. devFolder is where the device nodes are.
using ContainerListingFactory =
    std::shared_ptr<const IContainerListing> (*)(const std::string& devFolder);
void InstallContainerListingFactory(ContainerListingFactory factory);
std::shared_ptr<const IContainerListing> MakeContainerListing(const std::string& devFolder);

}  // namespace velmora::platform
