// The day files, appended with plain descriptors: O_APPEND and one write() per line, so that a
// line is either in the file whole or, after a failed write has been rolled back, not at all.
#include "daylog.h"

#include "csvformat.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstring>

namespace {
constexpr off_t kTailChunk = 4096;
constexpr int64_t kNone = INT64_MIN;

int64_t Seconds(int64_t timeMs)
{
    return timeMs / 1000 - (timeMs % 1000 < 0 ? 1 : 0);
}
} // namespace

DayLog::DayLog(const QString& folder, bool history) : m_Folder(folder), m_History(history) {}

DayLog::~DayLog()
{
    Close();
}

QString DayLog::DayPath(const QDate& day, int part) const
{
    return m_Folder + QLatin1Char('/') + Csv_DayFileName(day, m_History, part);
}

QStringList DayLog::TakeNotices()
{
    QStringList notices;
    notices.swap(m_Notices);
    return notices;
}

void DayLog::Fail(int err, const QString& path)
{
    const QString why = QString::fromLocal8Bit(strerror(err));
    m_Error = err == ENOSPC || err == EDQUOT ? QStringLiteral("disk full: %1: %2").arg(path, why)
                                              : QStringLiteral("cannot write %1: %2").arg(path, why);
}

void DayLog::Close()
{
    if (m_Fd < 0)
        return;
    if (m_Dirty)
        fdatasync(m_Fd); // a day left behind is complete on disk, not only in the page cache
    close(m_Fd);
    m_Fd = -1;
    m_Dirty = false;
    m_Unsynced.clear();
    m_Day = QDate();
}

void DayLog::Reopen()
{
    Close();
    m_PartsDay = QDate(); // a rotated file is another file: read its last time again
}

bool DayLog::Recreate()
{
    const QDate day = m_Day;
    const int part = m_Part;
    const QByteArray lines = m_Unsynced;
    close(m_Fd); // nothing to sync: the file is gone
    m_Fd = -1;
    m_Dirty = false;
    m_Unsynced.clear();
    m_Day = QDate();
    m_PartsDay = QDate();
    if (!OpenDay(day, part) || (!lines.isEmpty() && !WriteWhole(lines))) {
        Fail(errno, DayPath(day, part));
        Close();
        return false;
    }
    m_Unsynced = lines;
    m_Notices << QStringLiteral("%1 was removed while recording; writing it anew").arg(DayPath(day, part));
    return true;
}

bool DayLog::Sync()
{
    if (m_Fd < 0)
        return true;
    // Unlinked (the file or its folder deleted): the lines would go nowhere until midnight.
    struct stat opened {}, named {};
    if (fstat(m_Fd, &opened) == 0 && opened.st_nlink == 0 && !Recreate())
        return false;
    // Moved away: what it holds is safe where it went; the name gets a file of its own again.
    if (m_Fd >= 0 && stat(QFile::encodeName(DayPath(m_Day, m_Part)).constData(), &named) != 0) {
        const QDate day = m_Day;
        const int part = m_Part;
        Close();
        m_PartsDay = QDate();
        if (!OpenDay(day, part)) {
            Fail(errno, DayPath(day, part));
            return false;
        }
        m_Notices << QStringLiteral("%1 was moved away while recording; writing a new one").arg(DayPath(day, part));
    }
    if (m_Fd < 0 || !m_Dirty)
        return true;
    if (fdatasync(m_Fd) != 0) {
        Fail(errno, DayPath(m_Day, m_Part));
        return false;
    }
    m_Dirty = false;
    m_Unsynced.clear();
    return true;
}

bool DayLog::WriteWhole(const QByteArray& bytes)
{
    const off_t before = lseek(m_Fd, 0, SEEK_END);
    if (before < 0)
        return false;
    ssize_t n;
    do {
        n = write(m_Fd, bytes.constData(), size_t(bytes.size()));
    } while (n < 0 && errno == EINTR);
    if (n == bytes.size()) {
        m_Dirty = true;
        return true;
    }
    // A short write to a regular file means the device filled up. Take the piece back, so the
    // line goes out whole on the next try and never twice.
    const int err = n < 0 ? errno : ENOSPC;
    if (n > 0 && ftruncate(m_Fd, before) != 0)
        Close(); // the next open cuts the torn piece off
    errno = err;
    return false;
}

