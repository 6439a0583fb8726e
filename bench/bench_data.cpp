// Speed of the data core on full-size data: rebuild and zoom on a 14-day series, record file
// write and read against plain stdio of the same bytes, and the text export against a plain
// fprintf loop writing the same text.
#include "grecorddatapro.h"
#include "realdata.h"
#include "tracfile.h"

#include <benchmark/benchmark.h>

#include <sys/mman.h>

#include <QDateTime>
#include <QString>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
constexpr int kDays14 = 1209600;
constexpr int kRecords = 1200000;
const char* const kStrPath = "/tmp/vostral_bench.str";
const char* const kPlainPath = "/tmp/vostral_bench.bin";
const char* const kTextPath = "/tmp/vostral_bench.xls";

// One full live series (one sample per second for 14 days), built once.
_SRealData* FullSeries()
{
    static _SRealData* s = [] {
        _SRealData* series = RealData_Create();
        RealData_SetStart(series, 10, 47, 15);
        for (int i = 0; i < kDays14; ++i)
            RealData_Add(series, 30 + i % 97 * 0.1, 40 + i % 89 * 0.1, 1, series->org_pts);
        return series;
    }();
    return s;
}

void BM_RebuildFullSeries(benchmark::State& state)
{
    _SRealData* s = FullSeries();
    RealData_SetShow(s, int(state.range(0)), 300);
    for (auto _ : state)
        benchmark::DoNotOptimize(RealData_Rebuild(s));
}
BENCHMARK(BM_RebuildFullSeries)->Arg(1)->Arg(1800)->Arg(kDays14 / 300 + 1)->Unit(benchmark::kMillisecond);

// One zoom step: a new granularity, fresh shown arrays and the rebuild.
void BM_ZoomStepFullSeries(benchmark::State& state)
{
    _SRealData* s = FullSeries();
    for (auto _ : state) {
        RealData_SetShow(s, 1800, 300);
        RealData_ZoomIn(s); // 1800 -> 300
        RealData_ZoomOut(s); // 300 -> 1800
        RealData_FitAll(s);
    }
    state.counters["steps"] = 3;
}
BENCHMARK(BM_ZoomStepFullSeries)->Unit(benchmark::kMillisecond);

_STracFile* FullContainer()
{
    static _STracFile* t = [] {
        _STracFile* trac = Trac_Create();
        for (int i = 0; i < kRecords; ++i)
            Trac_Add(trac, uint16_t(i), uint16_t(i >> 16), uint16_t(300 + i % 500), uint16_t(400 + i % 300), -1);
        return trac;
    }();
    return t;
}

void BM_TracWrite(benchmark::State& state)
{
    _STracFile* t = FullContainer();
    for (auto _ : state)
        benchmark::DoNotOptimize(Trac_Write(t, kStrPath, 0));
    state.SetBytesProcessed(state.iterations() * (28 + 8LL * kRecords));
}
BENCHMARK(BM_TracWrite)->Unit(benchmark::kMillisecond);

void BM_PlainWriteSameBytes(benchmark::State& state)
{
    _STracFile* t = FullContainer();
    char header[28] = {};
    for (auto _ : state) {
        FILE* f = fopen(kPlainPath, "wb");
        fwrite(header, 1, sizeof header, f);
        fwrite(t->records, 8, kRecords, f);
        fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * (28 + 8LL * kRecords));
}
BENCHMARK(BM_PlainWriteSameBytes)->Unit(benchmark::kMillisecond);

void BM_TracRead(benchmark::State& state)
{
    Trac_Write(FullContainer(), kStrPath, 0);
    _STracFile* t = Trac_Create();
    for (auto _ : state)
        benchmark::DoNotOptimize(Trac_Read(t, kStrPath));
    Trac_Destroy(t);
    state.SetBytesProcessed(state.iterations() * (28 + 8LL * kRecords));
}
BENCHMARK(BM_TracRead)->Unit(benchmark::kMillisecond);

