// The emulated USB bus driven through raw libusb calls, as the program drives it.
#include "simtesthelpers.h"
#include "simusbbus.h"

#include <QtTest>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <libusb.h>

namespace {

constexpr unsigned kTimeoutIn = 10;
constexpr unsigned kTimeoutOut = 200;

struct Usb {
    libusb_context* ctx = nullptr;
    Usb() { libusb_init(&ctx); }
    ~Usb() { libusb_exit(ctx); }

    // Opens the first device with the ids; null when none matched or opening failed (*openResult).
    libusb_device_handle* Open(uint16_t vid, uint16_t pid, int* openResult = nullptr)
    {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx, &list);
        libusb_device_handle* h = nullptr;
        for (ssize_t i = 0; i < n && !h; ++i) {
            libusb_device_descriptor d{};
            libusb_get_device_descriptor(list[i], &d);
            if (d.idVendor != vid || d.idProduct != pid)
                continue;
            const int r = libusb_open(list[i], &h);
            if (openResult)
                *openResult = r;
            if (r != 0)
                h = nullptr;
            break;
        }
        libusb_free_device_list(list, 1);
        return h;
    }

    int Count(uint16_t vid, uint16_t pid)
    {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx, &list);
        int count = 0;
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor d{};
            libusb_get_device_descriptor(list[i], &d);
            count += d.idVendor == vid && d.idProduct == pid;
        }
        libusb_free_device_list(list, 1);
        return count;
    }
};

int Write(libusb_device_handle* h, std::array<uint8_t, 20> msg, unsigned timeout = kTimeoutOut)
{
    int done = 0;
    const int r = libusb_interrupt_transfer(h, 0x02, msg.data(), 20, &done, timeout);
    return r == 0 ? done : r;
}

int Read(libusb_device_handle* h, uint8_t* buf, unsigned timeout = kTimeoutIn)
{
    int done = 0;
    const int r = libusb_interrupt_transfer(h, 0x81, buf, 20, &done, timeout);
    return r == 0 ? done : r;
}

// Reads until a frame of the given type arrives (measurement frames come in between).
bool ReadType(libusb_device_handle* h, uint8_t type, uint8_t* buf, int attempts = 50)
{
    for (int i = 0; i < attempts; ++i)
        if (Read(h, buf) == 20 && buf[2] == type)
            return true;
    return false;
}

SensorConfig QuietSensor()
{
    SensorConfig c;
    c.sendMeasurements = false;
    return c;
}

} // namespace

class TestSimUsb : public QObject {
    Q_OBJECT
private slots:
    void identityRoundTrip();
    void enumeratesByIds();
    void twoSensorsAndOneThatFailsToOpen();
    void hidHeldDeviceNeedsDetach();
    void inTimeoutShowsOnTheWire();
    void heldWriteTimesOut();
    void measurementsArriveOncePerSecond();
    void unplugMidRun();
    void wrongReportNumberIsIgnored();
    void busLeavesTheSharedTestbed();
};

void TestSimUsb::identityRoundTrip()
{
    SimUsbBus bus;
    SimUsbDevice* s = bus.AddSensor(QuietSensor());
    QVERIFY2(s, bus.LastError().c_str());
    Usb usb;
    libusb_device_handle* h = usb.Open(0xFFF1, 0xFFF2);
    QVERIFY(h);
    QCOMPARE(libusb_set_configuration(h, 1), 0);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    QCOMPARE(Write(h, TestRequest(0xA6)), 20);
    uint8_t buf[20] = {};
    QCOMPARE(Read(h, buf), 20);
    QCOMPARE(buf[1], uint8_t(0xAA));
    QCOMPARE(buf[2], uint8_t(0xA6));
    QCOMPARE(buf[13], uint8_t(130));
    QCOMPARE(buf[18], TestChecksum(buf));
    QCOMPARE(Read(h, buf), int(LIBUSB_ERROR_TIMEOUT));
    QCOMPARE(libusb_release_interface(h, 0), 0);
    libusb_close(h);
}

