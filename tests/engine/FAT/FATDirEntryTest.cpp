#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>

#include "FATDirEntry.h"
#include "FATFileNode.h"
#include "FatEntryBuilder.h"

namespace {

TEST(FATDirEntry, StrictAndRelaxedValidity) {
    struct Case {
        const char* name;
        RawEntry entry;
        std::function<void(RawEntry&)> change;
        bool strict;
        bool relaxed;
    };
    const std::vector<Case> cases = {
        {"file", ShortEntry("FILE    TXT", 0x20, 5, 100), [](auto&) {}, true, true},
        {"empty file", ShortEntry("EMPTY   TXT", 0x20, 0, 0), [](auto&) {}, true, true},
        {"size 0 but cluster 5", ShortEntry("FILE    TXT", 0x20, 5, 0), [](auto&) {}, false, true},
        {"size but no cluster", ShortEntry("FILE    TXT", 0x20, 0, 9), [](auto&) {}, false, true},
        {"folder", ShortEntry("DIR        ", 0x10, 0x12345, 0), [](auto&) {}, true, true},
        {"folder with size and high word", ShortEntry("DIR        ", 0x10, 0x12345, 4),
         [](auto&) {}, false, true},
        {"long-name piece", LongEntry(0x41, 0, u"x"), [](auto& e) { e[0] = 0x99; }, true, true},
        {"attribute above 0x3F", ShortEntry("FILE    TXT", 0x40, 5, 1), [](auto&) {}, false, false},
        {"month 13", ShortEntry("FILE    TXT", 0x20, 5, 1),
         [](auto& e) { vk::StoreLE<uint16_t>(&e[24], (44 << 9) | (13 << 5) | 1); }, false, false},
        {"day 0", ShortEntry("FILE    TXT", 0x20, 5, 1),
         [](auto& e) { vk::StoreLE<uint16_t>(&e[16], (44 << 9) | (3 << 5)); }, false, false},
        {"zero dates and times", ShortEntry("FILE    TXT", 0x20, 5, 1),
         [](auto& e) {
             std::memset(&e[14], 0, 6);
             std::memset(&e[22], 0, 4);
         },
         true, true},
        {"hour 24", ShortEntry("FILE    TXT", 0x20, 5, 1),
         [](auto& e) { vk::StoreLE<uint16_t>(&e[22], 24 << 11); }, false, false},
        {"seconds 60", ShortEntry("FILE    TXT", 0x20, 5, 1),
         [](auto& e) { vk::StoreLE<uint16_t>(&e[14], 30); }, false, false},
        {"volume label with odd name", ShortEntry("\x01\x02LABEL    ", 0x08, 0, 0), [](auto&) {},
         true, true},
        {"leading blank", ShortEntry(" FILE   TXT", 0x20, 5, 1), [](auto&) {}, false, false},
        {"control byte",
         ShortEntry("FI\x01"
                    "E    TXT",
                    0x20, 5, 1),
         [](auto&) {}, false, false},
        {"star", ShortEntry("FI*E    TXT", 0x20, 5, 1), [](auto&) {}, false, false},
        {"pipe", ShortEntry("FILE    T|T", 0x20, 5, 1), [](auto&) {}, false, false},
        {"byte 0xFF", ShortEntry("FILE\xFF   TXT", 0x20, 5, 1), [](auto&) {}, false, false},
        {"deleted", ShortEntry("\xE5ILE    TXT", 0x20, 5, 1), [](auto&) {}, true, true},
        // A lead byte of 0x80 or more carries the next byte with it, whatever it is.
        {"double-byte character", ShortEntry("\x81?LE    TXT", 0x20, 5, 1), [](auto&) {}, true,
         true},
        {"never used", RawEntry{}, [](auto&) {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawEntry e = c.entry;
        c.change(e);
        CTempFATDirEntry d(e.data());
        EXPECT_EQ(d.IsValidFATDirEntry(false), c.strict);
        EXPECT_EQ(d.IsValidFATDirEntry(true), c.relaxed);
    }
}

// Folder walks keep an entry whose only fault is a character a file system
// refuses; a control byte or a blank first byte still ends it. Only "." and
// ".." themselves are the folder's links.
TEST(FATDirEntry, SoundEntriesAndDotLinks) {
    const struct {
        const char* name11;
        bool valid;
        bool sound;
        bool dot;
    } cases[] = {
        {"FILE    TXT", true, true, false},   {"A/B     TXT", false, true, false},
        {"A\\B     TXT", false, true, false}, {"A:B*C?  TXT", false, true, false},
        {"..X     TXT", true, true, false},   {"..      TXT", true, true, false},
        {".          ", true, true, true},    {"..         ", true, true, true},
        {" FILE   TXT", false, false, false}, {"FI\x01E    TXT", false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name11);
        const RawEntry e = ShortEntry(c.name11, 0x20, 5, 1);
        const CTempFATDirEntry d(e.data());
        EXPECT_EQ(d.IsValidFATDirEntry(false), c.valid);
        EXPECT_EQ(d.IsSoundFATDirEntry(false), c.sound);
        EXPECT_EQ(d.IsSoundFATDirEntry(true), c.sound);
        EXPECT_EQ(d.IsDotEntry(), c.dot);
    }
}

TEST(FATDirEntry, ShortNames) {
    EXPECT_EQ(CTempFATDirEntry(ShortEntry("ABC        ", 0x20, 0, 0).data()).GetShortName(), "ABC");
    EXPECT_EQ(CTempFATDirEntry(ShortEntry("\xE5"
                                          "BC     TXT",
                                          0x20, 3, 1)
                                   .data())
                  .GetShortName(),
              "#BC.TXT");
    EXPECT_EQ(CTempFATDirEntry(ShortEntry("N\x81ME    T\xF0T", 0x20, 3, 1).data()).GetShortName(),
              "N_ME.T_T");
    EXPECT_EQ(CTempFATDirEntry(ShortEntry("MY VOLUMEAB", 0x08, 0, 0).data()).GetShortName(true),
              "MY VOLUMEAB");
    EXPECT_EQ(CTempFATDirEntry(ShortEntry("README     ", 0x20, 3, 1).data()).GetShortName(),
              "README");
    // Lower-case flags of byte 12 (base 0x08, extension 0x10); a label keeps its case.
    for (const auto& [flags, shown] : std::vector<std::pair<uint8_t, std::string>>{
             {0x08, "notes.TXT"}, {0x10, "NOTES.txt"}, {0x18, "notes.txt"}}) {
        RawEntry e = ShortEntry("NOTES   TXT", 0x20, 3, 1);
        e[12] = flags;
        EXPECT_EQ(CTempFATDirEntry(e.data()).GetShortName(), shown);
    }
    RawEntry label = ShortEntry("MY VOLUMEAB", 0x08, 0, 0);
    label[12] = 0x18;
    EXPECT_EQ(CTempFATDirEntry(label.data()).GetShortName(true), "MY VOLUMEAB");
}

TEST(FATDirEntry, ClusterWordsAndRevision) {
    RawEntry e = ShortEntry("FILE    TXT", 0x20, 0x0005, 10);
    vk::StoreLE<uint16_t>(&e[20], 0x0012);
    CTempFATDirEntry d(e.data());
    EXPECT_EQ(d.GetFirstClusterNO(), 0x120005u);
    d.SetIsReviseDirEntryCluNum(true);
    d.SetReviseDirEntryCluNum(0);
    EXPECT_EQ(d.GetFirstClusterNO(), 0x120005u);  // a zero revision is ignored
    d.SetReviseDirEntryCluNum(0x30005);
    EXPECT_EQ(d.GetFirstClusterNO(), 0x30005u);
    d.SetIsReviseDirEntryCluNum(false);
    ASSERT_TRUE(d.SetFirstClusterNO(0x10876));
    EXPECT_EQ(vk::LoadLE<uint16_t>(&e[20]), 0x0001);
    EXPECT_EQ(vk::LoadLE<uint16_t>(&e[26]), 0x0876);
    const RawEntry ro = e;
    CTempFATDirEntry readOnly(ro.data());
    EXPECT_FALSE(readOnly.SetFirstClusterNO(7));
}

TEST(FATDirEntry, LongNamePiecesConvertToUtf8) {
    EXPECT_EQ(CTempFATDirEntry(LongEntry(0x41, 0, u"photo one.jpg").data()).GetLongFileName(),
              "photo one.jpg");
    EXPECT_EQ(CTempFATDirEntry(LongEntry(0x41, 0, u"\u00dcn\u00efc\u00f6d\u00e9").data())
                  .GetLongFileName(),
              "\u00dcn\u00efc\u00f6d\u00e9");
    EXPECT_EQ(CTempFATDirEntry(LongEntry(0x41, 0, u"a\U0001F600b").data()).GetLongFileName(),
              "a\U0001F600b");
    // A lone surrogate is not text: marked, the rest kept.
    EXPECT_EQ(CTempFATDirEntry(LongEntry(0x41, 0, u"a\xD800z").data()).GetLongFileName(), "a_z");
    EXPECT_EQ(CTempFATDirEntry(LongEntry(0x41, 0, u"").data()).GetLongFileName(), "_");

    // The output bound holds and no character is cut in half.
    const RawEntry accents = LongEntry(0x41, 0, u"\u00e9\u00e9\u00e9");
    CTempFATDirEntry d(accents.data());
    char small[4];
    d.GetLongFileName(small, sizeof(small));
    EXPECT_STREQ(small, "\u00e9");
}

TEST(FATDirEntry, LongNameRuns) {
    const char* shortName = "PHOTOO~1JPG";
    const uint8_t sum = Checksum(shortName);
    const RawEntry shortEntry = ShortEntry(shortName, 0x20, 5, 100);
    const RawEntry piece2 = LongEntry(0x42, sum, u"g");
    const RawEntry piece1 = LongEntry(0x01, sum, u"photo one.jp");
    {
        CFATLongNameRun run;
        ASSERT_TRUE(run.Add(CTempFATDirEntry(piece2.data())));
        ASSERT_TRUE(run.Add(CTempFATDirEntry(piece1.data())));
        std::string name;
        ASSERT_TRUE(run.Finish(CTempFATDirEntry(shortEntry.data()), name));
        EXPECT_EQ(name, "photo one.jpg");
        EXPECT_EQ(CTempFATDirEntry(shortEntry.data()).ShortNameChecksum(), sum);
    }
    struct Broken {
        const char* name;
        std::vector<RawEntry> pieces;
        RawEntry shortEntry;
    };
    const std::vector<Broken> broken = {
        {"checksum of another entry", {piece2, piece1}, ShortEntry("OTHER   JPG", 0x20, 5, 100)},
        {"missing first piece", {piece2}, shortEntry},
        {"missing last piece", {piece1}, shortEntry},
        {"pieces of two names",
         {piece2, LongEntry(0x01, static_cast<uint8_t>(sum + 1), u"x")},
         shortEntry},
    };
    for (const auto& b : broken) {
        SCOPED_TRACE(b.name);
        CFATLongNameRun run;
        for (const auto& p : b.pieces)
            run.Add(CTempFATDirEntry(p.data()));
        std::string name = "unchanged";
        EXPECT_FALSE(run.Finish(CTempFATDirEntry(b.shortEntry.data()), name));
        EXPECT_EQ(name, "unchanged");
        EXPECT_TRUE(run.Empty());
    }
    // Characters Windows forbids, a control character, a "/": the name its
    // checksum ties to the short entry is the file's, kept as it is.
    const struct {
        const char16_t* units;
        const char* name;
    } odd[] = {{u"a:b.txt", "a:b.txt"}, {u"a/b?.txt", "a/b?.txt"}, {u"a\x01b.txt", "a\x01b.txt"}};
    for (const auto& o : odd) {
        CFATLongNameRun run;
        run.Add(CTempFATDirEntry(LongEntry(0x41, sum, o.units).data()));
        std::string name;
        EXPECT_TRUE(run.Finish(CTempFATDirEntry(shortEntry.data()), name)) << o.name;
        EXPECT_EQ(name, o.name);
    }
    // Deleted: the sequence bytes and the short name's first byte are gone.
    RawEntry d2 = piece2, d1 = piece1, ds = shortEntry;
    d2[0] = d1[0] = ds[0] = 0xE5;
    CFATLongNameRun run;
    run.Add(CTempFATDirEntry(d2.data()));
    run.Add(CTempFATDirEntry(d1.data()));
    std::string name;
    ASSERT_TRUE(run.Finish(CTempFATDirEntry(ds.data()), name));
    EXPECT_EQ(name, "photo one.jpg");

    // A deleted run has no sequence numbers to end it: sixty pieces of 13
    // three-byte characters outgrow the name limit and give no name.
    CFATLongNameRun longRun;
    const std::u16string wide(13, u'\u4e2d');
    for (int i = 0; i < 60; ++i) {
        RawEntry p = LongEntry(0x01, sum, wide);
        p[0] = 0xE5;
        longRun.Add(CTempFATDirEntry(p.data()));
    }
    EXPECT_FALSE(longRun.Finish(CTempFATDirEntry(ds.data()), name));
}

// The pieces of a long name for `units`, as they lie on disk (last piece
// first), for the short entry `shortName`.
std::vector<RawEntry> LongNamePieces(const std::u16string& units, const char* shortName) {
    const uint8_t sum = Checksum(shortName);
    std::vector<RawEntry> pieces;
    const size_t count = (units.size() + 12) / 13;
    for (size_t k = count; k-- > 0;) {
        const uint8_t ordinal = static_cast<uint8_t>((k + 1) | (k + 1 == count ? 0x40 : 0));
        pieces.push_back(LongEntry(ordinal, sum, units.substr(k * 13, 13)));
    }
    return pieces;
}

// Characters outside the Basic Multilingual Plane take two units, and a
// pair can be split across two pieces: the name is joined before it is
// converted.
TEST(FATDirEntry, LongNamesAreJoinedBeforeTheyAreConverted) {
    std::u16string emoji;
    std::string utf8;
    for (int i = 0; i < 127; ++i) {
        emoji += u"\U0001F600";
        utf8 += "\U0001F600";
    }
    struct Case {
        const char* what;
        std::u16string units;
        std::string name;
    } cases[] = {
        {"127 emoji (254 units, pairs split at every other piece)", emoji, utf8},
        {"one pair across the first boundary", u"abcdefghijkl\U0001F600z",
         "abcdefghijkl\U0001F600z"},
        {"a lone surrogate stays marked", u"abcdefghijkl\xD83Dz", "abcdefghijkl_z"},
    };
    const char* shortName = "EMOJI~1    ";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto pieces = LongNamePieces(c.units, shortName);
        CFATLongNameRun run;
        for (const RawEntry& p : pieces)
            ASSERT_TRUE(run.Add(CTempFATDirEntry(p.data())));
        std::string name;
        ASSERT_TRUE(run.Finish(CTempFATDirEntry(ShortEntry(shortName, 0x20, 5, 10).data()), name));
        EXPECT_EQ(name, c.name);
        // The same through the properties builder of the directory walk.
        std::vector<RawEntry> entries = pieces;
        entries.push_back(ShortEntry(shortName, 0x20, 5, 10));
        const auto buffer = Join(entries);
        std::unique_ptr<CFATFileProperties> props(
            CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(buffer.data(),
                                                                              buffer.size()));
        ASSERT_NE(props, nullptr);
        EXPECT_STREQ(props->GetFileName(), c.name.c_str());
    }
}

TEST(FATDirEntry, DosTimesAreLocalTime) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    _FILETIME ft{};
    // 2024-04-21 11:17:56 UTC = 1713698276
    ASSERT_TRUE(DosDateTimeToFileTime(0x5895, 0x5A3C, &ft));
    EXPECT_EQ(FileTimeToU64(ft), 1713698276ULL * 10000000ULL + 116444736000000000ULL);
    // 1980-01-01 00:00:00
    ASSERT_TRUE(DosDateTimeToFileTime(0x0021, 0, &ft));
    EXPECT_EQ(FileTimeToUnixTime(FileTimeToU64(ft)), 315532800);
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    ASSERT_TRUE(DosDateTimeToFileTime(0x5895, 0x5A3C, &ft));
    EXPECT_EQ(FileTimeToUnixTime(FileTimeToU64(ft)), 1713698276 - 2 * 3600);  // summer time
    // The day summer time starts (2024-03-31): 01:30 is still winter time,
    // 03:30 already summer time.
    ASSERT_TRUE(DosDateTimeToFileTime(0x587F, 0x0BC0, &ft));
    EXPECT_EQ(FileTimeToUnixTime(FileTimeToU64(ft)), 1711845000);
    ASSERT_TRUE(DosDateTimeToFileTime(0x587F, 0x1BC0, &ft));
    EXPECT_EQ(FileTimeToUnixTime(FileTimeToU64(ft)), 1711848600);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// Every hour of the days around the changes of a few zones (Lord Howe moves
// by half an hour, Samoa skipped a whole day) agrees with mktime, whichever
// order the days and hours are asked in. An hour that happens twice when the
// clocks go back is left out: mktime itself answers either, depending on
// its earlier calls.
TEST(FATDirEntry, DosTimesMatchMktimeAroundZoneChanges) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    struct Day {
        int year, month, day;
    };
    const struct {
        const char* zone;
        std::vector<Day> days;
    } cases[] = {
        {"Europe/Berlin",
         {{2024, 3, 30}, {2024, 3, 31}, {2024, 4, 1}, {2024, 10, 27}, {1996, 9, 29}}},
        {"America/New_York", {{2024, 3, 10}, {2024, 11, 3}, {2007, 3, 11}}},
        {"Australia/Lord_Howe", {{2024, 4, 7}, {2024, 10, 6}}},
        {"Pacific/Apia", {{2011, 12, 29}, {2011, 12, 30}, {2011, 12, 31}}},
        {"UTC", {{1980, 1, 1}, {2107, 12, 31}}},
    };
    for (const auto& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        for (const bool reverse : {false, true}) {
            for (const Day& d : c.days) {
                const uint16_t date =
                    static_cast<uint16_t>(((d.year - 1980) << 9) | (d.month << 5) | d.day);
                for (int k = 0; k < 24; ++k) {
                    const int hour = reverse ? 23 - k : k;
                    const uint16_t time = static_cast<uint16_t>((hour << 11) | (30 << 5) | 7);
                    std::tm tm{};
                    tm.tm_year = d.year - 1900;
                    tm.tm_mon = d.month - 1;
                    tm.tm_mday = d.day;
                    tm.tm_hour = hour;
                    std::tm winter = tm, summer = tm;
                    winter.tm_isdst = 0;
                    summer.tm_isdst = 1;
                    const time_t w = mktime(&winter), s = mktime(&summer);
                    if (w != s && winter.tm_hour == hour && summer.tm_hour == hour)
                        continue;
                    tm.tm_isdst = -1;
                    const time_t expected = mktime(&tm) + 30 * 60 + 14;
                    _FILETIME ft{};
                    ASSERT_TRUE(DosDateTimeToFileTime(date, time, &ft));
                    EXPECT_EQ(FileTimeToUnixTime(FileTimeToU64(ft)), expected)
                        << c.zone << " " << d.year << "-" << d.month << "-" << d.day << " " << hour
                        << ":30";
                }
            }
        }
    }
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

}  // namespace
