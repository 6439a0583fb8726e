// The USB transport (LibUsbIO, through the codec SCodeUsb) against simulated sensors on the
// emulated USB bus: which devices are opened and in which order, what travels on the wire, and
// what a read gives when the device is silent, held by the kernel or gone.
#include "e2erig.h"
#include "simusbbus.h"

#include <QtTest>
#include <cstring>
#include <libusb.h>

namespace {

SensorConfig Quiet(const char* name = "LV51")
{
    SensorConfig cfg = E2eSensor(130, 36, false);
    std::memcpy(cfg.name.data(), name, 4);
    return cfg;
}

int Id(uint16_t vendor, uint16_t product)
{
    return vendor << 16 | product;
}

// The bus address of the device behind an opened entry.
int AddressOf(const LibUsbIO& io, int index)
{
    return libusb_get_device_address(libusb_get_device(io.m_Devices[index].m_hDevice));
}

// Bus addresses of the devices with one of the ids, in libusb's enumeration order.
QVector<int> EnumerationOrder(const QVector<int>& ids)
{
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) != 0)
        return {};
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    QVector<int> order;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d{};
        libusb_get_device_descriptor(list[i], &d);
        if (ids.contains(Id(d.idVendor, d.idProduct)))
            order.append(libusb_get_device_address(list[i]));
    }
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    return order;
}

SimUsbDevice* DeviceAt(SimUsbBus& bus, int address)
{
    for (const auto& d : bus.Devices()) {
        if (d->DevNum() == address)
            return d.get();
    }
    return nullptr;
}

QByteArray Bytes(const std::vector<uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
}

QByteArray Bytes(const unsigned char* p, int n)
{
    return QByteArray(reinterpret_cast<const char*>(p), n);
}

// The identity request as it must travel: report 0x02, head, 0xA6, fifteen zeros, checksum, tail.
const QByteArray kIdentityOnTheWire = QByteArray::fromHex("02aaa6" "000000000000000000000000000000" "00ab");

} // namespace

class TestE2eUsb : public QObject {
    Q_OBJECT

private slots:
    void onlyKnownIdPairsAreOpened_data()
    {
        QTest::addColumn<QVector<int>>("ids");      // one device per id: vendor << 16 | product
        QTest::addColumn<QVector<int>>("opened");   // positions in `ids` that must be opened
        QTest::newRow("second pair") << QVector<int>{Id(0x16C0, 0x05DF)} << QVector<int>{0};
        QTest::newRow("first pair") << QVector<int>{Id(0xFFF1, 0xFFF2)} << QVector<int>{0};
        QTest::newRow("pairs are not mixed")
            << QVector<int>{Id(0x16C0, 0xFFF2), Id(0xFFF1, 0x05DF), Id(0x16C0, 0x05DF)} << QVector<int>{2};
        QTest::newRow("nothing of ours")
            << QVector<int>{Id(0x16C0, 0xFFF2), Id(0x1A86, 0x7523)} << QVector<int>{};
    }
    void onlyKnownIdPairsAreOpened()
    {
        QFETCH(QVector<int>, ids);
        QFETCH(QVector<int>, opened);
        SharedClock clock;
        SimUsbBus bus;
        std::vector<SimUsbDevice*> devices;
        for (int id : ids) {
            devices.push_back(bus.AddSensor(Quiet(), {uint16_t(id >> 16), uint16_t(id & 0xFFFF)}));
            QVERIFY2(devices.back(), bus.LastError().c_str());
        }
        SCodeUsb codec;
        QCOMPARE(codec.OpenDevices(), opened.size());
        QCOMPARE(codec.HasUsbDevice(), opened.isEmpty() ? 0 : 1);
        for (int i = 0; i < ids.size(); ++i) {
            const bool mustOpen = opened.contains(i);
            QCOMPARE(devices[size_t(i)]->ClientsSeen() > 0, mustOpen);
            QCOMPARE(devices[size_t(i)]->IsClaimed(), mustOpen);
        }
        // The identity request reaches the opened sensor only, and its answer comes back.
        codec.AskDeviceInfo();
        if (!opened.isEmpty()) {
            QVERIFY(PollFor(codec, kResultIdentity));
            QCOMPARE(codec.m_TypeCode, 130);
            QCOMPARE(codec.GetDeviceName(0), QByteArray("LV51"));
        }
        for (int i = 0; i < ids.size(); ++i)
            QCOMPARE(devices[size_t(i)]->Model()->CountRequests(0xA6), opened.contains(i) ? 1 : 0);
    }

