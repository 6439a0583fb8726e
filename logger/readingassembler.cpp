#include "readingassembler.h"

ReadingAssembler::ReadingAssembler(bool expectGas) : m_ExpectGas(expectGas) {}

void ReadingAssembler::SetSensor(const QByteArray& model, const QByteArray& serial, bool expectGas)
{
    m_Model = model;
    m_Serial = serial;
    m_ExpectGas = expectGas;
}

LoggerReading ReadingAssembler::NewReading(int64_t nowMs, std::vector<LoggerReading>* out)
{
    if (m_HavePending)
        out->push_back(m_Pending); // its gas frame never came
    m_HavePending = false;
    LoggerReading r;
    r.monoMs = nowMs;
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
        out->push_back(r);
        return;
    }
    m_Pending = r;
    m_HavePending = true;
}

void ReadingAssembler::AddGas(int64_t nowMs, double gas, GasKind kind, std::vector<LoggerReading>* out)
{
    if (m_HavePending && nowMs - m_Pending.monoMs <= kGasWaitMs) {
        m_Pending.gas = gas;
        m_Pending.gasKind = kind;
        m_HavePending = false;
        out->push_back(m_Pending);
        return;
    }
    // A gas frame on its own is a reading of its own.
    LoggerReading r = NewReading(nowMs, out);
    r.gas = gas;
    r.gasKind = kind;
    out->push_back(r);
}

void ReadingAssembler::Tick(int64_t nowMs, std::vector<LoggerReading>* out)
{
    if (m_HavePending && nowMs - m_Pending.monoMs > kGasWaitMs) {
        m_HavePending = false;
        out->push_back(m_Pending);
    }
}

void ReadingAssembler::Flush(std::vector<LoggerReading>* out)
{
    if (m_HavePending)
        out->push_back(m_Pending);
    m_HavePending = false;
}
