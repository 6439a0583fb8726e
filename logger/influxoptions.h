#pragma once
// The InfluxDB options of the logger (--influx and the rest). Without --influx nothing is sent.
#include <QCommandLineParser>
#include <QString>

struct InfluxOptions {
    bool enabled = false;  // --influx was given
    QString url;           // http(s)://HOST[:PORT]/write?db=NAME..., the InfluxDB 1.x write API
    QString server;        // "host:8086", for the messages
    QString tokenFile;     // --influx-token-file: sends "Authorization: Token <token>"
    QString token;         // its first line; never printed
    QString user;          // --influx-user: HTTP basic authentication ...
    QString passwordFile;  // ... with the first line of --influx-password-file
    QString password;      // never printed
};

// Adds the InfluxDB options to the logger's parser.
void Influx_AddOptions(QCommandLineParser* parser);
// Reads them after parsing. false with *error for a usage error (exit code 2); the message never
// carries a token or password.
bool Influx_ReadOptions(const QCommandLineParser& parser, InfluxOptions* out, QString* error);
// The first line of a token or password file (again, after the server refused it: it may have
// been replaced). false with *error when it cannot be read, is empty or holds control characters
// (which would end an HTTP header early).
bool Influx_ReadSecretFile(const QString& option, const QString& path, QString* secret, QString* error);
