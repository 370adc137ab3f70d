#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BridgeDoubles.h"
#include "DeviceDoubles.h"
#include "VKUIController.h"
#include "VKUIDeviceData.h"
#include "support/TestSupport.h"

namespace {

using velmora::bridgetest::FakeEnumerator;

TEST(DeviceRows, DisksWithVolumeSubRowsAndDisksWithout) {
    velmora::bridgetest::BridgeWorld world;
    FakeEnumerator enumerator({{.name = "Disk A", .volumes = {{.name = "One"}, {.name = ""}}},
                               {.name = "Disk B"},
                               {.name = "Disk C", .failVolumes = true}});
    VKUIDeviceData catalogue(&enumerator);
    catalogue.InitDeviceInfo();
    std::vector<DiskVolumeNodePtr> rows;
    VKUIController::AppendDeviceRows(catalogue, rows);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0]->name(), "Disk A");
    ASSERT_TRUE(rows[0]->children().has_value());
    ASSERT_EQ(rows[0]->numberOfChildren(), 2u);
    EXPECT_EQ(rows[0]->childAtIndex(0)->name(), "One");
    EXPECT_EQ(rows[0]->childAtIndex(0)->volumeIndex(), 0);
    EXPECT_EQ(rows[0]->childAtIndex(0)->diskPath().value_or(""), "/dev/fake0p1");
    EXPECT_EQ(rows[0]->childAtIndex(1)->name(), "Untitled");
    EXPECT_EQ(rows[0]->childAtIndex(1)->diskIndex(), 0);
    // A disk without volumes, or whose volumes could not be listed, has no
    // sub-rows at all.
    for (size_t i : {1u, 2u}) {
        EXPECT_FALSE(rows[i]->children().has_value());
        EXPECT_EQ(rows[i]->diskIndex(), static_cast<int>(i));
    }
    // Appending adds to what the array holds.
    VKUIController::AppendDeviceRows(catalogue, rows);
    EXPECT_EQ(rows.size(), 6u);
    VKUIController::GetDeviceInfoToArray(nullptr);
}

TEST(DeviceSettings, FlagsOfTheFolderSettingsFile) {
    velmora::test::TempDir dir;
    auto write = [&](const std::string& folder, const std::string& body) {
        std::filesystem::create_directories(dir / (folder + "/.Velmorafiles"));
        velmora::test::WriteFile(dir / (folder + "/.Velmorafiles/config.plist"), body);
        return dir / folder;
    };
    auto plist = [](const std::string& entries) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
               entries + "</dict></plist>\n";
    };
    struct Case {
        const char* what;
        std::string folder;
        int complete, quick;
    } cases[] = {
        {"no file", dir / "none", 0, 0},
        {"both set",
         write("both", plist("<key>WQKeyCompleteProtect</key><true/>"
                             "<key>WQKeyQuickProtect</key><true/>")),
         1, 1},
        {"one set, one false",
         write("one", plist("<key>WQKeyCompleteProtect</key><false/>"
                            "<key>WQKeyQuickProtect</key><integer>1</integer>")),
         0, 1},
        {"text values",
         write("text", plist("<key>WQKeyCompleteProtect</key><string>YES</string>"
                             "<key>WQKeyQuickProtect</key><string>no</string>")),
         1, 0},
        {"not a property list", write("junk", "\x01\x02 not a plist"), 0, 0},
        {"not a dictionary", write("array", "<plist><array><true/></array></plist>"), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(VKUIController::WQGetCompleteProtect(c.folder), c.complete);
        EXPECT_EQ(VKUIController::WQGetQuickProtect(c.folder), c.quick);
    }
    EXPECT_TRUE(VKUIController::WQGetConfigDictionary(dir / "none").empty());
}

TEST(DeviceAppCalls, CloseAppEndsTheProcessAfterReportingTheEndOfUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            VKUIController::SetUsageEndHook([] { std::fputs("end of use\n", stderr); });
            VKUIController::CloseApp();
            std::fputs("returned\n", stderr);
            std::_Exit(3);
        },
        testing::ExitedWithCode(0), "end of use");
}

}  // namespace
