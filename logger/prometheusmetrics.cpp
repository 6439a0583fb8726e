// Numbers go through QByteArray::number, which always writes a decimal point, with the day
// files' decimals: a value Prometheus stores is the value of a line of the day file.
#include "prometheusmetrics.h"

#include <QString>
#include <cmath>

namespace {
// Prometheus refuses a whole scrape over one label value that is not UTF-8: bytes that are not
// become U+FFFD. Backslash, double quote and line feed are escaped, as the format says.
QByteArray LabelValue(const QByteArray& raw)
{
    const QByteArray utf8 = QString::fromUtf8(raw).toUtf8();
    QByteArray out;
    for (char c : utf8) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void Family(QByteArray& out, const char* name, const char* type, const char* help)
{
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

void Sample(QByteArray& out, const char* name, const QByteArray& labels, const QByteArray& value)
{
    out += name + labels + ' ' + value + '\n';
}

// What the day files would not write (non-finite, negative, absurd) is not shown either.
bool Shown(double value)
{
    return std::isfinite(value) && value >= 0 && value < 1e9;
}
} // namespace

void Prometheus_Found(PrometheusState* state, const SensorInfo& sensor)
{
    if (state->found && sensor.serial != state->serial)
        *state = PrometheusState(); // another sensor: series of its own, from zero
    state->found = true;
    state->up = true;
    state->serial = sensor.serial;
    state->model = sensor.model;
    state->hasPm10 = sensor.hasPm10;
}

void Prometheus_Reading(PrometheusState* state, const LoggerReading& r)
{
    if (r.history)
        return;
    ++state->readings;
    if (r.held)
        return;
    state->lastTimeMs = r.timeMs;
    // A reading recorded once the sensor was lost (the last one, flushed) is its last news,
    // but not a value of the present, nor once the sensor is back.
    if (!state->up)
        return;
    state->last = r;
    state->current = true;
}

void Prometheus_Lost(PrometheusState* state)
{
    if (!state->up)
        return;
    state->up = false;
    state->current = false;
    ++state->losses;
}

QByteArray Prometheus_Text(const PrometheusState& s)
{
    const QByteArray labels = s.found ? "{serial=\"" + LabelValue(s.serial) + "\",model=\"" + LabelValue(s.model) + "\"}" : QByteArray();
    const LoggerReading& r = s.last;
    const bool show = s.up && s.current;
    struct Quantity {
        const char* name;
        const char* help;
        double value;
        int decimals;
    };
    const double absent = LoggerReading::kAbsent;
    const Quantity quantities[] = {
        {"vostral_pm2_5_micrograms_per_cubic_meter", "PM2.5 of the last live reading.", r.pm25, 1},
        {"vostral_pm10_micrograms_per_cubic_meter", "PM10 of the last live reading.", s.hasPm10 ? r.pm10 : absent, 1},
        {"vostral_formaldehyde_milligrams_per_cubic_meter", "Formaldehyde of the last live reading.",
         r.gasKind == GasKind::Formaldehyde ? r.gas : absent, 3},
        {"vostral_tvoc_milligrams_per_cubic_meter", "TVOC of the last live reading.", r.gasKind == GasKind::Tvoc ? r.gas : absent, 3},
    };

    QByteArray out;
    out.reserve(2048);
    Family(out, "vostral_sensor_up", "gauge", "1 while the sensor is connected, 0 while it is lost or not found yet.");
    Sample(out, "vostral_sensor_up", labels, s.up ? "1" : "0");
    for (const Quantity& q : quantities) {
        Family(out, q.name, "gauge", q.help);
        if (show && Shown(q.value))
            Sample(out, q.name, labels, QByteArray::number(q.value, 'f', q.decimals));
    }
    Family(out, "vostral_last_reading_timestamp_seconds", "gauge",
           "Wall-clock time of the last live reading, seconds since 1970-01-01 UTC.");
    if (s.found && s.lastTimeMs >= 0)
        Sample(out, "vostral_last_reading_timestamp_seconds", labels, QByteArray::number(double(s.lastTimeMs) / 1000.0, 'f', 3));
    const struct {
        const char* name;
        const char* help;
        int64_t value;
    } counters[] = {
        {"vostral_readings_total", "Live readings recorded (an --interval mean counts once).", s.readings},
        {"vostral_frames_refused_total", "Frames from the sensor that could not be decoded.", s.framesRefused},
        {"vostral_sensor_losses_total", "Times the sensor was lost: unplugged, hung up or silent.", s.losses},
    };
    for (const auto& c : counters) {
        Family(out, c.name, "counter", c.help);
        if (s.found)
            Sample(out, c.name, labels, QByteArray::number(qlonglong(c.value)));
    }
    return out;
}
