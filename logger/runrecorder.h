#pragma once
// Record files of the runs: every unbroken run of readings of one sensor within one local day
// becomes a record file (.str) that the window's File > Open shows with its true times:
//   YYYY-MM-DD_HHMMSS.str            PM2.5 and PM10 (channel 0), named after the run's start
//   YYYY-MM-DD_HHMMSS-formaldehyde.str / -tvoc.str   the gas channel (channel 1) of such a model
// A gap longer than 10 s, another sensor or local midnight starts a new run. A record file has
// one record per step (1 s, or the --interval); a step without a reading inside a run repeats
// the reading before it (the day file keeps only what arrived).
//
// Files are written atomically (a temporary file in the same folder, fsync, rename, fsync of
// the folder), so a reader sees the old or the new file whole, never a half-written one.
#include "loggerreading.h"
#include "tracfile.h"

#include <QByteArray>
#include <QDate>
#include <QString>

class RunRecorder {
public:
    RunRecorder(const QString& folder, int stepSec);
    ~RunRecorder();
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    // Adds a live reading (history readings are not recorded here). A reading that starts a new
    // run writes the finished run's files first.
    void Add(const LoggerReading& r);
    // The run is over (the sensor was lost): writes its files and forgets it.
    bool EndRun();
    // Writes the running run's files now (every 10 minutes and at exit). false when a file
    // could not be written (LastError says why); the run goes on and is written next time.
    bool Flush();

    QString LastError() const { return m_Error; }
    // Path of the running run's particulate record file, empty without a run.
    QString CurrentPath() const;

    enum { kMaxGapSec = 10 };

private:
    bool EndsRun(int64_t sec, const QDate& day, const QByteArray& serial) const;
    void Begin(int64_t sec, const QDate& day, const QByteArray& serial);
    bool Put(_STracFile** trac, int64_t index, uint16_t value1, uint16_t value2);
    QString ChannelPath(int channel) const;
    void Forget();

    QString m_Folder;
    int m_StepSec;
    QString m_Error;
    // The running run: its start, sensor and day, the last reading's time, and one container
    // per channel (the gas one only once a gas value has arrived).
    bool m_Active = false;
    int64_t m_StartSec = 0;
    int64_t m_LastSec = 0;
    QDate m_Day;
    QByteArray m_Serial;
    GasKind m_GasKind = GasKind::None;
    QString m_Base; // folder/YYYY-MM-DD_HHMMSS
    _STracFile* m_Pm = nullptr;
    _STracFile* m_Gas = nullptr;
};

// A container's used records as a record file's bytes (the layout Trac_Write writes).
QByteArray Trac_ToBytes(const _STracFile* trac, int channel);

// Writes `data` to `path` atomically: temporary file beside it, fsync, rename, fsync of the
// folder. false with errno set when any step failed; the old file is then untouched.
bool Atomic_WriteFile(const QString& path, const QByteArray& data);
