#include "mqttpublisher.h"

#include "mqttclient.h"

#include <QMetaObject>
#include <mosquitto.h>

#include <algorithm>
#include <cerrno>

namespace {
constexpr int kKeepAliveSec = 30;
constexpr int kMaxDelaySec = 60;
// A connection that lasted this long was a working one: the next attempt comes after 1 s again.
constexpr auto kSteadyConnection = std::chrono::seconds(60);
// No CONNACK this long after the attempt began: a host that swallows packets. Without this the
// attempt would only end with the kernel's TCP time-out, minutes later.
constexpr auto kConnectTimeout = std::chrono::seconds(20);
// Packets libmosquitto may hold that are not yet written (QoS 0) or acknowledged (QoS 1). A
// broker that stops reading would otherwise make its queue grow with every reading.
constexpr int kMaxPending = 64;
constexpr auto kStopWait = std::chrono::seconds(2);
constexpr auto kDropsPeriod = std::chrono::minutes(10);

std::once_flag g_LibInit;
} // namespace

MqttPublisher::MqttPublisher(const MqttOptions& options, std::function<void(const QString&)> message)
    : m_Options(options)
    , m_Message(std::move(message))
    , m_Broker(QStringLiteral("%1:%2").arg(options.host).arg(options.port))
{
}

MqttPublisher::~MqttPublisher()
{
    Stop();
}

void MqttPublisher::SensorOnline(const QByteArray& serial, const QByteArray& model, GasKind gas, bool hasPm10)
{
    if (!m_Options.enabled)
        return;
    if (m_Thread.joinable() && serial != m_Sensor.serial)
        Stop(); // another sensor: its own client id, last will and topics
    bool changed;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        const MqttSensor sensor{serial, model, gas, hasPm10};
        changed = sensor.model != m_Sensor.model || sensor.gas != m_Sensor.gas || sensor.hasPm10 != m_Sensor.hasPm10;
        m_Sensor = sensor;
        m_SensorOnline = true;
    }
    m_StateTopic = Mqtt_StateTopic(m_Options, serial);
    if (!m_Thread.joinable()) {
        Start();
        return;
    }
    if (m_Connected) {
        if (changed)
            SendDiscovery();
        SendAvailability();
    }
}

void MqttPublisher::SensorOffline()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_SensorOnline = false;
    }
    if (m_Connected)
        SendAvailability();
}

void MqttPublisher::Publish(const LoggerReading& r)
{
    if (!m_Thread.joinable() || r.history)
        return;
    int rc = MOSQ_ERR_SUCCESS;
    MqttDrop cause;
    if (!r.serial.isEmpty() && r.serial != m_Sensor.serial)
        cause = MqttDrop::OtherSensor;
    // Only while connected: libmosquitto would otherwise keep every QoS 1 message of an outage
    // in memory to send it late; a reading that missed the broker stays in the day file.
    else if (!m_Connected)
        cause = MqttDrop::NotConnected;
    else if (m_Pending >= kMaxPending)
        cause = MqttDrop::TooManyPending;
    else if ((rc = Send(m_StateTopic, Mqtt_StatePayload(r), m_Options.qos, false)) != MOSQ_ERR_SUCCESS)
        cause = rc == MOSQ_ERR_NO_CONN ? MqttDrop::NotConnected : MqttDrop::PublishFailed; // just lost
    else {
        ++m_Sent;
        return;
    }
    ++m_Dropped;
    m_Drops.Add(cause, rc);
}

void MqttPublisher::Stop()
{
    if (!m_Thread.joinable())
        return;
    if (m_Connected) {
        // Say offline ourselves: a clean disconnect makes the broker discard the last will.
        int mid = 0;
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_SensorOnline = false;
        }
        if (Send(Mqtt_AvailabilityTopic(m_Options, m_Sensor.serial), "offline", 1, true, &mid) == MOSQ_ERR_SUCCESS) {
            std::unique_lock<std::mutex> lock(m_AckMutex);
            m_AckWake.wait_for(lock, kStopWait, [&] {
                return !m_Connected || std::find(m_Acked.begin(), m_Acked.end(), mid) != m_Acked.end();
            });
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Stopping = true;
    }
    m_Wake.notify_all();
    {
        std::lock_guard<std::mutex> lock(m_ClientMutex);
        if (m_Mosq)
            mosquitto_disconnect(m_Mosq); // ends the network thread's wait in the loop
    }
    m_Thread.join();
    m_Connected = false;
    m_Pending = 0;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Stopping = false;
    }
    {
        std::lock_guard<std::mutex> lock(m_AckMutex);
        m_Acked.clear();
    }
    // Said at once rather than posted: the program usually ends right after, without running
    // its event loop again.
    const QString drops = m_Drops.Take(std::chrono::steady_clock::now() - m_DropsSince);
    if (!drops.isEmpty() && m_Message)
        m_Message(drops);
}

