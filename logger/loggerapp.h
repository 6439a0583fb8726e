#pragma once
// The logger itself, one readable sequence per poll (every 200 ms):
//   look at the clocks -> step the sensor session -> pair its frames into readings -> give them
//   their wall-clock times (or hold them until the clock is known) -> --interval means -> the
//   day files, the run's record files and MQTT.
// It says what happens on stderr (one line each, fit for the journal) and looks for the sensor
// again when it is gone. Every wait and time-out runs on the monotonic clock.
#include "clockkeeper.h"
#include "daylog.h"
#include "folderlock.h"
#include "intervalmeans.h"
#include "loggerclock.h"
#include "loggeroptions.h"
#include "readingassembler.h"
#include "runrecorder.h"
#include "sensorsession.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class MqttPublisher;
class ReadingSink;
class SignalWatch;

class LoggerApp : public QObject {
    Q_OBJECT
public:
    // clock: the system's unless a test gives its own.
    explicit LoggerApp(const LoggerOptions& options, const LoggerClock* clock = nullptr, QObject* parent = nullptr);
    ~LoggerApp() override;

    // Where the messages go: stderr unless set.
    void SetMessageSink(std::function<void(const QString&)> sink) { m_Sink = std::move(sink); }
    // Takes the folder and starts the timers; false (with *error) when the folder cannot be
    // created or another logger records into it.
    bool Start(QString* error);
    // One poll step (the timer's).
    void Tick();
    // Writes everything out and lets go of the sensor; the event loop ends with exitCode.
    void Finish(int exitCode);

    enum {
        kPollMs = 200,
        kRetryMs = 10000,
    };

private:
    void OnClock(const ClockKeeper::Event& e);
    void HandleEvent(const SensorEvent& e, int64_t now, std::vector<LoggerReading>* raw);
    void Stamp(std::vector<LoggerReading>* raw);
    void Deliver(const std::vector<LoggerReading>& stamped);
    void EndRun();
    void Record(const LoggerReading& r);
    void RunBackfill(int64_t cutoffMs);
    void Retry();
    void Sync();
    void Reopen();
    void Say(const QString& line);
    void SayNotices(DayLog& log);
    void NoteDisk(const DayLog& log);
    void NoteRecordFiles();

    LoggerOptions m_Options;
    const LoggerClock& m_Clock;
    std::function<void(const QString&)> m_Sink;
    FolderLock m_Lock;
    SensorSession m_Session;
    ReadingAssembler m_Assembler;
    ClockKeeper m_Keeper;
    IntervalMeans m_Means;
    DayLog m_Live;
    DayLog m_History;
    RunRecorder m_Runs;
    std::unique_ptr<MqttPublisher> m_Mqtt;
    std::unique_ptr<ReadingSink> m_Influx;
    SignalWatch* m_Signals = nullptr;
    QTimer m_Poll;
    QTimer m_SyncTimer;
    QTimer m_RetryTimer;

    bool m_Started = false;
    bool m_Busy = false;          // a history download holds the link
    bool m_StopAfterBusy = false; // SIGTERM arrived during it
    bool m_Finished = false;
    bool m_EverFound = false;
    bool m_SaidSearching = false;
    bool m_DiskFailing = false;
    bool m_SyncFailing = false;
    bool m_RecordFailing = false;
    bool m_Releasing = false;     // delivering readings that were held for the clock
    bool m_BackfillDue = false;
    int64_t m_BackfillAfterMs = 0; // monotonic: the find that asked for it
    bool m_MqttOnline = false;
    int64_t m_LostAtMs = -1;
    QByteArray m_LastSerial;
    GasKind m_GasKind = GasKind::None;
};
