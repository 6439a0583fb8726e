#pragma once
// USB transport: finds the sensor among the USB devices, opens it, and moves fixed-size
// 20-byte messages to and from it with synchronous interrupt transfers (libusb-1.0).
// It knows nothing about the meaning of the bytes; SCodeUsb builds and decodes them.
#include <QByteArray>
#include <QVector>
#include <cstdint>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

// One opened device.
struct TAG_T_SDeviceInfo {
    libusb_device_handle* m_hDevice = nullptr; // null for a serial-linked device entry
    QByteArray m_Name;                         // device name text, filled by the codec
    QByteArray m_SN;                           // serial number text, filled by the codec
    bool m_Gone = false;                       // a transfer found the device unplugged
};

struct TAG_T_SUsbId {
    uint16_t vendor;
    uint16_t product;
};

class LibUsbIO {
public:
    enum {
        kMessageLength = 20,
        kEndpointIn = 0x81,
        kEndpointOut = 0x02,
        kReadTimeoutMs = 10,
        kWriteTimeoutMs = 200,
    };

    LibUsbIO();
    ~LibUsbIO();
    LibUsbIO(const LibUsbIO&) = delete;
    LibUsbIO& operator=(const LibUsbIO&) = delete;

    // Enumerates, opens every matching device; returns the number of entries in m_Devices.
    int OpenDevices();
    // Examines the i-th enumerated device and opens it if its identity matches.
    bool OpenOneDevice(int i, libusb_device** list);
    bool IsDeviceReady(int index) const;
    // True once a transfer to the device reported that it is no longer on the bus.
    bool IsDeviceGone(int index) const;
    // Number of bytes received, 0 when nothing was received or the call was refused.
    int ReadData(int index, unsigned char* buffer, int length);
    // Sends one 20-byte message; the outcome is not reported.
    void WriteData(int index, const unsigned char* message);
    void CloseDevices();
    // Closes every device but the one at index, which becomes index 0: a program that serves one
    // sensor leaves the others free for another program. false (nothing closed) for a bad index.
    bool KeepOnly(int index);
    int DeviceCount() const { return m_Devices.size(); }

    QVector<TAG_T_SDeviceInfo> m_Devices;
    TAG_T_SUsbId m_UsbIds[2];
    libusb_context* m_Context = nullptr;
    int m_Opened = 0;
};
