// The logger in this process on clocks of the test's own (the wall clock set and stepped at
// will, the monotonic one real), with the simulated sensor on the emulated USB bus: what a board
// without a real-time clock sees at boot and when NTP steps its clock.
#include "csvformat.h"
#include "loggerapp.h"
#include "simusbbus.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>

namespace {
struct TestClock : LoggerClock {
    std::atomic<int64_t> wallOffsetMs{0};
    std::atomic<bool> synced{false};
    int64_t MonotonicMs() const override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    int64_t WallMs() const override { return QDateTime::currentMSecsSinceEpoch() + wallOffsetMs; }
    Sync State() const override { return synced ? Sync::Synchronised : Sync::NotSynchronised; }
};

// Every reading of every day file, file by file.
QList<QList<LoggerReading>> DayFiles(const QString& folder)
{
    QList<QList<LoggerReading>> files;
    for (const QString& name : QDir(folder).entryList({"20*.csv"}, QDir::Files, QDir::Name)) {
        QFile f(folder + '/' + name);
        f.open(QIODevice::ReadOnly);
        files.append(QList<LoggerReading>());
        for (const QByteArray& line : f.readAll().split('\n')) {
            LoggerReading r;
            if (Csv_ParseLine(line, &r))
                files.last().append(r);
        }
    }
    return files;
}
} // namespace

class TestLoggerClock : public QObject {
    Q_OBJECT
private slots:
    void bootWithoutClockThenStepBack()
    {
        QTemporaryDir dir;
        TestClock clock;
        clock.wallOffsetMs = -3600 * 1000; // boots an hour behind, not synchronised
        SimUsbBus bus;
        SensorConfig cfg;
        cfg.readings = SimReadingSource::Ramp({10, 20, 0}, {1, 1, 0});
        SimUsbDevice* sensor = bus.AddSensor(cfg);
        LoggerOptions options;
        options.outDir = dir.path();
        QStringList said; // outlives the app, which says "stopped" into it as it goes
        LoggerApp app(options, &clock);
        app.SetMessageSink([&](const QString& line) { said << line; });
        QString error;
        QVERIFY2(app.Start(&error), qPrintable(error));
        const qint64 bootMs = QDateTime::currentMSecsSinceEpoch();
        QTest::qWait(3500);
        QVERIFY2(said.filter("readings are held").size() == 1 && DayFiles(dir.path()).isEmpty(), qPrintable(said.join('\n')));

        // NTP sets the clock: every reading held goes out once, in order, with its true time.
        clock.wallOffsetMs = 0;
        clock.synced = true;
        QTRY_VERIFY_WITH_TIMEOUT(!said.filter("clock is synchronised").isEmpty(), 2000);
        QTest::qWait(1500);
        QList<QList<LoggerReading>> files = DayFiles(dir.path());
        QVERIFY(files.size() == 1 && files[0].size() >= 4);
        const QList<LoggerReading>& rows = files[0];
        QVERIFY(rows[0].timeMs >= bootMs - 1000 && rows.last().timeMs <= QDateTime::currentMSecsSinceEpoch());
        for (int i = 1; i < rows.size(); ++i) {
            QCOMPARE(rows[i].pm25 - rows[i - 1].pm25, 1.0);
            QVERIFY(qAbs(rows[i].timeMs - rows[i - 1].timeMs - 1000) < 300);
        }

        // Set back an hour while the sensor is out: it is found again at once all the same (the
        // search runs on the monotonic clock), and the day file's times do not go back.
        bus.Remove(sensor);
        QTRY_VERIFY_WITH_TIMEOUT(!said.filter("sensor lost").isEmpty(), 3000);
        clock.wallOffsetMs = -3600 * 1000;
        QTest::qWait(500);
        QVERIFY(bus.Replug(sensor));
        QTRY_VERIFY_WITH_TIMEOUT(!said.filter("sensor back").isEmpty(), 4000);
        QTest::qWait(2500);
        QVERIFY2(said.filter("set back by 3600 s").size() == 1, qPrintable(said.join('\n')));
        files = DayFiles(dir.path());
        int after = 0;
        for (const QList<LoggerReading>& file : files) {
            for (int i = 1; i < file.size(); ++i)
                QVERIFY(file[i].timeMs >= file[i - 1].timeMs);
            for (const LoggerReading& r : file)
                after += r.timeMs < bootMs - 1800 * 1000; // stamped by the clock set back
        }
        QVERIFY(files.size() == 2 && after >= 1);
    }
};

QTEST_GUILESS_MAIN(TestLoggerClock)
#include "test_loggerclock.moc"
