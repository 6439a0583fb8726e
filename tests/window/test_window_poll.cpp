// The acquisition loop: what PollDevice does with each result code, the value fields and the
// collection switch.
#include "devicefeed.h"
#include "windowtest.h"

#include "grecorddatapro.h"
#include "ui_pm2_5.h"
#include "windowtexts.h"

#include <QStatusBar>
#include <QtTest>

class TestWindowPoll : public QObject {
    Q_OBJECT

    std::unique_ptr<PM2_5> w;

    // Feeds frames and polls once per frame; returns the last result.
    bool Poll(const QByteArray& frame)
    {
        if (!Feed(*w, frame))
            return false;
        return w->PollDevice(0);
    }

    // Offers a pair of values to a channel's live series, as a reading would.
    void Offer(int channel, double value1, double value2)
    {
        _SRealData* series = w->m_RecordData[channel].m_pRealTime->m_pRealData;
        RealData_Add(series, value1, value2, 1, series->org_pts);
    }

    // The window with a serial sensor that has answered its identity request.
    bool Identify(int type)
    {
        PretendSerialSensor(*w);
        if (!Feed(*w, Identity("LV51", type)))
            return false;
        return w->PollDevice(0) && w->m_Identified == 1;
    }

private slots:
    void init() { w = MakeWindowWithoutSensor(); }
    void cleanup() { w.reset(); }

    void shownValueText_data()
    {
        QTest::addColumn<double>("tenths");
        QTest::addColumn<int>("precision");
        QTest::addColumn<QString>("text");
        QTest::newRow("35.2") << 352.0 << 6 << "35.2";
        QTest::newRow("123.7 drops its fraction") << 1237.0 << 6 << "123";
        QTest::newRow("100.0") << 1000.0 << 6 << "100";
        QTest::newRow("99.9 keeps it") << 999.0 << 6 << "99.9";
        QTest::newRow("0") << 0.0 << 6 << "0";
        QTest::newRow("6553.5") << 65535.0 << 6 << "6553";
        QTest::newRow("formaldehyde 0.0456") << 0.456 << 3 << "0.0456";
        QTest::newRow("formaldehyde 1.2345") << 12.345 << 3 << "1.23";
    }

    void shownValueText()
    {
        QFETCH(double, tenths);
        QFETCH(int, precision);
        QFETCH(QString, text);
        QCOMPARE(ShownValueText(tenths, precision), text);
    }

    void showValuesFillsTheFieldsOfItsChannel()
    {
        Offer(0, 35.2, 123.7);
        QVERIFY(w->ShowValues(0, 1));
        QCOMPARE(w->ui->lineEditValue->text(), QStringLiteral("35.2"));
        QCOMPARE(w->ui->lineEditPM10Value->text(), QStringLiteral("123"));
        QCOMPARE(w->ui->lineEditPAValue->text(), QString());

        Offer(1, 0.0456, 0);
        QVERIFY(w->ShowValues(1, 17));
        QCOMPARE(w->ui->lineEditPAValue->text(), QStringLiteral("0.0456"));
        QCOMPARE(w->ui->lineEditValue->text(), QStringLiteral("35.2"));
        QCOMPARE(w->ui->radioButtonPA->text(), QStringLiteral("甲醛"));
    }

    // A negative value leaves the fields as they were; a negative first value also spares the
    // second field.
    void showValuesWithNegativeValues()
    {
        w->ui->lineEditValue->setText(QStringLiteral("old1"));
        w->ui->lineEditPM10Value->setText(QStringLiteral("old2"));
        Offer(0, -1, 5);
        QVERIFY(!w->ShowValues(0, 1));
        QCOMPARE(w->ui->lineEditValue->text(), QStringLiteral("old1"));
        QCOMPARE(w->ui->lineEditPM10Value->text(), QStringLiteral("old2"));
        Offer(0, 5, -1);
        QVERIFY(!w->ShowValues(0, 1));
        QCOMPARE(w->ui->lineEditValue->text(), QStringLiteral("5"));
        QCOMPARE(w->ui->lineEditPM10Value->text(), QStringLiteral("old2"));
    }

