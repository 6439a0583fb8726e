// Renders the plot offscreen as the window drives it with synthetic live readings: the three PM
// ranges, formaldehyde, TVOC and zoomed-out views. Checks that bands and curves reach the
// pixels; with VOSTRAL_PLOT_SHOTS=<folder> it also saves each view as a PNG for inspection.
#include "gqwtplot.h"
#include "grecorddatapro.h"
#include "platformtime.h"

#include <QDir>
#include <QImage>
#include <QtTest>
#include <cmath>
#include <qwt_plot.h>

namespace {

// A smooth swing with a few bursts at point position t, scaled to peak near `peak`.
double WaveAt(double t, double peak, double phase)
{
    const double base = 0.45 + 0.3 * std::sin(t / 37.0 + phase) + 0.1 * std::sin(t / 5.3);
    const double burst = (int(t) % 97 > 90) ? 0.15 : 0.0;
    return std::max(0.0, peak * std::min(1.0, base + burst));
}

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

        // One reading a second on a stepped clock, as the poll delivers them, then a zoom.
        const int n = 300;
        const QDateTime start(QDate(2024, 3, 15), QTime(9, 47, 15));
        int64_t nowMs = start.toMSecsSinceEpoch();
        Platform_SetNow([&] { return nowMs; });
        GRecordChannel channels[2];
        for (GRecordChannel& ch : channels) {
            ch.Create();
            ch.StartRealTime();
        }
        const double scale = channel == 0 ? 10 : 1000;
        for (int i = 0; i < n * minShow; ++i, nowMs += 1000) {
            const double t = double(i) / minShow;
            TAG_T_SPM25Data reading;
            reading.usValue1 = uint16_t(WaveAt(t, peak1, 0) * scale);
            reading.usValue2 = uint16_t(WaveAt(t, peak2, 0.8) * scale);
            channels[channel].AddReading(reading, channel);
        }
        GRecordDataPro& store = *channels[channel].m_pRealTime;
        store.UpdateStartFields();
        RealData_SetShow(store.m_pRealData, minShow, 300);
        RealData_Rebuild(store.m_pRealData);
        QCOMPARE(store.m_pRealData->m_ShowCount, n);

        QwtPlot plot;
        plot.resize(900, 520);
        GQwtPlot ctl;
        ctl.mTvocFlag = tvocFlag;
        ctl.SetPlot(&plot);
        ctl.InitPlot(start, store.m_pRealData->org_pts, 2);
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
