// The plot controller on a real QwtPlot: one-time setup, curves, y ranges and bands, what a poll
// update and a refresh change, axis titles and releasing the items.
#include "gbackground.h"
#include "gqwtplot.h"
#include "gqwtplotpicker.h"
#include "grecorddatapro.h"
#include "gtimescaledraw.h"
#include "platformtime.h"
#include "seriesfill.h"

#include <QTranslator>
#include <QtTest>
#include <memory>
#include <qwt_picker_machine.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_div.h>

namespace {

const QDateTime kStart(QDate(2024, 3, 15), QTime(10, 47, 15));

// Stands in for the embedded catalogue: translates the title texts of context "QObject" only.
class TitleTranslator : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        if (qstrcmp(context, "QObject") != 0)
            return {};
        if (!qstrcmp(source, "Time") || !qstrcmp(source, "time"))
            return QString::fromUtf8("时间");
        if (!qstrcmp(source, "Formaldehyde mg/m3"))
            return QString::fromUtf8("甲醛 mg/m3");
        return {};
    }
};

QVector<double> Repeat(double v, int n)
{
    return QVector<double>(n, v);
}

} // namespace

class TestPlotController : public QObject {
    Q_OBJECT

    std::unique_ptr<QwtPlot> mPlot;
    std::unique_ptr<GQwtPlot> mCtl;

    void Setup(int curveCount, uint32_t tvocFlag = 0)
    {
        mPlot.reset(new QwtPlot);
        mPlot->resize(640, 400);
        mCtl.reset(new GQwtPlot);
        mCtl->mTvocFlag = tvocFlag;
        QCOMPARE(mCtl->SetPlot(mPlot.get()), 1);
        QCOMPARE(mCtl->InitPlot(kStart, 15, curveCount), 0);
    }

    double YTop()
    {
        mPlot->updateAxes();
        return mPlot->axisScaleDiv(QwtPlot::yLeft).upperBound();
    }

    QString Title(int axis) const { return mPlot->axisTitle(axis).text(); }

    const GTimeScaleDraw* TimeAxis() const
    {
        return dynamic_cast<const GTimeScaleDraw*>(mPlot->axisScaleDraw(QwtPlot::xBottom));
    }

private slots:
    void cleanup()
    {
        mCtl.reset();
        mPlot.reset();
        Platform_SetNow({});
    }

    void freshControllerHoldsNothing()
    {
        GQwtPlot ctl;
        QVERIFY(ctl.mCurves.isEmpty());
        QVERIFY(!ctl.mPicker && !ctl.mBackGround && !ctl.mPlot);
        QVERIFY(ctl.mTitleDate.isNull());
        QCOMPARE(ctl.mYMaxMinor, 5);
        QCOMPARE(ctl.mTvocFlag, 0u);
        QCOMPARE(ctl.mCurveCount, 0);
        ctl.ShowRealData(nullptr, 0, 0, true); // no plot yet: nothing to do
    }

    void initPlotConfiguresThePlot()
    {
        Setup(2);
        const QDateTime base = kStart.addSecs(-15);
        QCOMPARE(mCtl->mCurveCount, 2);
        QCOMPARE(mPlot->canvasBackground().color(), QColor(Qt::white));
        auto* canvas = qobject_cast<QwtPlotCanvas*>(mPlot->canvas());
        QVERIFY(canvas);
        QCOMPARE(canvas->borderRadius(), 10.0);
        QCOMPARE(mPlot->minimumWidth(), 100);
        QVERIFY(!mPlot->autoReplot());

        GQwtPlotPicker* picker = mCtl->mPicker;
        QVERIFY(picker);
        QCOMPARE(picker->parent(), mPlot->canvas());
        QCOMPARE(picker->xAxis(), int(QwtPlot::xBottom));
        QCOMPARE(picker->yAxis(), int(QwtPlot::yLeft));
        QCOMPARE(picker->rubberBand(), QwtPicker::VLineRubberBand);
        QCOMPARE(picker->trackerMode(), QwtPicker::ActiveOnly);
        QVERIFY(dynamic_cast<const QwtPickerDragPointMachine*>(picker->stateMachine()));
        QCOMPARE(picker->mBaseTime, base);

        QCOMPARE(Title(QwtPlot::yLeft), QStringLiteral("PM2.5  ug/m3\n"));
        QCOMPARE(Title(QwtPlot::xBottom), QStringLiteral("\nTime(2024/03/15)"));
        mPlot->updateAxes();
        const QwtScaleDiv x = mPlot->axisScaleDiv(QwtPlot::xBottom);
        QCOMPARE(x.lowerBound(), 15.0);
        QCOMPARE(x.upperBound(), 315.0);
        QCOMPARE(mPlot->axisStepSize(QwtPlot::xBottom), 60.0);
        QCOMPARE(YTop(), 500.0);
        QVERIFY(TimeAxis());
        QCOMPARE(TimeAxis()->mBaseTime, base);
        QCOMPARE(TimeAxis()->mLabelMode, 0);

        QVERIFY(mCtl->mBackGround);
        QCOMPARE(mCtl->mBackGround->plot(), mPlot.get());
        QCOMPARE(mCtl->mBackGround->mKind, 0);
        QCOMPARE(mCtl->mBackGround->mMaxMinor, 5);
    }

