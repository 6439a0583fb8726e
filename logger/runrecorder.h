#pragma once
// Record files of the runs: every unbroken run of readings of one sensor within one local day
// becomes a record file (.str) that the window's File > Open shows with its true times:
//   YYYY-MM-DD_HHMMSS.str            PM2.5 and PM10 (channel 0), named after the run's start
//   YYYY-MM-DD_HHMMSS-formaldehyde.str / -tvoc.str   the gas channel (channel 1) of such a model
// A gap longer than 10 s, another sensor or local midnight starts a new run. A record file has
// one record per step (1 s, or the --interval); a step without a reading inside a run repeats
// the reading before it (the day file keeps only what arrived).
//
// A run's files are written once, when the run ends, and at exit (or on request, SIGHUP):
// rewriting a growing file every few minutes would cost an SD card many times the day's data.
// What a power cut takes from the running run is rebuilt from the day file at the next start
// (Runs_Rebuild), so the record files lose no more than the day file. Files are written
// atomically (a temporary file in the same folder, fsync, rename, fsync of the folder), so a
// reader sees the old or the new file whole; a file that cannot be written now (disk full)
// waits in memory and is tried again.
#include "loggerreading.h"
#include "tracfile.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <deque>

struct RunFile {
    QString path;
    QByteArray bytes;
};

class RunRecorder {
public:
    enum class Mode {
        Live,    // writes every run's files; a run never takes the name of an existing file
        Rebuild, // writes only the files that are missing, or shorter than the day file says
    };
    RunRecorder(const QString& folder, int stepSec, Mode mode = Mode::Live);
    ~RunRecorder(); // ends the run: its files are written
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    // Adds a live reading (history readings are not recorded here). A reading that starts a new
    // run ends the one before it.
    void Add(const LoggerReading& r);
    // The run is over (the sensor was lost, the clock stepped): its files are written. false
    // when they could not be: they wait for Retry().
    bool EndRun();
    // Writes the running run's files as they are now (at exit, on SIGHUP).
    bool Flush();
    // Writes the files that wait; true when none is left.
    bool Retry();

    bool Failing() const { return !m_Waiting.empty(); }
    QString LastError() const { return m_Error; }
    int Waiting() const { return int(m_Waiting.size()); }
    // Files given up because too many waited (their readings are in the day files, which
    // rebuild them at the next start).
    int64_t Dropped() const { return m_Dropped; }
    // Rebuild: the names of the files written.
    QStringList Written() const { return m_Written; }
    // Path of the running run's particulate record file, empty without a run.
    QString CurrentPath() const;

    enum { kMaxGapSec = 10, kMaxWaitingBytes = 8 << 20 };

private:
    bool EndsRun(int64_t sec, const QDate& day, const QByteArray& serial) const;
    void Begin(int64_t sec, const QDate& day, const QByteArray& serial);
    bool Put(_STracFile** trac, int64_t index, uint16_t value1, uint16_t value2);
    QString ChannelPath(int channel) const;
    std::deque<RunFile> Files() const;
    bool Write(std::deque<RunFile> files);
    void Forget();

    QString m_Folder;
    int m_StepSec;
    Mode m_Mode;
    QString m_Error;
    std::deque<RunFile> m_Waiting;
    int64_t m_Dropped = 0;
    QStringList m_Written;
    QStringList m_Names; // run names taken by this recorder
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

// Rebuilds the record files of the runs in the newest two days' files (YYYY-MM-DD.csv and its
// parts) that are missing or shorter than the day file says: what a power cut or a kill took.
// Returns the names written; *error says what could not be written.
QStringList Runs_Rebuild(const QString& folder, int stepSec, QString* error);

// A container's used records as a record file's bytes (the layout Trac_Write writes).
QByteArray Trac_ToBytes(const _STracFile* trac, int channel);

// Writes `data` to `path` atomically: temporary file beside it, fsync, rename, fsync of the
// folder. false with errno set when any step failed; the old file is then untouched.
bool Atomic_WriteFile(const QString& path, const QByteArray& data);
// The temporary files Atomic_WriteFile leaves behind when it is interrupted (a kill, a power
// cut) in the folder: removed; returns how many.
int Atomic_RemoveStale(const QString& folder);
