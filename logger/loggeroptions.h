#pragma once
// The logger's command line.
#include "influxoptions.h"
#include "mqttoptions.h"
#include "prometheusoptions.h"

#include <QString>
#include <QStringList>

struct LoggerOptions {
    enum class Link { Auto, Usb, Serial };
    Link link = Link::Auto;
    QString device;       // --device: the sensor with this serial number (hex, any case)
    QString port;         // --port: the serial bridge's port name
    int intervalSec = 0;  // --interval: 0 records every reading, N the mean of each N-second window
    QString outDir;       // --out
    int syncSec = 60;     // --sync: fdatasync at least this often
    int clockWaitSec = 600; // --clock-wait: hold readings this long for a synchronised clock
    bool backfill = false;
    bool verbose = false;
    MqttOptions mqtt;
    PrometheusOptions prometheus;
    InfluxOptions influx;
};

enum class LoggerParse { Run, Help, Version, Usage };

// Parses argv (argv[0] first). Usage: *message says what is wrong (exit code 2). Help and
// Version: *message is the text to print (exit code 0).
LoggerParse Logger_ParseOptions(const QStringList& arguments, LoggerOptions* out, QString* message);

// $XDG_DATA_HOME/vostral-monitor/log, else ~/.local/share/vostral-monitor/log.
QString Logger_DefaultOutDir();
