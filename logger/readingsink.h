#pragma once
// Where the logger's readings go: the day files, the run's record files, an MQTT broker, a
// Prometheus scrape, an InfluxDB. The logger hands every sink the same events in the same
// order and keeps no output's rules of its own; each sink decides what it takes (MQTT and
// Prometheus want only what is current, the day files and InfluxDB everything).
//
// Every call comes from the logger's main thread. Times: LoggerReading::timeMs is wall-clock
// (already corrected, see ClockKeeper); the monoMs given to Poll is the monotonic clock, which
// a sink uses for its own timing (syncs, retries, batching).
#include "loggerreading.h"

#include <QByteArray>
#include <QString>
#include <functional>

// The sensor as it identified itself.
struct SensorInfo {
    QByteArray serial; // twelve lowercase hex digits
    QByteArray model;  // "LV51"
    int typeCode = -1;
    bool hasPm10 = false;
    bool hasGas = false; // formaldehyde or TVOC: the first reading with gas tells which
    QString where;       // "on USB", "on serial port ttyUSB0"
};

class ReadingSink {
public:
    // One line for the log (stderr, the journal), said by the sink itself.
    using Say = std::function<void(const QString&)>;

    virtual ~ReadingSink() = default;

    // Before the first event: false with *error when the sink cannot work at all (a port
    // already in use), which ends the program with exit code 1.
    virtual bool Open(QString* error) { (void)error; return true; }
    virtual void SensorFound(const SensorInfo& sensor) { (void)sensor; }
    // A recorded reading: live (r.history false; r.held when it waited for the clock and is not
    // current any more) or a value of the sensor's stored history (r.history true, old times).
    virtual void Reading(const LoggerReading& r) = 0;
    // The readings before and after do not belong to one run: the sensor was lost, or the wall
    // clock was stepped.
    virtual void RunEnds() {}
    virtual void SensorLost() {}
    // Frames from the sensor that could not be decoded since the last call.
    virtual void FramesRefused(int count) { (void)count; }
    // Every poll (200 ms), on the monotonic clock: time for a sink's own syncs and retries.
    virtual void Poll(int64_t monoMs) { (void)monoMs; }
    // SIGHUP: files reopened (log rotation), record files of the running run written.
    virtual void Reopen() {}
    // The program ends: everything out that can go out, within a second or two.
    virtual void Stop() {}
};
