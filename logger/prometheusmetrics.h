#pragma once
// What a Prometheus scrape of the logger shows: the state the sink keeps, and that state as
// text in the exposition format 0.0.4. Pure functions on a plain record, called on the logger's
// main thread (and by the tests, without any server).
//
// Prometheus stamps each sample with the time of its scrape, so only what is current is shown:
// the quantities of the last live reading while the sensor is there. History values and readings
// that waited for the clock are old news; a lost sensor shows vostral_sensor_up 0 and no
// quantities, with the counters under its last labels. A reading of another sensor (serial)
// starts its series, counters included, from zero.
#include "loggerreading.h"
#include "readingsink.h"

#include <QByteArray>
#include <cstdint>

struct PrometheusState {
    bool found = false;   // a sensor identified itself: serial and model label the samples
    bool up = false;      // and it is there now
    QByteArray serial;
    QByteArray model;
    bool hasPm10 = false;
    bool current = false; // `last` is a live reading of the sensor as it is now
    LoggerReading last;
    int64_t lastTimeMs = -1; // wall clock of the newest live reading, -1 before the first
    int64_t readings = 0;    // live readings recorded (held ones too; one per --interval mean)
    int64_t framesRefused = 0;
    int64_t losses = 0;
};

void Prometheus_Found(PrometheusState* state, const SensorInfo& sensor);
void Prometheus_Reading(PrometheusState* state, const LoggerReading& r);
void Prometheus_Lost(PrometheusState* state);

// The whole answer to GET /metrics, every line ending in "\n".
QByteArray Prometheus_Text(const PrometheusState& state);