bool DayLog::CutTornTail(off_t size)
{
    // Look back for the last newline; everything after it is the remains of an interrupted write.
    off_t end = size;
    while (end > 0) {
        char buf[kTailChunk];
        const off_t from = end > kTailChunk ? end - kTailChunk : 0;
        const ssize_t got = pread(m_Fd, buf, size_t(end - from), from);
        if (got != end - from)
            return false;
        const void* nl = memrchr(buf, '\n', size_t(got));
        if (nl) {
            const off_t keep = from + (static_cast<const char*>(nl) - buf) + 1;
            return keep == size || ftruncate(m_Fd, keep) == 0;
        }
        end = from;
    }
    return size == 0 || ftruncate(m_Fd, 0) == 0;
}

int64_t DayLog::LastLineSec(off_t size)
{
    // The file ends in "\n" here; the last line is what comes after the newline before it.
    char buf[kTailChunk];
    const off_t from = size > kTailChunk ? size - kTailChunk : 0;
    const ssize_t got = pread(m_Fd, buf, size_t(size - from), from);
    if (got < 2)
        return kNone;
    const QByteArray tail(buf, int(got) - 1);
    LoggerReading r;
    if (!Csv_ParseLine(tail.mid(tail.lastIndexOf('\n') + 1), &r))
        return kNone; // only the header, or a line of another layout
    return Seconds(r.timeMs);
}

bool DayLog::OpenDay(const QDate& day, int part)
{
    Close();
    const QString path = DayPath(day, part);
    const QByteArray name = QFile::encodeName(path);
    const int flags = O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC;
    int fd = open(name.constData(), flags, 0644);
    if (fd < 0 && errno == ENOENT && QDir().mkpath(m_Folder))
        fd = open(name.constData(), flags, 0644);
    if (fd < 0) {
        Fail(errno, path);
        return false;
    }
    m_Fd = fd;
    m_Day = day;
    m_Part = part;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && CutTornTail(st.st_size);
    const off_t size = ok ? lseek(fd, 0, SEEK_END) : -1;
    m_LastSec = size > 0 ? LastLineSec(size) : kNone;
    ok = size > 0 || (size == 0 && WriteWhole(Csv_Header()));
    if (!ok) {
        Fail(errno, path);
        Close();
        return false;
    }
    if (m_PartsDay != day) {
        m_PartsDay = day;
        m_PartLast.clear();
    }
    m_PartLast[part] = m_LastSec;
    return true;
}

int DayLog::PartFor(const Line& line)
{
    if (m_History)
        return 1; // the backfill writes each value once, in the device's order
    for (int part = 1; part < kMaxParts; ++part) {
        if (m_PartsDay != line.day || !m_PartLast.contains(part)) {
            if (!OpenDay(line.day, part))
                return -1;
        }
        if (line.sec >= m_PartLast.value(part))
            return part;
    }
    return kMaxParts; // a clock set back nine times in a day: the last part takes the rest
}

bool DayLog::WriteLine(const Line& line)
{
    const int part = PartFor(line);
    if (part < 0 || ((m_Fd < 0 || line.day != m_Day || part != m_Part) && !OpenDay(line.day, part)))
        return false;
    if (!WriteWhole(line.text)) {
        Fail(errno, DayPath(line.day, part));
        Close();
        return false;
    }
    m_LastSec = std::max(m_LastSec, line.sec);
    m_PartLast[part] = m_LastSec;
    if (m_Unsynced.size() < kMaxUnsyncedBytes)
        m_Unsynced += line.text;
    if (!m_History && line.day != m_LastPartDay)
        m_LastPartUsed = 1;
    m_LastPartDay = line.day;
    if (!m_History && part != m_LastPartUsed) {
        m_Notices << (part > m_LastPartUsed
                          ? QStringLiteral("the clock is behind the times already in %1: these readings go to %2 "
                                           "until it has passed them")
                                .arg(DayPath(line.day, m_LastPartUsed), DayPath(line.day, part))
                          : QStringLiteral("readings go to %1 again").arg(DayPath(line.day, part)));
        m_LastPartUsed = part;
    }
    return true;
}

void DayLog::Enqueue(const Line& line)
{
    if (m_Queue.size() >= size_t(kMaxQueued)) {
        m_Queue.pop_front();
        ++m_Dropped;
    }
    m_Queue.push_back(line);
}

bool DayLog::Append(const LoggerReading& r)
{
    const Line line{Csv_LocalDay(r.timeMs), Seconds(r.timeMs), Csv_Line(r)};
    // Behind a queue, a line waits its turn: the files keep the order of the readings.
    if (m_Queue.empty() && WriteLine(line)) {
        m_Error.clear();
        return true;
    }
    Enqueue(line);
    return false;
}

bool DayLog::Retry()
{
    while (!m_Queue.empty()) {
        if (!WriteLine(m_Queue.front()))
            return false;
        m_Queue.pop_front();
    }
    m_Error.clear();
    return true;
}
