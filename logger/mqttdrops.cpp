#include "mqttdrops.h"

#include "mqttclient.h"

#include <QStringList>
#include <algorithm>

void MqttDropTally::Add(MqttDrop cause, int rc)
{
    if (cause == MqttDrop::PublishFailed)
        m_LastError = rc;
    ++m_Counts[size_t(cause)];
}

QString MqttDropTally::Take(std::chrono::steady_clock::duration period)
{
    int64_t total = 0;
    QStringList causes;
    for (int i = 0; i < kCauses; ++i) {
        const int64_t n = m_Counts[size_t(i)].exchange(0);
        if (n == 0)
            continue;
        total += n;
        switch (MqttDrop(i)) {
        case MqttDrop::NotConnected:
            causes << QStringLiteral("not connected: %1").arg(n);
            break;
        case MqttDrop::TooManyPending:
            causes << QStringLiteral("broker too slow: %1").arg(n);
            break;
        case MqttDrop::PublishFailed:
            causes << QStringLiteral("publish failed: %1, %2").arg(n).arg(Mqtt_ErrorText(m_LastError));
            break;
        case MqttDrop::OtherSensor:
            causes << QStringLiteral("from another sensor: %1").arg(n);
            break;
        }
    }
    if (total == 0)
        return {};
    const auto sec = std::chrono::duration_cast<std::chrono::seconds>(period).count();
    const QString span = sec >= 60 ? QStringLiteral("%1 min").arg((sec + 30) / 60) : QStringLiteral("%1 s").arg(std::max<int64_t>(sec, 1));
    return QStringLiteral("MQTT: %1 %2 not published in the last %3 (%4)")
        .arg(total)
        .arg(total == 1 ? QStringLiteral("reading") : QStringLiteral("readings"), span, causes.join(QStringLiteral(", ")));
}
