#include "localclock.h"

#include <QDateTime>

namespace {
constexpr int64_t kBlockSecs = 900;

int64_t OffsetAt(int64_t secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).offsetFromUtc();
}

int64_t FloorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Month and day of a day count since 1970-01-01 in the proleptic Gregorian calendar.
void CivilFromDays(int64_t days, int* month, int* day)
{
    days += 719468;
    const int64_t era = FloorDiv(days, 146097);
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *day = int(doy - (153 * mp + 2) / 5 + 1);
    *month = int(mp < 10 ? mp + 3 : mp - 9);
}
} // namespace

LocalClockFields LocalClock::At(int64_t secs)
{
    if (secs < m_From || secs >= m_To) {
        // Zones change their offset a few times a year at most, never twice within a quarter
        // hour: equal offsets at both ends of the block hold for all of it.
        const int64_t from = FloorDiv(secs, kBlockSecs) * kBlockSecs;
        const int64_t offset = OffsetAt(secs);
        if (OffsetAt(from) == offset && OffsetAt(from + kBlockSecs - 1) == offset) {
            m_From = from;
            m_To = from + kBlockSecs;
        } else {
            m_From = secs;
            m_To = secs + 1;
        }
        m_Offset = offset;
    }
    const int64_t local = secs + m_Offset;
    const int64_t days = FloorDiv(local, 86400);
    const int64_t secOfDay = local - days * 86400;
    LocalClockFields f;
    CivilFromDays(days, &f.month, &f.day);
    f.hour = int(secOfDay / 3600);
    f.minute = int(secOfDay / 60 % 60);
    f.second = int(secOfDay % 60);
    return f;
}
