// History downloads by the program's codec from the simulated sensor's memory, over the emulated
// USB bus and the emulated serial bridge, compared value by value and stamp by stamp with what
// the sensor holds; and what a device pulled mid-download leaves behind.
#include "historyrig.h"

#include <QtTest>

Q_DECLARE_METATYPE(E2eLink)

namespace {

void AddLinkColumn()
{
    QTest::addColumn<E2eLink>("link");
}

const char* LinkName(E2eLink link)
{
    return link == E2eLink::Usb ? "USB" : "serial";
}

} // namespace

class TestE2eHistory : public QObject {
    Q_OBJECT

private slots:
    void fullDownload_data()
    {
        AddLinkColumn();
        QTest::addColumn<bool>("lowByte");   // the device answers packet 0, 1, ... for 256, 257, ...
        QTest::newRow("USB") << E2eLink::Usb << false;
        QTest::newRow("serial") << E2eLink::Serial << false;
        QTest::newRow("USB, device reads the low byte") << E2eLink::Usb << true;
    }
    void fullDownload()
    {
        QFETCH(E2eLink, link);
        QFETCH(bool, lowByte);
        HistoryRig rig;
        SensorConfig cfg = E2eSensor(130, 4031, true);
        cfg.usbPacketNumber = lowByte ? SimUsbPacketNumber::LowByte : SimUsbPacketNumber::Tracking;
        QVERIFY2(rig.Open(link, cfg), LinkName(link));
        QVERIFY(rig.codec.ReadHistoryData(0, 1, 0));

        // 4031 values announced: 335 whole groups, packets 0 .. 1004, in order.
        const std::vector<SeenRequest> requests = HistoryRequests(*rig.model);
        const int asked = lowByte ? 256 + 5 : 1005, n = lowByte ? 1020 : 4020;
        QCOMPARE(int(requests.size()), asked);
        for (int i = 0; i < asked; ++i) {
            const SeenRequest& r = requests[size_t(i)];
            QCOMPARE(r.kind, 1);
            // Only bits 0-7 of the packet number travel on USB; the serial link carries them all.
            QCOMPARE(r.packet, link == E2eLink::Usb ? i & 0xFF : i);
        }
        QCOMPARE(int(rig.codec.m_5MinutesCount), 4031);
        const QString diff = CompareHistory(rig.codec, rig.Memory(), IndexRange(0, n - 1), IndexRange(0, n - 1));
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        if (rig.usb) {
            for (const SimUsbTransfer& t : rig.usb->Transfers(0x02))
                QVERIFY(t.data.size() == 20 && t.data[0] == 0x02);
        } else {
            QVERIFY(rig.bridge->LineViolations().empty());
        }
    }

    void oldFormatDownloadOverUsb_data()
    {
        QTest::addColumn<int>("stored");    // values in the sensor's memory
        QTest::addColumn<int>("received");
        QTest::addColumn<int>("first");     // memory index of the first value received
        QTest::addColumn<int>("packets");
        QTest::newRow("30 values: four packets and the remainder") << 30 << 30 << 0 << 5;
        QTest::newRow("300 values: the first 48 packets") << 300 << 288 << 0 << 48;
        // The device serves its latest 1536 values in this format.
        QTest::newRow("2000 values") << 2000 << 288 << 464 << 48;
    }
    void oldFormatDownloadOverUsb()
    {
        QFETCH(int, stored);
        QFETCH(int, received);
        QFETCH(int, first);
        QFETCH(int, packets);
        HistoryRig rig;
        QVERIFY(rig.Open(E2eLink::Usb, E2eSensor(3, stored, true)));
        QVERIFY(rig.codec.ReadHistoryData(0, 1, 0));
        QCOMPARE(int(rig.codec.m_RealPM25Count), received);
        const std::vector<SimHistoryValue> memory = rig.Memory();
        for (int i = 0; i < received; ++i)
            QCOMPARE(rig.codec.mp_HistoryData[i], memory[size_t(first + i)].pm25);
        QVERIFY(rig.codec.mTimeSecList.isEmpty());   // this format carries no dates

        std::vector<int> asked;
        for (const SimRequest& r : rig.model->Requests()) {
            if (r.frame[2] == 0xAC)
                asked.push_back(r.frame[3]);
        }
        QCOMPARE(asked, IndexRange(0, packets - 1));
        QCOMPARE(rig.model->CountRequests(0xAD), 0);
    }

