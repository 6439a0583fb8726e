#include "readingassembler.h"

namespace {
int64_t WindowStart(int64_t ms, int intervalSec)
{
    const int64_t step = int64_t(intervalSec) * 1000;
    return ms - ((ms % step) + step) % step;
}
} // namespace

ReadingAssembler::ReadingAssembler(int intervalSec, bool expectGas)
    : m_IntervalSec(intervalSec), m_ExpectGas(expectGas)
{
}

void ReadingAssembler::SetSensor(const QByteArray& model, const QByteArray& serial, bool expectGas)
{
    m_Model = model;
    m_Serial = serial;
    m_ExpectGas = expectGas;
}

LoggerReading ReadingAssembler::NewReading(int64_t nowMs, std::vector<LoggerReading>* out)
{
    if (m_HavePending)
        Complete(m_Pending, out); // its gas frame never came
    m_HavePending = false;
    LoggerReading r;
    r.timeMs = nowMs;
    r.model = m_Model;
    r.serial = m_Serial;
    return r;
}

void ReadingAssembler::AddPrimary(int64_t nowMs, double pm25, double pm10, std::vector<LoggerReading>* out)
{
    LoggerReading r = NewReading(nowMs, out);
    r.pm25 = pm25;
    r.pm10 = pm10;
    if (!m_ExpectGas) {
        Complete(r, out);
        return;
    }
    m_Pending = r;
    m_HavePending = true;
}

void ReadingAssembler::AddGas(int64_t nowMs, double gas, GasKind kind, std::vector<LoggerReading>* out)
{
    if (m_HavePending && nowMs - m_Pending.timeMs <= kGasWaitMs) {
        m_Pending.gas = gas;
        m_Pending.gasKind = kind;
        m_HavePending = false;
        Complete(m_Pending, out);
        return;
    }
    // A gas frame on its own is a reading of its own.
    LoggerReading r = NewReading(nowMs, out);
    r.gas = gas;
    r.gasKind = kind;
    Complete(r, out);
}

void ReadingAssembler::Tick(int64_t nowMs, std::vector<LoggerReading>* out)
{
    if (m_HavePending && nowMs - m_Pending.timeMs > kGasWaitMs) {
        m_HavePending = false;
        Complete(m_Pending, out);
    }
    if (m_HaveWindow && nowMs >= m_WindowStartMs + int64_t(m_IntervalSec) * 1000 + kWindowGraceMs)
        EmitWindow(out);
}

void ReadingAssembler::Flush(std::vector<LoggerReading>* out)
{
    if (m_HavePending)
        Complete(m_Pending, out);
    m_HavePending = false;
    if (m_HaveWindow)
        EmitWindow(out);
}

void ReadingAssembler::Complete(const LoggerReading& r, std::vector<LoggerReading>* out)
{
    if (m_IntervalSec <= 0) {
        out->push_back(r);
        return;
    }
    const int64_t start = WindowStart(r.timeMs, m_IntervalSec);
    if (m_HaveWindow && start != m_WindowStartMs)
        EmitWindow(out);
    if (!m_HaveWindow) {
        m_HaveWindow = true;
        m_WindowStartMs = start;
    }
    const double values[3] = {r.pm25, r.pm10, r.gas};
    for (int k = 0; k < 3; ++k) {
        if (Reading_Has(values[k])) {
            m_Sum[k] += values[k];
            ++m_Count[k];
        }
    }
    if (r.gasKind != GasKind::None)
        m_WindowGas = r.gasKind;
    ++m_Readings;
}

void ReadingAssembler::EmitWindow(std::vector<LoggerReading>* out)
{
    LoggerReading mean;
    mean.timeMs = m_WindowStartMs;
    double* fields[3] = {&mean.pm25, &mean.pm10, &mean.gas};
    for (int k = 0; k < 3; ++k) {
        if (m_Count[k] > 0)
            *fields[k] = m_Sum[k] / m_Count[k];
        m_Sum[k] = 0;
        m_Count[k] = 0;
    }
    mean.gasKind = m_WindowGas;
    mean.readings = m_Readings;
    mean.model = m_Model;
    mean.serial = m_Serial;
    m_Readings = 0;
    m_WindowGas = GasKind::None;
    m_HaveWindow = false;
    out->push_back(mean);
}
