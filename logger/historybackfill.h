#pragma once
// --backfill: the sensor's own 5-minute history, downloaded the way the window downloads it,
// fills what the logger did not see. Values from before the first live reading that are not in
// the history files yet go to history-YYYY-MM-DD.csv, marked as history.
//
// The models whose history carries no time stamps (the old format) are placed on a grid that
// does not move between downloads: the newest value on the model's interval at or before the
// download, the rest one interval apart before it; a download that lands one slot off the
// values already on disk (the device stores on its own beat) is moved onto them.
#include "loggerreading.h"
#include "scodeusb.h"

#include <QString>
#include <vector>

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
    bool stopped = false;  // the logger was asked to stop during it
    int received = 0;      // values received
    int written = 0;       // of those, new ones before the cut-off, written to the files
    int packets = 0;       // history packets received and expected (partial downloads)
    int expected = 0;
    QString Describe() const; // one line for the log
};

// Downloads the history through the running sensor's codec (this blocks for as long as the
// download takes, or until codec.m_StopRequested says stop) and hands over in *values (oldest
// first, marked history) the values before cutoffMs that the history files in `folder` lack.
// nowMs: the wall time at the start of the download.
BackfillResult Backfill_Run(SCodeUsb& codec, const BackfillSensor& sensor, int64_t cutoffMs, int64_t nowMs,
                            const QString& folder, std::vector<LoggerReading>* values);
