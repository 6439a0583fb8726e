#include "prometheusoptions.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {
const QString kOption = QStringLiteral("prometheus");

// Digits only (no sign, no blanks, which QString::toInt would let through), 1 to 65535.
bool ReadPort(const QString& text, int* port)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    *port = text.toInt();
    return *port >= 1 && *port <= 65535;
}

// Numeric addresses only: a host name would be looked up once at start, and which of its
// addresses the socket took would be anybody's guess.
bool AddressOk(const QString& address, bool ipv6)
{
    unsigned char bytes[sizeof(in6_addr)];
    return inet_pton(ipv6 ? AF_INET6 : AF_INET, address.toLatin1().constData(), bytes) == 1;
}
} // namespace

QString Prometheus_Endpoint(const PrometheusOptions& options)
{
    const QString address = options.ipv6 ? QLatin1Char('[') + options.address + QLatin1Char(']') : options.address;
    return address + QLatin1Char(':') + QString::number(options.port);
}

void Prometheus_AddOptions(QCommandLineParser* parser)
{
    parser->addOption({kOption,
                       QStringLiteral("Serve the current readings to Prometheus at http://ADDR:PORT/metrics (ADDR: a "
                                      "numeric address, an IPv6 one in brackets; default 127.0.0.1)."),
                       QStringLiteral("[ADDR:]PORT")});
}

bool Prometheus_ReadOptions(const QCommandLineParser& parser, PrometheusOptions* out, QString* error)
{
    PrometheusOptions o;
    o.enabled = parser.isSet(kOption);
    if (!o.enabled) {
        *out = o;
        return true;
    }
#ifndef VOSTRAL_PROMETHEUS
    *error = QStringLiteral("--prometheus: this vostral-logger was built without libmicrohttpd");
    return false;
#endif
    const QString text = parser.value(kOption);
    const QString usage = QStringLiteral("--prometheus takes [ADDR:]PORT, e.g. 9101, 0.0.0.0:9101 or [::1]:9101, not \"%1\"").arg(text);
    QString port = text;
    if (text.startsWith(QLatin1Char('['))) {
        const int end = text.indexOf(QLatin1String("]:"));
        if (end < 0) {
            *error = usage;
            return false;
        }
        o.address = text.mid(1, end - 1);
        o.ipv6 = true;
        port = text.mid(end + 2);
    } else if (text.contains(QLatin1Char(':'))) {
        const int colon = text.lastIndexOf(QLatin1Char(':'));
        o.address = text.left(colon);
        port = text.mid(colon + 1);
        if (o.address.contains(QLatin1Char(':'))) {
            *error = QStringLiteral("--prometheus: an IPv6 address goes in brackets: [%1]:%2").arg(o.address, port);
            return false;
        }
    }
    if (!AddressOk(o.address, o.ipv6) || !ReadPort(port, &o.port)) {
        *error = usage;
        return false;
    }
    *out = o;
    return true;
}
