#include "historyrig.h"

bool HistoryRig::Open(E2eLink link, const SensorConfig& config)
{
    if (link == E2eLink::Usb) {
        bus = std::make_unique<SimUsbBus>();
        usb = bus->AddSensor(config);
        if (!usb)
            return false;
        model = usb->Model();
    } else {
        bridge = std::make_unique<SimSerialBridge>(config);
        if (!bridge->IsValid())
            return false;
        model = bridge->Model();
    }
    clock.Drive(model);
    clock.onSleep = [this, link](int ms) {
        if (onWait)
            onWait();
        // A pulled bridge leaves the port open but silent: nothing is worth waiting for.
        if (link == E2eLink::Serial && !model->IsUnplugged())
            WaitForSerialInput(codec, ms);
    };
    // No USB sensor: the serial bridge, as the window falls back to it.
    if (codec.OpenDevices() == 0)
        codec.m_Serial.m_LinkFlag = codec.m_Serial.OpenDevicePort();
    codec.AskDeviceInfo();
    if (!PollFor(codec, kResultIdentity) || codec.m_TypeCode != config.typeCode)
        return false;
    // The serial link asks for the serial number as well: that answer is not left in flight.
    return link == E2eLink::Usb || PollFor(codec, kResultSerialNumber);
}
