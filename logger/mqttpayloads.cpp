#include "mqttpayloads.h"

#include "csvformat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#ifndef VOSTRAL_VERSION
#define VOSTRAL_VERSION "unknown"
#endif
#ifndef VOSTRAL_SUPPORT_URL
#define VOSTRAL_SUPPORT_URL ""
#endif

namespace {
// A JSON string literal, escaped as JSON wants (a model name is plain ASCII, but a broken
// identity frame must not be able to break the payload).
QByteArray JsonString(const QByteArray& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{QString::fromLatin1(text)}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

void AppendNumber(QByteArray& out, const char* key, double value, int decimals)
{
    // JSON has no NaN or infinity; such a value is left out like an absent quantity.
    if (!std::isfinite(value) || std::fabs(value) >= 1e9)
        return;
    out += ",\"";
    out += key;
    out += "\":";
    out += QByteArray::number(value, 'f', decimals); // always a decimal point, whatever the locale
}

struct Quantity {
    const char* key;          // in the state object, and the last part of the object id
    const char* name;         // the entity's name in Home Assistant, after the device's
    const char* unit;
    const char* deviceClass;  // nullptr: Home Assistant has none for it
    const char* valueTemplate;
};

// Home Assistant's volatile_organic_compounds class takes ug/m3; the state carries mg/m3 as the
// sensor and the day files do, so the template converts.
const Quantity kPm25 = {"pm2_5", "PM2.5", "\xc2\xb5g/m\xc2\xb3", "pm25", "{{ value_json.pm2_5 }}"};
const Quantity kPm10 = {"pm10", "PM10", "\xc2\xb5g/m\xc2\xb3", "pm10", "{{ value_json.pm10 }}"};
const Quantity kFormaldehyde = {"formaldehyde", "Formaldehyde", "mg/m\xc2\xb3", nullptr,
                                "{{ value_json.formaldehyde }}"};
const Quantity kTvoc = {"tvoc", "TVOC", "\xc2\xb5g/m\xc2\xb3", "volatile_organic_compounds",
                        "{{ (value_json.tvoc * 1000) | round(0) }}"};
} // namespace

QByteArray Mqtt_StateTopic(const MqttOptions& o, const QByteArray& serial)
{
    return o.prefix.toUtf8() + '/' + serial + "/state";
}

QByteArray Mqtt_AvailabilityTopic(const MqttOptions& o, const QByteArray& serial)
{
    return o.prefix.toUtf8() + '/' + serial + "/availability";
}

QByteArray Mqtt_HaStatusTopic(const MqttOptions& o)
{
    return o.haPrefix.toUtf8() + "/status";
}

QByteArray Mqtt_ClientId(const QByteArray& serial)
{
    return "vostral-logger-" + serial;
}

QByteArray Mqtt_StatePayload(const LoggerReading& r)
{
    QByteArray out;
    out.reserve(128);
    out += "{\"time\":\"";
    out += Csv_Time(r.timeMs);
    out += '"';
    for (const ReadingQuantity& q : Reading_Quantities(r))
        AppendNumber(out, q.key, q.value, q.decimals);
    if (r.readings > 1)
        out += ",\"readings\":" + QByteArray::number(r.readings);
    out += ",\"model\":" + JsonString(r.model) + '}';
    return out;
}

QVector<MqttMessage> Mqtt_DiscoveryConfigs(const MqttOptions& o, const MqttSensor& sensor)
{
    QVector<const Quantity*> quantities{&kPm25};
    if (sensor.hasPm10)
        quantities.append(&kPm10);
    if (sensor.gas == GasKind::Formaldehyde)
        quantities.append(&kFormaldehyde);
    else if (sensor.gas == GasKind::Tvoc)
        quantities.append(&kTvoc);

    const QString serial = QString::fromLatin1(sensor.serial);
    const QString model = QString::fromLatin1(sensor.model);
    const QJsonObject device{
        {"identifiers", QJsonArray{QStringLiteral("vostral_") + serial}},
        {"name", QStringLiteral("Vostral %1 %2").arg(model, serial)},
        {"model", model},
        {"manufacturer", "Vostral"},
        {"sw_version", VOSTRAL_VERSION},
    };
    // Who sent the config: Home Assistant shows it and logs it with any problem it has with it.
    const QJsonObject origin{{"name", "vostral-logger"}, {"sw", VOSTRAL_VERSION}, {"url", VOSTRAL_SUPPORT_URL}};
    QVector<MqttMessage> configs;
    for (const Quantity* q : quantities) {
        const QString objectId = serial + '_' + QLatin1String(q->key);
        QJsonObject config{
            {"name", QString::fromUtf8(q->name)},
            {"unique_id", QStringLiteral("vostral_") + objectId},
            // The entity id Home Assistant gives it (object_id is deprecated since 2025.10).
            {"default_entity_id", QStringLiteral("sensor.vostral_") + objectId},
            {"state_topic", QString::fromUtf8(Mqtt_StateTopic(o, sensor.serial))},
            {"value_template", QString::fromUtf8(q->valueTemplate)},
            {"unit_of_measurement", QString::fromUtf8(q->unit)},
            {"state_class", "measurement"},
            {"availability_topic", QString::fromUtf8(Mqtt_AvailabilityTopic(o, sensor.serial))},
            {"payload_available", "online"},
            {"payload_not_available", "offline"},
            {"device", device},
            {"o", origin},
            // A logger that hangs stops sending: the entity shows unavailable after a minute.
            {"expire_after", o.expireAfterSec},
        };
        if (q->deviceClass)
            config.insert("device_class", QString::fromUtf8(q->deviceClass));
        configs.append({o.haPrefix.toUtf8() + "/sensor/" + objectId.toUtf8() + "/config",
                        QJsonDocument(config).toJson(QJsonDocument::Compact)});
    }
    return configs;
}
