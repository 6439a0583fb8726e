#include "mqttpublisher.h"

#include <QFile>
#include <QMetaObject>
#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstring>
#include <locale.h>

namespace {
constexpr int kKeepAliveSec = 30;
constexpr int kMaxDelaySec = 60;
// No CONNACK this long after the attempt began: a host that swallows packets. Without this the
// attempt would only end with the kernel's TCP time-out, minutes later.
constexpr auto kConnectTimeout = std::chrono::seconds(20);
// Packets libmosquitto may hold that are not yet written (QoS 0) or acknowledged (QoS 1). A
// broker that stops reading would otherwise make its queue grow with every reading.
constexpr int kMaxPending = 64;
constexpr auto kStopWait = std::chrono::seconds(2);
constexpr char kSystemCertificates[] = "/etc/ssl/certs";

std::once_flag g_LibInit;

// The system's text for an error number in English whatever the locale, and without the
// static buffer of strerror: this runs on the network thread.
QString ErrnoText(int err)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return QString::fromLocal8Bit(strerror_l(err, c));
}

// "Connection Refused: not authorised." -> "not authorised"
QString Sentence(const char* text, const char* drop = "Connection Refused: ")
{
    QString s = QString::fromLatin1(text);
    if (s.startsWith(QLatin1String(drop)))
        s.remove(0, int(strlen(drop)));
    if (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    if (!s.isEmpty())
        s[0] = s[0].toLower();
    return s;
}
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
    if (m_Mosq && serial != m_Sensor.serial)
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
    if (!m_Mosq) {
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
    if (!m_Mosq || r.history)
        return;
    // Only while connected: libmosquitto would otherwise keep every QoS 1 message of an outage
    // in memory to send it late; a reading that missed the broker stays in the day file.
    if (!m_Connected || m_Pending >= kMaxPending || (!r.serial.isEmpty() && r.serial != m_Sensor.serial)) {
        ++m_Dropped;
        return;
    }
    if (Send(m_StateTopic, Mqtt_StatePayload(r), m_Options.qos, false))
        ++m_Sent;
    else
        ++m_Dropped;
}

void MqttPublisher::Stop()
{
    if (!m_Mosq)
        return;
    if (m_Connected) {
        // Say offline ourselves: a clean disconnect makes the broker discard the last will.
        int mid = 0;
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_SensorOnline = false;
        }
        if (Send(Mqtt_AvailabilityTopic(m_Options, m_Sensor.serial), "offline", 1, true, &mid)) {
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
    mosquitto_disconnect(m_Mosq);
    m_Thread.join();
    mosquitto_destroy(m_Mosq);
    m_Mosq = nullptr;
    m_Connected = false;
    m_Pending = 0;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Stopping = false;
    }
    std::lock_guard<std::mutex> lock(m_AckMutex);
    m_Acked.clear();
}

void MqttPublisher::Start()
{
    std::call_once(g_LibInit, [] { mosquitto_lib_init(); });
    const MqttSensor sensor = m_Sensor;
    m_Mosq = mosquitto_new(Mqtt_ClientId(sensor.serial).constData(), true, this);
    if (!m_Mosq) {
        Post(QStringLiteral("MQTT: cannot create the client: %1").arg(ErrnoText(errno)));
        return;
    }
    // Publishing from this thread while the network thread runs the loop
    mosquitto_threaded_set(m_Mosq, true);
    const QByteArray availability = Mqtt_AvailabilityTopic(m_Options, sensor.serial);
    mosquitto_will_set(m_Mosq, availability.constData(), 7, "offline", 1, true);
    if (!m_Options.user.isEmpty())
        mosquitto_username_pw_set(m_Mosq, m_Options.user.toUtf8().constData(),
                                  m_Options.password.isEmpty() ? nullptr : m_Options.password.toUtf8().constData());
    if (m_Options.tls) {
        // Without --mqtt-ca, the system's certificates as a directory rather than
        // MOSQ_OPT_TLS_USE_OS_CERTS: with that option libmosquitto 2.0 refuses every attempt after
        // a failed handshake ("invalid arguments"), so it would never connect again.
        const QByteArray ca = QFile::encodeName(m_Options.caFile);
        const int rc = mosquitto_tls_set(m_Mosq, ca.isEmpty() ? nullptr : ca.constData(),
                                         ca.isEmpty() ? kSystemCertificates : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            Post(QStringLiteral("MQTT: TLS set-up failed: %1").arg(Sentence(mosquitto_strerror(rc))));
    }
    mosquitto_connect_callback_set(m_Mosq, &MqttPublisher::OnConnect);
    mosquitto_disconnect_callback_set(m_Mosq, &MqttPublisher::OnDisconnect);
    mosquitto_publish_callback_set(m_Mosq, &MqttPublisher::OnPublish);
    mosquitto_message_callback_set(m_Mosq, &MqttPublisher::OnMessage);
    m_LastReport.clear();
    m_EverConnected = false;
    m_Up = false;
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
    bool socket = false;
    auto attemptStart = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            if (m_Stopping)
                return;
        }
        if (!socket) {
            m_RefusedCode = -1;
            m_DisconnectErrno = 0;
            errno = 0;
            // Not mosquitto_reconnect_async: after a failed TLS handshake it fails for good with
            // "invalid arguments"; a full connect sets everything up again.
            const int rc = mosquitto_connect_async(m_Mosq, host.constData(), m_Options.port, kKeepAliveSec);
            const int err = errno;
            if (rc != MOSQ_ERR_SUCCESS) {
                ReportFailure(rc, err);
                WaitBackoff(&delay);
                continue;
            }
            socket = true;
            attemptStart = std::chrono::steady_clock::now();
        }
        errno = 0;
        const int rc = mosquitto_loop(m_Mosq, 500, 1);
        const int err = m_DisconnectErrno ? m_DisconnectErrno : errno;
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            if (m_Stopping)
                return;
        }
        if (m_Connected)
            delay = 1;
        if (rc != MOSQ_ERR_SUCCESS) {
            socket = false;
            m_Connected = false;
            if (m_Up) {
                m_Up = false;
                Report(QStringLiteral("lost"), QStringLiteral("lost the connection to MQTT broker %1").arg(m_Broker));
            } else {
                ReportFailure(rc, err);
            }
            WaitBackoff(&delay);
        } else if (!m_Connected && std::chrono::steady_clock::now() - attemptStart > kConnectTimeout) {
            socket = false;
            Report(QStringLiteral("timeout"),
                   QStringLiteral("MQTT broker %1 unreachable: no answer within %2 s")
                       .arg(m_Broker)
                       .arg(std::chrono::duration_cast<std::chrono::seconds>(kConnectTimeout).count()));
            WaitBackoff(&delay);
        }
    }
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
        const QString reason = Sentence(mosquitto_connack_string(m_RefusedCode));
        Report(QStringLiteral("refused ") + reason,
               QStringLiteral("MQTT broker %1 refused the connection: %2").arg(m_Broker, reason));
        return;
    }
    const QString reason = (rc == MOSQ_ERR_ERRNO || (err != 0 && rc == MOSQ_ERR_CONN_LOST))
                               ? ErrnoText(err)
                               : Sentence(mosquitto_strerror(rc));
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

bool MqttPublisher::Send(const QByteArray& topic, const QByteArray& payload, int qos, bool retain, int* mid)
{
    if (mosquitto_publish(m_Mosq, mid, topic.constData(), payload.size(), payload.constData(), qos, retain)
        != MOSQ_ERR_SUCCESS)
        return false;
    ++m_Pending;
    return true;
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
    p->m_Up = true;
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
