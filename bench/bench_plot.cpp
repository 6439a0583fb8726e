// Cost of a plot update as the 200 ms poll and the zoom commands cause it: the default 300 shown
// points copied into two curves, both axes rescaled, the bands rebuilt and the plot repainted
// offscreen. Run: QT_QPA_PLATFORM=offscreen ./bench_plot
#include "gqwtplot.h"
#include "grecorddatapro.h"

#include <QApplication>
#include <QEvent>
#include <benchmark/benchmark.h>
#include <cmath>
#include <qwt_plot.h>

namespace {

// One live channel whose series holds 300 one-second samples, each a shown point.
struct LiveChannel {
    GRecordChannel channels[2];
    GRecordDataPro store;

    explicit LiveChannel(int points)
    {
        store.StartNow();
        _SRealData* s = store.m_pRealData;
        for (int i = 0; i < points; ++i)
            RealData_Add(s, 60 + 40 * std::sin(i / 23.0), 110 + 70 * std::sin(i / 31.0), 1, s->org_pts);
        channels[0].m_pCurrent = &store;
        channels[0].m_Live = 1;
    }
};

// Counts the canvas repaints, to show that each measured update really painted.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

struct PlotFixture {
    QwtPlot plot;
    GQwtPlot ctl;
    LiveChannel live{300};

    PlotFixture()
    {
        plot.resize(900, 520);
        ctl.SetPlot(&plot);
        ctl.InitPlot(live.store.m_StartTime, live.store.m_pRealData->org_pts, 2);
        plot.show();
        QCoreApplication::processEvents();
    }
    ~PlotFixture() { ctl.ClearItems(); }
};

void Update(benchmark::State& state, bool newPoint, bool refresh)
{
    PlotFixture f;
    f.live.store.m_pRealData->m_ShowChanged = newPoint ? 1 : 0;
    PaintCounter counter;
    f.plot.canvas()->installEventFilter(&counter);
    for (auto _ : state) {
        f.ctl.ShowRealData(f.live.channels, 0, 0, refresh);
        QCoreApplication::processEvents(); // the repaint the replot asked for
    }
    state.counters["canvas_paints_per_update"] =
        benchmark::Counter(counter.paints, benchmark::Counter::kAvgIterations);
}

void BM_PollWithNewPoint(benchmark::State& state) { Update(state, true, false); }
void BM_RefreshTimeAxis(benchmark::State& state) { Update(state, false, true); }
void BM_PollWithoutNewPoint(benchmark::State& state) { Update(state, false, false); }

} // namespace

BENCHMARK(BM_PollWithNewPoint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshTimeAxis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollWithoutNewPoint)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
