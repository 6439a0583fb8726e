#pragma once
// One libmosquitto client for one connection attempt, with its last will, user name and TLS set
// up, and the error texts of libmosquitto and the system as the logger's messages show them.
//
// A client is made afresh for each attempt rather than kept: libmosquitto keeps the TLS context
// of a connection that worked, so a kept client would never read the CA file again (a CA taken
// out of it would still be trusted), and after some failures it refuses every later attempt.
#include "mqttoptions.h"
#include "mqttpayloads.h"

#include <QString>

struct mosquitto;

struct MqttClientSetUp {
    mosquitto* client = nullptr; // null: do not connect; failure says why
    QString failure;             // a line for stderr, or empty; never carries the password
};

// Never returns a client that would connect without TLS when options.tls is set.
MqttClientSetUp Mqtt_NewClient(const MqttOptions& options, const MqttSensor& sensor, void* userdata);
// "MQTT: TLS set-up failed: REASON; not connecting without it". Without a reason: the
// certificate authorities could not be loaded (libmosquitto loads them when it connects).
QString Mqtt_TlsFailure(const MqttOptions& options, const QString& reason);

// The system's text for an error number, in English whatever the locale.
QString Mqtt_ErrnoText(int err);
// "Connection Refused: not authorised." -> "not authorised"
QString Mqtt_Sentence(const char* text, const char* drop = "Connection Refused: ");
// libmosquitto's text for one of its error codes, as a sentence.
QString Mqtt_ErrorText(int rc);
