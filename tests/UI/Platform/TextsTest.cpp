#include "UIPlatform/Texts.h"

#include <gtest/gtest.h>

#include "QtPrinters.h"

using namespace velmora::ui::texts;

namespace {

// Each test leaves English loaded, as the others expect.
struct Language {
    explicit Language(const QString& code) { ok = LoadLanguage(code); }
    ~Language() { LoadLanguage("en"); }
    bool ok;
};

}  // namespace

TEST(Texts, KeysGiveTheirTextOrThemselves) {
    EXPECT_EQ(Text("PLX_FOUR_SCAN_STOP_TITLE"), "Stop the scan?");
    EXPECT_EQ(Text("MENU_EXIT"), "Quit Velmora");
    EXPECT_EQ(Text("PLX_NO_SUCH_KEY"), "PLX_NO_SUCH_KEY");
    EXPECT_EQ(Format("MENU_ABOUT_NAME", {Text("WINDOW_TOP_TITLE")}), "About Velmora Data Recovery");
    EXPECT_EQ(Format("PLX_FOUR_SELECT_FILES", {"1.50 MB", 3}),
              "You have selected 1.50 MB in 3 file(s).");
    EXPECT_EQ(Format("PLX_FOUR_RECOVER_NOTEND_NODE", {42.4}),
              "The recovery was stopped after 42 file(s).");
}

TEST(Texts, FormatsOnlyWhenConversionsFitTheirArguments) {
    struct Case {
        const char* pattern;
        QVariantList args;
        bool ok;
        QString text;
    } cases[] = {
        {"%@ in %d file(s)", {"1.00 KB", 3}, true, "1.00 KB in 3 file(s)"},
        {"%lld files", {qlonglong(5000000000)}, true, "5000000000 files"},
        {"%0.2f KB", {1.5}, true, "1.50 KB"},
        {"%.0f%%", {99}, true, "99%"},
        {"%2$@ then %1$@", {"a", "b"}, true, "b then a"},
        {"%@ %s", {7, "x"}, true, "7 x"},
        {"100%% done", {}, true, "100% done"},
        {"%05d|%-3d|%x", {42, 7, 255}, true, "00042|7  |ff"},
        {"extra args are ignored %@", {"a", "b"}, true, "extra args are ignored a"},
        // Faults a translation can carry: each text is shown as it is.
        {"%d files", {"three"}, false, "%d files"},
        {"%@ in %d file(s) and %@", {"1.00 KB", 3}, false, "%@ in %d file(s) and %@"},
        {"stopped at %n", {1}, false, "stopped at %n"},
        {"%p", {1}, false, "%p"},
        {"%s", {1.5}, false, "%s"},
        {"%f", {"1.5"}, false, "%f"},
        {"%3$@", {"a", "b"}, false, "%3$@"},
        {"%99999d", {1}, false, "%99999d"},
        {"trailing %", {1}, false, "trailing %"},
        {"%@", {QVariant()}, false, "%@"},
    };
    for (const auto& c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(FormatText(c.pattern, c.args, &ok), c.text) << c.pattern;
        EXPECT_EQ(ok, c.ok) << c.pattern;
    }
}

TEST(Texts, ABadTranslationShowsItsTextAndMissingOnesFallBackToEnglish) {
    Language faulty("xx");
    ASSERT_TRUE(faulty.ok);
    EXPECT_EQ(Text("PLX_FOUR_SCAN_STOP_TITLE"), "Arr\u00eater l'analyse ?");
    EXPECT_EQ(Format("PLX_FOUR_SELECT_FILES", {"1.50 MB", 3}), "S\u00e9lection : %d fichiers, %@");
    EXPECT_EQ(Format("PLX_FOUR_RECOVER_NOTEND_NODE", {42.0}), "Arr\u00eat \u00e0 %n%%");
    EXPECT_EQ(Format("PLX_FOUR_ALL_FILES", {"2.00 GB", 10}),
              "Trouv\u00e9 %@ dans %d fichiers et %@");
    EXPECT_EQ(Text("MENU_EXIT"), "Quit Velmora") << "English stands in for a missing entry";
}

TEST(Texts, UnknownLanguagesKeepEnglish) {
    Language unknown("tlh-Latn");
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(Text("PLX_FOUR_SCAN_STOP_TITLE"), "Stop the scan?");
}
