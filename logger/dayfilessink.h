#pragma once
// The day files as a sink: live readings into YYYY-MM-DD.csv, the sensor's stored history into
// history-YYYY-MM-DD.csv; synced every --sync seconds, retried every 10 s while the disk
// fails, each change said once.
#include "daylog.h"
#include "readingsink.h"

class DayFilesSink : public ReadingSink {
public:
    DayFilesSink(const QString& folder, int syncSec, Say say);

    void Reading(const LoggerReading& r) override;
    void Poll(int64_t monoMs) override;
    void Reopen() override;
    void Stop() override;

    enum { kRetryMs = 10000 };

private:
    void Sync();
    void Retry();
    void NoteDisk(const DayLog& log);
    void SayNotices(DayLog& log);

    DayLog m_Live;
    DayLog m_History;
    const int64_t m_SyncMs;
    const Say m_Say;
    bool m_Started = false;
    int64_t m_NextSyncMs = 0;
    int64_t m_NextRetryMs = 0;
    bool m_DiskFailing = false;
    bool m_SyncFailing = false;
};
