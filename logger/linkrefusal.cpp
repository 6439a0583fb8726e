#include "linkrefusal.h"

#include <QFile>
#include <cerrno>
#include <grp.h>
#include <libusb.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
QString UsbNode(uint8_t bus, uint8_t address)
{
    return QStringLiteral("/dev/bus/usb/%1/%2").arg(bus, 3, 10, QLatin1Char('0')).arg(address, 3, 10, QLatin1Char('0'));
}

// The udev rules give the USB sensors to this group where no seat grants access.
const QString kUsbGroup = QStringLiteral("plugdev");
const QString kSerialGroup = QStringLiteral("dialout");
} // namespace

LinkRefusal Refusal_OfUsb(const LibUsbIO& usb)
{
    LinkRefusal busy, denied;
    const auto note = [&](int error, uint8_t bus, uint8_t address) {
        LinkRefusal* r = error == LIBUSB_ERROR_BUSY ? &busy : error == LIBUSB_ERROR_ACCESS ? &denied : nullptr;
        if (!r || r->kind != LinkRefusal::None)
            return; // other errors refuse nothing; the first node of each kind is named
        r->kind = r == &busy ? LinkRefusal::Busy : LinkRefusal::Denied;
        const QString node = UsbNode(bus, address);
        r->where = QStringLiteral("on USB (%1)").arg(node);
        if (r == &denied)
            r->group = Refusal_NodeGroup(node, kUsbGroup);
    };
    for (const TAG_T_SDeviceInfo& d : usb.m_Devices) {
        if (d.m_hDevice && d.m_Claimed)
            return LinkRefusal(); // a sensor to read; the others do not matter
        if (d.m_hDevice)
            note(d.m_ClaimError, d.m_Bus, d.m_Address);
    }
    for (const TAG_T_SUsbOpenFailure& f : usb.m_OpenFailures)
        note(f.m_Error, f.m_Bus, f.m_Address);
    // A holder that lets go ends the wait; a permission does not change by waiting.
    return busy.kind != LinkRefusal::None ? busy : denied;
}

LinkRefusal Refusal_OfSerial(QSerialPort::SerialPortError error, const QString& portName)
{
    LinkRefusal r;
    if (error != QSerialPort::PermissionError || portName.isEmpty())
        return r;
    // Qt's own rule for a port name: a path is taken as it is, a bare name lives in /dev.
    const QString node = portName.startsWith(QLatin1Char('/')) || portName.startsWith(QLatin1Char('.'))
                             ? portName
                             : QStringLiteral("/dev/") + portName;
    r.where = QStringLiteral("on serial port %1").arg(portName);
    if (::access(QFile::encodeName(node).constData(), R_OK | W_OK) == 0) {
        r.kind = LinkRefusal::Busy;
    } else if (errno == EACCES || errno == EPERM) {
        r.kind = LinkRefusal::Denied;
        r.group = Refusal_NodeGroup(node, kSerialGroup);
    }
    return r;
}

QString Refusal_NodeGroup(const QString& node, const QString& fallback)
{
    struct stat st {};
    if (::stat(QFile::encodeName(node).constData(), &st) != 0 || st.st_gid == 0)
        return fallback;
    group entry {};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->gr_name)
        return fallback;
    return QString::fromLocal8Bit(found->gr_name);
}
