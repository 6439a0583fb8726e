#include "libusbio.h"

#include "platformtime.h"

#include <QLoggingCategory>
#include <cstring>
#include <libusb.h>

namespace {
Q_LOGGING_CATEGORY(lcUsb, "vostral.usb", QtInfoMsg)

constexpr int kConfiguration = 1;
constexpr int kInterface = 0;
constexpr unsigned char kReportNumber = 0x02;
} // namespace

LibUsbIO::LibUsbIO() : m_UsbIds{{0xFFF1, 0xFFF2}, {0x16C0, 0x05DF}} {}

LibUsbIO::~LibUsbIO()
{
    // Also when no device matched: the context itself must be released.
    if (m_Opened == 1 || m_Context)
        CloseDevices();
}

int LibUsbIO::OpenDevices()
{
    // Opening twice would leak the first context and its handles.
    if (m_Context)
        CloseDevices();
    m_Devices.clear();
    m_OpenFailures.clear();

    if (libusb_init(&m_Context) != 0) {
        m_Context = nullptr;
        return 0;
    }
    libusb_set_option(m_Context, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);

    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_Context, &list);
    for (ssize_t i = 0; i < count; ++i)
        OpenOneDevice(int(i), list);
    // Open handles keep their devices referenced; the list itself is no longer needed.
    if (list)
        libusb_free_device_list(list, 1);

    Platform_SleepMs(100);
    return m_Devices.size();
}

bool LibUsbIO::OpenOneDevice(int i, libusb_device** list)
{
    if (!list || i < 0 || !list[i])
        return false;
    libusb_device_descriptor desc{};
    libusb_get_device_descriptor(list[i], &desc);

    bool known = false;
    for (const TAG_T_SUsbId& id : m_UsbIds)
        known = known || (desc.idVendor == id.vendor && desc.idProduct == id.product);
    if (!known)
        return false;

    const uint8_t bus = libusb_get_bus_number(list[i]);
    const uint8_t address = libusb_get_device_address(list[i]);
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(list[i], &handle);
    if (opened != 0 || !handle) {
        TAG_T_SUsbOpenFailure failure;
        failure.m_Error = opened != 0 ? opened : int(LIBUSB_ERROR_OTHER);
        failure.m_Bus = bus;
        failure.m_Address = address;
        m_OpenFailures.append(failure);
        return false;
    }
    m_Opened = 1;

    TAG_T_SDeviceInfo info;
    info.m_hDevice = handle;
    info.m_Bus = bus;
    info.m_Address = address;
    // On Linux the HID driver usually holds interface 0; let libusb detach it for the claim and
    // give it back on release. Where this is unsupported the claim is tried anyway.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    info.m_ConfigError = libusb_set_configuration(handle, kConfiguration);
    info.m_ClaimError = libusb_claim_interface(handle, kInterface);
    info.m_Claimed = info.m_ClaimError == 0;
    if (!info.m_Claimed)
        qCDebug(lcUsb) << "device" << bus << address << "interface" << kInterface
                       << "not claimed:" << libusb_error_name(info.m_ClaimError) << "(configuration:"
                       << libusb_error_name(info.m_ConfigError) << ")";
    m_Devices.append(info);
    return true;
}

bool LibUsbIO::IsDeviceReady(int index) const
{
    return m_Context && m_Opened != 0 && index >= 0 && index < m_Devices.size();
}

bool LibUsbIO::IsDeviceGone(int index) const
{
    return index >= 0 && index < m_Devices.size() && m_Devices[index].m_Gone;
}

int LibUsbIO::ReadData(int index, unsigned char* buffer, int length)
{
    if (!IsDeviceReady(index) || !buffer || length <= 0)
        return 0;
    libusb_device_handle* handle = m_Devices[index].m_hDevice;
    if (!handle)
        return 0;
    memset(buffer, 0, size_t(length));

    int transferred = 0;
    const int rc = libusb_interrupt_transfer(handle, kEndpointIn, buffer, length, &transferred,
                                             kReadTimeoutMs);
    if (rc == LIBUSB_ERROR_NO_DEVICE)
        m_Devices[index].m_Gone = true;
    if (rc != 0 || transferred <= 0)
        return 0;

    if (lcUsb().isDebugEnabled()) {
        QByteArray hex;
        for (int k = 0; k < transferred; ++k)
            hex += QByteArray::number(buffer[k], 16).rightJustified(2, '0');
        qCDebug(lcUsb).noquote() << hex;
        qCDebug(lcUsb) << "==============";
    }
    return transferred;
}

void LibUsbIO::WriteData(int index, const unsigned char* message)
{
    if (!IsDeviceReady(index) || !message)
        return;
    libusb_device_handle* handle = m_Devices[index].m_hDevice;
    if (!handle)
        return;
    // libusb wants a writable buffer; every message on the wire is exactly 20 bytes.
    unsigned char out[kMessageLength];
    memcpy(out, message, kMessageLength);
    out[0] = kReportNumber;
    int transferred = 0;
    if (libusb_interrupt_transfer(handle, kEndpointOut, out, kMessageLength, &transferred,
                                  kWriteTimeoutMs)
        == LIBUSB_ERROR_NO_DEVICE)
        m_Devices[index].m_Gone = true;
}

bool LibUsbIO::KeepOnly(int index)
{
    if (!IsDeviceReady(index))
        return false;
    for (int i = 0; i < m_Devices.size(); ++i) {
        libusb_device_handle* handle = m_Devices[i].m_hDevice;
        if (i == index || !handle)
            continue;
        libusb_release_interface(handle, kInterface);
        libusb_close(handle);
    }
    const TAG_T_SDeviceInfo kept = m_Devices[index];
    m_Devices.clear();
    m_Devices.append(kept);
    return true;
}

void LibUsbIO::CloseDevices()
{
    m_Opened = 0;
    if (!m_Context)
        return;
    for (TAG_T_SDeviceInfo& info : m_Devices) {
        if (!info.m_hDevice)
            continue;
        libusb_release_interface(info.m_hDevice, kInterface);
        libusb_close(info.m_hDevice);
        info.m_hDevice = nullptr;
    }
    m_Devices.clear();
    libusb_exit(m_Context);
    m_Context = nullptr;
}
