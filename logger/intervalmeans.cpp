#include "intervalmeans.h"

namespace {
int64_t WindowStart(int64_t ms, int intervalSec)
{
    const int64_t step = int64_t(intervalSec) * 1000;
    return ms - ((ms % step) + step) % step;
}
} // namespace

IntervalMeans::IntervalMeans(int intervalSec) : m_IntervalSec(intervalSec) {}

void IntervalMeans::Add(const LoggerReading& r, std::vector<LoggerReading>* out)
{
    if (m_IntervalSec <= 0) {
        out->push_back(r);
        return;
    }
    const int64_t start = WindowStart(r.timeMs, m_IntervalSec);
    // Another window, or another sensor: the open one is complete.
    if (m_Open && (start != m_StartMs || r.serial != m_Serial))
        Emit(out);
    if (!m_Open) {
        m_Open = true;
        m_StartMs = start;
        m_Model = r.model;
        m_Serial = r.serial;
    }
    const double values[3] = {r.pm25, r.pm10, r.gas};
    for (int k = 0; k < 3; ++k) {
        if (Reading_Has(values[k])) {
            m_Sum[k] += values[k];
            ++m_Count[k];
        }
    }
    if (r.gasKind != GasKind::None)
        m_Gas = r.gasKind;
    m_Held = m_Held || r.held;
    ++m_Readings;
}

void IntervalMeans::Tick(int64_t nowMs, std::vector<LoggerReading>* out)
{
    if (m_Open && nowMs >= m_StartMs + int64_t(m_IntervalSec) * 1000 + kWindowGraceMs)
        Emit(out);
}

void IntervalMeans::Flush(std::vector<LoggerReading>* out)
{
    if (m_Open)
        Emit(out);
}

void IntervalMeans::Emit(std::vector<LoggerReading>* out)
{
    LoggerReading mean;
    mean.timeMs = m_StartMs;
    double* fields[3] = {&mean.pm25, &mean.pm10, &mean.gas};
    for (int k = 0; k < 3; ++k) {
        if (m_Count[k] > 0)
            *fields[k] = m_Sum[k] / m_Count[k];
        m_Sum[k] = 0;
        m_Count[k] = 0;
    }
    mean.gasKind = m_Gas;
    mean.readings = m_Readings;
    mean.held = m_Held;
    m_Held = false;
    mean.model = m_Model;
    mean.serial = m_Serial;
    m_Readings = 0;
    m_Gas = GasKind::None;
    m_Open = false;
    out->push_back(mean);
}
