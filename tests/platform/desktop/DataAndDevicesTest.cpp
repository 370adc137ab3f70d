// Property lists, the statistics library and device events.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <mutex>

#include "platform/desktop/BlockDeviceWatcher.h"
#include "platform/desktop/PropertyList.h"
#include "platform/desktop/StatisticsLibrary.h"
#include "support/TestSupport.h"

using namespace velmora::platform;
using velmora::test::TempDir;

namespace {

// A binary property list of `count` arrays, each holding `fanOut`
// references to `next(i)`; an array whose next is `count` is empty.
std::string BinaryArrays(uint64_t count, int fanOut,
                         const std::function<uint64_t(uint64_t)>& next) {
    const int refSize = 4, offsetSize = 4;
    std::string objects;
    std::vector<uint64_t> offsets;
    auto put = [](std::string* out, uint64_t v, int size) {
        for (int k = size - 1; k >= 0; --k)
            out->push_back(static_cast<char>((v >> (8 * k)) & 0xff));
    };
    for (uint64_t i = 0; i < count; ++i) {
        offsets.push_back(8 + objects.size());
        const uint64_t target = next(i);
        if (target == count) {
            objects.push_back(static_cast<char>(0xa0));
            continue;
        }
        objects.push_back(static_cast<char>(0xa0 | fanOut));
        for (int r = 0; r < fanOut; ++r)
            put(&objects, target, refSize);
    }
    std::string out = "bplist00" + objects;
    const uint64_t table = out.size();
    for (uint64_t o : offsets)
        put(&out, o, offsetSize);
    out.append(6, '\0');
    out.push_back(static_cast<char>(offsetSize));
    out.push_back(static_cast<char>(refSize));
    put(&out, count, 8);
    put(&out, 0, 8);
    put(&out, table, 8);
    return out;
}

// A binary property list of one ASCII string.
std::string BinaryString(const std::string& text) {
    std::string out = "bplist00";
    out.push_back(static_cast<char>(0x50 | text.size()));
    out += text;
    const char table = static_cast<char>(out.size());
    out.push_back(8);  // the string's offset
    out.append(6, '\0');
    out += std::string("\x01\x01", 2);
    out += std::string("\0\0\0\0\0\0\0\x01", 8) + std::string(8, '\0');
    out += std::string(7, '\0') + table;
    return out;
}

std::string NestedXml(int levels) {
    std::string text = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < levels; ++i)
        text += "<array>";
    for (int i = 0; i < levels; ++i)
        text += "</array>";
    return text + "</plist>";
}

}  // namespace

TEST(PropertyList, RoundTripsEveryKindOfValue) {
    PlistValue::Dict inner{{"IniURL", ""}, {"UpdateURL", "https://update.test/x"}};
    PlistValue value(PlistValue::Dict{
        {"VersionCheck", 12},
        {"Ratio", 0.5},
        {"isBootable", "YES"},
        {"Telqo", true},
        {"Blob", PlistValue::Data{0, 1, 0xff}},
        {"When", PlistDate{86400.0}},
        {"SearchHistory", PlistValue::Array{"a", "b & <c>"}},
        {"en", inner},
        {"Unicode", "Fotos \xc3\xa9t\xc3\xa9 \xe5\x86\x99\xe7\x9c\x9f"},
    });
    TempDir dir;
    ASSERT_TRUE(WritePlistFile(dir / "PrivateData.plist", value));
    auto back = ReadPlistFile(dir / "PrivateData.plist");
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, value);
    ASSERT_NE(back->Find("en"), nullptr);
    EXPECT_EQ(*back->Find("en")->Find("UpdateURL")->As<std::string>(), "https://update.test/x");
    EXPECT_EQ(back->Find("missing"), nullptr);
    EXPECT_EQ(PlistValue("text").Find("x"), nullptr);
}

// Dates the format cannot hold (whole seconds in 32 bits) are written as
// the nearest date it can, never converted out of range.
TEST(PropertyList, DatesBeyondWhatTheFormatHoldsAreHeldAtItsEdge) {
    const struct {
        double when, stored;
    } cases[] = {{-3e9, double{INT32_MIN}}, {5e9, double{INT32_MAX}}, {1e300, double{INT32_MAX}}};
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_TRUE(WritePlistFile(dir / "d.plist", PlistValue(PlistDate{c.when})));
        auto back = ReadPlistFile(dir / "d.plist");
        ASSERT_TRUE(back) << c.when;
        ASSERT_NE(back->As<PlistDate>(), nullptr) << c.when;
        EXPECT_EQ(back->As<PlistDate>()->sinceReferenceDate, c.stored) << c.when;
    }
}

