// The concentration bands painted through the real draw with a real scale map, checked by pixel,
// and the tracker text of the picker.
#include "gbackground.h"
#include "gqwtplotpicker.h"
#include "gtimescaledraw.h"

#include <QImage>
#include <QPainter>
#include <QtTest>
#include <qwt_plot.h>
#include <qwt_scale_map.h>

namespace {

const QRgb kNone = qRgb(1, 2, 3); // the image before painting
const QRgb kGreen = qRgb(0, 228, 0);
const QRgb kYellow = qRgb(255, 255, 0);
const QRgb kOrange = qRgb(255, 126, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kPurple = qRgb(153, 0, 76);
const QRgb kMaroon = qRgb(126, 0, 35);

// Paints one background over an axis from 0 to yTop (as the plot maps it: 0 at the bottom) and
// returns the colour found at each concentration.
QVector<QRgb> PaintAndProbe(const GBackGround& item, double yTop, const QVector<double>& at)
{
    const int height = 1000;
    QImage image(40, height, QImage::Format_RGB32);
    image.fill(kNone);
    const QRectF canvas(0, 0, image.width(), height);

    QwtScaleMap xMap;
    xMap.setPaintInterval(canvas.left(), canvas.right());
    xMap.setScaleInterval(0, 300);
    QwtScaleMap yMap;
    yMap.setPaintInterval(canvas.bottom(), canvas.top());
    yMap.setScaleInterval(0, yTop);

    QPainter painter(&image);
    item.draw(&painter, xMap, yMap, canvas);
    painter.end();

    QVector<QRgb> colours;
    for (double c : at) {
        const int row = qBound(0, int(yMap.transform(c)), height - 1);
        colours << image.pixel(image.width() / 2, row);
    }
    return colours;
}

QString Names(const QVector<QRgb>& colours)
{
    QStringList names;
    for (QRgb c : colours)
        names << QColor(c).name();
    return names.join(' ');
}

// Exposes the protected override the tracker calls.
class PickerProbe : public GQwtPlotPicker {
public:
    using GQwtPlotPicker::GQwtPlotPicker;
    using GQwtPlotPicker::trackerTextF;
};

} // namespace

class TestBackground : public QObject {
    Q_OBJECT

private slots:
    void bands_data()
    {
        QTest::addColumn<int>("maxMinor");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("tvocFlag");
        QTest::addColumn<double>("yTop");
        QTest::addColumn<QVector<double>>("at");
        QTest::addColumn<QVector<QRgb>>("expected");

        const QVector<double> pm = {20, 34, 36, 74, 76, 114, 116, 149, 151, 249, 251, 499, 550, 700, 900, 999};
        const QVector<QRgb> pmLow = {kGreen, kGreen, kYellow, kYellow, kOrange, kOrange, kRed, kRed,
                                     kPurple, kPurple, kMaroon, kMaroon};
        QVector<QRgb> pm5 = pmLow, pm8 = pmLow, pm10 = pmLow;
        pm5 << kNone << kNone << kNone << kNone;
        pm8 << kMaroon << kMaroon << kNone << kNone;
        pm10 << kMaroon << kMaroon << kMaroon << kMaroon;
        QTest::newRow("PM 5 minor: up to 500") << 5 << 0 << 0 << 1000.0 << pm << pm5;
        QTest::newRow("PM 8 minor: up to 800") << 8 << 0 << 0 << 1000.0 << pm << pm8;
        QTest::newRow("PM 10 minor: up to 1000") << 10 << 0 << 0 << 1000.0 << pm << pm10;
        QTest::newRow("PM ignores the TVOC flag") << 10 << 0 << 1 << 1000.0 << pm << pm10;

        const QVector<double> hcho = {0.05, 0.09, 0.11, 0.29, 0.31, 0.99, 1.01, 2.9};
        const QVector<QRgb> hchoLow = {kGreen, kGreen, kYellow, kYellow, kOrange, kOrange};
        QVector<QRgb> hcho1 = hchoLow, hcho2 = hchoLow;
        hcho1 << kNone << kNone;
        hcho2 << kOrange << kOrange; // no colour change at the 1 mark
        QTest::newRow("formaldehyde 1 minor: up to 1") << 1 << 1 << 0 << 3.0 << hcho << hcho1;
        QTest::newRow("formaldehyde 2 minor: up to 3") << 2 << 1 << 0 << 3.0 << hcho << hcho2;

        const QVector<double> tvoc = {0.1, 0.19, 0.21, 0.49, 0.51, 2.4, 2.6, 6.5};
        const QVector<QRgb> tvocLow = {kGreen, kGreen, kYellow, kYellow, kOrange, kOrange};
        QVector<QRgb> tvoc3 = tvocLow, tvoc4 = tvocLow;
        tvoc3 << kNone << kNone;
        tvoc4 << kRed << kRed;
        QTest::newRow("TVOC 3 minor: up to 2.5") << 3 << 2 << 0 << 6.55 << tvoc << tvoc3;
        QTest::newRow("TVOC 4 minor: up to 6.55") << 4 << 2 << 0 << 6.55 << tvoc << tvoc4;
        QTest::newRow("formaldehyde with TVOC flag paints TVOC") << 4 << 1 << 1 << 6.55 << tvoc << tvoc4;
        QTest::newRow("TVOC flag other than 1 changes nothing") << 2 << 1 << 2 << 3.0 << hcho << hcho2;

        QTest::newRow("unknown kind paints nothing")
            << 10 << 3 << 0 << 1000.0 << QVector<double>{20, 500} << QVector<QRgb>{kNone, kNone};
    }

