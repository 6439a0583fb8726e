// The emulated USB-serial bridge, found and driven through Qt SerialPort as the program does.
#include "simserialbridge.h"
#include "simtesthelpers.h"

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QtTest>

namespace {

QByteArray Wire(std::array<uint8_t, 20> msg)
{
    return QByteArray(reinterpret_cast<const char*>(msg.data()) + 1, 19);
}

bool Configure(QSerialPort& port)
{
    return port.open(QIODevice::ReadWrite) && port.setBaudRate(9600)
           && port.setDataBits(QSerialPort::Data8) && port.setParity(QSerialPort::NoParity)
           && port.setStopBits(QSerialPort::OneStop) && port.setFlowControl(QSerialPort::NoFlowControl);
}

// Collects bytes until at least n arrived or the time is up.
QByteArray ReadAtLeast(QSerialPort& port, int n, int ms = 2000)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < n && t.elapsed() < ms) {
        port.waitForReadyRead(20);
        got += port.readAll();
    }
    return got;
}

// The first 19-byte frame of the given type in a byte stream, or an empty array.
QByteArray FindFrame(const QByteArray& stream, uint8_t type)
{
    for (int i = 0; i + 19 <= stream.size(); ++i)
        if (uint8_t(stream[i]) == 0xAA && uint8_t(stream[i + 1]) == type && uint8_t(stream[i + 18]) == 0xAB)
            return stream.mid(i, 19);
    return {};
}

SensorConfig Quiet()
{
    SensorConfig c;
    c.sendMeasurements = false;
    return c;
}

} // namespace

class TestSimSerial : public QObject {
    Q_OBJECT
private slots:
    void foundByIds();
    void lineSettingsAreChecked();
    void requestsAreAnswered();
    void framesArePacedAtLineSpeed();
    void steppedClockPacesTheLine();
    void byteFaults();
    void unplugHangsUp();
    void bridgeLeavesTheSharedTestbed();
};

void TestSimSerial::foundByIds()
{
    SimSerialBridge bridge(Quiet());
    SimSerialOptions other;
    other.productId = 0x7522;
    SimSerialBridge second(Quiet(), other);
    QVERIFY2(bridge.IsValid(), bridge.LastError().c_str());
    QVERIFY2(second.IsValid(), second.LastError().c_str());
    int seen = 0;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.portName().toStdString() == bridge.PortName()) {
            QCOMPARE(info.vendorIdentifier(), quint16(0x1A86));
            QCOMPARE(info.productIdentifier(), quint16(0x7523));
            QCOMPARE(info.systemLocation().toStdString(), bridge.SystemLocation());
            ++seen;
        } else if (info.portName().toStdString() == second.PortName()) {
            QCOMPARE(info.vendorIdentifier(), quint16(0x1A86));
            QCOMPARE(info.productIdentifier(), quint16(0x7522));
            ++seen;
        }
    }
    QCOMPARE(seen, 2);
    QVERIFY(bridge.PortName() != second.PortName());
}

void TestSimSerial::lineSettingsAreChecked()
{
    SimSerialBridge bridge(Quiet());
    {
        // Qt applies its settings on open and always makes the line raw: a wrong speed is
        // what a host can get wrong.
        QSerialPort port(QString::fromStdString(bridge.PortName()));
        QVERIFY(port.setBaudRate(19200));
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write(Wire(TestRequest(0xA6)));
        QVERIFY(port.waitForBytesWritten(500));
        QTRY_VERIFY(!bridge.LineViolations().empty());
        const std::vector<std::string> v = bridge.LineViolations();
        QCOMPARE(v, std::vector<std::string>{"baud rate is not 9600"});
    }
    SimSerialBridge good(Quiet());
    QSerialPort port(QString::fromStdString(good.PortName()));
    QVERIFY(Configure(port));
    QVERIFY(good.CheckLine().empty());
    // A pseudo-terminal keeps no parity setting; stop bits and flow control it does keep.
    QVERIFY(port.setStopBits(QSerialPort::TwoStop));
    QVERIFY(port.setFlowControl(QSerialPort::SoftwareControl));
    const std::vector<std::string> expected{"two stop bits", "flow control is on"};
    QCOMPARE(good.CheckLine(), expected);
}

void TestSimSerial::requestsAreAnswered()
{
    SensorConfig cfg = Quiet();
    cfg.serialNumber = {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0A}};
    SimSerialBridge bridge(cfg);
    QSerialPort port(QString::fromStdString(bridge.PortName()));
    QVERIFY(Configure(port));
    // Garbage and a stray head before the request: the device finds the frame anyway.
    port.write(QByteArray("\x01\x02\xAA\x07", 4) + Wire(TestRequest(0xA6)) + Wire(TestRequest(0xB5)));
    QVERIFY(port.waitForBytesWritten(500));
    const QByteArray got = ReadAtLeast(port, 38);
    const QByteArray identity = FindFrame(got, 0xA6);
    QCOMPARE(identity.size(), 19);
    QCOMPARE(identity.mid(2, 6), QByteArray("\x01\x02\x03\x04\x05\x06", 6));
    QCOMPARE(identity.mid(8, 4), QByteArray("LV51"));
    QCOMPARE(uint8_t(identity[12]), uint8_t(130));
    const QByteArray sn = FindFrame(got, 0xB5);
    QCOMPARE(sn.mid(2, 7), QByteArray("\x01\x02\x03\x04\x05\x06\x0A", 7));
    QCOMPARE(bridge.Model()->CountRequests(0xA6), 1);
    QCOMPARE(bridge.Model()->CountRequests(0xB5), 1);
    QCOMPARE(bridge.GarbageReceived(), qint64(4));
    QVERIFY(bridge.LineViolations().empty());
}

