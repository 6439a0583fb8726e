#pragma once
// MQTT as a sink: the sensor's availability and Home Assistant discovery follow the sensor;
// only current readings are published (not the stored history, not readings that waited for
// the clock: a consumer takes a state message for what is measured now).
#include "mqttpublisher.h"
#include "readingsink.h"

class MqttSink : public ReadingSink {
public:
    MqttSink(const MqttOptions& options, Say say);

    void SensorFound(const SensorInfo& sensor) override;
    void Reading(const LoggerReading& r) override;
    void SensorLost() override;
    void Stop() override;

private:
    MqttPublisher m_Publisher;
    bool m_HasPm10 = false;
    bool m_Online = false; // discovery and availability sent for the current find
};
