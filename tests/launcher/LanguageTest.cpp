// The language the launcher hands the application: the system language
// mapped through the settings' offered languages and the remembered choice.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <ostream>
#include <string>

#include "PrivateData.h"
#include "RunScript.h"
#include "support/TestSupport.h"

using velmora::loader::Environment;
using velmora::loader::GetCurrentLanaguage;
using velmora::loader::PrivateData;
using velmora::loader::SystemLanguage;
using velmora::test::ReadText;
using velmora::test::TempDir;
using velmora::test::WriteFile;

namespace {

std::string Plist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>" +
           body + "</dict></plist>\n";
}

const std::string kOffered =
    "<key>SupportLanguage</key><dict>"
    "<key>English</key><string>en</string>"
    "<key>Deutsch</key><string>de</string>"
    "<key>\xe7\xb9\x81\xe9\xab\x94\xe4\xb8\xad\xe6\x96\x87</key><string>zh-Hant</string>"
    "<key>Portugu\xc3\xaas</key><string>pt-BR</string>"
    "</dict>";

struct LanguageCase {
    const char* name;
    const char* system;
    std::string shipped;  // empty: no installed file
    std::string overlay;  // empty: no overlay yet
    const char* code;
    std::optional<std::string> remembered;  // "CurLanguage" in the overlay afterwards
};

void PrintTo(const LanguageCase& c, std::ostream* os) {
    *os << c.name;
}

