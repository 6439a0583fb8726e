#pragma once
// The logger's InfluxDB output: every line of the day files and the history files, as line
// protocol (influxline.h), to the InfluxDB 1.x write API (which 2.x and 3.x also serve).
//
// What goes is read back from the files (influxbacklog.h): the reading a second ago and the
// lines of a day-long outage take the same way, through the byte offsets of .influx-position in
// the output folder. Readings that waited for the clock and the downloaded history go with their
// own times (source=history for the latter).
//
// Threading: the calls come from the logger's main thread and never wait for the network or the
// files: Reading() notes which day's file grew, Poll() wakes the sink's own thread and says its
// messages. That thread sends at most one request a second (all lines due, at most kMaxLines),
// retries with a back-off of 1 s to 60 s, and saves the positions at most once a minute (and at
// the end): after a kill -9 InfluxDB gets up to a minute of lines again, which replace their own
// points. Stop() returns within about 2 s whatever the server does.
#include "influxbacklog.h"
#include "influxhttp.h"
#include "influxoptions.h"
#include "readingsink.h"

#include <QPair>
#include <QSet>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class InfluxSink : public ReadingSink {
public:
    // folder: the logger's output folder (--out), whose day files it sends.
    InfluxSink(const InfluxOptions& options, const QString& folder, Say say);
    ~InfluxSink() override; // Stop()

    bool Open(QString* error) override;
    void Reading(const LoggerReading& r) override;
    void Poll(int64_t monoMs) override;
    void Stop() override;

    enum { kMaxLines = 5000, kMaxBytes = 1 << 20, kMaxDelaySec = 60, kSaveEverySec = 60, kIdleCheckSec = 10 };

private:
    using Clock = std::chrono::steady_clock;
    void Run(); // the sink's thread
    void Handle(const InfluxReply& reply, const InfluxBacklog::Batch& batch, InfluxHttp& http);
    void Report(const QString& key, const QString& line); // once per change of state
    void Post(const QString& line);
    void SayPosted();
    bool Aborting() const;

    const InfluxOptions m_Options;
    const Say m_Say;
    InfluxBacklog m_Backlog;

    std::thread m_Thread;
    std::mutex m_Mutex; // the members up to m_Posted
    std::condition_variable m_Wake;
    QSet<QPair<qint64, bool>> m_Hints; // (Julian day, history) of the readings since the last poll
    bool m_Hinted = false;             // Poll() handed them on
    bool m_Stopping = false;
    QStringList m_Posted; // the thread's messages, said by Poll() on the main thread
    std::atomic<bool> m_Abort{false};
    std::atomic<int64_t> m_StopByNs{0}; // Clock time by which the last request must be over

    // The sink's thread only
    QString m_LastKey;
    bool m_EverAccepted = false;
    bool m_Failing = false;
    bool m_CatchingUp = false;
    int64_t m_CaughtUpLines = 0;
    int m_MaxLines = kMaxLines;
    int m_DelaySec = 1;
    Clock::time_point m_NextSend;
};
