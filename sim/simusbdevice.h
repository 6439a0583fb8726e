#pragma once
// One device on the emulated USB bus: usbfs as libusb 1.0.26 drives it, answered from a
// SensorModel (or from nothing, for a device that is not a sensor).
//
// The device has configuration 1 and interface 0 (HID class) with interrupt endpoints 0x81 IN
// and 0x02 OUT. A host write is 20 bytes, byte 0 the report number 0x02 and bytes 1..19 the
// frame; anything else is recorded and ignored. An IN transfer stays pending until the device has
// a frame to send and then receives 20 bytes: the report number 0x01 and the frame.
// Every transfer is recorded with its submit time and, for one the host gave up on, how long it
// waited (that is how a host time-out shows on the wire).
#include "sensormodel.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SimUsbOptions {
    uint16_t vendorId = 0xFFF1;
    uint16_t productId = 0xFFF2;
    bool failsOpen = false;   // listed on the bus, but opening its node fails
    bool heldByHid = false;   // the kernel's HID driver holds interface 0 until detached
};

struct SimUsbTransfer {
    enum class Outcome { Pending, Completed, Discarded, Failed, Abandoned };
    uint8_t endpoint = 0;
    int length = 0;                 // the host's buffer length
    std::vector<uint8_t> data;      // OUT: bytes sent; IN: bytes delivered
    int64_t submitUs = 0;           // steady clock, microseconds
    int64_t endUs = 0;              // completion, discard or failure
    Outcome outcome = Outcome::Pending;

    // How long the transfer was pending (for an IN the host discarded: its time-out).
    double WaitedMs() const { return endUs > submitUs ? double(endUs - submitUs) / 1000.0 : 0.0; }
};

class SimUsbDevice {
public:
    SimUsbDevice(const SimUsbOptions& options, std::unique_ptr<SensorModel> model);
    ~SimUsbDevice();
    SimUsbDevice(const SimUsbDevice&) = delete;
    SimUsbDevice& operator=(const SimUsbDevice&) = delete;

    // Null for a device that is not a sensor.
    SensorModel* Model() const { return m_Model.get(); }
    const SimUsbOptions& Options() const { return m_Options; }
    int DevNum() const { return m_DevNum; }
    std::string DevNode() const;    // /dev/bus/usb/001/NNN
    std::string SysPath() const { return m_SysPath; }

    // Pending transfers fail (the host sees LIBUSB_ERROR_NO_DEVICE), later ones fail with ENODEV
    // and the device disappears from the bus.
    void Unplug();
    bool IsUnplugged() const;
    // How often the device came back with SimUsbBus::Replug.
    int Replugs() const { return int(m_Retired.size()); }

    // While set, OUT transfers stay pending until the host discards them (write time-out).
    void SetHoldOut(bool hold);

    std::vector<SimUsbTransfer> Transfers() const;
    std::vector<SimUsbTransfer> Transfers(uint8_t endpoint) const;
    void ClearTransfers();
    bool IsClaimed() const;
    bool KernelDriverBound() const;
    int Detaches() const;           // how often the HID driver was detached
    int ClientsSeen() const;        // how often the device node was opened

    static int64_t NowUs();

private:
    friend class SimUsbBus;
    struct Core;
    bool Attach(void* testbed, const std::string& sysPath, int devNum, std::string* error);
    // A fresh device state for the next plug-in; the old one keeps failing the handles opened
    // before the unplug, as the kernel does for a device that is gone.
    void Renew();
    void Detach();
    static void DetachCore(Core& core);

    SimUsbOptions m_Options;
    std::unique_ptr<SensorModel> m_Model;
    std::shared_ptr<Core> m_Core;
    std::vector<std::shared_ptr<Core>> m_Retired;
    void* m_Testbed = nullptr;
    std::string m_SysPath;
    int m_DevNum = 0;
    bool m_Removed = false;
};
