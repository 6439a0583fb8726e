// The sample series: shown-point aggregation, moving average, zoom ladder, org_pts, capacity.
#include "datatesthelpers.h"

#include <QtTest>
#include <cstring>

class TestRealData : public QObject {
    Q_OBJECT

private slots:
    void newSeriesShowsEverySampleAndKeepsAWindow()
    {
        Series s(RealData_Create());
        QVERIFY(s);
        QCOMPARE(s->m_Capacity, 1209600);
        QCOMPARE(s->min_show, 1);
        QCOMPARE(s->show_pt_cnt, 300);
        QCOMPARE(s->m_DataSecUnit, 1);
        // No rebuild has run: the series still shows each sample with its own values.
        FillSeries(s.get(), 301);
        QCOMPARE(s->m_ShowCount, 300);
        QCOMPARE(s->m_ShowChanged, (unsigned char)1);
        QCOMPARE(s->m_pShowValue1[0], 2.0); // the first sample was dropped
        QCOMPARE(s->m_pShowValue1[299], 301.0);
        QCOMPARE(s->m_pShowValue2[299], 602.0);
        QCOMPARE(s->m_pShowSec[299], 300.0);
        QCOMPARE(s->m_ShowStartSec, 1.0);
        QCOMPARE(s->m_ShowEndSec, 301.0);
        double v1 = 0, v2 = 0;
        RealData_LastValues(s.get(), &v1, &v2);
        QCOMPARE(v1, 3010.0);
        QCOMPARE(v2, 6020.0);
    }

    void sixSecondPointsAreAveragedAndSmoothed()
    {
        Series s(RealData_Create());
        RealData_SetStart(s.get(), 10, 47, 15);
        FillSeries(s.get(), 60);
        RealData_SetShow(s.get(), 6, 300);
        QCOMPARE(s->m_SmoothLen, 5);
        QCOMPARE(s->m_Smooth.len, 1); // only the rebuild sizes the ring
        QCOMPARE(s->m_ShowCount, 0);
        QCOMPARE(RealData_Rebuild(s.get()), 10);
        QCOMPARE(s->m_Smooth.len, 5);
        for (int g = 0; g < 10; ++g) {
            // Group means are 6g + 3.5; the ring averages the last five of them.
            const double expected = g < 4 ? 3 * g + 3.5 : 6 * g - 8.5;
            QCOMPARE(s->m_pShowValue1[g], expected);
            QCOMPARE(s->m_pShowValue2[g], 2 * expected);
            QCOMPARE(s->m_pShowSec[g], 135.0 + 6 * g + 5);
        }
        // Appends go on with the same grouping: six more samples make one more point.
        for (int i = 60; i < 66; ++i) {
            RealData_Add(s.get(), 1 + i, 2 * (1 + i), 1, s->org_pts);
            QCOMPARE(s->m_ShowChanged, (unsigned char)(i == 65));
        }
        QCOMPARE(s->m_ShowCount, 11);
        QCOMPARE(s->m_pShowValue1[10], 6 * 10 - 8.5);
    }

    void smoothingLength_data()
    {
        QTest::addColumn<int>("minShow");
        QTest::addColumn<int>("len");
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("6") << 6 << 5;
        QTest::newRow("30") << 30 << 7;
        QTest::newRow("60") << 60 << 7;
        QTest::newRow("4") << 4 << 7;
    }
    void smoothingLength()
    {
        QFETCH(int, minShow);
        QFETCH(int, len);
        Series s(RealData_Create());
        RealData_SetShow(s.get(), minShow, 300);
        QCOMPARE(s->m_SmoothLen, len);
    }

