// Which APFS volume lives in a container whose physical store is a given
// partition. The project's APFS reader answers this; until it is linked in
// nothing is known and callers keep the names they already have.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

struct ApfsVolumeName {
    std::string name;                       // the container's first volume's name
    std::string device;                     // that volume's device identifier
    std::vector<std::string> volumes = {};  // every volume of the container, in order
};

class IApfsListing {
public:
    virtual ~IApfsListing() = default;
    // physicalStore: the kernel name of the partition holding the container;
    // compared without regard to case.
    virtual std::optional<ApfsVolumeName> Find(std::string_view physicalStore) const = 0;
};

// Knows no containers.
class NoApfsListing : public IApfsListing {
public:
    std::optional<ApfsVolumeName> Find(std::string_view) const override { return std::nullopt; }
};

// A listing filled by its owner (the APFS reader after reading each store,
// or a test).
class FixedApfsListing : public IApfsListing {
public:
    void Add(std::string_view physicalStore, ApfsVolumeName volume);
    std::optional<ApfsVolumeName> Find(std::string_view physicalStore) const override;

private:
    std::map<std::string, ApfsVolumeName> byStore_;  // lower-cased store name
};

// The listing enumeration uses when it is handed none. The engine installs
// a factory at start-up that reads the stores with its APFS reader (platform
// code cannot depend on the engine); before that, or without one, the
// listing knows nothing. devFolder is where the device nodes are.
using ApfsListingFactory = std::shared_ptr<const IApfsListing> (*)(const std::string& devFolder);
void InstallApfsListingFactory(ApfsListingFactory factory);
std::shared_ptr<const IApfsListing> MakeApfsListing(const std::string& devFolder);

}  // namespace velmora::platform
