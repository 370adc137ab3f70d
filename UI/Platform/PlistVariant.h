// Property-list values as Qt's variants, for the windows that read settings
// and update descriptions.
#pragma once

#include <QVariant>

#include <optional>

#include "platform/desktop/PropertyList.h"

namespace velmora::ui {

// Dictionaries become QVariantMap, arrays QVariantList, data QByteArray,
// dates QDateTime (UTC), integers qlonglong.
QVariant ToVariant(const platform::PlistValue& value);
// Nothing for a variant no property list can hold.
std::optional<platform::PlistValue> FromVariant(const QVariant& value);

// A property list from bytes (XML or binary); an invalid QVariant when it
// does not parse.
QVariant ParsePlistBytes(const QByteArray& bytes);

}  // namespace velmora::ui
