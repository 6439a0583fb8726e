#pragma once
// The day files: one CSV file per local day in one folder, appended line by line so that a
// kill -9 or a power cut never leaves a torn line behind for a reader, and a full disk or an
// unwritable folder damages nothing already written.
//
// Each line is written whole with one write() (and rolled back with ftruncate when the write
// fails part-way); Sync() runs fdatasync. Opening a day file that ends in a torn line (no "\n"
// at the end: the last write before a crash) cuts that line off before anything is appended.
// Lines that cannot be written stay in a bounded queue and go out, in order, with Retry().
#include "loggerreading.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <deque>
#include <sys/types.h>

class DayLog {
public:
    // history: the files are history-YYYY-MM-DD.csv (the sensor's stored 5-minute values).
    DayLog(const QString& folder, bool history);
    ~DayLog(); // syncs and closes
    DayLog(const DayLog&) = delete;
    DayLog& operator=(const DayLog&) = delete;

    // Appends the reading to the file of its local day (a new file starts with the header).
    // false when it could not be written now: it is queued and goes out with Retry().
    bool Append(const LoggerReading& r);
    // Writes what is queued, oldest first; true when nothing is left.
    bool Retry();
    // fdatasync of the open file; false when that failed.
    bool Sync();
    // Closes the file; the next Append opens it again (log rotation: SIGHUP).
    void Reopen();

    bool Failing() const { return !m_Error.isEmpty(); }
    // What went wrong last, e.g. "disk full: /var/lib/vostral/2026-12-08.csv: No space left on device".
    QString LastError() const { return m_Error; }
    // Lines waiting for Retry(), and lines dropped because the queue was full.
    int Queued() const { return int(m_Queue.size()); }
    int64_t Dropped() const { return m_Dropped; }

    // About 4 MB of waiting lines (some 130 bytes each with their bookkeeping): eight hours of
    // one reading a second. The oldest go first beyond it.
    enum { kMaxQueued = 30000 };

private:
    bool WriteLine(const QDate& day, const QByteArray& line);
    bool OpenDay(const QDate& day);
    bool CutTornTail(off_t size);
    bool WriteWhole(const QByteArray& bytes);
    void Fail(int err, const QString& path);
    void Enqueue(const QDate& day, const QByteArray& line);
    void Close();
    QString DayPath(const QDate& day) const;

    QString m_Folder;
    bool m_History;
    int m_Fd = -1;
    QDate m_Day;
    bool m_Dirty = false; // written since the last fdatasync
    QString m_Error;
    std::deque<std::pair<QDate, QByteArray>> m_Queue;
    int64_t m_Dropped = 0;
};
