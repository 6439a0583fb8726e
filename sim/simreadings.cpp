#include "simreadings.h"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <sstream>

namespace {

uint16_t ScaleClamp(double value, double factor)
{
    const double v = std::round(value * factor);
    if (!(v > 0))   // also catches NaN
        return 0;
    return v >= 65535.0 ? 65535 : uint16_t(v);
}

// Cheap stateless noise in [-1, 1] so that At() needs no history.
double Noise(uint32_t seed, int64_t i)
{
    uint64_t x = uint64_t(i) * 0x9E3779B97F4A7C15ull ^ (uint64_t(seed) << 32 | seed);
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    x ^= x >> 33;
    return double(x % 2001) / 1000.0 - 1.0;
}

bool ParseNumbers(const std::string& text, char sep, std::vector<double>* out)
{
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, sep)) {
        // from_chars ignores the process locale: the decimal point is always '.'
        double v = 0;
        const char* begin = item.data();
        const char* end = begin + item.size();
        const auto res = std::from_chars(begin, end, v);
        if (res.ec != std::errc() || res.ptr != end || !std::isfinite(v))
            return false;
        out->push_back(v);
    }
    return !out->empty();
}

SimReading FromList(const std::vector<double>& v)
{
    SimReading r;
    r.pm25 = v[0];
    r.pm10 = v.size() > 1 ? v[1] : v[0] * 1.3;
    r.gas = v.size() > 2 ? v[2] : 0.0;
    return r;
}

} // namespace

SimScaledReading SimScale(const SimReading& r)
{
    return {ScaleClamp(r.pm25, 10), ScaleClamp(r.pm10, 10), ScaleClamp(r.gas, 1000)};
}

SimReadingSource SimReadingSource::Constant(SimReading r)
{
    SimReadingSource s;
    s.m_Mode = Mode::Constant;
    s.m_Start = r;
    return s;
}

SimReadingSource SimReadingSource::Ramp(SimReading start, SimReading step, int64_t period)
{
    SimReadingSource s;
    s.m_Mode = Mode::Ramp;
    s.m_Start = start;
    s.m_Step = step;
    s.m_Period = std::max<int64_t>(0, period);
    return s;
}

SimReadingSource SimReadingSource::Script(std::vector<SimReading> list)
{
    SimReadingSource s;
    s.m_Mode = Mode::Script;
    s.m_Script = std::move(list);
    return s;
}

SimReadingSource SimReadingSource::Plausible(uint32_t seed)
{
    SimReadingSource s;
    s.m_Mode = Mode::Plausible;
    s.m_Seed = seed;
    return s;
}

SimReading SimReadingSource::At(int64_t index) const
{
    switch (m_Mode) {
    case Mode::Constant:
        return m_Start;
    case Mode::Ramp: {
        const double k = double(m_Period > 0 ? ((index % m_Period) + m_Period) % m_Period : index);
        return {m_Start.pm25 + k * m_Step.pm25, m_Start.pm10 + k * m_Step.pm10,
                m_Start.gas + k * m_Step.gas};
    }
    case Mode::Script: {
        if (m_Script.empty())
            return {};
        const int64_t n = int64_t(m_Script.size());
        return m_Script[size_t(((index % n) + n) % n)];
    }
    case Mode::Plausible: {
        const double t = double(index);
        const double pi2 = 2.0 * M_PI;
        // Slow drift over about an hour, a faster swell, and noise.
        double pm25 = 52.5 + 28.0 * std::sin(pi2 * t / 3600.0 + m_Seed)
                      + 6.0 * std::sin(pi2 * t / 613.0) + 2.5 * Noise(m_Seed, index);
        pm25 = std::clamp(pm25, 15.0, 90.0);
        const double pm10 = pm25 * (1.3 + 0.04 * Noise(m_Seed + 1, index));
        const double gas = std::clamp(0.02 + (pm25 - 15.0) / 75.0 * 0.09
                                          + 0.008 * Noise(m_Seed + 2, index), 0.02, 0.12);
        return {pm25, pm10, gas};
    }
    }
    return {};
}

bool SimReadingSource::Parse(const std::string& text, SimReadingSource* out)
{
    const size_t colon = text.find(':');
    const std::string mode = text.substr(0, colon);
    const std::string args = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    std::vector<double> v;
    if (mode == "plausible") {
        if (args.empty()) {
            *out = Plausible();
            return true;
        }
        if (!ParseNumbers(args, ',', &v) || v.size() != 1 || v[0] < 0 || v[0] > 4294967295.0)
            return false;
        *out = Plausible(uint32_t(v[0]));
        return true;
    }
    if (mode == "constant") {
        if (!ParseNumbers(args, ',', &v) || v.size() > 3)
            return false;
        *out = Constant(FromList(v));
        return true;
    }
    if (mode == "ramp") {
        if (!ParseNumbers(args, ',', &v) || v.size() < 2 || v.size() > 3)
            return false;
        const SimReading start{v[0], v[0] * 1.3, 0.02};
        const SimReading step{v[1], v[1] * 1.3, 0.0};
        *out = Ramp(start, step, v.size() > 2 ? int64_t(v[2]) : 0);
        return true;
    }
    if (mode == "script") {
        std::vector<SimReading> list;
        std::stringstream ss(args);
        std::string item;
        while (std::getline(ss, item, ';')) {
            std::vector<double> one;
            if (!ParseNumbers(item, '/', &one) || one.size() > 3)
                return false;
            list.push_back(FromList(one));
        }
        if (list.empty())
            return false;
        *out = Script(std::move(list));
        return true;
    }
    return false;
}
