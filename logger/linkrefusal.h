#pragma once
// Why a sensor that is plugged in could not be taken: another program holds it (the window, a
// second logger, ModemManager, brltty), or this user may not open its device node. Told apart
// from what the link reports, so that the logger can say which it is and what to do about it.
#include "libusbio.h"

#include <QSerialPort>
#include <QString>

struct LinkRefusal {
    enum Kind {
        None,   // nothing refused, or a failure that is neither (the search goes on as before)
        Busy,   // held by another program: it may let go, so the logger tries again
        Denied, // not ours to open: joining `group` (and logging in again) helps
    };
    Kind kind = None;
    QString where; // "on USB (/dev/bus/usb/001/005)", "on serial port ttyUSB0"
    QString group; // Denied: the group that may open the node
};

// After OpenDevices(): None as soon as one device's interface is ours; else Busy when another
// program holds one of them, Denied when one could not be opened or claimed for lack of
// permission.
LinkRefusal Refusal_OfUsb(const LibUsbIO& usb);
// After a failed open of the named port (e.g. "ttyUSB0"). Qt gives PermissionError for a port
// locked by another program (/var/lock/LCK..name) and for one opened exclusively (EBUSY), and
// also for a node we may not open: a node we can read and write means the former.
LinkRefusal Refusal_OfSerial(QSerialPort::SerialPortError error, const QString& portName);
// The group owning the node, or fallback when that is root or cannot be told.
QString Refusal_NodeGroup(const QString& node, const QString& fallback);