    void twoSensorsInEnumerationOrder()
    {
        SharedClock clock;
        SimUsbBus bus;
        SimUsbOptions broken;
        broken.failsOpen = true;
        QVERIFY(bus.AddSensor(Quiet("AAA1")));
        SimUsbDevice* dud = bus.AddSensor(Quiet("DUD0"), broken);
        QVERIFY(dud);
        QVERIFY(bus.AddSensor(Quiet("BBB2"), {0x16C0, 0x05DF}));

        SCodeUsb codec;
        QCOMPARE(codec.OpenDevices(), 2);   // the one that fails to open is skipped
        QVERIFY(!dud->IsClaimed());
        QVector<int> expected = EnumerationOrder({Id(0xFFF1, 0xFFF2), Id(0x16C0, 0x05DF)});
        expected.removeAll(dud->DevNum());
        QCOMPARE((QVector<int>{AddressOf(codec, 0), AddressOf(codec, 1)}), expected);

        // Each index reaches its own device: ask the second one first.
        for (int index : {1, 0}) {
            SimUsbDevice* device = DeviceAt(bus, AddressOf(codec, index));
            QVERIFY(device);
            QVERIFY(codec.AskDeviceInfoUsb(index));
            QCOMPARE(device->Model()->CountRequests(0xA6), 1);
            QVERIFY(PollFor(codec, kResultIdentity, 100, index));
            const std::array<uint8_t, 4> name = device->Model()->Config().name;
            QCOMPARE(codec.GetDeviceName(index), Bytes(name.data(), 4));
        }
        QVERIFY(codec.GetDeviceName(0) != codec.GetDeviceName(1));
    }

    void sensorHeldByTheHidDriverIsClaimedAndRead()
    {
        SharedClock clock;
        SimUsbBus bus;
        SimUsbOptions held;
        held.heldByHid = true;
        SimUsbDevice* s = bus.AddSensor(Quiet(), held);
        QVERIFY(s);
        SCodeUsb codec;
        QCOMPARE(codec.OpenDevices(), 1);
        QCOMPARE(s->Detaches(), 1);
        QVERIFY(s->IsClaimed());
        QVERIFY(!s->KernelDriverBound());
        codec.AskDeviceInfo();
        QVERIFY(PollFor(codec, kResultIdentity));
        QCOMPARE(codec.GetDeviceName(0), QByteArray("LV51"));
        // Closing hands the interface back to the HID driver.
        codec.CloseDevices();
        QVERIFY(!s->IsClaimed());
        QVERIFY(s->KernelDriverBound());
    }

