// The engine's time records and clock functions, with Windows-style names.
#pragma once

#include <cstdint>
#include <ctime>

struct _SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;      // 1-12
    uint16_t wDayOfWeek;  // 0-6, 0 is Sunday
    uint16_t wDay;        // 1-31
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
static_assert(sizeof(_SYSTEMTIME) == 16);

// 100-nanosecond ticks since 1601-01-01, low half first.
struct _FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};
static_assert(sizeof(_FILETIME) == 8);

// Ticks between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;
constexpr uint64_t kFileTimeTicksPerSecond = 10000000ULL;

// Fills the record from the local clock; 0, or 0xFFFFFFFF for a null record.
uint32_t GetLocalTime(_SYSTEMTIME* st);

// Fills the record from a POSIX time in local time, milliseconds 0. A negative
// time leaves the record untouched. Returns 0.
uint32_t ConverTime(time_t t, _SYSTEMTIME* st);

// Milliseconds at one-second resolution, truncated to 32 bits; only
// differences are meaningful.
uint32_t GetTickCount();

constexpr uint64_t FileTimeToU64(const _FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
constexpr _FILETIME U64ToFileTime(uint64_t v) {
    return _FILETIME{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
}
// POSIX seconds to the 1601 tick scale (times before 1601 clamp to 0).
constexpr uint64_t UnixTimeToFileTime(int64_t seconds) {
    const int64_t earliest = -static_cast<int64_t>(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
    if (seconds < earliest)
        return 0;
    return static_cast<uint64_t>(seconds - earliest) * kFileTimeTicksPerSecond;
}
// The 1601 tick scale back to POSIX seconds (sub-second part dropped).
constexpr int64_t FileTimeToUnixTime(uint64_t ticks) {
    return static_cast<int64_t>(ticks / kFileTimeTicksPerSecond) -
           static_cast<int64_t>(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
}
