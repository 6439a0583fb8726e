#pragma once
// --backfill: the sensor's own 5-minute history, downloaded the way the window downloads it,
// fills what the logger did not see. Values from before the first live reading that are not in
// the history files yet go to history-YYYY-MM-DD.csv, marked as history.
#include "daylog.h"
#include "loggerreading.h"
#include "scodeusb.h"

#include <QString>

struct BackfillSensor {
    int typeCode = -1;
    bool hasPm10 = false;
    bool hasGas = false;
    GasKind gasKind = GasKind::None; // as the live readings showed it
    QByteArray model;
    QByteArray serial;
};

struct BackfillResult {
    bool answered = false; // the sensor answered the download at all
    bool partial = false;  // it stopped answering before the end
    int received = 0;      // values received
    int written = 0;       // of those, new ones before the cut-off, written to the files
    int packets = 0;       // history packets received and expected (partial downloads)
    int expected = 0;
    QString Describe() const; // one line for the log
};

// Downloads the history through the running sensor's codec (this blocks for as long as the
// download takes) and writes the values before cutoffMs that the history files lack.
BackfillResult Backfill_Run(SCodeUsb& codec, const BackfillSensor& sensor, int64_t cutoffMs, DayLog& history,
                            const QString& folder);
