// Web addresses by key and interface language, with the English table as
// the fallback.
#include <gtest/gtest.h>

#include "UIPlatform/PrivateSettings.h"
#include "VKLinkUrl.h"
#include "support/TestSupport.h"

namespace {

const char kSettings[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>en</key><dict>
    <key>AboutURL</key><string>https://example.org/en/about</string>
    <key>OnlineHelp</key><string>https://example.org/en/help</string>
    <key>SupportURL</key><string>https://example.org/en/support</string>
  </dict>
  <key>de</key><dict>
    <key>AboutURL</key><string></string>
    <key>OnlineHelp</key><string>https://example.org/de/hilfe</string>
  </dict>
</dict></plist>
)";

TEST(VKLinkUrl, KeyAndLanguageWithTheEnglishFallback) {
    velmora::test::TempDir dir;
    velmora::test::WriteFile(dir / "PrivateData.plist", std::string(kSettings));
    const velmora::ui::PrivateSettings settings(
        QString::fromStdString(dir / "PrivateData.plist"),
        QString::fromStdString(dir / "none/PrivateData.plist"));
    const struct {
        const char* language;
        const char* key;
        const char* url;
    } cases[] = {
        {"de", "OnlineHelp", "https://example.org/de/hilfe"},
        // Empty in the language's table, missing there, no such table: English.
        {"de", "AboutURL", "https://example.org/en/about"},
        {"de", "SupportURL", "https://example.org/en/support"},
        {"ja", "OnlineHelp", "https://example.org/en/help"},
        {"en", "AboutURL", "https://example.org/en/about"},
        // In neither table: nothing.
        {"de", "UpdateURL", ""},
        {"ja", "UpdateURL", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VKLinkUrl::GetUrl(c.key, c.language, settings), QString::fromLatin1(c.url))
            << c.language << " " << c.key;
    }
}

}  // namespace
