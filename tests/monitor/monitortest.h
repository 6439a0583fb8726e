#pragma once
// Helpers of the monitor tests: the real window against the simulated sensor, with one stepped
// clock for program and device.
#include "modalscript.h"
#include "windowtest.h"

#include "grecorddatapro.h"
#include "platformtime.h"
#include "sensormodel.h"
#include "simserialbridge.h"
#include "simusbbus.h"
#include "ui_pm2_5.h"

#include <QElapsedTimer>
#include <QStatusBar>
#include <QtTest>

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
            if (onSleep)
                onSleep();
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

    // Runs on the GUI thread after each of the program's sleeps: a look inside a download, which
    // on USB lets no event through.
    std::function<void()> onSleep;

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

enum class Link { None, Usb, Serial };

// The real window with a simulated sensor on the emulated USB bus or behind the emulated serial
// bridge (Link::None: an empty bus, no sensor anywhere), all on one stepped clock. The window is
// built last and goes first. The device sends no measurements until Settle (or `prepare`) says so.
struct Rig {
    Rig(Link link, const SensorConfig& config, const std::function<void(SensorModel*)>& prepare = {})
        : clock(std::make_unique<SharedClock>(kTestStartMs, link == Link::Serial)), serial(link == Link::Serial)
    {
        if (link == Link::Serial) {
            bridge = std::make_unique<SimSerialBridge>(config);
            if (!bridge->IsValid())
                return;
            model = bridge->Model();
        } else {
            bus = std::make_unique<SimUsbBus>();
            if (link == Link::Usb) {
                SimUsbDevice* device = bus->AddSensor(config);
                if (!device)
                    return;
                model = device->Model();
            }
        }
        if (model) {
            clock->Drive(model);
            // Measurements start with Settle, so that the test knows exactly how many arrived.
            model->SetSendMeasurements(false);
            if (prepare)
                prepare(model);
        }
        ModalCloser closer([this](QWidget*) { ++boxes; });
        window = std::make_unique<PM2_5>();
    }
    ~Rig() { window.reset(); }

    bool Ready() const { return window != nullptr; }

    // Waits until `done` holds. The serial line is paced on the device's clock (one frame takes
    // about 20 ms of it), so on that link the clock moves on 20 ms at a time meanwhile, at most
    // `maxMs` in all: never as far as the next measurement.
    bool PumpUntil(const std::function<bool()>& done, int maxMs = 300)
    {
        QElapsedTimer real;
        real.start();
        int pumped = 0;
        while (!done()) {
            if (real.elapsed() > 5000)
                return false;
            if (serial && pumped < maxMs) {
                clock->Advance(20);
                pumped += 20;
            }
            QTest::qWait(20);
        }
        return true;
    }
    // Lets the program read what the device sends in the next `ms` of device time.
    void Pump(int ms)
    {
        for (int t = 0; t < ms; t += 20) {
            if (serial)
                clock->Advance(20);
            QTest::qWait(20);
        }
    }

    // The identity answer has come through the poll.
    bool WaitForIdentity()
    {
        return PumpUntil([this] { return window->m_Identified == 1; });
    }
    // Identified, then the device starts measuring and its first reading is stored; each
    // NextReading adds exactly one more.
    bool Settle()
    {
        if (!WaitForIdentity())
            return false;
        model->SetSendMeasurements(true);
        return PumpUntil([this] { return Offered(0) == 1; });
    }
    // What the device still has to send goes out first; then its clock moves on to exactly the
    // time of its next measurement.
    bool NextMeasurement()
    {
        if (!PumpUntil([this] { return model->MsUntilNextFrame() != 0; }))
            return false;
        const int64_t wait = model->MsUntilNextFrame();
        if (wait < 0)
            return false;
        clock->Advance(wait);
        return true;
    }
    // The next measurement falls due; waits until the poll has stored it in channel 0.
    bool NextReading()
    {
        const int64_t before = Offered(0);
        return NextMeasurement() && PumpUntil([&] { return Offered(0) > before; });
    }
    int64_t Offered(int channel) const
    {
        if (!window->m_RecordData || channel >= window->m_ChannelCount)
            return -1;
        return window->m_RecordData[channel].m_pRealTime->m_pRealData->m_OfferedCount;
    }
    GRecordChannel& Channel(int i) { return window->m_RecordData[i]; }
    std::vector<SimHistoryValue> History() const { return model->History(); }

    std::unique_ptr<SharedClock> clock;
    bool serial = false;
    std::unique_ptr<SimUsbBus> bus;
    std::unique_ptr<SimSerialBridge> bridge;
    SensorModel* model = nullptr;
    int boxes = 0;
    std::unique_ptr<PM2_5> window;
};

#define RIG_READY(rig)                                                                                      \
    do {                                                                                                    \
        QVERIFY2((rig).Ready(), "the simulated sensor could not be set up");                                \
    } while (0)
