#pragma once
// The MQTT options of the logger (--mqtt and the rest). Without --mqtt nothing is published.
#include <QCommandLineParser>
#include <QString>

struct MqttOptions {
    bool enabled = false;     // --mqtt was given
    QString host;
    int port = 1883;
    bool tls = false;         // mqtts://
    QString caFile;           // --mqtt-ca
    QString user;             // --mqtt-user
    QString password;         // --mqtt-password-file, $VOSTRAL_MQTT_PASSWORD or the systemd credential; never printed
    QString prefix = QStringLiteral("vostral");
    int qos = 0;
    bool haDiscovery = true;
    QString haPrefix = QStringLiteral("homeassistant");
    // Home Assistant shows the sensor unavailable after this long without a state message.
    int expireAfterSec = 60;
};

// Adds the MQTT options to the logger's parser.
void Mqtt_AddOptions(QCommandLineParser* parser);
// Reads them after parsing. false with *error for a usage error (exit code 2).
bool Mqtt_ReadOptions(const QCommandLineParser& parser, MqttOptions* out, QString* error);
