// The logger's MQTT side against Debian's mosquitto, started by the test on 127.0.0.1 on a free
// port; a second libmosquitto client subscribes and sees what a consumer sees.
#include "csvformat.h"
#include "mqttpublisher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <mosquitto.h>

#include <arpa/inet.h>
#include <clocale>
#include <mutex>
#include <unistd.h>

namespace {
constexpr int kWait = 10000; // ms: every wait ends, whatever the broker does

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), len);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

// A broker of the test's own; with a password file it lets in only user "vostral", "s3cret".
struct Broker {
    QTemporaryDir dir;
    QProcess process;
    int port = FreePort();

    bool Start(bool password = false)
    {
        QFile conf(dir.filePath("m.conf"));
        conf.open(QIODevice::WriteOnly);
        conf.write(QStringLiteral("listener %1 127.0.0.1\npersistence false\nlog_dest stderr\nuser root\n").arg(port).toUtf8());
        if (password) {
            QProcess::execute("mosquitto_passwd", {"-b", "-c", dir.filePath("pw"), "vostral", "s3cret"});
            conf.write("allow_anonymous false\npassword_file " + dir.filePath("pw").toUtf8() + "\n");
        } else {
            conf.write("allow_anonymous true\n");
        }
        conf.close();
        process.start("/usr/sbin/mosquitto", {"-c", conf.fileName()});
        QByteArray log;
        QDeadlineTimer deadline(kWait);
        while (!log.contains("listen socket on port") && !deadline.hasExpired() && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(100);
            log += process.readAllStandardError();
        }
        return log.contains("listen socket on port");
    }
    void Stop()
    {
        process.terminate();
        if (!process.waitForFinished(kWait))
            process.kill();
    }
    ~Broker() { Stop(); }
};

struct Message {
    QByteArray topic, payload;
    bool retained;
};

// What a consumer subscribed to a pattern receives; comes back by itself after a broker restart.
struct Subscriber {
    mosquitto* m;
    QByteArray pattern;
    std::mutex mutex;
    QVector<Message> got;
    bool subscribed = false;

    Subscriber(int port, const QByteArray& pattern = "#") : pattern(pattern)
    {
        m = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(m, [](mosquitto* m, void* s, int) {
            mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(s)->pattern.constData(), 1);
        });
        mosquitto_subscribe_callback_set(m, [](mosquitto*, void* s, int, int, const int*) {
            std::lock_guard<std::mutex> lock(static_cast<Subscriber*>(s)->mutex);
            static_cast<Subscriber*>(s)->subscribed = true;
        });
        mosquitto_message_callback_set(m, [](mosquitto*, void* s, const mosquitto_message* msg) {
            auto* self = static_cast<Subscriber*>(s);
            std::lock_guard<std::mutex> lock(self->mutex);
            self->got.append({msg->topic, QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen), msg->retain});
        });
        mosquitto_reconnect_delay_set(m, 1, 1, false);
        mosquitto_connect_async(m, "127.0.0.1", port, 30);
        mosquitto_loop_start(m);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m);
        mosquitto_loop_stop(m, true);
        mosquitto_destroy(m);
    }
    bool Subscribed()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return subscribed;
    }
    QVector<Message> On(const QByteArray& topic)
    {
        std::lock_guard<std::mutex> lock(mutex);
        QVector<Message> out;
        for (const Message& msg : got)
            if (topic.endsWith('#') ? msg.topic.startsWith(topic.chopped(1)) : msg.topic == topic)
                out.append(msg);
        return out;
    }
    QByteArray Last(const QByteArray& topic)
    {
        const QVector<Message> all = On(topic);
        return all.isEmpty() ? QByteArray() : all.last().payload;
    }
};

MqttOptions Options(int port)
{
    MqttOptions o;
    o.enabled = true;
    o.host = "127.0.0.1";
    o.port = port;
    return o;
}

