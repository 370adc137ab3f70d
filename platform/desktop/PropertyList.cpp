#include "platform/desktop/PropertyList.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/desktop/InvokingUser.h"

namespace velmora::platform {

namespace {

constexpr int kMaxDepth = 64;
constexpr size_t kMaxFileBytes = 64u << 20;

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::optional<PlistValue> FromNode(plist_t node, int depth) {
    if (!node || depth > kMaxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t v = 0;
            plist_get_bool_val(node, &v);
            return PlistValue(v != 0);
        }
        case PLIST_UINT: {
            uint64_t v = 0;
            plist_get_uint_val(node, &v);
            return PlistValue(static_cast<int64_t>(v));
        }
        case PLIST_REAL: {
            double v = 0;
            plist_get_real_val(node, &v);
            return PlistValue(v);
        }
        case PLIST_STRING: {
            char* v = nullptr;
            plist_get_string_val(node, &v);
            std::string text = v ? v : "";
            std::free(v);
            return PlistValue(std::move(text));
        }
        case PLIST_DATA: {
            char* v = nullptr;
            uint64_t length = 0;
            plist_get_data_val(node, &v, &length);
            PlistValue::Data data(v, v + (v ? length : 0));
            std::free(v);
            return PlistValue(std::move(data));
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            return PlistValue(PlistDate{sec + usec / 1e6});
        }
        case PLIST_ARRAY: {
            PlistValue::Array items;
            uint32_t n = plist_array_get_size(node);
            for (uint32_t i = 0; i < n; ++i) {
                auto item = FromNode(plist_array_get_item(node, i), depth + 1);
                if (!item)
                    return std::nullopt;
                items.push_back(std::move(*item));
            }
            return PlistValue(std::move(items));
        }
        case PLIST_DICT: {
            PlistValue::Dict dict;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            bool ok = true;
            while (it) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, it, &key, &item);
                if (!item) {
                    std::free(key);
                    break;
                }
                auto value = FromNode(item, depth + 1);
                if (key && value)
                    dict[key] = std::move(*value);
                else
                    ok = false;
                std::free(key);
                if (!ok)
                    break;
            }
            std::free(it);
            if (!ok)
                return std::nullopt;
            return PlistValue(std::move(dict));
        }
        default:
            return std::nullopt;
    }
}

plist_t ToNode(const PlistValue& value) {
    struct Visitor {
        plist_t operator()(std::monostate) const { return plist_new_string(""); }
        plist_t operator()(bool v) const { return plist_new_bool(v ? 1 : 0); }
        plist_t operator()(int64_t v) const { return plist_new_uint(static_cast<uint64_t>(v)); }
        plist_t operator()(double v) const { return plist_new_real(v); }
        plist_t operator()(const std::string& v) const { return plist_new_string(v.c_str()); }
        plist_t operator()(const PlistValue::Data& v) const {
            return plist_new_data(reinterpret_cast<const char*>(v.data()), v.size());
        }
        plist_t operator()(const PlistDate& v) const {
            auto sec = static_cast<int32_t>(v.sinceReferenceDate);
            auto usec = static_cast<int32_t>((v.sinceReferenceDate - sec) * 1e6);
            return plist_new_date(sec, usec);
        }
        plist_t operator()(const PlistValue::Array& v) const {
            plist_t array = plist_new_array();
            for (const auto& item : v)
                plist_array_append_item(array, ToNode(item));
            return array;
        }
        plist_t operator()(const PlistValue::Dict& v) const {
            plist_t dict = plist_new_dict();
            for (const auto& [key, item] : v)
                plist_dict_set_item(dict, key.c_str(), ToNode(item));
            return dict;
        }
    };
    return std::visit(Visitor{}, value.storage());
}

}  // namespace

const PlistValue* PlistValue::Find(const std::string& key) const {
    const Dict* dict = As<Dict>();
    if (!dict)
        return nullptr;
    auto it = dict->find(key);
    return it == dict->end() ? nullptr : &it->second;
}

std::optional<PlistValue> ParsePlist(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > kMaxFileBytes)
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    PlistPtr owner(root);
    return FromNode(root, 0);
}

std::optional<PlistValue> ReadPlistFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        bytes.append(buf, static_cast<size_t>(in.gcount()));
        if (bytes.size() > kMaxFileBytes)
            return std::nullopt;
    }
    return ParsePlist(bytes);
}

std::string ToXmlPlist(const PlistValue& value) {
    PlistPtr root(ToNode(value));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    std::string text(xml ? xml : "", xml ? length : 0);
    plist_to_xml_free(xml);
    return text;
}

bool WritePlistFile(const std::string& path, const PlistValue& value) {
    return WriteFileAtomically(path, ToXmlPlist(value));
}

}  // namespace velmora::platform
