// "Collect historical data" end to end: the real window downloads the simulated sensor's
// history memory over the emulated USB bus or serial bridge, on a stepped clock.
#include "monitortest.h"

#include <qwt_plot_curve.h>

#include <QAbstractButton>
#include <QToolBar>

#include <QtTest>

Q_DECLARE_METATYPE(Link)

namespace {

SimReadingSource Ramp()
{
    // Distinct, never-empty history values (0 and 0xFFFF mark empty slots on the device).
    return SimReadingSource::Ramp({10.0, 15.0, 0.020}, {0.1, 0.3, 0.001}, 2000);
}

// The kinds of the history requests the device received, in order (position 4 of 0xAD).
QVector<int> HistoryKinds(SensorModel* model, uint8_t command = 0xAD)
{
    QVector<int> kinds;
    for (const SimRequest& r : model->Requests()) {
        if (r.frame[2] == command)
            kinds.append(r.frame[4]);
    }
    return kinds;
}

int PacketZeroRequests(SensorModel* model, int kind)
{
    int n = 0;
    for (const SimRequest& r : model->Requests()) {
        if (r.frame[2] == 0xAD && r.frame[4] == kind && r.frame[3] == 0 && (r.frame[17] & 3) == 0)
            ++n;
    }
    return n;
}

} // namespace

class TestMonitorHistory : public QObject {
    Q_OBJECT

    static QString Finished(int count)
    {
        return QStringLiteral("Finish reading history data.") + QString::number(count);
    }

    // The window's stopped state after a download.
    static void VerifyStopped(PM2_5& w)
    {
        QCOMPARE(w.ui->labelType->text(), QStringLiteral("History Data"));
        QCOMPARE(w.ui->actionCollection->text(), QStringLiteral("Start Collect"));
        QVERIFY(!w.ui->actionCollection->isChecked());
        QVERIFY(!w.ui->actionBinary->isEnabled());
        QVERIFY(!w.ui->actionTime_zoom_in->isEnabled());
        QVERIFY(!w.ui->actionTime_zoom_out->isEnabled());
        QVERIFY(w.ui->actionCollect_historical_data->isEnabled());
        QCOMPARE(w.ui->lineEditValue->styleSheet(), QStringLiteral("color:rgb(240,240,240)"));
        QVERIFY(!w.m_Downloading);
    }

private slots:
    void initTestCase() { Vostral_InitResources(); }

