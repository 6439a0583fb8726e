// Resident memory of the stores: two channels (three stores each) as the window creates them,
// then after 14 days of one reading per second per channel fed through AddReading on a stepped
// clock, then after zooming every live series through the ladder and loading a full history.
// Reported as counters (MB, and the ratio of resident growth to the bytes really stored).
#include "grecorddatapro.h"
#include "platformtime.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>

namespace {
constexpr double kMB = 1024.0 * 1024.0;

double ResidentBytes()
{
    long pages = 0, resident = 0;
    FILE* f = fopen("/proc/self/statm", "r");
    if (f) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

// The bytes that the stored samples, shown points and records of a store really occupy.
double StoredBytes(const GRecordDataPro* store)
{
    const _SRealData* s = store->m_pRealData;
    return 3.0 * sizeof(double) * s->m_DataCount + 3.0 * sizeof(double) * s->m_ShowCount
           + double(sizeof(_STracRecord)) * store->m_pTrac->used;
}

double StoredBytes(const GRecordChannel* channels, int n)
{
    double bytes = 0;
    for (int c = 0; c < n; ++c)
        for (const GRecordDataPro* store : {channels[c].m_pRealTime, channels[c].m_pFileData, channels[c].m_pHisData})
            bytes += StoredBytes(store);
    return bytes;
}

void BM_StoreMemory(benchmark::State& state)
{
    int64_t nowMs = 1714557600000LL;
    Platform_SetNow([&] { return nowMs; });
    Platform_CurrentDateTime().toString(); // load the time-zone data before the baseline

    for (auto _ : state) {
        const double baseline = ResidentBytes();
        auto* channels = new GRecordChannel[2];
        for (int c = 0; c < 2; ++c) {
            channels[c].Create();
            channels[c].StartRealTime();
            channels[c].m_pRealTime->UpdateStartFields();
            RealData_Rebuild(channels[c].m_pRealTime->m_pRealData);
        }
        const double empty = ResidentBytes() - baseline;

        TAG_T_SPM25Data reading;
        for (int sec = 0; sec < kRealDataCapacity; ++sec) {
            reading.usValue1 = uint16_t(300 + sec % 500);
            reading.usValue2 = uint16_t(400 + sec % 300);
            channels[0].AddReading(reading, 0);
            channels[1].AddReading(reading, 1);
            nowMs += 1000;
        }
        const double full = ResidentBytes() - baseline;
        const double stored = StoredBytes(channels, 2);

        SCodeUsb codec;
        codec.m_RealPM25Count = kHistoryValues;
        for (int c = 0; c < 2; ++c) {
            _SRealData* s = channels[c].m_pRealTime->m_pRealData;
            for (int i = 0; i < 6; ++i)
                RealData_ZoomOut(s);
            for (int i = 0; i < 6; ++i)
                RealData_ZoomIn(s);
            channels[c].StoreHistory(codec, c, Platform_CurrentDateTime(), 300);
        }
        const double afterZoom = ResidentBytes() - baseline;
        const double storedAfterZoom = StoredBytes(channels, 2);
        delete[] channels;

        state.counters["empty_MB"] = empty / kMB;
        state.counters["14days_MB"] = full / kMB;
        state.counters["stored_MB"] = stored / kMB;
        state.counters["ratio"] = full / stored;
        state.counters["zoomed_MB"] = afterZoom / kMB;
        state.counters["zoomed_ratio"] = afterZoom / storedAfterZoom;
    }
    Platform_SetNow({});
}
BENCHMARK(BM_StoreMemory)->Iterations(1)->Unit(benchmark::kSecond);
} // namespace

BENCHMARK_MAIN();