    void curvesAndPens()
    {
        Setup(6);
        const QVector<QColor> colours = {Qt::blue, Qt::darkGreen, Qt::cyan, Qt::darkYellow, Qt::magenta, Qt::white};
        QCOMPARE(mCtl->mCurves.size(), 6);
        for (int i = 0; i < 6; ++i) {
            const QwtPlotCurve* c = mCtl->mCurves[i];
            QCOMPARE(c->pen().color(), colours[i]);
            QCOMPARE(c->pen().widthF(), 1.8);
            QCOMPARE(c->pen().style(), Qt::SolidLine);
            QCOMPARE(c->style(), QwtPlotCurve::Lines);
            QCOMPARE(c->plot(), mPlot.get());
        }
        QCOMPARE(mCtl->SetCurvePen(6), -1);
        QCOMPARE(mCtl->SetCurvePen(-1), -1);
        QCOMPARE(mCtl->SetCurvePen(5), 0);
    }

    void withoutSeriesCountOneBlueCurve()
    {
        Setup(0);
        QCOMPARE(mCtl->mCurves.size(), 1);
        QCOMPARE(mCtl->mCurves[0]->pen().color(), QColor(Qt::blue));
        QCOMPARE(mCtl->mCurves[0]->plot(), mPlot.get());
    }

    void yRangeAndBands_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<uint>("tvocFlag");
        QTest::addColumn<QVector<double>>("value1");
        QTest::addColumn<QVector<double>>("value2");
        QTest::addColumn<double>("top");
        QTest::addColumn<int>("maxMinor");
        QTest::addColumn<int>("bandKind");

