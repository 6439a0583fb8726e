#pragma once
// What the logger publishes over MQTT: topics and payloads, as pure functions (no broker, no
// locale: numbers always carry a decimal point).
//
//   <prefix>/<serial>/state          {"time":"2026-12-08T09:00:01+01:00","pm2_5":12.3,"pm10":20.1,
//                                     "formaldehyde":0.012,"model":"LV51"}   (not retained)
//   <prefix>/<serial>/availability   online | offline                        (retained)
//   <ha-prefix>/sensor/<serial>_<quantity>/config   Home Assistant discovery (retained)
#include "loggerreading.h"
#include "mqttoptions.h"

#include <QByteArray>
#include <QVector>

// The sensor as it identified itself: what the discovery configs describe.
struct MqttSensor {
    QByteArray serial; // twelve lowercase hex digits
    QByteArray model;  // "LV51"
    GasKind gas = GasKind::None;
    bool hasPm10 = true;
};

struct MqttMessage {
    QByteArray topic;
    QByteArray payload;
};

QByteArray Mqtt_StateTopic(const MqttOptions& o, const QByteArray& serial);
QByteArray Mqtt_AvailabilityTopic(const MqttOptions& o, const QByteArray& serial);
// Home Assistant announces its restart here with "online".
QByteArray Mqtt_HaStatusTopic(const MqttOptions& o);
// "vostral-logger-<serial>": stable, so the broker replaces a dead session of the same logger.
QByteArray Mqtt_ClientId(const QByteArray& serial);

// One reading as the state object: only the quantities it carries, PM with one decimal and the
// gas in mg/m3 with three (as the day files), "readings" when it is the mean of several.
QByteArray Mqtt_StatePayload(const LoggerReading& r);

// One discovery config per quantity the sensor measures (PM2.5, PM10 if any, its gas if any).
QVector<MqttMessage> Mqtt_DiscoveryConfigs(const MqttOptions& o, const MqttSensor& sensor);
