#pragma once
// One recorded reading of the logger: what one line of a day file holds.
#include <QByteArray>
#include <cmath>
#include <cstdint>
#include <limits>

// The second quantity of a model with a gas channel.
enum class GasKind { None, Formaldehyde, Tvoc };

struct LoggerReading {
    static constexpr double kAbsent = std::numeric_limits<double>::quiet_NaN();

    int64_t timeMs = 0;     // when it arrived (an --interval mean: the start of its window)
    int64_t monoMs = 0;     // when it arrived on the monotonic clock (live readings only)
    double pm25 = kAbsent;  // ug/m3; NaN: the model does not measure it (or it did not arrive)
    double pm10 = kAbsent;  // ug/m3
    double gas = kAbsent;   // mg/m3, formaldehyde or TVOC as gasKind says
    GasKind gasKind = GasKind::None;
    int readings = 1;       // readings that went into it (more than 1 only for --interval means)
    bool history = false;   // a 5-minute value from the sensor's own memory
    bool held = false;      // it waited for the clock to be synchronised: not current news
    bool endsRun = false;   // the sensor was lost after it (while the reading waited for the clock)
    QByteArray model;       // "LV51"
    QByteArray serial;      // twelve lowercase hex digits
};

inline bool Reading_Has(double value)
{
    return !std::isnan(value);
}
