#pragma once
// One recorded reading of the logger: what one line of a day file holds.
#include <QByteArray>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

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

// A quantity a reading carries, under the name every output gives it ("pm2_5", "pm10",
// "formaldehyde", "tvoc"), with the decimals of the day files: PM in tenths, the gas in
// thousandths.
struct ReadingQuantity {
    const char* key;
    double value;
    int decimals;
};

// The quantities the reading carries, in that order; absent ones are left out.
inline std::vector<ReadingQuantity> Reading_Quantities(const LoggerReading& r)
{
    std::vector<ReadingQuantity> out;
    if (Reading_Has(r.pm25))
        out.push_back({"pm2_5", r.pm25, 1});
    if (Reading_Has(r.pm10))
        out.push_back({"pm10", r.pm10, 1});
    if (Reading_Has(r.gas) && r.gasKind != GasKind::None)
        out.push_back({r.gasKind == GasKind::Tvoc ? "tvoc" : "formaldehyde", r.gas, 3});
    return out;
}
