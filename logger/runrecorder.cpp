// Record files of the runs. A run's containers hold one record per step from the run's start;
// record i describes start + i x step, which is how the window's reader places them in time.
#include "runrecorder.h"

#include "csvformat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {
// A local day lasts up to 25 hours (the day clocks go back); a little more for rounding.
constexpr int64_t kLongestDaySec = 25 * 3600;

uint16_t Scaled(double value, double scale)
{
    if (!Reading_Has(value))
        return 0;
    return uint16_t(std::lround(std::clamp(value * scale, 0.0, 65535.0)));
}

int64_t Seconds(int64_t timeMs)
{
    return timeMs / 1000 - (timeMs % 1000 < 0 ? 1 : 0);
}

QString WriteError(const QString& path, int err)
{
    const QString why = QString::fromLocal8Bit(strerror(err));
    return err == ENOSPC || err == EDQUOT ? QStringLiteral("disk full: %1: %2").arg(path, why)
                                          : QStringLiteral("cannot write %1: %2").arg(path, why);
}

// Bytes of a record file with the same step as `bytes`, or -1: a file of another step (an
// --interval changed since) is not the day file's to replace.
qint64 SameStepSize(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray header = f.read(28);
    if (header.size() < 28 || header.mid(24, 4) != bytes.mid(24, 4))
        return -1;
    return f.size();
}
} // namespace

RunRecorder::RunRecorder(const QString& folder, int stepSec, Mode mode)
    : m_Folder(folder), m_StepSec(stepSec < 1 ? 1 : stepSec), m_Mode(mode)
{
}

RunRecorder::~RunRecorder()
{
    EndRun();
}

QString RunRecorder::CurrentPath() const
{
    return m_Active ? ChannelPath(0) : QString();
}

QString RunRecorder::ChannelPath(int channel) const
{
    if (channel == 0)
        return m_Base + QStringLiteral(".str");
    return m_Base + (m_GasKind == GasKind::Tvoc ? QStringLiteral("-tvoc.str") : QStringLiteral("-formaldehyde.str"));
}

void RunRecorder::Forget()
{
    Trac_Destroy(m_Pm);
    Trac_Destroy(m_Gas);
    m_Pm = m_Gas = nullptr;
    m_Active = false;
    m_GasKind = GasKind::None;
}

bool RunRecorder::EndsRun(int64_t sec, const QDate& day, const QByteArray& serial) const
{
    const int64_t index = (sec - m_StartSec) / m_StepSec;
    // Readings arrive a step apart; more than kMaxGapSec missing on top of that is a gap. A
    // clock that went back also ends the run: its records cannot be placed before the last one.
    return serial != m_Serial || day != m_Day || sec < m_LastSec || sec - m_LastSec > kMaxGapSec + m_StepSec - 1
        || index >= kLongestDaySec / m_StepSec + 2;
}

void RunRecorder::Begin(int64_t sec, const QDate& day, const QByteArray& serial)
{
    m_StartSec = m_LastSec = sec;
    m_Day = day;
    m_Serial = serial;
    // Two runs may start at the same local second (the hour clocks go back twice): never
    // overwrite an earlier run's file. The rebuild names them as the live recorder did.
    const QString name = m_Folder + QLatin1Char('/') + LocalTime_RunName(sec);
    m_Base = name;
    for (int n = 2; m_Names.contains(m_Base) || (m_Mode == Mode::Live && QFile::exists(m_Base + QStringLiteral(".str")));
         ++n)
        m_Base = name + QLatin1Char('-') + QString::number(n);
    m_Names << m_Base;
    if (m_Names.size() > 64)
        m_Names.removeFirst(); // only runs of the same second can collide
    m_Active = true;
}

bool RunRecorder::Put(_STracFile** trac, int64_t index, uint16_t value1, uint16_t value2)
{
    if (!*trac) {
        // Only what a day can need: the container's own capacity is two weeks.
        _STracFile* t = Trac_Create();
        if (!t || !Trac_Alloc(t, int(kLongestDaySec / m_StepSec + 2))) {
            Trac_Destroy(t);
            m_Error = QStringLiteral("out of memory for the record file %1").arg(CurrentPath());
            return false;
        }
        t->start_time = uint32_t(m_StartSec);
        t->sec_per_record = m_StepSec;
        *trac = t;
    }
    _STracFile* t = *trac;
    // Two readings in one step (a poll that came late took two frames): the step has one
    // record, the later reading. Appending it would move every later record a step late.
    if (index < t->used) {
        t->records[index] = _STracRecord{0, 0, value1, value2};
        return true;
    }
    // A step without a reading repeats the one before it (zero before the first).
    for (int64_t i = t->used; i < index; ++i) {
        const _STracRecord prev = i > 0 ? t->records[i - 1] : _STracRecord{0, 0, 0, 0};
        Trac_Add(t, prev.extra1, prev.extra2, prev.value1, prev.value2, int(i * m_StepSec));
    }
    return Trac_Add(t, 0, 0, value1, value2, int(index * m_StepSec)) >= 0;
}

