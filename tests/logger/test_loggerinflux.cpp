// The logger's InfluxDB output: its line protocol and position file, the day files read back
// from a position, and the real logger against Debian's InfluxDB 1.x, started by the test on
// 127.0.0.1 with its data in a temporary folder (once more under de_DE.UTF-8, without it).
#include "csvformat.h"
#include "influxbacklog.h"
#include "influxhttp.h"
#include "influxline.h"
#include "influxoptions.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include "freeport.h"

#include <QtTest>
#include <curl/curl.h>

#include <arpa/inet.h>
#include <csignal>
#include <unistd.h>

namespace {
LoggerReading Reading(const char* model, double pm25, double pm10, GasKind kind, double gas, int readings = 1, bool history = false)
{
    LoggerReading r;
    r.timeMs = 1796716801000LL; // 2026-12-08T08:00:01Z
    r.serial = "0123456789ab";
    r.model = model;
    r.pm25 = pm25;
    r.pm10 = pm10;
    r.gasKind = kind;
    r.gas = gas;
    r.readings = readings;
    r.history = history;
    return r;
}

void Write(const QString& path, const QByteArray& text, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile f(path);
    QVERIFY(f.open(mode) && f.write(text) == text.size());
}

// The points of a batch: pm2_5, "+N" for a time N ns past its second, "h" for history.
QString Points(const QByteArray& body)
{
    QStringList points;
    for (const QByteArray& line : body.split('\n')) {
        if (line.isEmpty())
            continue;
        const QByteArray ns = line.mid(line.lastIndexOf(' ') + 1);
        const int pm = line.indexOf("pm2_5=") + 6;
        QString p = QString::fromLatin1(line.mid(pm, line.indexOf(',', pm) - pm));
        if (ns.right(3).toInt())
            p += QStringLiteral("+%1").arg(ns.right(3).toInt());
        points << p + (line.contains("source=history") ? QStringLiteral("h") : QString());
    }
    return points.join(' ');
}

// Debian's InfluxDB 1.x with a configuration of the test's own.
struct Server {
    QTemporaryDir dir;
    QProcess process;
    int port = FreePort();
    int rpcPort = FreePort();

    bool Start()
    {
        Write(dir.filePath("influxdb.conf"), QStringLiteral("reporting-disabled = true\nbind-address = \"127.0.0.1:%1\"\n"
                                                          "[meta]\n  dir = \"%2/meta\"\n[data]\n  dir = \"%2/data\"\n  wal-dir = \"%2/wal\"\n"
                                                          "  query-log-enabled = false\n[monitor]\n  store-enabled = false\n"
                                                          "[http]\n  bind-address = \"127.0.0.1:%3\"\n  log-enabled = false\n")
                                                 .arg(rpcPort).arg(dir.path()).arg(port).toUtf8());
        process.setStandardOutputFile(dir.filePath("influxd.log"), QIODevice::Append);
        process.setStandardErrorFile(dir.filePath("influxd.log"), QIODevice::Append);
        process.start("/usr/bin/influxd", {"-config", dir.filePath("influxdb.conf")});
        process.waitForStarted();
        for (QDeadlineTimer end(20000); !end.hasExpired() && process.state() == QProcess::Running; QTest::qWait(100))
            if (Http("/ping").first == 204)
                return Http("/query", "q=CREATE DATABASE air").first == 200;
        return false;
    }
    void Stop()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
    }
    ~Server() { Stop(); }
    // GET, or POST of a form
    QPair<int, QByteArray> Http(const QByteArray& path, const QByteArray& form = {})
    {
        QByteArray body;
        CURL* c = curl_easy_init();
        curl_easy_setopt(c, CURLOPT_URL, QByteArray("http://127.0.0.1:" + QByteArray::number(port) + path).constData());
        curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
        if (!form.isEmpty())
            curl_easy_setopt(c, CURLOPT_COPYPOSTFIELDS, form.constData());
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* b) {
            static_cast<QByteArray*>(b)->append(d, int(s * n));
            return s * n;
        });
        long status = 0;
        if (curl_easy_perform(c) == CURLE_OK)
            curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(c);
        return {int(status), body};
    }
};
} // namespace

