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
#include <cstring>

namespace {
constexpr off_t kTailChunk = 4096;
}

DayLog::DayLog(const QString& folder, bool history) : m_Folder(folder), m_History(history) {}

DayLog::~DayLog()
{
    Close();
}

QString DayLog::DayPath(const QDate& day) const
{
    return m_Folder + QLatin1Char('/') + Csv_DayFileName(day, m_History);
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
    m_Day = QDate();
}

void DayLog::Reopen()
{
    Close();
}

bool DayLog::Sync()
{
    if (m_Fd < 0 || !m_Dirty)
        return true;
    if (fdatasync(m_Fd) != 0) {
        Fail(errno, DayPath(m_Day));
        return false;
    }
    m_Dirty = false;
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

bool DayLog::OpenDay(const QDate& day)
{
    Close();
    const QString path = DayPath(day);
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
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && CutTornTail(st.st_size);
    const off_t size = ok ? lseek(fd, 0, SEEK_END) : -1;
    ok = size > 0 || (size == 0 && WriteWhole(Csv_Header()));
    if (!ok) {
        Fail(errno, path);
        Close();
    }
    return ok;
}

bool DayLog::WriteLine(const QDate& day, const QByteArray& line)
{
    if ((m_Fd < 0 || day != m_Day) && !OpenDay(day))
        return false;
    if (WriteWhole(line))
        return true;
    Fail(errno, DayPath(day));
    Close();
    return false;
}

void DayLog::Enqueue(const QDate& day, const QByteArray& line)
{
    if (m_Queue.size() >= size_t(kMaxQueued)) {
        m_Queue.pop_front();
        ++m_Dropped;
    }
    m_Queue.emplace_back(day, line);
}

bool DayLog::Append(const LoggerReading& r)
{
    const QDate day = Csv_LocalDay(r.timeMs);
    const QByteArray line = Csv_Line(r);
    // Behind a queue, a line waits its turn: the files keep the order of the readings.
    if (m_Queue.empty() && WriteLine(day, line)) {
        m_Error.clear();
        return true;
    }
    Enqueue(day, line);
    return false;
}

bool DayLog::Retry()
{
    while (!m_Queue.empty()) {
        if (!WriteLine(m_Queue.front().first, m_Queue.front().second))
            return false;
        m_Queue.pop_front();
    }
    m_Error.clear();
    return true;
}