    void bands()
    {
        QFETCH(int, maxMinor);
        QFETCH(int, kind);
        QFETCH(int, tvocFlag);
        QFETCH(double, yTop);
        QFETCH(QVector<double>, at);
        QFETCH(QVector<QRgb>, expected);
        const GBackGround item(maxMinor, kind, tvocFlag);
        QCOMPARE(Names(PaintAndProbe(item, yTop, at)), Names(expected));
    }

    void backgroundSitsBehindTheCurves()
    {
        const GBackGround item(5, 0, 0);
        QCOMPARE(item.z(), 0.0);
        QVERIFY(item.title().isEmpty());
    }

    void trackerWithoutValueSourceShowsCursorY()
    {
        QwtPlot plot;
        PickerProbe picker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::VLineRubberBand, QwtPicker::ActiveOnly,
                           plot.canvas());
        picker.SetBaseTime(QDateTime(QDate(2024, 3, 15), QTime(0, 0)));
        QCOMPARE(picker.ValueText(10, 12.36), QStringLiteral("12.4"));
        QCOMPARE(picker.trackerTextF(QPointF(3659.9, 12.36)).text(), QStringLiteral("12.4(01:00:59)"));
        QCOMPARE(picker.trackerTextF(QPointF(0, 0.04)).text(), QStringLiteral("0.0(2024/03/15 00:00)"));
        QCOMPARE(picker.trackerTextF(QPointF(-30, 7)).text(), QStringLiteral("7.0(23:59:30)"));
    }

    void trackerOnHorizontalLineShowsYAlone()
    {
        QwtPlot plot;
        PickerProbe picker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::HLineRubberBand, QwtPicker::ActiveOnly,
                           plot.canvas());
        picker.SetBaseTime(QDateTime(QDate(2024, 3, 15), QTime(0, 0)));
        QCOMPARE(picker.trackerTextF(QPointF(3600, 3.14159)).text(), QStringLiteral("3.14"));
        QCOMPARE(picker.trackerTextF(QPointF(3600, -0.5)).text(), QStringLiteral("-0.50"));
    }

    // The plot asks for a tracker text through the pixel-position virtual of the base class.
    void trackerTextReachedThroughThePickerVirtual()
    {
        QwtPlot plot;
        plot.resize(400, 300);
        plot.setAxisScale(QwtPlot::xBottom, 0, 300);
        plot.setAxisScale(QwtPlot::yLeft, 0, 100);
        plot.replot();
        GQwtPlotPicker picker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::VLineRubberBand, QwtPicker::ActiveOnly,
                              plot.canvas());
        picker.SetBaseTime(QDateTime(QDate(2024, 3, 15), QTime(12, 0)));
        const QPoint pixel(50, 40);
        const double x = plot.invTransform(QwtPlot::xBottom, pixel.x());
        const double y = plot.invTransform(QwtPlot::yLeft, pixel.y());
        const QwtPicker& base = picker;
        QCOMPARE(base.trackerText(pixel).text(),
                 QString::number(y, 'f', 1) + '(' + GTimeToStr(picker.mBaseTime, x, 1) + ')');
    }
};

QTEST_MAIN(TestBackground)
#include "test_background.moc"
