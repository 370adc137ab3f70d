#include "platform/MountInfo.h"
#include "platform/VolumeLabel.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <charconv>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace velmora::platform {
namespace {

// mountinfo is a few hundred KiB on a busy machine; more is not mountinfo.
constexpr std::streamsize kMaxMountInfoBytes = 16 << 20;

std::string Unescape(std::string_view text) {
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && text.size() - i >= 4 && octal(text[i + 1]) && octal(text[i + 2]) &&
            octal(text[i + 3])) {
            int value = (text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');
            if (value <= 0xff) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> SplitSpaces(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t pos = 0;
    while (pos <= line.size()) {
        size_t next = line.find(' ', pos);
        if (next == std::string_view::npos)
            next = line.size();
        fields.push_back(line.substr(pos, next - pos));
        pos = next + 1;
    }
    return fields;
}

std::optional<MountEntry> ParseLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    auto f = SplitSpaces(line);
    if (f.size() < 8)
        return std::nullopt;
    MountEntry e;
    if (!ParseNumber(f[0], e.mountId) || !ParseNumber(f[1], e.parentId))
        return std::nullopt;
    size_t colon = f[2].find(':');
    if (colon == std::string_view::npos || !ParseNumber(f[2].substr(0, colon), e.major) ||
        !ParseNumber(f[2].substr(colon + 1), e.minor) || e.major > 0xfff || e.minor > 0xfffff)
        return std::nullopt;
    e.deviceId = makedev(e.major, e.minor);
    e.root = Unescape(f[3]);
    e.mountPoint = Unescape(f[4]);
    e.options = std::string(f[5]);
    size_t sep = 6;
    while (sep < f.size() && f[sep] != "-")
        ++sep;
    if (sep + 1 >= f.size())
        return std::nullopt;
    e.fsType = Unescape(f[sep + 1]);
    if (sep + 2 < f.size())
        e.source = Unescape(f[sep + 2]);
    if (sep + 3 < f.size())
        e.superOptions = std::string(f[sep + 3]);
    if (e.mountPoint.empty() || e.fsType.empty())
        return std::nullopt;
    return e;
}

bool SameFile(const std::string& a, std::string_view b) {
    if (a.empty() || a[0] != '/' || b.empty())
        return false;
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) != 0 || stat(std::string(b).c_str(), &sb) != 0)
        return false;
    if (S_ISBLK(sa.st_mode) && S_ISBLK(sb.st_mode))
        return sa.st_rdev == sb.st_rdev;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Among several mounts of one file system, the one showing all of it.
std::optional<MountEntry> Best(const std::vector<const MountEntry*>& found) {
    if (found.empty())
        return std::nullopt;
    for (const MountEntry* e : found)
        if (e->root == "/")
            return *e;
    return *found.front();
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> entries;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        if (auto e = ParseLine(text.substr(pos, end - pos)))
            entries.push_back(std::move(*e));
        pos = end + 1;
    }
    return entries;
}

MountTable::MountTable(std::string mountInfoPath) : path_(std::move(mountInfoPath)) {
    Reload();
}

MountTable MountTable::FromText(std::string_view text) {
    MountTable table{std::string()};
    table.entries_ = ParseMountInfo(text);
    return table;
}

bool MountTable::Reload() {
    entries_.clear();
    if (path_.empty())
        return false;
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        return false;
    // procfs reports a size of 0, so read until the end instead of asking.
    std::string text;
    char chunk[65536];
    while (in && static_cast<std::streamsize>(text.size()) < kMaxMountInfoBytes) {
        in.read(chunk, sizeof chunk);
        text.append(chunk, static_cast<size_t>(in.gcount()));
    }
    if (in.bad())
        return false;
    entries_ = ParseMountInfo(text);
    return true;
}

std::optional<MountEntry> MountTable::FindByDeviceId(dev_t deviceId) const {
    std::vector<const MountEntry*> found;
    // 0:N numbers are anonymous (FUSE, tmpfs, btrfs subvolumes): they never
    // name a block device.
    if (major(deviceId) == 0)
        return std::nullopt;
    for (const auto& e : entries_)
        if (e.deviceId == deviceId)
            found.push_back(&e);
    return Best(found);
}

std::optional<MountEntry> MountTable::FindBySource(std::string_view nodePath) const {
    // Sources such as "tmpfs", "proc" or "none" name no file.
    if (nodePath.empty() || nodePath[0] != '/')
        return std::nullopt;
    std::vector<const MountEntry*> found;
    for (const auto& e : entries_)
        if (e.source == nodePath)
            found.push_back(&e);
    if (found.empty())
        for (const auto& e : entries_)
            if (SameFile(e.source, nodePath))
                found.push_back(&e);
    return Best(found);
}

std::optional<MountEntry> MountTable::FindDevice(dev_t deviceId, std::string_view nodePath) const {
    if (auto e = FindByDeviceId(deviceId))
        return e;
    return FindBySource(nodePath);
}

std::optional<MountEntry> MountTable::FindContaining(std::string_view path) const {
    std::string target(path);
    if (char* resolved = realpath(target.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    const MountEntry* best = nullptr;
    for (const auto& e : entries_) {
        const std::string& mp = e.mountPoint;
        bool inside = target == mp || mp == "/" ||
                      (target.size() > mp.size() && target.compare(0, mp.size(), mp) == 0 &&
                       target[mp.size()] == '/');
        // Later lines are mounted on top of earlier ones at the same place.
        if (inside && (!best || mp.size() >= best->mountPoint.size()))
            best = &e;
    }
    if (!best)
        return std::nullopt;
    return *best;
}

std::string VolumeDescriber::MountPoint(dev_t deviceId, std::string_view nodePath) const {
    auto e = mounts_.FindDevice(deviceId, nodePath);
    return e ? e->mountPoint : std::string();
}

std::string VolumeDescriber::FsType(dev_t deviceId, std::string_view nodePath) const {
    auto e = mounts_.FindDevice(deviceId, nodePath);
    return e ? e->fsType : std::string();
}

std::string VolumeDescriber::VolumeName(std::string_view label, std::string_view bsdName,
                                        dev_t deviceId, std::string_view nodePath) const {
    if (!label.empty())
        return std::string(label);
    // A file system whose recogniser reads no label (exFAT) still has one.
    if (std::string probed = ProbeVolumeLabel(nodePath); !probed.empty())
        return probed;
    std::string mp = MountPoint(deviceId, nodePath);
    while (mp.size() > 1 && mp.back() == '/')
        mp.pop_back();
    size_t slash = mp.rfind('/');
    std::string last = slash == std::string::npos ? mp : mp.substr(slash + 1);
    if (!last.empty())
        return last;
    return std::string(bsdName);
}

}  // namespace velmora::platform
