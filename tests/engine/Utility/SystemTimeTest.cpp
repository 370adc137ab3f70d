#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Utility/SystemTime.h"

TEST(SystemTime, NullRecordIsRefused) {
    EXPECT_EQ(GetLocalTime(nullptr), 0xFFFFFFFFu);
}

TEST(SystemTime, LocalTimeIsPlausible) {
    _SYSTEMTIME st{};
    ASSERT_EQ(GetLocalTime(&st), 0u);
    EXPECT_GE(st.wYear, 2024);
    EXPECT_GE(st.wMonth, 1);
    EXPECT_LE(st.wMonth, 12);
    EXPECT_LE(st.wDayOfWeek, 6);
    EXPECT_LE(st.wHour, 23);
    EXPECT_LT(st.wMilliseconds, 1000);
}

TEST(SystemTime, ConverTimeUsesLocalZoneAndKeepsRecordForNegative) {
    setenv("TZ", "UTC", 1);
    tzset();
    _SYSTEMTIME st{};
    ConverTime(951782400 + 3661, &st);  // 2000-02-29 01:01:01 UTC, a Tuesday
    EXPECT_EQ(st.wYear, 2000);
    EXPECT_EQ(st.wMonth, 2);
    EXPECT_EQ(st.wDay, 29);
    EXPECT_EQ(st.wDayOfWeek, 2);
    EXPECT_EQ(st.wHour, 1);
    EXPECT_EQ(st.wMinute, 1);
    EXPECT_EQ(st.wSecond, 1);
    EXPECT_EQ(st.wMilliseconds, 0);

    _SYSTEMTIME keep = st;
    EXPECT_EQ(ConverTime(-5, &st), 0u);
    EXPECT_EQ(std::memcmp(&keep, &st, sizeof st), 0);
}

TEST(SystemTime, TickCountMovesInWholeSeconds) {
    uint32_t a = GetTickCount();
    uint32_t b = a;
    for (int i = 0; i < 30 && b == a; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        b = GetTickCount();
    }
    EXPECT_EQ(b - a, 1000u);
}

TEST(SystemTime, FileTimeScale) {
    EXPECT_EQ(UnixTimeToFileTime(0), 116444736000000000ULL);
    EXPECT_EQ(UnixTimeToFileTime(1), 116444736010000000ULL);
    EXPECT_EQ(FileTimeToUnixTime(UnixTimeToFileTime(1700000000)), 1700000000);
    EXPECT_EQ(UnixTimeToFileTime(-11644473601LL), 0u) << "before 1601 clamps";
    _FILETIME ft = U64ToFileTime(0x0123456789abcdefULL);
    EXPECT_EQ(ft.dwLowDateTime, 0x89abcdefu);
    EXPECT_EQ(ft.dwHighDateTime, 0x01234567u);
    EXPECT_EQ(FileTimeToU64(ft), 0x0123456789abcdefULL);
}