void TestSimUsb::enumeratesByIds()
{
    SimUsbBus bus;
    QVERIFY(bus.AddSensor(QuietSensor(), {0x16C0, 0x05DF}));
    QVERIFY(bus.AddDevice({0x16C0, 0xFFF2}));
    Usb usb;
    QCOMPARE(usb.Count(0x16C0, 0x05DF), 1);
    QCOMPARE(usb.Count(0x16C0, 0xFFF2), 1);
    QCOMPARE(usb.Count(0xFFF1, 0xFFF2), 0);

    // The device that is no sensor takes the write and never answers.
    libusb_device_handle* other = usb.Open(0x16C0, 0xFFF2);
    QVERIFY(other);
    QCOMPARE(libusb_claim_interface(other, 0), 0);
    QCOMPARE(Write(other, TestRequest(0xA6)), 20);
    uint8_t buf[20];
    QCOMPARE(Read(other, buf), int(LIBUSB_ERROR_TIMEOUT));
    libusb_close(other);

    libusb_device_handle* h = usb.Open(0x16C0, 0x05DF);
    QVERIFY(h);
    libusb_device_descriptor d{};
    QCOMPARE(libusb_get_device_descriptor(libusb_get_device(h), &d), 0);
    QCOMPARE(d.bNumConfigurations, uint8_t(1));
    libusb_config_descriptor* cfg = nullptr;
    QCOMPARE(libusb_get_active_config_descriptor(libusb_get_device(h), &cfg), 0);
    QCOMPARE(cfg->bConfigurationValue, uint8_t(1));
    const libusb_interface_descriptor& alt = cfg->interface[0].altsetting[0];
    QCOMPARE(alt.bInterfaceClass, uint8_t(LIBUSB_CLASS_HID));
    QCOMPARE(alt.bNumEndpoints, uint8_t(2));
    QCOMPARE(alt.endpoint[0].bEndpointAddress, uint8_t(0x81));
    QCOMPARE(alt.endpoint[1].bEndpointAddress, uint8_t(0x02));
    QCOMPARE(alt.endpoint[0].bmAttributes & 3, int(LIBUSB_TRANSFER_TYPE_INTERRUPT));
    libusb_free_config_descriptor(cfg);
    libusb_close(h);
}

void TestSimUsb::twoSensorsAndOneThatFailsToOpen()
{
    SimUsbBus bus;
    SensorConfig a = QuietSensor();
    a.name = {{'A', 'A', 'A', 'A'}};
    SensorConfig b = QuietSensor();
    b.name = {{'B', 'B', 'B', 'B'}};
    SimUsbOptions broken;
    broken.failsOpen = true;
    QVERIFY(bus.AddSensor(a));
    QVERIFY(bus.AddSensor(QuietSensor(), broken));
    QVERIFY(bus.AddSensor(b));

    // As the program does: one enumeration, open whatever matches.
    Usb usb;
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(usb.ctx, &list);
    QString names;
    QList<int> failures;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d{};
        libusb_get_device_descriptor(list[i], &d);
        if (d.idVendor != 0xFFF1 || d.idProduct != 0xFFF2)
            continue;
        libusb_device_handle* h = nullptr;
        const int r = libusb_open(list[i], &h);
        if (r != 0) {
            failures << r;
            continue;
        }
        QCOMPARE(libusb_claim_interface(h, 0), 0);
        QCOMPARE(Write(h, TestRequest(0xA6)), 20);
        uint8_t buf[20];
        QVERIFY(ReadType(h, 0xA6, buf));
        names += QChar(buf[9]);
        libusb_close(h);
    }
    libusb_free_device_list(list, 1);
    QCOMPARE(failures, QList<int>{LIBUSB_ERROR_IO});
    std::sort(names.begin(), names.end());
    QCOMPARE(names, QString("AB"));
    QCOMPARE(usb.Count(0xFFF1, 0xFFF2), 3);   // still listed after the failed open
}

