#pragma once
// The day files' text: a header line naming the columns with their units and one line per
// reading. Pure functions; nothing here depends on the user's locale (a decimal point is
// always ".", times are ISO 8601 with their UTC offset).
//
//   time,pm2_5 (ug/m3),pm10 (ug/m3),formaldehyde (mg/m3),tvoc (mg/m3),model,serial,readings,source
//   2026-12-08T09:00:01+01:00,12.3,20.1,0.012,,LV51,0123456789ab,1,live
#include "localtime.h"
#include "loggerreading.h"

#include <QByteArray>
#include <QDate>
#include <QString>

// The header line, ending in "\n".
QByteArray Csv_Header();
// One reading as one line ending in "\n". A quantity the reading does not carry is an empty field.
QByteArray Csv_Line(const LoggerReading& r);
// The lines' times and days (the clock's own formatting, localtime.h).
inline QByteArray Csv_Time(int64_t timeMs) { return LocalTime_Iso8601(timeMs); }
inline QDate Csv_LocalDay(int64_t timeMs) { return LocalTime_Day(timeMs); }
// "2026-12-08.csv", or "history-2026-12-08.csv" for the sensor's stored history. Part 2 and up
// ("2026-12-08-2.csv") take the readings that a clock set back stamps before what the day's
// file already holds.
QString Csv_DayFileName(const QDate& day, bool history, int part = 1);

// Reads one line back (without its "\n"). false for anything that is not a whole line of this
// layout (the header, a torn line, garbage); then *out is unchanged.
bool Csv_ParseLine(const QByteArray& line, LoggerReading* out);
