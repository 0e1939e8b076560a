// Local time: the wall clock with milliseconds, and a date-time value (days
// since 30 December 1899 as a double) that formats like the log needs.
#pragma once

#include <functional>
#include <string>

#include "platform/base/wintypes.h"

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// The current local time, with milliseconds.
void GetLocalTime(SYSTEMTIME* st);

// Tests replace the clock with a fixed or stepping one; an empty function
// restores the system clock.
void SetLocalTimeSourceForTesting(std::function<SYSTEMTIME()> source);

class DateTime {
public:
    enum Status { valid = 0, invalid = 1 };

    DateTime() = default;
    explicit DateTime(double days) : m_dt(days) {}
    DateTime(int year, int month, int day, int hour, int minute, int second);

    static DateTime GetCurrentTime();

    double GetDays() const { return m_dt; }
    Status GetStatus() const { return m_status; }
    bool GetAsSystemTime(SYSTEMTIME& st) const;

    // strftime-style format ("%H:%M:%S", "%y%m%d", ...); empty when invalid.
    std::string Format(const char* format) const;

    bool operator==(const DateTime& o) const { return m_dt == o.m_dt && m_status == o.m_status; }

private:
    double m_dt = 0.0;
    Status m_status = valid;
};
