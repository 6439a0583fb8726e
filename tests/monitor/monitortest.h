#pragma once
// Helpers of the monitor tests: the real window against the simulated sensor, with one stepped
// clock for program and device.
#include "modalscript.h"
#include "windowtest.h"

#include "platformtime.h"
#include "sensormodel.h"

#include <QStatusBar>

#include <atomic>
#include <chrono>
#include <thread>

// One clock for the program (Platform_NowMs / Platform_SleepMs) and the simulated device: time
// moves only when the program sleeps or the test advances it. With `realSleeps` the program's
// sleeps also take real time, which the serial link needs (its bytes travel at line speed).
class SharedClock {
public:
    explicit SharedClock(int64_t startMs, bool realSleeps = false) : m_Now(startMs)
    {
        Platform_SetNow([this] { return m_Now.load(); });
        Platform_SetSleep([this, realSleeps](int ms) {
            m_Now += ms;
            if (realSleeps && ms > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        });
    }
    ~SharedClock()
    {
        Platform_SetSleep({});
        Platform_SetNow({});
    }
    SharedClock(const SharedClock&) = delete;
    SharedClock& operator=(const SharedClock&) = delete;

    // The device's clock follows this one (called from the emulation's threads).
    void Drive(SensorModel* model)
    {
        model->Clock().SetSource([this] { return m_Now.load(); });
    }
    void Advance(int64_t ms) { m_Now += ms; }
    int64_t Now() const { return m_Now.load(); }

private:
    std::atomic<int64_t> m_Now;
};

// 2023-11-14 22:15:10 UTC: ten seconds after a five-minute boundary, so a test's few seconds of
// device time never add a history value.
constexpr int64_t kTestStartMs = 1700000110000LL;

inline SensorConfig Sensor(int type, const char name[4], SimReadingSource readings = {})
{
    SensorConfig config;
    config.typeCode = type;
    config.name = {{uint8_t(name[0]), uint8_t(name[1]), uint8_t(name[2]), uint8_t(name[3])}};
    config.readings = readings;
    config.clockStartMs = kTestStartMs;
    return config;
}

inline QString StatusText(PM2_5& w)
{
    return w.statusBar()->currentMessage();
}
