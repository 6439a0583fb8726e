// A tiny program for the launcher tests: finds the sensor the way the monitor does (libusb by
// ids, or Qt's serial port discovery by ids), asks for its identity and prints it; or reads for
// MS ms and prints the PM2.5 word of every particulate frame that arrived.
//   sim_child usb-identify | usb-hang | serial-identify | count | read-usb MS | read-serial MS
// Exits 42 when the identity arrived, 3 when it did not, 4 when no device was found.
#include "simtesthelpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <libusb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

libusb_device_handle* OpenUsb(libusb_context* ctx)
{
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    libusb_device_handle* h = nullptr;
    for (ssize_t i = 0; i < n && !h; ++i) {
        libusb_device_descriptor d{};
        libusb_get_device_descriptor(list[i], &d);
        if (d.idVendor == 0xFFF1 && d.idProduct == 0xFFF2 && libusb_open(list[i], &h) != 0)
            h = nullptr;
    }
    libusb_free_device_list(list, 1);
    return h;
}

int UsbIdentify(bool hang)
{
    libusb_context* ctx = nullptr;
    libusb_init(&ctx);
    libusb_device_handle* h = OpenUsb(ctx);
    if (!h)
        return 4;
    libusb_set_auto_detach_kernel_driver(h, 1);
    libusb_claim_interface(h, 0);
    uint8_t buf[20];
    int done = 0;
    if (hang) {
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;)
            libusb_interrupt_transfer(h, 0x81, buf, 20, &done, 10000);
    }
    std::array<uint8_t, 20> req = TestRequest(0xA6);
    libusb_interrupt_transfer(h, 0x02, req.data(), 20, &done, 200);
    int rc = 3;
    for (int i = 0; i < 300 && rc != 42; ++i) {
        if (libusb_interrupt_transfer(h, 0x81, buf, 20, &done, 10) == 0 && done == 20 && buf[2] == 0xA6) {
            std::printf("name=%.4s type=%d\n", reinterpret_cast<const char*>(buf + 9), buf[13]);
            rc = 42;
        }
    }
    libusb_release_interface(h, 0);
    libusb_close(h);
    libusb_exit(ctx);
    return rc;
}

int SerialIdentify()
{
    QString name;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        if (info.vendorIdentifier() == 0x1A86 && info.productIdentifier() == 0x7523 && name.isEmpty())
            name = info.portName();
    if (name.isEmpty())
        return 4;
    QSerialPort port(name);
    if (!port.open(QIODevice::ReadWrite))
        return 4;
    std::array<uint8_t, 20> req = TestRequest(0xA6);
    port.write(reinterpret_cast<const char*>(req.data()) + 1, 19);
    QByteArray got;
    for (int i = 0; i < 100; ++i) {
        port.waitForReadyRead(20);
        got += port.readAll();
        const int at = got.indexOf(QByteArray("\xAA\xA6", 2));
        if (at >= 0 && got.size() >= at + 19) {
            std::printf("name=%s type=%d\n", got.mid(at + 8, 4).constData(), uint8_t(got[at + 12]));
            return 42;
        }
    }
    return 3;
}

int Read(bool usb, int ms)
{
    QElapsedTimer t;
    t.start();
    libusb_context* ctx = nullptr;
    libusb_device_handle* h = nullptr;
    QSerialPort port;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        if (info.vendorIdentifier() == 0x1A86)
            port.setPort(info);
    if (usb ? libusb_init(&ctx) != 0 || !(h = OpenUsb(ctx)) || libusb_claim_interface(h, 0) != 0
            : !port.open(QIODevice::ReadOnly))
        return 4;
    QByteArray got;
    for (uint8_t buf[20]; t.elapsed() < ms;) {
        int done = 0;   // a transfer that timed out may still have brought a frame
        if (usb && (libusb_interrupt_transfer(h, 0x81, buf, 20, &done, 50), done == 20))
            got.append(reinterpret_cast<const char*>(buf) + 1, 19);
        if (!usb && port.waitForReadyRead(50))
            got += port.readAll();
    }
    const auto* f = reinterpret_cast<const uint8_t*>(got.constData());
    for (int i = got.indexOf('\xAA'); i >= 0 && i + 19 <= got.size(); i = got.indexOf('\xAA', i + 1))
        if (f[i + 1] == 0xA5 && f[i + 2] != 17 && f[i + 2] != 33 && f[i + 18] == 0xAB)
            std::printf("%d ", f[i + 7] | f[i + 8] << 8);
    return 0;
}

int Count()
{
    libusb_context* ctx = nullptr;
    libusb_init(&ctx);
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    // Built-in ports of the machine may show through; only USB bridges count here.
    int bridges = 0;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        bridges += info.hasVendorIdentifier() && info.vendorIdentifier() != 0;
    std::printf("usb=%d serial=%d\n", int(n), bridges);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const char* mode = argc > 1 ? argv[1] : "";
    int rc = 2;
    if (!std::strcmp(mode, "usb-identify"))
        rc = UsbIdentify(false);
    else if (!std::strcmp(mode, "usb-hang"))
        rc = UsbIdentify(true);
    else if (!std::strcmp(mode, "serial-identify"))
        rc = SerialIdentify();
    else if (!std::strcmp(mode, "count"))
        rc = Count();
    else if (!std::strncmp(mode, "read-", 5) && argc > 2)
        rc = Read(!std::strcmp(mode, "read-usb"), std::atoi(argv[2]));
    std::fflush(stdout);
    return rc;
}
