#include "e2erig.h"

#include "platformtime.h"

#include <QCoreApplication>
#include <algorithm>
#include <poll.h>

namespace {
constexpr int kSerialWaitCapMs = 10;
}

SharedClock::SharedClock(int64_t startMs) : m_Now(startMs)
{
    Platform_SetNow([this] { return m_Now.load(); });
    Platform_SetSleep([this](int ms) {
        m_Now += ms > 0 ? ms : 0;
        ++m_Sleeps;
        if (onSleep)
            onSleep(ms);
    });
}

SharedClock::~SharedClock()
{
    Platform_SetSleep({});
    Platform_SetNow({});
}

void SharedClock::Drive(SensorModel* model)
{
    // Called from umockdev's worker thread and the bridge's thread as well: an atomic read.
    model->Clock().SetSource([this] { return m_Now.load(); });
}

SensorConfig E2eSensor(int typeCode, int historyCount, bool measurements)
{
    SensorConfig cfg;
    cfg.typeCode = typeCode;
    cfg.clockStartMs = kE2eStartMs;
    cfg.historyCount = historyCount;
    cfg.sendMeasurements = measurements;
    cfg.readings = SimReadingSource::Ramp({10.0, 20.0, 0.01}, {0.1, 0.1, 0.001});
    return cfg;
}

void WaitForSerialInput(SCodeUsb& codec, int ms)
{
    QSerialPort& port = codec.m_Serial.m_Port;
    if (!port.isOpen() || codec.m_Serial.m_RxCount >= GSerialPort::kFrameLength
        || port.bytesAvailable() > 0)
        return;
    // QSerialPort writes only when the event loop turns; the device should not wait for that.
    port.flush();
    // The device's thread answers within a fraction of a millisecond; the cap keeps a silent or
    // pulled device from costing the program's whole wait in real time.
    pollfd p{int(port.handle()), POLLIN, 0};
    if (p.fd >= 0)
        poll(&p, 1, std::min(ms, kSerialWaitCapMs));
}

bool PollFor(SCodeUsb& codec, unsigned char code, int attempts, int index)
{
    for (int i = 0; i < attempts; ++i) {
        Platform_SleepMs(20);
        QCoreApplication::processEvents();
        TAG_T_SPM25Data reading;
        if (codec.ReadPM25Data(index, &reading) == code)
            return true;
    }
    return false;
}

std::vector<SeenRequest> HistoryRequests(const SensorModel& model)
{
    std::vector<SeenRequest> seen;
    for (const SimRequest& r : model.Requests()) {
        if (r.frame[2] == 0xAD)
            seen.push_back({r.frame[3] + 256 * r.frame[17], r.frame[4], r.frame[17]});
    }
    return seen;
}

QString CompareHistory(const SCodeUsb& codec, const std::vector<SimHistoryValue>& memory,
                       const std::vector<int>& valueFrom, const std::vector<int>& stampFrom)
{
    const int n = int(valueFrom.size());
    if (codec.m_RealPM25Count != n || codec.mTimeSecList.size() != int(stampFrom.size()))
        return QString("%1 values and %2 stamps, expected %3 and %4")
            .arg(codec.m_RealPM25Count).arg(codec.mTimeSecList.size()).arg(n).arg(stampFrom.size());
    for (int i = 0; i < n; ++i) {
        const int v = valueFrom[size_t(i)];
        const uint16_t expected = v < 0 ? 0 : memory.at(size_t(v)).pm25;
        if (codec.mp_HistoryData[i] != expected)
            return QString("value %1 is %2, expected %3").arg(i).arg(codec.mp_HistoryData[i]).arg(expected);
        const int64_t stamp = memory.at(size_t(stampFrom[size_t(i)])).time;
        if (int64_t(codec.mTimeSecList[i]) != stamp)
            return QString("stamp %1 is %2, expected %3").arg(i).arg(codec.mTimeSecList[i]).arg(stamp);
    }
    return QString();
}

QString ComparePM10History(const SCodeUsb& codec, const std::vector<SimHistoryValue>& memory, int count)
{
    if (codec.m_RealPM10Count != count)
        return QString("%1 PM10 values, expected %2").arg(codec.m_RealPM10Count).arg(count);
    for (int i = 0; i < count; ++i) {
        if (codec.mp_PM10HistoryData[i] != memory.at(size_t(i)).pm10)
            return QString("PM10 value %1 is %2, expected %3")
                .arg(i).arg(codec.mp_PM10HistoryData[i]).arg(memory[size_t(i)].pm10);
    }
    return QString();
}

std::vector<int> IndexRange(int from, int to)
{
    std::vector<int> v;
    for (int i = from; i <= to; ++i)
        v.push_back(i);
    return v;
}

std::vector<int> Join(std::initializer_list<std::vector<int>> parts)
{
    std::vector<int> v;
    for (const std::vector<int>& p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}
