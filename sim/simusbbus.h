#pragma once
// An emulated USB bus with simulated sensors on it (umockdev). While it exists, every libusb
// call of this process (under LD_PRELOAD=libumockdev-preload.so.0) and of the children it starts
// sees these devices and nothing else.
//
//   SimUsbBus bus;
//   SimUsbDevice* s = bus.AddSensor(cfg);                      // 0xFFF1/0xFFF2
//   bus.AddSensor(cfg, {0x16C0, 0x05DF});                      // the other identity
//   bus.AddDevice({0x16C0, 0xFFF2});                           // not a sensor
//   ... run libusb code ...
//   s->Model()->Requests(); s->Transfers(0x81); s->Unplug();
#include "simusbdevice.h"

#include <memory>
#include <string>
#include <vector>

class SimTestbed;

class SimUsbBus {
public:
    SimUsbBus();
    ~SimUsbBus();
    SimUsbBus(const SimUsbBus&) = delete;
    SimUsbBus& operator=(const SimUsbBus&) = delete;

    // A simulated sensor; null (with LastError) when the testbed refused the device.
    SimUsbDevice* AddSensor(const SensorConfig& config = {}, const SimUsbOptions& options = {});
    // A device that is no sensor: it takes writes and never sends anything.
    SimUsbDevice* AddDevice(const SimUsbOptions& options);

    // Takes the device off the bus (as Unplug, and its sysfs entry and node disappear).
    void Remove(SimUsbDevice* device);
    // Plugs the device in again (removing it first if it is still there): the same sensor, its
    // history and serial number, with a new device number; the program finds it by enumerating
    // or through the "add" uevent. Handles opened before keep failing. False with LastError.
    bool Replug(SimUsbDevice* device);

    const std::vector<std::unique_ptr<SimUsbDevice>>& Devices() const { return m_Devices; }
    std::string LastError() const { return m_LastError; }

private:
    SimUsbDevice* Add(const SimUsbOptions& options, std::unique_ptr<SensorModel> model);
    bool Plug(SimUsbDevice* device);   // its sysfs entry, node and handler

    std::shared_ptr<SimTestbed> m_Testbed;
    std::vector<std::unique_ptr<SimUsbDevice>> m_Devices;
    std::string m_LastError;
};
