#pragma once
// The logger's clock formatting: instants (milliseconds since 1970, UTC) as local times with
// their UTC offset, local days and run names. Built from the C library's local time and its
// offset at that very instant, so the two sides of a daylight-saving change carry their own
// offsets (QDateTime::toString with Qt::ISODate writes no offset for local time). No locale.
#include <QByteArray>
#include <QDate>
#include <QString>
#include <cstdint>

// 2026-12-08T09:00:01+01:00 (seconds precision).
QByteArray LocalTime_Iso8601(int64_t timeMs);
// The local day the instant belongs to.
QDate LocalTime_Day(int64_t timeMs);
// "2026-12-08_090001": a run's name from its start, seconds since 1970.
QString LocalTime_RunName(int64_t sec);