    void pm10ThenPrimaryPairedByPosition_data()
    {
        AddLinkColumn();
        QTest::newRow("USB") << E2eLink::Usb;
        QTest::newRow("serial") << E2eLink::Serial;
    }
    void pm10ThenPrimaryPairedByPosition()
    {
        QFETCH(E2eLink, link);
        HistoryRig rig;
        QVERIFY(rig.Open(link, E2eSensor(130, 100, true)));   // the last group is not full
        QVERIFY(rig.codec.ReadHistoryData(0, 5, 0));
        QVERIFY(rig.codec.ReadHistoryData(0, 1, 0));
        const std::vector<SimHistoryValue> memory = rig.Memory();
        QString diff = CompareHistory(rig.codec, memory, IndexRange(0, 99), IndexRange(0, 99));
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        diff = ComparePM10History(rig.codec, memory, 100);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));

        const std::vector<SeenRequest> requests = HistoryRequests(*rig.model);
        QCOMPARE(int(requests.size()), 2 * 27);
        for (int i = 0; i < 54; ++i) {
            QCOMPARE(requests[size_t(i)].kind, i < 27 ? 5 : 1);
            QCOMPARE(requests[size_t(i)].packet, i % 27);
        }
    }

    // A device may announce more than it holds: the download asks for every announced packet
    // (at most 1005) and keeps the values that are there.
    void announcedMoreThanHeld()
    {
        HistoryRig rig;
        SensorConfig cfg = E2eSensor(130, 288, true);
        cfg.announcedCount = 5000;
        QVERIFY(rig.Open(E2eLink::Usb, cfg));
        QVERIFY(rig.codec.ReadHistoryData(0, 1, 0));
        QCOMPARE(int(HistoryRequests(*rig.model).size()), 1005);
        const QString diff = CompareHistory(rig.codec, rig.Memory(), IndexRange(0, 287), IndexRange(0, 287));
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    void gasHistory_data()
    {
        AddLinkColumn();
        QTest::addColumn<int>("tvoc");
        QTest::addColumn<int>("kindSent");
        QTest::newRow("USB") << E2eLink::Usb << 1 << 2;   // USB sends the kind unchanged
        QTest::newRow("serial, formaldehyde") << E2eLink::Serial << 0 << 2;
        QTest::newRow("serial, TVOC") << E2eLink::Serial << 1 << 3;
    }
    void gasHistory()
    {
        QFETCH(E2eLink, link);
        QFETCH(int, tvoc);
        QFETCH(int, kindSent);
        HistoryRig rig;
        SensorConfig cfg = E2eSensor(20, 30, true);   // a model with a gas channel
        cfg.gas = tvoc ? SimGas::Tvoc : SimGas::Formaldehyde;
        QVERIFY(rig.Open(link, cfg));
        QCOMPARE(rig.codec.GetChannelCount(), 2);
        QVERIFY(rig.codec.ReadHistoryData(0, 2, tvoc));
        // The device answers in the primary layout, so the gas values land in the primary array.
        const std::vector<SimHistoryValue> memory = rig.Memory();
        QCOMPARE(int(rig.codec.m_RealPM25Count), 30);
        for (int i = 0; i < 30; ++i)
            QCOMPARE(rig.codec.mp_HistoryData[i], memory[size_t(i)].gas);
        for (const SeenRequest& r : HistoryRequests(*rig.model))
            QCOMPARE(r.kind, kindSent);
    }

    // The old format's requests travel on USB only: over the serial link nothing asks for it.
    void oldFormatIsUsbOnly()
    {
        HistoryRig rig;
        QVERIFY(rig.Open(E2eLink::Serial, E2eSensor(3, 30, true)));
        QVERIFY(!rig.codec.ReadHistoryData(0, 1, 0));
        QCOMPARE(rig.model->CountRequests(0xAC), 0);
        QCOMPARE(int(rig.codec.m_RealPM25Count), 0);
    }

    void deviceGoneMidDownload_data()
    {
        QTest::addColumn<E2eLink>("link");
        QTest::addColumn<bool>("remove");
        QTest::newRow("USB, unplugged") << E2eLink::Usb << false;
        QTest::newRow("USB, gone from the bus") << E2eLink::Usb << true;
        QTest::newRow("serial bridge pulled") << E2eLink::Serial << false;
    }
    void deviceGoneMidDownload()
    {
        QFETCH(E2eLink, link);
        QFETCH(bool, remove);
        HistoryRig rig;
        QVERIFY(rig.Open(link, E2eSensor(130, 120, true)));
        bool gone = false;
        int64_t goneAtMs = 0;
        rig.onWait = [&] {
            // Ten answers in: groups 0 to 2 are complete, group 3 has begun.
            if (gone || rig.codec.m_HisPacketCount < 10)
                return;
            gone = true;
            goneAtMs = rig.clock.NowMs();
            if (rig.bridge)
                rig.bridge->Unplug();
            else if (remove)
                rig.bus->Remove(rig.usb);
            else
                rig.usb->Unplug();
        };
        const std::vector<SimHistoryValue> memory = rig.Memory();
        QVERIFY(rig.codec.ReadHistoryData(0, 1, 0));   // the count came with packet 0
        QVERIFY(gone);
        const QString diff = CompareHistory(rig.codec, memory, IndexRange(0, 35), IndexRange(0, 35));
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QVERIFY(HistoryRequests(*rig.model).size() <= 11);
        if (link == E2eLink::Usb) {
            // libusb says the device is gone: the download ends there instead of waiting out
            // 50 attempts for each of the 20 packets left (30 s, or 25 minutes for a full memory).
            QVERIFY(rig.codec.IsDeviceGone(0));
            QVERIFY2(rig.clock.NowMs() - goneAtMs <= 30, qPrintable(QString::number(rig.clock.NowMs() - goneAtMs)));
        }
        TAG_T_SPM25Data reading;
        QCOMPARE(int(rig.codec.ReadPM25Data(0, &reading)), int(kResultNothing));
        // A second download finds nothing, and says so.
        QVERIFY(!rig.codec.ReadHistoryData(0, 1, 0));
        QCOMPARE(int(rig.codec.m_RealPM25Count), 0);
    }
};

QTEST_GUILESS_MAIN(TestE2eHistory)
#include "test_e2e_history.moc"