    void showValuesWithoutChannel()
    {
        Offer(1, 0.5, 0.5);
        QVERIFY(!w->ShowValues(2, 17));
        QVERIFY(!w->ShowValues(-1, 17));
        w->ReleaseRecordData();
        QVERIFY(!w->ShowValues(1, 17));
        QCOMPARE(w->ui->lineEditPAValue->text(), QString());
    }

    void tvocRelabelsOnlyOnce()
    {
        Offer(1, 0.3, 0);
        QVERIFY(w->ShowValues(1, 33));
        QCOMPARE(w->ui->radioButtonPA->text(), QStringLiteral("TVOC"));
        QCOMPARE(w->m_Plot.mTvocFlag, 1u);
        w->ui->radioButtonPA->setText(QStringLiteral("changed"));
        QVERIFY(w->ShowValues(1, 33));
        QCOMPARE(w->ui->radioButtonPA->text(), QStringLiteral("changed"));
    }

    void collectionSwitch()
    {
        // Stop: fields fade, the action offers to start again, radios follow the shown channel.
        w->m_CurChannel = 1;
        w->ui->actionCollection->trigger(); // unchecks: stop
        QVERIFY(!w->ui->actionCollection->isChecked());
        for (int i = 0; i < w->m_ChannelCount; ++i)
            QCOMPARE(int(w->m_RecordData[i].m_Live), 0);
        QCOMPARE(w->ui->labelType->text(), QStringLiteral("历史数据"));
        QCOMPARE(w->ui->actionCollection->text(), QStringLiteral("开始采集"));
        QCOMPARE(w->ui->lineEditValue->styleSheet(), QStringLiteral("color:rgb(240,240,240)"));
        QCOMPARE(w->ui->lineEditPAValue->styleSheet(), QStringLiteral("color:rgb(240,240,240)"));
        QVERIFY(w->ui->radioButtonPA->isChecked());
        QVERIFY(!w->ui->radioButtonPM25->isChecked());
        const QImage play = w->ui->actionCollection->icon().pixmap(32, 32).toImage();
        QCOMPARE(play, QIcon(QStringLiteral(":/icons/Icons/Play.bmp")).pixmap(32, 32).toImage());

        // A history download disables saving and zooming; starting again enables them.
        w->ui->actionBinary->setEnabled(false);
        w->ui->actionTime_zoom_in->setEnabled(false);
        w->ui->actionTime_zoom_out->setEnabled(false);
        w->m_CurChannel = 0;
        w->ui->actionCollection->trigger(); // checks: start
        QVERIFY(w->ui->actionCollection->isChecked());
        QVERIFY(w->ui->actionBinary->isEnabled());
        QVERIFY(w->ui->actionTime_zoom_in->isEnabled());
        QVERIFY(w->ui->actionTime_zoom_out->isEnabled());
        for (int i = 0; i < w->m_ChannelCount; ++i) {
            QCOMPARE(int(w->m_RecordData[i].m_Live), 1);
            QCOMPARE(w->m_RecordData[i].m_pCurrent, w->m_RecordData[i].m_pRealTime);
        }
        QCOMPARE(w->ui->labelType->text(), QStringLiteral("实时数据"));
        QCOMPARE(w->ui->actionCollection->text(), QStringLiteral("停止采集"));
        QCOMPARE(w->ui->lineEditPM10Value->styleSheet(), QStringLiteral("color:rgb(120,120,120)"));
        const QImage pause = w->ui->actionCollection->icon().pixmap(32, 32).toImage();
        QCOMPARE(pause, QIcon(QStringLiteral(":/icons/Icons/Pause.bmp")).pixmap(32, 32).toImage());
    }

    void collectionSwitchWithoutChannels()
    {
        w->ReleaseRecordData();
        w->SetCollectState(false);
        w->SetCollectState(true);
        QCOMPARE(w->ui->labelType->text(), QStringLiteral("实时数据"));
    }

