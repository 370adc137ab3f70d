#include <gtest/gtest.h>

#include <string>

#include "IniFile.h"
#include "support/TestSupport.h"

using velmora::test::ReadText;
using velmora::test::TempDir;
using velmora::test::WriteFile;

namespace {

TEST(IniFile, LoadAndRead) {
    struct Case {
        const char* name;
        const char* text;
        int load;
        const char* section;
        const char* key;
        int read;
        const char* value;
    };
    const Case cases[] = {
        {"switch off", "[UserExperience]\nbRevise=0\n", 0, "UserExperience", "bRevise", 0, "0"},
        {"last line without line end keeps its last character", "[UserExperience]\nbRevise=1", 0,
         "UserExperience", "bRevise", 0, "1"},
        {"CR LF line ends", "[UserExperience]\r\nbRevise=1\r\n", 0, "UserExperience", "bRevise", 0,
         "1"},
        {"blanks around = stay in key and value", "[UserExperience]\nbRevise = 0\n", 0,
         "UserExperience", "bRevise", -1, ""},
        {"blank-ended key", "[UserExperience]\nbRevise = 0\n", 0, "UserExperience", "bRevise ", 0,
         " 0"},
        {"later line wins", "[S]\nk=1\nk=2\n", 0, "S", "k", 0, "2"},
        {"comments and blank lines ignored", "; note\n\n[S]\n# x\nk=v=w\n", 0, "S", "k", 0, "v=w"},
        {"value before any section", "k=1\n[S]\nk=2\n", -1, "S", "k", -1, "untouched"},
        {"section without ]", "[S]\nk=1\n[T\nj=2\n", -1, "S", "k", 0, "1"},
        {"missing section", "[S]\nk=1\n", 0, "T", "k", -1, "untouched"},
        {"missing key", "[S]\nk=1\n", 0, "S", "j", -1, ""},
        {"case matters", "[S]\nK=1\n", 0, "S", "k", -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir / "t.ini", std::string(c.text));
        CIniFile ini;
        EXPECT_EQ(ini.Init(dir / "t.ini"), c.load);
        std::string value = "untouched";
        EXPECT_EQ(ini.ReadItem(c.section, c.key, value), c.read);
        EXPECT_EQ(value, c.value);
    }
}

TEST(IniFile, LongLinesAreReadInPieces) {
    TempDir dir;
    const std::string longValue(1500, 'x');
    WriteFile(dir / "t.ini", "[S]\nk=" + longValue + "\nj=2\n");
    CIniFile ini(dir / "t.ini");
    ASSERT_EQ(ini.Init(), 0);
    std::string value;
    ASSERT_EQ(ini.ReadItem("S", "k", value), 0);
    EXPECT_EQ(value.size(), 1021u);  // the first 1,023-byte piece less "k="
    ASSERT_EQ(ini.ReadItem("S", "j", value), 0);
    EXPECT_EQ(value, "2");
}

TEST(IniFile, WriteOnlyExistingKeys) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    WriteFile(path, std::string("[B]\nz=1\na=2\n[A]\nk=v\n"));
    CIniFile ini;
    ASSERT_EQ(ini.Init(path), 0);
    EXPECT_EQ(ini.WriteItem("A", "missing", "x"), -1);
    EXPECT_EQ(ReadText(path), "[B]\nz=1\na=2\n[A]\nk=v\n");  // untouched
    EXPECT_EQ(ini.WriteItem("B", "z", "9"), 0);
    EXPECT_EQ(ReadText(path), "[A]\nk=v\n\n[B]\na=2\nz=9\n\n");  // sorted

    CIniFile reread;
    ASSERT_EQ(reread.Init(path), 0);
    std::string value;
    EXPECT_EQ(reread.ReadItem("B", "z", value), 0);
    EXPECT_EQ(value, "9");

    CIniFile missing;
    EXPECT_EQ(missing.Init(dir / "none.ini"), -1);
    EXPECT_EQ(missing.ReadItem("A", "k", value), -1);
    CIniFile unwritable((dir / "no-such-folder") + "/t.ini");
    EXPECT_EQ(unwritable.WriteFile(), -1);
}

TEST(IniFile, ShippedSettingsTurnTheReviseSwitchOn) {
    std::string value;
    CIniFile shipped;
    ASSERT_EQ(shipped.Init(velmora::test::SourceDir() + "/resources/UIConfig.ini"), 0);
    ASSERT_EQ(shipped.ReadItem("UserExperience", "bRevise", value), 0);
    EXPECT_EQ(value, "1");

    // The build keeps a copy beside the programs, where the work folder is.
    CIniFile beside;
    ASSERT_EQ(beside.Init(std::string(VELMORA_RUNTIME_DIR) + "/UIConfig.ini"), 0);
    ASSERT_EQ(beside.ReadItem("UserExperience", "bRevise", value), 0);
    EXPECT_EQ(value, "1");
}

}  // namespace
