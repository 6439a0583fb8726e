#pragma once
// What InfluxDB has accepted of the day files: per file, the byte offset up to which its lines
// were written to the database. The InfluxDB output keeps it in the output folder as
// .influx-position, so that after an outage or a restart it sends the lines from there:
//
//   vostral-logger influx position 1
//   2026-12-08.csv 123456
//   history-2026-12-07.csv 8123
//   end
//
// The file is outside input (anyone may have edited, truncated or replaced it): the parser takes
// only exactly this layout, and the final "end" line tells a whole file from a cut one.
#include <QByteArray>
#include <QDate>
#include <QMap>
#include <QString>

// A day file's name read back: "2026-12-08.csv", "2026-12-08-2.csv" (a later part of the day),
// "history-2026-12-08.csv". false for any other name, or one Csv_DayFileName would not write.
struct DayFileName {
    QDate day;
    bool history = false;
    int part = 1;
};
bool Influx_ParseDayFileName(const QString& name, DayFileName* out);

using InfluxPositions = QMap<QString, int64_t>; // file name -> bytes accepted

QByteArray InfluxPosition_Format(const InfluxPositions& positions);
// false with *why ("no end line", "line 3: ...") for anything but a whole file of the layout
// above; then *out is unchanged. Offsets beyond a file's size are the caller's to judge.
bool InfluxPosition_Parse(const QByteArray& text, InfluxPositions* out, QString* why);

enum { kInfluxPositionMaxBytes = 256 << 10, kInfluxPositionMaxFiles = 4000 };
