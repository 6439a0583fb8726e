#pragma once
// The runs' record files as a sink (RunRecorder): at start, the temporary files of an
// interrupted write are removed and the record files a cut-off run lacks are rebuilt from the
// day files; a run's files are written when it ends, on SIGHUP and at exit; files that cannot be
// written wait and are tried again every 10 s.
#include "readingsink.h"
#include "runrecorder.h"

class RecordFilesSink : public ReadingSink {
public:
    RecordFilesSink(const QString& folder, int stepSec, Say say);

    bool Open(QString* error) override;
    void Reading(const LoggerReading& r) override;
    void RunEnds() override;
    void SensorLost() override { RunEnds(); }
    void Poll(int64_t monoMs) override;
    void Reopen() override;
    void Stop() override;

    enum { kRetryMs = 10000 };

private:
    void Note();

    const QString m_Folder;
    const int m_StepSec;
    const Say m_Say;
    RunRecorder m_Runs;
    bool m_Failing = false;
    int64_t m_NextRetryMs = -1;
};
