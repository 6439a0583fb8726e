#include "influxsink.h"

#include "csvformat.h"

#include <QDateTime>
#include <curl/curl.h>

#include <algorithm>

namespace {
constexpr auto kStopWait = std::chrono::milliseconds(1200); // Stop() returns within about 2 s
constexpr auto kScanEvery = std::chrono::seconds(10); // a folder listing: cheap

int64_t WallMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

int64_t Ns(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}
} // namespace

InfluxSink::InfluxSink(const InfluxOptions& options, const QString& folder, Say say)
    : m_Options(options), m_Say(std::move(say)), m_Backlog(folder)
{
}

InfluxSink::~InfluxSink()
{
    Stop();
}

bool InfluxSink::Open(QString* error)
{
    // Before any thread of ours runs: curl_global_init is not safe against other threads' use of
    // the library everywhere.
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (init != CURLE_OK) {
        *error = QStringLiteral("InfluxDB: cannot set up libcurl: %1").arg(QString::fromUtf8(curl_easy_strerror(init)));
        return false;
    }
    // On this thread, before the first reading is written: at a first start the files' ends now
    // are where sending begins.
    QString notice;
    m_Backlog.Load(WallMs(), &notice);
    if (!notice.isEmpty())
        m_Say(notice);
    for (const QString& line : m_Backlog.TakeNotices())
        m_Say(line);
    // A first start is written down at once: a crash within its first minute must not make the
    // next start a first one too, which would skip what came meanwhile.
    if (!m_Backlog.Save(&notice))
        m_Say(notice);
    m_NextSend = Clock::now();
    m_Thread = std::thread(&InfluxSink::Run, this);
    return true;
}

void InfluxSink::Reading(const LoggerReading& r)
{
    // Only which file grew: the line itself is read back from it, as it was written there.
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Hints.insert({Csv_LocalDay(r.timeMs).toJulianDay(), r.history});
}

void InfluxSink::Poll(int64_t monoMs)
{
    (void)monoMs;
    bool wake = false;
    {
        // The poll comes after every output has taken the readings: the day file has the lines.
        std::lock_guard<std::mutex> lock(m_Mutex);
        wake = m_Hinted = !m_Hints.isEmpty();
    }
    if (wake)
        m_Wake.notify_all();
    SayPosted();
}

void InfluxSink::Stop()
{
    if (!m_Thread.joinable())
        return;
    m_StopByNs = Ns(Clock::now() + kStopWait);
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Stopping = true;
    }
    m_Wake.notify_all();
    m_Thread.join();
    // Said at once: the program usually ends right after, without another poll.
    SayPosted();
}

bool InfluxSink::Aborting() const
{
    const int64_t by = m_StopByNs;
    return by != 0 && Ns(Clock::now()) >= by;
}

void InfluxSink::Post(const QString& line)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Posted << line;
}

void InfluxSink::SayPosted()
{
    QStringList lines;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        lines.swap(m_Posted);
    }
    for (const QString& line : lines)
        m_Say(line);
}

void InfluxSink::Report(const QString& key, const QString& line)
{
    if (key == m_LastKey)
        return;
    m_LastKey = key;
    Post(line);
}

