#pragma once
// The sent log: every measurement the simulated sensor delivered to the host, one line each,
// appended and handed to the system as it happens, so that it is whole up to the last frame
// even when the processes around it are killed. Whole numbers only, the raw words as sent:
//
//   WALL_MS MODEL_MS pm PM25 PM10       PM2.5 and PM10 in tenths of ug/m3
//   WALL_MS MODEL_MS gas VALUE STATUS   the gas value (thousandths of mg/m3) and the frame's
//                                       status byte (17 formaldehyde, 33 TVOC)
//
// WALL_MS is the real time the frame left the device (ms since 1970, system clock); MODEL_MS the
// model's clock at that moment (the same unless the model runs stepped or on another source).
#include "sensormodel.h"

#include <mutex>
#include <string>

// The line for one delivered frame, without the newline; empty for anything that is not a whole
// measurement frame (answers, frames damaged by a fault).
std::string SimSentLogLine(const SimDelivery& delivery);

class SimSentLog {
public:
    SimSentLog() = default;
    ~SimSentLog();
    SimSentLog(const SimSentLog&) = delete;
    SimSentLog& operator=(const SimSentLog&) = delete;

    // Opens (or creates) the file for appending. False with a message.
    bool Open(const std::string& path, std::string* error);
    // Appends the frame's line, if it has one. Thread-safe.
    void Note(const SimDelivery& delivery);

private:
    std::mutex m_Lock;
    int m_Fd = -1;
};
