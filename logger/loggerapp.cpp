#include "loggerapp.h"

#include "csvformat.h"
#include "historybackfill.h"
#include "mqttpublisher.h"
#include "platformtime.h"
#include "signalwatch.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

LoggerApp::LoggerApp(const LoggerOptions& options, QObject* parent)
    : QObject(parent),
      m_Options(options),
      m_Session(options),
      m_Assembler(options.intervalSec, false),
      m_Live(options.outDir, false),
      m_History(options.outDir, true),
      m_Runs(options.outDir, options.intervalSec > 0 ? options.intervalSec : 1)
{
    if (m_Options.mqtt.enabled)
        m_Mqtt = std::make_unique<MqttPublisher>(m_Options.mqtt, [this](const QString& line) { Say(line); });
}

LoggerApp::~LoggerApp()
{
    Finish(0);
}

bool LoggerApp::Start(QString* error)
{
    if (!QDir().mkpath(m_Options.outDir)) {
        *error = QStringLiteral("cannot create the folder %1").arg(m_Options.outDir);
        return false;
    }
    m_Signals = new SignalWatch(this);
    connect(m_Signals, &SignalWatch::Stop, this, [this] {
        if (m_Busy) {
            // The download ends at its next wait; the program ends after it.
            m_StopAfterBusy = true;
            if (SCodeUsb* codec = m_Session.Codec())
                codec->CancelHistoryDownload();
            return;
        }
        Finish(0);
    });
    connect(m_Signals, &SignalWatch::Reopen, this, &LoggerApp::Reopen);

    connect(&m_Poll, &QTimer::timeout, this, &LoggerApp::Tick);
    connect(&m_SyncTimer, &QTimer::timeout, this, &LoggerApp::Sync);
    connect(&m_RetryTimer, &QTimer::timeout, this, &LoggerApp::Retry);
    connect(&m_RecordTimer, &QTimer::timeout, this, &LoggerApp::WriteRecordFiles);
    m_Poll.start(kPollMs);
    m_SyncTimer.start(m_Options.syncSec * 1000);
    m_RetryTimer.start(kRetryMs);
    m_RecordTimer.start(kRecordFileMs);
    Say(QStringLiteral("recording to %1").arg(QDir(m_Options.outDir).absolutePath()));
    QTimer::singleShot(0, this, &LoggerApp::Tick);
    return true;
}

void LoggerApp::Tick()
{
    if (m_Busy || m_Finished)
        return;
    const int64_t now = Platform_NowMs();
    std::vector<SensorEvent> events;
    std::vector<LoggerReading> readings;
    m_Session.Tick(now, &events);
    for (const SensorEvent& e : events) {
        HandleEvent(e, now, &readings);
        if (m_Finished)
            return;
    }
    m_Assembler.Tick(now, &readings);
    for (const LoggerReading& r : readings)
        Record(r);
    if (m_BackfillDue && !readings.empty() && m_Session.Running()) {
        m_BackfillDue = false;
        RunBackfill(readings.front().timeMs);
    }
}

