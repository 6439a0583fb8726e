#include "localtime.h"

#include <cstdio>
#include <ctime>

namespace {
struct LocalFields {
    int year, month, day, hour, minute, second;
    int offsetSec;
};

int64_t FloorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

LocalFields Local(int64_t timeMs)
{
    const time_t secs = time_t(FloorDiv(timeMs, 1000));
    struct tm tm {};
    // Out of the zone's range, or an old local mean time whose offset has seconds (which an ISO
    // 8601 offset cannot carry): UTC names the instant exactly.
    if (!localtime_r(&secs, &tm) || tm.tm_gmtoff % 60 != 0)
        gmtime_r(&secs, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, int(tm.tm_gmtoff)};
}
} // namespace

QByteArray LocalTime_Iso8601(int64_t timeMs)
{
    const LocalFields l = Local(timeMs);
    const int off = l.offsetSec < 0 ? -l.offsetSec : l.offsetSec;
    char buf[48];
    snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", l.year, l.month, l.day, l.hour, l.minute,
             l.second, l.offsetSec < 0 ? '-' : '+', off / 3600, off / 60 % 60);
    return buf;
}

QDate LocalTime_Day(int64_t timeMs)
{
    const LocalFields l = Local(timeMs);
    return QDate(l.year, l.month, l.day);
}

QString LocalTime_RunName(int64_t sec)
{
    const LocalFields l = Local(sec * 1000);
    char buf[48];
    snprintf(buf, sizeof buf, "%04d-%02d-%02d_%02d%02d%02d", l.year, l.month, l.day, l.hour, l.minute, l.second);
    return QString::fromLatin1(buf);
}