void MqttPublisher::Start()
{
    std::call_once(g_LibInit, [] { mosquitto_lib_init(); });
    m_LastReport.clear();
    m_EverConnected = false;
    m_Up = false;
    m_DropsSince = std::chrono::steady_clock::now();
    m_Thread = std::thread(&MqttPublisher::Run, this);
}

// The network thread. Not mosquitto_loop_start: its loop ends the thread for good on errors it
// deems fatal (a failed name lookup while the network is still coming up at boot, a TLS
// handshake failure) and reports no failed reconnection, so we could neither keep retrying nor
// say why the broker cannot be reached.
void MqttPublisher::Run()
{
    const QByteArray host = m_Options.host.toUtf8();
    int delay = 1;
    auto attemptStart = std::chrono::steady_clock::now();
    while (!Stopping()) {
        const auto now = std::chrono::steady_clock::now();
        if (now - m_DropsSince >= kDropsPeriod) {
            const QString drops = m_Drops.Take(now - m_DropsSince);
            if (!drops.isEmpty())
                Post(drops);
            m_DropsSince = now;
        }
        if (!m_Mosq) {
            if (!Connect(host)) {
                WaitBackoff(&delay);
                continue;
            }
            attemptStart = std::chrono::steady_clock::now();
        }
        errno = 0;
        const int rc = mosquitto_loop(m_Mosq, 500, 1);
        const int err = m_DisconnectErrno ? m_DisconnectErrno : errno;
        if (Stopping())
            break;
        if (m_Up && std::chrono::steady_clock::now() - m_UpSince >= kSteadyConnection)
            delay = 1;
        if (rc != MOSQ_ERR_SUCCESS) {
            CloseClient();
            if (m_Up) {
                m_Up = false;
                Report(QStringLiteral("lost"), QStringLiteral("lost the connection to MQTT broker %1").arg(m_Broker));
            } else {
                ReportFailure(rc, err);
            }
            WaitBackoff(&delay);
        } else if (!m_Connected && std::chrono::steady_clock::now() - attemptStart > kConnectTimeout) {
            CloseClient();
            Report(QStringLiteral("timeout"),
                   QStringLiteral("MQTT broker %1 unreachable: no answer within %2 s")
                       .arg(m_Broker)
                       .arg(std::chrono::duration_cast<std::chrono::seconds>(kConnectTimeout).count()));
            WaitBackoff(&delay);
        }
    }
    CloseClient();
}

// One attempt with a new client; false (said why) when it cannot even begin.
bool MqttPublisher::Connect(const QByteArray& host)
{
    MqttSensor sensor;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        sensor = m_Sensor;
    }
    const MqttClientSetUp setUp = Mqtt_NewClient(m_Options, sensor, this);
    if (!setUp.failure.isEmpty())
        Report(setUp.failure, setUp.failure);
    if (!setUp.client)
        return false;
    mosquitto* m = setUp.client;
    mosquitto_connect_callback_set(m, &MqttPublisher::OnConnect);
    mosquitto_disconnect_callback_set(m, &MqttPublisher::OnDisconnect);
    mosquitto_publish_callback_set(m, &MqttPublisher::OnPublish);
    mosquitto_message_callback_set(m, &MqttPublisher::OnMessage);
    m_RefusedCode = -1;
    m_DisconnectErrno = 0;
    m_Up = false;
    errno = 0;
    const int rc = mosquitto_connect_async(m, host.constData(), m_Options.port, kKeepAliveSec);
    const int err = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(m);
        if (rc == MOSQ_ERR_TLS) {
            // The TLS context is made here, where the certificate authorities are loaded.
            const QString line = Mqtt_TlsFailure(m_Options, QString());
            Report(line, line);
        } else {
            ReportFailure(rc, err);
        }
        return false;
    }
    std::lock_guard<std::mutex> lock(m_ClientMutex);
    m_Mosq = m;
    return true;
}

void MqttPublisher::CloseClient()
{
    m_Connected = false;
    mosquitto* m;
    {
        std::lock_guard<std::mutex> lock(m_ClientMutex);
        m = m_Mosq;
        m_Mosq = nullptr;
    }
    if (m)
        mosquitto_destroy(m);
    m_Pending = 0;
}

bool MqttPublisher::Stopping()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Stopping;
}

void MqttPublisher::WaitBackoff(int* delaySec)
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Wake.wait_for(lock, std::chrono::seconds(*delaySec), [this] { return m_Stopping; });
    *delaySec = std::min(*delaySec * 2, kMaxDelaySec);
}

