// The serial link (GSerialPort, through the codec SCodeUsb) against the simulated sensor behind
// the emulated USB-serial bridge: discovery through Qt's own port listing, the line settings,
// identity and serial number, a device that is nowhere, and a bridge pulled while open.
#include "e2erig.h"
#include "simserialbridge.h"
#include "simusbbus.h"

#include <QSerialPortInfo>
#include <QtTest>
#include <memory>

namespace {

SensorConfig Sensor121()
{
    SensorConfig cfg = E2eSensor(121, 36, true);
    cfg.name = {{'P', 'S', '2', '2'}};
    cfg.serialNumber = {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0A}};
    cfg.frameId = {{0x1A, 0x2B, 0x3C, 0x4D}};
    return cfg;
}

QByteArray Wire(const SimMessage& m)
{
    return QByteArray(reinterpret_cast<const char*>(m.data()) + 1, 19);
}

} // namespace

class TestE2eSerial : public QObject {
    Q_OBJECT

private slots:
    void bridgeFoundByItsIds_data()
    {
        QTest::addColumn<QVector<int>>("products");   // one bridge each, vendor 0x1A86
        QTest::newRow("the bridge") << QVector<int>{0x7523};
        QTest::newRow("another product id") << QVector<int>{0x7522};
        QTest::newRow("another, then the bridge") << QVector<int>{0x7522, 0x7523};
        QTest::newRow("two bridges") << QVector<int>{0x7523, 0x7523};
    }
    void bridgeFoundByItsIds()
    {
        QFETCH(QVector<int>, products);
        SharedClock clock;
        std::vector<std::unique_ptr<SimSerialBridge>> bridges;
        for (int product : products) {
            SimSerialOptions options;
            options.productId = uint16_t(product);
            bridges.push_back(std::make_unique<SimSerialBridge>(Sensor121(), options));
            QVERIFY2(bridges.back()->IsValid(), bridges.back()->LastError().c_str());
            clock.Drive(bridges.back()->Model());
        }
        // The one to take: the first port Qt lists with the bridge's ids.
        QString expected;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            if (expected.isEmpty() && info.vendorIdentifier() == 0x1A86 && info.productIdentifier() == 0x7523)
                expected = info.portName();
        }