Q_DECLARE_METATYPE(LoggerReading)

class TestLoggerInflux : public QObject {
    Q_OBJECT
private slots:
    void lineProtocol_data()
    {
        QTest::addColumn<LoggerReading>("r");
        QTest::addColumn<int>("part");
        QTest::addColumn<int>("repeat");
        QTest::addColumn<QByteArray>("line");
        const QByteArray t = " 1796716801000000000";
        QTest::newRow("formaldehyde") << Reading("LV51", 12.3, 20.1, GasKind::Formaldehyde, 0.012) << 1 << 0
                                      << "air_quality,serial=0123456789ab,model=LV51,source=live pm2_5=12.3,pm10=20.1,formaldehyde=0.012" + t;
        QTest::newRow("tvoc mean, no pm10") << Reading("LV71", 7, LoggerReading::kAbsent, GasKind::Tvoc, 0.25, 60) << 1 << 0
                                            << "air_quality,serial=0123456789ab,model=LV71,source=live pm2_5=7.0,tvoc=0.250,readings=60i" + t;
        QTest::newRow("history") << Reading("PS21", 3.04, 5, GasKind::None, 1, 1, true) << 1 << 0
                                 << "air_quality,serial=0123456789ab,model=PS21,source=history pm2_5=3.0,pm10=5.0" + t;
        QTest::newRow("escaped tags") << Reading("a b,c=d\\e", 1, -1, GasKind::None, 0) << 1 << 0
                                      << "air_quality,serial=0123456789ab,model=a\\ b\\,c\\=d_e,source=live pm2_5=1.0" + t;
        QTest::newRow("same second, part 3") << Reading("LV51", 1, 2, GasKind::None, 0) << 3 << 2
                                             << QByteArray("air_quality,serial=0123456789ab,model=LV51,source=live pm2_5=1.0,pm10=2.0 1796716801000002002");
        QTest::newRow("nothing measured") << Reading("", qInf(), LoggerReading::kAbsent, GasKind::Tvoc, -1) << 1 << 0 << QByteArray();
    }
    void lineProtocol()
    {
        QFETCH(LoggerReading, r);
        QFETCH(int, part);
        QFETCH(int, repeat);
        QFETCH(QByteArray, line);
        char probe[16];
        snprintf(probe, sizeof probe, "%g", 1.5);
        QVERIFY(!qgetenv("LC_ALL").startsWith("de_DE") || QByteArray(probe) == "1,5"); // the locale is really in use
        r.timeMs += 999; // the day files' second
        QCOMPARE(Influx_Line(r, Influx_TimeNs(r.timeMs, part, repeat)), line);
    }

