#include "UIPlatform/Texts.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTranslator>

#include <memory>
#include <vector>

namespace velmora::ui::texts {

namespace {

std::vector<std::unique_ptr<QTranslator>>& Installed() {
    static std::vector<std::unique_ptr<QTranslator>> translators;
    return translators;
}

bool Install(const QString& language) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(":/i18n/velmora_" + language + ".qm"))
        return false;
    QCoreApplication::installTranslator(translator.get());
    Installed().push_back(std::move(translator));
    return true;
}

enum class ArgKind { Object, CString, Integer, Unsigned, Floating, Char };

bool IsIntegral(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::UChar:
        case QMetaType::Bool:
            return true;
        default:
            return false;
    }
}

bool IsNumber(const QVariant& v) {
    return IsIntegral(v) || v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}

bool Fits(ArgKind kind, const QVariant& v) {
    switch (kind) {
        case ArgKind::Object:
            return v.isValid();
        case ArgKind::CString:
            return v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray;
        case ArgKind::Integer:
        case ArgKind::Unsigned:
        case ArgKind::Char:
            return IsIntegral(v);
        case ArgKind::Floating:
            return IsNumber(v);
    }
    return false;
}

QString Convert(ArgKind kind, char conversion, const QByteArray& head, const QVariant& v) {
    switch (kind) {
        case ArgKind::Object:
        case ArgKind::CString:
            return v.toString();
        case ArgKind::Char:
            return QString(QChar(static_cast<char16_t>(v.toUInt())));
        case ArgKind::Integer:
            return QString::asprintf((head + "ll" + conversion).constData(), v.toLongLong());
        case ArgKind::Unsigned:
            return QString::asprintf((head + "ll" + conversion).constData(), v.toULongLong());
        case ArgKind::Floating:
            return QString::asprintf((head + conversion).constData(), v.toDouble());
    }
    return {};
}

}  // namespace

bool LoadLanguage(const QString& language) {
    for (auto& translator : Installed())
        QCoreApplication::removeTranslator(translator.get());
    Installed().clear();
    Install("en");
    if (language.isEmpty() || language == "en")
        return true;
    if (Install(language))
        return true;
    // "pt-BR" falls back to "pt", "zh-Hans-CN" to "zh-Hans".
    QString shorter = language;
    while (shorter.lastIndexOf('-') > 0) {
        shorter.truncate(shorter.lastIndexOf('-'));
        if (Install(shorter))
            return true;
    }
    return false;
}

QString Text(const QString& key) {
    const QByteArray id = key.toUtf8();
    return qtTrId(id.constData());
}

QString Format(const QString& key, const QVariantList& args) {
    bool ok = true;
    QString text = FormatText(Text(key), args, &ok);
    if (!ok)
        qWarning() << "Text" << key << "does not fit its arguments; shown unformatted";
    return text;
}

QString FormatText(const QString& pattern, const QVariantList& args, bool* ok) {
    if (ok)
        *ok = true;
    auto fail = [&] {
        if (ok)
            *ok = false;
        return pattern;
    };
    QString out;
    int nextArg = 0;
    const int n = static_cast<int>(pattern.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = pattern[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 < n && pattern[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        int j = i + 1;
        // Optional position: %2$@.
        int position = -1;
        {
            int k = j, number = 0;
            while (k < n && pattern[k].isDigit() && number < 1000)
                number = number * 10 + pattern[k++].digitValue();
            if (k > j && k < n && pattern[k] == '$') {
                position = number - 1;
                j = k + 1;
            }
        }
        QByteArray head = "%";
        while (j < n && QStringLiteral("-+ 0#").contains(pattern[j]))
            head += pattern[j++].toLatin1();
        int digits = 0;
        while (j < n && pattern[j].isDigit() && digits++ < 3)
            head += pattern[j++].toLatin1();
        if (j < n && pattern[j] == '.') {
            head += pattern[j++].toLatin1();
            digits = 0;
            while (j < n && pattern[j].isDigit() && digits++ < 3)
                head += pattern[j++].toLatin1();
        }
        while (j < n && QStringLiteral("hlqLzjt").contains(pattern[j]))
            ++j;
        if (j >= n)
            return fail();
        const char conversion = pattern[j].toLatin1();
        ArgKind kind;
        switch (conversion) {
            case '@':
                kind = ArgKind::Object;
                break;
            case 's':
                kind = ArgKind::CString;
                break;
            case 'd':
            case 'i':
                kind = ArgKind::Integer;
                break;
            case 'u':
            case 'x':
            case 'X':
            case 'o':
                kind = ArgKind::Unsigned;
                break;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
                kind = ArgKind::Floating;
                break;
            case 'c':
            case 'C':
                kind = ArgKind::Char;
                break;
            default:
                // %n, %p and anything unknown are never formatted.
                return fail();
        }
        const int index = position >= 0 ? position : nextArg++;
        if (index >= args.size() || !Fits(kind, args[index]))
            return fail();
        out += Convert(kind, conversion == 'F' ? 'f' : conversion, head, args[index]);
        i = j;
    }
    return out;
}

}  // namespace velmora::ui::texts
