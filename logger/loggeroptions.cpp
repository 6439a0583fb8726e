#include "loggeroptions.h"

#include <QCommandLineParser>
#include <algorithm>
#include <QDir>
#include <QProcessEnvironment>

namespace {
// A whole number in [min, max], or false.
bool ReadInt(const QString& text, int min, int max, int* out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

bool IsHex(const QString& text)
{
    for (QChar c : text) {
        if (!c.isDigit() && !(c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')))
            return false;
    }
    return !text.isEmpty();
}
} // namespace

QString Logger_DefaultOutDir()
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString base = env.value(QStringLiteral("XDG_DATA_HOME"));
    // XDG base directories: a relative path is invalid and is ignored.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/vostral-monitor/log");
}

LoggerParse Logger_ParseOptions(const QStringList& arguments, LoggerOptions* out, QString* message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Records the readings of a Vostral air-quality sensor around the clock: one CSV file per\n"
        "day and a record file per run that the monitor's File > Open shows."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Shows the version."));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Where to look for the sensor: auto (USB, then the serial bridge), usb or serial."),
                                  QStringLiteral("auto|usb|serial"), QStringLiteral("auto"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Record the sensor with this serial number (when several are plugged in)."),
                                    QStringLiteral("SERIAL"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("The serial bridge's port, e.g. ttyUSB0."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Record the mean of each N-second window instead of every reading."),
                                      QStringLiteral("N"));
    const QCommandLineOption outDir(QStringLiteral("out"),
                                    QStringLiteral("Folder of the files (default: %1).").arg(Logger_DefaultOutDir()),
                                    QStringLiteral("DIR"));
    const QCommandLineOption sync(QStringLiteral("sync"),
                                  QStringLiteral("Flush the day file to the disk at least every SECONDS seconds (default 60)."),
                                  QStringLiteral("SECONDS"), QStringLiteral("60"));
    const QCommandLineOption clockWait(
        QStringLiteral("clock-wait"),
        QStringLiteral("Until the system clock is synchronised (NTP), hold the readings for at most SECONDS\n"
                       "seconds and write them with their true times once it is; 0 writes them at once with\n"
                       "the clock as it stands (default 600, at most 21600)."),
        QStringLiteral("SECONDS"), QStringLiteral("600"));
    const QCommandLineOption backfill(QStringLiteral("backfill"),
                                      QStringLiteral("Download the sensor's stored history when it is found and record what is missing."));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Also print every reading."));
    parser.addOptions({help, version, link, device, port, interval, outDir, sync, clockWait, backfill, verbose});
    Mqtt_AddOptions(&parser);
    Prometheus_AddOptions(&parser);
    Influx_AddOptions(&parser);

    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return LoggerParse::Usage;
    }
    if (parser.isSet(help)) {
        *message = parser.helpText();
        return LoggerParse::Help;
    }
    if (parser.isSet(version)) {
        *message = QStringLiteral("vostral-logger " VOSTRAL_VERSION);
        return LoggerParse::Version;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *message = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return LoggerParse::Usage;
    }

    LoggerOptions o;
    const QString linkText = parser.value(link);
    if (linkText == QLatin1String("auto"))
        o.link = LoggerOptions::Link::Auto;
    else if (linkText == QLatin1String("usb"))
        o.link = LoggerOptions::Link::Usb;
    else if (linkText == QLatin1String("serial"))
        o.link = LoggerOptions::Link::Serial;
    else {
        *message = QStringLiteral("--link takes auto, usb or serial, not \"%1\"").arg(linkText);
        return LoggerParse::Usage;
    }
    if (parser.isSet(device)) {
        o.device = parser.value(device).toLower();
        if (!IsHex(o.device) || (o.device.size() != 12 && o.device.size() != 14)) {
            *message = QStringLiteral("--device takes a serial number of 12 hex digits, not \"%1\"").arg(parser.value(device));
            return LoggerParse::Usage;
        }
    }
    if (parser.isSet(port)) {
        o.port = parser.value(port);
        if (o.link == LoggerOptions::Link::Usb) {
            *message = QStringLiteral("--port names a serial port: it does not go with --link usb");
            return LoggerParse::Usage;
        }
        if (o.port.isEmpty()) {
            *message = QStringLiteral("--port needs a port name");
            return LoggerParse::Usage;
        }
    }
    // Up to a day: a window longer than the record file's day makes no sense.
    if (parser.isSet(interval) && !ReadInt(parser.value(interval), 1, 86400, &o.intervalSec)) {
        *message = QStringLiteral("--interval takes whole seconds from 1 to 86400, not \"%1\"").arg(parser.value(interval));
        return LoggerParse::Usage;
    }
    if (!ReadInt(parser.value(sync), 1, 3600, &o.syncSec)) {
        *message = QStringLiteral("--sync takes whole seconds from 1 to 3600, not \"%1\"").arg(parser.value(sync));
        return LoggerParse::Usage;
    }
    // Six hours at most: what the logger can hold in memory at one reading a second.
    if (!ReadInt(parser.value(clockWait), 0, 21600, &o.clockWaitSec)) {
        *message = QStringLiteral("--clock-wait takes whole seconds from 0 to 21600, not \"%1\"").arg(parser.value(clockWait));
        return LoggerParse::Usage;
    }
    o.outDir = parser.isSet(outDir) ? parser.value(outDir) : Logger_DefaultOutDir();
    if (o.outDir.isEmpty()) {
        *message = QStringLiteral("--out needs a folder");
        return LoggerParse::Usage;
    }
    o.backfill = parser.isSet(backfill);
    o.verbose = parser.isSet(verbose);
    QString mqttError;
    if (!Mqtt_ReadOptions(parser, &o.mqtt, &mqttError)) {
        *message = mqttError;
        return LoggerParse::Usage;
    }
    // A state message comes every reading, or every --interval: two missed ones make it stale.
    o.mqtt.expireAfterSec = std::max(60, 2 * o.intervalSec + 30);
    if (!Prometheus_ReadOptions(parser, &o.prometheus, message))
        return LoggerParse::Usage;
    QString influxError;
    if (!Influx_ReadOptions(parser, &o.influx, &influxError)) {
        *message = influxError;
        return LoggerParse::Usage;
    }
    *out = o;
    return LoggerParse::Run;
}
