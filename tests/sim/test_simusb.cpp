// The emulated USB bus driven through raw libusb calls, as the program drives it.
#include "simtesthelpers.h"
#include "simusbbus.h"

#include <QtTest>
#include <libusb.h>

namespace {

constexpr unsigned kTimeoutIn = 10;
constexpr unsigned kTimeoutOut = 200;

struct Usb {
    libusb_context* ctx = nullptr;
    Usb() { libusb_init(&ctx); }
    ~Usb() { libusb_exit(ctx); }

    // Opens the first device with the ids; null when none matched or opening failed (*openResult).
    libusb_device_handle* Open(uint16_t vid, uint16_t pid, int* openResult = nullptr, int skip = 0)
    {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(ctx, &list);
        libusb_device_handle* h = nullptr;
        for (ssize_t i = 0; i < n && !h; ++i) {
            libusb_device_descriptor d{};
            libusb_get_device_descriptor(list[i], &d);
            if (d.idVendor != vid || d.idProduct != pid || skip-- > 0)
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

QTEST_GUILESS_MAIN(TestSimUsb)
#include "test_simusb.moc"
