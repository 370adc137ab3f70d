#include <plist/plist.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>

#include "DmgImageCheck.h"
#include "VKUIController.h"
#include "VKUIDeviceData.h"

namespace {

// Settings files are a few lines; anything larger is not ours.
constexpr std::streamsize kMaxConfigBytes = 1 << 20;

std::mutex& ConfigLock() {
    static std::mutex configLock;
    return configLock;
}

// A value's truth as a property list's readers take it: booleans and
// numbers by value, strings by their first character (Y, y, T, t or a
// digit other than 0).
bool BoolValue(plist_t node, bool* value) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            *value = b != 0;
            return true;
        }
        case PLIST_UINT: {
            uint64_t n = 0;
            plist_get_uint_val(node, &n);
            *value = n != 0;
            return true;
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            *value = d != 0;
            return true;
        }
        case PLIST_STRING: {
            char* text = nullptr;
            plist_get_string_val(node, &text);
            const char c = text != nullptr ? text[0] : '\0';
            std::free(text);
            *value = c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

void VKUIController::AppendDeviceRows(VKUIDeviceData& catalogue,
                                      std::vector<DiskVolumeNodePtr>& rows) {
    std::vector<_DiskVolumeData> disks;
    catalogue.GetAllDeviceInfo(disks);
    for (const _DiskVolumeData& disk : disks) {
        auto row = std::make_shared<DiskVolumeNodeData>(disk);
        if (!disk.volumes.empty()) {
            std::vector<DiskVolumeNodePtr> volumes;
            for (const _DiskVolumeData& volume : disk.volumes)
                volumes.push_back(std::make_shared<DiskVolumeNodeData>(volume));
            row->setSubNode(std::move(volumes));
        }
        rows.push_back(std::move(row));
    }
}

void VKUIController::GetDeviceInfoToArray(std::vector<DiskVolumeNodePtr>* array) {
    if (array != nullptr)
        AppendDeviceRows(VKUIDeviceData::instance(), *array);
}

int VKUIController::VKOpenDmgFile(const std::string& path) {
    CDMGDeviceInfoStruct record;
    if (!InitDmgRecord(path.c_str(), record) || ParseDmgFile(path.c_str(), record) == 0)
        return 0;
    return VKUIDeviceData::instance().VKOpenDmgFileImp(path.c_str(), record);
}

int VKUIController::VKOpenEdiFile(const std::string& path) {
    return VKUIDeviceData::instance().VKOpenEdiFileImp(path.c_str());
}

std::map<std::string, bool> VKUIController::WQGetConfigDictionary(const std::string& folder) {
    std::map<std::string, bool> values;
    const std::string path = folder + "/.Velmorafiles/config.plist";
    std::string bytes;
    {
        std::lock_guard<std::mutex> hold(ConfigLock());
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return values;
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (bytes.empty() || static_cast<std::streamsize>(bytes.size()) > kMaxConfigBytes)
        return values;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    std::unique_ptr<void, void (*)(plist_t)> owned(root, plist_free);
    if (root == nullptr || plist_get_node_type(root) != PLIST_DICT)
        return values;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(root, &it);
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(root, it, &key, &item);
        if (key == nullptr)
            break;
        bool value = false;
        if (item != nullptr && BoolValue(item, &value))
            values[key] = value;
        std::free(key);
    }
    std::free(it);
    return values;
}

int VKUIController::WQGetCompleteProtect(const std::string& folder) {
    const auto values = WQGetConfigDictionary(folder);
    auto it = values.find("WQKeyCompleteProtect");
    return it != values.end() && it->second ? 1 : 0;
}

int VKUIController::WQGetQuickProtect(const std::string& folder) {
    const auto values = WQGetConfigDictionary(folder);
    auto it = values.find("WQKeyQuickProtect");
    return it != values.end() && it->second ? 1 : 0;
}