// A plain read into a heap buffer (which the allocator hands out again each time, already
// committed): the strictest baseline.
void BM_PlainReadSameBytes(benchmark::State& state)
{
    Trac_Write(FullContainer(), kStrPath, 0);
    for (auto _ : state) {
        FILE* f = fopen(kStrPath, "rb");
        char header[28];
        benchmark::DoNotOptimize(fread(header, 1, sizeof header, f));
        std::unique_ptr<char[]> buffer(new char[8LL * kRecords]);
        benchmark::DoNotOptimize(fread(buffer.get(), 8, kRecords, f));
        fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * (28 + 8LL * kRecords));
}
BENCHMARK(BM_PlainReadSameBytes)->Unit(benchmark::kMillisecond);

// The same plain read into memory the process never used before (new pages each time), as any
// reader that must keep the old buffer until the read succeeded gets.
void BM_PlainReadIntoNewPages(benchmark::State& state)
{
    Trac_Write(FullContainer(), kStrPath, 0);
    const size_t bytes = 8LL * kRecords;
    for (auto _ : state) {
        FILE* f = fopen(kStrPath, "rb");
        char header[28];
        benchmark::DoNotOptimize(fread(header, 1, sizeof header, f));
        void* buffer = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        benchmark::DoNotOptimize(fread(buffer, 8, kRecords, f));
        munmap(buffer, bytes);
        fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * (28 + 8LL * kRecords));
}
BENCHMARK(BM_PlainReadIntoNewPages)->Unit(benchmark::kMillisecond);

// Opening a 14-day record file into a store: read, convert, fit all (what the open command does).
void BM_OpenFullRecordFile(benchmark::State& state)
{
    Trac_Write(FullContainer(), kStrPath, 0);
    GRecordDataPro store;
    const QString path = QString::fromLatin1(kStrPath);
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.OpenBinFile(path, 0));
        RealData_FitAll(store.m_pRealData);
    }
}
BENCHMARK(BM_OpenFullRecordFile)->Unit(benchmark::kMillisecond);

GRecordDataPro* TextStore()
{
    static GRecordDataPro* store = [] {
        auto* s = new GRecordDataPro;
        s->m_StartTime = QDateTime(QDate(2024, 5, 1), QTime(9, 30, 0));
        for (int i = 0; i < kRecords; ++i)
            RealData_Add(s->m_pRealData, (300 + i % 500) / 10.0, (400 + i % 300) / 10.0, 1, 0);
        return s;
    }();
    return store;
}

void BM_SaveTextFile(benchmark::State& state)
{
    GRecordDataPro* store = TextStore();
    SCodeUsb codec;
    for (auto _ : state)
        benchmark::DoNotOptimize(store->SaveTextFile(codec, kTextPath, 0, 300, 2, nullptr, nullptr));
    state.counters["rows"] = kRecords;
}
BENCHMARK(BM_SaveTextFile)->Unit(benchmark::kMillisecond);

// The same text through fprintf, with the clock fields computed by plain arithmetic.
void BM_FprintfLoopSameText(benchmark::State& state)
{
    GRecordDataPro* store = TextStore();
    const _SRealData* s = store->m_pRealData;
    const int startOfDay = 9 * 3600 + 30 * 60;
    for (auto _ : state) {
        FILE* f = fopen(kTextPath, "wb");
        fprintf(f, "Data Count:%d\r\n\r\nnumber\ttime       \tPM25Value\tPM10Value\t\r\n", s->m_DataCount);
        for (int i = 0; i < s->m_DataCount; ++i) {
            const int t = (startOfDay + i) % 86400;
            fprintf(f, "%-5d\t%02d:%02d:%02d\t%g       \t%g\r\n", i + 1, t / 3600, t / 60 % 60, t % 60,
                    s->m_pValue1[i], s->m_pValue2[i]);
        }
        fclose(f);
    }
    state.counters["rows"] = kRecords;
}
BENCHMARK(BM_FprintfLoopSameText)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
