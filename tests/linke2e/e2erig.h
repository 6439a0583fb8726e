#pragma once
// Shared pieces of the end-to-end tests: the program's own device link (SCodeUsb, LibUsbIO,
// GSerialPort) against the simulated sensor on the emulated USB bus or serial bridge.
#include "platformtime.h"
#include "scodeusb.h"
#include "sensormodel.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// 2023-11-14 22:10:10 UTC: ten seconds after a 5-minute boundary, so that no history value falls
// due while a download runs.
constexpr int64_t kE2eStartMs = 1700000000000LL - 190000;

// One stepped clock for the program and the simulated sensors: every wait of the program moves
// it on (Platform_SetSleep), the program's "now" reads it (Platform_SetNow), and the sensors
// follow it, so a download runs as fast as the emulated link answers.
class SharedClock {
public:
    explicit SharedClock(int64_t startMs = kE2eStartMs);
    ~SharedClock();   // gives the program its real clock back
    SharedClock(const SharedClock&) = delete;
    SharedClock& operator=(const SharedClock&) = delete;

    int64_t NowMs() const { return m_Now.load(); }
    // The model reads this clock from then on; the clock must outlive the model.
    void Drive(SensorModel* model);
    int Sleeps() const { return m_Sleeps.load(); }

    // Runs after each of the program's waits, once the clock has moved on.
    std::function<void(int ms)> onSleep;

private:
    std::atomic<int64_t> m_Now;
    std::atomic<int> m_Sleeps{0};
};

// A sensor configuration on the shared clock with readings that rise by 0.1 per sample
// (PM2.5 from 10.0, PM10 from 20.0 ug/m3).
SensorConfig E2eSensor(int typeCode = 130, int historyCount = 36, bool measurements = true);

// The serial link's side of a wait: lets the program's pending request leave at once and waits
// in real time (at most ms, and never more than 10 ms) until the device's answer can be read.
// Returns at once when a frame is already waiting or the port is closed.
void WaitForSerialInput(SCodeUsb& codec, int ms);

// Polls device `index` the way the window does until the result code turns up; each poll waits
// 20 ms on the shared clock first. False when it never came.
bool PollFor(SCodeUsb& codec, unsigned char code, int attempts = 100, int index = 0);

// Packet numbers and kinds of every history request the sensor received, in order.
struct SeenRequest {
    int packet;       // position 3 + 256 * position 17
    int kind;         // position 4
    int position17;
};
std::vector<SeenRequest> HistoryRequests(const SensorModel& model);

// The history download compared with the sensor's memory: value i of the download must be
// memory value valueFrom[i] (-1: a zero) and carry memory time stampFrom[i].
QString CompareHistory(const SCodeUsb& codec, const std::vector<SimHistoryValue>& memory,
                       const std::vector<int>& valueFrom, const std::vector<int>& stampFrom);
QString ComparePM10History(const SCodeUsb& codec, const std::vector<SimHistoryValue>& memory,
                           int count);

std::vector<int> IndexRange(int from, int to);   // from .. to inclusive
std::vector<int> Join(std::initializer_list<std::vector<int>> parts);