    void orgPtsAndAxisStep_data()
    {
        QTest::addColumn<int>("minShow");
        QTest::addColumn<int>("orgPts");
        QTest::addColumn<int>("step");
        QTest::newRow("1") << 1 << 15 << 60;
        QTest::newRow("6") << 6 << 135 << 300;
        QTest::newRow("30") << 30 << 1035 << 1800;
        QTest::newRow("60") << 60 << 2835 << 3600;
        QTest::newRow("300") << 300 << 6435 << 10800;
        QTest::newRow("1800") << 1800 << 15 << 86400;
    }
    void orgPtsAndAxisStep()
    {
        QFETCH(int, minShow);
        QFETCH(int, orgPts);
        QFETCH(int, step);
        Series s(RealData_Create());
        RealData_SetStart(s.get(), 10, 47, 15); // UTC start 10:47:15
        RealData_SetShow(s.get(), minShow, 300);
        QCOMPARE(s->org_pts, orgPts);
        QCOMPARE(GetAxisStepSec(s.get()), step);
    }

    void zoomLadder_data()
    {
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("secPerSample");
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("zoomIn");
        QTest::addColumn<int>("to");
        QTest::newRow("out to the fit-all factor") << 1000 << 1 << 1 << false << 4;
        QTest::newRow("out past it to the preset") << 1000 << 1 << 4 << false << 30;
        QTest::newRow("out stays at 1800") << 1000 << 1 << 1800 << false << 1800;
        QTest::newRow("out 60 to 300") << 100 << 1 << 60 << false << 300;
        QTest::newRow("in to the fit-all factor") << 100000 << 1 << 1800 << true << 334;
        QTest::newRow("in 300 to 60") << 100 << 1 << 300 << true << 60;
        QTest::newRow("in 6 to the factor 2") << 100 << 1 << 6 << true << 2;
        QTest::newRow("in stays at 1") << 100 << 1 << 1 << true << 1;
        QTest::newRow("in never below the spacing") << 4032 << 300 << 300 << true << 301;
    }
    void zoomLadder()
    {
        QFETCH(int, samples);
        QFETCH(int, secPerSample);
        QFETCH(int, from);
        QFETCH(bool, zoomIn);
        QFETCH(int, to);
        Series s(RealData_Create());
        s->m_DataSecUnit = secPerSample;
        FillSeries(s.get(), samples, secPerSample);
        RealData_SetShow(s.get(), from, 300);
        zoomIn ? RealData_ZoomIn(s.get()) : RealData_ZoomOut(s.get());
        QCOMPARE(s->min_show, to);
        QCOMPARE(s->show_pt_cnt, 300);
        QVERIFY(s->m_ShowCount <= s->show_pt_cnt);
    }

    void rebuildOfAFullHistoryShowsTheNewestPoints()
    {
        Series s(RealData_Create());
        s->m_DataSecUnit = 300;
        RealData_SetStart(s.get(), 10, 47, 15);
        FillSeries(s.get(), 4032, 300);
        RealData_SetShow(s.get(), 300, 300);
        QCOMPARE(RealData_Rebuild(s.get()), 300);
        const double org = s->org_pts;
        QCOMPARE(org, 6435.0);
        QCOMPARE(s->m_pShowSec[0], org + 3732 * 300.0); // the first 3732 samples are skipped
        QCOMPARE(s->m_pShowSec[299], org + 4031 * 300.0);
        QCOMPARE(s->m_pShowValue1[299], 4029.0); // mean of the last seven samples (ring of 7)
        QCOMPARE(s->m_ShowStartSec, s->m_pShowSec[0]);
        QCOMPARE(s->m_ShowEndSec, s->m_pShowSec[0] + 300 * 300.0);
    }

