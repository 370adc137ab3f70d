#include "UIPlatform/PlistVariant.h"

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>

namespace velmora::ui {

using platform::PlistDate;
using platform::PlistValue;

namespace {

// 2001-01-01 00:00:00 UTC, where property-list dates count from.
const QDateTime& ReferenceDate() {
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return date;
}

}  // namespace

QVariant ToVariant(const PlistValue& value) {
    struct Visitor {
        QVariant operator()(std::monostate) const { return {}; }
        QVariant operator()(bool v) const { return v; }
        QVariant operator()(int64_t v) const { return static_cast<qlonglong>(v); }
        QVariant operator()(double v) const { return v; }
        QVariant operator()(const std::string& v) const { return QString::fromStdString(v); }
        QVariant operator()(const PlistValue::Data& v) const {
            return QByteArray(reinterpret_cast<const char*>(v.data()),
                              static_cast<qsizetype>(v.size()));
        }
        QVariant operator()(const PlistDate& v) const {
            return ReferenceDate().addMSecs(static_cast<qint64>(v.sinceReferenceDate * 1000.0));
        }
        QVariant operator()(const PlistValue::Array& v) const {
            QVariantList list;
            for (const auto& item : v)
                list.push_back(ToVariant(item));
            return list;
        }
        QVariant operator()(const PlistValue::Dict& v) const {
            QVariantMap map;
            for (const auto& [key, item] : v)
                map.insert(QString::fromStdString(key), ToVariant(item));
            return map;
        }
    };
    return std::visit(Visitor{}, value.storage());
}

std::optional<PlistValue> FromVariant(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Bool:
            return PlistValue(value.toBool());
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Long:
        case QMetaType::ULong:
            return PlistValue(static_cast<int64_t>(value.toLongLong()));
        case QMetaType::Double:
        case QMetaType::Float:
            return PlistValue(value.toDouble());
        case QMetaType::QString:
            return PlistValue(value.toString().toStdString());
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            return PlistValue(PlistValue::Data(bytes.begin(), bytes.end()));
        }
        case QMetaType::QDateTime:
            return PlistValue(PlistDate{ReferenceDate().msecsTo(value.toDateTime()) / 1000.0});
        case QMetaType::QStringList:
        case QMetaType::QVariantList: {
            PlistValue::Array items;
            for (const QVariant& item : value.toList()) {
                auto converted = FromVariant(item);
                if (!converted)
                    return std::nullopt;
                items.push_back(std::move(*converted));
            }
            return PlistValue(std::move(items));
        }
        case QMetaType::QVariantMap: {
            PlistValue::Dict dict;
            const QVariantMap map = value.toMap();
            for (auto it = map.begin(); it != map.end(); ++it) {
                auto converted = FromVariant(it.value());
                if (!converted)
                    return std::nullopt;
                dict[it.key().toStdString()] = std::move(*converted);
            }
            return PlistValue(std::move(dict));
        }
        default:
            return std::nullopt;
    }
}

QVariant ParsePlistBytes(const QByteArray& bytes) {
    auto parsed = platform::ParsePlist(bytes.toStdString());
    return parsed ? ToVariant(*parsed) : QVariant();
}

}  // namespace velmora::ui
