// The logger's MQTT side against Debian's mosquitto, started by the test on 127.0.0.1 on a free
// port; a second libmosquitto client subscribes and sees what a consumer sees.
#include "csvformat.h"
#include "mqttpublisher.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include "freeport.h"

#include <QtTest>
#include <mosquitto.h>

#include <arpa/inet.h>
#include <atomic>
#include <clocale>
#include <csignal>
#include <mutex>
#include <tuple>
#include <unistd.h>

namespace {
constexpr int kWait = 10000; // ms: every wait ends, whatever the broker does

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
        if (password && QProcess::execute("mosquitto_passwd", {"-b", "-c", dir.filePath("pw"), "vostral", "s3cret"}) == 0)
            conf.write("allow_anonymous false\npassword_file " + dir.filePath("pw").toUtf8() + "\n");
        else
            conf.write("allow_anonymous true\n");
        conf.close();
        process.setReadChannel(QProcess::StandardError);
        process.start("/usr/sbin/mosquitto", {"-c", conf.fileName()});
        QByteArray log;
        for (QDeadlineTimer end(kWait); !log.contains(" running") && !end.hasExpired() && process.state();)
            log += process.waitForReadyRead(100) ? process.readAll() : QByteArray();
        return log.contains(" running"); // said once every listener is open
    }
    void Stop()
    {
        process.terminate();
        if (!process.waitForFinished(kWait))
            process.kill();
    }
    ~Broker() { Stop(); }
};

// What a consumer subscribed to a pattern receives; comes back by itself after a broker restart.
struct Subscriber {
    struct Message {
        QByteArray topic, payload;
        bool retained;
    };
    mosquitto* m = mosquitto_new(nullptr, true, this);
    QByteArray pattern;
    std::mutex mutex;
    QVector<Message> got;
    std::atomic<bool> subscribed{false};

    Subscriber(int port, const QByteArray& pattern = "#") : pattern(pattern)
    {
        mosquitto_connect_callback_set(m, [](mosquitto* m, void* s, int) {
            mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(s)->pattern.constData(), 1);
        });
        mosquitto_subscribe_callback_set(m, [](mosquitto*, void* s, int, int, const int*) { static_cast<Subscriber*>(s)->subscribed = true; });
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
    // The messages on a topic, or on every topic under it for "a/b/#" (also "a/b_#": a prefix).
    QVector<Message> On(const QByteArray& topic)
    {
        std::lock_guard<std::mutex> lock(mutex);
        QVector<Message> out;
        std::copy_if(got.begin(), got.end(), std::back_inserter(out), [&](const Message& msg) {
            return topic.endsWith('#') ? msg.topic.startsWith(topic.chopped(1)) : msg.topic == topic;
        });
        return out;
    }
    QByteArray Last(const QByteArray& topic)
    {
        const QVector<Message> all = On(topic);
        return all.isEmpty() ? QByteArray() : all.last().payload;
    }
};

// A plain TCP listener of the test's own that keeps what each connection sends first; with
// connack it plays a broker that lets the client in and drops it at once.
struct Listener {
    QTcpServer server;
    QVector<QByteArray> got; // per connection
    QVector<qint64> at;      // ms after the start, per connection
    QElapsedTimer clock;

    explicit Listener(bool connack)
    {
        clock.start();
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this, connack] {
            QTcpSocket* s = server.nextPendingConnection();
            got.append(QByteArray());
            at.append(clock.elapsed());
            QObject::connect(s, &QTcpSocket::readyRead, [this, s, i = got.size() - 1, connack] {
                got[i] += s->readAll();
                // A broker drops a client it let in a moment later, not within the same read
                s->write(connack ? QByteArray("\x20\x02\x00\x00", 4) : QByteArray());
                QTimer::singleShot(connack ? 600 : 0, s, [s] { s->disconnectFromHost(); });
            });
        });
    }
};

MqttOptions Options(int port, const QString& user = {}, const QString& password = {})
{
    return MqttOptions{true, "127.0.0.1", port, false, {}, user, password};
}