    // min_show not a multiple of the spacing: the count must be the points actually written.
    void shownCountMatchesThePointsWritten_data()
    {
        QTest::addColumn<int>("showPoints");
        QTest::addColumn<int>("minShow"); // 0: fit all
        QTest::addColumn<int>("expected");
        QTest::newRow("fit-all on a 300 s history") << 4032 << 0 << 310;
        QTest::newRow("zoomed in to 301 s") << 300 << 301 << 300;
    }
    void shownCountMatchesThePointsWritten()
    {
        QFETCH(int, showPoints);
        QFETCH(int, minShow);
        QFETCH(int, expected);
        Series s(RealData_Create());
        s->m_DataSecUnit = 300;
        for (int i = 0; i < 4032; ++i)
            RealData_Add(s.get(), 5, 7, 300, 0);
        RealData_SetShow(s.get(), 300, showPoints);
        if (minShow == 0) {
            RealData_FitAll(s.get());
            QCOMPARE(s->min_show, 4033);
        } else {
            RealData_SetShow(s.get(), minShow, showPoints);
            RealData_Rebuild(s.get());
        }
        QCOMPARE(s->m_ShowCount, expected);
        QVERIFY(s->m_ShowCount <= s->show_pt_cnt);
        for (int i = 0; i < s->m_ShowCount; ++i)
            QCOMPARE(s->m_pShowValue1[i], 5.0);
        QCOMPARE(s->m_pShowValue1[s->m_ShowCount], 0.0); // nothing written past the count
        QVERIFY(s->m_pShowSec[s->m_ShowCount - 1] <= 4031 * 300.0);
        QVERIFY(s->m_pShowSec[s->m_ShowCount - 1] > 4000 * 300.0); // the newest data is shown
    }

    void fullSeriesRefusesButKeepsTheNewestValues()
    {
        Series s(RealData_Create());
        for (int i = 0; i < s->m_Capacity; ++i)
            RealData_Add(s.get(), 1, 2, 1, 0);
        QCOMPARE(s->m_DataCount, 1209600);
        _SRealData before;
        memcpy(&before, s.get(), sizeof before);
        QCOMPARE(RealData_Add(s.get(), 9, 8, 1, 0), -1);
        QCOMPARE(s->m_DataCount, before.m_DataCount);
        QCOMPARE(s->m_ShowCount, before.m_ShowCount);
        QCOMPARE(s->m_ShowStartSec, before.m_ShowStartSec);
        QCOMPARE(s->m_pValue1[s->m_DataCount - 1], 1.0);
        QCOMPARE(s->m_pShowValue1[s->m_ShowCount - 1], 1.0);
        QCOMPARE(memcmp(&before.m_Smooth, &s->m_Smooth, sizeof before.m_Smooth), 0);
        // The value display still follows the device.
        double v1 = 0, v2 = 0;
        RealData_LastValues(s.get(), &v1, &v2);
        QCOMPARE(v1, 90.0);
        QCOMPARE(v2, 80.0);
    }

    void clearZeroesTheStoredPrefixAndTheShownPoints()
    {
        Series s(RealData_Create());
        FillSeries(s.get(), 20001); // more than one page per array, so pages are handed back
        RealData_Clear(s.get());
        QCOMPARE(s->m_DataCount, 0);
        for (int i = 0; i < 20001; ++i) {
            if (s->m_pValue1[i] != 0 || s->m_pValue2[i] != 0 || s->m_pDataSec[i] != 0)
                QFAIL(qPrintable(QString("sample %1 not cleared").arg(i)));
        }
        for (int i = 0; i < 300; ++i)
            QCOMPARE(s->m_pShowValue1[i], 0.0);
        FillSeries(s.get(), 3, 1, 7);
        QCOMPARE(s->m_pValue1[2], 9.0);
        QCOMPARE(s->m_pDataSec[2], 2.0);
    }

    void nonsenseGranularityIsClampedNotDividedBy()
    {
        Series s(RealData_Create());
        FillSeries(s.get(), 50);
        s->m_DataSecUnit = 0;
        RealData_SetShow(s.get(), 0, 0);
        QCOMPARE(s->min_show, 1);
        QCOMPARE(s->show_pt_cnt, 1);
        QCOMPARE(RealData_Rebuild(s.get()), 1);
        QCOMPARE(s->m_pShowValue1[0], 50.0);
    }
};

QTEST_GUILESS_MAIN(TestRealData)
#include "test_realdata.moc"
