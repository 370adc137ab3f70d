#include "Utility/SystemTime.h"

#include <sys/time.h>

namespace {

void FillFromTm(const struct tm& tm, _SYSTEMTIME* st) {
    st->wYear = static_cast<uint16_t>(tm.tm_year + 1900);
    st->wMonth = static_cast<uint16_t>(tm.tm_mon + 1);
    st->wDayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    st->wDay = static_cast<uint16_t>(tm.tm_mday);
    st->wHour = static_cast<uint16_t>(tm.tm_hour);
    st->wMinute = static_cast<uint16_t>(tm.tm_min);
    st->wSecond = static_cast<uint16_t>(tm.tm_sec);
}

}  // namespace

uint32_t GetLocalTime(_SYSTEMTIME* st) {
    if (st == nullptr)
        return 0xFFFFFFFFu;
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    struct tm tm {};
    time_t now = tv.tv_sec;
    localtime_r(&now, &tm);
    FillFromTm(tm, st);
    st->wMilliseconds = static_cast<uint16_t>(tv.tv_usec / 1000);
    return 0;
}

uint32_t ConverTime(time_t t, _SYSTEMTIME* st) {
    if (st == nullptr || t < 0)
        return 0;
    struct tm tm {};
    if (localtime_r(&t, &tm) == nullptr)
        return 0;
    FillFromTm(tm, st);
    st->wMilliseconds = 0;
    return 0;
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(static_cast<uint64_t>(time(nullptr)) * 1000u);
}
