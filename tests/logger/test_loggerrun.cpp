// vostral-logger run as a person runs it, against the simulated sensor on the emulated USB bus
// and behind the emulated serial bridge: what it writes, what it says, how it ends.
#include "grecorddatapro.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {
// One sensor under the launcher with the logger as its child.
struct Run {
    QProcess process;
    QString out;
    QString err;

    // A test that failed half-way leaves no logger behind: a killed launcher passes nothing on.
    ~Run()
    {
        if (process.state() != QProcess::Running)
            return;
        QVector<pid_t> loggers;
        for (pid_t c = Child(); c > 0; c = Child(c))
            loggers << c;
        for (pid_t c : loggers)
            ::kill(c, SIGTERM);
        Wait();
    }

    void Start(const QStringList& simArgs, const QStringList& loggerArgs, const QString& locale = QString(),
               const QString& program = QStringLiteral(VOSTRAL_LOGGER))
    {
        QStringList args = simArgs;
        // This machine's clock may never say it is synchronised: the logger records at once.
        args << QStringLiteral("--") << program;
        if (program == QStringLiteral(VOSTRAL_LOGGER))
            args << QStringLiteral("--clock-wait") << QStringLiteral("0");
        args << loggerArgs;
        if (!locale.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("LC_ALL"), locale);
            env.insert(QStringLiteral("LANG"), locale);
            process.setProcessEnvironment(env);
        }
        process.start(QStringLiteral(VOSTRAL_SIM), args);
        QVERIFY(process.waitForStarted());
    }
    // The launcher passes SIGTERM on to the logger.
    int Stop(int signal = SIGTERM)
    {
        ::kill(pid_t(process.processId()), signal);
        return Wait();
    }
    int Wait()
    {
        if (!process.waitForFinished(30000))
            process.kill();
        Err();
        return process.exitCode();
    }
    // What the logger said so far.
    QString Err()
    {
        err += QString::fromUtf8(process.readAllStandardError());
        return err;
    }
    // The logger itself, the launcher's child (or the child of the process given).
    pid_t Child(pid_t of = 0) const
    {
        QFile f(QStringLiteral("/proc/%1/task/%1/children").arg(of > 0 ? of : pid_t(process.processId())));
        return f.open(QIODevice::ReadOnly) ? pid_t(f.readAll().trimmed().split(' ').value(0).toInt()) : 0;
    }
};

// Lines of every day file (the header left out), each split into its fields.
QList<QStringList> CsvRows(const QString& folder, const QString& pattern = QStringLiteral("20*.csv"))
{
    QList<QStringList> rows;
    for (const QString& name : QDir(folder).entryList({pattern}, QDir::Files, QDir::Name)) {
        QFile f(folder + QLatin1Char('/') + name);
        f.open(QIODevice::ReadOnly);
        const QByteArray text = f.readAll();
        if (!text.isEmpty())
            [&] { QVERIFY2(text.endsWith('\n'), "a torn last line"); }();
        const QList<QByteArray> lines = text.split('\n');
        for (int i = 1; i < lines.size(); ++i) {
            if (!lines[i].isEmpty())
                rows << QString::fromUtf8(lines[i]).split(QLatin1Char(','));
        }
    }
    return rows;
}

// PM2.5 of a ramp that rises by 1 a second: each reading is the one before plus 1, never twice.
void ExpectUnbroken(const QList<QStringList>& rows, int from, int to)
{
    for (int i = from + 1; i < to; ++i) {
        QCOMPARE(rows[i].size(), 9);
        QCOMPARE(rows[i][1].toDouble() - rows[i - 1][1].toDouble(), 1.0);
    }
}

const QStringList kRamp = {QStringLiteral("--readings"), QStringLiteral("ramp:10,1")};
} // namespace

