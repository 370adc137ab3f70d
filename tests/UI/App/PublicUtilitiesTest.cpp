// The system version number and the stored time of the last version check.
#include <gtest/gtest.h>

#include "ShellFixture.h"
#include "VKPublicUtilities.h"

namespace velmora::app {
namespace {

TEST(PublicUtilities, SystemVersionFromTheReleaseText) {
    const struct {
        const char* release;
        unsigned major, minor, bugFix, number;
    } cases[] = {
        {"6.1.0-18-amd64", 6, 1, 0, 601},
        {"5.10.209", 5, 10, 209, 510},
        {"10.13", 10, 13, 0, 1013},
        {"4", 4, 0, 0, 400},
        {"", 0, 0, 0, 0},
        {"x.y", 0, 0, 0, 0},
        {"99999999999.1", 0xFFFFFF, 1, 0, 1677721501},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        unsigned major = 7, minor = 7, bugFix = 7;
        VKPublicUtilities::ParseRelease(c.release, &major, &minor, &bugFix);
        EXPECT_EQ(major, c.major);
        EXPECT_EQ(minor, c.minor);
        EXPECT_EQ(bugFix, c.bugFix);
        EXPECT_EQ(VKPublicUtilities::SystemVersionNumber(major, minor), c.number);
    }
    VKPublicUtilities::ParseRelease(nullptr, nullptr, nullptr, nullptr);
    EXPECT_GT(VKPublicUtilities::getSystemVersion(), 0u);
}

}  // namespace
}  // namespace velmora::app

namespace {
using velmora::app::VKPublicUtilities;

TEST_F(ShellTest, CheckTimeIsStoredAndReadBack) {
    velmora::ui::PrivateSettings::shared().remove(QStringLiteral("upDataTimeStr"));
    EXPECT_FALSE(VKPublicUtilities::getUpDataTimeStr().has_value());
    VKPublicUtilities::writeUpDataTimeStr(QStringLiteral("2026-12-11 18:00:00"));
    EXPECT_EQ(VKPublicUtilities::getUpDataTimeStr(), QStringLiteral("2026-12-11 18:00:00"));
}

}  // namespace
