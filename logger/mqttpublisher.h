#pragma once
// Publishes the logger's readings to an MQTT broker (libmosquitto), with the sensor's
// availability and its Home Assistant discovery configs. Topics and payloads: mqttpayloads.h.
//
// Threading: every method is called from the thread that created the publisher (the logger's
// main thread, which runs a Qt event loop). The network runs on a thread of the publisher's own,
// so no method ever waits for the broker: Publish() only hands a packet to that thread, and
// while there is no connection it drops the reading (what was missed stays on disk) instead of
// queueing it, so memory stays flat through an outage of any length. The message callback runs
// on the creating thread, through its event loop.
//
// The connection is made at the first SensorOnline(): the client id and the last will name the
// sensor's serial number. It retries with a back-off from 1 s to 60 s for as long as the logger
// runs, back to 1 s only once a connection has lasted a minute (a broker that lets the client in
// and drops it at once is not hammered); on each connection it republishes the discovery configs
// and the availability. Each attempt sets up a new client (mqttclient.h): with mqtts:// nothing
// is ever sent unless TLS is set up, and a CA file that was gone is read again.
//
// Readings not published are counted by cause and said at most every 10 minutes, and at Stop().
#include "loggerreading.h"
#include "mqttdrops.h"
#include "mqttoptions.h"
#include "mqttpayloads.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

struct mosquitto;
struct mosquitto_message;

class MqttPublisher {
public:
    // message: one line for stderr ("connected to MQTT broker host:1883", "MQTT broker
    // host:1883 refused the connection: not authorised", ...), only when the state changes, and
    // the readings not published ("MQTT: 600 readings not published in the last 10 min (not
    // connected: 600)"). Never carries the password.
    MqttPublisher(const MqttOptions& options, std::function<void(const QString&)> message);
    ~MqttPublisher(); // Stop()
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // The sensor identified itself (at start and after every reconnection): availability
    // online. The first call connects; a sensor with another serial number replaces the client
    // (the old sensor's availability goes offline).
    void SensorOnline(const QByteArray& serial, const QByteArray& model, GasKind gas, bool hasPm10);
    // The sensor is lost: availability offline.
    void SensorOffline();
    // One recorded reading (or --interval mean) on the state topic. Dropped while the broker is
    // not connected or too slow; history values are not published (they are not current).
    void Publish(const LoggerReading& r);
    // Availability offline, disconnect, end the network thread (at exit); says the readings not
    // published since the last such message through the message function, before it returns.
    // Waits at most ~2 s.
    void Stop();

    bool Connected() const { return m_Connected; }
    // Readings handed to the broker's connection, and readings dropped.
    int64_t Sent() const { return m_Sent; }
    int64_t Dropped() const { return m_Dropped; }

private:
    static void OnConnect(mosquitto* m, void* self, int rc);
    static void OnDisconnect(mosquitto* m, void* self, int rc);
    static void OnPublish(mosquitto* m, void* self, int mid);
    static void OnMessage(mosquitto* m, void* self, const mosquitto_message* msg);

    void Start();
    void Run(); // the network thread
    bool Connect(const QByteArray& host);
    void CloseClient();
    bool Stopping();
    void WaitBackoff(int* delaySec);
    int Send(const QByteArray& topic, const QByteArray& payload, int qos, bool retain, int* mid = nullptr);
    void SendAvailability();
    void SendDiscovery();
    void Report(const QString& key, const QString& line); // network thread
    void ReportFailure(int rc, int err);
    void Post(const QString& line);

    const MqttOptions m_Options;
    const std::function<void(const QString&)> m_Message;
    const QString m_Broker; // "host:port" for the messages
    QObject m_Context;      // lives in the creating thread: the messages are delivered there

    std::thread m_Thread;
    // The client of the current attempt. Set and cleared by the network thread, which may read it
    // without the lock; other threads use it only under the lock.
    std::mutex m_ClientMutex;
    mosquitto* m_Mosq = nullptr;

    std::mutex m_Mutex; // m_Sensor, m_SensorOnline, m_Stopping; orders the availability packets
    std::condition_variable m_Wake;
    MqttSensor m_Sensor;
    bool m_SensorOnline = false;
    bool m_Stopping = false;
    // Never held while calling libmosquitto, which calls OnPublish holding its own locks.
    std::mutex m_AckMutex;
    std::condition_variable m_AckWake;
    std::deque<int> m_Acked; // message ids the broker took (QoS 1) or that went out (QoS 0)

    std::atomic<bool> m_Connected{false};
    std::atomic<int> m_Pending{0}; // handed to libmosquitto and not yet out or acknowledged
    std::atomic<int64_t> m_Sent{0};
    std::atomic<int64_t> m_Dropped{0};
    MqttDropTally m_Drops;
    std::chrono::steady_clock::time_point m_DropsSince; // network thread, and Stop() after it ended
    QByteArray m_StateTopic; // creating thread only

    // Network thread only
    QString m_LastReport;
    bool m_EverConnected = false;
    bool m_Up = false; // connected since the last attempt began (m_Connected drops earlier, in OnDisconnect)
    std::chrono::steady_clock::time_point m_UpSince;
    int m_RefusedCode = -1;
    int m_DisconnectErrno = 0;
};