void RunRecorder::Add(const LoggerReading& r)
{
    if (r.history)
        return;
    const int64_t sec = Seconds(r.timeMs);
    const QDate day = Csv_LocalDay(r.timeMs);
    if (m_Active && EndsRun(sec, day, r.serial))
        EndRun();
    if (!m_Active)
        Begin(sec, day, r.serial);
    const int64_t index = (sec - m_StartSec) / m_StepSec;
    if (Reading_Has(r.pm25) || Reading_Has(r.pm10))
        Put(&m_Pm, index, Scaled(r.pm25, 10), Scaled(r.pm10, 10));
    if (r.gasKind != GasKind::None && Reading_Has(r.gas)) {
        if (!m_Gas)
            m_GasKind = r.gasKind;
        Put(&m_Gas, index, Scaled(r.gas, 1000), 0);
    }
    m_LastSec = sec;
}

std::deque<RunFile> RunRecorder::Files() const
{
    std::deque<RunFile> files;
    if (!m_Active)
        return files;
    const struct {
        _STracFile* trac;
        int channel;
    } channels[] = {{m_Pm, 0}, {m_Gas, 1}};
    for (const auto& c : channels) {
        if (c.trac && c.trac->used > 0)
            files.push_back({ChannelPath(c.channel), Trac_ToBytes(c.trac, c.channel)});
    }
    return files;
}

bool RunRecorder::Write(std::deque<RunFile> files)
{
    if (m_Mode == Mode::Rebuild) {
        bool ok = true;
        for (const RunFile& f : files) {
            const qint64 size = QFile::exists(f.path) ? SameStepSize(f.path, f.bytes) : 0;
            if (size < 0 || size >= f.bytes.size())
                continue;
            if (Atomic_WriteFile(f.path, f.bytes)) {
                m_Written << QFileInfo(f.path).fileName();
            } else {
                m_Error = WriteError(f.path, errno);
                ok = false;
            }
        }
        return ok;
    }
    // A newer version of a waiting file replaces it (a run flushed, then ended).
    for (RunFile& f : files) {
        m_Waiting.erase(std::remove_if(m_Waiting.begin(), m_Waiting.end(), [&](const RunFile& w) { return w.path == f.path; }),
                        m_Waiting.end());
        m_Waiting.push_back(std::move(f));
    }
    qint64 bytes = 0;
    for (const RunFile& w : m_Waiting)
        bytes += w.bytes.size();
    while (bytes > kMaxWaitingBytes && m_Waiting.size() > 1) {
        bytes -= m_Waiting.front().bytes.size();
        m_Waiting.pop_front();
        ++m_Dropped;
    }
    return Retry();
}

bool RunRecorder::Retry()
{
    if (!m_Waiting.empty())
        QDir().mkpath(m_Folder); // a folder removed under the running logger comes back
    while (!m_Waiting.empty()) {
        const RunFile& f = m_Waiting.front();
        if (!Atomic_WriteFile(f.path, f.bytes)) {
            m_Error = WriteError(f.path, errno);
            return false;
        }
        m_Waiting.pop_front();
    }
    m_Error.clear();
    return true;
}

bool RunRecorder::Flush()
{
    return Write(Files());
}

bool RunRecorder::EndRun()
{
    if (!m_Active)
        return m_Waiting.empty();
    std::deque<RunFile> files = Files();
    Forget();
    return Write(std::move(files));
}

QStringList Runs_Rebuild(const QString& folder, int stepSec, QString* error)
{
    // Day files and their parts, by day: only the newest two days can hold a run that was
    // cut off (the one that ran at midnight, and today's).
    const QRegularExpression dayFile(QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d)(-\\d+)?\\.csv$"));
    QStringList names = QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
    QStringList days;
    for (const QString& name : names) {
        const QString day = dayFile.match(name).captured(1);
        if (!day.isEmpty() && !days.contains(day))
            days << day;
    }
    days = days.mid(std::max(0, int(days.size()) - 2));
    QStringList written;
    for (const QString& name : names) {
        if (!days.contains(dayFile.match(name).captured(1)))
            continue;
        QFile file(folder + QLatin1Char('/') + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        RunRecorder runs(folder, stepSec, RunRecorder::Mode::Rebuild);
        while (!file.atEnd()) {
            QByteArray line = file.readLine();
            LoggerReading r;
            if (line.endsWith('\n'))
                line.chop(1);
            if (Csv_ParseLine(line, &r) && !r.history)
                runs.Add(r);
        }
        runs.EndRun();
        written << runs.Written();
        if (!runs.LastError().isEmpty())
            *error = runs.LastError();
    }
    return written;
}