    // The gas channel chosen while the device was still unknown must not outlive the news
    // that the device has no gas channel.
    void gasChannelChosenBeforeSingleChannelIdentity()
    {
        if (SCodeUsb::ChannelCountOf(130) != 1)
            QSKIP("the model catalogue is not built yet");
        PretendSerialSensor(*w);
        w->ui->radioButtonPA->click();
        QCOMPARE(w->m_CurChannel, 1);
        w->m_CodeUsb.m_TypeCode = 130;
        w->CreateRecordData();
        QCOMPARE(w->m_ChannelCount, 1);
        QCOMPARE(w->m_CurChannel, 0);
        QVERIFY(w->ui->radioButtonPM25->isChecked());
        QVERIFY(w->ui->radioButtonPA->isHidden());
        QVERIFY(w->ui->lineEditPAValue->isHidden());
        QVERIFY(w->ui->label_2->isHidden());
        QVERIFY(w->TrackerValueText(0).isNull());
    }

    void nothingReceived()
    {
        QVERIFY(!w->PollDevice(0));
    }

    void readingsBeforeIdentityAreNotStored()
    {
        PretendSerialSensor(*w);
        FEED_OR_SKIP(*w, Reading(1, 352, 400));
        QVERIFY(!w->PollDevice(0));
        QVERIFY(!w->m_RecordData);
        QCOMPARE(w->m_Identified, 0);
        QCOMPARE(w->ui->lineEditValue->text(), QString());
    }

