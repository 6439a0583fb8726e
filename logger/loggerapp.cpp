#include "loggerapp.h"

#include "csvformat.h"
#include "historybackfill.h"
#include "mqttpublisher.h"
#ifdef VOSTRAL_INFLUX
#include "influxsink.h"
#endif
#include "signalwatch.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

namespace {
QString Seconds(int64_t ms)
{
    return QString::number((ms < 0 ? ms - 500 : ms + 500) / 1000);
}
} // namespace

LoggerApp::LoggerApp(const LoggerOptions& options, const LoggerClock* clock, QObject* parent)
    : QObject(parent),
      m_Options(options),
      m_Clock(clock ? *clock : Logger_SystemClock()),
      m_Session(options),
      m_Assembler(false),
      m_Keeper(m_Clock, options.clockWaitSec),
      m_Means(options.intervalSec),
      m_Live(options.outDir, false),
      m_History(options.outDir, true),
      m_Runs(options.outDir, options.intervalSec > 0 ? options.intervalSec : 1)
{
    if (m_Options.mqtt.enabled)
        m_Mqtt = std::make_unique<MqttPublisher>(m_Options.mqtt, [this](const QString& line) { Say(line); });
#ifdef VOSTRAL_INFLUX
    if (m_Options.influx.enabled)
        m_Influx = std::make_unique<InfluxSink>(m_Options.influx, m_Options.outDir, [this](const QString& line) { Say(line); });
#endif
}

LoggerApp::~LoggerApp()
{
    if (m_Started)
        Finish(0);
}

bool LoggerApp::Start(QString* error)
{
    const QString folder = QDir(m_Options.outDir).absolutePath();
    if (!QDir().mkpath(m_Options.outDir)) {
        *error = QStringLiteral("cannot create the folder %1").arg(m_Options.outDir);
        return false;
    }
    if (!m_Lock.Take(m_Options.outDir, error))
        return false;
    m_Started = true;
    Say(QStringLiteral("recording to %1").arg(folder));
    // What an interrupted run left behind: half-written temporary files, and the record files
    // of the run that was cut off (rebuilt from the day file, which was synced).
    if (const int stale = Atomic_RemoveStale(m_Options.outDir))
        Say(QStringLiteral("removed %1 unfinished temporary file(s) of an interrupted write").arg(stale));
    QString rebuildError;
    const QStringList rebuilt = Runs_Rebuild(m_Options.outDir, m_Options.intervalSec > 0 ? m_Options.intervalSec : 1, &rebuildError);
    if (!rebuilt.isEmpty())
        Say(QStringLiteral("record files rebuilt from the day files: %1").arg(rebuilt.join(QStringLiteral(", "))));
    if (!rebuildError.isEmpty())
        Say(rebuildError);

    if (m_Influx && !m_Influx->Open(error))
        return false;
    m_Signals = new SignalWatch(this);
    connect(m_Signals, &SignalWatch::Stop, this, [this] {
        // A download running now ends at its next wait (it asks SignalWatch::StopPending) and
        // keeps what came; the program ends after it.
        if (m_Busy) {
            m_StopAfterBusy = true;
            return;
        }
        Finish(0);
    });
    connect(m_Signals, &SignalWatch::Reopen, this, &LoggerApp::Reopen);
    connect(&m_Poll, &QTimer::timeout, this, &LoggerApp::Tick);
    connect(&m_SyncTimer, &QTimer::timeout, this, &LoggerApp::Sync);
    connect(&m_RetryTimer, &QTimer::timeout, this, &LoggerApp::Retry);
    m_Poll.start(kPollMs);
    m_SyncTimer.start(m_Options.syncSec * 1000);
    m_RetryTimer.start(kRetryMs);
    QTimer::singleShot(0, this, &LoggerApp::Tick);
    return true;
}

