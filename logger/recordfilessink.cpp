#include "recordfilessink.h"

RecordFilesSink::RecordFilesSink(const QString& folder, int stepSec, Say say)
    : m_Folder(folder), m_StepSec(stepSec), m_Say(std::move(say)), m_Runs(folder, stepSec)
{
}

bool RecordFilesSink::Open(QString*)
{
    if (const int stale = Atomic_RemoveStale(m_Folder))
        m_Say(QStringLiteral("removed %1 unfinished temporary file(s) of an interrupted write").arg(stale));
    QString error;
    const QStringList rebuilt = Runs_Rebuild(m_Folder, m_StepSec, &error);
    if (!rebuilt.isEmpty())
        m_Say(QStringLiteral("record files rebuilt from the day files: %1").arg(rebuilt.join(QStringLiteral(", "))));
    if (!error.isEmpty())
        m_Say(error);
    return true;
}

void RecordFilesSink::Reading(const LoggerReading& r)
{
    m_Runs.Add(r);
    Note();
}

void RecordFilesSink::RunEnds()
{
    m_Runs.EndRun();
    Note();
}

void RecordFilesSink::Poll(int64_t monoMs)
{
    if (!m_Failing)
        return;
    if (m_NextRetryMs < 0)
        m_NextRetryMs = monoMs + kRetryMs;
    if (monoMs < m_NextRetryMs)
        return;
    m_NextRetryMs = monoMs + kRetryMs;
    m_Runs.Retry();
    Note();
}

void RecordFilesSink::Reopen()
{
    // A look at the running run without stopping the logger.
    m_Runs.Flush();
    Note();
}

void RecordFilesSink::Stop()
{
    if (!m_Runs.Flush() || !m_Runs.Retry())
        m_Say(m_Runs.LastError() + QStringLiteral("; the day file keeps the readings and the record file is rebuilt at the next start"));
}

void RecordFilesSink::Note()
{
    if (m_Runs.Failing() == m_Failing)
        return;
    m_Failing = m_Runs.Failing();
    m_NextRetryMs = -1;
    if (m_Failing)
        m_Say(m_Runs.LastError() + QStringLiteral("; the record file waits and is tried again every 10 s"));
    else
        m_Say(QStringLiteral("record files written again"));
}