    void identityAnswer_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("seriesCount");
        QTest::addColumn<bool>("clearEnabled");
        QTest::addColumn<int>("interval");
        QTest::newRow("LV51: PM10, clearable") << 130 << 1 << 2 << true << 300;
        QTest::newRow("LV52: PM10") << 131 << 1 << 2 << false << 300;
        QTest::newRow("AQ33: gas") << 20 << 2 << 1 << false << 297;
        QTest::newRow("AQ31-B") << 2 << 1 << 1 << false << 311;
    }

    void identityAnswer()
    {
        QFETCH(int, type);
        QFETCH(int, channels);
        QFETCH(int, seriesCount);
        QFETCH(bool, clearEnabled);
        QFETCH(int, interval);
        if (!Identify(type))
            QSKIP("the serial link does not take frames yet");
        QCOMPARE(w->m_SeriesCount, seriesCount);
        QCOMPARE(w->m_ChannelCount, channels);
        QVERIFY(w->m_RecordData);
        QCOMPARE(g_RecordData, w->m_RecordData);
        QCOMPARE(w->m_HisInterval, interval);
        QCOMPARE(w->ui->actionClear_history_data->isEnabled(), clearEnabled);
        QCOMPARE(w->ui->labelPM10->isHidden(), seriesCount != 2);
        QCOMPARE(w->ui->lineEditPM10Value->isHidden(), seriesCount != 2);
        QCOMPARE(w->ui->labelPM10Unit->isHidden(), seriesCount != 2);
        QCOMPARE(w->ui->radioButtonPA->isHidden(), channels != 2);
        QCOMPARE(w->ui->labelDevType->text(), QString::fromLatin1(SCodeUsb::ModelNameOf(type)));
        QCOMPARE(w->m_DeviceActions[0]->text(), QStringLiteral("LV51"));
        QCOMPARE(w->m_SetDeviceActions[0]->text(), QStringLiteral("LV51"));
        QCOMPARE(w->m_Plot.mCurveCount, seriesCount);

        // A second identity answer keeps the channels.
        GRecordChannel* channelsBefore = w->m_RecordData;
        QVERIFY(Poll(Identity("LV51", type)));
        QCOMPARE(w->m_RecordData, channelsBefore);
    }

    void primaryReadingsAreStoredAndShown()
    {
        if (!Identify(130))
            QSKIP("the serial link does not take frames yet");
        QVERIFY(Poll(Reading(1, 352, 1237)));
        QCOMPARE(w->ui->lineEditValue->text(), QStringLiteral("35.2"));
        QCOMPARE(w->ui->lineEditPM10Value->text(), QStringLiteral("123"));
        QCOMPARE(w->m_RecordData[0].m_TypeCode, 130);
        QVERIFY(Poll(Reading(3, 1000, 999)));
        QCOMPARE(w->ui->lineEditValue->text(), QStringLiteral("100"));
        QCOMPARE(w->ui->lineEditPM10Value->text(), QStringLiteral("99.9"));
        QCOMPARE(w->ui->labelDevType->text(), QStringLiteral("LV51"));
    }

    // After 14 days the live series is full and refuses appends; the fields still follow the
    // device.
    void fullLiveSeriesStillShowsNewestReading()
    {
        if (!Identify(130))
            QSKIP("the serial link does not take frames yet");
        _SRealData* series = w->m_RecordData[0].m_pRealTime->m_pRealData;
        QVERIFY(Poll(Reading(1, 111, 222)));
        series->m_DataCount = series->m_Capacity;
        QVERIFY(Poll(Reading(1, 352, 400)));
        QCOMPARE(series->m_DataCount, series->m_Capacity);
        QCOMPARE(w->ui->lineEditValue->text(), QStringLiteral("35.2"));
        QCOMPARE(w->ui->lineEditPM10Value->text(), QStringLiteral("40"));
    }

    void gasReadings_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("handled");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("radio");
        QTest::newRow("formaldehyde") << 20 << 17 << true << "1.23" << "甲醛";
        QTest::newRow("TVOC") << 20 << 33 << true << "1.23" << "TVOC";
        QTest::newRow("MV65 family drops gas") << 154 << 17 << false << "" << "甲醛";
        QTest::newRow("single channel drops gas") << 2 << 17 << false << "" << "甲醛";
    }

    void gasReadings()
    {
        QFETCH(int, type);
        QFETCH(int, status);
        QFETCH(bool, handled);
        QFETCH(QString, field);
        QFETCH(QString, radio);
        if (!Identify(type))
            QSKIP("the serial link does not take frames yet");
        QCOMPARE(Poll(Reading(status, 1234)), handled);
        QCOMPARE(w->ui->lineEditPAValue->text(), field);
        QCOMPARE(w->ui->radioButtonPA->text(), radio);
        QCOMPARE(w->m_Plot.mTvocFlag, status == 33 ? 1u : 0u);
    }

    void clearedHistoryActsAsIdentity()
    {
        PretendSerialSensor(*w);
        w->m_CodeUsb.m_TypeCode = 130;
        FEED_OR_SKIP(*w, DeviceFrame(0xAD, {{4, 0xFD}}));
        QVERIFY(w->PollDevice(0));
        QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("清除成功"));
        QCOMPARE(w->m_Identified, 1);
        QVERIFY(w->m_RecordData);
        QTRY_COMPARE_WITH_TIMEOUT(w->statusBar()->currentMessage(), QString(), 5000);
    }

    void serialNumberSetsHistoryInterval()
    {
        PretendSerialSensor(*w);
        w->m_CodeUsb.m_TypeCode = 20;
        FEED_OR_SKIP(*w, DeviceFrame(0xB5, {{3, 1}, {4, 2}, {5, 3}, {6, 4}, {7, 5}, {8, 6}, {9, 7}}));
        QVERIFY(w->PollDevice(0));
        QCOMPARE(w->m_HisInterval, 297);
        QCOMPARE(w->m_Identified, 0);
    }

    void otherCodesOnlyRefreshThePlot()
    {
        FEED_OR_SKIP(*w, DeviceFrame(0xA9, {{4, 1}, {5, 10}, {7, 20}}));
        QVERIFY(w->PollDevice(0));
        QCOMPARE(w->m_Identified, 0);
        QCOMPARE(w->ui->lineEditValue->text(), QString());
    }
};

QTEST_MAIN(TestWindowPoll)
#include "test_window_poll.moc"
