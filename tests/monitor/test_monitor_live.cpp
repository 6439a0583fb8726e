// The live monitor end to end: the real window polls the simulated sensor on the emulated USB bus
// or behind the emulated serial bridge, on a stepped clock: the wait for the identity, what the
// identity shows, the readings with collection on and off, a full 14-day series, and clearing
// the device's history.
#include "monitortest.h"

#include "windowtexts.h"

#include <qwt_plot_curve.h>

#include <QtTest>

Q_DECLARE_METATYPE(Link)

namespace {

SimReadingSource Ramp()
{
    return SimReadingSource::Ramp({10.0, 15.0, 0.020}, {0.1, 0.3, 0.001}, 2000);
}

QString PM(PM2_5& w, const char* text)
{
    Q_UNUSED(w);
    return QCoreApplication::translate("PM2_5", text);
}

int ClearRequests(SensorModel* model)
{
    int n = 0;
    for (const SimRequest& r : model->Requests()) {
        if (r.frame[2] == 0xAD && r.frame[3] == 0 && r.frame[4] == 0 && r.frame[5] == 1)
            ++n;
    }
    return n;
}

} // namespace

class TestMonitorLive : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Vostral_InitResources(); }

    // Until the identity answer arrives, each particulate reading asks for it once more and is
    // not stored (there is nowhere to store it yet).
    void waitingForTheIdentity_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<int>("requestsPerAsk"); // the serial link also asks for the serial number
        QTest::newRow("usb") << Link::Usb << 1;
        QTest::newRow("serial") << Link::Serial << 2;
    }
    void waitingForTheIdentity()
    {
        QFETCH(Link, link);
        QFETCH(int, requestsPerAsk);
        const int lost = 3; // the first three requests go unanswered
        Rig rig(link, Sensor(20, "AQ33", Ramp()), [&](SensorModel* m) { m->DropAnswers(lost * requestsPerAsk); });
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QTRY_COMPARE_WITH_TIMEOUT(rig.model->CountRequests(0xA6), 1, 5000);
        for (int reading = 1; reading < lost; ++reading) {
            // One reading, one more request, and nothing else.
            if (reading == 1)
                rig.model->SetSendMeasurements(true);
            else
                QVERIFY(rig.NextMeasurement());
            QTRY_COMPARE_WITH_TIMEOUT(rig.model->CountRequests(0xA6), reading + 1, 5000);
            QTest::qWait(450);
            QCOMPARE(rig.model->CountRequests(0xA6), reading + 1);
            QCOMPARE(w.m_Identified, 0);
            QVERIFY(!w.m_RecordData);
        }
        // The request after the last lost one is answered.
        QVERIFY(rig.NextMeasurement());
        QVERIFY(rig.WaitForIdentity());
        QCOMPARE(rig.model->CountRequests(0xA6), lost + 1);
        if (requestsPerAsk == 2)
            QCOMPARE(rig.model->CountRequests(0xB5), lost + 1);
        QCOMPARE(rig.Offered(0), 0);
        QVERIFY(rig.NextReading());
        QCOMPARE(rig.Offered(0), 1);
        QCOMPARE(rig.model->CountRequests(0xA6), lost + 1);
    }

    // What the identity answer sets up, and what happens to the readings that follow.
    void identityShowsTheDevice_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("gas");
        QTest::addColumn<bool>("pm10");     // the PM10 group and a second curve
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("clear");    // "Clear history data" enabled
        QTest::newRow("usb LV51") << Link::Usb << 130 << int(SimGas::Auto) << true << 1 << true;
        QTest::newRow("usb LV52") << Link::Usb << 131 << int(SimGas::Auto) << true << 1 << false;
        QTest::newRow("serial LV51") << Link::Serial << 130 << int(SimGas::Auto) << true << 1 << true;
        // A particulate-only model whose gas frames the window drops.
        QTest::newRow("usb PS21 with stray gas frames") << Link::Usb << 120 << int(SimGas::Formaldehyde) << false << 1
                                                        << false;
        QTest::newRow("usb AQ33 formaldehyde") << Link::Usb << 20 << int(SimGas::Formaldehyde) << false << 2 << false;
        QTest::newRow("serial AQ33 TVOC") << Link::Serial << 20 << int(SimGas::Tvoc) << false << 2 << false;
    }
    void identityShowsTheDevice()
    {
        QFETCH(Link, link);
        QFETCH(int, type);
        QFETCH(int, gas);
        QFETCH(bool, pm10);
        QFETCH(int, channels);
        QFETCH(bool, clear);
        SensorConfig config = Sensor(type, "ID42", Ramp());
        config.gas = SimGas(gas);
        Rig rig(link, config);
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        // Before the identity: two channels' worth of form, no channels yet.
        QVERIFY(!w.m_RecordData);
        QVERIFY(!w.ui->radioButtonPA->isHidden());
        QVERIFY(w.ui->labelPM10->isHidden());

        QVERIFY(rig.Settle());
        QCOMPARE(w.m_ChannelCount, channels);
        QCOMPARE(w.m_SeriesCount, pm10 ? 2 : 1);
        QCOMPARE(w.m_Plot.mCurves.size(), pm10 ? 2 : 1);
        QCOMPARE(!w.ui->labelPM10->isHidden(), pm10);
        QCOMPARE(!w.ui->lineEditPM10Value->isHidden(), pm10);
        QCOMPARE(!w.ui->labelPM10Unit->isHidden(), pm10);
        QCOMPARE(!w.ui->radioButtonPA->isHidden(), channels == 2);
        QCOMPARE(!w.ui->lineEditPAValue->isHidden(), channels == 2);
        QCOMPARE(w.ui->actionClear_history_data->isEnabled(), clear);
        QCOMPARE(w.ui->labelDevType->text(), QString::fromLatin1(SCodeUsb::ModelNameOf(type)));

        for (int i = 0; i < 2; ++i) {
            QVERIFY(rig.NextReading());
            const SimScaledReading last = rig.model->LastMeasurement();
            QTRY_COMPARE(w.ui->lineEditValue->text(), ShownValueText(last.pm25, 6));
            if (pm10)
                QCOMPARE(w.ui->lineEditPM10Value->text(), ShownValueText(last.pm10, 6));
            if (channels == 2) {
                const QString gasText = ShownValueText(last.gas / 100.0, 3);
                QVERIFY(rig.PumpUntil([&] { return w.ui->lineEditPAValue->text() == gasText; }));
            }
        }
        // Let the last gas frame through; only a two-channel window keeps gas readings (a gas
        // reading that comes a little late may bring a gap-filling midpoint with it).
        if (channels == 2)
            QVERIFY(rig.PumpUntil([&] { return rig.Offered(1) >= 3; }));
        rig.Pump(400);
        if (channels != 2)
            QCOMPARE(w.ui->lineEditPAValue->text(), QString());
        QCOMPARE(rig.model->HasGasChannel(), gas != int(SimGas::Auto));

        if (gas == int(SimGas::Tvoc)) {
            // Relabelled on the first TVOC reading, and only then.
            QCOMPARE(w.ui->radioButtonPA->text(), QStringLiteral("TVOC"));
            QCOMPARE(w.m_Plot.mTvocFlag, 1);
            w.ui->radioButtonPA->setText(QStringLiteral("other"));
            const int64_t gasBefore = rig.Offered(1);
            QVERIFY(rig.NextReading());
            QVERIFY(rig.PumpUntil([&] { return rig.Offered(1) > gasBefore; }));
            QCOMPARE(w.ui->radioButtonPA->text(), QStringLiteral("other"));
        } else if (channels == 2) {
            QCOMPARE(w.ui->radioButtonPA->text(), PM(w, "Formaldehyde"));
        }
    }

    // Readings are stored whether or not collection is on; stopped, the values fade to near-white
    // but keep updating, and starting again goes back to the live store and its plot.
    void readingsWhileCollectionIsStopped()
    {
        Rig rig(Link::Usb, Sensor(20, "AQ33", Ramp()));
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QVERIFY(rig.Settle());

        w.ui->actionCollection->trigger();
        QVERIFY(!w.ui->actionCollection->isChecked());
        QCOMPARE(w.ui->labelType->text(), PM(w, "History Data"));
        for (QLineEdit* field : {w.ui->lineEditValue, w.ui->lineEditPM10Value, w.ui->lineEditPAValue})
            QCOMPARE(field->styleSheet(), QStringLiteral("color:rgb(240,240,240)"));
        QCOMPARE(rig.Channel(0).m_Live, uchar(0));
        const int shownBefore = int(w.m_Plot.mCurves[0]->dataSize());

        for (int i = 0; i < 3; ++i) {
            QVERIFY(rig.NextReading());
            QTRY_COMPARE(w.ui->lineEditValue->text(), ShownValueText(rig.model->LastMeasurement().pm25, 6));
        }
        QCOMPARE(rig.Offered(0), 4);
        QTRY_COMPARE(rig.Offered(1), 4);
        // The plot no longer follows.
        QCOMPARE(int(w.m_Plot.mCurves[0]->dataSize()), shownBefore);

        w.ui->actionCollection->trigger();
        QVERIFY(w.ui->actionCollection->isChecked());
        QCOMPARE(w.ui->labelType->text(), PM(w, "Current Data"));
        for (QLineEdit* field : {w.ui->lineEditValue, w.ui->lineEditPM10Value, w.ui->lineEditPAValue})
            QCOMPARE(field->styleSheet(), QStringLiteral("color:rgb(120,120,120)"));
        for (int c = 0; c < 2; ++c) {
            QCOMPARE(rig.Channel(c).m_pCurrent, rig.Channel(c).m_pRealTime);
            QCOMPARE(rig.Channel(c).m_Live, uchar(1));
        }
        QCOMPARE(int(w.m_Plot.mCurves[0]->dataSize()), rig.Channel(0).m_pRealTime->m_pRealData->m_ShowCount);
    }

    // After 14 days the live series is full and refuses more samples: the value fields still
    // show each new reading, and the record container still takes it.
    void fullLiveSeriesKeepsShowingTheNewestReading()
    {
        Rig rig(Link::Usb, Sensor(130, "LV51", Ramp()));
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QVERIFY(rig.Settle());
        GRecordDataPro* live = rig.Channel(0).m_pRealTime;
        _SRealData* series = live->m_pRealData;
        // Fourteen days of one sample per second, and the clock with them.
        const int missing = series->m_Capacity - series->m_DataCount;
        for (int i = 0; i < missing; ++i)
            RealData_Add(series, 5.0, 6.0, 1, series->org_pts);
        rig.clock->Advance(int64_t(missing) * 1000);
        QCOMPARE(series->m_DataCount, series->m_Capacity);

        for (int i = 0; i < 2; ++i) {
            const int usedBefore = live->m_pTrac->used;
            QVERIFY(rig.NextReading());
            const SimScaledReading last = rig.model->LastMeasurement();
            QCOMPARE(series->m_DataCount, series->m_Capacity);
            QCOMPARE(w.ui->lineEditValue->text(), ShownValueText(last.pm25, 6));
            QCOMPARE(w.ui->lineEditPM10Value->text(), ShownValueText(last.pm10, 6));
            QCOMPARE(live->m_pTrac->used, usedBefore + 1);
        }
    }

    // "Clear history data" asks first; Yes sends the request on the serial link (USB does not
    // define it: the user is told), the confirmation shows "Clearing success" and acts as an
    // identity answer.
    void clearHistory_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<bool>("english");
        QTest::newRow("usb") << Link::Usb << false;
        QTest::newRow("usb, English") << Link::Usb << true;
        QTest::newRow("serial") << Link::Serial << false;
    }
    void clearHistory()
    {
        QFETCH(Link, link);
        QFETCH(bool, english);
        const QString usbMessage = english ? QStringLiteral("Clearing history data needs the serial connection.")
                                           : QString::fromUtf8("清除历史数据需要串口连接。");
        Rig rig(link, Sensor(130, "LV51", Ramp()));
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QVERIFY(rig.Settle());
        if (english)
            w.on_actionEnglish_triggered();
        QVERIFY(w.ui->actionClear_history_data->isEnabled());

        ModalScript dialogs;
        dialogs.Answer(QMessageBox::No);
        w.ui->actionClear_history_data->trigger();
        QCOMPARE(dialogs.Seen().size(), 1);
        const DialogSeen& box = dialogs.Seen()[0];
        QCOMPARE(box.title, PM(w, "Attention"));
        QCOMPARE(box.text, PM(w, "Sure you want to delete the historical data"));
        QCOMPARE(box.buttons, int(QMessageBox::Yes | QMessageBox::No));
        QCOMPARE(box.defaultButton, int(QMessageBox::Yes));
        QTest::qWait(300);
        QCOMPARE(ClearRequests(rig.model), 0);
        QCOMPARE(rig.model->HistoryClears(), 0);
        QVERIFY(StatusText(w) != usbMessage);

        dialogs.Answer(QMessageBox::Yes);
        const int identities = rig.model->CountRequests(0xA6);
        const size_t requests = rig.model->Requests().size();
        w.ui->actionClear_history_data->trigger();
        if (link == Link::Usb) {
            QCOMPARE(StatusText(w), usbMessage);
            rig.Pump(300);
            QCOMPARE(rig.model->Requests().size(), requests);
            return;
        }
        QTRY_COMPARE(rig.model->HistoryClears(), 1);
        QCOMPARE(ClearRequests(rig.model), 1);
        QVERIFY(rig.PumpUntil([&] { return StatusText(w) == PM(w, "Clearing success"); }));
        QVERIFY(rig.History().empty());
        QCOMPARE(rig.model->CountRequests(0xA6), identities);
        QCOMPARE(w.m_Identified, 1);
        QVERIFY(w.m_RecordData);

        w.ui->actionCollect_historical_data->trigger();
        QCOMPARE(StatusText(w), PM(w, "Finish reading history data.") + "0");
    }
};

QTEST_MAIN(TestMonitorLive)
#include "test_monitor_live.moc"
