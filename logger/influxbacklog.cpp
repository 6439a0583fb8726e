#include "influxbacklog.h"

#include "csvformat.h"
#include "influxline.h"
#include "runrecorder.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
const QString kPositionFile = QStringLiteral(".influx-position");
constexpr int64_t kTail = 4096; // enough for the lines before a position: they are some 100 bytes

int64_t FileSize(const QString& path)
{
    struct stat st {};
    return stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) ? int64_t(st.st_size) : -1;
}

QByteArray ReadAt(const QString& path, int64_t at, int64_t n)
{
    QByteArray data;
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || n <= 0) {
        if (fd >= 0)
            close(fd);
        return data;
    }
    data.resize(int(n));
    ssize_t got;
    do {
        got = pread(fd, data.data(), size_t(n), off_t(at));
    } while (got < 0 && errno == EINTR);
    close(fd);
    data.resize(got > 0 ? int(got) : 0);
    return data;
}

int64_t Seconds(int64_t timeMs)
{
    return timeMs / 1000 - (timeMs % 1000 < 0 ? 1 : 0);
}
} // namespace

InfluxBacklog::InfluxBacklog(const QString& folder) : m_Folder(folder) {}

QString InfluxBacklog::Path(const QString& name) const
{
    return m_Folder + QLatin1Char('/') + name;
}

QStringList InfluxBacklog::TakeNotices()
{
    QStringList notices;
    notices.swap(m_Notices);
    return notices;
}

void InfluxBacklog::Load(int64_t nowMs, QString* notice)
{
    // What a save cut off by a kill or a power cut left: Atomic_WriteFile's temporary names, the
    // file's own and six characters of mkostemp's
    QDir dir(m_Folder);
    for (const QString& name : dir.entryList({kPositionFile + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden))
        dir.remove(name);

    QFile file(Path(kPositionFile));
    InfluxPositions positions;
    bool have = false;
    if (!file.exists()) {
        *notice = QStringLiteral("InfluxDB: first start with this folder: sending from the current end of the day files");
    } else {
        QString why = file.errorString();
        if (file.open(QIODevice::ReadOnly))
            have = InfluxPosition_Parse(file.read(kInfluxPositionMaxBytes + 1), &positions, &why);
        if (!have)
            *notice = QStringLiteral("InfluxDB: ignoring the broken %1 (%2): sending from the current end of the day files")
                          .arg(file.fileName(), why);
    }
    m_Files.clear();
    for (auto it = positions.begin(); it != positions.end(); ++it) {
        File f;
        Influx_ParseDayFileName(it.key(), &f.name);
        f.sent = it.value();
        m_Files.insert(it.key(), f);
    }
    // The first start, or a start that cannot trust its positions: the lines already in the
    // files count as sent.
    const QDate horizon = Csv_LocalDay(nowMs).addDays(-kWindowDays);
    if (!have) {
        for (const QString& name : dir.entryList({QStringLiteral("*.csv")}, QDir::Files)) {
            File f;
            if (Influx_ParseDayFileName(name, &f.name) && f.name.day >= horizon && (f.sent = FileSize(Path(name))) >= 0)
                m_Files.insert(name, f);
        }
        m_Changed = true;
    }
    Scan(nowMs);
}

void InfluxBacklog::Scan(int64_t nowMs)
{
    const QDate horizon = Csv_LocalDay(nowMs).addDays(-kWindowDays);
    QMap<QString, File> seen;
    // The files known go only when they are gone, not when a listing of the folder fails (which
    // would send them all again from their start)
    for (auto it = m_Files.begin(); it != m_Files.end(); ++it) {
        File f = *it;
        // An old file sent whole is forgotten, so that the position file stays small
        if ((f.size = FileSize(Path(it.key()))) >= 0 && !(f.name.day < horizon && f.sent == f.size))
            seen.insert(it.key(), f);
    }
    for (const QString& name : QDir(m_Folder).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Unsorted)) {
        File f;
        if (m_Files.contains(name) || !Influx_ParseDayFileName(name, &f.name) || f.name.day < horizon)
            continue; // known, not a day file, or an old one done with (or older than the first start)
        if ((f.size = FileSize(Path(name))) >= 0)
            seen.insert(name, f);
    }
    if (seen.keys() != m_Files.keys())
        m_Changed = true;
    m_Files.swap(seen);
}

void InfluxBacklog::Refresh()
{
    for (auto it = m_Files.begin(); it != m_Files.end(); ++it) {
        const int64_t size = FileSize(Path(it.key()));
        if (size >= 0)
            it->size = size;
    }
}

bool InfluxBacklog::NeedsScan(const QDate& day, bool history) const
{
    if (!m_Files.contains(Csv_DayFileName(day, history)))
        return true;
    if (history)
        return false;
    int part = 2;
    while (part <= kMaxParts && m_Files.contains(Csv_DayFileName(day, false, part)))
        ++part;
    return part <= kMaxParts && FileSize(Path(Csv_DayFileName(day, false, part))) >= 0;
}