void TestSimSerial::framesArePacedAtLineSpeed()
{
    SensorConfig cfg;
    cfg.typeCode = 10;   // reading plus formaldehyde: two frames each second
    SimSerialBridge bridge(cfg);
    QSerialPort port(QString::fromStdString(bridge.PortName()));
    QVERIFY(Configure(port));
    port.write(Wire(TestRequest(0xA6)));
    QVERIFY(port.waitForBytesWritten(500));
    const QByteArray got = ReadAtLeast(port, 57);
    QVERIFY(got.size() >= 57);
    const std::vector<SimSerialWrite> w = bridge.Writes();
    QVERIFY(w.size() >= 3);
    for (size_t i = 1; i < 3; ++i) {
        const int64_t gapUs = w[i].timeUs - w[i - 1].timeUs;
        QVERIFY2(gapUs >= 19000, qPrintable(QString::number(gapUs)));
    }
}

void TestSimSerial::steppedClockPacesTheLine()
{
    SensorConfig cfg = Quiet();
    cfg.clockStartMs = 1700000000000;
    SimSerialBridge bridge(cfg);
    QSerialPort port(QString::fromStdString(bridge.PortName()));
    QVERIFY(Configure(port));
    // Two answers due at once: the second waits until the line is free on the model's clock,
    // 19.8 ms after the first, however long the test waits in real time.
    port.write(Wire(TestRequest(0xA6)) + Wire(TestRequest(0xB5)));
    QVERIFY(port.waitForBytesWritten(500));
    const QByteArray identity = ReadAtLeast(port, 19);
    QCOMPARE(identity.size(), 19);
    QCOMPARE(uint8_t(identity[1]), uint8_t(0xA6));
    QCOMPARE(ReadAtLeast(port, 1, 150).size(), 0);
    bridge.Model()->Clock().Advance(19);
    QCOMPARE(ReadAtLeast(port, 1, 50).size(), 0);
    bridge.Model()->Clock().Advance(1);
    const QByteArray sn = ReadAtLeast(port, 19, 2000);
    QCOMPARE(sn.size(), 19);
    QCOMPARE(uint8_t(sn[1]), uint8_t(0xB5));
}

void TestSimSerial::byteFaults()
{
    SimSerialBridge bridge(Quiet());
    QSerialPort port(QString::fromStdString(bridge.PortName()));
    QVERIFY(Configure(port));
    bridge.InsertGarbage({0x11, 0x22});
    port.write(Wire(TestRequest(0xA6)));
    QByteArray got = ReadAtLeast(port, 21);
    QCOMPARE(got.size(), 21);
    QCOMPARE(got.left(2), QByteArray("\x11\x22"));
    QCOMPARE(uint8_t(got[2]), uint8_t(0xAA));

    bridge.CorruptBytes(1, 0xFF);   // the head of the next frame
    port.write(Wire(TestRequest(0xA6)));
    got = ReadAtLeast(port, 19);
    QCOMPARE(got.size(), 19);
    QCOMPARE(uint8_t(got[0]), uint8_t(0x55));
    QCOMPARE(uint8_t(got[1]), uint8_t(0xA6));

    bridge.LoseBytes(3);
    port.write(Wire(TestRequest(0xA6)));
    got = ReadAtLeast(port, 16, 300);
    QCOMPARE(got.size(), 16);
    QCOMPARE(uint8_t(got[0]), uint8_t(0x24));   // head, type and serial byte 0 were lost

    bridge.LoseBytes(1, 10);   // a byte from the middle of the frame
    port.write(Wire(TestRequest(0xA6)));
    got = ReadAtLeast(port, 18, 300);
    QCOMPARE(got.size(), 18);
    QCOMPARE(got.left(8).toHex(), QByteArray("aaa6202405100042"));
    QCOMPARE(got.mid(8, 3), QByteArray("LV1"));   // the name's '5' was lost
    port.write(Wire(TestRequest(0xA6)));
    QCOMPARE(ReadAtLeast(port, 19, 300).size(), 19);   // once only
}

void TestSimSerial::unplugHangsUp()
{
    SimSerialBridge bridge(Quiet());
    QSerialPort port(QString::fromStdString(bridge.PortName()));
    QVERIFY(Configure(port));
    bridge.Unplug();
    port.write(Wire(TestRequest(0xA6)));
    port.waitForBytesWritten(200);
    port.waitForReadyRead(200);
    QVERIFY(port.readAll().isEmpty());
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        QVERIFY(info.portName().toStdString() != bridge.PortName());

    // Plugged in again: listed under the same name, and a fresh open gets answers.
    port.close();
    QVERIFY2(bridge.Replug(), bridge.LastError().c_str());
    int listed = 0;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        listed += info.portName().toStdString() == bridge.PortName()
                  && info.productIdentifier() == 0x7523;
    QCOMPARE(listed, 1);
    QVERIFY(Configure(port));
    port.write(Wire(TestRequest(0xA6)));
    QVERIFY(!FindFrame(ReadAtLeast(port, 19), 0xA6).isEmpty());
}

void TestSimSerial::bridgeLeavesTheSharedTestbed()
{
    // Another user keeps the testbed alive; a bridge that is gone must not stay listed.
    SimSerialBridge keeper(Quiet());
    std::string name;
    {
        SimSerialBridge bridge(Quiet());
        name = bridge.PortName();
    }
    bool keeperListed = false;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QVERIFY(info.portName().toStdString() != name);
        keeperListed |= info.portName().toStdString() == keeper.PortName();
    }
    QVERIFY(keeperListed);
}

QTEST_GUILESS_MAIN(TestSimSerial)
#include "test_simserial.moc"
