// Fake sysfs trees for tests of code that reads block devices: either a
// shipped tree copied into a private folder, or one built entry by entry.
// Header-only so every test executable (and fuzz target) can use it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::test {

namespace fake_sysfs_detail {
inline void Write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::trunc);
    out << text << '\n';
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}
}  // namespace fake_sysfs_detail

// Copies a shipped tree to `to` and turns every "<name>.link" file into a
// symbolic link <name> pointing at `to`/<the file's first line> (git keeps
// no links to absolute places, and the real ones are relative to /sys).
inline void MaterialiseSysfsTree(const std::string& from, const std::string& to) {
    namespace fs = std::filesystem;
    fs::create_directories(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    std::vector<fs::path> links;
    for (const auto& ent : fs::recursive_directory_iterator(to))
        if (ent.is_regular_file() && ent.path().extension() == ".link")
            links.push_back(ent.path());
    for (const auto& link : links) {
        std::ifstream in(link);
        std::string target;
        std::getline(in, target);
        fs::path absolute = fs::path(to) / target;
        fs::create_directories(absolute);
        fs::path name = link;
        name.replace_extension();
        fs::remove(link);
        fs::create_directory_symlink(absolute, name);
    }
}

// What a built entry carries; sizes and starts in 512-byte units as sysfs
// gives them.
struct FakeBlockEntry {
    std::string name;  // "sdc"
    std::string dev;   // "8:32"
    uint64_t sectors = 0;
    bool readOnly = false;
    bool removable = false;
    uint32_t logicalBlockSize = 512;
    std::string devicePath;   // under the root, e.g. "sys/devices/.../usb1/..."; empty: none
    std::string backingFile;  // loop devices
};

// Builds <root>/sys/block/... with disks and partition subfolders.
class FakeSysfsTree {
public:
    explicit FakeSysfsTree(std::string root) : root_(std::move(root)) {
        std::filesystem::create_directories(Block());
    }
    const std::string& root() const { return root_; }

    void AddDisk(const FakeBlockEntry& e) {
        using fake_sysfs_detail::Write;
        auto dir = Block() / e.name;
        Write(dir / "dev", e.dev);
        Write(dir / "size", std::to_string(e.sectors));
        Write(dir / "ro", e.readOnly ? "1" : "0");
        Write(dir / "removable", e.removable ? "1" : "0");
        Write(dir / "queue/logical_block_size", std::to_string(e.logicalBlockSize));
        if (!e.backingFile.empty())
            Write(dir / "loop/backing_file", e.backingFile);
        if (!e.devicePath.empty()) {
            auto target = std::filesystem::path(root_) / e.devicePath;
            std::filesystem::create_directories(target);
            std::filesystem::create_directory_symlink(target, dir / "device");
        }
    }

    void AddPartition(const std::string& disk, const std::string& name, const std::string& dev,
                      int number, uint64_t startSectors, uint64_t sectors, bool readOnly = false) {
        using fake_sysfs_detail::Write;
        auto dir = Block() / disk / name;
        Write(dir / "partition", std::to_string(number));
        Write(dir / "start", std::to_string(startSectors));
        Write(dir / "size", std::to_string(sectors));
        Write(dir / "dev", dev);
        Write(dir / "ro", readOnly ? "1" : "0");
    }

    // Writes (or overwrites) one attribute, e.g. ("sdc/sdc1", "start", "x").
    void SetAttribute(const std::string& entry, const std::string& attribute,
                      const std::string& value) {
        fake_sysfs_detail::Write(Block() / entry / attribute, value);
    }

    void Remove(const std::string& entryOrAttribute) {
        std::filesystem::remove_all(Block() / entryOrAttribute);
    }

private:
    std::filesystem::path Block() const { return std::filesystem::path(root_) / "sys/block"; }
    std::string root_;
};

}  // namespace velmora::test
