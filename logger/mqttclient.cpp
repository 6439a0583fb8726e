#include "mqttclient.h"

#include <QFile>
#include <mosquitto.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <locale.h>

namespace {
constexpr char kSystemCertificates[] = "/etc/ssl/certs";

// Empty when TLS is set up on the client, else why not.
QString SetUpTls(mosquitto* m, const MqttOptions& options)
{
    const QByteArray ca = QFile::encodeName(options.caFile);
    if (!ca.isEmpty()) {
        // libmosquitto says only "invalid arguments" for a CA file it cannot open. The file was
        // readable when the options were read, but the first attempt may come hours later.
        errno = 0;
        FILE* f = fopen(ca.constData(), "r");
        if (!f)
            return QStringLiteral("cannot read %1: %2").arg(options.caFile, Mqtt_ErrnoText(errno));
        fclose(f);
    }
    // Without --mqtt-ca, the system's certificates as a directory rather than
    // MOSQ_OPT_TLS_USE_OS_CERTS: with that option libmosquitto 2.0 refuses every attempt after a
    // failed handshake ("invalid arguments").
    const int rc = mosquitto_tls_set(m, ca.isEmpty() ? nullptr : ca.constData(),
                                     ca.isEmpty() ? kSystemCertificates : nullptr, nullptr, nullptr, nullptr);
    if (rc == MOSQ_ERR_NOT_SUPPORTED)
        return QStringLiteral("this libmosquitto was built without TLS");
    return rc == MOSQ_ERR_SUCCESS ? QString() : Mqtt_ErrorText(rc);
}
} // namespace

MqttClientSetUp Mqtt_NewClient(const MqttOptions& options, const MqttSensor& sensor, void* userdata)
{
    MqttClientSetUp out;
    errno = 0;
    mosquitto* m = mosquitto_new(Mqtt_ClientId(sensor.serial).constData(), true, userdata);
    if (!m) {
        out.failure = QStringLiteral("MQTT: cannot create the client: %1").arg(Mqtt_ErrnoText(errno));
        return out;
    }
    // Publishing from the logger's thread while the network thread runs the loop
    mosquitto_threaded_set(m, true);

    // A failed mosquitto_tls_set leaves the client without TLS: it would connect in plain text
    // and send the user name and password along.
    if (options.tls) {
        const QString reason = SetUpTls(m, options);
        if (!reason.isEmpty()) {
            mosquitto_destroy(m);
            out.failure = Mqtt_TlsFailure(options, reason);
            return out;
        }
    }
    // Connecting anonymously instead would be let in by some brokers, with other rights.
    if (!options.user.isEmpty()) {
        const QByteArray user = options.user.toUtf8();
        const QByteArray password = options.password.toUtf8();
        const int rc = mosquitto_username_pw_set(m, user.constData(), password.isEmpty() ? nullptr : password.constData());
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(m);
            out.failure = QStringLiteral("MQTT: cannot set the user name and password: %1; not connecting without them")
                              .arg(Mqtt_ErrorText(rc));
            return out;
        }
    }
    // Without the last will the readings still go out; only a crash goes unannounced.
    const QByteArray availability = Mqtt_AvailabilityTopic(options, sensor.serial);
    const int rc = mosquitto_will_set(m, availability.constData(), 7, "offline", 1, true);
    if (rc != MOSQ_ERR_SUCCESS)
        out.failure = QStringLiteral("MQTT: cannot set the last will: %1; should the logger die, the sensor "
                                     "stays shown available")
                          .arg(Mqtt_ErrorText(rc));
    out.client = m;
    return out;
}

QString Mqtt_TlsFailure(const MqttOptions& options, const QString& reason)
{
    return QStringLiteral("MQTT: TLS set-up failed: %1; not connecting without it")
        .arg(!reason.isEmpty() ? reason
                               : QStringLiteral("cannot load the certificate authorities from %1")
                                     .arg(options.caFile.isEmpty() ? QLatin1String(kSystemCertificates) : options.caFile));
}

// Without the static buffer of strerror: this runs on the network thread.
QString Mqtt_ErrnoText(int err)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return QString::fromLocal8Bit(strerror_l(err, c));
}

QString Mqtt_Sentence(const char* text, const char* drop)
{
    QString s = QString::fromLatin1(text);
    if (s.startsWith(QLatin1String(drop)))
        s.remove(0, int(strlen(drop)));
    if (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    if (!s.isEmpty())
        s[0] = s[0].toLower();
    return s;
}

QString Mqtt_ErrorText(int rc)
{
    return Mqtt_Sentence(mosquitto_strerror(rc));
}