void InfluxSink::Run()
{
    InfluxHttp http(m_Options, [this] { return Aborting(); });
    Clock::time_point lastScan = Clock::now(), lastSave = lastScan, lastLook = lastScan;
    bool more = true; // what an outage or the last run left: looked at first
    bool saveFailing = false;
    for (;;) {
        QSet<QPair<qint64, bool>> hints;
        bool stopping;
        {
            std::unique_lock<std::mutex> lock(m_Mutex);
            // Due at m_NextSend (one request a second, or the back-off) when there is something to
            // send; otherwise at the next reading, or a look now and then (history written by a
            // download, a file moved in).
            const Clock::time_point until =
                more || m_Hinted ? m_NextSend : std::max(m_NextSend, lastLook + std::chrono::seconds(kIdleCheckSec));
            m_Wake.wait_until(lock, until, [&] { return m_Stopping || (m_Hinted && Clock::now() >= m_NextSend); });
            hints.swap(m_Hints);
            m_Hinted = false;
            stopping = m_Stopping;
        }
        const Clock::time_point now = Clock::now();
        lastLook = now;
        bool scan = stopping || now - lastScan >= kScanEvery;
        for (const auto& hint : hints)
            scan = scan || m_Backlog.NeedsScan(QDate::fromJulianDay(hint.first), hint.second);
        if (scan) {
            m_Backlog.Scan(WallMs());
            lastScan = now;
        } else {
            m_Backlog.Refresh();
        }
        const InfluxBacklog::Batch batch = m_Backlog.Take(m_MaxLines, kMaxBytes);
        for (const QString& line : m_Backlog.TakeNotices())
            Post(line);
        more = batch.full;
        if (batch.lines == 0) {
            m_Backlog.Commit(batch); // headers and such: nothing to send
        } else if (!(stopping && (m_Failing || Aborting()))) {
            // At the end there is no waiting for a server that did not answer: the lines go at the
            // next start.
            m_NextSend = now + std::chrono::seconds(1);
            const InfluxReply reply = http.Post(batch.body);
            if (Aborting() && reply.kind != InfluxReply::Accepted)
                break; // cut off by the stop: sent again at the next start, nothing to say
            Handle(reply, batch, http);
            more = more || m_Failing || reply.kind == InfluxReply::TooLarge;
        }
        if (!stopping && now - lastSave >= std::chrono::seconds(kSaveEverySec)) {
            QString error;
            const bool saved = m_Backlog.Save(&error);
            if (!saved && !saveFailing)
                Post(error + QStringLiteral("; sent lines may go again after a restart"));
            saveFailing = !saved;
            lastSave = now;
        }
        if (stopping)
            break;
    }
    QString error;
    if (!m_Backlog.Save(&error))
        Post(error + QStringLiteral("; sent lines may go again at the next start"));
}

void InfluxSink::Handle(const InfluxReply& reply, const InfluxBacklog::Batch& batch, InfluxHttp& http)
{
    const QString server = m_Options.server;
    InfluxReply::Kind kind = reply.kind;
    if (kind == InfluxReply::TooLarge) {
        if (batch.lines > 1) {
            m_MaxLines = std::max(1, batch.lines / 2);
            Report(QStringLiteral("too large"), QStringLiteral("InfluxDB refused %1 lines in one write as too large: "
                                                               "sending at most %2 at a time").arg(batch.lines).arg(m_MaxLines));
            return;
        }
        kind = InfluxReply::Rejected; // one line too large: it never goes
    }
    switch (kind) {
    case InfluxReply::Accepted:
    case InfluxReply::Rejected:
        // InfluxDB stored what it could of a rejected batch; the rest it would refuse forever.
        // Either way the positions move on: the day files keep every line.
        m_Backlog.Commit(batch);
        if (kind == InfluxReply::Accepted && !m_EverAccepted)
            Post(QStringLiteral("connected to InfluxDB %1").arg(server));
        m_EverAccepted = m_EverAccepted || kind == InfluxReply::Accepted;
        if (m_Failing) {
            m_Failing = false;
            m_CatchingUp = true;
            m_CaughtUpLines = 0;
        }
        m_DelaySec = 1;
        if (kind == InfluxReply::Rejected)
            Report(QStringLiteral("rejected ") + reply.text,
                   QStringLiteral("InfluxDB refused the write: %1 (those lines are in the day files only)").arg(reply.text));
        else
            m_LastKey.clear();
        if (m_CatchingUp && kind == InfluxReply::Accepted)
            m_CaughtUpLines += batch.lines;
        if (m_CatchingUp && !batch.full) {
            Post(QStringLiteral("InfluxDB reachable again: %1 lines sent after the outage").arg(m_CaughtUpLines));
            m_CatchingUp = false;
        }
        return;
    case InfluxReply::Refused:
        if (reply.status == 401 || reply.status == 403)
            http.ReloadSecret(); // the file may hold a new token by the next try
        Report(QStringLiteral("refused %1").arg(reply.status),
               QStringLiteral("InfluxDB refused the write: %1; the lines wait and go once it takes them").arg(reply.text));
        break;
    case InfluxReply::Unreachable:
    case InfluxReply::TooLarge:
        Report(QStringLiteral("unreachable %1").arg(reply.status), QStringLiteral("InfluxDB %1 unreachable: %2").arg(server, reply.text));
        break;
    }
    m_Failing = true;
    m_CatchingUp = false;
    m_NextSend = Clock::now() + std::chrono::seconds(m_DelaySec);
    m_DelaySec = std::min(2 * m_DelaySec, int(kMaxDelaySec));
}