        const QVector<double> none;
        QTest::newRow("PM empty") << 0 << 0u << none << none << 500.0 << 5 << 0;
        QTest::newRow("PM 500") << 0 << 0u << Repeat(1, 3) << QVector<double>{1, 500, 2} << 500.0 << 5 << 0;
        QTest::newRow("PM 500.1") << 0 << 0u << Repeat(1, 3) << QVector<double>{500.1, 2, 3} << 800.0 << 8 << 0;
        QTest::newRow("PM 800") << 0 << 0u << Repeat(1, 3) << QVector<double>{3, 2, 800} << 800.0 << 8 << 0;
        QTest::newRow("PM 800.1") << 0 << 0u << Repeat(1, 2) << QVector<double>{800.1, 0} << 1000.0 << 10 << 0;
        QTest::newRow("PM 1200 caps at 1000") << 0 << 0u << Repeat(1, 1) << Repeat(1200, 1) << 1000.0 << 10 << 0;
        QTest::newRow("PM follows PM10 alone") << 0 << 0u << Repeat(900, 4) << Repeat(100, 4) << 500.0 << 5 << 0;
        QTest::newRow("PM negative values") << 0 << 0u << Repeat(-5, 2) << Repeat(-5, 2) << 500.0 << 5 << 0;
        QTest::newRow("PM unaffected by TVOC flag") << 0 << 1u << Repeat(1, 2) << Repeat(600, 2) << 800.0 << 8 << 0;
        QTest::newRow("HCHO empty") << 1 << 0u << none << none << 1.0 << 1 << 1;
        QTest::newRow("HCHO 0.99") << 1 << 0u << Repeat(0.99, 2) << none << 1.0 << 1 << 1;
        QTest::newRow("HCHO exactly 1") << 1 << 0u << Repeat(1, 2) << none << 3.0 << 2 << 1;
        QTest::newRow("HCHO range follows value 1") << 1 << 0u << Repeat(0.5, 2) << Repeat(9, 2) << 1.0 << 1 << 1;
        QTest::newRow("TVOC empty") << 1 << 1u << none << none << 2.5 << 3 << 2;
        QTest::newRow("TVOC 2.49") << 1 << 1u << Repeat(2.49, 2) << none << 2.5 << 3 << 2;
        QTest::newRow("TVOC exactly 2.5") << 1 << 1u << Repeat(2.5, 2) << none << 6.55 << 4 << 2;
        QTest::newRow("TVOC 20 caps at 6.55") << 1 << 1u << Repeat(20, 1) << none << 6.55 << 4 << 2;
        QTest::newRow("kind 2 asked directly") << 2 << 0u << Repeat(3, 1) << none << 6.55 << 4 << 2;
        QTest::newRow("unknown kind is PM") << 7 << 0u << Repeat(1, 1) << Repeat(700, 1) << 800.0 << 8 << 0;
    }

    void yRangeAndBands()
    {
        QFETCH(int, kind);
        QFETCH(uint, tvocFlag);
        QFETCH(QVector<double>, value1);
        QFETCH(QVector<double>, value2);
        QFETCH(double, top);
        QFETCH(int, maxMinor);
        QFETCH(int, bandKind);
        Setup(2, tvocFlag);
        GRecordDataPro store;
        FillSeries(store.m_pRealData, value1, value2, 15);

        mCtl->ReSetAxisXY(store.m_pRealData, 60, kind);
        QCOMPARE(YTop(), top);
        QCOMPARE(mPlot->axisScaleDiv(QwtPlot::yLeft).lowerBound(), 0.0);
        QCOMPARE(mPlot->axisMaxMinor(QwtPlot::yLeft), maxMinor);
        QVERIFY(mCtl->mBackGround);
        QCOMPARE(mCtl->mBackGround->mMaxMinor, maxMinor);
        QCOMPARE(mCtl->mBackGround->mKind, bandKind);
        QCOMPARE(mCtl->mBackGround->plot(), mPlot.get());
        // one background item at a time
        QCOMPARE(mPlot->itemList(QwtPlotItem::Rtti_PlotItem).size(), 1 + mCtl->mCurves.size());
        if (!value1.isEmpty()) {
            const QwtScaleDiv x = mPlot->axisScaleDiv(QwtPlot::xBottom);
            QCOMPARE(x.lowerBound(), 15.0);
            QCOMPARE(x.upperBound(), 315.0);
        }
    }

    void curvesReceiveTheShownPoints_data()
    {
        QTest::addColumn<int>("curveCount");
        QTest::addColumn<int>("fedCurves");
        QTest::newRow("no series count: the single curve") << 0 << 1;
        QTest::newRow("one curve") << 1 << 1;
        QTest::newRow("two curves") << 2 << 2;
        QTest::newRow("three curves: only the first") << 3 << 1;
    }

    void curvesReceiveTheShownPoints()
    {
        QFETCH(int, curveCount);
        QFETCH(int, fedCurves);
        Setup(curveCount);
        GRecordChannel channels[2];
        GRecordDataPro store;
        store.m_StartTime = kStart;
        channels[0].m_pCurrent = &store;
        FillSeries(store.m_pRealData, {10, 20, 30}, {11, 21, 31}, 15);

        mCtl->ShowRealData(channels, 0, 0, false);
        for (int i = 0; i < mCtl->mCurves.size(); ++i) {
            const QwtPlotCurve* c = mCtl->mCurves[i];
            QCOMPARE(int(c->dataSize()), i < fedCurves ? 3 : 0);
            if (i < fedCurves) {
                QCOMPARE(c->sample(2), QPointF(17, i == 0 ? 30 : 31));
                QCOMPARE(c->sample(0), QPointF(15, i == 0 ? 10 : 11));
            }
        }
        // the curves keep copies
        store.m_pRealData->m_pShowValue1[0] = 99;
        QCOMPARE(mCtl->mCurves[0]->sample(0).y(), 10.0);
    }

    void showRealDataLeavesThePlotAloneWithoutInput()
    {
        Setup(2);
        const QString sentinel = QStringLiteral("untouched");
        mPlot->setAxisTitle(QwtPlot::yLeft, sentinel);
        GRecordChannel channels[2];
        channels[0].m_Live = 1;
        auto untouched = [&] {
            return Title(QwtPlot::yLeft) == sentinel && mCtl->mCurves[0]->dataSize() == 0 && mCtl->mTitleDate.isNull();
        };

        mCtl->ShowRealData(nullptr, 0, 1, true);
        QVERIFY(untouched());
        mCtl->ShowRealData(channels, 0, 1, true); // no store shown
        QVERIFY(untouched());

        GRecordDataPro store;
        channels[0].m_pCurrent = &store;
        _SRealData* series = store.m_pRealData;
        FillSeries(series, {1, 2}, {1, 2});
        { // a series whose shown arrays are missing
            double* arrays[] = {series->m_pShowValue1, series->m_pShowValue2, series->m_pShowSec};
            for (double** a : {&series->m_pShowValue1, &series->m_pShowValue2, &series->m_pShowSec}) {
                *a = nullptr;
                mCtl->ShowRealData(channels, 0, 1, true);
                QVERIFY(untouched());
                series->m_pShowValue1 = arrays[0];
                series->m_pShowValue2 = arrays[1];
                series->m_pShowSec = arrays[2];
            }
        }

        series->m_ShowChanged = 0; // a poll that completed no shown point
        mCtl->ShowRealData(channels, 0, 1, false);
        QVERIFY(untouched());
        mCtl->ShowRealData(channels, 2, 1, true); // no such channel
        mCtl->ShowRealData(channels, -1, 1, true);
        QVERIFY(untouched());

        mCtl->ShowRealData(channels, 0, 1, true); // a refresh redraws also without a new point
        QVERIFY(!untouched());
        QCOMPARE(int(mCtl->mCurves[0]->dataSize()), 2);
    }

    void pollUpdateKeepsTheTimeAxis()
    {
        Setup(1);
        GRecordChannel channels[2];
        GRecordDataPro store;
        store.m_StartTime = kStart;
        channels[0].m_pCurrent = &store;
        FillSeries(store.m_pRealData, Repeat(5, 400), Repeat(6, 400), 15);

        const GTimeScaleDraw* before = TimeAxis();
        mCtl->ShowRealData(channels, 0, 0, false);
        QCOMPARE(TimeAxis(), before);
        mPlot->updateAxes();
        QCOMPARE(mPlot->axisScaleDiv(QwtPlot::xBottom).lowerBound(), 115.0); // newest 300 of 400
        QCOMPARE(mPlot->axisScaleDiv(QwtPlot::xBottom).upperBound(), 415.0);
    }

    void refreshRebasesTheTimeAxisAndPicker_data()
    {
        QTest::addColumn<int>("minShow");
        QTest::addColumn<int>("labelMode");
        QTest::newRow("min_show 1") << 1 << 0;
        QTest::newRow("min_show 1799") << 1799 << 0;
        QTest::newRow("min_show 1800: one-day steps") << 1800 << 2;
    }

    void refreshRebasesTheTimeAxisAndPicker()
    {
        QFETCH(int, minShow);
        QFETCH(int, labelMode);
        Setup(2);
        GRecordChannel channels[2];
        GRecordDataPro store;
        store.m_StartTime = kStart.addDays(-3);
        store.UpdateStartFields();
        channels[1].m_pCurrent = &store;
        _SRealData* series = store.m_pRealData;
        RealData_SetShow(series, minShow, 300); // as a zoom does, with the alignment of its step
        RealData_Rebuild(series);
        for (int i = 0; i < 3 * minShow; ++i)
            RealData_Add(series, 0.2, 0, 1, series->org_pts);
        series->m_ShowChanged = 0; // a zoom redraws also without a new point

        mCtl->ShowRealData(channels, 1, 0, true);
        const QDateTime base = store.m_StartTime.addSecs(-series->org_pts);
        QVERIFY(series->org_pts > 0);
        QVERIFY(TimeAxis());
        QCOMPARE(TimeAxis()->mBaseTime, base);
        QCOMPARE(TimeAxis()->mLabelMode, labelMode);
        QCOMPARE(mCtl->mPicker->mBaseTime, base);
        QCOMPARE(mPlot->axisStepSize(QwtPlot::xBottom), double(GetAxisStepSec(store.m_pRealData)));
    }

    void titleDateFollowsTodayOnLiveChannels()
    {
        Setup(1);
        int64_t nowMs = QDateTime(QDate(2024, 3, 15), QTime(9, 0)).toMSecsSinceEpoch();
        Platform_SetNow([&] { return nowMs; });
        GRecordChannel channels[2];
        GRecordDataPro store;
        channels[0].m_pCurrent = &store;
        FillSeries(store.m_pRealData, {1}, {1});

        // not live: the date set by the window stays
        mCtl->ShowRealData(channels, 0, 0, true);
        QVERIFY(mCtl->mTitleDate.isNull());
        QCOMPARE(Title(QwtPlot::xBottom), QStringLiteral("\nTime()"));

        channels[0].m_Live = 1;
        mCtl->ShowRealData(channels, 0, 0, true);
        QCOMPARE(mCtl->mTitleDate, Platform_CurrentDateTime());
        QCOMPARE(Title(QwtPlot::xBottom), QStringLiteral("\nTime(2024/03/15)"));

        const QDateTime morning = mCtl->mTitleDate;
        nowMs += 3600 * 1000; // same day: unchanged
        mCtl->ShowRealData(channels, 0, 0, true);
        QCOMPARE(mCtl->mTitleDate, morning);

        nowMs += 24 * 3600 * 1000; // next day
        mCtl->ShowRealData(channels, 0, 0, true);
        QCOMPARE(mCtl->mTitleDate, Platform_CurrentDateTime());
        QCOMPARE(Title(QwtPlot::xBottom), QStringLiteral("\nTime(2024/03/16)"));
    }

    void axisTitles_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("x");
        QTest::addColumn<QString>("y");
        const QString cnTime = QString::fromUtf8("\n时间(2024/03/15)");
        QTest::newRow("English PM") << 0 << 0 << "\nTime(2024/03/15)" << "PM2.5 ug/m3\n";
        QTest::newRow("English gas") << 0 << 1 << "\nTime(2024/03/15)" << "Formaldehyde mg/m3\n";
        QTest::newRow("Chinese PM") << 1 << 0 << cnTime << "PM2.5 ug/m3\n";
        QTest::newRow("Chinese gas") << 1 << 1 << cnTime << QString::fromUtf8("甲醛 mg/m3\n");
    }

    void axisTitles()
    {
        QFETCH(int, language);
        QFETCH(int, channel);
        QFETCH(QString, x);
        QFETCH(QString, y);
        Setup(1, 1); // TVOC devices keep the formaldehyde title
        TitleTranslator translator;
        QCoreApplication::installTranslator(&translator);
        mCtl->mTitleDate = QDateTime(QDate(2024, 3, 15), QTime(23, 59));
        QCOMPARE(mCtl->SetAxisTitles(language, channel), 1);
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(Title(QwtPlot::xBottom), x);
        QCOMPARE(Title(QwtPlot::yLeft), y);
    }

    void clearItemsTwice()
    {
        Setup(2);
        QCOMPARE(mCtl->ClearItems(), 1);
        QVERIFY(mCtl->mCurves.isEmpty());
        QVERIFY(!mCtl->mPicker);
        QVERIFY(!mCtl->mBackGround);
        QVERIFY(mPlot->itemList().isEmpty());
        QVERIFY(mPlot->canvas()->findChildren<QwtPicker*>().isEmpty());
        QCOMPARE(mCtl->ClearItems(), 1);

        // a refresh after clearing finds no curve and must not fail
        GRecordChannel channels[2];
        GRecordDataPro store;
        channels[0].m_pCurrent = &store;
        FillSeries(store.m_pRealData, {1}, {1});
        mCtl->ShowRealData(channels, 0, 0, true);
        mCtl->ClearItems();
    }

    // The window's form may destroy the plot widget before the controller releases its items.
    void plotWidgetDestroyedFirst()
    {
        Setup(2);
        mPlot.reset();
        QVERIFY(!mCtl->mPicker); // went with the canvas
        QCOMPARE(mCtl->ClearItems(), 1);
        QVERIFY(mCtl->mCurves.isEmpty());

        Setup(2);
        mPlot.reset();
        mCtl.reset(); // the destructor releases what is left
    }

    void dragOnTheCanvasShowsTheTracker()
    {
        Setup(1);
        mPlot->show();
        QVERIFY(QTest::qWaitForWindowExposed(mPlot.get()));
        QWidget* canvas = mPlot->canvas();
        QVERIFY(!mCtl->mPicker->isActive());
        QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(50, 50));
        QVERIFY(mCtl->mPicker->isActive());
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(60, 50));
        QVERIFY(!mCtl->mPicker->isActive());
    }
};

QTEST_MAIN(TestPlotController)
#include "test_plotcontroller.moc"
