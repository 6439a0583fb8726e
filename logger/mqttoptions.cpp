#include "mqttoptions.h"

#include "secretfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <mosquitto.h>

namespace {
const QString kUrl = QStringLiteral("mqtt");
const QString kCa = QStringLiteral("mqtt-ca");
const QString kUser = QStringLiteral("mqtt-user");
const QString kPasswordFile = QStringLiteral("mqtt-password-file");
const QString kPrefix = QStringLiteral("mqtt-prefix");
const QString kQos = QStringLiteral("mqtt-qos");
const QString kDiscovery = QStringLiteral("ha-discovery");
const QString kHaPrefix = QStringLiteral("ha-prefix");
const char kPasswordVariable[] = "VOSTRAL_MQTT_PASSWORD";
// A service started by systemd with LoadCredential=mqtt-password:FILE finds it there, readable by
// the service alone, without the password in its environment.
const char kCredential[] = "mqtt-password";

// A prefix is the first levels of the topics we publish to: publishing to a topic with a
// wildcard is a protocol error, and an empty level at either end makes topics nobody expects.
bool TopicPrefixOk(const QString& prefix)
{
    return !prefix.isEmpty() && !prefix.contains(QLatin1Char('+')) && !prefix.contains(QLatin1Char('#'))
           && !prefix.contains(QChar(0)) && !prefix.startsWith(QLatin1Char('/'))
           && !prefix.endsWith(QLatin1Char('/'));
}

// Text libmosquitto takes in a topic or a user name: valid UTF-8 without control characters
// (U+0000-U+001F, U+007F-U+009F). It would refuse the rest at every publish or connection, hours
// after the start; a bad option is better said at once. Qt decodes argv as UTF-8 even under the C
// locale and turns bytes that are not UTF-8 into U+FFFD, as toUcs4() does a lone surrogate: that
// character is taken for such bytes.
bool MqttTextOk(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return !text.toUcs4().contains(0xFFFD) && mosquitto_validate_utf8(utf8.constData(), utf8.size()) == MOSQ_ERR_SUCCESS;
}

// The URL is never echoed in a message: someone may have put a password in it.
bool ReadUrl(const QString& text, MqttOptions* out, QString* error)
{
    const QString usage = QStringLiteral("--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        *error = usage;
        return false;
    }
    if (!url.userInfo().isEmpty()) {
        *error = QStringLiteral("--mqtt: no user or password in the URL; use --mqtt-user and "
                                "--mqtt-password-file or %1").arg(QLatin1String(kPasswordVariable));
        return false;
    }
    const QString scheme = url.scheme().toLower();
    if ((scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) || url.hasQuery()
        || url.hasFragment() || (!url.path().isEmpty() && url.path() != QLatin1String("/"))) {
        *error = usage;
        return false;
    }
    out->tls = scheme == QLatin1String("mqtts");
    out->port = url.port(out->tls ? 8883 : 1883);
    if (out->port < 1 || out->port > 65535) {
        *error = QStringLiteral("--mqtt: the port must be 1 to 65535");
        return false;
    }
    out->host = url.host();
    return true;
}

// The first line of the file, without its line end. The password itself never goes into a message.
// what: where the file came from, for the message.
bool ReadPasswordFile(const QString& what, const QString& path, QString* password, QString* error)
{
    QString line, why;
    if (!Secret_ReadFirstLine(path, &line, &why)) {
        *error = QStringLiteral("%1: %2").arg(what, why);
        return false;
    }
    if (line.isEmpty()) {
        *error = QStringLiteral("%1: %2 has no password on its first line").arg(what, path);
        return false;
    }
    *password = line;
    return true;
}
} // namespace

void Mqtt_AddOptions(QCommandLineParser* parser)
{
    // There is deliberately no option carrying the password itself: the command line of a
    // process is visible to every user of the machine (ps, /proc/PID/cmdline).
    parser->addOptions({
        {kUrl, QStringLiteral("Publish every reading to the MQTT broker at URL: mqtt://HOST[:PORT] "
                              "(default port 1883) or mqtts://HOST[:PORT] (TLS, default port 8883)."),
         QStringLiteral("URL")},
        {kCa, QStringLiteral("Certificate authorities (PEM) that the mqtts:// broker's certificate is "
                             "checked against (default: the system's)."),
         QStringLiteral("FILE")},
        {kUser, QStringLiteral("User name at the broker."), QStringLiteral("NAME")},
        {kPasswordFile, QStringLiteral("Read the broker password from the first line of FILE (or set "
                                       "the environment variable %1; without either, a systemd "
                                       "service reads its credential %2).")
                            .arg(QLatin1String(kPasswordVariable), QLatin1String(kCredential)),
         QStringLiteral("FILE")},
        {kPrefix, QStringLiteral("First level of the topics: PREFIX/SERIAL/state and "
                                 "PREFIX/SERIAL/availability (default: vostral)."),
         QStringLiteral("PREFIX"), QStringLiteral("vostral")},
        {kQos, QStringLiteral("MQTT quality of service of the readings: 0 or 1 (default: 0)."),
         QStringLiteral("QOS"), QStringLiteral("0")},
        {kDiscovery, QStringLiteral("Announce the sensor to Home Assistant through MQTT discovery: "
                                    "on or off (default: on)."),
         QStringLiteral("on|off"), QStringLiteral("on")},
        {kHaPrefix, QStringLiteral("Home Assistant's discovery prefix (default: homeassistant)."),
         QStringLiteral("PREFIX"), QStringLiteral("homeassistant")},
    });
}

