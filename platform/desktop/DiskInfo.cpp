#include "platform/desktop/DiskInfo.h"

#include <nlohmann/json.hpp>

#include <cctype>

namespace velmora::platform {

namespace {

using nlohmann::json;

const std::vector<std::string> kColumns = {
    "-J", "-b", "-o",
    "NAME,KNAME,PKNAME,PATH,SIZE,TYPE,RM,RO,TRAN,MODEL,LABEL,FSTYPE,MOUNTPOINT,"
    "FSAVAIL,PARTTYPENAME"};

std::string Text(const json& entry, const char* key) {
    auto it = entry.find(key);
    if (it == entry.end() || !it->is_string())
        return {};
    return it->get<std::string>();
}

// Older lsblk writes numbers and flags as strings ("1", "0", "512").
bool Flag(const json& entry, const char* key) {
    auto it = entry.find(key);
    if (it == entry.end())
        return false;
    if (it->is_boolean())
        return it->get<bool>();
    if (it->is_number_integer())
        return it->get<int64_t>() != 0;
    return it->is_string() && it->get<std::string>() == "1";
}

uint64_t Number(const json& entry, const char* key) {
    auto it = entry.find(key);
    if (it == entry.end())
        return 0;
    if (it->is_number_unsigned())
        return it->get<uint64_t>();
    if (it->is_number_integer())
        return it->get<int64_t>() > 0 ? static_cast<uint64_t>(it->get<int64_t>()) : 0;
    if (it->is_string()) {
        const std::string s = it->get<std::string>();
        if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 19)
            return 0;
        return std::stoull(s);
    }
    return 0;
}

void Collect(const json& list, const std::string& parent, int depth,
             std::vector<BlockDeviceInfo>* out) {
    if (!list.is_array() || depth > 8)
        return;
    for (const auto& entry : list) {
        if (!entry.is_object())
            continue;
        BlockDeviceInfo info;
        info.name = Text(entry, "kname");
        if (info.name.empty())
            info.name = Text(entry, "name");
        if (info.name.empty())
            continue;
        info.parent = Text(entry, "pkname");
        if (info.parent.empty())
            info.parent = parent;
        info.path = Text(entry, "path");
        if (info.path.empty())
            info.path = "/dev/" + info.name;
        info.type = Text(entry, "type");
        info.sizeBytes = Number(entry, "size");
        info.removable = Flag(entry, "rm");
        info.readOnly = Flag(entry, "ro");
        info.transport = Text(entry, "tran");
        info.model = Text(entry, "model");
        info.label = Text(entry, "label");
        info.fsType = Text(entry, "fstype");
        info.mountPoint = Text(entry, "mountpoint");
        info.freeBytes = Number(entry, "fsavail");
        info.partTypeName = Text(entry, "parttypename");
        out->push_back(info);
        if (auto children = entry.find("children"); children != entry.end())
            Collect(*children, info.name, depth + 1, out);
    }
}

}  // namespace

std::vector<BlockDeviceInfo> ParseLsblkJson(const std::string& text) {
    std::vector<BlockDeviceInfo> devices;
    json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object())
        return devices;
    if (auto list = doc.find("blockdevices"); list != doc.end())
        Collect(*list, "", 0, &devices);
    return devices;
}

std::vector<BlockDeviceInfo> ListBlockDevices(CommandRunner& runner) {
    std::vector<std::string> argv = {"lsblk"};
    argv.insert(argv.end(), kColumns.begin(), kColumns.end());
    CommandResult result = runner.Run(argv, {std::chrono::seconds(30)});
    if (!result.Succeeded())
        return {};
    return ParseLsblkJson(result.output);
}

bool IsPlainDeviceName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '-' || name[0] == '.')
        return false;
    for (unsigned char c : name) {
        if (!(std::isalnum(c) || c == '_' || c == '-' || c == '.' || c == ':' || c == '!'))
            return false;
    }
    return true;
}

std::optional<BlockDeviceInfo> DescribeBlockDevice(CommandRunner& runner, const std::string& name) {
    if (!IsPlainDeviceName(name))
        return std::nullopt;
    std::vector<std::string> argv = {"lsblk", "--nodeps"};
    argv.insert(argv.end(), kColumns.begin(), kColumns.end());
    argv.push_back("--");
    argv.push_back("/dev/" + name);
    CommandResult result = runner.Run(argv, {std::chrono::seconds(30)});
    if (!result.Succeeded())
        return std::nullopt;
    for (auto& device : ParseLsblkJson(result.output)) {
        if (device.name == name)
            return device;
    }
    return std::nullopt;
}

}  // namespace velmora::platform
