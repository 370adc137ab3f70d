// Apple property lists (the settings file, the update description, side
// files of results) read and written through libplist. Input may come from
// the network or another machine: nothing here trusts its shape.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velmora::platform {

struct PlistDate {
    // Seconds since 2001-01-01 00:00:00 UTC, as property lists count them.
    double sinceReferenceDate = 0;
    bool operator==(const PlistDate&) const = default;
};

class PlistValue {
public:
    using Array = std::vector<PlistValue>;
    using Dict = std::map<std::string, PlistValue>;
    using Data = std::vector<uint8_t>;
    using Storage = std::variant<std::monostate, bool, int64_t, double, std::string, Data,
                                 PlistDate, Array, Dict>;

    PlistValue() = default;
    PlistValue(bool v) : v_(v) {}
    PlistValue(int v) : v_(static_cast<int64_t>(v)) {}
    PlistValue(int64_t v) : v_(v) {}
    PlistValue(double v) : v_(v) {}
    PlistValue(const char* v) : v_(std::string(v)) {}
    PlistValue(std::string v) : v_(std::move(v)) {}
    PlistValue(Data v) : v_(std::move(v)) {}
    PlistValue(PlistDate v) : v_(v) {}
    PlistValue(Array v) : v_(std::move(v)) {}
    PlistValue(Dict v) : v_(std::move(v)) {}

    bool IsNull() const { return std::holds_alternative<std::monostate>(v_); }
    template <typename T>
    const T* As() const {
        return std::get_if<T>(&v_);
    }
    template <typename T>
    T* As() {
        return std::get_if<T>(&v_);
    }
    // A dictionary's entry, or null when this is no dictionary or lacks it.
    const PlistValue* Find(const std::string& key) const;
    const Storage& storage() const { return v_; }
    bool operator==(const PlistValue&) const = default;

private:
    Storage v_;
};

// XML or binary property list; nothing when it does not parse or nests
// deeper than any file of ours would.
std::optional<PlistValue> ParsePlist(const std::string& bytes);
std::optional<PlistValue> ReadPlistFile(const std::string& path);
// The XML form.
std::string ToXmlPlist(const PlistValue& value);
// Written atomically, as the invoking user.
bool WritePlistFile(const std::string& path, const PlistValue& value);

}  // namespace velmora::platform