    void refusedReadsLeaveTheBufferAlone_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("close");
        QTest::addColumn<int>("index");
        QTest::newRow("before opening") << false << false << 0;
        QTest::newRow("index -1") << true << false << -1;
        QTest::newRow("index equal to the count") << true << false << 1;
        QTest::newRow("after closing") << true << true << 0;
    }
    void refusedReadsLeaveTheBufferAlone()
    {
        QFETCH(bool, open);
        QFETCH(bool, close);
        QFETCH(int, index);
        SharedClock clock;
        SimUsbBus bus;
        SensorConfig talkative = Quiet();
        talkative.sendMeasurements = true;   // a frame is always waiting
        SimUsbDevice* s = bus.AddSensor(talkative);
        QVERIFY(s);
        LibUsbIO io;
        if (open)
            QCOMPARE(io.OpenDevices(), 1);
        if (close)
            io.CloseDevices();
        unsigned char buffer[20];
        std::memset(buffer, 0x5A, sizeof buffer);
        QCOMPARE(io.ReadData(index, buffer, 20), 0);
        QCOMPARE(Bytes(buffer, 20), QByteArray(20, '\x5A'));
        QVERIFY(s->Transfers(0x81).empty());   // nothing went on the wire
        QCOMPARE(io.IsDeviceReady(index), false);
    }

    void silentDeviceTimesOutAfterTenMilliseconds()
    {
        SharedClock clock;
        SimUsbBus bus;
        SimUsbDevice* s = bus.AddSensor(Quiet());
        SCodeUsb codec;
        QCOMPARE(codec.OpenDevices(), 1);
        unsigned char buffer[20];
        std::memset(buffer, 0x5A, sizeof buffer);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(codec.ReadData(0, buffer, 20), 0);
        const double elapsedMs = timer.nsecsElapsed() / 1e6;
        QCOMPARE(Bytes(buffer, 20), QByteArray(20, '\0'));
        QVERIFY2(elapsedMs >= 9.5 && elapsedMs < 500, qPrintable(QString::number(elapsedMs)));
        // On the wire the transfer stayed pending until the program gave it up. (The device
        // hears of it a little after the program sent it, later still on a busy machine.)
        const std::vector<SimUsbTransfer> in = s->Transfers(0x81);
        QCOMPARE(int(in.size()), 1);
        QCOMPARE(in[0].length, 20);
        QCOMPARE(in[0].outcome, SimUsbTransfer::Outcome::Discarded);
        QVERIFY2(in[0].WaitedMs() > 0 && in[0].WaitedMs() <= elapsedMs, qPrintable(QString::number(in[0].WaitedMs())));
        TAG_T_SPM25Data reading;
        QCOMPARE(int(codec.ReadPM25Data(0, &reading)), int(kResultNothing));
        QVERIFY(!codec.IsDeviceGone(0));   // silent is not gone
    }

    void readGivesTheBytesExactly()
    {
        SharedClock clock;
        SimUsbBus bus;
        SimUsbDevice* s = bus.AddSensor(Quiet());
        SCodeUsb codec;
        QCOMPARE(codec.OpenDevices(), 1);
        QVERIFY(codec.AskDeviceInfoUsb(0));
        unsigned char buffer[20] = {};
        int got = 0;
        for (int attempt = 0; attempt < 20 && got == 0; ++attempt)
            got = codec.ReadData(0, buffer, 20);
        QCOMPARE(got, 20);
        const SimUsbTransfer last = s->Transfers(0x81).back();
        QCOMPARE(last.outcome, SimUsbTransfer::Outcome::Completed);
        QCOMPARE(Bytes(buffer, 20), Bytes(last.data));
        QCOMPARE(int(buffer[0]), 0x01);   // the device's report number, kept as received
        QCOMPARE(int(buffer[2]), 0xA6);
    }

    void everyWriteIsTwentyBytesWithTheReportNumber()
    {
        SharedClock clock;
        SimUsbBus bus;
        SimUsbDevice* s = bus.AddSensor(Quiet());
        SCodeUsb codec;
        QCOMPARE(codec.OpenDevices(), 1);
        codec.AskDeviceInfo();
        const std::vector<SimUsbTransfer> first = s->Transfers(0x02);
        QCOMPARE(int(first.size()), 1);
        QCOMPARE(Bytes(first[0].data).toHex(), kIdentityOnTheWire.toHex());

        // History requests of both formats; only bits 0-7 of the packet number travel on USB.
        codec.m_TypeCode = 130;
        QVERIFY(codec.AskHistoryDataUsb(0, 300, 5));
        codec.m_TypeCode = 3;
        QVERIFY(codec.AskHistoryDataUsb(0, 7, 1));
        // A caller's message with another byte 0 still leaves with the report number.
        unsigned char message[20];
        std::memcpy(message, kIdentityOnTheWire.constData(), 20);
        message[0] = 0x00;
        codec.WriteData(0, message);

        const std::vector<SimUsbTransfer> out = s->Transfers(0x02);
        QCOMPARE(int(out.size()), 4);
        for (const SimUsbTransfer& t : out) {
            QCOMPARE(t.length, 20);
            QCOMPARE(int(t.data.size()), 20);
            QCOMPARE(int(t.data[0]), 0x02);
            QCOMPARE(t.outcome, SimUsbTransfer::Outcome::Completed);
        }
        QCOMPARE(Bytes(out[1].data).toHex(),
                 QByteArray::fromHex("02aaad2c05" "000000000000000000000000" "0031ab").toHex());
        QCOMPARE(Bytes(out[2].data).toHex(),
                 QByteArray::fromHex("02aaac07" "00000000000000000000000000" "0007ab").toHex());
        QCOMPARE(Bytes(out[3].data).toHex(), kIdentityOnTheWire.toHex());
        QCOMPARE(s->Model()->CountRequests(0xA6), 2);
    }

    void heldWriteIsGivenUpAfterTwoHundredMilliseconds()
    {
        SharedClock clock;
        SimUsbBus bus;
        SimUsbDevice* s = bus.AddSensor(Quiet());
        SCodeUsb codec;
        QCOMPARE(codec.OpenDevices(), 1);
        s->SetHoldOut(true);
        QElapsedTimer timer;
        timer.start();
        codec.AskDeviceInfo();
        const double elapsedMs = timer.nsecsElapsed() / 1e6;
        QVERIFY2(elapsedMs >= 199.5 && elapsedMs < 2000, qPrintable(QString::number(elapsedMs)));
        const std::vector<SimUsbTransfer> out = s->Transfers(0x02);
        QCOMPARE(int(out.size()), 1);
        QCOMPARE(out[0].outcome, SimUsbTransfer::Outcome::Discarded);
        QVERIFY2(out[0].WaitedMs() > 0 && out[0].WaitedMs() <= elapsedMs, qPrintable(QString::number(out[0].WaitedMs())));
        QCOMPARE(s->Model()->CountRequests(0xA6), 0);
        QVERIFY(!codec.IsDeviceGone(0));

        // The link goes on: the next write gets through.
        s->SetHoldOut(false);
        codec.AskDeviceInfo();
        QVERIFY(PollFor(codec, kResultIdentity));
    }

    void unpluggedWhileOpen_data()
    {
        QTest::addColumn<bool>("remove");
        QTest::newRow("unplugged") << false;
        QTest::newRow("gone from the bus") << true;
    }
    void unpluggedWhileOpen()
    {
        QFETCH(bool, remove);
        SharedClock clock;
        SimUsbBus bus;
        SensorConfig cfg = Quiet();
        cfg.sendMeasurements = true;
        SimUsbDevice* s = bus.AddSensor(cfg);
        QVERIFY(s);
        clock.Drive(s->Model());
        SCodeUsb codec;
        QCOMPARE(codec.OpenDevices(), 1);
        QVERIFY(PollFor(codec, kResultPrimary1));
        if (remove)
            bus.Remove(s);
        else
            s->Unplug();
        for (int i = 0; i < 5; ++i) {
            Platform_SleepMs(1000);   // a reading would be due every time
            unsigned char buffer[20];
            std::memset(buffer, 0x5A, sizeof buffer);
            QCOMPARE(codec.ReadData(0, buffer, 20), 0);
            QCOMPARE(Bytes(buffer, 20), QByteArray(20, '\0'));
            TAG_T_SPM25Data reading;
            QCOMPARE(int(codec.ReadPM25Data(0, &reading)), int(kResultNothing));
            codec.AskDeviceInfo();   // writes to a device that is gone are harmless
        }
        QCOMPARE(codec.DeviceCount(), 1);
        QVERIFY(codec.IsDeviceGone(0));
        codec.CloseDevices();
        QCOMPARE(codec.DeviceCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestE2eUsb)
#include "test_e2e_usb.moc"