    void positionFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expect"); // the positions read, or the start of why not
        const QByteArray h = "vostral-logger influx position 1\n";
        QTest::newRow("whole") << h + "2026-12-08-2.csv 0\n2026-12-08.csv 4096\nhistory-2026-12-07.csv 999999999999999\nend\n"
                               << "2026-12-08-2.csv 0, 2026-12-08.csv 4096, history-2026-12-07.csv 999999999999999";
        QTest::newRow("none") << h + "end\n" << "";
        QTest::newRow("empty") << QByteArray() << "cut off (no line end";
        QTest::newRow("garbage") << QByteArray("\x7f" "ELF\x02\x01\n", 7) << "not a position file";
        QTest::newRow("truncated") << h + "2026-12-08.csv 40" << "cut off (no line end";
        QTest::newRow("no end") << h + "2026-12-08.csv 40\n" << "cut off (no end line)";
        QTest::newRow("after end") << h + "end\n2026-12-08.csv 40\n" << "cut off (no end line)";
        QTest::newRow("16 digits") << h + "2026-12-08.csv 1000000000000000\nend\n" << "line 2 is not";
        QTest::newRow("negative") << h + "2026-12-08.csv -1\nend\n" << "line 2 is not";
        QTest::newRow("leading zero") << h + "2026-12-08.csv 01\nend\n" << "line 2 is not";
        QTest::newRow("no such day") << h + "2026-02-30.csv 1\nend\n" << "line 2 is not";
        QTest::newRow("other file") << h + "../passwd 1\nend\n" << "line 2 is not";
        QTest::newRow("twice") << h + "2026-12-08.csv 1\n2026-12-08.csv 2\nend\n" << "line 3 is not";
        QTest::newRow("CRLF") << QByteArray("vostral-logger influx position 1\r\nend\r\n") << "not a position file";
        QTest::newRow("too large") << h + QByteArray(300000, 'x') + "\nend\n" << "larger than";
    }
    void positionFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expect);
        InfluxPositions p{{"untouched.csv", 1}}, before = p;
        QString why;
        QStringList got;
        const bool ok = InfluxPosition_Parse(text, &p, &why);
        for (auto it = p.begin(); it != p.end(); ++it)
            got << it.key() + ' ' + QString::number(it.value());
        if (ok)
            QCOMPARE(InfluxPosition_Format(p), text);
        QVERIFY2(ok ? got.join(", ") == expect : why.startsWith(expect) && p == before, qPrintable(why + got.join(", ")));
    }

    // Day files read back from a position file: today's file holds 1.0, 2.0 and 3.0 (the last two
    // in one second), today's history file 7.0, a file of a month ago 9.0; 4.0 comes after the start.
    void fromThePosition_data()
    {
        QTest::addColumn<QByteArray>("position"); // D, H, O: the files; E2, M2: end and middle of the
        QTest::addColumn<QString>("points");      // day file's second line; DS, HS, the files' sizes
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QString>("kept"); // in the position file afterwards
        const QByteArray h = "vostral-logger influx position 1\n";
        QTest::newRow("first start") << QByteArray() << "4.0" << "InfluxDB: first start" << "D H";
        QTest::newRow("garbage") << QByteArray("hello\n") << "4.0" << "InfluxDB: ignoring the broken " << "D H";
        QTest::newRow("truncated") << h + "D E2\n" << "4.0" << "InfluxDB: ignoring the broken " << "D H";
        QTest::newRow("resumed") << h + "D E2\nH HS\nend\n" << "3.0+1 4.0" << "" << "D H";
        QTest::newRow("beyond the size") << h + "D 99999999\nH HS\nend\n" << "1.0 2.0 3.0+1 4.0" << "InfluxDB: " + QDir::tempPath() << "D H";
        QTest::newRow("within a line") << h + "D M2\nH HS\nend\n" << "2.0 3.0+1 4.0" << "" << "D H";
        QTest::newRow("new file") << h + "D DS\nend\n" << "4.0 7.0h" << "" << "D H";
        QTest::newRow("old file left") << h + "O 0\nD DS\nH HS\nend\n" << "9.0 4.0" << "" << "D H";
    }
    void fromThePosition()
    {
        QFETCH(QByteArray, position);
        QFETCH(QString, points);
        QFETCH(QString, notice);
        QFETCH(QString, kept);
        QTemporaryDir dir(QDir::tempPath() + "/influx-XXXXXX");
        const int64_t now = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000;
        const auto line = [&](double pm, int64_t at, bool history = false) {
            LoggerReading r = Reading("LV51", pm, 1, GasKind::None, 0, 1, history);
            r.timeMs = now - 100000 + at;
            return Csv_Line(r);
        };
        const QByteArray day = Csv_Header() + line(1, 0) + line(2, 1000) + line(3, 1500);
        const QMap<QByteArray, QString> names = {{"D", Csv_DayFileName(Csv_LocalDay(now), false)},
            {"H", Csv_DayFileName(Csv_LocalDay(now), true)}, {"O", Csv_DayFileName(Csv_LocalDay(now).addDays(-30), false)}};
        Write(dir.filePath(names["D"]), day);
        Write(dir.filePath(names["H"]), Csv_Header() + line(7, 0, true));
        Write(dir.filePath(names["O"]), Csv_Header() + line(9, 0));
        const int e2 = day.size() - line(3, 1500).size();
        position.replace("E2", QByteArray::number(e2)).replace("M2", QByteArray::number(e2 - 9)).replace("DS", QByteArray::number(day.size()));
        position.replace("HS", QByteArray::number(QFileInfo(dir.filePath(names["H"])).size()));
        for (auto it = names.begin(); it != names.end(); ++it)
            position.replace(it.key() + ' ', it.value().toLatin1() + ' ');
        if (!position.isEmpty())
            Write(dir.filePath(".influx-position"), position);

        InfluxBacklog backlog(dir.path());
        QString said;
        backlog.Load(now, &said);
        Write(dir.filePath(names["D"]), line(4, 2000), QIODevice::Append);
        backlog.Refresh();
        const InfluxBacklog::Batch batch = backlog.Take(100, 1 << 20);
        said += backlog.TakeNotices().join(' ');
        QVERIFY2(notice.isEmpty() ? said.isEmpty() : said.startsWith(notice), qPrintable(said));
        QCOMPARE(Points(batch.body), points);
        backlog.Commit(batch);
        backlog.Scan(now);
        QVERIFY(!backlog.Pending() && backlog.Take(100, 1 << 20).lines == 0);
        QString error;
        QVERIFY(backlog.Save(&error));
        QFile saved(dir.filePath(".influx-position"));
        InfluxPositions after;
        QVERIFY(saved.open(QIODevice::ReadOnly) && InfluxPosition_Parse(saved.readAll(), &after, &error));
        QCOMPARE(after.keys(), (QStringList{names[kept.section(' ', 0, 0).toLatin1()], names[kept.section(' ', 1, 1).toLatin1()]}));
    }

    void replies_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("204") << 204 << QByteArray() << int(InfluxReply::Accepted) << "HTTP 204";
        QTest::newRow("no database") << 404 << QByteArray("{\"error\":\"database not found: \\\"air\\\"\"}") << int(InfluxReply::Refused) << "HTTP 404: database not found: \"air\"";
        QTest::newRow("2.x token") << 401 << QByteArray(R"({"code":"unauthorized","message":"unauthorized access"})") << int(InfluxReply::Refused) << "HTTP 401: unauthorized access";
        QTest::newRow("too many") << 429 << QByteArray() << int(InfluxReply::Refused) << "HTTP 429";
        QTest::newRow("partial write") << 400 << QByteArray(R"({"error":"partial write: field type conflict dropped=1"})") << int(InfluxReply::Rejected) << "partial write: field type conflict dropped=1";
        QTest::newRow("too large") << 413 << QByteArray() << int(InfluxReply::TooLarge) << "HTTP 413";
        QTest::newRow("proxy page") << 502 << QByteArray("<html>\n<b>Bad gateway</b></html>") << int(InfluxReply::Unreachable) << "HTTP 502: <html> <b>Bad gateway</b></html>";
    }
    void replies()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, kind);
        QFETCH(QString, text);
        const InfluxReply r = Influx_Classify(status, body);
        QCOMPARE(int(r.kind), kind);
        QCOMPARE(r.text, text);
    }

    void options_data()
    {
        QTest::addColumn<QString>("args"); // TOKEN: a file holding s3cret
        QTest::addColumn<QString>("expect"); // the options read, or the start of the message
        const auto row = [](const char* tag, const char* args, const char* expect) { QTest::newRow(tag) << QString(args) << QString(expect); };
        row("none", "", "off");
        row("token", "--influx http://h:8086/write?db=air --influx-token-file TOKEN", "http://h:8086/write?db=air h:8086 s3cret  ");
        row("basic", "--influx https://h/api/write?db=a%20b&rp=r --influx-user u --influx-password-file TOKEN", "https://h/api/write?db=a%20b&rp=r h:443  u s3cret");
        row("no database", "--influx http://h:8086/write", "--influx: the URL needs the database");
        row("query API", "--influx http://h:8086/query?db=air", "--influx takes");
        row("seconds", "--influx http://h/write?db=air&precision=s", "--influx: the logger writes nanoseconds");
        row("password in URL", "--influx http://h/write?db=air&u=x&p=s3cret", "--influx: no user, password or token");
        row("token and user", "--influx http://h/write?db=air --influx-token-file TOKEN --influx-user u --influx-password-file TOKEN", "--influx-token-file or");
        row("user alone", "--influx http://h/write?db=air --influx-user u", "--influx-user and --influx-password-file go together");
        row("no URL", "--influx-token-file TOKEN", "--influx-token-file needs --influx");
        row("token file gone", "--influx http://h/write?db=air --influx-token-file /nonexistent", "--influx-token-file: cannot read");
    }
    void options()
    {
        QFETCH(QString, args);
        QFETCH(QString, expect);
        QTemporaryDir dir;
        Write(dir.filePath("token"), "s3cret\nnext line\n");
        QCommandLineParser parser;
        Influx_AddOptions(&parser);
        InfluxOptions o;
        QString said;
        if (!parser.parse(("vostral-logger " + args.replace("TOKEN", dir.filePath("token"))).split(' ', Qt::SkipEmptyParts)))
            said = parser.errorText();
        else if (!Influx_ReadOptions(parser, &o, &said))
            QVERIFY2(!said.contains("s3cret"), qPrintable(said));
        else
            said = o.enabled ? QStringList{o.url, o.server, o.token, o.user, o.password}.join(' ') : "off";
        QVERIFY2(said.startsWith(expect), qPrintable(said));
    }

