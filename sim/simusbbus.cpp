#include "simusbbus.h"

#include "simtestbed.h"

#include <umockdev.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <sstream>

namespace {

// Device, configuration, interface (HID class), HID and the two interrupt endpoints, as the
// hex text of the sysfs "descriptors" attribute that libusb reads.
std::string Descriptors(uint16_t vendor, uint16_t product)
{
    const uint8_t bytes[] = {
        // device: USB 2.0, class per interface, EP0 64 bytes, one configuration, no strings
        18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64,
        uint8_t(vendor & 0xFF), uint8_t(vendor >> 8), uint8_t(product & 0xFF), uint8_t(product >> 8),
        0x00, 0x01, 0, 0, 0, 1,
        // configuration 1: 41 bytes in all, one interface, bus powered, 100 mA
        9, 0x02, 41, 0, 1, 1, 0, 0x80, 50,
        // interface 0: two endpoints, HID class
        9, 0x04, 0, 0, 2, 0x03, 0x00, 0x00, 0,
        // HID 1.10 with one report descriptor of 34 bytes
        9, 0x21, 0x10, 0x01, 0x00, 1, 0x22, 34, 0,
        // endpoint 0x81 IN, interrupt, 64 bytes, every 1 ms
        7, 0x05, 0x81, 0x03, 64, 0, 1,
        // endpoint 0x02 OUT, interrupt, 64 bytes, every 1 ms
        7, 0x05, 0x02, 0x03, 64, 0, 1,
    };
    std::string hex;
    char b[3];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof(b), "%02X", v);
        hex += b;
    }
    return hex;
}

} // namespace

SimUsbBus::SimUsbBus()
    : m_Testbed(SimTestbed::Acquire())
{
}

SimUsbBus::~SimUsbBus()
{
    // Handlers go first so that no ioctl reaches a device being destroyed; the devices leave the
    // testbed, which may live on for a serial bridge.
    for (auto& d : m_Devices) {
        d->Detach();
        if (!d->m_Removed)
            m_Testbed->RemoveDevice(d->SysPath());
        m_Testbed->KeepAlive(d->m_Core);
        for (auto& core : d->m_Retired)
            m_Testbed->KeepAlive(core);
    }
    m_Devices.clear();
}

SimUsbDevice* SimUsbBus::AddSensor(const SensorConfig& config, const SimUsbOptions& options)
{
    return Add(options, std::make_unique<SensorModel>(config));
}

SimUsbDevice* SimUsbBus::AddDevice(const SimUsbOptions& options)
{
    return Add(options, nullptr);
}

SimUsbDevice* SimUsbBus::Add(const SimUsbOptions& options, std::unique_ptr<SensorModel> model)
{
    auto device = std::make_unique<SimUsbDevice>(options, std::move(model));
    if (!Plug(device.get()))
        return nullptr;
    m_Devices.push_back(std::move(device));
    return m_Devices.back().get();
}

bool SimUsbBus::Replug(SimUsbDevice* device)
{
    if (!device)
        return false;
    Remove(device);
    device->Renew();
    return Plug(device);
}

bool SimUsbBus::Plug(SimUsbDevice* device)
{
    const SimUsbOptions& options = device->Options();
    // Device numbers stay unique within the process, also across buses; a device plugged in
    // again gets a new one, as from the kernel.
    const int devNum = 2 + SimTestbed::NextSerial() % 120;
    char name[32];
    std::snprintf(name, sizeof(name), "1-%d", devNum);
    char ids[32];
    std::snprintf(ids, sizeof(ids), "%04x", options.vendorId);
    const std::string vid = ids;
    std::snprintf(ids, sizeof(ids), "%04x", options.productId);
    const std::string pid = ids;
    char num[8];
    std::snprintf(num, sizeof(num), "%03d", devNum);

    const std::string sysPath = std::string("/devices/pci0000:00/0000:00:14.0/usb1/") + name;
    // The handler is in place before the entry appears: a program that hears the "add" uevent
    // may open the device at once.
    if (!device->Attach(m_Testbed->Get(), sysPath, devNum, &m_LastError))
        return false;
    std::ostringstream s;
    s << "P: " << sysPath << "\n";
    // The N: line makes the /dev node (a device that fails to open gets a directory there).
    s << "N: bus/usb/001/" << num << (options.failsOpen ? "=00" : "") << "\n";
    s << "E: DEVNAME=/dev/bus/usb/001/" << num << "\n"
      << "E: SUBSYSTEM=usb\n"
      << "E: DEVTYPE=usb_device\n"
      << "E: DRIVER=usb\n"
      << "E: BUSNUM=001\n"
      << "E: DEVNUM=" << num << "\n"
      << "E: ID_VENDOR_ID=" << vid << "\n"
      << "E: ID_MODEL_ID=" << pid << "\n"
      << "A: busnum=1\\n\n"
      << "A: devnum=" << devNum << "\\n\n"
      << "A: speed=12\\n\n"
      << "A: bConfigurationValue=1\\n\n"
      << "A: bNumConfigurations=1\\n\n"
      << "A: idVendor=" << vid << "\\n\n"
      << "A: idProduct=" << pid << "\\n\n"
      << "H: descriptors=" << Descriptors(options.vendorId, options.productId) << "\n";
    if (!m_Testbed->AddFromString(s.str(), &m_LastError))
        return false;

    if (options.failsOpen) {
        // Opening a directory fails with EISDIR, which libusb reports as an I/O error; the
        // device stays listed, as one does whose node cannot be opened.
        const std::string node = m_Testbed->RootDir() + "/dev/bus/usb/001/" + num;
        if (unlink(node.c_str()) != 0 || mkdir(node.c_str(), 0755) != 0) {
            m_LastError = "cannot replace " + node;
            m_Testbed->RemoveDevice(sysPath);
            return false;
        }
    }
    device->m_Removed = false;
    return true;
}

void SimUsbBus::Remove(SimUsbDevice* device)
{
    if (!device)
        return;
    device->Unplug();
    if (!device->m_Removed)
        m_Testbed->RemoveDevice(device->SysPath());   // libusb's hotplug monitor hears of it
    device->m_Removed = true;
}