        SCodeUsb codec;
        codec.m_Serial.m_LinkFlag = codec.m_Serial.OpenDevicePort();
        QCOMPARE(codec.m_Serial.m_LinkFlag, expected.isEmpty() ? 0 : 1);
        QCOMPARE(codec.m_Serial.m_Port.isOpen(), !expected.isEmpty());
        for (const auto& bridge : bridges) {
            const QString name = QString::fromStdString(bridge->PortName());
            bool listed = false;
            for (const TAG_T_SPortEntry& e : codec.m_Serial.m_PortList)
                listed = listed || (e.m_Name == name && e.m_VendorId == 0x1A86);
            QVERIFY2(listed, qPrintable(name));
        }
        if (expected.isEmpty())
            return;
        QCOMPARE(codec.m_Serial.m_Port.portName(), expected);
        clock.onSleep = [&codec](int ms) { WaitForSerialInput(codec, ms); };
        codec.AskDeviceInfo();
        QVERIFY(PollFor(codec, kResultIdentity));
        for (const auto& bridge : bridges) {
            const bool chosen = QString::fromStdString(bridge->PortName()) == expected;
            QCOMPARE(bridge->Model()->CountRequests(0xA6), chosen ? 1 : 0);
            QCOMPARE(bridge->ClientConnected(), chosen);
        }
    }

    void identityAndSerialNumberAt9600Baud()
    {
        SharedClock clock;
        SimSerialBridge bridge(Sensor121());   // its line starts cooked at 38400 baud
        QVERIFY2(bridge.IsValid(), bridge.LastError().c_str());
        clock.Drive(bridge.Model());
        SCodeUsb codec;
        clock.onSleep = [&codec](int ms) { WaitForSerialInput(codec, ms); };
        QCOMPARE(codec.OpenDevices(), 0);
        codec.m_Serial.m_LinkFlag = codec.m_Serial.OpenDevicePort();
        QCOMPARE(codec.m_Serial.m_LinkFlag, 1);
        QCOMPARE(codec.m_Serial.m_Port.baudRate(), 9600);
        QCOMPARE(codec.m_Serial.m_Port.dataBits(), QSerialPort::Data8);
        QCOMPARE(codec.m_Serial.m_Port.parity(), QSerialPort::NoParity);
        QCOMPARE(codec.m_Serial.m_Port.stopBits(), QSerialPort::OneStop);
        QCOMPARE(codec.m_Serial.m_Port.flowControl(), QSerialPort::NoFlowControl);

        codec.AskDeviceInfo();
        QVERIFY(PollFor(codec, kResultIdentity));
        QCOMPARE(codec.m_TypeCode, 121);
        QCOMPARE(codec.GetModelName(), QByteArray("PS22"));
        QCOMPARE(codec.GetDeviceName(0), QByteArray("PS22"));
        QVERIFY(PollFor(codec, kResultSerialNumber));
        QCOMPARE(codec.GetDeviceSN(0), QByteArray("0102030405060a"));
        // From now on the readings name the device.
        QVERIFY(PollFor(codec, kResultPrimary1));
        QCOMPARE(codec.GetDeviceName(0), QByteArray("1A2B-3C4D"));

        // Both requests went out exactly as the protocol has them, and the line was right
        // whenever the device heard from the program.
        const std::vector<SimRequest> requests = bridge.Model()->Requests();
        QCOMPARE(int(requests.size()), 2);
        QCOMPARE(Wire(requests[0].frame).toHex(), QByteArray("aaa6" "000000000000000000000000000000" "00ab"));
        QCOMPARE(Wire(requests[1].frame).toHex(), QByteArray("aab5" "000000000000000000000000000000" "00ab"));
        QVERIFY(requests[0].valid && requests[1].valid);
        QCOMPARE(requests[0].link, SimLink::Serial);
        QVERIFY(bridge.LineViolations().empty());
        QVERIFY(bridge.CheckLine().empty());
    }

    void noSensorAnywhere()
    {
        SharedClock clock;
        SimUsbBus bus;   // the emulated bus, with nothing of ours on it
        QVERIFY(bus.AddDevice({0x16C0, 0xFFF2}));
        SimSerialOptions other;
        other.productId = 0x7522;
        SimSerialBridge stranger(Sensor121(), other);
        QVERIFY(stranger.IsValid());

        SCodeUsb codec;
        QCOMPARE(codec.OpenDevices(), 0);
        QCOMPARE(codec.HasUsbDevice(), 0);
        codec.m_Serial.m_LinkFlag = codec.m_Serial.OpenDevicePort();
        QCOMPARE(codec.m_Serial.m_LinkFlag, 0);
        QVERIFY(!codec.m_Serial.m_Port.isOpen());
        // Nothing to talk to: requests vanish, polls and downloads give nothing.
        codec.AskDeviceInfo();
        QVERIFY(!PollFor(codec, kResultIdentity, 5));
        codec.m_TypeCode = 130;
        QVERIFY(!codec.ReadHistoryData(0, 1, 0));
        QCOMPARE(int(codec.m_RealPM25Count), 0);
        QCOMPARE(stranger.Model()->CountRequests(0xA6), 0);
    }

    void bridgePulledWhileOpen()
    {
        SharedClock clock;
        SimSerialBridge bridge(Sensor121());
        QVERIFY(bridge.IsValid());
        clock.Drive(bridge.Model());
        SCodeUsb codec;
        clock.onSleep = [&codec](int ms) { WaitForSerialInput(codec, ms); };
        codec.m_Serial.m_LinkFlag = codec.m_Serial.OpenDevicePort();
        QCOMPARE(codec.m_Serial.m_LinkFlag, 1);
        QVERIFY(PollFor(codec, kResultPrimary1));
        bridge.Unplug();
        for (int i = 0; i < 20; ++i) {
            Platform_SleepMs(200);
            QCoreApplication::processEvents();
            unsigned char message[20];
            QCOMPARE(codec.m_Serial.ReadBufFromPort(message, 20), 0);
            TAG_T_SPM25Data reading;
            QCOMPARE(int(codec.ReadPM25Data(0, &reading)), int(kResultNothing));
            codec.AskDeviceInfo();
        }
        QVERIFY(!codec.ReadHistoryData(0, 1, 0));
    }
};

QTEST_GUILESS_MAIN(TestE2eSerial)
#include "test_e2e_serial.moc"