TEST(PropertyList, RefusesWhatIsNoPropertyList) {
    auto chain = [](uint64_t i) { return i + 1; };
    // Shapes that would overflow the parser's stack, loop, or expand without
    // end; each is refused before it is parsed.
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"text", "not a plist"},
        {"binary header only", std::string("bplist00\x01\x02", 10)},
        {"unclosed", "<plist><dict><key>a</key></plist>"},
        {"XML nested 65 deep", NestedXml(65)},
        {"XML nested 500000 deep", NestedXml(500000)},
        {"binary nested 65 deep", BinaryArrays(65, 1, chain)},
        {"binary nested 150000 deep", BinaryArrays(150000, 1, chain)},
        {"binary cycle", BinaryArrays(3, 1, [](uint64_t i) { return (i + 1) % 3; })},
        {"binary self reference", BinaryArrays(1, 1, [](uint64_t) { return 0; })},
        {"binary 2^40 expansion", BinaryArrays(41, 2, chain)},
        {"binary reference out of range", BinaryArrays(2, 1, [](uint64_t) { return 7; })},
        // libplist aborts on a NUL inside a string or key.
        {"XML string with a NUL", std::string("<plist><string>a\0b</string></plist>", 35)},
        {"XML reference to NUL", "<plist><dict><key>a&#0;</key><true/></dict></plist>"},
        {"XML hex reference to NUL", "<plist><string>&#x000;</string></plist>"},
        {"binary string with a NUL", BinaryString(std::string("a\0b", 3))},
        // Found by fuzzing: a reference of many digits once looped forever.
        {"long reference",
         "&#EEEEEEEEEEEEEEEEEEEUq0\x81\x81"
         "0"},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(ParsePlist(c.bytes)) << c.what;
    EXPECT_FALSE(ReadPlistFile("/velmora/missing.plist"));

    // Within the limits both forms parse.
    auto xml = ParsePlist(NestedXml(64));
    ASSERT_TRUE(xml);
    auto accented = ParsePlist("<plist><string>caf&#233;&#x20;</string></plist>");
    ASSERT_TRUE(accented);
    EXPECT_EQ(*accented->As<std::string>(), "caf\xc3\xa9 ");
    auto plain = ParsePlist(BinaryString("abc"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain->As<std::string>(), "abc");
    for (auto [levels, fanOut] : {std::pair{64, 1}, std::pair{10, 3}}) {
        auto binary = ParsePlist(BinaryArrays(levels, fanOut, chain));
        ASSERT_TRUE(binary) << levels << " levels of " << fanOut;
        const PlistValue* level = &*binary;
        int depth = 0;
        while (const auto* items = level->As<PlistValue::Array>()) {
            ++depth;
            if (items->empty())
                break;
            EXPECT_EQ(items->size(), static_cast<size_t>(fanOut));
            level = &items->back();
        }
        EXPECT_EQ(depth, levels);
    }
}