void TestSimUsb::hidHeldDeviceNeedsDetach()
{
    SimUsbBus bus;
    SimUsbOptions held;
    held.heldByHid = true;
    SimUsbDevice* s = bus.AddSensor(QuietSensor(), held);
    QVERIFY(s);
    Usb usb;
    libusb_device_handle* h = usb.Open(0xFFF1, 0xFFF2);
    QVERIFY(h);
    QCOMPARE(libusb_kernel_driver_active(h, 0), 1);
    QCOMPARE(libusb_claim_interface(h, 0), int(LIBUSB_ERROR_BUSY));

    QCOMPARE(libusb_set_auto_detach_kernel_driver(h, 1), 0);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    QVERIFY(s->IsClaimed());
    QCOMPARE(s->Detaches(), 1);
    QCOMPARE(libusb_kernel_driver_active(h, 0), 0);
    QCOMPARE(Write(h, TestRequest(0xA6)), 20);
    uint8_t buf[20];
    QVERIFY(ReadType(h, 0xA6, buf));

    // Releasing with auto-detach hands the interface back to the HID driver.
    QCOMPARE(libusb_release_interface(h, 0), 0);
    QVERIFY(!s->IsClaimed());
    QVERIFY(s->KernelDriverBound());
    libusb_close(h);
}

void TestSimUsb::inTimeoutShowsOnTheWire()
{
    SimUsbBus bus;
    SimUsbDevice* s = bus.AddSensor(QuietSensor());
    Usb usb;
    libusb_device_handle* h = usb.Open(0xFFF1, 0xFFF2);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    uint8_t buf[20];
    std::memset(buf, 0x55, sizeof(buf));
    const int64_t startUs = SimUsbDevice::NowUs();
    QCOMPARE(Read(h, buf, 10), int(LIBUSB_ERROR_TIMEOUT));
    const double hostMs = (SimUsbDevice::NowUs() - startUs) / 1000.0;
    const std::vector<SimUsbTransfer> in = s->Transfers(0x81);
    QCOMPARE(int(in.size()), 1);
    QCOMPARE(in[0].outcome, SimUsbTransfer::Outcome::Discarded);
    QCOMPARE(in[0].length, 20);
    // The device hears of the submit a little after the host made it (later on a busy machine),
    // and of the discard before the host's call returns.
    QVERIFY2(hostMs >= 9.5 && in[0].WaitedMs() > 0 && in[0].WaitedMs() <= hostMs,
             qPrintable(QString("%1 of %2 ms").arg(in[0].WaitedMs()).arg(hostMs)));
    libusb_close(h);
}

void TestSimUsb::heldWriteTimesOut()
{
    SimUsbBus bus;
    SimUsbDevice* s = bus.AddSensor(QuietSensor());
    s->SetHoldOut(true);
    Usb usb;
    libusb_device_handle* h = usb.Open(0xFFF1, 0xFFF2);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    const int64_t startUs = SimUsbDevice::NowUs();
    QCOMPARE(Write(h, TestRequest(0xA6), 50), int(LIBUSB_ERROR_TIMEOUT));
    const double hostMs = (SimUsbDevice::NowUs() - startUs) / 1000.0;
    const std::vector<SimUsbTransfer> out = s->Transfers(0x02);
    QCOMPARE(int(out.size()), 1);
    QCOMPARE(out[0].outcome, SimUsbTransfer::Outcome::Discarded);
    QVERIFY(hostMs >= 49.5 && out[0].WaitedMs() > 0 && out[0].WaitedMs() <= hostMs);
    QCOMPARE(s->Model()->CountRequests(0xA6), 0);   // a write that never went through

    s->SetHoldOut(false);
    QCOMPARE(Write(h, TestRequest(0xA6)), 20);
    QCOMPARE(s->Model()->CountRequests(0xA6), 1);
    libusb_close(h);
}

