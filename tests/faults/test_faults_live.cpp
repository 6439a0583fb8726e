// Faults during live monitoring, end to end: the real window polls the simulated sensor on the
// emulated USB bus or behind the emulated serial bridge while frames are damaged, bytes are lost
// or added on the serial line, or the device goes away. What the user sees, and that nothing
// already stored is lost or changed.
#include "faulttest.h"

#include <QDir>
#include <QTemporaryDir>

#include <QtTest>

class TestFaultsLive : public QObject {
    Q_OBJECT

    // The device measures once more; the poll has taken everything it sent.
    static bool MeasureAndPoll(Rig& rig)
    {
        if (!rig.NextMeasurement())
            return false;
        rig.Pump(400);
        return true;
    }

private slots:
    void initTestCase() { Vostral_InitResources(); }

    // One frame is damaged on the way. A frame whose head or type is damaged is dropped and the
    // next reading bridges the gap with a midpoint; the link trusts a frame whose head matches
    // (there is no checksum test), so a damaged value byte reaches the store as it arrived.
    void damagedFrame_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("mask");
        QTest::addColumn<bool>("stored");
        QTest::newRow("usb, head") << Link::Usb << 1 << 0xFF << false;
        QTest::newRow("usb, type") << Link::Usb << 2 << 0x0F << false;
        QTest::newRow("usb, PM2.5 byte") << Link::Usb << 8 << 0x01 << true;
        QTest::newRow("serial, head") << Link::Serial << 1 << 0xFF << false;
        QTest::newRow("serial, type") << Link::Serial << 2 << 0x0F << false;
        QTest::newRow("serial, PM2.5 byte") << Link::Serial << 8 << 0x01 << true;
    }
    void damagedFrame()
    {
        QFETCH(Link, link);
        QFETCH(int, position);
        QFETCH(int, mask);
        QFETCH(bool, stored);
        Rig rig(link, Sensor(130, "LV51", FaultRamp()));
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QVERIFY(rig.Settle());
        QVERIFY(rig.NextReading());
        GRecordDataPro* live = rig.Channel(0).m_pRealTime;
        const StoreContents before = Contents(live);
        const int64_t offered = rig.Offered(0);

        rig.model->CorruptFrames(1, position, uint8_t(mask));
        QVERIFY(MeasureAndPoll(rig));
        const SimScaledReading damaged = rig.model->LastMeasurement();
        QCOMPARE(rig.Offered(0), offered + (stored ? 1 : 0));
        QVERIFY(rig.NextReading());
        const SimScaledReading next = rig.model->LastMeasurement();

        // Stored as it arrived, or dropped and bridged: one sample per second either way.
        QCOMPARE(rig.Offered(0), offered + 2);
        if (stored) {
            const _STracRecord& r = live->m_pTrac->records[live->m_pTrac->used - 2];
            QCOMPARE(int(r.value1), damaged.pm25 ^ mask);
        }
        QVERIFY(NewestRecordIs(live, next));
        QVERIFY(ShowsReading(w, next));
        VERIFY_KEPT(before, Contents(live), true);
        QCOMPARE(w.m_Identified, 1);
    }

    // Bytes lost, damaged or added on the serial line: the receiver finds the next frame again.
    // A broken frame costs that one reading (bridged by a midpoint), garbage between frames costs
    // nothing, and the readings after it are stored exactly as the device sent them.
    void serialLineFaults_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("lost");
        QTest::newRow("head, type and status lost") << 0 << 1;
        QTest::newRow("tail lost") << 1 << 1;
        QTest::newRow("one byte lost in the data") << 2 << 1;
        QTest::newRow("head damaged") << 3 << 1;
        QTest::newRow("garbage between frames") << 4 << 0;
        QTest::newRow("garbage holding heads and tails") << 5 << 0;
    }
    void serialLineFaults()
    {
        QFETCH(int, fault);
        QFETCH(int, lost);
        Rig rig(Link::Serial, Sensor(130, "LV51", FaultRamp()));
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QVERIFY(rig.Settle());
        GRecordDataPro* live = rig.Channel(0).m_pRealTime;
        const StoreContents before = Contents(live);
        const int64_t offered = rig.Offered(0);

        SimSerialBridge& bridge = *rig.bridge;
        switch (fault) {
        case 0: bridge.LoseBytes(3); break;
        case 1: bridge.LoseBytes(1, 18); break;
        case 2: bridge.LoseBytes(1, 9); break;
        case 3: bridge.CorruptBytes(1); break;
        case 4: bridge.InsertGarbage({0x00, 0x13, 0xFF, 0x7E, 0xAB, 0x55}); break;
        default: bridge.InsertGarbage({0xAA, 0xA5, 0x01, 0xAB, 0xAA, 0xAB, 0xAA, 0x00, 0xAB}); break;
        }
        QVERIFY(MeasureAndPoll(rig));
        QCOMPARE(rig.Offered(0), offered + 1 - lost);
        // Three readings after the fault, each stored and shown as sent.
        for (int i = 0; i < 3; ++i) {
            QVERIFY(rig.NextReading());
            QVERIFY(NewestRecordIs(live, rig.model->LastMeasurement()));
            QVERIFY(ShowsReading(w, rig.model->LastMeasurement()));
        }
        QCOMPARE(rig.Offered(0), offered + 4);
        VERIFY_KEPT(before, Contents(live), true);
        QVERIFY(bridge.LineViolations().empty());
    }

    // The device goes away in the middle of a live run. Nothing is reported (the window has no
    // message for it); the value fields keep the last reading, the stores keep every reading
    // taken, a bridge's port that hung up is closed instead of being watched in vain, saving
    // still writes everything that was stored, and a history download ends with nothing.
    void deviceGoneDuringLiveRun_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<bool>("removed");
        QTest::addColumn<bool>("hangsUp"); // the open port hangs up, or (umockdev) just goes quiet
        QTest::newRow("usb, unplugged") << Link::Usb << false << true;
        QTest::newRow("usb, gone from the bus") << Link::Usb << true << true;
        QTest::newRow("serial bridge pulled") << Link::Serial << false << true;
        QTest::newRow("serial bridge pulled, port quiet") << Link::Serial << false << false;
    }
    void deviceGoneDuringLiveRun()
    {
        QFETCH(Link, link);
        QFETCH(bool, removed);
        QFETCH(bool, hangsUp);
        // A particulate and formaldehyde sensor: two live stores to keep.
        Rig rig(link, Sensor(20, "AQ33", FaultRamp()));
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        w.on_actionEnglish_triggered();
        QVERIFY(rig.Settle());
        for (int i = 0; i < 3; ++i)
            QVERIFY(rig.NextReading());
        QVERIFY(rig.PumpUntil([&] { return rig.Offered(1) >= 4; }));
        rig.Pump(300); // nothing left on the way
        const SimScaledReading last = rig.model->LastMeasurement();
        GRecordDataPro* live = rig.Channel(0).m_pRealTime;
        const StoreContents before = Contents(live);
        const StoreContents gasBefore = Contents(rig.Channel(1).m_pRealTime);
        const int curvePoints = int(w.m_Plot.mCurves[0]->dataSize());
        const QString state = w.ui->labelType->text();

        if (link == Link::Serial && hangsUp)
            rig.bridge->UnplugAndHangUp();
        else if (link == Link::Serial)
            rig.bridge->Unplug();
        else if (removed)
            rig.bus->Remove(rig.bus->Devices().front().get());
        else
            rig.bus->Devices().front()->Unplug();
        // Ten seconds of polling a device that is not there.
        ModalScript boxes;
        for (int s = 0; s < 10; ++s) {
            rig.clock->Advance(1000);
            rig.Pump(220);
        }
        QCOMPARE(boxes.Seen().size(), 0);
        QVERIFY(ShowsReading(w, last));
        QCOMPARE(w.ui->labelType->text(), state);
        VERIFY_KEPT(before, Contents(live), false);
        VERIFY_KEPT(gasBefore, Contents(rig.Channel(1).m_pRealTime), false);
        QCOMPARE(int(w.m_Plot.mCurves[0]->dataSize()), curvePoints);
        if (link == Link::Serial) {
            QCOMPARE(w.m_CodeUsb.m_Serial.IsHungUp(), hangsUp);
            QCOMPARE(w.m_CodeUsb.m_Serial.m_Port.isOpen(), !hangsUp);
        } else {
            QVERIFY(w.m_CodeUsb.IsDeviceGone(0));
        }

        // Saving writes every record taken before the device left.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("kept.str");
        ModalScript save;
        save.ChooseFile(path);
        w.ui->actionBinary->trigger();
        _STracFile* read = Trac_Create();
        QCOMPARE(Trac_Read(read, QFile::encodeName(path).constData()), int(before.records.size()));
        for (size_t i = 0; i < before.records.size(); ++i)
            QCOMPARE(read->records[i].value1, before.records[i].value1);
        Trac_Destroy(read);

        // A download has no one to ask: it ends at once (a quiet port: after the 50 waits for
        // the first packet) and changes nothing.
        const int64_t clockBefore = rig.clock->Now();
        w.ui->actionCollect_historical_data->trigger();
        QCOMPARE(StatusText(w), QStringLiteral("Finish reading history data.0"));
        const int64_t waited = rig.clock->Now() - clockBefore;
        QVERIFY2(waited <= (hangsUp ? 100 : 1600), qPrintable(QString::number(waited)));
        QCOMPARE(rig.Channel(0).m_pCurrent, live);
        VERIFY_KEPT(before, Contents(live), false);
    }
};

QTEST_MAIN(TestFaultsLive)
#include "test_faults_live.moc"
