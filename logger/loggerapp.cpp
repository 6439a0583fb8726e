#include "loggerapp.h"

#include "csvformat.h"
#include "dayfilessink.h"
#include "historybackfill.h"
#include "mqttsink.h"
#ifdef VOSTRAL_PROMETHEUS
#include "prometheussink.h"
#endif
#ifdef VOSTRAL_INFLUX
#include "influxsink.h"
#endif
#include "recordfilessink.h"
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
      m_Means(options.intervalSec)
{
    const ReadingSink::Say say = [this](const QString& line) { Say(line); };
    m_Sinks.push_back(std::make_unique<DayFilesSink>(options.outDir, options.syncSec, say));
    m_Sinks.push_back(std::make_unique<RecordFilesSink>(options.outDir, options.intervalSec, say)); // 0: a step of 1 s
    if (options.mqtt.enabled)
        m_Sinks.push_back(std::make_unique<MqttSink>(options.mqtt, say));
#ifdef VOSTRAL_PROMETHEUS
    if (options.prometheus.enabled)
        m_Sinks.push_back(std::make_unique<PrometheusSink>(options.prometheus, say));
#endif
#ifdef VOSTRAL_INFLUX
    // After the day files: it sends what they hold, so it polls and stops after them.
    if (options.influx.enabled)
        m_Sinks.push_back(std::make_unique<InfluxSink>(options.influx, options.outDir, say));
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
    Say(QStringLiteral("recording to %1").arg(folder));
    for (const auto& sink : m_Sinks) {
        if (!sink->Open(error))
            return false;
    }
    m_Started = true;

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
    m_Poll.start(kPollMs);
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
    Deliver(released);
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
    if (const int refused = m_Session.TakeFramesRefused())
        for (const auto& sink : m_Sinks)
            sink->FramesRefused(refused);
    for (const auto& sink : m_Sinks)
        sink->Poll(now);
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
        m_SaidRefused = false;
        m_LostAtMs = -1;
        m_LastSerial = m_Session.Serial();
        m_Assembler.SetSensor(m_Session.Model(), m_Session.Serial(), m_Session.HasGas());
        m_BackfillDue = m_Options.backfill;
        m_BackfillAfterMs = now;
        SensorInfo sensor;
        sensor.serial = m_Session.Serial();
        sensor.model = m_Session.Model();
        sensor.typeCode = m_Session.TypeCode();
        sensor.hasPm10 = m_Session.HasPm10();
        sensor.hasGas = m_Session.HasGas();
        sensor.where = e.text;
        for (const auto& sink : m_Sinks)
            sink->SensorFound(sensor);
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
        for (const auto& sink : m_Sinks)
            sink->SensorLost();
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
    // Said once until the sensor is taken, whatever the search said before.
    case SensorEvent::Busy:
        if (!m_SaidRefused)
            Say(QStringLiteral("sensor busy: held by another program %1; trying again every 2 s").arg(e.text));
        m_SaidRefused = true;
        break;
    case SensorEvent::Denied:
        if (!m_SaidRefused)
            Say(QStringLiteral("cannot open the sensor %1: permission denied (the user needs the %2 group); trying again every 2 s").arg(e.text, e.group));
        m_SaidRefused = true;
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
    for (const auto& sink : m_Sinks)
        sink->RunEnds();
}

void LoggerApp::Record(const LoggerReading& r)
{
    for (const auto& sink : m_Sinks)
        sink->Reading(r);
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
    std::vector<LoggerReading> values;
    const BackfillResult result = Backfill_Run(*codec, sensor, cutoffMs, m_Keeper.NowMs(), m_Options.outDir, &values);
    m_Busy = false;
    for (const LoggerReading& r : values)
        for (const auto& sink : m_Sinks)
            sink->Reading(r);
    Say(result.Describe());
    m_Session.Resume(m_Clock.MonotonicMs());
    if (m_StopAfterBusy || SignalWatch::StopPending())
        Finish(0);
}

void LoggerApp::Reopen()
{
    for (const auto& sink : m_Sinks)
        sink->Reopen();
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
    Deliver(held);
    std::vector<LoggerReading> out;
    m_Means.Flush(&out);
    for (const LoggerReading& r : out)
        Record(r);
    for (const auto& sink : m_Sinks)
        sink->Stop();
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