class LanguageTable : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(LanguageTable, CodeAndRememberedChoice) {
    const LanguageCase& c = GetParam();
    TempDir dir;
    const std::string shipped = dir / "PrivateData.plist";
    const std::string overlay = dir / "config/Velmora/PrivateData.plist";
    if (!c.shipped.empty())
        WriteFile(shipped, c.shipped);
    if (!c.overlay.empty()) {
        ASSERT_EQ(mkdir((dir / "config").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((dir / "config/Velmora").c_str(), 0755), 0);
        WriteFile(overlay, c.overlay);
    }
    PrivateData settings(shipped, overlay);

    EXPECT_EQ(GetCurrentLanaguage(c.system, settings), c.code);

    if (!c.shipped.empty()) {
        EXPECT_EQ(ReadText(shipped), c.shipped) << "the installed file must never change";
    }
    struct stat st {};
    if (c.remembered) {
        EXPECT_EQ(settings.String("CurLanguage"), c.remembered);
        ASSERT_EQ(stat(overlay.c_str(), &st), 0);
        // Read back through a fresh view: only the overlay holds it.
        EXPECT_EQ(PrivateData("", overlay).String("CurLanguage"), c.remembered);
    } else if (c.overlay.empty()) {
        EXPECT_NE(stat(overlay.c_str(), &st), 0) << "nothing should have been written";
    } else {
        EXPECT_EQ(ReadText(overlay), c.overlay) << "nothing should have been written";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, LanguageTable,
    ::testing::Values(
        LanguageCase{"OfferedLanguageIsTakenAndRemembered", "de", Plist(kOffered), "", "de",
                     "Deutsch"},
        LanguageCase{"HongKongGivesTraditionalChinese", "zh-HK", Plist(kOffered), "", "zh-Hant",
                     "\xe7\xb9\x81\xe9\xab\x94\xe4\xb8\xad\xe6\x96\x87"},
        LanguageCase{"TraditionalChineseWithoutOfferStaysChinese", "zh-TW",
                     Plist("<key>SupportLanguage</key><dict/>"), "", "zh-Hant", std::nullopt},
        LanguageCase{"PortugueseGivesBrazilian", "pt", Plist(kOffered), "", "pt-BR",
                     "Portugu\xc3\xaas"},
        LanguageCase{"UnofferedRegionFallsBackToEnglish", "en-GB", Plist(kOffered), "", "en",
                     "English"},
        LanguageCase{"UnknownLanguageFallsBackToEnglish", "ko", Plist(kOffered), "", "en",
                     "English"},
        LanguageCase{"LocaleRegionFindsTheBareLanguage", "de-DE", Plist(kOffered), "", "de",
                     "Deutsch"},
        LanguageCase{"TelqoAlwaysRunsInJapanese", "de",
                     Plist("<key>Telqo</key><true/><key>CurLanguage</key><string>Deutsch</string>" +
                           kOffered),
                     "", "ja", std::nullopt},
        LanguageCase{"RememberedChoiceHoldsOverTheSystem", "zh-HK", Plist(kOffered),
                     Plist("<key>CurLanguage</key><string>Deutsch</string>"), "de", std::nullopt},
        LanguageCase{"RememberedNameNotOfferedGivesTheCandidate", "zh-MO",
                     Plist("<key>CurLanguage</key><string>Klingon</string>" + kOffered), "",
                     "zh-Hant", std::nullopt},
        LanguageCase{"RememberedNameNotOfferedOtherwiseEnglish", "de",
                     Plist("<key>CurLanguage</key><string>Klingon</string>" + kOffered), "", "en",
                     std::nullopt},
        LanguageCase{"NoSettingsAtAllWritesNothing", "de", "", "", "en", std::nullopt},
        LanguageCase{"DamagedSettingsCountAsMissing", "pt", "<plist><dict><key>", "", "pt-BR",
                     std::nullopt}),
    [](const ::testing::TestParamInfo<LanguageCase>& info) { return info.param.name; });

// The settings as installed pin no language: a first start follows the
// system's, through the same mapping as any settings file.
TEST(LauncherSettings, ShippedSettingsFollowTheSystemLanguage) {
    const struct {
        const char* system;
        const char* code;
    } cases[] = {{"zh-TW", "zh-Hant"}, {"zh-HK", "zh-Hant"}, {"pt", "pt-BR"}, {"en-US", "en"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.system);
        TempDir dir;
        PrivateData settings(VELMORA_SHIPPED_SETTINGS, dir / "config/Velmora/PrivateData.plist");
        ASSERT_TRUE(settings.Exists());
        EXPECT_EQ(settings.String("CurLanguage"), std::nullopt);
        settings.SetReadOnly(true);
        EXPECT_EQ(GetCurrentLanaguage(c.system, settings), c.code);
    }
}

TEST(LauncherSettings, OverlayWriteKeepsOtherKeysAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string overlay = dir / "config/Velmora/PrivateData.plist";
    PrivateData settings(dir / "missing.plist", overlay);
    ASSERT_TRUE(settings.SetString("SavePath", "/home/u/results"));
    ASSERT_TRUE(settings.SetString("CurLanguage", "English"));
    EXPECT_EQ(settings.String("SavePath"), "/home/u/results");
    EXPECT_EQ(settings.String("CurLanguage"), "English");
    std::string listing;
    ASSERT_TRUE(velmora::test::RunProgram({"/bin/ls", "-A", dir / "config/Velmora"}, &listing));
    EXPECT_EQ(listing, "PrivateData.plist\n");

    PrivateData readOnly(dir / "missing.plist", overlay);
    readOnly.SetReadOnly(true);
    EXPECT_FALSE(readOnly.SetString("CurLanguage", "Deutsch"));
    EXPECT_EQ(settings.String("CurLanguage"), "English");
}

TEST(LauncherSettings, OverlayWrittenAsRootBelongsToTheInvokingUser) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to write for another user";
    TempDir dir;
    // The user's own folder, where the rest is made as that user.
    ASSERT_EQ(mkdir((dir / "home").c_str(), 0755), 0);
    ASSERT_EQ(chown((dir / "home").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string folder = dir / "home/.config/Velmora";
    velmora::test::ScopedEnv pkexec("PKEXEC_UID", "65534");
    PrivateData settings(dir / "missing.plist", folder + "/PrivateData.plist");
    ASSERT_TRUE(settings.SetString("CurLanguage", "English"));
    for (const std::string& path :
         {dir / "home", dir / "home/.config", folder, folder + "/PrivateData.plist"}) {
        struct stat st {};
        ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_uid, 65534u) << path;
    }
}

TEST(LauncherSettings, LinkPlantedByTheUserCannotLeadRootsWrite) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "needs root to write for another user";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir / "rootonly").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir / "home").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir / "home/.config").c_str(), 0755), 0);
    ASSERT_EQ(symlink((dir / "rootonly").c_str(), (dir / "home/.config/Velmora").c_str()), 0);
    ASSERT_EQ(lchown((dir / "home/.config/Velmora").c_str(), 65534, 65534), 0);
    velmora::test::ScopedEnv pkexec("PKEXEC_UID", "65534");
    PrivateData settings(dir / "missing.plist", dir / "home/.config/Velmora/PrivateData.plist");
    EXPECT_FALSE(settings.SetString("CurLanguage", "English"));
    std::string listing;
    ASSERT_TRUE(velmora::test::RunProgram({"/bin/ls", "-A", dir / "rootonly"}, &listing));
    EXPECT_EQ(listing, "");
}

struct LocaleCase {
    Environment env;
    const char* language;
};

TEST(LauncherSystemLanguage, LocaleVariablesNameTheLanguage) {
    const LocaleCase cases[] = {
        {{{"LANG", "zh_HK.UTF-8"}}, "zh-HK"},
        {{{"LANG", "zh_CN.UTF-8"}}, "zh-Hans"},
        {{{"LANG", "de_DE.UTF-8"}}, "de-DE"},
        {{{"LANGUAGE", "pt:en"}, {"LANG", "de_DE.UTF-8"}}, "pt"},
        {{{"LANGUAGE", ""}, {"LC_MESSAGES", "fr_CA.UTF-8"}, {"LANG", "de_DE.UTF-8"}}, "fr-CA"},
        {{{"LC_ALL", "C"}, {"LANG", "de_DE.UTF-8"}}, "en"},
        {{{"LC_ALL", "sr_RS@latin"}}, "sr-RS"},
        {{{"LANG", "POSIX"}}, "en"},
        {{}, "en"},
    };
    for (const auto& c : cases) {
        std::string described;
        for (const auto& [k, v] : c.env)
            described += k + "=" + v + " ";
        EXPECT_EQ(SystemLanguage(c.env), c.language) << described;
    }
}

}  // namespace
