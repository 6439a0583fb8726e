// Closing the window, or Exit, while a serial history download runs. A serial download lets the
// event loop run while it waits for each answer, so both can happen in the middle of it; a device
// that stopped answering would keep it waiting for up to 1005 x 50 x 30 ms. The download must
// end at its next wait, change nothing, and the window then close (after Exit: without its
// channels) once the download has returned.
#include "faulttest.h"


#include <QtTest>

class TestFaultsClose : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Vostral_InitResources(); }

    void closedDuringSerialDownload_data()
    {
        QTest::addColumn<bool>("exitCommand");
        QTest::addColumn<bool>("silent");
        QTest::newRow("closed, device silent") << false << true;
        QTest::newRow("closed, device answering") << false << false;
        QTest::newRow("exit, device silent") << true << true;
        QTest::newRow("exit, device answering") << true << false;
    }
    void closedDuringSerialDownload()
    {
        QFETCH(bool, exitCommand);
        QFETCH(bool, silent);
        SensorConfig config = Sensor(130, "LV51", FaultRamp());
        config.historyCount = 4032; // a full memory: 1005 packets for each of the two histories
        Rig rig(Link::Serial, config);
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(rig.Settle());
        GRecordChannel& channel = rig.Channel(0);
        const StoreContents live = Contents(channel.m_pRealTime);

        // Three answers in, the device stops answering (or goes on); a little later the user
        // closes the window or chooses Exit. Should the download not end, the bridge is pulled
        // after three seconds so that the test fails instead of waiting for it.
        int64_t closedAtMs = -1; // on the clock that the download's waits move on
        bool asked = false;
        rig.clock->onSleep = [&] {
            if (!asked && w.m_CodeUsb.m_HisPacketCount >= 3) {
                asked = true;
                rig.model->SetSilent(silent);
                QTimer::singleShot(200, &w, [&] {
                    closedAtMs = rig.clock->Now();
                    if (exitCommand)
                        w.on_actionExit_triggered();
                    else
                        w.close();
                });
            }
            if (closedAtMs >= 0 && rig.clock->Now() - closedAtMs > 3000)
                rig.bridge->UnplugAndHangUp();
        };
        w.ui->actionCollect_historical_data->trigger();
        rig.clock->onSleep = nullptr;
        QVERIFY(closedAtMs >= 0);
        // One wait of 30 ms, not the 50 attempts of every packet left.
        QVERIFY2(rig.clock->Now() - closedAtMs <= 60, qPrintable(QString::number(rig.clock->Now() - closedAtMs)));
        QVERIFY(!rig.model->IsUnplugged());
        // No further request after the cancel: only the PM10 history was begun.
        int primary = 0;
        for (const SimRequest& r : rig.model->Requests())
            primary += (r.frame[2] == 0xAD && r.frame[4] == 1) ? 1 : 0;
        QCOMPARE(primary, 0);

        QVERIFY(!w.isVisible());
        QVERIFY(!w.m_Downloading);
        if (exitCommand) {
            QVERIFY(!w.m_RecordData);
            QVERIFY(!g_RecordData);
        } else {
            // Nothing was handed over: the channel is as it was.
            QCOMPARE(channel.m_pCurrent, channel.m_pRealTime);
            QCOMPARE(channel.m_pHisData->m_pTrac->used, 0);
            VERIFY_KEPT(live, Contents(channel.m_pRealTime), false);
        }
    }

    // Closing outside a download closes at once, as before.
    void closedWithoutDownload()
    {
        Rig rig(Link::Serial, Sensor(130, "LV51", FaultRamp()));
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.close());
        QVERIFY(!w.isVisible());
        
    }
};

QTEST_MAIN(TestFaultsClose)
#include "test_faults_close.moc"
