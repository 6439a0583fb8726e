#pragma once
// InfluxDB line protocol for the logger's readings, one point per day-file line:
//
//   air_quality,serial=0123456789ab,model=LV51,source=live pm2_5=12.3,pm10=20.1,formaldehyde=0.012 1796716801000000000
//
// Fields only for the quantities the reading carries, with the day files' decimals and always a
// decimal point, whatever the locale (a decimal comma would split the field in two);
// readings=Ni (an integer field) only for an --interval mean. Pure functions.
#include "loggerreading.h"

#include <QByteArray>

// A tag value with the characters that would end it (comma, equals sign, space) escaped by a
// backslash. A backslash of its own becomes "_": InfluxDB 1.x keeps an escaped one doubled and
// refuses one at the end of a value, 2.x reads it as one; no form means the same to both.
QByteArray Influx_EscapeTag(const QByteArray& value);
// The point's time. The day files stamp whole seconds, so two readings within one second would be
// one point and the second would replace the first: the repeat-th line of a file with the same
// second as the line before it (0 for the first) is that many nanoseconds later, and the part of a
// day that a clock set back wrote (part 2 and up, see DayLog) a thousand nanoseconds per part.
int64_t Influx_TimeNs(int64_t timeMs, int part, int repeat);
// One line without its line end; empty when the reading carries no quantity at all (a point
// needs a field).
QByteArray Influx_Line(const LoggerReading& r, int64_t timeNs);
