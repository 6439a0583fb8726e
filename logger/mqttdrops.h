#pragma once
// Readings the publisher could not hand to the broker, counted by cause, so that an outage or a
// slow broker is said now and then with numbers instead of once per reading, or never.
#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

enum class MqttDrop { NotConnected, TooManyPending, PublishFailed, OtherSensor };

class MqttDropTally {
public:
    // Any thread. rc: libmosquitto's error for PublishFailed.
    void Add(MqttDrop cause, int rc = 0);
    // The readings counted since the last call, over the period it covers: "MQTT: 600 readings
    // not published in the last 10 min (not connected: 600)"; empty when there were none. The
    // counts start again from 0.
    QString Take(std::chrono::steady_clock::duration period);

private:
    static constexpr int kCauses = 4;
    std::array<std::atomic<int64_t>, kCauses> m_Counts{};
    std::atomic<int> m_LastError{0};
};
