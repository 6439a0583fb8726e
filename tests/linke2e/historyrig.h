#pragma once
// A history download rig: one simulated sensor on the emulated USB bus or behind the serial
// bridge, the program's codec identified by it, and one stepped clock for both.
#include "e2erig.h"
#include "simserialbridge.h"
#include "simusbbus.h"

#include <functional>
#include <memory>

enum class E2eLink { Usb, Serial };

class HistoryRig {
public:
    // Members go in reverse: the codec, then the device, then the clock the device reads.
    SharedClock clock;
    std::unique_ptr<SimUsbBus> bus;
    std::unique_ptr<SimSerialBridge> bridge;
    SimUsbDevice* usb = nullptr;
    SensorModel* model = nullptr;
    SCodeUsb codec;
    // Runs on every wait of the program, before the serial link's real-time wait.
    std::function<void()> onWait;

    // Plugs the sensor in, opens it the way the window does and waits for its identity.
    bool Open(E2eLink link, const SensorConfig& config);
    // The sensor's memory now.
    std::vector<SimHistoryValue> Memory() const { return model->History(); }
};
