#include "mqttsink.h"

MqttSink::MqttSink(const MqttOptions& options, Say say) : m_Publisher(options, std::move(say)) {}

void MqttSink::SensorFound(const SensorInfo& sensor)
{
    m_HasPm10 = sensor.hasPm10;
    m_Online = false;
    // Without a gas channel the discovery configs are known now; a gas model's first reading
    // tells formaldehyde from TVOC.
    if (!sensor.hasGas) {
        m_Publisher.SensorOnline(sensor.serial, sensor.model, GasKind::None, sensor.hasPm10);
        m_Online = true;
    }
}

void MqttSink::Reading(const LoggerReading& r)
{
    if (r.history || r.held)
        return;
    if (!m_Online) {
        m_Publisher.SensorOnline(r.serial, r.model, r.gasKind, m_HasPm10);
        m_Online = true;
    }
    m_Publisher.Publish(r);
}

void MqttSink::SensorLost()
{
    m_Publisher.SensorOffline();
}

void MqttSink::Stop()
{
    m_Publisher.Stop();
}
