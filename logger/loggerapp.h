#pragma once
// The logger itself: polls the sensor every 200 ms, turns its frames into readings, writes
// them to the day files and the run's record files, says what happens on stderr (one line each,
// fit for the journal) and looks for the sensor again when it is gone.
#include "daylog.h"
#include "loggeroptions.h"
#include "readingassembler.h"
#include "runrecorder.h"
#include "sensorsession.h"

#include <QObject>
#include <QTimer>
#include <memory>

class MqttPublisher;
class SignalWatch;

class LoggerApp : public QObject {
    Q_OBJECT
public:
    explicit LoggerApp(const LoggerOptions& options, QObject* parent = nullptr);
    ~LoggerApp() override;

    // Starts the timers; false (with *error) when the folder cannot be created.
    bool Start(QString* error);
    // One poll step (the timer's; tests and benchmarks may call it with their own clock).
    void Tick();
    // Writes everything out and lets go of the sensor; the event loop ends with exitCode.
    void Finish(int exitCode);

    enum {
        kPollMs = 200,
        kRetryMs = 10000,
        kRecordFileMs = 10 * 60 * 1000,
    };

private:
    void HandleEvent(const SensorEvent& e, int64_t now, std::vector<LoggerReading>* readings);
    void Record(const LoggerReading& r);
    void RunBackfill(int64_t cutoffMs);
    void Retry();
    void Sync();
    void WriteRecordFiles();
    void Reopen();
    void Say(const QString& line);
    void NoteDisk(const DayLog& log);

    LoggerOptions m_Options;
    SensorSession m_Session;
    ReadingAssembler m_Assembler;
    DayLog m_Live;
    DayLog m_History;
    RunRecorder m_Runs;
    std::unique_ptr<MqttPublisher> m_Mqtt;
    SignalWatch* m_Signals = nullptr;
    QTimer m_Poll;
    QTimer m_SyncTimer;
    QTimer m_RetryTimer;
    QTimer m_RecordTimer;

    bool m_Busy = false;          // a history download holds the link
    bool m_StopAfterBusy = false; // SIGTERM arrived during it
    bool m_Finished = false;
    bool m_EverFound = false;
    bool m_SaidSearching = false;
    bool m_DiskFailing = false;
    bool m_RecordFailing = false;
    bool m_BackfillDue = false;
    bool m_MqttOnline = false;
    int64_t m_LostAtMs = -1;
    QByteArray m_LastSerial;
    GasKind m_GasKind = GasKind::None;
};