class TestLoggerRun : public QObject {
    Q_OBJECT
private slots:
    void recordsWhatTheSensorSent_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("locale");
        QTest::newRow("usb") << "usb" << "";
        QTest::newRow("serial") << "serial" << "";
        QTest::newRow("usb, decimal comma locale") << "usb" << "de_DE.UTF-8";
    }
    void recordsWhatTheSensorSent()
    {
        QFETCH(QString, link);
        QFETCH(QString, locale);
        QTemporaryDir dir;
        Run run;
        run.Start(QStringList{QStringLiteral("--link"), link} + kRamp, {QStringLiteral("--out"), dir.path()}, locale);
        QTest::qWait(4500);
        QCOMPARE(run.Stop(), 0);
        QVERIFY2(run.err.contains(QStringLiteral("sensor LV51 (serial ")), qPrintable(run.err));
        const QList<QStringList> rows = CsvRows(dir.path());
        QVERIFY2(rows.size() >= 3, qPrintable(run.err));
        ExpectUnbroken(rows, 0, rows.size());
        for (const QStringList& row : rows) {
            QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$")).match(row[0]).hasMatch());
            QVERIFY(row[1].contains(QLatin1Char('.')));
            QCOMPARE(row[5], QStringLiteral("LV51"));
        }

        // The run's record file shows the same readings from the same start in the window.
        const QStringList str = QDir(dir.path()).entryList({QStringLiteral("*.str")}, QDir::Files);
        QCOMPARE(str.size(), 1);
        GRecordDataPro store;
        QVERIFY(store.OpenBinFile(dir.filePath(str[0]), 0));
        QCOMPARE(store.m_StartTime, QDateTime::fromString(rows[0][0], Qt::ISODate));
        const _SRealData* series = store.m_pRealData;
        // One record per second from the first to the last reading (two readings in one second
        // share theirs).
        QVERIFY(series->m_DataCount > QDateTime::fromString(rows[0][0], Qt::ISODate).secsTo(QDateTime::fromString(rows.last()[0], Qt::ISODate)));
        for (int i = 0; i < rows.size(); ++i) {
            if (i + 1 < rows.size() && rows[i + 1][0] == rows[i][0])
                continue; // a late poll took two readings in one second: the record holds the later
            const qint64 at = store.m_StartTime.secsTo(QDateTime::fromString(rows[i][0], Qt::ISODate));
            // The window shows particulate values of files as whole ug/m3.
            QCOMPARE(series->m_pValue1[at], double(int(rows[i][1].toDouble())));
        }
    }

    void comesBackAfterReplug_data()
    {
        QTest::addColumn<QString>("link");
        QTest::newRow("usb") << "usb";
        QTest::newRow("serial") << "serial";
    }
    void comesBackAfterReplug()
    {
        QFETCH(QString, link);
        QTemporaryDir dir;
        Run run;
        run.Start(QStringList{QStringLiteral("--link"), link, QStringLiteral("--replug-after"), QStringLiteral("3500"),
                              QStringLiteral("--replug-delay"), QStringLiteral("3000")} + kRamp,
                  {QStringLiteral("--out"), dir.path()});
        QTest::qWait(11000);
        QCOMPARE(run.Stop(), 0);
        QVERIFY2(run.err.contains(QStringLiteral("sensor lost (unplugged)")), qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("sensor back after ")), qPrintable(run.err));

        // Readings before and after, none in the gap: one step of more than 3 s, two runs.
        const QList<QStringList> rows = CsvRows(dir.path());
        int gaps = 0, gapAt = -1;
        for (int i = 1; i < rows.size(); ++i) {
            const qint64 step = QDateTime::fromString(rows[i - 1][0], Qt::ISODate).secsTo(QDateTime::fromString(rows[i][0], Qt::ISODate));
            if (step > 3) {
                ++gaps;
                gapAt = i;
            }
        }
        QCOMPARE(gaps, 1);
        QVERIFY(gapAt >= 2 && rows.size() - gapAt >= 2);
        ExpectUnbroken(rows, 0, gapAt);
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.str")}, QDir::Files).size(), 2);
    }

    void waitsForAHeldSensor_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("where");
        QTest::newRow("usb") << "usb" << "on USB (/dev/bus/usb/";
        QTest::newRow("serial") << "serial" << "on serial port ttyUSB";
    }
    void waitsForAHeldSensor()
    {
        QFETCH(QString, link);
        QFETCH(QString, where);
        QTemporaryDir first, second;
        Run run;
        // A second logger on the same sensor, started once the first records; it becomes the
        // launcher's child and the first its own.
        const QString script = QStringLiteral("\"$0\" --clock-wait 0 --out \"$1\" & until ls \"$1\"/20*.csv >/dev/null 2>&1; do sleep 0.2; done; "
                                              "exec \"$0\" --clock-wait 0 --out \"$2\"");
        run.Start(QStringList{QStringLiteral("--link"), link} + kRamp,
                  {QStringLiteral("-c"), script, QStringLiteral(VOSTRAL_LOGGER), first.path(), second.path()}, QString(), QStringLiteral("sh"));
        const QString busy = QStringLiteral("sensor busy: held by another program ") + where;
        QTRY_VERIFY_WITH_TIMEOUT(run.Err().contains(busy), 20000);
        QTest::qWait(4500); // two more searches: said once
        QCOMPARE(run.Err().count(QStringLiteral("sensor busy")), 1);
        QVERIFY(CsvRows(second.path()).isEmpty());
        const pid_t holder = run.Child(run.Child());
        QVERIFY(holder > 0);
        ::kill(holder, SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(CsvRows(second.path()).size() >= 1, 6000);
        QCOMPARE(run.Stop(), 0);
        QVERIFY2(run.err.count(QStringLiteral("sensor LV51 (serial ")) == 2, qPrintable(run.err));
    }

    void killedAndRestarted()
    {
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath(QStringLiteral("2026-12-07_235959.str.Ab12Cd"))).open(QIODevice::WriteOnly)); // an interrupted write's
        for (int round = 0; round < 2; ++round) {
            Run run;
            run.Start(kRamp, {QStringLiteral("--out"), dir.path(), QStringLiteral("--sync"), QStringLiteral("1")});
            QTest::qWait(4000);
            if (round == 0) {
                QVERIFY(run.Child() > 0);
                ::kill(run.Child(), SIGKILL);
                QCOMPARE(run.Wait(), 128 + SIGKILL);
            } else {
                QCOMPARE(run.Stop(), 0);
                // The killed run's record file comes back from the day file.
                QVERIFY2(run.err.contains(QStringLiteral("record files rebuilt from the day files: ")), qPrintable(run.err));
                QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.str*")}, QDir::Files).size(), 2);
            }
        }
        // Every line whole, none twice, times going forward.
        const QList<QStringList> rows = CsvRows(dir.path());
        QVERIFY(rows.size() >= 4);
        for (int i = 1; i < rows.size(); ++i) {
            QCOMPARE(rows[i].size(), 9);
            QVERIFY(QDateTime::fromString(rows[i - 1][0], Qt::ISODate) <= QDateTime::fromString(rows[i][0], Qt::ISODate));
            QVERIFY(rows[i] != rows[i - 1]);
        }
    }

    void backfillsTheStoredHistory_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("values");
        QTest::addColumn<int>("rounds");    // starts of the logger on the same folder
        QTest::addColumn<int>("downloads"); // per start (the sensor replugged in between)
        QTest::addColumn<int>("stopMs");    // SIGTERM this long into the first download (-1: none)
        const QStringList s;
        QTest::newRow("whole") << s + QStringList{"--history", "300"} << "history downloaded: 300 values, 300 new written" << 300 << 2 << 1 << -1;
        // A sensor that reads only the low byte of the packet number: the download stops after
        // packet 255 and keeps what came in order.
        QTest::newRow("partial") << s + QStringList{"--type", "120", "--name", "PS21", "--history", "1200", "--usb-packet-number", "low-byte"}
                                 << "history download partial: 256 of 300 packets, 1020 values received, 1020 new written" << 1020 << 1 << 1 << -1;
        // History without time stamps: a replug downloads the same values onto the same times.
        QTest::newRow("old format, replugged") << s + QStringList{"--type", "0", "--name", "AQ31", "--replug-after", "5000", "--replug-delay", "1500"}
                                               << "history downloaded: 288 values, 288 new written" << 288 << 1 << 2 << -1;
        // A full memory takes a minute on USB; a stop ends it in time and keeps what came.
        QTest::newRow("stopped") << s + QStringList{"--type", "120", "--name", "PS21", "--history", "4032"} << "history download stopped by the stop request: " << -1 << 1 << 1 << 2000;
    }
    void backfillsTheStoredHistory()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, said);
        QFETCH(int, values);
        QFETCH(int, rounds);
        QFETCH(int, downloads);
        QFETCH(int, stopMs);
        QTemporaryDir dir;
        const qint64 slot = QDateTime::currentSecsSinceEpoch() / 300;
        QString second;
        for (int round = 0; round < rounds; ++round) {
            Run run;
            run.Start(simArgs, {QStringLiteral("--out"), dir.path(), QStringLiteral("--backfill")});
            if (stopMs >= 0) {
                QTRY_VERIFY_WITH_TIMEOUT(run.Err().contains(QStringLiteral("downloading the sensor's history")), 20000);
                QTest::qWait(stopMs);
                QElapsedTimer stopping;
                stopping.start();
                QCOMPARE(run.Stop(), 0);
                QVERIFY2(stopping.elapsed() < 3000, qPrintable(run.err));
                QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.str")}, QDir::Files).size(), 1);
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(run.Err().count(QStringLiteral("history download")) >= downloads || run.process.state() != QProcess::Running, 90000);
                QCOMPARE(run.Stop(), 0);
            }
            QVERIFY2(run.err.contains(round == 0 ? said : QStringLiteral(", 0 new written")), qPrintable(run.err));
            second = run.err.section(QStringLiteral("history download"), 2, 2);
        }
        const QList<QStringList> rows = CsvRows(dir.path(), QStringLiteral("history-*.csv"));
        // After a replug, only a value the sensor stored in between is new (one every 5 minutes).
        const int stored = downloads > 1 && QDateTime::currentSecsSinceEpoch() / 300 != slot;
        QVERIFY2(downloads < 2 || second.contains(QStringLiteral(", %1 new written").arg(stored)), qPrintable(second));
        QVERIFY2(values < 0 ? !rows.isEmpty() : rows.size() == values + stored, qPrintable(QString::number(rows.size())));
        for (const QStringList& row : rows)
            QCOMPARE(row[8], QStringLiteral("history"));
    }

    void refusesWithExitCode_data()
    {
        QTest::addColumn<QStringList>("loggerArgs");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said");
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--colour")} << 2 << "Unknown option 'colour'";
        QTest::newRow("bad link") << QStringList{QStringLiteral("--link"), QStringLiteral("wifi")} << 2 << "--link takes auto, usb or serial";
        QTest::newRow("zero interval") << QStringList{QStringLiteral("--interval"), QStringLiteral("0")} << 2 << "--interval takes whole seconds";
        QTest::newRow("folder under a file") << QStringList{QStringLiteral("--out"), QStringLiteral(VOSTRAL_LOGGER "/log")} << 1 << "cannot create the folder";
        // A service started before its sensor is plugged in waits for it, saying so once.
        QTest::newRow("no such sensor yet") << QStringList{QStringLiteral("--device"), QStringLiteral("00000000000a")} << 0 << "waiting for the sensor with serial 00000000000a (found: ";
        QTest::newRow("second logger on the folder") << QStringList{QStringLiteral("second")} << 1 << "another vostral-logger (pid ";
    }
    void refusesWithExitCode()
    {
        QFETCH(QStringList, loggerArgs);
        QFETCH(int, code);
        QFETCH(QString, said);
        QTemporaryDir dir;
        Run first, run;
        if (loggerArgs == QStringList{QStringLiteral("second")}) {
            first.Start(kRamp, {QStringLiteral("--out"), dir.path()});
            QTRY_VERIFY_WITH_TIMEOUT(first.Err().contains(QStringLiteral("sensor LV51")), 10000);
            loggerArgs.clear();
        }
        run.Start({}, QStringList{QStringLiteral("--out"), dir.path()} + loggerArgs);
        if (code == 0) {
            QTRY_VERIFY_WITH_TIMEOUT(run.Err().contains(said), 10000);
            QTest::qWait(4500);
            QCOMPARE(run.Stop(), code);
            QCOMPARE(run.err.count(said), 1);
        }
        QCOMPARE(run.Wait(), code);
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        if (first.process.state() == QProcess::Running) {
            QTest::qWait(3500);
            QCOMPARE(first.Stop(), 0);
            const QList<QStringList> rows = CsvRows(dir.path());
            QVERIFY2(rows.size() >= 3, qPrintable(first.err));
            ExpectUnbroken(rows, 0, rows.size());
        }
    }
};

QTEST_GUILESS_MAIN(TestLoggerRun)
#include "test_loggerrun.moc"