void LoggerApp::Tick()
{
    if (m_Busy || m_Finished)
        return;
    // The clocks first: readings held for a synchronised clock go out before new ones.
    std::vector<LoggerReading> released;
    const ClockKeeper::Event clock = m_Keeper.Tick(&released);
    m_Releasing = true;
    Deliver(released);
    m_Releasing = false;
    OnClock(clock);

    const int64_t now = m_Clock.MonotonicMs();
    std::vector<SensorEvent> events;
    std::vector<LoggerReading> raw;
    m_Session.Tick(now, &events);
    for (const SensorEvent& e : events) {
        HandleEvent(e, now, &raw);
        if (m_Finished)
            return;
    }
    m_Assembler.Tick(now, &raw);
    Stamp(&raw);
    if (m_Keeper.Trusted()) {
        std::vector<LoggerReading> means;
        m_Means.Tick(m_Keeper.NowMs(), &means);
        for (const LoggerReading& r : means)
            Record(r);
    }
    if (m_Influx)
        m_Influx->Poll(now);
}

void LoggerApp::OnClock(const ClockKeeper::Event& e)
{
    switch (e.kind) {
    case ClockKeeper::Event::None:
        break;
    case ClockKeeper::Event::Waiting:
        Say(QStringLiteral("the system clock is not synchronised: readings are held until it is (at most %1 s)").arg(m_Keeper.WaitSec()));
        break;
    case ClockKeeper::Event::Synchronised:
        Say(QStringLiteral("the system clock is synchronised: %1 held readings written with their times").arg(e.released));
        break;
    case ClockKeeper::Event::GaveUp:
        Say((e.holdFull ? QStringLiteral("no more readings can be held")
                        : QStringLiteral("the system clock is still not synchronised after %1 s").arg(m_Keeper.WaitSec()))
            + QStringLiteral(": recording with the clock as it stands (%1 held readings written)").arg(e.released));
        break;
    case ClockKeeper::Event::Unknown:
        Say(QStringLiteral("cannot tell whether the system clock is synchronised: recording with the clock as it stands"));
        break;
    case ClockKeeper::Event::Stepped:
        Say(QStringLiteral("the system clock was set %1 by %2 s; a new run begins")
                .arg(e.stepMs > 0 ? QStringLiteral("forward") : QStringLiteral("back"), Seconds(std::abs(e.stepMs))));
        EndRun();
        break;
    }
}

void LoggerApp::HandleEvent(const SensorEvent& e, int64_t now, std::vector<LoggerReading>* raw)
{
    switch (e.kind) {
    case SensorEvent::Found: {
        const QString who = QStringLiteral("sensor %1 (serial %2) %3")
                                .arg(QString::fromLatin1(m_Session.Model()), QString::fromLatin1(m_Session.Serial()), e.text);
        if (m_LostAtMs >= 0) {
            Say(QStringLiteral("sensor back after %1 s").arg(Seconds(now - m_LostAtMs)));
            if (m_Session.Serial() != m_LastSerial)
                Say(who);
        } else {
            Say(who);
        }
        m_EverFound = true;
        m_SaidSearching = false;
        m_LostAtMs = -1;
        m_LastSerial = m_Session.Serial();
        m_Assembler.SetSensor(m_Session.Model(), m_Session.Serial(), m_Session.HasGas());
        m_BackfillDue = m_Options.backfill;
        m_BackfillAfterMs = now;
        m_MqttOnline = false;
        // Without a gas channel the discovery configs are known now; a gas model's first reading
        // tells formaldehyde from TVOC.
        if (m_Mqtt && !m_Session.HasGas()) {
            m_Mqtt->SensorOnline(m_Session.Serial(), m_Session.Model(), GasKind::None, m_Session.HasPm10());
            m_MqttOnline = true;
        }
        break;
    }
    case SensorEvent::Primary:
        m_Assembler.AddPrimary(now, e.pm25, e.pm10, raw);
        break;
    case SensorEvent::Gas:
        m_GasKind = e.gasKind;
        m_Assembler.AddGas(now, e.gas, e.gasKind, raw);
        break;
    case SensorEvent::Lost:
        // What arrived before the loss is recorded; the gap stays a gap and ends the run (after
        // the held readings, if the clock is not known yet).
        m_Assembler.Flush(raw);
        Stamp(raw);
        if (!m_Keeper.MarkLastHeld())
            EndRun();
        Say(QStringLiteral("sensor lost (%1); looking for it every %2 s").arg(e.text).arg(SensorSession::kSearchEveryMs / 1000));
        m_LostAtMs = now;
        if (m_Mqtt)
            m_Mqtt->SensorOffline();
        break;
    case SensorEvent::Mismatch:
        // A service started for a sensor that is not plugged in yet waits for it.
        if (!m_SaidSearching)
            Say(QStringLiteral("waiting for the sensor with serial %1 (found: %2); looking every 2 s").arg(m_Options.device, e.text));
        m_SaidSearching = true;
        break;
    case SensorEvent::NoAnswer:
        if (!m_SaidSearching)
            Say(QStringLiteral("a sensor %1 does not answer; trying again every 2 s").arg(e.text));
        m_SaidSearching = true;
        break;
    case SensorEvent::NotFound:
        if (!m_SaidSearching && !m_EverFound)
            Say(QStringLiteral("no sensor found; looking for one every 2 s"));
        m_SaidSearching = true;
        break;
    }
}