TEST(StatisticsLibrary, ConvertsToWideCharacters) {
    struct Case {
        std::string utf8;
        size_t outBytes;
        long result;
        std::wstring wide;
    } cases[] = {
        {"abc", 64, 0, L"abc"},
        {"caf\xc3\xa9 \xe5\x86\x99", 64, 0, L"caf\u00e9 \u5199"},
        {"abcdef", 3 * sizeof(wchar_t), 0, L"abc"},  // cut, unterminated
        {"ab\xff", 64, -1, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        std::vector<wchar_t> out(32, L'\0');
        long r = Utf8ToWide(c.utf8.data(), c.utf8.size(), out.data(), c.outBytes);
        EXPECT_EQ(r, c.result);
        if (r >= 0) {
            EXPECT_EQ(std::wstring(out.data()), c.wide);
        }
    }
}

TEST(StatisticsLibrary, WithoutTheLibraryNothingHappens) {
    TempDir dir;
    StatisticsLibrary missing(dir.path());
    EXPECT_FALSE(missing.Load());
    EXPECT_EQ(missing.Object(), nullptr);
    EXPECT_FALSE(missing.Install(true));
    EXPECT_FALSE(missing.Load()) << "tried again, still absent";

    // A library others could have replaced is not loaded into a root process.
    std::filesystem::copy_file(VELMORA_STATISTICS_STUB, dir / StatisticsLibrary::kFileName);
    chmod((dir / StatisticsLibrary::kFileName).c_str(), 0666);
    StatisticsLibrary writable(dir.path());
    EXPECT_FALSE(writable.Load());
    EXPECT_EQ(writable.Object(), nullptr);
}

TEST(StatisticsLibrary, CallsReachTheLibrarysSlotsInOrder) {
    TempDir dir;
    // A long work folder: the library gets at most 256 wide characters.
    std::string folder = dir.path() + "/" + std::string(200, 'f') + "/" + std::string(100, 'g');
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/" + StatisticsLibrary::kFileName;
    std::filesystem::copy_file(VELMORA_STATISTICS_STUB, path);
    chmod(path.c_str(), 0755);

    StatisticsLibrary library(folder);
    ASSERT_TRUE(library.Load());
    ASSERT_TRUE(library.Install(true));
    StatisticsObject* object = library.Object();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(library.Object(), object);
    object->SetString2(3584, "http://stats.test/product/index.php/");
    object->RecordEvent(7, 5);
    object->SetValue(4175, 1);
    object->SetWideString(4096, L"wide");
    object->SetString1(4097, "one");
    object->Increase(4098);
    object->Finish();

    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    auto log = reinterpret_cast<const char* (*)()>(dlsym(handle, "StubCallLog"));
    ASSERT_NE(log, nullptr);
    EXPECT_STREQ(log(),
                 "install 1 256;string2 3584=http://stats.test/product/index.php/;event 7,5;"
                 "value 4175=1;wide 4096=4;string1 4097=one;increase 4098;finish;");
    dlclose(handle);
}

TEST(BlockDeviceWatcher, ClassifiesEvents) {
    using Kind = BlockDeviceEvent::Kind;
    struct Case {
        const char* action;
        uint64_t size;
        bool known;
        Kind kind;
    } cases[] = {
        {"add", 4096, true, Kind::Appeared},   {"add", 0, true, Kind::Gone},
        {"change", 512, true, Kind::Appeared}, {"change", 0, true, Kind::Gone},
        {"remove", 0, true, Kind::Gone},       {"remove", 512, true, Kind::Gone},
        {"bind", 512, false, Kind::Gone},      {"", 512, false, Kind::Gone},
    };
    for (const auto& c : cases) {
        Kind kind = Kind::Gone;
        EXPECT_EQ(ClassifyBlockEvent(c.action, c.size, &kind), c.known) << c.action;
        if (c.known) {
            EXPECT_EQ(kind, c.kind) << c.action << " " << c.size;
        }
    }
}

TEST(BlockDeviceWatcher, SeesALoopDeviceAppearAndGo) {
    if (!velmora::test::IsRoot())
        GTEST_SKIP() << "attaching a loop device needs root";
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<BlockDeviceEvent> events;
    BlockDeviceWatcher watcher;
    if (!watcher.Start([&](const BlockDeviceEvent& e) {
            std::lock_guard lock(mutex);
            events.push_back(e);
            changed.notify_all();
        }))
        GTEST_SKIP() << "no device events can be received here";

    TempDir dir;
    velmora::test::WriteFile(dir / "disk.img", std::vector<uint8_t>(4 << 20, 0));
    std::string name;
    if (!velmora::test::RunProgram({"losetup", "-f", "--show", dir / "disk.img"}, &name))
        GTEST_SKIP() << "no loop device could be attached here";
    name = name.substr(0, name.find('\n'));
    name = name.substr(name.rfind('/') + 1);

    auto waitFor = [&](BlockDeviceEvent::Kind kind) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] {
            for (const auto& e : events) {
                if (e.name == name && e.kind == kind)
                    return true;
            }
            return false;
        });
    };
    const bool appeared = waitFor(BlockDeviceEvent::Kind::Appeared);
    velmora::test::RunProgram({"losetup", "-d", "/dev/" + name});
    ASSERT_TRUE(appeared) << name << " attached but no event said so";
    EXPECT_TRUE(waitFor(BlockDeviceEvent::Kind::Gone)) << name << " detached unseen";
    {
        std::lock_guard lock(mutex);
        for (const auto& e : events) {
            if (e.name == name && e.kind == BlockDeviceEvent::Kind::Appeared) {
                EXPECT_EQ(e.sizeBytes, 4u << 20);
            }
        }
    }
    watcher.Stop();
    EXPECT_FALSE(watcher.Running());
}