LoggerReading Reading(double pm25, double pm10, GasKind kind, double gas, int readings = 1)
{
    LoggerReading r;
    r.timeMs = 1796716801000LL; // 2026-12-08T08:00:01Z
    r.pm25 = pm25;
    r.pm10 = pm10;
    r.gasKind = kind;
    r.gas = gas;
    r.readings = readings;
    return r;
}

// What Home Assistant needs of each quantity's config: its unit and device class.
const QMap<QString, QPair<QString, QString>> kQuantities = {
    {"pm2_5", {"µg/m³", "pm25"}},
    {"pm10", {"µg/m³", "pm10"}},
    {"formaldehyde", {"mg/m³", ""}},
    {"tvoc", {"µg/m³", "volatile_organic_compounds"}},
};
} // namespace

Q_DECLARE_METATYPE(LoggerReading)
Q_DECLARE_METATYPE(GasKind)

class TestLoggerMqtt : public QObject {
    Q_OBJECT
    Broker m_Broker;
    QStringList m_Said;
    std::function<void(const QString&)> Said()
    {
        m_Said.clear();
        return [this](const QString& line) { m_Said << line; };
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_Broker.Start());
        QFile pw(m_Broker.dir.filePath("pw.txt"));
        QVERIFY(pw.open(QIODevice::WriteOnly) && pw.write("s3cret\nsecond line\n") > 0);
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("env");
        QTest::addColumn<QString>("expect"); // the options read, or the start of the message
        const QString pw = m_Broker.dir.filePath("pw.txt");
        QTest::newRow("none") << QStringList{} << QByteArray() << "off";
        QTest::newRow("defaults") << QStringList{"--mqtt", "mqtt://127.0.0.1"} << QByteArray()
                                  << "127.0.0.1:1883 tls0 qos0 ha1 vostral homeassistant  ";
        QTest::newRow("all") << QStringList{"--mqtt", "mqtts://broker.lan", "--mqtt-qos", "1", "--ha-discovery", "off",
                                            "--mqtt-prefix", "home/air", "--ha-prefix", "ha", "--mqtt-user", "u"}
                             << QByteArray("s3cret") << "broker.lan:8883 tls1 qos1 ha0 home/air ha u s3cret";
        QTest::newRow("password file") << QStringList{"--mqtt", "mqtt://h:1884", "--mqtt-user", "u", "--mqtt-password-file", pw}
                                       << QByteArray("other") << "h:1884 tls0 qos0 ha1 vostral homeassistant u s3cret";
        QTest::newRow("scheme") << QStringList{"--mqtt", "http://h"} << QByteArray() << "--mqtt takes";
        QTest::newRow("port 0") << QStringList{"--mqtt", "mqtt://h:0"} << QByteArray() << "--mqtt: the port";
        QTest::newRow("port 65536") << QStringList{"--mqtt", "mqtt://h:65536"} << QByteArray() << "--mqtt takes";
        QTest::newRow("password in URL") << QStringList{"--mqtt", "mqtt://u:s3cret@h"} << QByteArray() << "--mqtt: no user";
        QTest::newRow("qos 2") << QStringList{"--mqtt", "mqtt://h", "--mqtt-qos", "2"} << QByteArray() << "--mqtt-qos";
        QTest::newRow("discovery yes") << QStringList{"--mqtt", "mqtt://h", "--ha-discovery", "yes"} << QByteArray() << "--ha-discovery";
        QTest::newRow("wildcard") << QStringList{"--mqtt", "mqtt://h", "--mqtt-prefix", "a/#"} << QByteArray() << "--mqtt-prefix";
        QTest::newRow("ca without tls") << QStringList{"--mqtt", "mqtt://h", "--mqtt-ca", pw} << QByteArray() << "--mqtt-ca needs";
        QTest::newRow("no broker") << QStringList{"--mqtt-user", "u"} << QByteArray() << "--mqtt-user needs --mqtt";
        QTest::newRow("password, no user") << QStringList{"--mqtt", "mqtt://h"} << QByteArray("s3cret") << "a broker password";
        QTest::newRow("no password file") << QStringList{"--mqtt", "mqtt://h", "--mqtt-user", "u", "--mqtt-password-file", "/nonexistent"}
                                          << QByteArray() << "--mqtt-password-file: cannot read";
        QTest::newRow("password option") << QStringList{"--mqtt", "mqtt://h", "--mqtt-password", "s3cret"} << QByteArray() << "Unknown option";
    }
    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, env);
        QFETCH(QString, expect);
        env.isEmpty() ? qunsetenv("VOSTRAL_MQTT_PASSWORD") : qputenv("VOSTRAL_MQTT_PASSWORD", env);
        QCommandLineParser parser;
        Mqtt_AddOptions(&parser);
        MqttOptions o;
        QString said;
        if (!parser.parse(QStringList{"vostral-logger"} + args))
            said = parser.errorText();
        else if (!Mqtt_ReadOptions(parser, &o, &said))
            QVERIFY2(!said.contains("s3cret"), qPrintable(said));
        else
            said = !o.enabled ? "off"
                              : QStringLiteral("%1:%2 tls%3 qos%4 ha%5 %6 %7 %8 %9")
                                    .arg(o.host).arg(o.port).arg(int(o.tls)).arg(o.qos).arg(int(o.haDiscovery))
                                    .arg(o.prefix, o.haPrefix, o.user, o.password);
        qunsetenv("VOSTRAL_MQTT_PASSWORD");
        QVERIFY2(said.startsWith(expect), qPrintable(said));
    }

    // The state message as a consumer receives it, and the retained discovery configs a consumer
    // that subscribes later still receives; numbers with a decimal point under a German locale.
    void stateAndDiscovery_data()
    {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<LoggerReading>("reading");
        QTest::addColumn<bool>("hasPm10");
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<QByteArray>("state"); // after "time"
        QTest::newRow("formaldehyde") << QByteArray("LV51") << Reading(12.3, 20.1, GasKind::Formaldehyde, 0.012) << true
                                      << QByteArray("C") << QByteArray(R"("pm2_5":12.3,"pm10":20.1,"formaldehyde":0.012,"model":"LV51"})");
        QTest::newRow("tvoc mean, German") << QByteArray("LV71") << Reading(7, 9.54, GasKind::Tvoc, 0.25, 5) << true
                                           << QByteArray("de_DE.UTF-8") << QByteArray(R"("pm2_5":7.0,"pm10":9.5,"tvoc":0.250,"readings":5,"model":"LV71"})");
        QTest::newRow("pm2.5 only") << QByteArray("LV10") << Reading(3.4, LoggerReading::kAbsent, GasKind::None, 0) << false
                                    << QByteArray("C") << QByteArray(R"("pm2_5":3.4,"model":"LV10"})");
    }
    void stateAndDiscovery()
    {
        QFETCH(QByteArray, model);
        QFETCH(LoggerReading, reading);
        QFETCH(bool, hasPm10);
        QFETCH(QByteArray, locale);
        QFETCH(QByteArray, state);
        QVERIFY(setlocale(LC_ALL, locale.constData()));
        QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
        const QByteArray serial = QByteArray(QTest::currentDataTag()).toHex().left(12);
        reading.model = model;
        reading.serial = serial;
        Subscriber consumer(m_Broker.port, "vostral/" + serial + "/#");
        QTRY_VERIFY_WITH_TIMEOUT(consumer.Subscribed(), kWait);
        MqttPublisher publisher(Options(m_Broker.port), Said());
        publisher.SensorOnline(serial, model, reading.gasKind, hasPm10);
        QTRY_COMPARE_WITH_TIMEOUT(consumer.Last("vostral/" + serial + "/availability"), QByteArray("online"), kWait);
        publisher.Publish(reading);
        QTRY_COMPARE_WITH_TIMEOUT(consumer.Last("vostral/" + serial + "/state"),
                                  "{\"time\":\"" + Csv_Time(reading.timeMs) + "\"," + state, kWait);
        setlocale(LC_ALL, "C");
        QLocale::setDefault(QLocale::c());

        Subscriber ha(m_Broker.port, "homeassistant/#");
        const QByteArray configTopics = "homeassistant/sensor/" + serial + "_#";
        const int quantities = 1 + hasPm10 + (reading.gasKind != GasKind::None);
        QTRY_COMPARE_WITH_TIMEOUT(ha.On(configTopics).size(), quantities, kWait);
        for (const Message& msg : ha.On(configTopics)) {
            QVERIFY(msg.retained);
            const QJsonObject c = QJsonDocument::fromJson(msg.payload).object();
            const QString key = c["unique_id"].toString().section('_', 2);
            QCOMPARE(msg.topic, "homeassistant/sensor/" + serial + "_" + key.toUtf8() + "/config");
            QVERIFY2(kQuantities.contains(key) && state.contains('"' + key.toUtf8() + '"'), msg.payload);
            QCOMPARE(c["unit_of_measurement"].toString(), kQuantities[key].first);
            QCOMPARE(c["device_class"].toString(), kQuantities[key].second);
            QCOMPARE(c["value_template"].toString().contains(key == "tvoc" ? "tvoc * 1000" : "value_json." + key), true);
            QCOMPARE(c["state_class"].toString(), QString("measurement"));
            QCOMPARE(c["state_topic"].toString(), QString("vostral/" + serial + "/state"));
            QCOMPARE(c["availability_topic"].toString(), QString("vostral/" + serial + "/availability"));
            const QJsonObject device = c["device"].toObject();
            QCOMPARE(device["identifiers"].toArray().first().toString(), QString("vostral_" + serial));
            QCOMPARE(device["name"].toString(), QString("Vostral " + model + " " + serial));
            QCOMPARE(device["manufacturer"].toString(), QString("Vostral"));
            QCOMPARE(device["model"].toString(), QString(model));
        }
        // Home Assistant restarted: every config goes out again
        mosquitto_publish(ha.m, nullptr, "homeassistant/status", 6, "online", 1, false);
        QTRY_COMPARE_WITH_TIMEOUT(ha.On(configTopics).size(), 2 * quantities, kWait);
    }

    // The retained availability through the sensor's life: the last will when the logger dies.
    void availability()
    {
        Subscriber consumer(m_Broker.port, "vostral/+/availability");
        QTRY_VERIFY_WITH_TIMEOUT(consumer.Subscribed(), kWait);
        MqttPublisher publisher(Options(m_Broker.port), Said());
        const QVector<QPair<std::function<void()>, QByteArray>> steps = {
            {[&] { publisher.SensorOnline("0000000000a1", "LV51", GasKind::None, true); }, "online"},
            {[&] { publisher.SensorOffline(); }, "offline"},
            {[&] { publisher.SensorOnline("0000000000a1", "LV51", GasKind::None, true); }, "online"},
            {[&] { publisher.Stop(); }, "offline"},
        };
        for (const auto& [step, expect] : steps) {
            const int before = consumer.On("vostral/0000000000a1/availability").size();
            step();
            QTRY_VERIFY_WITH_TIMEOUT(consumer.On("vostral/0000000000a1/availability").size() > before, kWait);
            QCOMPARE(consumer.Last("vostral/0000000000a1/availability"), expect);
        }
        QProcess child; // a logger that dies without a word
        child.start(QCoreApplication::applicationFilePath(), {"--publish-until-killed", QString::number(m_Broker.port)});
        QTRY_COMPARE_WITH_TIMEOUT(consumer.Last("vostral/0000000000b2/availability"), QByteArray("online"), kWait);
        child.kill();
        QTRY_COMPARE_WITH_TIMEOUT(consumer.Last("vostral/0000000000b2/availability"), QByteArray("offline"), kWait);
        Subscriber later(m_Broker.port, "vostral/0000000000b2/availability");
        QTRY_VERIFY_WITH_TIMEOUT(!later.On("vostral/#").isEmpty() && later.On("vostral/#").first().retained, kWait);
    }

    // The broker goes away and comes back (without its retained messages): the logger says so,
    // reconnects, announces itself again and sends fresh readings only.
    void brokerRestart()
    {
        Broker broker;
        QVERIFY(broker.Start());
        Subscriber consumer(broker.port);
        QTRY_VERIFY_WITH_TIMEOUT(consumer.Subscribed(), kWait);
        MqttPublisher publisher(Options(broker.port), Said());
        publisher.SensorOnline("0000000000c3", "LV51", GasKind::Formaldehyde, true);
        QTRY_VERIFY_WITH_TIMEOUT(publisher.Connected(), kWait);
        broker.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!publisher.Connected(), kWait);
        for (int i = 0; i < 5; ++i)
            publisher.Publish(Reading(900 + i, 1, GasKind::Formaldehyde, 0.001));
        QCOMPARE(publisher.Dropped(), 5);
        const int configs = consumer.On("homeassistant/#").size();
        QVERIFY(broker.Start());
        QTRY_VERIFY_WITH_TIMEOUT(consumer.On("homeassistant/#").size() >= 2 * configs, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(consumer.On("vostral/0000000000c3/availability").size() >= 2, kWait);
        QCOMPARE(consumer.Last("vostral/0000000000c3/availability"), QByteArray("online"));
        publisher.Publish(Reading(5, 6, GasKind::Formaldehyde, 0.002));
        QTRY_COMPARE_WITH_TIMEOUT(consumer.On("vostral/0000000000c3/state").size(), 1, kWait);
        QVERIFY(consumer.Last("vostral/0000000000c3/state").contains("\"pm2_5\":5.0"));
        m_Said = m_Said.filter(QRegularExpression("^(?!.*unreachable)")); // a retry before the broker was back
        QCOMPARE(m_Said, (QStringList{"connected to MQTT broker 127.0.0.1:" + QString::number(broker.port),
                                      "lost the connection to MQTT broker 127.0.0.1:" + QString::number(broker.port),
                                      "reconnected to MQTT broker 127.0.0.1:" + QString::number(broker.port)}));
    }

    // What the logger says about the connection: once per change, never the password.
    void connectionMessages_data()
    {
        QTest::addColumn<bool>("password");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("said");
        QTest::newRow("anonymous") << false << "" << "" << true << "connected to MQTT broker 127.0.0.1:";
        QTest::newRow("right password") << true << "vostral" << "s3cret" << true << "connected to MQTT broker 127.0.0.1:";
        QTest::newRow("wrong password") << true << "vostral" << "wr0ng" << true << "refused the connection: not authorised";
        QTest::newRow("no broker") << false << "" << "" << false << "unreachable: Connection refused";
    }
    void connectionMessages()
    {
        QFETCH(bool, password);
        QFETCH(QString, user);
        QFETCH(QString, secret);
        QFETCH(bool, listening);
        QFETCH(QString, said);
        Broker broker;
        QVERIFY(!listening || broker.Start(password));
        MqttOptions o = Options(broker.port);
        o.user = user;
        o.password = secret;
        MqttPublisher publisher(o, Said());
        publisher.SensorOnline("0000000000d4", "LV51", GasKind::None, true);
        QTRY_COMPARE_WITH_TIMEOUT(m_Said.size(), 1, kWait);
        QTest::qWait(3500); // retries after 1 s and 2 s
        QCOMPARE(m_Said.size(), 1);
        QVERIFY2(m_Said[0].contains(said) && (secret.isEmpty() || !m_Said[0].contains(secret)), qPrintable(m_Said[0]));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--publish-until-killed") == 0) {
        MqttPublisher publisher(Options(atoi(argv[2])), {});
        publisher.SensorOnline("0000000000b2", "LV51", GasKind::None, true);
        return app.exec();
    }
    TestLoggerMqtt test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_loggermqtt.moc"
