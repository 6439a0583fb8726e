#pragma once
// Turns the sensor's frames into recorded readings. A model with a gas channel sends its gas
// frame just after the particulate one: the two become one reading. With --interval N the
// readings of each N-second window (aligned to the clock) become one mean with their count.
#include "loggerreading.h"

#include <vector>

class ReadingAssembler {
public:
    // intervalSec 0: every reading as it comes.
    ReadingAssembler(int intervalSec, bool expectGas);

    void SetSensor(const QByteArray& model, const QByteArray& serial, bool expectGas);
    void AddPrimary(int64_t nowMs, double pm25, double pm10, std::vector<LoggerReading>* out);
    void AddGas(int64_t nowMs, double gas, GasKind kind, std::vector<LoggerReading>* out);
    // Hands over what is due by now: a reading whose gas frame never came, a window that ended.
    void Tick(int64_t nowMs, std::vector<LoggerReading>* out);
    // Hands over everything held (the sensor was lost, or the program ends).
    void Flush(std::vector<LoggerReading>* out);

    enum { kGasWaitMs = 1500, kWindowGraceMs = 1500 };

private:
    // Hands over a reading still waiting for its gas frame and starts a new one at nowMs.
    LoggerReading NewReading(int64_t nowMs, std::vector<LoggerReading>* out);
    void Complete(const LoggerReading& r, std::vector<LoggerReading>* out);
    void EmitWindow(std::vector<LoggerReading>* out);

    int m_IntervalSec;
    bool m_ExpectGas;
    QByteArray m_Model;
    QByteArray m_Serial;
    bool m_HavePending = false;
    LoggerReading m_Pending;
    // The open --interval window: sums and counts of each quantity.
    bool m_HaveWindow = false;
    int64_t m_WindowStartMs = 0;
    double m_Sum[3] = {};
    int m_Count[3] = {};
    int m_Readings = 0;
    GasKind m_WindowGas = GasKind::None;
};
