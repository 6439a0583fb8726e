// The soak run: days of one reading per second from the simulated sensor (a particulate and
// formaldehyde model) through the real window's poll, on a stepped clock.
//
// Each second of device time the frames the device sends go into the serial link's receive
// buffer and the window's PollDevice takes them, one poll per frame, as its 200 ms timer would:
// framing, decoding, the gap filling of the live stores, the value fields and the plot all run
// as in the program; only the pseudo-terminal is left out (on the emulated bus a poll costs about
// a millisecond of real time, which would make fifteen days take most of an hour).
//
// After 14 days the live series is full and the record container halves its resolution; at the
// end the live store is saved as a record file and as a text export through the window's own
// commands, the record file is read back and opened, and every record and every text row is
// compared with what the device sent at its time. Resident memory is sampled every simulated
// hour and written as a CSV curve and a Markdown table.
//
//   soak_window [--days D] [--out FOLDER]      (default 15 days, FOLDER soak-out)
//
// Exit code 0 when every check held; the failures are printed otherwise.
#include "grecorddatapro.h"
#include "modalscript.h"
#include "platformtime.h"
#include "sensormodel.h"
#include "ui_pm2_5.h"
#include "windowtest.h"
#include "windowtexts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

constexpr int64_t kStartMs = 1714557600000LL; // 2024-05-01 10:00:00 UTC
constexpr int kDaySec = 86400;

int g_Failures = 0;

void Fail(const QString& what)
{
    if (++g_Failures <= 20)
        fprintf(stderr, "FAIL: %s\n", qPrintable(what));
}