bool Mqtt_ReadOptions(const QCommandLineParser& parser, MqttOptions* out, QString* error)
{
    MqttOptions o;
    o.enabled = parser.isSet(kUrl);
    if (!o.enabled) {
        // An MQTT option without a broker is a mistake worth pointing out, not silently ignored.
        for (const QString& name : {kCa, kUser, kPasswordFile, kPrefix, kQos, kDiscovery, kHaPrefix})
            if (parser.isSet(name)) {
                *error = QStringLiteral("--%1 needs --mqtt URL").arg(name);
                return false;
            }
        *out = o;
        return true;
    }
    if (!ReadUrl(parser.value(kUrl), &o, error))
        return false;

    if (parser.isSet(kCa)) {
        if (!o.tls) {
            *error = QStringLiteral("--mqtt-ca needs an mqtts:// URL");
            return false;
        }
        o.caFile = parser.value(kCa);
        if (!QFileInfo(o.caFile).isReadable()) {
            *error = QStringLiteral("--mqtt-ca: cannot read %1").arg(o.caFile);
            return false;
        }
    }

    o.user = parser.value(kUser);
    if (parser.isSet(kUser) && o.user.isEmpty()) {
        *error = QStringLiteral("--mqtt-user: the name is empty");
        return false;
    }
    if (!MqttTextOk(o.user)) {
        *error = QStringLiteral("--mqtt-user: the name must be UTF-8 text without control characters");
        return false;
    }
    const QString credentials = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    const QString credential = credentials.isEmpty() ? QString() : QDir(credentials).filePath(QLatin1String(kCredential));
    if (parser.isSet(kPasswordFile)) {
        if (!ReadPasswordFile(QStringLiteral("--mqtt-password-file"), parser.value(kPasswordFile), &o.password, error))
            return false;
    } else {
        o.password = qEnvironmentVariable(kPasswordVariable);
        if (o.password.isEmpty() && !credential.isEmpty() && QFileInfo::exists(credential)
            && !ReadPasswordFile(QStringLiteral("the credential %1").arg(QLatin1String(kCredential)), credential,
                                 &o.password, error))
            return false;
    }
    if (!o.password.isEmpty() && o.user.isEmpty()) {
        // MQTT sends a password only along with a user name
        *error = QStringLiteral("a broker password (--mqtt-password-file, %1 or the credential %2) needs --mqtt-user")
                     .arg(QLatin1String(kPasswordVariable), QLatin1String(kCredential));
        return false;
    }

    o.prefix = parser.value(kPrefix);
    o.haPrefix = parser.value(kHaPrefix);
    for (const auto& [name, value] : {std::pair{kPrefix, o.prefix}, std::pair{kHaPrefix, o.haPrefix}}) {
        if (!TopicPrefixOk(value)) {
            *error = QStringLiteral("--%1: a topic prefix must not be empty, contain + or # or "
                                    "begin or end with /").arg(name);
            return false;
        }
        if (!MqttTextOk(value)) {
            *error = QStringLiteral("--%1: a topic prefix must be UTF-8 text without control characters").arg(name);
            return false;
        }
    }

    const QString qos = parser.value(kQos);
    if (qos != QLatin1String("0") && qos != QLatin1String("1")) {
        *error = QStringLiteral("--mqtt-qos takes 0 or 1");
        return false;
    }
    o.qos = qos.toInt();

    const QString discovery = parser.value(kDiscovery);
    if (discovery != QLatin1String("on") && discovery != QLatin1String("off")) {
        *error = QStringLiteral("--ha-discovery takes on or off");
        return false;
    }
    o.haDiscovery = discovery == QLatin1String("on");
    *out = o;
    return true;
}