void InfluxBacklog::Settle(const QString& name, File& f)
{
    f.settled = true;
    f.repeat = -1;
    if (f.sent > f.size) {
        m_Notices << QStringLiteral("InfluxDB: %1 is shorter than what was sent of it (made anew?): sending it from its start")
                         .arg(Path(name));
        f.sent = 0;
        m_Changed = true;
        return;
    }
    if (f.sent == 0)
        return;
    // The position is meant to be a line start; if it is not (the position file was edited, or the
    // file was cut and written again), the line it falls in goes again.
    const int64_t from = std::max<int64_t>(0, f.sent - kTail);
    QByteArray tail = ReadAt(Path(name), from, f.sent - from);
    if (tail.size() != f.sent - from) {
        f.settled = false; // cannot be read now: looked at again next time
        return;
    }
    if (!tail.endsWith('\n')) {
        const int nl = tail.lastIndexOf('\n');
        if (nl < 0 && from > 0)
            return; // within a line of more than 4 KB: not one of ours; read on from here
        f.sent = from + nl + 1;
        tail.truncate(nl + 1);
        m_Changed = true;
    }
    // The last second sent and how often it came in a row, for the lines after it
    QList<QByteArray> lines = tail.split('\n');
    lines.removeLast(); // after the final line end
    if (from > 0 && !lines.isEmpty())
        lines.removeFirst(); // the end of a line that began before the tail
    LoggerReading r;
    for (int i = lines.size() - 1; i >= 0 && Csv_ParseLine(lines[i], &r); --i) {
        if (f.repeat >= 0 && Seconds(r.timeMs) != f.lastSec)
            break;
        f.lastSec = Seconds(r.timeMs);
        ++f.repeat;
    }
}

InfluxBacklog::Batch InfluxBacklog::Take(int maxLines, int maxBytes)
{
    Batch b;
    for (auto it = m_Files.begin(); it != m_Files.end() && !b.full; ++it) {
        File& f = it.value();
        if (!f.settled)
            Settle(it.key(), f);
        if (f.size <= f.sent)
            continue;
        if (b.lines >= maxLines || b.body.size() >= maxBytes) {
            b.full = true;
            break;
        }
        const int64_t want = std::min<int64_t>(f.size - f.sent, maxBytes);
        const QByteArray data = ReadAt(Path(it.key()), f.sent, want);
        int64_t lastSec = f.lastSec;
        int repeat = f.repeat;
        int at = 0;
        for (int nl; (nl = data.indexOf('\n', at)) >= 0; at = nl + 1) {
            if (b.lines >= maxLines || b.body.size() >= maxBytes) {
                b.full = true;
                break;
            }
            LoggerReading r;
            if (!Csv_ParseLine(data.mid(at, nl - at), &r))
                continue; // the header, or a line of another layout
            const int64_t sec = Seconds(r.timeMs);
            repeat = repeat >= 0 && sec == lastSec ? repeat + 1 : 0;
            lastSec = sec;
            const QByteArray line = Influx_Line(r, Influx_TimeNs(r.timeMs, f.name.part, repeat));
            if (!line.isEmpty()) {
                b.body += line + '\n';
                ++b.lines;
            }
        }
        if (at == 0 && data.size() >= kMaxLineBytes)
            at = data.size(); // no line end in 64 KB: nothing the logger wrote; skipped
        if (at > 0) {
            b.sentTo[it.key()] = f.sent + at;
            b.lastSec[it.key()] = lastSec;
            b.repeat[it.key()] = repeat;
        }
        if (want < f.size - f.sent)
            b.full = true;
    }
    return b;
}

void InfluxBacklog::Commit(const Batch& batch)
{
    for (auto it = batch.sentTo.begin(); it != batch.sentTo.end(); ++it) {
        auto f = m_Files.find(it.key());
        if (f == m_Files.end())
            continue;
        f->sent = it.value();
        f->lastSec = batch.lastSec.value(it.key());
        f->repeat = batch.repeat.value(it.key());
        m_Changed = true;
    }
}

bool InfluxBacklog::Pending() const
{
    return std::any_of(m_Files.begin(), m_Files.end(), [](const File& f) { return f.size > f.sent; });
}

InfluxPositions InfluxBacklog::Positions() const
{
    InfluxPositions positions;
    for (auto it = m_Files.begin(); it != m_Files.end(); ++it)
        positions.insert(it.key(), it->sent);
    return positions;
}

bool InfluxBacklog::Save(QString* error)
{
    if (!m_Changed)
        return true;
    if (!Atomic_WriteFile(Path(kPositionFile), InfluxPosition_Format(Positions()))) {
        *error = QStringLiteral("InfluxDB: cannot write %1: %2").arg(Path(kPositionFile), QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    m_Changed = false;
    return true;
}
