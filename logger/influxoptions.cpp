#include "influxoptions.h"

#include "secretfile.h"

#include <QFile>
#include <QUrl>
#include <QUrlQuery>

namespace {
const QString kUrl = QStringLiteral("influx");
const QString kTokenFile = QStringLiteral("influx-token-file");
const QString kUser = QStringLiteral("influx-user");
const QString kPasswordFile = QStringLiteral("influx-password-file");

bool HasControl(const QString& text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

// The URL is never echoed in a message: someone may have put a password into it.
bool ReadUrl(const QString& text, InfluxOptions* out, QString* error)
{
    const QString usage = QStringLiteral("--influx takes http(s)://HOST[:PORT]/write?db=DATABASE "
                                         "(the InfluxDB 1.x write API, which 2.x and 3.x also take)");
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || !url.path().endsWith(QLatin1String("/write")) || url.hasFragment()) {
        *error = usage;
        return false;
    }
    const QUrlQuery query(url);
    if (!url.userInfo().isEmpty() || query.hasQueryItem(QStringLiteral("u")) || query.hasQueryItem(QStringLiteral("p"))) {
        *error = QStringLiteral("--influx: no user, password or token in the URL; use --influx-token-file, or "
                                "--influx-user and --influx-password-file");
        return false;
    }
    if (query.queryItemValue(QStringLiteral("db")).isEmpty()) {
        *error = QStringLiteral("--influx: the URL needs the database: ...?db=DATABASE");
        return false;
    }
    // The points carry nanoseconds: any other precision would put them decades off.
    const QString precision = query.queryItemValue(QStringLiteral("precision"));
    if (!precision.isEmpty() && precision != QLatin1String("ns") && precision != QLatin1String("n")) {
        *error = QStringLiteral("--influx: the logger writes nanoseconds: precision=ns or none");
        return false;
    }
    const int port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    if (port < 1) {
        *error = QStringLiteral("--influx: the port must be 1 to 65535");
        return false;
    }
    out->url = url.toString(QUrl::FullyEncoded);
    out->server = QStringLiteral("%1:%2").arg(url.host()).arg(port);
    return true;
}
} // namespace

bool Influx_ReadSecretFile(const QString& option, const QString& path, QString* secret, QString* error)
{
    QString text, why;
    if (!Secret_ReadFirstLine(path, &text, &why)) {
        *error = QStringLiteral("--%1: %2").arg(option, why);
        return false;
    }
    if (text.isEmpty() || HasControl(text)) {
        *error = QStringLiteral("--%1: the first line of %2 must hold it, without control characters").arg(option, path);
        return false;
    }
    *secret = text;
    return true;
}

void Influx_AddOptions(QCommandLineParser* parser)
{
    // No option carries a token or password itself: every user of the machine can read a
    // process's command line.
    parser->addOptions({
        {kUrl, QStringLiteral("Write every recorded line, the downloaded history too, to InfluxDB at URL:\n"
                              "http(s)://HOST[:PORT]/write?db=DATABASE (the 1.x write API; 2.x and 3.x take it too)."),
         QStringLiteral("URL")},
        {kTokenFile, QStringLiteral("Send the token on the first line of FILE (Authorization: Token)."), QStringLiteral("FILE")},
        {kUser, QStringLiteral("User name at InfluxDB (HTTP basic authentication), with --influx-password-file."),
         QStringLiteral("NAME")},
        {kPasswordFile, QStringLiteral("Read the InfluxDB password from the first line of FILE."), QStringLiteral("FILE")},
    });
}

bool Influx_ReadOptions(const QCommandLineParser& parser, InfluxOptions* out, QString* error)
{
    InfluxOptions o;
    o.enabled = parser.isSet(kUrl);
    if (!o.enabled) {
        for (const QString& name : {kTokenFile, kUser, kPasswordFile})
            if (parser.isSet(name)) {
                *error = QStringLiteral("--%1 needs --influx URL").arg(name);
                return false;
            }
        *out = o;
        return true;
    }
#ifndef VOSTRAL_INFLUX
    *error = QStringLiteral("--influx: this vostral-logger was built without libcurl, so without InfluxDB");
    return false;
#endif
    if (!ReadUrl(parser.value(kUrl), &o, error))
        return false;
    if (parser.isSet(kTokenFile) && (parser.isSet(kUser) || parser.isSet(kPasswordFile))) {
        *error = QStringLiteral("--influx-token-file or --influx-user with --influx-password-file: one of the two");
        return false;
    }
    if (parser.isSet(kUser) != parser.isSet(kPasswordFile)) {
        *error = QStringLiteral("--influx-user and --influx-password-file go together");
        return false;
    }
    if (parser.isSet(kTokenFile)) {
        o.tokenFile = parser.value(kTokenFile);
        if (!Influx_ReadSecretFile(kTokenFile, o.tokenFile, &o.token, error))
            return false;
    }
    if (parser.isSet(kUser)) {
        o.user = parser.value(kUser);
        // Basic authentication joins name and password with a colon
        if (o.user.isEmpty() || o.user.contains(QLatin1Char(':')) || HasControl(o.user)) {
            *error = QStringLiteral("--influx-user: a name without colons or control characters");
            return false;
        }
        o.passwordFile = parser.value(kPasswordFile);
        if (!Influx_ReadSecretFile(kPasswordFile, o.passwordFile, &o.password, error))
            return false;
    }
    *out = o;
    return true;
}
