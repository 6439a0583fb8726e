#pragma once
// Turns the sensor's frames into readings. A model with a gas channel sends its gas frame just
// after the particulate one: the two become one reading. Times here are monotonic (the
// readings' monoMs); the wall-clock time comes later (ClockKeeper).
#include "loggerreading.h"

#include <vector>

class ReadingAssembler {
public:
    explicit ReadingAssembler(bool expectGas);

    void SetSensor(const QByteArray& model, const QByteArray& serial, bool expectGas);
    void AddPrimary(int64_t nowMs, double pm25, double pm10, std::vector<LoggerReading>* out);
    void AddGas(int64_t nowMs, double gas, GasKind kind, std::vector<LoggerReading>* out);
    // Hands over a reading whose gas frame never came.
    void Tick(int64_t nowMs, std::vector<LoggerReading>* out);
    // Hands over everything held (the sensor was lost, or the program ends).
    void Flush(std::vector<LoggerReading>* out);

    enum { kGasWaitMs = 1500 };

private:
    // Hands over a reading still waiting for its gas frame and starts a new one at nowMs.
    LoggerReading NewReading(int64_t nowMs, std::vector<LoggerReading>* out);

    bool m_ExpectGas;
    QByteArray m_Model;
    QByteArray m_Serial;
    bool m_HavePending = false;
    LoggerReading m_Pending;
};
