// The logger's Prometheus output: its text after a sequence of events (once more under a
// decimal-comma locale, see CMakeLists.txt), and the real logger under the simulated sensor
// scraped by Debian's Prometheus, started by the test on 127.0.0.1 on a free port.
#include "prometheusmetrics.h"
#include "prometheusoptions.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {
using Steps = std::function<void(PrometheusState*)>;

SensorInfo Sensor(const QByteArray& model = "LV51", const QByteArray& serial = "0123456789ab")
{
    return {serial, model, 130, model != "LV10", true, "on USB"};
}

LoggerReading Live(double pm25, double pm10, GasKind kind, double gas, bool held = false, bool history = false)
{
    LoggerReading r; // held and history values older than the live one
    std::tie(r.timeMs, r.pm25, r.pm10, r.gasKind, r.gas, r.held, r.history) = std::make_tuple(1796716801250LL - held * 5000 - history * 300000, pm25, pm10, kind, gas, held, history);
    return r;
}

QString FreePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return QString::number(server.serverPort());
}

// The body of a 200 answer, or nothing after 5 s.
QByteArray Get(const QString& url, QByteArray* type = nullptr)
{
    static QNetworkAccessManager net;
    net.setProxy(QNetworkProxy::NoProxy);
    const std::unique_ptr<QNetworkReply> reply(net.get(QNetworkRequest(QUrl(url))));
    (void)QTest::qWaitFor([&] { return reply->isFinished(); }, 5000);
    if (type)
        *type = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200 ? reply->readAll() : QByteArray();
}
} // namespace

Q_DECLARE_METATYPE(Steps)

class TestLoggerPrometheus : public QObject {
    Q_OBJECT
private slots:
    void exposition_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QString>("labels");  // of every sample
        QTest::addColumn<QString>("samples"); // without the labels, vostral_ and the units
        const QString lv51 = R"(serial="0123456789ab",model="LV51")";
        QTest::newRow("no sensor yet") << Steps([](PrometheusState*) {}) << "" << "sensor_up 0";
        QTest::newRow("formaldehyde") << Steps([](PrometheusState* s) {
            Prometheus_Found(s, Sensor()), Prometheus_Reading(s, Live(12.3, 20.1, GasKind::Formaldehyde, 0.012));
        }) << lv51 << "sensor_up 1, pm2_5 12.3, pm10 20.1, formaldehyde 0.012, last_reading_timestamp_seconds 1796716801.250, readings_total 1, frames_refused_total 0, sensor_losses_total 0";
        QTest::newRow("no PM10, old news") << Steps([](PrometheusState* s) {
            Prometheus_Found(s, Sensor("LV10")), Prometheus_Reading(s, Live(7, 9, GasKind::Tvoc, 0.25));
            Prometheus_Reading(s, Live(98, 99, GasKind::Tvoc, 1, true)), Prometheus_Reading(s, Live(96, 97, GasKind::Tvoc, 1, false, true));
        }) << R"(serial="0123456789ab",model="LV10")" << "sensor_up 1, pm2_5 7.0, tvoc 0.250, last_reading_timestamp_seconds 1796716801.250, readings_total 2, frames_refused_total 0, sensor_losses_total 0";
        QTest::newRow("lost, last reading after") << Steps([](PrometheusState* s) {
            Prometheus_Found(s, Sensor()), s->framesRefused = 2, Prometheus_Lost(s);
            Prometheus_Reading(s, Live(5, 6, GasKind::None, LoggerReading::kAbsent));
        }) << lv51 << "sensor_up 0, last_reading_timestamp_seconds 1796716801.250, readings_total 1, frames_refused_total 2, sensor_losses_total 1";
        QTest::newRow("back, no reading yet") << Steps([](PrometheusState* s) {
            Prometheus_Found(s, Sensor()), Prometheus_Lost(s);
            Prometheus_Reading(s, Live(5, 6, GasKind::None, LoggerReading::kAbsent)), Prometheus_Found(s, Sensor());
        }) << lv51 << "sensor_up 1, last_reading_timestamp_seconds 1796716801.250, readings_total 1, frames_refused_total 0, sensor_losses_total 1";
        QTest::newRow("another sensor, impossible values, escaped labels") << Steps([](PrometheusState* s) {
            Prometheus_Found(s, Sensor()), Prometheus_Lost(s), Prometheus_Found(s, Sensor("L\"V\\5\n1\xff", "abc"));
            Prometheus_Reading(s, Live(-1, qInf(), GasKind::Formaldehyde, LoggerReading::kAbsent));
        }) << QString::fromUtf8(R"(serial="abc",model="L\"V\\5\n1)" "\xef\xbf\xbd\"")
           << "sensor_up 1, last_reading_timestamp_seconds 1796716801.250, readings_total 1, frames_refused_total 0, sensor_losses_total 0";
    }
    void exposition()
    {
        QFETCH(Steps, steps);
        QFETCH(QString, labels);
        QFETCH(QString, samples);
        PrometheusState state;
        steps(&state);
        const QByteArray text = Prometheus_Text(state);
        QStringList got, gotLabels;
        const QRegularExpression sample(R"(^vostral_(\w+?)(_micrograms_per_cubic_meter|_milligrams_per_cubic_meter)?(\{(.*)\})? (.*)$)");
        for (const QString& line : QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch m = sample.match(line);
            if (!line.startsWith('#'))
                got << (m.hasMatch() ? m.captured(1) + ' ' + m.captured(5) : line), gotLabels << m.captured(4);
        }
        gotLabels.removeDuplicates();
        QCOMPARE(got.join(", "), samples);
        QCOMPARE(gotLabels, QStringList{labels});
        // Parsed by Prometheus's own tool (the last line ended too), every family with its HELP and
        // TYPE and named as its linter wants; but the units keep the names people know, not grams.
        if (QFile::exists("/usr/bin/promtool")) {
            QProcess lint;
            lint.setProcessChannelMode(QProcess::MergedChannels);
            lint.start("/usr/bin/promtool", {"check", "metrics"});
            QVERIFY(lint.write(text) == text.size() && (lint.closeWriteChannel(), lint.waitForFinished()));
            const QString said = lint.readAll();
            QVERIFY2(lint.exitCode() == 0 || (lint.exitCode() == 3 && said.count('\n') == said.count("use base unit \"grams\"")), qPrintable(said));
        }
    }

