#include "platform/desktop/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/desktop/InvokingUser.h"

namespace velmora::platform {

namespace {

// libplist parses and frees recursively and expands every reference of a
// binary list anew: deep nesting overflows the stack and shared references
// multiply. Files of ours nest a few levels and hold a few thousand values.
constexpr int kMaxDepth = 64;
constexpr uint64_t kMaxNodes = 1u << 20;
constexpr size_t kMaxFileBytes = 8u << 20;

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
            uint64_t length = 0;
            const char* v = plist_get_string_ptr(node, &length);
            return PlistValue(v ? std::string(v, length) : std::string());
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
            // The format keeps whole seconds in 32 bits: a date beyond them
            // (or no number at all) is held at the nearest one it can keep,
            // never converted out of range.
            double when = v.sinceReferenceDate;
            if (!(when == when))
                when = 0;
            when = std::clamp(when, double{INT32_MIN}, double{INT32_MAX});
            auto sec = static_cast<int32_t>(when);
            auto usec = static_cast<int32_t>((when - sec) * 1e6);
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

bool NameAt(const std::string& text, size_t at, const char* name) {
    const size_t n = std::strlen(name);
    if (text.compare(at, n, name) != 0 || at + n >= text.size())
        return false;
    const char next = text[at + n];
    return next == '>' || next == '/' || std::isspace(static_cast<unsigned char>(next));
}

// No container nested deeper than kMaxDepth. Conservative: a tag inside a
// comment counts too, which can only refuse, never let through.
bool XmlNestingWithin(const std::string& text) {
    // A NUL inside a string or key makes libplist abort; XML allows none,
    // neither as a byte nor as a character reference.
    if (text.find('\0') != std::string::npos)
        return false;
    for (size_t i = text.find("&#"); i != std::string::npos; i = text.find("&#", i + 2)) {
        size_t k = i + 2;
        const bool hex = k < text.size() && (text[k] == 'x' || text[k] == 'X');
        if (hex)
            ++k;
        bool nonZero = false;
        for (; k < text.size() && std::isxdigit(static_cast<unsigned char>(text[k])); ++k) {
            if (text[k] != '0')
                nonZero = true;
        }
        if (!nonZero)
            return false;
    }
    int depth = 0;
    for (size_t i = text.find('<'); i != std::string::npos; i = text.find('<', i + 1)) {
        const bool closing = i + 1 < text.size() && text[i + 1] == '/';
        const size_t name = i + (closing ? 2 : 1);
        if (!NameAt(text, name, "array") && !NameAt(text, name, "dict"))
            continue;
        const size_t end = text.find('>', name);
        if (end == std::string::npos)
            return false;
        if (closing)
            --depth;
        else if (text[end - 1] != '/' && ++depth > kMaxDepth)
            return false;
        i = end;
    }
    return true;
}

uint64_t BigEndian(const std::string& b, size_t at, size_t size) {
    uint64_t v = 0;
    for (size_t k = 0; k < size; ++k)
        v = (v << 8) | static_cast<uint8_t>(b[at + k]);
    return v;
}

// A binary list whose object graph has no cycle, nests at most kMaxDepth
// containers, expands to at most kMaxNodes values and has no NUL inside a
// string or key (libplist aborts on one). Anything malformed in the tables
// is refused here too.
bool BinaryShapeWithin(const std::string& b) {
    const size_t size = b.size();
    if (size < 8 + 32)
        return false;
    const size_t trailer = size - 32;
    const size_t offsetSize = static_cast<uint8_t>(b[trailer + 6]);
    const size_t refSize = static_cast<uint8_t>(b[trailer + 7]);
    const uint64_t count = BigEndian(b, trailer + 8, 8);
    const uint64_t top = BigEndian(b, trailer + 16, 8);
    const uint64_t table = BigEndian(b, trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 ||
        top >= count || table < 8 || table > trailer || count > (trailer - table) / offsetSize)
        return false;
    auto offsetOf = [&](uint64_t i) { return BigEndian(b, table + i * offsetSize, offsetSize); };
    // The references of object i, as a position and a count; false when
    // they do not fit before the offset table.
    auto refsOf = [&](uint64_t i, size_t* at, uint64_t* n) {
        const uint64_t off = offsetOf(i);
        if (off < 8 || off >= table)
            return false;
        const uint8_t marker = static_cast<uint8_t>(b[off]);
        const int type = marker >> 4;
        uint64_t items = marker & 0x0f;
        size_t pos = off + 1;
        *n = 0;
        *at = pos;
        const bool container = type == 0xa || type == 0xc || type == 0xd;
        const bool text = type == 0x5 || type == 0x6 || type == 0x7;
        if (!container && !text)
            return true;
        if (items == 0x0f) {
            if (pos >= table || (static_cast<uint8_t>(b[pos]) >> 4) != 0x1)
                return false;
            const size_t width = size_t{1} << (static_cast<uint8_t>(b[pos]) & 0x0f);
            if (width > 8 || pos + 1 + width > table)
                return false;
            items = BigEndian(b, pos + 1, width);
            pos += 1 + width;
        }
        if (text) {
            // ASCII and UTF-8 in bytes, UTF-16 in units of two.
            const uint64_t unit = type == 0x6 ? 2 : 1;
            if (items > (table - pos) / unit)
                return false;
            for (uint64_t k = 0; k < items; ++k) {
                if (BigEndian(b, pos + k * unit, unit) == 0)
                    return false;
            }
            return true;
        }
        const uint64_t refs = type == 0xd ? items * 2 : items;
        if (items > table || refs > (table - pos) / refSize)
            return false;
        *at = pos;
        *n = refs;
        return true;
    };
    enum : uint8_t { kNew, kOpen, kDone };
    std::vector<uint8_t> state(count, kNew);
    std::vector<uint64_t> nodes(count, 0);
    struct Frame {
        uint64_t object;
        size_t at;
        uint64_t refs, next, nodes;
    };
    std::vector<Frame> stack;
    auto open = [&](uint64_t object) {
        Frame f{object, 0, 0, 0, 1};
        if (!refsOf(object, &f.at, &f.refs) || stack.size() >= static_cast<size_t>(kMaxDepth))
            return false;
        state[object] = kOpen;
        stack.push_back(f);
        return true;
    };
    if (!open(top))
        return false;
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.refs) {
            state[f.object] = kDone;
            nodes[f.object] = f.nodes;
            const uint64_t done = f.nodes;
            stack.pop_back();
            if (!stack.empty())
                stack.back().nodes = std::min(stack.back().nodes + done, kMaxNodes + 1);
            continue;
        }
        const uint64_t child = BigEndian(b, f.at + f.next * refSize, refSize);
        ++f.next;
        if (child >= count || state[child] == kOpen)
            return false;
        if (state[child] == kDone) {
            f.nodes = std::min(f.nodes + nodes[child], kMaxNodes + 1);
            continue;
        }
        if (!open(child))
            return false;
    }
    return nodes[top] <= kMaxNodes;
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
    const bool binary = plist_is_binary(bytes.data(), static_cast<uint32_t>(bytes.size())) != 0;
    if (binary ? !BinaryShapeWithin(bytes) : !XmlNestingWithin(bytes))
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
