// Interface texts by key ("PLX_...", "MENU_...") through Qt's id-based
// translations. A key without a text shows the key itself, so a missing
// entry is visible rather than blank. Format texts take Cocoa-style
// conversions (%@, %d, %lld, %.2f, %1$@); a translation whose conversions do
// not fit the arguments is shown as it is instead of being formatted, so a
// wrong translation can never crash the program.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

namespace velmora::ui::texts {

// Loads English and then `language` ("fr", "pt-BR", ...) from the
// translations built into the program; English stands in for what a
// language lacks. False when no table of `language` exists (English still
// holds).
bool LoadLanguage(const QString& language);

// The text of `key`, or the key itself.
QString Text(const QString& key);

// The text of `key` with `args` put in.
QString Format(const QString& key, const QVariantList& args);

// `pattern` with `args` put in; `*ok` false (and `pattern` given back
// untouched) when a conversion is unknown or does not fit its argument,
// or there are fewer arguments than conversions.
QString FormatText(const QString& pattern, const QVariantList& args, bool* ok = nullptr);

}  // namespace velmora::ui::texts