void MqttPublisher::ReportFailure(int rc, int err)
{
    if (m_RefusedCode > 0) {
        const QString reason = Mqtt_Sentence(mosquitto_connack_string(m_RefusedCode));
        Report(QStringLiteral("refused ") + reason,
               QStringLiteral("MQTT broker %1 refused the connection: %2").arg(m_Broker, reason));
        return;
    }
    const QString reason = (rc == MOSQ_ERR_ERRNO || (err != 0 && rc == MOSQ_ERR_CONN_LOST))
                               ? Mqtt_ErrnoText(err)
                               : Mqtt_ErrorText(rc);
    Report(QStringLiteral("unreachable ") + reason,
           QStringLiteral("MQTT broker %1 unreachable: %2").arg(m_Broker, reason));
}

void MqttPublisher::Report(const QString& key, const QString& line)
{
    if (key == m_LastReport)
        return; // the same failure on every retry is said once
    m_LastReport = key;
    Post(line);
}

void MqttPublisher::Post(const QString& line)
{
    if (!m_Message)
        return;
    QMetaObject::invokeMethod(&m_Context, [message = m_Message, line] { message(line); }, Qt::QueuedConnection);
}

int MqttPublisher::Send(const QByteArray& topic, const QByteArray& payload, int qos, bool retain, int* mid)
{
    std::lock_guard<std::mutex> lock(m_ClientMutex);
    if (!m_Mosq)
        return MOSQ_ERR_NO_CONN;
    const int rc = mosquitto_publish(m_Mosq, mid, topic.constData(), payload.size(), payload.constData(), qos, retain);
    if (rc == MOSQ_ERR_SUCCESS)
        ++m_Pending;
    return rc;
}

void MqttPublisher::SendAvailability()
{
    // Under the lock, so that the last availability packet queued always says the latest state
    // even when the network thread's reconnection and a sensor change race.
    std::lock_guard<std::mutex> lock(m_Mutex);
    Send(Mqtt_AvailabilityTopic(m_Options, m_Sensor.serial), m_SensorOnline ? "online" : "offline", 1, true);
}

void MqttPublisher::SendDiscovery()
{
    if (!m_Options.haDiscovery)
        return;
    MqttSensor sensor;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        sensor = m_Sensor;
    }
    for (const MqttMessage& config : Mqtt_DiscoveryConfigs(m_Options, sensor))
        Send(config.topic, config.payload, 1, true);
}

void MqttPublisher::OnConnect(mosquitto* m, void* self, int rc)
{
    auto* p = static_cast<MqttPublisher*>(self);
    if (rc != 0) {
        p->m_RefusedCode = rc; // the loop reports it when it returns with the refusal
        return;
    }
    p->m_Pending = 0;
    {
        std::lock_guard<std::mutex> lock(p->m_AckMutex);
        p->m_Acked.clear(); // message ids start again with each client
    }
    p->m_Up = true;
    p->m_UpSince = std::chrono::steady_clock::now();
    p->m_Connected = true;
    p->Report(QStringLiteral("connected"), QStringLiteral("%1 MQTT broker %2")
                                               .arg(p->m_EverConnected ? QStringLiteral("reconnected to")
                                                                       : QStringLiteral("connected to"),
                                                    p->m_Broker));
    p->m_EverConnected = true;
    // A clean session: the subscription and the retained state are made again each time (a
    // restarted broker without persistence has forgotten them).
    if (p->m_Options.haDiscovery)
        mosquitto_subscribe(m, nullptr, Mqtt_HaStatusTopic(p->m_Options).constData(), 1);
    p->SendDiscovery();
    p->SendAvailability();
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int)
{
    auto* p = static_cast<MqttPublisher*>(self);
    p->m_DisconnectErrno = errno;
    p->m_Connected = false;
    p->m_AckWake.notify_all(); // Stop() waits for no acknowledgement that cannot come
}

void MqttPublisher::OnPublish(mosquitto*, void* self, int mid)
{
    auto* p = static_cast<MqttPublisher*>(self);
    --p->m_Pending;
    {
        std::lock_guard<std::mutex> lock(p->m_AckMutex);
        p->m_Acked.push_back(mid);
        if (p->m_Acked.size() > 16)
            p->m_Acked.pop_front();
    }
    p->m_AckWake.notify_all();
}

void MqttPublisher::OnMessage(mosquitto*, void* self, const mosquitto_message* msg)
{
    auto* p = static_cast<MqttPublisher*>(self);
    // Home Assistant restarted: it has forgotten the entities unless the broker kept the
    // retained configs, so they go out again.
    if (msg->topic && Mqtt_HaStatusTopic(p->m_Options) == msg->topic
        && QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen) == "online")
        p->SendDiscovery();
}