#ifdef VOSTRAL_LOGGER
    // The real logger under the simulated sensor with its stored history: every point is a line of
    // the files and every line a point, also after the database was away for 15 s.
    void loggerEndToEnd()
    {
        Server db;
        QVERIFY(db.Start());
        QTemporaryDir out;
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* proxy : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            env.remove(proxy);
        run.setProcessEnvironment(env);
        run.setStandardErrorFile(out.filePath("said.txt"));
        run.start(VOSTRAL_SIM, {"--readings", "ramp:10,1", "--history", "300", "--", VOSTRAL_LOGGER, "--out", out.path(), "--clock-wait", "0",
                                "--backfill", "--influx", QStringLiteral("http://127.0.0.1:%1/write?db=air").arg(db.port)});
        const auto said = [&] {
            QFile f(out.filePath("said.txt"));
            f.open(QIODevice::ReadOnly);
            return QString::fromUtf8(f.readAll());
        };
        QTRY_VERIFY_WITH_TIMEOUT(said().contains("connected to InfluxDB 127.0.0.1:" + QString::number(db.port)), 20000);
        QTest::qWait(2000);
        db.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(said().contains("unreachable: "), 5000);
        QTest::qWait(15000);
        QVERIFY(db.Start());
        QTRY_VERIFY_WITH_TIMEOUT(said().contains("InfluxDB reachable again: "), 40000);
        ::kill(pid_t(run.processId()), SIGTERM);
        QVERIFY(run.waitForFinished(10000));
        QVERIFY2(said().contains("\nstopped\n"), qPrintable(said()));

        QStringList lines, points;
        for (const QString& name : QDir(out.path()).entryList({"*.csv"})) {
            QFile f(out.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            for (const QByteArray& text : f.readAll().split('\n')) {
                LoggerReading r;
                if (Csv_ParseLine(text, &r))
                    lines << QStringLiteral("%1 %2 %3 %4").arg(r.timeMs).arg(r.pm25, 0, 'f', 1).arg(r.pm10, 0, 'f', 1).arg(r.history ? "history" : "live");
            }
        }
        const QJsonDocument answer = QJsonDocument::fromJson(db.Http("/query?db=air&epoch=ms&q=SELECT+time,pm2_5,pm10,source+FROM+air_quality").second);
        for (const QJsonValue& value : answer["results"][0]["series"][0]["values"].toArray()) {
            const QJsonArray v = value.toArray();
            points << QStringLiteral("%1 %2 %3 %4").arg(qint64(v[0].toDouble())).arg(v[1].toDouble(), 0, 'f', 1).arg(v[2].toDouble(), 0, 'f', 1).arg(v[3].toString());
        }
        lines.sort();
        points.sort();
        QVERIFY2(lines.size() > 300 + 20 && lines.filter("history").size() == 300, qPrintable(said()));
        QCOMPARE(points, lines);
    }
#endif
};

QTEST_GUILESS_MAIN(TestLoggerInflux)
#include "test_loggerinflux.moc"