    void downloadEndToEnd_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("pm10First");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("lowByte"); // a full memory; USB packet numbers read by low byte
        QTest::newRow("usb LV51") << Link::Usb << 130 << true << 300 << false;
        QTest::newRow("usb LV52") << Link::Usb << 131 << true << 300 << false;
        QTest::newRow("usb AQ33, one value") << Link::Usb << 20 << false << 297 << false;
        QTest::newRow("usb AQ31, old format") << Link::Usb << 1 << false << 300 << false;
        QTest::newRow("serial LV51") << Link::Serial << 130 << true << 300 << false;
        QTest::newRow("usb LV51, full memory, low byte") << Link::Usb << 130 << true << 300 << true;
    }
    void downloadEndToEnd()
    {
        QFETCH(Link, link);
        QFETCH(int, type);
        QFETCH(bool, pm10First);
        QFETCH(int, interval);
        QFETCH(bool, lowByte);
        const int held = lowByte ? 4031 : 288, shown = lowByte ? 1020 : 288; // packets 0-255 only
        SensorConfig config = Sensor(type, "HX01", Ramp());
        config.historyCount = held;
        config.usbPacketNumber = lowByte ? SimUsbPacketNumber::LowByte : SimUsbPacketNumber::Tracking;
        Rig rig(link, config);
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QVERIFY(rig.Settle());
        QCOMPARE(w.m_HisInterval, interval);
        w.on_actionEnglish_triggered();
        QVERIFY(rig.NextReading());
        const int64_t liveBefore = rig.Offered(0);
        const std::vector<SimHistoryValue> memory = rig.History();
        QCOMPARE(int(memory.size()), held);

        // A look inside the download, which on USB lets no event through.
        bool looked = false;
        rig.clock->onSleep = [&] {
            if (looked || !w.m_Downloading)
                return;
            looked = true;
            QCOMPARE(StatusText(w), QStringLiteral("Reading history data..."));
            QVERIFY(!w.ui->actionBinary->isEnabled());
            QVERIFY(!w.ui->actionCollect_historical_data->isEnabled());
        };
        w.ui->actionCollect_historical_data->trigger();
        rig.clock->onSleep = nullptr;
        QVERIFY(looked);

        QCOMPARE(StatusText(w), Finished(shown));
        VerifyStopped(w);

        // The history store is current and holds the device's memory, value for value.
        GRecordChannel& channel = rig.Channel(0);
        QCOMPARE(channel.m_Source, uchar(2));
        QCOMPARE(channel.m_pCurrent, channel.m_pHisData);
        const _SRealData* series = channel.m_pHisData->m_pRealData;
        const _STracFile* trac = channel.m_pHisData->m_pTrac;
        QCOMPARE(series->m_DataCount, shown);
        QCOMPARE(series->m_DataSecUnit, interval);
        QCOMPARE(trac->used, shown);
        for (int i = 0; i < shown; ++i) {
            QCOMPARE(trac->records[i].value1, memory[size_t(i)].pm25);
            QCOMPARE(series->m_pValue1[i], memory[size_t(i)].pm25 / 10.0);
            if (pm10First)
                QCOMPARE(series->m_pValue2[i], memory[size_t(i)].pm10 / 10.0);
        }
        // Each value's own time, where the format carries one.
        if (type != 1) {
            QCOMPARE(channel.m_HisTimes.size(), shown);
            for (int i = 0; i < shown; ++i)
                QCOMPARE(int64_t(channel.m_HisTimes[i]), memory[size_t(i)].time);
        }
        // Devices with their own time stamps start their series at 1970; the others end it at
        // the moment of the download.
        if (type == 130)
            QCOMPARE(channel.m_pHisData->m_StartTime.toSecsSinceEpoch(), qint64(0));
        else
            QCOMPARE(channel.m_pHisData->m_StartTime, w.m_Plot.mTitleDate.addSecs(-qint64(interval) * shown));

        // PM10 first, then the shown channel's values.
        const QVector<int> kinds = HistoryKinds(rig.model, type == 1 ? 0xAC : 0xAD);
        QVERIFY(!kinds.isEmpty());
        if (pm10First) {
            const int firstPrimary = kinds.indexOf(1);
            QVERIFY(firstPrimary > 0);
            QCOMPARE(kinds.mid(0, firstPrimary), QVector<int>(firstPrimary, 5));
            QCOMPARE(kinds.mid(firstPrimary), QVector<int>(kinds.size() - firstPrimary, 1));
        } else if (type != 1) {
            QCOMPARE(kinds, QVector<int>(kinds.size(), 1));
        }

        // The plot shows the history store.
        QCOMPARE(int(w.m_Plot.mCurves[0]->dataSize()), series->m_ShowCount);
        QCOMPARE(w.m_Plot.mCurves[0]->sample(0).y(), series->m_pShowValue1[0]);
        if (pm10First)
            QCOMPARE(w.m_Plot.mCurves[1]->sample(0).y(), series->m_pShowValue2[0]);

        // The poll was held: the live store took nothing while the download ran.
        QCOMPARE(rig.Offered(0), liveBefore);

        // One use of the collection switch brings saving, zooming and the live store back.
        w.ui->actionCollection->trigger();
        QVERIFY(w.ui->actionBinary->isEnabled());
        QVERIFY(w.ui->actionTime_zoom_in->isEnabled());
        QVERIFY(w.ui->actionTime_zoom_out->isEnabled());
        QCOMPARE(channel.m_pCurrent, channel.m_pRealTime);
        QCOMPARE(w.ui->labelType->text(), QStringLiteral("Current Data"));
        QVERIFY(rig.NextReading());
    }

    // With the gas channel shown, its history is asked for: kind 2 for formaldehyde, kind 3 on
    // the serial link once the device has shown itself to measure TVOC.
    void gasChannelDownload_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<int>("gas");
        QTest::addColumn<int>("kind");
        QTest::newRow("usb formaldehyde") << Link::Usb << int(SimGas::Formaldehyde) << 2;
        QTest::newRow("serial TVOC") << Link::Serial << int(SimGas::Tvoc) << 3;
    }
    void gasChannelDownload()
    {
        QFETCH(Link, link);
        QFETCH(int, gas);
        QFETCH(int, kind);
        SensorConfig config = Sensor(20, "AQ33", Ramp());
        config.gas = SimGas(gas);
        Rig rig(link, config);
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QVERIFY(rig.Settle());
        QCOMPARE(w.m_ChannelCount, 2);
        QVERIFY(rig.PumpUntil([&] { return rig.Offered(1) > 0; }));
        QCOMPARE(w.m_Plot.mTvocFlag, gas == int(SimGas::Tvoc) ? 1 : 0);

        w.ui->radioButtonPA->click();
        QCOMPARE(w.m_CurChannel, 1);
        const std::vector<SimHistoryValue> memory = rig.History();
        w.ui->actionCollect_historical_data->trigger();
        QCOMPARE(StatusText(w), QCoreApplication::translate("PM2_5", "Finish reading history data.") + "288");
        QCOMPARE(HistoryKinds(rig.model).value(0), kind);
        GRecordChannel& channel = rig.Channel(1);
        QCOMPARE(channel.m_pCurrent, channel.m_pHisData);
        QCOMPARE(rig.Channel(0).m_pCurrent, rig.Channel(0).m_pRealTime);
        const _SRealData* series = channel.m_pHisData->m_pRealData;
        QCOMPARE(series->m_DataCount, 288);
        for (int i = 0; i < 288; ++i)
            QCOMPARE(series->m_pValue1[i], memory[size_t(i)].gas / 1000.0);
        QVERIFY(w.ui->radioButtonPA->isChecked());
        QVERIFY(!w.ui->radioButtonPM25->isChecked());
    }

    // On the serial link the event loop runs while the download waits: the poll must not take
    // its answers and no command may start a second download or pull the channels away.
    void serialDownloadHoldsThePollAndTheCommands()
    {
        Rig rig(Link::Serial, Sensor(131, "LV52", Ramp()));
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QVERIFY(rig.Settle());
        const int64_t liveBefore = rig.Offered(0);
        const int64_t sentBefore = rig.model->MeasurementsSent();

        // The user tries the toolbar, the radio buttons, and (bypassing the disabled menu item)
        // the download command itself.
        auto button = [&](QAction* a) { return qobject_cast<QAbstractButton*>(w.ui->mainToolBar->widgetForAction(a)); };
        QAbstractButton* exitButton = button(w.ui->actionExit);
        QAbstractButton* openButton = button(w.ui->actionOpen);
        QAbstractButton* collectButton = button(w.ui->actionCollection);
        QVERIFY(exitButton && openButton && collectButton);
        int inside = 0;
        bool commandsLocked = true;
        QTimer meddler;
        meddler.setInterval(40);
        QObject::connect(&meddler, &QTimer::timeout, [&] {
            if (!w.m_Downloading)
                return;
            ++inside;
            commandsLocked = commandsLocked && !w.ui->actionCollect_historical_data->isEnabled() &&
                             !w.ui->actionExit->isEnabled() && !w.ui->actionOpen->isEnabled() &&
                             !w.ui->actionCollection->isEnabled() && !w.ui->radioButtonPM25->isEnabled() &&
                             !w.ui->actionChinese->isEnabled() && !w.ui->actionAbout_Software->isEnabled();
            w.on_actionCollect_historical_data_triggered();
            exitButton->click();
            openButton->click();
            collectButton->click();
            w.ui->radioButtonPA->click();
        });
        meddler.start();
        w.ui->actionCollect_historical_data->trigger();
        meddler.stop();

        QVERIFY2(inside >= 3, "the download let no event through");
        QVERIFY(commandsLocked);
        QCOMPARE(PacketZeroRequests(rig.model, 5), 1);
        QCOMPARE(PacketZeroRequests(rig.model, 1), 1);
        QCOMPARE(StatusText(w), QCoreApplication::translate("PM2_5", "Finish reading history data.") + "288");
        // The device kept measuring, but only the download read the link.
        QVERIFY(rig.model->MeasurementsSent() > sentBefore);
        QCOMPARE(rig.Offered(0), liveBefore);
        // Every command is back, the channels are still there, and the poll runs again.
        QVERIFY(w.m_RecordData);
        QVERIFY(w.ui->actionExit->isEnabled());
        QVERIFY(w.ui->actionOpen->isEnabled());
        QVERIFY(w.ui->actionCollection->isEnabled());
        QVERIFY(w.ui->radioButtonPM25->isEnabled());
        QVERIFY(!w.ui->actionBinary->isEnabled());
        QCOMPARE(w.m_CurChannel, 0);
        QVERIFY(rig.NextReading());
    }

    // Without a device, or before the device has identified itself, nothing is downloaded: the
    // window still ends in the stopped state with a count of 0. Without a device the history
    // interval is 0, which the store refuses instead of dividing by it.
    void nothingToDownload_data()
    {
        QTest::addColumn<bool>("sensor");
        QTest::newRow("no sensor anywhere") << false;
        QTest::newRow("sensor that never answers") << true;
    }
    void nothingToDownload()
    {
        QFETCH(bool, sensor);
        Rig rig(sensor ? Link::Usb : Link::None, Sensor(130, "LV51"), [](SensorModel* m) { m->SetSilent(true); });
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        if (sensor) {
            QCOMPARE(w.m_SeriesCount, 1);
            QVERIFY(!w.m_RecordData);
        } else {
            QCOMPARE(rig.boxes, 1);
            QCOMPARE(w.m_HisInterval, 0);
            QCOMPARE(w.m_ChannelCount, 2);
        }
        w.on_actionEnglish_triggered();
        w.ui->actionCollect_historical_data->trigger();
        QCOMPARE(StatusText(w), Finished(0));
        QCOMPARE(w.ui->labelType->text(), QStringLiteral("History Data"));
        QVERIFY(!w.ui->actionCollection->isChecked());
        QVERIFY(w.ui->actionCollect_historical_data->isEnabled());
        if (sensor)
            QCOMPARE(rig.model->CountRequests(0xAD), 0);
        else
            QCOMPARE(rig.Channel(0).m_pCurrent, rig.Channel(0).m_pRealTime);
    }

    // A device that stops answering: the download gives up with 0 and the channel stays as it
    // was, whichever store was shown; the earlier history is not replaced by an empty one.
    void silentDeviceLeavesTheChannelAsItWas()
    {
        Rig rig(Link::Usb, Sensor(130, "LV51", Ramp()));
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QVERIFY(rig.WaitForIdentity());
        w.on_actionEnglish_triggered();
        w.ui->actionCollect_historical_data->trigger();
        QCOMPARE(StatusText(w), Finished(288));
        GRecordChannel& channel = rig.Channel(0);
        const QVector<uint32_t> times = channel.m_HisTimes;
        const double first = channel.m_pHisData->m_pRealData->m_pValue1[0];

        rig.model->SetSilent(true);
        w.ui->actionCollect_historical_data->trigger();
        QCOMPARE(StatusText(w), Finished(0));
        VerifyStopped(w);
        QCOMPARE(channel.m_pCurrent, channel.m_pHisData);
        QCOMPARE(channel.m_pHisData->m_pRealData->m_DataCount, 288);
        QCOMPARE(channel.m_pHisData->m_pRealData->m_pValue1[0], first);
        QCOMPARE(channel.m_HisTimes, times);

        w.ui->actionCollection->trigger();
        w.ui->actionCollect_historical_data->trigger();
        QCOMPARE(StatusText(w), Finished(0));
        QCOMPARE(channel.m_pCurrent, channel.m_pRealTime);
        QCOMPARE(channel.m_Source, uchar(0));
        QCOMPARE(channel.m_pHisData->m_pRealData->m_DataCount, 288);
    }
};

QTEST_MAIN(TestMonitorHistory)
#include "test_monitor_history.moc"
