#pragma once
// --interval N: the readings of each N-second window, aligned to the wall clock, become one
// mean with the number of readings in it. Works on the readings' wall-clock times.
#include "loggerreading.h"

#include <vector>

class IntervalMeans {
public:
    // intervalSec 0: every reading passes as it is.
    explicit IntervalMeans(int intervalSec);

    void Add(const LoggerReading& r, std::vector<LoggerReading>* out);
    // Hands over a window that ended (a little grace for its last reading) by nowMs.
    void Tick(int64_t nowMs, std::vector<LoggerReading>* out);
    // Hands over the open window (the sensor was lost, the clock stepped, the program ends).
    void Flush(std::vector<LoggerReading>* out);

    enum { kWindowGraceMs = 1500 };

private:
    void Emit(std::vector<LoggerReading>* out);

    int m_IntervalSec;
    bool m_Open = false;
    int64_t m_StartMs = 0;
    double m_Sum[3] = {};
    int m_Count[3] = {};
    int m_Readings = 0;
    GasKind m_Gas = GasKind::None;
    bool m_Held = false;
    QByteArray m_Model;
    QByteArray m_Serial;
};
