// The program's own device link against the simulated sensor: identity and a history download
// over the emulated USB bus, identity and serial number over the emulated serial bridge.
// This is where the simulator and the program's codec must agree on the protocol.
#include "platformtime.h"
#include "scodeusb.h"
#include "simserialbridge.h"
#include "simusbbus.h"

#include <QtTest>

namespace {

constexpr int64_t kStart = 1700000000000;

// Polls until the result code turns up (or the attempts run out), letting Qt deliver serial bytes.
bool PollFor(SCodeUsb& codec, unsigned char code, int attempts = 200)
{
    for (int i = 0; i < attempts; ++i) {
        QCoreApplication::processEvents();
        TAG_T_SPM25Data d{};
        if (codec.ReadPM25Data(0, &d) == code)
            return true;
        QThread::msleep(5);
    }
    return false;
}

} // namespace

class TestSimProgram : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Platform_SetSleep({}); }
    void usbIdentityAndHistory();
    void serialIdentity();
};

void TestSimProgram::usbIdentityAndHistory()
{
    SimUsbBus bus;
    SensorConfig cfg;
    cfg.clockStartMs = kStart;
    cfg.historyCount = 25;
    cfg.readings = SimReadingSource::Ramp({10.0, 13.0, 0.0}, {0.1, 0.1, 0.0});
    SimUsbDevice* s = bus.AddSensor(cfg);
    QVERIFY(s);
    Platform_SetSleep([](int) {});   // the simulated sensor answers at once

    SCodeUsb codec;
    QCOMPARE(codec.OpenDevices(), 1);
    codec.AskDeviceInfo();
    QVERIFY(PollFor(codec, 166));
    QCOMPARE(codec.GetModelName(), QByteArray("LV51"));
    QCOMPARE(codec.GetDeviceName(0), QByteArray("LV51"));
    QCOMPARE(codec.m_TypeCode, 130);

    QVERIFY(codec.ReadHistoryData(0, 1, 0));
    const std::vector<SimHistoryValue> h = s->Model()->History();
    QCOMPARE(int(codec.m_RealPM25Count), 25);
    QCOMPARE(codec.mTimeSecList.size(), 25);
    for (int i = 0; i < 25; ++i) {
        QCOMPARE(codec.mp_HistoryData[i], h[size_t(i)].pm25);
        QCOMPARE(int64_t(codec.mTimeSecList[i]), h[size_t(i)].time);
    }
    QVERIFY(codec.ReadHistoryData(0, 5, 0));
    QCOMPARE(int(codec.m_RealPM10Count), 25);
    QCOMPARE(codec.mp_PM10HistoryData[24], h[24].pm10);
    codec.CloseDevices();
}

void TestSimProgram::serialIdentity()
{
    SensorConfig cfg;
    cfg.typeCode = 121;
    cfg.name = {{'P', 'S', '2', '2'}};
    cfg.serialNumber = {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0A}};
    cfg.frameId = {{0x1A, 0x2B, 0x3C, 0x4D}};
    SimSerialBridge bridge(cfg);
    QVERIFY(bridge.IsValid());

    SCodeUsb codec;
    QCOMPARE(codec.OpenDevices(), 0);
    codec.m_Serial.m_LinkFlag = codec.m_Serial.OpenDevicePort();
    QCOMPARE(codec.m_Serial.m_LinkFlag, 1);
    codec.AskDeviceInfo();
    QVERIFY(PollFor(codec, 181));
    QCOMPARE(codec.GetDeviceSN(0), QByteArray("0102030405060a"));
    QVERIFY(PollFor(codec, 1));
    QCOMPARE(codec.GetDeviceName(0), QByteArray("1A2B-3C4D"));   // taken from the readings
    QCOMPARE(codec.m_TypeCode, 121);
    QVERIFY(bridge.LineViolations().empty());
}

QTEST_GUILESS_MAIN(TestSimProgram)
#include "test_simprogram.moc"
