// Local time from clock_gettime/localtime_r, and the day-count date-time.
#include "platform/base/clock.h"

#include <cmath>
#include <ctime>
#include <mutex>

namespace {

std::mutex g_sourceMutex;
std::function<SYSTEMTIME()> g_source;

SYSTEMTIME SystemLocalTime()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t.tm_year + 1900);
    st.wMonth = static_cast<WORD>(t.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(t.tm_wday);
    st.wDay = static_cast<WORD>(t.tm_mday);
    st.wHour = static_cast<WORD>(t.tm_hour);
    st.wMinute = static_cast<WORD>(t.tm_min);
    st.wSecond = static_cast<WORD>(t.tm_sec);
    st.wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
    return st;
}

// Days from the day-count epoch (1899-12-30) to a civil date, through the
// C library's UTC calendar so no calendar arithmetic lives here.
constexpr long kUnixEpochDay = 25569;  // 1970-01-01 as a day count

long DaysFromEpoch(int y, int m, int d)
{
    tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    t.tm_hour = 12;  // noon keeps the division clear of any leap second
    const time_t secs = timegm(&t);
    return static_cast<long>(secs / 86400) + kUnixEpochDay;
}

void CivilFromDays(long days, int& y, int& m, int& d)
{
    const time_t secs = static_cast<time_t>(days - kUnixEpochDay) * 86400 + 43200;
    tm t{};
    gmtime_r(&secs, &t);
    y = t.tm_year + 1900;
    m = t.tm_mon + 1;
    d = t.tm_mday;
}

}  // namespace

void GetLocalTime(SYSTEMTIME* st)
{
    std::function<SYSTEMTIME()> source;
    {
        std::lock_guard<std::mutex> lock(g_sourceMutex);
        source = g_source;
    }
    *st = source ? source() : SystemLocalTime();
}

void SetLocalTimeSourceForTesting(std::function<SYSTEMTIME()> source)
{
    std::lock_guard<std::mutex> lock(g_sourceMutex);
    g_source = std::move(source);
}

DateTime::DateTime(int year, int month, int day, int hour, int minute, int second)
{
    const double days = static_cast<double>(DaysFromEpoch(year, month, day));
    const double secs = hour * 3600.0 + minute * 60.0 + second;
    m_dt = days + secs / 86400.0;
}

DateTime DateTime::GetCurrentTime()
{
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return DateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

bool DateTime::GetAsSystemTime(SYSTEMTIME& st) const
{
    if (m_status != valid)
        return false;
    const double whole = std::floor(m_dt);
    long secs = std::lround((m_dt - whole) * 86400.0);
    long days = static_cast<long>(whole);
    if (secs >= 86400) {
        secs -= 86400;
        ++days;
    }
    int y = 0, m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    st = SYSTEMTIME{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wDayOfWeek = static_cast<WORD>(((days - kUnixEpochDay) % 7 + 7 + 4) % 7);  // 1970-01-01 was a Thursday
    st.wHour = static_cast<WORD>(secs / 3600);
    st.wMinute = static_cast<WORD>(secs / 60 % 60);
    st.wSecond = static_cast<WORD>(secs % 60);
    return true;
}

std::string DateTime::Format(const char* format) const
{
    SYSTEMTIME st{};
    if (!GetAsSystemTime(st))
        return {};
    tm t{};
    t.tm_year = st.wYear - 1900;
    t.tm_mon = st.wMonth - 1;
    t.tm_mday = st.wDay;
    t.tm_hour = st.wHour;
    t.tm_min = st.wMinute;
    t.tm_sec = st.wSecond;
    t.tm_wday = st.wDayOfWeek;
    char buf[256];
    const size_t n = strftime(buf, sizeof buf, format, &t);
    return std::string(buf, n);
}
