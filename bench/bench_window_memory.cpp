// Resident memory of the real window (offscreen), measured in three states:
//   A  the window before its channels exist (built without a sensor, its channels released);
//   B  the same window with two channels and no data;
//   C  after 14 days of one reading per second into both channels' live stores, fed through
//      GRecordChannel::AddReading on a stepped clock, with the plot redrawn.
// Targets: B - A within 15 MB, and C within 1.3 x the bytes the stored samples and records
// occupy, plus B. Prints the numbers and exits with 1 when a target is missed.
//
//   bench_window_memory [days]      (default 14)
#include "grecorddatapro.h"
#include "platformtime.h"
#include "pm2_5.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <memory>

namespace {
constexpr double kMB = 1024.0 * 1024.0;

double ResidentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = fopen("/proc/self/statm", "r")) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

// The bytes the stored samples (two values and a time each), the shown points (the same three)
// and the records (8 bytes each) of a store occupy.
double StoredBytes(const GRecordDataPro* store)
{
    const _SRealData* s = store->m_pRealData;
    return 3.0 * sizeof(double) * s->m_DataCount + 3.0 * sizeof(double) * s->m_ShowCount
           + double(sizeof(_STracRecord)) * store->m_pTrac->used;
}

double StoredBytes(const PM2_5& w)
{
    double bytes = 0;
    for (int c = 0; c < w.m_ChannelCount; ++c) {
        const GRecordChannel& ch = w.m_RecordData[c];
        for (const GRecordDataPro* store : {ch.m_pRealTime, ch.m_pFileData, ch.m_pHisData})
            bytes += StoredBytes(store);
    }
    return bytes;
}

// Lets the window paint, a few rounds of the event loop.
void Settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}
} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double days = argc > 1 ? atof(argv[1]) : 14.0;
    int64_t nowMs = 1714557600000LL;
    Platform_SetNow([&] { return nowMs; });
    Platform_SetSleep([&](int ms) { nowMs += ms; });

    const double app0 = ResidentBytes();
    // Without a sensor the window warns in a modal box: close it from a timer.
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            box->reject();
    });
    closer.start();
    auto window = std::make_unique<PM2_5>();
    closer.stop();
    PM2_5& w = *window;
    w.show();
    Settle();

    // A: the channels the window made for lack of a device are released.
    w.ReleaseRecordData();
    Settle();
    const double a = ResidentBytes();

    // B: two channels, as for a particulate and formaldehyde sensor.
    w.m_CodeUsb.m_TypeCode = 132;
    w.CreateRecordData();
    Settle();
    const double b = ResidentBytes();

    // C: fourteen days of readings in both channels.
    const int64_t seconds = int64_t(days * 86400.0);
    TAG_T_SPM25Data reading;
    for (int64_t s = 0; s < seconds; ++s, nowMs += 1000) {
        reading.usDelta = uint16_t(s % 97);
        reading.usBase = uint16_t(s % 89);
        reading.usValue1 = uint16_t(300 + s % 500);
        reading.usValue2 = uint16_t(400 + s % 300);
        w.m_RecordData[0].AddReading(reading, 0);
        reading.usValue1 = uint16_t(20 + s % 80);
        w.m_RecordData[1].AddReading(reading, 1);
    }
    w.m_Plot.ShowRealData(w.m_RecordData, w.m_CurChannel, w.m_Language, true);
    Settle();
    const double c = ResidentBytes();
    const double stored = StoredBytes(w);

    const bool emptyOk = b - a <= 15.0 * kMB;
    const bool fullOk = c <= 1.3 * stored + b;
    printf("application object, no window yet:     %7.1f MB resident\n", app0 / kMB);
    printf("window before its channels exist (A):  %7.1f MB resident\n", a / kMB);
    printf("two empty channels (B):                %7.1f MB resident, B - A = %.1f MB (target <= 15 MB): %s\n",
           b / kMB, (b - a) / kMB, emptyOk ? "met" : "MISSED");
    printf("after %g days of 1 reading/s (C):      %7.1f MB resident\n", days, c / kMB);
    printf("  stored samples, shown points, records: %.1f MB (channel 0: %d samples, %d records of %d s)\n",
           stored / kMB, w.m_RecordData[0].m_pRealTime->m_pRealData->m_DataCount,
           w.m_RecordData[0].m_pRealTime->m_pTrac->used, w.m_RecordData[0].m_pRealTime->m_pTrac->sec_per_record);
    printf("  C - B = %.1f MB = %.3f x stored (target C <= 1.3 x stored + B = %.1f MB): %s\n", (c - b) / kMB,
           (c - b) / stored, (1.3 * stored + b) / kMB, fullOk ? "met" : "MISSED");

    window.reset();
    Platform_SetSleep({});
    Platform_SetNow({});
    return emptyOk && fullOk ? 0 : 1;
}