void LoggerApp::HandleEvent(const SensorEvent& e, int64_t now, std::vector<LoggerReading>* readings)
{
    switch (e.kind) {
    case SensorEvent::Found: {
        const QString who = QStringLiteral("sensor %1 (serial %2) %3")
                                .arg(QString::fromLatin1(m_Session.Model()), QString::fromLatin1(m_Session.Serial()), e.text);
        if (m_LostAtMs >= 0) {
            Say(QStringLiteral("sensor back after %1 s").arg((now - m_LostAtMs + 500) / 1000));
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
        m_Assembler.AddPrimary(now, e.pm25, e.pm10, readings);
        break;
    case SensorEvent::Gas:
        m_GasKind = e.gasKind;
        m_Assembler.AddGas(now, e.gas, e.gasKind, readings);
        break;
    case SensorEvent::Lost:
        // What arrived before the loss is recorded; the gap stays a gap.
        m_Assembler.Flush(readings);
        for (const LoggerReading& r : *readings)
            Record(r);
        readings->clear();
        if (!m_Runs.EndRun())
            Say(m_Runs.LastError());
        Say(QStringLiteral("sensor lost (%1); looking for it every %2 s").arg(e.text).arg(SensorSession::kSearchEveryMs / 1000));
        m_LostAtMs = now;
        if (m_Mqtt)
            m_Mqtt->SensorOffline();
        break;
    case SensorEvent::Mismatch:
        if (!m_EverFound) {
            Say(QStringLiteral("no sensor with serial %1 (found: %2)").arg(m_Options.device, e.text));
            Finish(1);
            return;
        }
        if (!m_SaidSearching)
            Say(QStringLiteral("the sensor with serial %1 is not there (found: %2); looking every 2 s").arg(m_Options.device, e.text));
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
    case SensorEvent::Busy:
        if (!m_SaidSearching)
            Say(QStringLiteral("sensor busy: held by another program %1; trying again every 2 s").arg(e.text));
        m_SaidSearching = true;
        break;
    case SensorEvent::Denied:
        if (!m_SaidSearching)
            Say(QStringLiteral("cannot open the sensor %1: permission denied (the user needs the %2 group); trying again every 2 s").arg(e.text, e.group));
        m_SaidSearching = true;
        break;
    }
}

void LoggerApp::Record(const LoggerReading& r)
{
    if (!m_Live.Append(r))
        NoteDisk(m_Live);
    m_Runs.Add(r);
    if (m_Mqtt) {
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
    m_Busy = true;
    const BackfillResult result = Backfill_Run(*codec, sensor, cutoffMs, m_History, m_Options.outDir);
    m_Busy = false;
    codec->m_HistoryCancelled = false;
    Say(result.Describe());
    if (m_History.Failing())
        NoteDisk(m_History);
    m_History.Sync();
    m_Session.Resume(Platform_NowMs());
    if (m_StopAfterBusy)
        Finish(0);
}

void LoggerApp::NoteDisk(const DayLog& log)
{
    if (m_DiskFailing)
        return;
    m_DiskFailing = true;
    Say(log.LastError() + QStringLiteral("; keeps polling and tries again every 10 s"));
}

void LoggerApp::Retry()
{
    if (m_DiskFailing) {
        const bool live = m_Live.Retry();
        const bool history = m_History.Retry();
        if (live && history) {
            m_DiskFailing = false;
            QString line = QStringLiteral("writing again");
            if (m_Live.Dropped() > 0)
                line += QStringLiteral(" (%1 readings could not be kept meanwhile)").arg(m_Live.Dropped());
            Say(line);
        }
    }
    if (m_RecordFailing)
        WriteRecordFiles();
}

void LoggerApp::Sync()
{
    m_Live.Sync();
    m_History.Sync();
}

void LoggerApp::WriteRecordFiles()
{
    const bool ok = m_Runs.Flush();
    if (!ok && !m_RecordFailing)
        Say(m_Runs.LastError());
    m_RecordFailing = !ok;
}

void LoggerApp::Reopen()
{
    Sync();
    m_Live.Reopen();
    m_History.Reopen();
    Say(QStringLiteral("files reopened"));
}

void LoggerApp::Finish(int exitCode)
{
    if (m_Finished)
        return;
    m_Finished = true;
    m_Poll.stop();
    std::vector<LoggerReading> readings;
    m_Assembler.Flush(&readings);
    for (const LoggerReading& r : readings)
        Record(r);
    m_Live.Retry();
    m_History.Retry();
    Sync();
    if (!m_Runs.Flush())
        Say(m_Runs.LastError());
    if (m_Mqtt)
        m_Mqtt->Stop();
    m_Session.Close();
    if (exitCode == 0)
        Say(QStringLiteral("stopped"));
    QCoreApplication::exit(exitCode);
}

void LoggerApp::Say(const QString& line)
{
    const QByteArray text = line.toUtf8() + '\n';
    fwrite(text.constData(), 1, size_t(text.size()), stderr);
    fflush(stderr);
}