LoggerReading Reading(const char* model, double pm25, double pm10, GasKind kind, double gas, int readings = 1)
{
    LoggerReading r;
    r.timeMs = 1796716801000LL; // 2026-12-08T08:00:01Z
    std::tie(r.model, r.pm25, r.pm10, r.gasKind, r.gas, r.readings) = std::make_tuple(model, pm25, pm10, kind, gas, readings);
    return r;
}

// What Home Assistant needs of each quantity's config: its unit and device class.
const QMap<QString, QPair<QString, QString>> kQuantities = {{"pm2_5", {"µg/m³", "pm25"}}, {"pm10", {"µg/m³", "pm10"}},
    {"formaldehyde", {"mg/m³", ""}}, {"tvoc", {"µg/m³", "volatile_organic_compounds"}}};
// Home Assistant's sensor device classes and the units each allows (its documentation).
const QMap<QString, QStringList> kHaUnits = {{"pm25", {"µg/m³"}}, {"pm10", {"µg/m³"}},
    {"volatile_organic_compounds", {"µg/m³", "mg/m³"}}};
} // namespace

Q_DECLARE_METATYPE(LoggerReading)

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
        QFile credential(m_Broker.dir.filePath("mqtt-password")); // as systemd's LoadCredential= leaves it
        QVERIFY(credential.open(QIODevice::WriteOnly) && credential.write("cr3dential\n") > 0);
    }

    void options_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QByteArray>("env"); // VOSTRAL_MQTT_PASSWORD
        QTest::addColumn<QString>("expect"); // the options read, or the start of the message
        QTest::addColumn<bool>("credential"); // $CREDENTIALS_DIRECTORY/mqtt-password holds cr3dential
        // The arguments decoded as Qt decodes argv
        const auto row = [](const char* tag, const char* args, const char* env, const char* expect, bool credential = false) {
            QTest::newRow(tag) << QString::fromLocal8Bit(args) << QByteArray(env) << QString(expect) << credential;
        };
        row("none", "", "", "off");
        row("defaults", "--mqtt mqtt://127.0.0.1", "", "127.0.0.1:1883 tls0 qos0 ha1 vostral homeassistant  ");
        row("all", "--mqtt mqtts://broker.lan --mqtt-qos 1 --ha-discovery off --mqtt-prefix home/air --ha-prefix ha --mqtt-user u",
            "s3cret", "broker.lan:8883 tls1 qos1 ha0 home/air ha u s3cret");
        row("password file", "--mqtt mqtt://h:1884 --mqtt-user u --mqtt-password-file PW", "other",
            "h:1884 tls0 qos0 ha1 vostral homeassistant u s3cret");
        row("scheme", "--mqtt http://h", "", "--mqtt takes");
        row("port 0", "--mqtt mqtt://h:0", "", "--mqtt: the port");
        row("port 65536", "--mqtt mqtt://h:65536", "", "--mqtt takes");
        row("password in URL", "--mqtt mqtt://u:s3cret@h", "", "--mqtt: no user");
        row("qos 2", "--mqtt mqtt://h --mqtt-qos 2", "", "--mqtt-qos");
        row("discovery yes", "--mqtt mqtt://h --ha-discovery yes", "", "--ha-discovery");
        row("wildcard", "--mqtt mqtt://h --mqtt-prefix a/#", "", "--mqtt-prefix");
        row("ca without tls", "--mqtt mqtt://h --mqtt-ca PW", "", "--mqtt-ca needs");
        row("no broker", "--mqtt-user u", "", "--mqtt-user needs --mqtt");
        row("password, no user", "--mqtt mqtt://h", "s3cret", "a broker password");
        row("no password file", "--mqtt mqtt://h --mqtt-user u --mqtt-password-file /nonexistent", "", "--mqtt-password-file: cannot read");
        row("password option", "--mqtt mqtt://h --mqtt-password s3cret", "", "Unknown option");
        row("credential", "--mqtt mqtt://h --mqtt-user u", "", "h:1883 tls0 qos0 ha1 vostral homeassistant u cr3dential", true);
        row("variable before credential", "--mqtt mqtt://h --mqtt-user u", "s3cret", "h:1883 tls0 qos0 ha1 vostral homeassistant u s3cret", true);
        row("credential, no user", "--mqtt mqtt://h", "", "a broker password", true);
        row("control character", "--mqtt mqtt://h --mqtt-prefix a\x01" "b", "", "--mqtt-prefix: a topic prefix must be UTF-8");
        row("C1 control", "--mqtt mqtt://h --ha-prefix a\xc2\x85" "b", "", "--ha-prefix: a topic prefix must be UTF-8");
        row("invalid UTF-8", "--mqtt mqtt://h --mqtt-prefix a\xff" "b", "", "--mqtt-prefix: a topic prefix must be UTF-8");
        row("user: surrogate", "--mqtt mqtt://h --mqtt-user a\xed\xa0\x80", "", "--mqtt-user: the name must be UTF-8");
        row("user: DEL", "--mqtt mqtt://h --mqtt-user a\x7f", "", "--mqtt-user: the name must be UTF-8");
    }
    void options()
    {
        QFETCH(QString, args);
        QFETCH(QByteArray, env);
        QFETCH(QString, expect);
        QFETCH(bool, credential);
        env.isEmpty() ? qunsetenv("VOSTRAL_MQTT_PASSWORD") : qputenv("VOSTRAL_MQTT_PASSWORD", env);
        credential ? qputenv("CREDENTIALS_DIRECTORY", m_Broker.dir.path().toUtf8()) : qunsetenv("CREDENTIALS_DIRECTORY");
        QCommandLineParser parser;
        Mqtt_AddOptions(&parser);
        MqttOptions o;
        QString said;
        if (!parser.parse(("vostral-logger " + args.replace("PW", m_Broker.dir.filePath("pw.txt"))).split(' ', Qt::SkipEmptyParts)))
            said = parser.errorText();
        else if (!Mqtt_ReadOptions(parser, &o, &said))
            QVERIFY2(!said.contains("s3cret"), qPrintable(said));
        else
            said = !o.enabled ? "off"
                              : QStringLiteral("%1:%2 tls%3 qos%4 ha%5 %6 %7 %8 %9")
                                    .arg(o.host).arg(o.port).arg(int(o.tls)).arg(o.qos).arg(int(o.haDiscovery))
                                    .arg(o.prefix, o.haPrefix, o.user, o.password);
        qunsetenv("VOSTRAL_MQTT_PASSWORD");
        qunsetenv("CREDENTIALS_DIRECTORY");
        QVERIFY2(said.startsWith(expect), qPrintable(said));
    }

    // The state message as a consumer receives it, and the retained discovery configs a consumer
    // that subscribes later still receives; numbers with a decimal point under a German locale.
    void stateAndDiscovery_data()
    {
        QTest::addColumn<LoggerReading>("reading");
        QTest::addColumn<bool>("hasPm10");
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<QByteArray>("state"); // after "time"
        QTest::newRow("formaldehyde") << Reading("LV51", 12.3, 20.1, GasKind::Formaldehyde, 0.012) << true << QByteArray("C")
                                      << QByteArray(R"("pm2_5":12.3,"pm10":20.1,"formaldehyde":0.012,"model":"LV51"})");
        QTest::newRow("tvoc mean, German") << Reading("LV71", 7, 9.54, GasKind::Tvoc, 0.25, 5) << true << QByteArray("de_DE.UTF-8")
                                           << QByteArray(R"("pm2_5":7.0,"pm10":9.5,"tvoc":0.250,"readings":5,"model":"LV71"})");
        QTest::newRow("pm2.5 only") << Reading("LV10", 3.4, LoggerReading::kAbsent, GasKind::None, 0) << false << QByteArray("C")
                                    << QByteArray(R"("pm2_5":3.4,"model":"LV10"})");
    }
    void stateAndDiscovery()
    {
        QFETCH(LoggerReading, reading);
        QFETCH(bool, hasPm10);
        QFETCH(QByteArray, locale);
        QFETCH(QByteArray, state);
        QVERIFY(setlocale(LC_ALL, locale.constData()));
        QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
        const QByteArray serial = reading.serial = QByteArray(QTest::currentDataTag()).toHex().left(12);
        Subscriber consumer(m_Broker.port, "vostral/" + serial + "/#");
        QTRY_VERIFY_WITH_TIMEOUT(consumer.subscribed, kWait);
        MqttPublisher publisher(Options(m_Broker.port), Said());
        publisher.SensorOnline(serial, reading.model, reading.gasKind, hasPm10);
        QTRY_COMPARE_WITH_TIMEOUT(consumer.Last("vostral/" + serial + "/availability"), QByteArray("online"), kWait);
        publisher.Publish(reading);
        QTRY_COMPARE_WITH_TIMEOUT(consumer.Last("vostral/" + serial + "/state"), "{\"time\":\"" + Csv_Time(reading.timeMs) + "\"," + state, kWait);
        setlocale(LC_ALL, "C");
        QLocale::setDefault(QLocale::c());

        Subscriber ha(m_Broker.port, "homeassistant/#"); // comes later: the configs are retained
        const QByteArray configs = "homeassistant/sensor/" + serial + "_#";
        const int quantities = 1 + hasPm10 + (reading.gasKind != GasKind::None);
        QTRY_COMPARE_WITH_TIMEOUT(ha.On(configs).size(), quantities, kWait);
        for (const Subscriber::Message& msg : ha.On(configs)) {
            const QJsonObject c = QJsonDocument::fromJson(msg.payload).object();
            const QString key = c["unique_id"].toString().section('_', 2);
            QVERIFY2(msg.retained && kQuantities.contains(key) && state.contains('"' + key.toUtf8() + '"'), msg.payload);
            QCOMPARE(msg.topic, "homeassistant/sensor/" + serial + "_" + key.toUtf8() + "/config");
            const QJsonObject device = c["device"].toObject();
            const QStringList got = {c["unit_of_measurement"].toString(), c["device_class"].toString(), c["state_class"].toString(),
                                     c["state_topic"].toString(), c["availability_topic"].toString(),
                                     device["identifiers"].toArray().first().toString(), device["name"].toString(),
                                     device["manufacturer"].toString(), device["model"].toString()};
            QCOMPARE(got, (QStringList{kQuantities[key].first, kQuantities[key].second, "measurement", "vostral/" + serial + "/state",
                                       "vostral/" + serial + "/availability", "vostral_" + serial,
                                       "Vostral " + reading.model + " " + serial, "Vostral", reading.model}));
            QVERIFY(c["value_template"].toString().contains(key == "tvoc" ? "tvoc * 1000" : "value_json." + key));
            // Home Assistant's documented rules: the units a device class allows, no deprecated
            // keys, the entity id it is to get, who sent it, when it goes stale.
            QVERIFY2(!c.contains("device_class") || kHaUnits.value(c["device_class"].toString()).contains(c["unit_of_measurement"].toString()), msg.payload);
            QVERIFY2(!c.contains("object_id") && c["default_entity_id"].toString() == "sensor." + c["unique_id"].toString(), msg.payload);
            const QJsonObject origin = c["o"].toObject();
            QVERIFY2(origin["name"] == "vostral-logger" && origin["sw"] == VOSTRAL_VERSION && origin["url"].toString().startsWith("https://"), msg.payload);
            QCOMPARE(c["expire_after"].toInt(), 60);
        }
        QVERIFY(!consumer.On("vostral/" + serial + "/state").last().retained);
        // Home Assistant restarted: every config goes out again
        mosquitto_publish(ha.m, nullptr, "homeassistant/status", 6, "online", 1, false);
        QTRY_COMPARE_WITH_TIMEOUT(ha.On(configs).size(), 2 * quantities, kWait);
    }

    // The retained availability through the sensor's life: the last will when the logger dies.
    void availability()
    {
        Subscriber consumer(m_Broker.port, "vostral/+/availability");
        QTRY_VERIFY_WITH_TIMEOUT(consumer.subscribed, kWait);
        MqttPublisher publisher(Options(m_Broker.port), Said());
        const QVector<QPair<std::function<void()>, QByteArray>> steps = {
            {[&] { publisher.SensorOnline("0000000000a1", "LV51", GasKind::None, true); }, "online"},
            {[&] { publisher.SensorOffline(); }, "offline"},
            {[&] { publisher.SensorOnline("0000000000a1", "LV51", GasKind::None, true); }, "online"},
            {[&] { publisher.Stop(); }, "offline"},
        };
        const QByteArray topic = "vostral/0000000000a1/availability";
        for (const auto& [step, expect] : steps) {
            const int before = consumer.On(topic).size();
            step();
            QTRY_VERIFY_WITH_TIMEOUT(consumer.On(topic).size() > before, kWait);
            QCOMPARE(consumer.Last(topic), expect);
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
        QTRY_VERIFY_WITH_TIMEOUT(consumer.subscribed, kWait);
        MqttPublisher publisher(Options(broker.port), Said());
        publisher.SensorOnline("0000000000c3", "LV51", GasKind::Formaldehyde, true);
        QTRY_VERIFY_WITH_TIMEOUT(publisher.Connected(), kWait);
        broker.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!publisher.Connected(), kWait);
        for (int i = 0; i < 5; ++i)
            publisher.Publish(Reading("LV51", 900 + i, 1, GasKind::Formaldehyde, 0.001));
        QCOMPARE(publisher.Dropped(), 5);
        const int configs = consumer.On("homeassistant/#").size();
        QVERIFY(broker.Start());
        QTRY_VERIFY_WITH_TIMEOUT(consumer.On("homeassistant/#").size() >= 2 * configs, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(consumer.On("vostral/0000000000c3/availability").size() >= 2, kWait);
        QCOMPARE(consumer.Last("vostral/0000000000c3/availability"), QByteArray("online"));
        publisher.Publish(Reading("LV51", 5, 6, GasKind::Formaldehyde, 0.002));
        QTRY_COMPARE_WITH_TIMEOUT(consumer.On("vostral/0000000000c3/state").size(), 1, kWait);
        QVERIFY(consumer.Last("vostral/0000000000c3/state").contains("\"pm2_5\":5.0"));
        m_Said = m_Said.filter(QRegularExpression("^(?!.*unreachable)")); // a retry before the broker was back
        QCOMPARE(m_Said, (QStringList{"connected to MQTT broker 127.0.0.1:" + QString::number(broker.port),
                                      "lost the connection to MQTT broker 127.0.0.1:" + QString::number(broker.port),
                                      "reconnected to MQTT broker 127.0.0.1:" + QString::number(broker.port)}));
        publisher.Stop(); // the readings of the outage are said, with their cause
        QVERIFY2(QRegularExpression("^MQTT: 5 readings not published in the last \\d+ s \\(not connected: 5\\)$").match(m_Said.last()).hasMatch(),
                 qPrintable(m_Said.last()));
    }

    // mqtts:// with a CA file gone by the first attempt: nothing goes out until it is back, then
    // only TLS. The listener is plain TCP: it sees at most a ClientHello, never a CONNECT.
    void tlsFailsClosed()
    {
        Listener plain(false);
        QTemporaryDir dir;
        const QString ca = dir.filePath("ca.pem");
        QVERIFY(QFile::copy(QFINDTESTDATA("data/test-ca.pem"), ca));
        qputenv("VOSTRAL_MQTT_PASSWORD", "s3cret");
        QCommandLineParser parser;
        Mqtt_AddOptions(&parser);
        MqttOptions o;
        QString error;
        QVERIFY(parser.parse({"vostral-logger", "--mqtt", "mqtts://127.0.0.1:" + QString::number(plain.server.serverPort()),
                              "--mqtt-ca", ca, "--mqtt-user", "vostral"}) && Mqtt_ReadOptions(parser, &o, &error));
        qunsetenv("VOSTRAL_MQTT_PASSWORD");
        QVERIFY(QFile::rename(ca, ca + ".away"));
        MqttPublisher publisher(o, Said());
        publisher.SensorOnline("0000000000e5", "LV51", GasKind::None, true);
        QTRY_VERIFY_WITH_TIMEOUT(!m_Said.isEmpty(), kWait);
        QTest::qWait(1500); // the retry after 1 s fails alike: said once
        QCOMPARE(m_Said, QStringList{"MQTT: TLS set-up failed: cannot read " + ca + ": No such file or directory; not connecting without it"});
        QVERIFY(plain.got.isEmpty());
        QVERIFY(QFile::rename(ca + ".away", ca));
        QTRY_VERIFY_WITH_TIMEOUT(!plain.got.isEmpty() && !plain.got[0].isEmpty(), kWait);
        QVERIFY2(plain.got[0].startsWith("\x16\x03"), plain.got[0].toHex().constData()); // a TLS handshake record
        for (const QByteArray& bytes : plain.got)
            QVERIFY2(!bytes.contains("MQTT") && !bytes.contains("vostral") && !bytes.contains("s3cret"), bytes.toHex().constData());
    }

    // A broker that lets the client in and drops it at once: the attempts still back off.
    void backoffAfterDrop()
    {
        Listener broker(true);
        MqttPublisher publisher(Options(broker.server.serverPort()), Said());
        publisher.SensorOnline("0000000000f6", "LV51", GasKind::None, true);
        QTRY_VERIFY_WITH_TIMEOUT(broker.at.size() >= 4, 2 * kWait); // 1, 2 and 4 s after each drop
        const QVector<qint64> gaps = {broker.at[1] - broker.at[0], broker.at[2] - broker.at[1], broker.at[3] - broker.at[2]};
        QVERIFY2(gaps[0] >= 900 && gaps[1] >= 1900 && gaps[2] >= 3900, qPrintable(QString("%1 %2 %3").arg(gaps[0]).arg(gaps[1]).arg(gaps[2])));
        QVERIFY2(m_Said.contains("reconnected to MQTT broker 127.0.0.1:" + QString::number(broker.server.serverPort())), qPrintable(m_Said.join('\n')));
    }

    // What the logger says about the connection: once per change, never the password.
    void connectionMessages_data()
    {
        QTest::addColumn<bool>("password"); // the broker takes only vostral/s3cret
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QStringList>("credentials");
        QTest::addColumn<QString>("said");
        QTest::newRow("anonymous") << false << true << QStringList{"", ""} << "connected to MQTT broker 127.0.0.1:";
        QTest::newRow("right password") << true << true << QStringList{"vostral", "s3cret"} << "connected to MQTT broker 127.0.0.1:";
        QTest::newRow("wrong password") << true << true << QStringList{"vostral", "wr0ng"} << "refused the connection: not authorised";
        QTest::newRow("no broker") << false << false << QStringList{"", ""} << "unreachable: Connection refused";
    }
    void connectionMessages()
    {
        QFETCH(bool, password);
        QFETCH(bool, listening);
        QFETCH(QStringList, credentials);
        QFETCH(QString, said);
        Broker broker;
        QVERIFY(!listening || broker.Start(password));
        MqttPublisher publisher(Options(broker.port, credentials[0], credentials[1]), Said());
        publisher.SensorOnline("0000000000d4", "LV51", GasKind::None, true);
        QTRY_COMPARE_WITH_TIMEOUT(m_Said.size(), 1, kWait);
        QTest::qWait(3500); // retries after 1 s and 2 s: not said again
        QCOMPARE(m_Said.size(), 1);
        QVERIFY2(m_Said[0].contains(said) && (credentials[1].isEmpty() || !m_Said[0].contains(credentials[1])), qPrintable(m_Said[0]));
    }

#ifdef VOSTRAL_LOGGER
    // The real logger under the simulated sensor: the state messages are what it recorded, the
    // availability follows the sensor and the logger's death, and a broker outage or a wrong
    // password costs the day file nothing.
    void loggerEndToEnd_data()
    {
        QTest::addColumn<bool>("wrongPassword");
        QTest::newRow("broker restart, replug, kill -9") << false;
        QTest::newRow("wrong password") << true;
    }
    void loggerEndToEnd()
    {
        QFETCH(bool, wrongPassword);
        Broker broker;
        QVERIFY(broker.Start(wrongPassword));
        Subscriber consumer(broker.port, "vostral/#"); // anonymous: shut out by the password broker
        QTRY_VERIFY_WITH_TIMEOUT(consumer.subscribed || wrongPassword, kWait);
        QTemporaryDir out;
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (wrongPassword)
            env.insert("VOSTRAL_MQTT_PASSWORD", "wr0ng");
        run.setProcessEnvironment(env);
        run.setStandardErrorFile(out.filePath("said.txt"));
        run.start(VOSTRAL_SIM, QStringList{"--readings", "ramp:10,1", "--replug-after", "7000", "--replug-delay", "2000", "--",
                                           VOSTRAL_LOGGER, "--out", out.path(), "--clock-wait", "0", "--mqtt", QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port)}
                                   + (wrongPassword ? QStringList{"--mqtt-user", "vostral"} : QStringList{}));
        QTest::qWait(3000);
        broker.Stop();
        QTest::qWait(2000);
        QVERIFY(broker.Start(wrongPassword));
        QTest::qWait(8000);
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(run.processId()));
        QVERIFY(children.open(QIODevice::ReadOnly));
        ::kill(children.readAll().trimmed().toInt(), SIGKILL);
        QVERIFY(run.waitForFinished(kWait));
        QFile saidFile(out.filePath("said.txt"));
        saidFile.open(QIODevice::ReadOnly);
        const QString said = saidFile.readAll();
        QFile csv(out.filePath(QDir(out.path()).entryList({"20*.csv"}).value(0)));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n').mid(1, -1);
        // Recording went on throughout (the sensor may be slow to come back on a busy machine).
        QVERIFY2(lines.size() >= 6, qPrintable(said));
        if (wrongPassword) {
            QVERIFY2(said.contains("refused the connection: not authorised") && !said.contains("wr0ng"), qPrintable(said));
            return;
        }
        // Every state message is a reading of the day file; availability: online, offline while
        // the sensor was out, online again, and the last will when the logger died.
        const QVector<Subscriber::Message> states = consumer.On("vostral/#");
        int published = 0;
        for (const Subscriber::Message& m : states) {
            if (!m.topic.endsWith("/state"))
                continue;
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            const QByteArray time = o["time"].toString().toUtf8();
            const auto line = std::find_if(lines.begin(), lines.end(), [&](const QByteArray& l) { return l.startsWith(time + ','); });
            QVERIFY2(line != lines.end() && line->split(',')[1].toDouble() == o["pm2_5"].toDouble(), m.payload.constData());
            ++published;
        }
        QVERIFY(published >= 3);
        QByteArrayList availability;
        for (const Subscriber::Message& m : states) {
            if (m.topic.endsWith("/availability") && (availability.isEmpty() || availability.last() != m.payload))
                availability << m.payload;
        }
        // (The broker going down may say "offline" for the logger, and the logger "online" again.)
        QVERIFY2(availability.first() == "online" && availability.mid(availability.size() - 4) == (QByteArrayList{"online", "offline", "online", "offline"}),
                 qPrintable(availability.join(' ') + said));
    }
#endif
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
