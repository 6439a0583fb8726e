// Renders the plot offscreen as the window drives it with synthetic live data: the three PM
// ranges, formaldehyde, TVOC and zoomed-out views. Checks that bands and curves reach the
// pixels; with VOSTRAL_PLOT_SHOTS=<folder> it also saves each view as a PNG for inspection.
#include "gqwtplot.h"
#include "grecorddatapro.h"
#include "platformtime.h"
#include "shownseries.h"

#include <QDir>
#include <QImage>
#include <QtTest>
#include <cmath>
#include <qwt_plot.h>

namespace {

// Seconds by which a UTC time lies after the last multiple of the axis period for min_show.
int AlignOffset(const QDateTime& start, int minShow)
{
    const QTime t = start.toUTC().time();
    const int h = t.hour(), m = t.minute(), s = t.second();
    if (minShow < 2)
        return s;
    if (minShow < 10)
        return s + 60 * (m % 5);
    if (minShow < 40)
        return s + 60 * (m % 30);
    if (minShow < 80)
        return s + 60 * m;
    if (minShow < 1800)
        return s + 60 * m + 3600 * (h % 3);
    return s;
}

// A smooth daily swing with a few bursts, scaled to peak near `peak`.
QVector<double> Wave(int n, double peak, double phase)
{
    QVector<double> v(n);
    for (int i = 0; i < n; ++i) {
        const double base = 0.45 + 0.3 * std::sin(i / 37.0 + phase) + 0.1 * std::sin(i / 5.3);
        const double burst = (i % 97 > 90) ? 0.15 : 0.0;
        v[i] = std::max(0.0, peak * std::min(1.0, base + burst));
    }
    return v;
}

struct View {
    const char* name;
    int channel;
    uint32_t tvocFlag;
    int minShow;
    double peak1;
    double peak2;
};

} // namespace

class TestPlotScreens : public QObject {
    Q_OBJECT

private slots:
    void views_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("channel");
        QTest::addColumn<uint>("tvocFlag");
        QTest::addColumn<int>("minShow");
        QTest::addColumn<double>("peak1");
        QTest::addColumn<double>("peak2");
        QTest::addColumn<QRgb>("topBand");

        QTest::newRow("pm-500") << "pm-500" << 0 << 0u << 1 << 150.0 << 420.0 << qRgb(126, 0, 35);
        QTest::newRow("pm-800") << "pm-800" << 0 << 0u << 1 << 300.0 << 700.0 << qRgb(126, 0, 35);
        QTest::newRow("pm-1000") << "pm-1000" << 0 << 0u << 1 << 500.0 << 980.0 << qRgb(126, 0, 35);
        QTest::newRow("formaldehyde-1") << "formaldehyde-1" << 1 << 0u << 1 << 0.8 << 0.0 << qRgb(255, 126, 0);
        QTest::newRow("formaldehyde-3") << "formaldehyde-3" << 1 << 0u << 1 << 1.8 << 0.0 << qRgb(255, 126, 0);
        QTest::newRow("tvoc-6.55") << "tvoc-6.55" << 1 << 1u << 1 << 4.0 << 0.0 << qRgb(255, 0, 0);
        QTest::newRow("pm-day") << "pm-day" << 0 << 0u << 300 << 90.0 << 160.0 << qRgb(126, 0, 35);
        QTest::newRow("pm-week") << "pm-week" << 0 << 0u << 1800 << 90.0 << 160.0 << qRgb(126, 0, 35);
    }

    void views()
    {
        QFETCH(QString, name);
        QFETCH(int, channel);
        QFETCH(uint, tvocFlag);
        QFETCH(int, minShow);
        QFETCH(double, peak1);
        QFETCH(double, peak2);
        QFETCH(QRgb, topBand);

        const QDateTime now(QDate(2024, 3, 15), QTime(16, 20, 0));
        Platform_SetNow([&] { return now.toMSecsSinceEpoch(); });
        const int n = 300;
        const QDateTime start = now.addSecs(-qint64(n) * minShow);

        QwtPlot plot;
        plot.resize(900, 520);
        GQwtPlot ctl;
        ctl.mTvocFlag = tvocFlag;
        ctl.SetPlot(&plot);
        ctl.InitPlot(start, AlignOffset(start, 1), 2);

        GRecordChannel channels[2];
        GRecordDataPro store;
        store.m_StartTime = start;
        channels[channel].m_pCurrent = &store;
        channels[channel].m_Live = 1;
        ShownSeries shown(store.m_pRealData);
        shown.Set(Wave(n, peak1, 0), Wave(n, peak2, 0.8), minShow, AlignOffset(start, minShow));

        ctl.ShowRealData(channels, channel, 0, true);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        const QImage shot = plot.grab().toImage();

        // The top band reaches the top of the canvas, and the first curve is drawn.
        const QWidget* canvas = plot.canvas();
        const QPoint nearTop = canvas->geometry().topLeft() + QPoint(canvas->width() / 2, 12);
        QCOMPARE(QColor(shot.pixel(nearTop)).name(), QColor(topBand).name());
        bool blue = false;
        for (int y = 0; y < shot.height() && !blue; ++y)
            for (int x = 0; x < shot.width() && !blue; ++x)
                blue = shot.pixel(x, y) == qRgb(0, 0, 255);
        QVERIFY(blue);

        const QByteArray folder = qgetenv("VOSTRAL_PLOT_SHOTS");
        if (!folder.isEmpty()) {
            QDir().mkpath(QString::fromLocal8Bit(folder));
            QVERIFY(shot.save(QDir(QString::fromLocal8Bit(folder)).filePath(name + ".png")));
        }
        ctl.ClearItems();
        Platform_SetNow({});
    }
};

QTEST_MAIN(TestPlotScreens)
#include "test_plotscreens.moc"