void TestSimUsb::measurementsArriveOncePerSecond()
{
    SimUsbBus bus;
    SensorConfig cfg;
    cfg.clockStartMs = 1700000000000;
    cfg.typeCode = 10;   // a two-channel model: a formaldehyde frame follows each reading
    cfg.readings = SimReadingSource::Constant({12.3, 15.0, 0.045});
    SimUsbDevice* s = bus.AddSensor(cfg);
    Usb usb;
    libusb_device_handle* h = usb.Open(0xFFF1, 0xFFF2);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    uint8_t buf[20];
    QCOMPARE(Read(h, buf), 20);
    QCOMPARE(buf[2], uint8_t(0xA5));
    QCOMPARE(buf[3], uint8_t(1));
    QCOMPARE(TestWord(buf, 8), 123);
    QCOMPARE(TestWord(buf, 12), 150);
    QCOMPARE(Read(h, buf), 20);
    QCOMPARE(buf[3], uint8_t(17));
    QCOMPARE(TestWord(buf, 8), 45);
    QCOMPARE(Read(h, buf), int(LIBUSB_ERROR_TIMEOUT));
    s->Model()->Clock().Advance(999);
    QCOMPARE(Read(h, buf), int(LIBUSB_ERROR_TIMEOUT));
    s->Model()->Clock().Advance(1);
    QCOMPARE(Read(h, buf), 20);
    QCOMPARE(buf[3], uint8_t(1));
    libusb_close(h);
}

void TestSimUsb::unplugMidRun()
{
    SimUsbBus bus;
    SimUsbDevice* s = bus.AddSensor(QuietSensor());
    Usb usb;
    libusb_device_handle* h = usb.Open(0xFFF1, 0xFFF2);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);

    // Unplugged while an IN transfer waits: that transfer fails, as does everything after it.
    std::thread unplugger([s] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        s->Unplug();
    });
    uint8_t buf[20];
    const int pending = Read(h, buf, 2000);
    unplugger.join();
    QCOMPARE(pending, int(LIBUSB_ERROR_NO_DEVICE));
    QCOMPARE(s->Transfers(0x81).back().outcome, SimUsbTransfer::Outcome::Failed);
    QCOMPARE(Read(h, buf), int(LIBUSB_ERROR_NO_DEVICE));
    QCOMPARE(Write(h, TestRequest(0xA6)), int(LIBUSB_ERROR_NO_DEVICE));

    bus.Remove(s);
    QCOMPARE(usb.Count(0xFFF1, 0xFFF2), 0);

    // Plugged in again: the old handle stays dead, a fresh enumeration finds the same sensor.
    const int oldNode = s->DevNum();
    QVERIFY2(bus.Replug(s), bus.LastError().c_str());
    QVERIFY(s->DevNum() != oldNode);
    QCOMPARE(Read(h, buf), int(LIBUSB_ERROR_NO_DEVICE));
    libusb_close(h);
    h = usb.Open(0xFFF1, 0xFFF2);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    QCOMPARE(Write(h, TestRequest(0xA6)), 20);
    QVERIFY(ReadType(h, 0xA6, buf));
    QCOMPARE(buf[13], uint8_t(130));
    libusb_close(h);
}

void TestSimUsb::wrongReportNumberIsIgnored()
{
    SimUsbBus bus;
    SimUsbDevice* s = bus.AddSensor(QuietSensor());
    Usb usb;
    libusb_device_handle* h = usb.Open(0xFFF1, 0xFFF2);
    QVERIFY(h);
    QCOMPARE(libusb_claim_interface(h, 0), 0);
    std::array<uint8_t, 20> msg = TestRequest(0xA6);
    msg[0] = 0x00;
    QCOMPARE(Write(h, msg), 20);
    uint8_t buf[20];
    QCOMPARE(Read(h, buf), int(LIBUSB_ERROR_TIMEOUT));
    QCOMPARE(s->Model()->CountRequests(0xA6), 0);
    QCOMPARE(int(s->Transfers(0x02).size()), 1);
    QCOMPARE(s->Transfers(0x02)[0].data[0], uint8_t(0x00));
    libusb_close(h);
}

void TestSimUsb::busLeavesTheSharedTestbed()
{
    SimUsbBus keeper;   // holds the testbed while the other bus comes and goes
    QVERIFY(keeper.AddSensor(QuietSensor(), {0x16C0, 0x05DF}));
    {
        SimUsbBus bus;
        QVERIFY(bus.AddSensor(QuietSensor()));
        Usb usb;
        QCOMPARE(usb.Count(0xFFF1, 0xFFF2), 1);
    }
    Usb usb;
    QCOMPARE(usb.Count(0xFFF1, 0xFFF2), 0);
    QCOMPARE(usb.Count(0x16C0, 0x05DF), 1);
}

QTEST_GUILESS_MAIN(TestSimUsb)
#include "test_simusb.moc"