#ifdef VOSTRAL_LOGGER
    // The real logger under the simulated sensor, scraped every second by a real Prometheus:
    // what it stores are values of the day file; once the sensor is pulled, the sensor is down
    // and its PM2.5 gone. A second logger on the same port ends at once.
    void scrapedByPrometheus()
    {
        QTemporaryDir dir;
        const QString port = FreePort(), web = "http://127.0.0.1:" + FreePort();
        QFile config(dir.filePath("prometheus.yml"));
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: vostral\n"
                                                                  "    static_configs:\n      - targets: ['127.0.0.1:" + port.toUtf8() + "']\n") > 0
                && config.flush());
        QProcess prometheus, logger; // Prometheus is killed at the end, its data is in dir
        prometheus.start("/usr/bin/prometheus", {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("tsdb"),
                                                 "--web.listen-address=" + web.mid(7), "--log.level=warn"});
        QElapsedTimer clock;
        clock.start();
        logger.start(VOSTRAL_SIM, {"--readings", "ramp:10,1", "--unplug-after", "10000", "--", VOSTRAL_LOGGER, "--clock-wait", "0",
                                   "--out", dir.filePath("out"), "--prometheus", "127.0.0.1:" + port});
        QByteArray type;
        QTRY_VERIFY_WITH_TIMEOUT(!Get("http://127.0.0.1:" + port + "/metrics", &type).isEmpty(), 5000);
        QCOMPARE(type, QByteArray("text/plain; version=0.0.4; charset=utf-8"));
        QProcess second; // the address by default
        second.start(VOSTRAL_LOGGER, {"--clock-wait", "0", "--out", dir.filePath("out2"), "--prometheus", port});
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().endsWith("\nvostral-logger: cannot serve Prometheus metrics on 127.0.0.1:" + port.toUtf8() + ": Address already in use\n"));
        for (const char* bad : {"::1:9101", "localhost:9101", "65536"}) // usage errors
            QCOMPARE(QProcess::execute(VOSTRAL_LOGGER, {"--out", dir.filePath("out2"), "--prometheus", bad}), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!Get(web + "/-/ready").isEmpty(), 10000);

        const auto query = [&](const QString& promql) {
            return QJsonDocument::fromJson(Get(web + "/api/v1/query?query=" + QUrl::toPercentEncoding(promql)))["data"]["result"].toArray();
        };
        const auto value = [&](const QString& promql) { return query(promql).at(0)["value"][1].toString(); };
        QTRY_COMPARE_WITH_TIMEOUT(value("vostral_sensor_up"), QString("1"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(value("vostral_sensor_up"), QString("0"), 22000 - int(clock.elapsed())); // 12 s after the unplug
        QVERIFY(query("vostral_pm2_5_micrograms_per_cubic_meter").isEmpty());

        QSet<double> inFile, stored;
        QFile csv(dir.filePath("out/" + QDir(dir.filePath("out")).entryList({"20*.csv"}).value(0)));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        for (const QByteArray& line : csv.readAll().trimmed().split('\n').mid(1))
            inFile << line.split(',').value(1).toDouble();
        for (const QJsonValue& v : query("vostral_pm2_5_micrograms_per_cubic_meter[1m]").at(0)["values"].toArray()) {
            QVERIFY2(inFile.contains(v[1].toString().toDouble()), qPrintable(v[1].toString()));
            stored << v[1].toString().toDouble();
        }
        QVERIFY2(stored.size() >= 3, qPrintable(QString::number(stored.size())));
        logger.terminate(); // the launcher passes it on to the logger
        QVERIFY(logger.waitForFinished(5000) && logger.exitCode() == 0);
    }
#endif
};

QTEST_GUILESS_MAIN(TestLoggerPrometheus)
#include "test_loggerprometheus.moc"
