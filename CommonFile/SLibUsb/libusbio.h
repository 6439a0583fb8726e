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
    // What opening found. A device whose claim failed is kept open all the same (the window reads
    // nothing from it then); a caller that needs the interface to itself looks here.
    bool m_Claimed = false;  // interface 0 is ours
    int m_ClaimError = 0;    // libusb_claim_interface's result: LIBUSB_ERROR_BUSY, another program holds it
    int m_ConfigError = 0;   // libusb_set_configuration's: BUSY also while the HID driver is still bound
    uint8_t m_Bus = 0;       // bus and device numbers: /dev/bus/usb/BBB/DDD
    uint8_t m_Address = 0;
};

// A sensor that was listed but could not be opened (no entry in m_Devices).
struct TAG_T_SUsbOpenFailure {
    int m_Error = 0; // libusb_open's result: LIBUSB_ERROR_ACCESS when the node is not writable for us
    uint8_t m_Bus = 0;
    uint8_t m_Address = 0;
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
    // The sensors of the last OpenDevices() that libusb_open refused.
    QVector<TAG_T_SUsbOpenFailure> m_OpenFailures;
    TAG_T_SUsbId m_UsbIds[2];
    libusb_context* m_Context = nullptr;
    int m_Opened = 0;
};
