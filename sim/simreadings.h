#pragma once
// What the simulated sensor measures: a reading for each sample index (one sample per second
// for the live frames, one per 5 minutes for the history memory).
#include <cstdint>
#include <string>
#include <vector>

// One reading in physical units: particulate matter in ug/m3, the gas in mg/m3.
struct SimReading {
    double pm25 = 0;
    double pm10 = 0;
    double gas = 0;
};

// The same reading scaled as the frames carry it: tenths of ug/m3, thousandths of mg/m3,
// clamped to 0..65535.
struct SimScaledReading {
    uint16_t pm25 = 0;
    uint16_t pm10 = 0;
    uint16_t gas = 0;
};
SimScaledReading SimScale(const SimReading& r);

class SimReadingSource {
public:
    enum class Mode { Constant, Ramp, Script, Plausible };

    SimReadingSource() = default;
    static SimReadingSource Constant(SimReading r);
    // start + step * (i mod period); period 0 means no wrap.
    static SimReadingSource Ramp(SimReading start, SimReading step, int64_t period = 0);
    // The readings in turn, starting again after the last one.
    static SimReadingSource Script(std::vector<SimReading> list);
    // An indoor day: PM2.5 drifting between 15 and 90 ug/m3 with noise, PM10 about 1.3 times
    // that, formaldehyde between 0.02 and 0.12 mg/m3. Deterministic for a given seed.
    static SimReadingSource Plausible(uint32_t seed = 1);

    // Parses "constant:PM25[,PM10[,GAS]]", "ramp:START,STEP[,PERIOD]", "plausible[:SEED]" or
    // "script:PM25/PM10/GAS;PM25/PM10/GAS;...". False on anything else.
    static bool Parse(const std::string& text, SimReadingSource* out);

    SimReading At(int64_t index) const;
    Mode GetMode() const { return m_Mode; }

private:
    Mode m_Mode = Mode::Constant;
    SimReading m_Start{35.0, 45.5, 0.05};
    SimReading m_Step{};
    int64_t m_Period = 0;
    std::vector<SimReading> m_Script;
    uint32_t m_Seed = 1;
};
