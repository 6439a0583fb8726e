#include "dayfilessink.h"

DayFilesSink::DayFilesSink(const QString& folder, int syncSec, Say say)
    : m_Live(folder, false), m_History(folder, true), m_SyncMs(int64_t(syncSec) * 1000), m_Say(std::move(say))
{
}

void DayFilesSink::Reading(const LoggerReading& r)
{
    DayLog& log = r.history ? m_History : m_Live;
    if (!log.Append(r))
        NoteDisk(log);
    SayNotices(log);
}

void DayFilesSink::Poll(int64_t monoMs)
{
    if (!m_Started) {
        m_Started = true;
        m_NextSyncMs = monoMs + m_SyncMs;
        m_NextRetryMs = monoMs + kRetryMs;
    }
    if (monoMs >= m_NextSyncMs) {
        m_NextSyncMs = monoMs + m_SyncMs;
        Sync();
    }
    if (monoMs >= m_NextRetryMs) {
        m_NextRetryMs = monoMs + kRetryMs;
        Retry();
    }
}

void DayFilesSink::Reopen()
{
    Sync();
    m_Live.Reopen();
    m_History.Reopen();
}

void DayFilesSink::Stop()
{
    m_Live.Retry();
    m_History.Retry();
    Sync();
}

void DayFilesSink::NoteDisk(const DayLog& log)
{
    if (m_DiskFailing)
        return;
    m_DiskFailing = true;
    m_Say(log.LastError() + QStringLiteral("; keeps polling and tries again every 10 s"));
}

void DayFilesSink::SayNotices(DayLog& log)
{
    for (const QString& line : log.TakeNotices())
        m_Say(line);
}

void DayFilesSink::Retry()
{
    if (!m_DiskFailing)
        return;
    const bool live = m_Live.Retry();
    const bool history = m_History.Retry();
    SayNotices(m_Live);
    if (live && history) {
        m_DiskFailing = false;
        QString line = QStringLiteral("writing again");
        if (m_Live.Dropped() > 0)
            line += QStringLiteral(" (%1 readings could not be kept meanwhile)").arg(m_Live.Dropped());
        m_Say(line);
    }
}

void DayFilesSink::Sync()
{
    const bool live = m_Live.Sync();
    const bool history = m_History.Sync();
    SayNotices(m_Live);
    SayNotices(m_History);
    // Said once when it starts failing and once when it works again, not at every sync.
    if (!(live && history) && !m_SyncFailing)
        m_Say(QStringLiteral("cannot sync to the disk: %1").arg((live ? m_History : m_Live).LastError()));
    else if (live && history && m_SyncFailing)
        m_Say(QStringLiteral("syncing to the disk again"));
    m_SyncFailing = !(live && history);
}
