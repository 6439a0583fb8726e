#pragma once
// The day files: one CSV file per local day in one folder, appended line by line so that a
// kill -9 or a power cut never leaves a torn line behind for a reader, and a full disk or an
// unwritable folder damages nothing already written.
//
// Each line is written whole with one write() (and rolled back with ftruncate when the write
// fails part-way); Sync() runs fdatasync. Opening a day file that ends in a torn line (no "\n"
// at the end: the last write before a crash) cuts that line off before anything is appended.
// Lines that cannot be written stay in a bounded queue and go out, in order, with Retry().
//
// A day file's times never go backwards. A reading stamped before the last line of its day's
// file (the wall clock was set back, or a board without a clock restored an older time) goes to
// the day's next part, YYYY-MM-DD-2.csv (then -3, ...), whose times rise again; once the clock
// has passed the day file's last time, readings go to the day file again.
#include "loggerreading.h"

#include <QByteArray>
#include <QDate>
#include <QMap>
#include <QString>
#include <QStringList>
#include <deque>
#include <sys/types.h>

class DayLog {
public:
    // history: the files are history-YYYY-MM-DD.csv (the sensor's stored 5-minute values), which
    // are appended in the order given.
    DayLog(const QString& folder, bool history);
    ~DayLog(); // syncs and closes
    DayLog(const DayLog&) = delete;
    DayLog& operator=(const DayLog&) = delete;

    // Appends the reading to the file of its local day (a new file starts with the header).
    // false when it could not be written now: it is queued and goes out with Retry().
    bool Append(const LoggerReading& r);
    // Writes what is queued, oldest first; true when nothing is left.
    bool Retry();
    // Checks that the open file is still there (a file or folder removed while recording is made
    // again, with the lines written since the last sync), then fdatasync. false when it failed.
    bool Sync();
    // Closes the file; the next Append opens it again (log rotation: SIGHUP).
    void Reopen();

    bool Failing() const { return !m_Error.isEmpty(); }
    // What went wrong last, e.g. "disk full: /var/lib/vostral/2026-12-08.csv: No space left on device".
    QString LastError() const { return m_Error; }
    // Lines waiting for Retry(), and lines dropped because the queue was full.
    int Queued() const { return int(m_Queue.size()); }
    int64_t Dropped() const { return m_Dropped; }
    // Things worth a line in the log since the last call: a file that was removed and made
    // again, readings going to another part of their day.
    QStringList TakeNotices();

    // About 4 MB of waiting lines (some 130 bytes each with their bookkeeping): eight hours of
    // one reading a second. The oldest go first beyond it.
    enum { kMaxQueued = 30000, kMaxParts = 9, kMaxUnsyncedBytes = 256 << 10 };

private:
    struct Line {
        QDate day;
        int64_t sec;
        QByteArray text;
    };
    bool WriteLine(const Line& line);
    int PartFor(const Line& line);
    bool OpenDay(const QDate& day, int part);
    bool CutTornTail(off_t size);
    int64_t LastLineSec(off_t size);
    bool WriteWhole(const QByteArray& bytes);
    bool Recreate();
    void Fail(int err, const QString& path);
    void Enqueue(const Line& line);
    void Close();
    QString DayPath(const QDate& day, int part) const;

    QString m_Folder;
    bool m_History;
    int m_Fd = -1;
    QDate m_Day;
    int m_Part = 1;
    int64_t m_LastSec = 0;       // the open file's last line (INT64_MIN: none yet)
    QDate m_PartsDay;            // the day whose parts' last times are known ...
    QMap<int, int64_t> m_PartLast; // ... part -> last second written
    int m_LastPartUsed = 1;      // where the last reading went, for the notices
    QDate m_LastPartDay;
    bool m_Dirty = false;        // written since the last fdatasync
    QByteArray m_Unsynced;       // lines written since then (a removed file gets them again)
    QString m_Error;
    QStringList m_Notices;
    std::deque<Line> m_Queue;
    int64_t m_Dropped = 0;
};