void LoggerApp::Stamp(std::vector<LoggerReading>* raw)
{
    std::vector<LoggerReading> stamped;
    for (const LoggerReading& r : *raw)
        m_Keeper.Add(r, &stamped);
    raw->clear();
    Deliver(stamped);
}

void LoggerApp::Deliver(const std::vector<LoggerReading>& stamped)
{
    int64_t cutoff = -1;
    std::vector<LoggerReading> out;
    for (const LoggerReading& r : stamped) {
        if (m_BackfillDue && cutoff < 0 && r.monoMs >= m_BackfillAfterMs)
            cutoff = r.timeMs; // the first live reading after the find, on the corrected clock
        out.clear();
        m_Means.Add(r, &out);
        for (const LoggerReading& m : out)
            Record(m);
        if (r.endsRun)
            EndRun();
    }
    if (cutoff >= 0 && m_Session.Running()) {
        m_BackfillDue = false;
        RunBackfill(cutoff);
    }
}

void LoggerApp::EndRun()
{
    std::vector<LoggerReading> out;
    m_Means.Flush(&out);
    for (const LoggerReading& r : out)
        Record(r);
    m_Runs.EndRun();
    NoteRecordFiles();
}

void LoggerApp::Record(const LoggerReading& r)
{
    if (!m_Live.Append(r))
        NoteDisk(m_Live);
    SayNotices(m_Live);
    m_Runs.Add(r);
    NoteRecordFiles();
    if (m_Influx)
        m_Influx->Reading(r);
    // Readings that waited for the clock are not news: a consumer would take them for current.
    if (m_Mqtt && !m_Releasing) {
        if (!m_MqttOnline) {
            // Discovery needs to know which gas the model measures: the first reading tells.
            m_Mqtt->SensorOnline(r.serial, r.model, r.gasKind, m_Session.HasPm10());
            m_MqttOnline = true;
        }
        m_Mqtt->Publish(r);
    }
    if (m_Options.verbose)
        Say(QString::fromLatin1(Csv_Line(r).trimmed()));
}

void LoggerApp::RunBackfill(int64_t cutoffMs)
{
    SCodeUsb* codec = m_Session.Codec();
    if (!codec)
        return;
    Say(QStringLiteral("downloading the sensor's history"));
    BackfillSensor sensor;
    sensor.typeCode = m_Session.TypeCode();
    sensor.hasPm10 = m_Session.HasPm10();
    sensor.hasGas = m_Session.HasGas();
    sensor.gasKind = m_GasKind;
    sensor.model = m_Session.Model();
    sensor.serial = m_Session.Serial();
    codec->m_StopRequested = &SignalWatch::StopPending;
    m_Busy = true;
    const BackfillResult result = Backfill_Run(*codec, sensor, cutoffMs, m_Keeper.NowMs(), m_History, m_Options.outDir);
    m_Busy = false;
    Say(result.Describe());
    if (m_History.Failing())
        NoteDisk(m_History);
    m_History.Sync();
    m_Session.Resume(m_Clock.MonotonicMs());
    if (m_StopAfterBusy || SignalWatch::StopPending())
        Finish(0);
}

