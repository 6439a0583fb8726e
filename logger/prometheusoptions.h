#pragma once
// The Prometheus option of the logger (--prometheus [ADDR:]PORT). Without it no port is opened.
#include <QCommandLineParser>
#include <QString>

struct PrometheusOptions {
    bool enabled = false; // --prometheus was given
    // A numeric address, IPv6 without its brackets. Loopback unless asked otherwise: the metrics
    // tell anyone who can reach the port when the home is occupied.
    QString address = QStringLiteral("127.0.0.1");
    bool ipv6 = false;
    int port = 0;
};

// How the messages name the listening socket: "127.0.0.1:9101", "[::1]:9101".
QString Prometheus_Endpoint(const PrometheusOptions& options);

// Adds --prometheus to the logger's parser.
void Prometheus_AddOptions(QCommandLineParser* parser);
// Reads it after parsing. false with *error for a usage error (exit code 2).
bool Prometheus_ReadOptions(const QCommandLineParser& parser, PrometheusOptions* out, QString* error);