double ResidentMB()
{
    long pages = 0, resident = 0;
    if (FILE* f = fopen("/proc/self/statm", "r")) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

struct Sample {
    double hours;
    double rssMB;
    int samples;
    int records;
    int secPerRecord;
};

SensorConfig Mv61()
{
    SensorConfig config;
    config.typeCode = 132; // particulates and formaldehyde: two channels
    config.name = {{'M', 'V', '6', '1'}};
    config.readings = SimReadingSource::Plausible(7);
    config.clockStartMs = kStartMs;
    return config;
}

class Soak {
public:
    Soak(double days, const QString& out) : m_Seconds(int64_t(days * kDaySec)), m_Out(out)
    {
        Platform_SetNow([this] { return m_NowMs; });
        Platform_SetSleep([this](int ms) { m_NowMs += ms; });
        m_Model.Clock().SetSource([this] { return m_NowMs; });
    }
    ~Soak()
    {
        m_Window.reset();
        Platform_SetSleep({});
        Platform_SetNow({});
    }

    void Run()
    {
        m_Samples.push_back({0, ResidentMB(), 0, 0, 1}); // before the window exists
        m_Window = MakeWindowWithoutSensor();
        PretendSerialSensor(*m_Window);
        m_Window->show();
        QCoreApplication::processEvents();
        m_Model.Receive(SimMakeFrame(kSimIdentity));
        m_Model.Receive(SimMakeFrame(kSimSerialNumber));

        QElapsedTimer real;
        real.start();
        for (int64_t s = 0; s < m_Seconds; ++s) {
            if (s > 0)
                m_NowMs += 1000;
            while (const std::optional<SimMessage> frame = m_Model.NextFrame())
                Poll(*frame);
            // The event loop runs between the poll's ticks: paint the plot now and then.
            if (s % 60 == 59)
                QCoreApplication::processEvents();
            if ((s + 1) % 3600 == 0)
                TakeSample(double(s + 1) / 3600.0);
        }
        m_RunSeconds = real.elapsed() / 1000.0;
        CheckAfterRun();
        SaveAndReadBack();
        WriteCurve();
    }

private:
    void Poll(const SimMessage& frame)
    {
        PM2_5& w = *m_Window;
        if (w.m_CodeUsb.m_Serial.RxAppend(reinterpret_cast<const char*>(frame.data() + 1), kSimFrameLen)
            != kSimFrameLen)
            Fail("the receive buffer refused a frame");
        if (!w.PollDevice(0))
            Fail(QStringLiteral("a frame of type %1 was not taken").arg(frame[2], 0, 16));
        if (frame[2] != kSimMeasurement || (frame[3] != 1 && frame[3] != 3))
            return;
        // What the device measured is what the sensor model's readings say for that index.
        const SimScaledReading expected = Expected(m_Readings);
        if (SimWord(frame, 8) != expected.pm25 || SimWord(frame, 12) != expected.pm10)
            Fail(QStringLiteral("reading %1 is not the one the model describes").arg(m_Readings));
        if (m_Readings == 0)
            m_FirstReadingSec = m_NowMs / 1000;
        ++m_Readings;
    }

    SimScaledReading Expected(int64_t index) const { return SimScale(m_Model.Config().readings.At(index)); }
    // The reading the device sent at this second, by its time.
    SimScaledReading SentAt(int64_t sec) const { return Expected(sec - m_FirstReadingSec); }

    const GRecordDataPro* Live(int channel) const { return m_Window->m_RecordData[channel].m_pRealTime; }

    void TakeSample(double hours)
    {
        const GRecordDataPro* live = Live(0);
        m_Samples.push_back({hours, ResidentMB(), live->m_pRealData->m_DataCount, live->m_pTrac->used,
                             live->m_pTrac->sec_per_record});
        // The value fields show the newest reading all along.
        if (!ShowsNewest())
            Fail(QStringLiteral("hour %1: the value field shows %2").arg(hours).arg(m_Window->ui->lineEditValue->text()));
        if (int64_t(hours) % 24 == 0)
            fprintf(stderr, "day %d: %.1f MB resident, %d samples, %d records of %d s\n", int(hours / 24),
                    m_Samples.back().rssMB, m_Samples.back().samples, m_Samples.back().records,
                    m_Samples.back().secPerRecord);
    }

    bool ShowsNewest() const
    {
        const SimScaledReading last = m_Model.LastMeasurement();
        return m_Window->ui->lineEditValue->text() == ShownValueText(last.pm25, 6)
               && m_Window->ui->lineEditPM10Value->text() == ShownValueText(last.pm10, 6);
    }

    void CheckAfterRun()
    {
        PM2_5& w = *m_Window;
        if (m_Readings != m_Seconds)
            Fail(QStringLiteral("%1 readings sent in %2 seconds").arg(m_Readings).arg(m_Seconds));
        if (!ShowsNewest())
            Fail("the value fields do not show the newest reading at the end");
        for (int c = 0; c < 2; ++c) {
            const _SRealData* series = Live(c)->m_pRealData;
            const int64_t expected = std::min<int64_t>(m_Readings, kRealDataCapacity);
            if (series->m_DataCount != expected || series->m_OfferedCount != m_Readings)
                Fail(QStringLiteral("channel %1 holds %2 samples of %3 offered").arg(c).arg(series->m_DataCount).arg(series->m_OfferedCount));
        }
        const _STracFile* trac = Live(0)->m_pTrac;
        const int spr = m_Readings > kRealDataCapacity ? 2 : 1;
        if (trac->sec_per_record != spr || trac->used != int((m_Readings + spr - 1) / spr))
            Fail(QStringLiteral("the container holds %1 records of %2 s").arg(trac->used).arg(trac->sec_per_record));
        // Once the series is full and the container has halved its resolution, only the
        // container still grows (one 8-byte record every 2 s: 0.3 MB a day). Measured from the
        // hour after the halving, which hands pages back, to the end.
        if (m_Readings >= kRealDataCapacity + kDaySec && m_Samples.size() > 24) {
            const double growth = m_Samples.back().rssMB - m_Samples[m_Samples.size() - 24].rssMB;
            if (growth > 2.0)
                Fail(QStringLiteral("resident memory grew by %1 MB in the last 23 hours").arg(growth));
            m_LastDayGrowthMB = growth;
        }
        if (w.m_Plot.mCurves.isEmpty())
            Fail("the plot has no curves");
    }

    void SaveAndReadBack()
    {
        PM2_5& w = *m_Window;
        QDir().mkpath(m_Out);
        const QString bin = QDir(m_Out).filePath("live.str");
        const QString text = QDir(m_Out).filePath("live.xls");
        QFile::remove(bin);
        QFile::remove(text);
        {
            ModalScript dialogs;
            dialogs.ChooseFile(bin).ChooseFile(text);
            w.ui->actionBinary->trigger();
            w.ui->actionExecl->trigger();
            if (dialogs.Unexpected() != 0)
                Fail("an unexpected dialog opened while saving");
        }
        const int64_t startSec = Live(0)->m_StartTime.toSecsSinceEpoch();
        if (startSec != m_FirstReadingSec)
            Fail("the live store does not start with the first reading");
        CheckRecordFile(bin, startSec);
        CheckTextExport(text, startSec);

        // The record file opens in the window as the file store.
        ModalScript dialogs;
        dialogs.ChooseFile(bin);
        w.ui->actionOpen->trigger();
        const GRecordDataPro* file = w.m_RecordData[0].m_pFileData;
        if (w.m_RecordData[0].m_pCurrent != file || file->m_StartTime.toSecsSinceEpoch() != startSec
            || file->m_pRealData->m_DataCount != Live(0)->m_pTrac->used
            || file->m_pRealData->m_DataSecUnit != Live(0)->m_pTrac->sec_per_record)
            Fail("the window did not open the record file as saved");
    }

    void CheckRecordFile(const QString& path, int64_t startSec)
    {
        _STracFile* trac = Trac_Create();
        const int n = Trac_Read(trac, QFile::encodeName(path).constData());
        const _STracFile* live = Live(0)->m_pTrac;
        if (n != live->used || int64_t(trac->start_time) != startSec || trac->sec_per_record != live->sec_per_record)
            Fail(QStringLiteral("record file: %1 records of %2 s from %3").arg(n).arg(trac->sec_per_record).arg(trac->start_time));
        int wrong = 0;
        for (int i = 0; i < n; ++i) {
            // Record i describes start_time + i x sec_per_record: it holds what was sent then.
            const SimScaledReading sent = SentAt(int64_t(trac->start_time) + int64_t(i) * trac->sec_per_record);
            if (trac->records[i].value1 != sent.pm25 || trac->records[i].value2 != sent.pm10) {
                if (++wrong <= 5)
                    Fail(QStringLiteral("record %1 holds %2/%3, the device sent %4/%5 at its time").arg(i)
                             .arg(trac->records[i].value1).arg(trac->records[i].value2).arg(sent.pm25).arg(sent.pm10));
            }
        }
        m_RecordsChecked = n - wrong;
        Trac_Destroy(trac);
    }

    void CheckTextExport(const QString& path, int64_t startSec)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            Fail("no text export");
            return;
        }
        const QByteArray all = f.readAll();
        const QList<QByteArray> lines = all.split('\n');
        const int rows = Live(0)->m_pRealData->m_DataCount;
        if (lines.value(0).trimmed() != "Data Count:" + QByteArray::number(rows))
            Fail("text export: wrong count line");
        int wrong = 0;
        for (int i = 0; i < rows; ++i) {
            const QList<QByteArray> fields = lines.value(3 + i).simplified().split(' ');
            const SimScaledReading sent = SentAt(startSec + i);
            const QByteArray clock = QDateTime::fromSecsSinceEpoch(startSec + i).toString("hh:mm:ss").toLatin1();
            const bool ok = fields.size() == 3 && fields[0].toInt() == i + 1 && fields[1] == clock
                            && fields[2].toDouble() == sent.pm25 / 10.0;
            if (!ok && ++wrong <= 5)
                Fail(QStringLiteral("text row %1: %2").arg(i + 1).arg(QString::fromLatin1(lines.value(3 + i))));
        }
        m_RowsChecked = rows - wrong;
    }

    void WriteCurve()
    {
        QFile csv(QDir(m_Out).filePath("soak-rss.csv"));
        if (csv.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            QTextStream s(&csv);
            s << "hours,rss_mb,pm_samples,pm_records,sec_per_record\n";
            for (const Sample& x : m_Samples)
                s << x.hours << ',' << QString::number(x.rssMB, 'f', 1) << ',' << x.samples << ',' << x.records << ','
                  << x.secPerRecord << '\n';
        }
        QFile md(QDir(m_Out).filePath("soak-table.md"));
        if (md.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            QTextStream s(&md);
            s << "| Day | Resident MB | PM samples | PM records | s per record |\n|---|---|---|---|---|\n";
            for (const Sample& x : m_Samples) {
                if (x.hours != 0 && int64_t(x.hours) % 24 != 0)
                    continue;
                s << "| " << (x.hours == 0 && &x == &m_Samples.front() ? QStringLiteral("before the window")
                                                                          : QString::number(x.hours / 24))
                  << " | " << QString::number(x.rssMB, 'f', 1) << " | " << x.samples << " | " << x.records << " | "
                  << x.secPerRecord << " |\n";
            }
        }
        printf("%lld readings in %.0f s of real time (%.1f us per reading); %d records and %d text rows "
               "compared; resident %.1f MB at the end, %.2f MB growth in the last 23 hours\n",
               static_cast<long long>(m_Readings), m_RunSeconds, m_RunSeconds * 1e6 / double(std::max<int64_t>(m_Readings, 1)),
               m_RecordsChecked, m_RowsChecked, m_Samples.back().rssMB, m_LastDayGrowthMB);
    }

    int64_t m_NowMs = kStartMs;
    int64_t m_Seconds;
    QString m_Out;
    SensorModel m_Model{Mv61()};
    std::unique_ptr<PM2_5> m_Window;
    std::vector<Sample> m_Samples;
    int64_t m_Readings = 0;
    int64_t m_FirstReadingSec = 0;
    double m_RunSeconds = 0;
    double m_LastDayGrowthMB = 0;
    int m_RecordsChecked = 0;
    int m_RowsChecked = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Vostral_InitResources();
    double days = 15;
    QString out = QStringLiteral("soak-out");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--days")
            days = args[i + 1].toDouble();
        else if (args[i] == "--out")
            out = args[i + 1];
    }
    {
        Soak soak(days, out);
        soak.Run();
    }
    if (g_Failures > 0) {
        fprintf(stderr, "%d checks failed\n", g_Failures);
        return 1;
    }
    return 0;
}