void LoggerApp::NoteDisk(const DayLog& log)
{
    if (m_DiskFailing)
        return;
    m_DiskFailing = true;
    Say(log.LastError() + QStringLiteral("; keeps polling and tries again every 10 s"));
}

void LoggerApp::NoteRecordFiles()
{
    if (m_Runs.Failing() == m_RecordFailing)
        return;
    m_RecordFailing = m_Runs.Failing();
    if (m_RecordFailing)
        Say(m_Runs.LastError() + QStringLiteral("; the record file waits and is tried again every 10 s"));
    else
        Say(QStringLiteral("record files written again"));
}

void LoggerApp::SayNotices(DayLog& log)
{
    for (const QString& line : log.TakeNotices())
        Say(line);
}

void LoggerApp::Retry()
{
    if (m_DiskFailing) {
        const bool live = m_Live.Retry();
        const bool history = m_History.Retry();
        SayNotices(m_Live);
        if (live && history) {
            m_DiskFailing = false;
            QString line = QStringLiteral("writing again");
            if (m_Live.Dropped() > 0)
                line += QStringLiteral(" (%1 readings could not be kept meanwhile)").arg(m_Live.Dropped());
            Say(line);
        }
    }
    if (m_RecordFailing) {
        m_Runs.Retry();
        NoteRecordFiles();
    }
}

void LoggerApp::Sync()
{
    const bool live = m_Live.Sync();
    const bool history = m_History.Sync();
    SayNotices(m_Live);
    SayNotices(m_History);
    // Said once when it starts failing and once when it works again, not at every sync.
    if (!(live && history) && !m_SyncFailing)
        Say(QStringLiteral("cannot sync to the disk: %1").arg((live ? m_History : m_Live).LastError()));
    else if (live && history && m_SyncFailing)
        Say(QStringLiteral("syncing to the disk again"));
    m_SyncFailing = !(live && history);
}

void LoggerApp::Reopen()
{
    Sync();
    m_Live.Reopen();
    m_History.Reopen();
    // A look at the running run without stopping the logger: its record files are written now.
    m_Runs.Flush();
    NoteRecordFiles();
    Say(QStringLiteral("files reopened, record files of the running run written"));
}

void LoggerApp::Finish(int exitCode)
{
    if (m_Finished)
        return;
    m_Finished = true;
    m_Poll.stop();
    std::vector<LoggerReading> raw;
    m_Assembler.Flush(&raw);
    Stamp(&raw);
    std::vector<LoggerReading> held;
    if (const int n = m_Keeper.GiveUp(&held))
        Say(QStringLiteral("stopping before the system clock was synchronised: %1 held readings written with the clock as it stands").arg(n));
    m_Releasing = true;
    Deliver(held);
    m_Releasing = false;
    std::vector<LoggerReading> out;
    m_Means.Flush(&out);
    for (const LoggerReading& r : out)
        Record(r);
    m_Live.Retry();
    m_History.Retry();
    Sync();
    if (!m_Runs.Flush() || !m_Runs.Retry())
        Say(m_Runs.LastError() + QStringLiteral("; the day file keeps the readings and the record file is rebuilt at the next start"));
    if (m_Mqtt)
        m_Mqtt->Stop();
    if (m_Influx)
        m_Influx->Stop();
    m_Session.Close();
    if (exitCode == 0)
        Say(QStringLiteral("stopped"));
    QCoreApplication::exit(exitCode);
}

void LoggerApp::Say(const QString& line)
{
    if (m_Sink) {
        m_Sink(line);
        return;
    }
    const QByteArray text = line.toUtf8() + '\n';
    fwrite(text.constData(), 1, size_t(text.size()), stderr);
    fflush(stderr);
}
