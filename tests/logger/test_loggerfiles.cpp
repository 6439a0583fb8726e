// The logger's files: day-file lines, their repair and retry, and the runs' record files as the
// window's reader opens them. Runs in the zone EST5EDT (changes on 2026-03-08 and 2026-11-01),
// once more under de_DE.UTF-8.
#include "csvformat.h"
#include "daylog.h"
#include "grecorddatapro.h"
#include "runrecorder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <cstring>

namespace {
LoggerReading Reading(qint64 sec, double pm25, double gas = NAN, GasKind kind = GasKind::None, QByteArray serial = "0123456789ab")
{
    LoggerReading r;
    r.timeMs = sec * 1000;
    r.pm25 = pm25;
    r.pm10 = Reading_Has(pm25) ? pm25 + 5 : NAN;
    r.gas = gas;
    r.gasKind = kind;
    r.model = "LV51";
    r.serial = serial;
    return r;
}

QList<QByteArray> Lines(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>();
}
} // namespace
Q_DECLARE_METATYPE(LoggerReading)

class TestLoggerFiles : public QObject {
    Q_OBJECT

private slots:
    void csvLines_data()
    {
        QTest::addColumn<LoggerReading>("r");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QDate>("day");
        LoggerReading hist = Reading(1796738401, 8);
        hist.history = true;
        hist.readings = 0;
        LoggerReading mean = Reading(1782921600, 12.34, 0.5, GasKind::Tvoc);
        mean.readings = 60;
        QTest::newRow("winter") << Reading(1796738401, 12.3) << QByteArray("2026-12-08T09:00:01-05:00,12.3,17.3,,,LV51,0123456789ab,1,live") << QDate(2026, 12, 8);
        QTest::newRow("summer tvoc mean") << mean << QByteArray("2026-07-01T12:00:00-04:00,12.3,17.3,,0.500,LV51,0123456789ab,60,live") << QDate(2026, 7, 1);
        QTest::newRow("formaldehyde only") << Reading(1796738401, NAN, 0.012, GasKind::Formaldehyde) << QByteArray("2026-12-08T09:00:01-05:00,,,0.012,,LV51,0123456789ab,1,live") << QDate(2026, 12, 8);
        QTest::newRow("history") << hist << QByteArray("2026-12-08T09:00:01-05:00,8.0,13.0,,,LV51,0123456789ab,0,history") << QDate(2026, 12, 8);
        QTest::newRow("before local midnight") << Reading(1796705999, 1) << QByteArray("2026-12-07T23:59:59-05:00,1.0,6.0,,,LV51,0123456789ab,1,live") << QDate(2026, 12, 7);
        QTest::newRow("before spring change") << Reading(1772953199, 1) << QByteArray("2026-03-08T01:59:59-05:00,1.0,6.0,,,LV51,0123456789ab,1,live") << QDate(2026, 3, 8);
        QTest::newRow("after spring change") << Reading(1772953200, 1) << QByteArray("2026-03-08T03:00:00-04:00,1.0,6.0,,,LV51,0123456789ab,1,live") << QDate(2026, 3, 8);
        QTest::newRow("autumn first 01:30") << Reading(1793511000, 1) << QByteArray("2026-11-01T01:30:00-04:00,1.0,6.0,,,LV51,0123456789ab,1,live") << QDate(2026, 11, 1);
        QTest::newRow("autumn second 01:30") << Reading(1793514600, 1) << QByteArray("2026-11-01T01:30:00-05:00,1.0,6.0,,,LV51,0123456789ab,1,live") << QDate(2026, 11, 1);
    }
    void csvLines()
    {
        QFETCH(LoggerReading, r);
        QFETCH(QByteArray, line);
        QFETCH(QDate, day);
        char probe[16];
        snprintf(probe, sizeof probe, "%g", 1.5);
        QVERIFY(!qgetenv("LC_ALL").startsWith("de_DE") || QByteArray(probe) == "1,5"); // the locale is really in use
        QCOMPARE(Csv_Line(r), line + '\n');
        QCOMPARE(Csv_LocalDay(r.timeMs), day);
        LoggerReading back;
        QVERIFY(Csv_ParseLine(line, &back));
        QCOMPARE(Csv_Line(back), line + '\n');
        QCOMPARE(back.timeMs, r.timeMs);
    }

    void parseRefuses_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("header") << Csv_Header().trimmed();
        QTest::newRow("torn") << QByteArray("2026-12-08T09:00:01-05:00,12.3,17.3,,,LV51");
        QTest::newRow("decimal comma") << QByteArray("2026-12-08T09:00:01-05:00,12,3,17.3,,,LV51,0123456789ab,1,live");
        QTest::newRow("two decimals") << QByteArray("2026-12-08T09:00:01-05:00,12.30,17.3,,,LV51,0123456789ab,1,live");
        QTest::newRow("both gases") << QByteArray("2026-12-08T09:00:01-05:00,1.0,1.0,0.010,0.020,LV51,0123456789ab,1,live");
        QTest::newRow("no offset") << QByteArray("2026-12-08T09:00:01,1.0,1.0,,,LV51,0123456789ab,1,live,x");
        QTest::newRow("bad date") << QByteArray("2026-02-30T09:00:01-05:00,1.0,1.0,,,LV51,0123456789ab,1,live");
        QTest::newRow("bad source") << QByteArray("2026-12-08T09:00:01-05:00,1.0,1.0,,,LV51,0123456789ab,1,past");
        QTest::newRow("empty") << QByteArray();
    }
    void parseRefuses()
    {
        QFETCH(QByteArray, line);
        LoggerReading r = Reading(7, 1);
        QVERIFY(!Csv_ParseLine(line, &r));
        QCOMPARE(r.timeMs, int64_t(7000));
    }

    void tornTailIsCutBeforeAppending()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("2026-12-08.csv");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Csv_Header() + Csv_Line(Reading(1796738401, 1)) + Csv_Line(Reading(1796738402, 2)).left(30));
        f.close();
        {
            DayLog log(dir.path(), false);
            QVERIFY(log.Append(Reading(1796738403, 3)));
        }
        const QList<QByteArray> lines = Lines(path);
        QCOMPARE(lines.size(), 4); // header, two readings, nothing after the last "\n"
        LoggerReading r;
        QVERIFY(Csv_ParseLine(lines[1], &r) && Csv_ParseLine(lines[2], &r));
        QCOMPARE(r.pm25, 3.0);
    }

    void unwritableFolderQueuesUntilRetry()
    {
        QTemporaryDir dir;
        const QString blocker = dir.filePath("blocker"); // a file where the folder should be
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
        DayLog log(blocker + "/log", false);
        for (int i = 0; i < 3; ++i)
            QVERIFY(!log.Append(Reading(1796738401 + i, i)));
        QCOMPARE(log.Queued(), 3);
        QVERIFY(log.Failing());
        QCOMPARE(log.LastError(), "cannot write " + blocker + "/log/2026-12-08.csv: " + QString::fromLocal8Bit(strerror(ENOTDIR)));
        QVERIFY(!log.Retry());
        QVERIFY(QFile::remove(blocker));
        QVERIFY(log.Retry());
        QVERIFY(log.Retry() && !log.Failing() && log.Sync());
        const QList<QByteArray> lines = Lines(blocker + "/log/2026-12-08.csv");
        QCOMPARE(lines.size(), 5);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(lines[i + 1] + '\n', Csv_Line(Reading(1796738401 + i, i)));
    }

    void fullQueueDropsTheOldest()
    {
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath("f")).open(QIODevice::WriteOnly));
        DayLog log(dir.filePath("f/log"), false);
        for (int i = 0; i < DayLog::kMaxQueued + 5; ++i)
            log.Append(Reading(1796738401 + i, 1));
        QCOMPARE(log.Queued(), int(DayLog::kMaxQueued));
        QCOMPARE(log.Dropped(), int64_t(5));
    }

    void readingsGoToTheFileOfTheirDay()
    {
        QTemporaryDir dir;
        {
            DayLog live(dir.path(), false), history(dir.path(), true);
            QVERIFY(live.Append(Reading(1796705999, 1)) && live.Append(Reading(1796706000, 2)));
            // A backfill moves back and forth between days.
            for (qint64 t : {1796706000, 1796705700, 1796706300})
                QVERIFY(history.Append(Reading(t, 3)));
        }
        const QStringList expected{"2026-12-07.csv", "2026-12-08.csv", "history-2026-12-07.csv", "history-2026-12-08.csv"};
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), expected);
        const int lines[] = {3, 3, 3, 4}; // header, lines, the empty piece after the last "\n"
        for (int i = 0; i < 4; ++i)
            QCOMPARE(Lines(dir.filePath(expected[i])).size(), lines[i]);
    }

    // A clock set back: what it stamps before the day file's last line goes to the day's next
    // part until it has passed that line; a day file removed while open is made again, with the
    // lines written since the last sync.
    void timesNeverGoBackAndRemovedFilesComeBack()
    {
        QTemporaryDir dir;
        const qint64 t0 = 1796738400;
        DayLog log(dir.path(), false);
        for (qint64 t : {t0, t0 + 1, t0 - 60, t0 - 59, t0 + 1, t0 + 2})
            QVERIFY(log.Append(Reading(t, double(t - t0 + 100))));
        QCOMPARE(log.TakeNotices().size(), 2); // to the part and back
        QVERIFY(log.Sync());
        QVERIFY(log.Append(Reading(t0 + 3, 103)));
        QVERIFY(QFile::remove(dir.filePath("2026-12-08.csv")));
        QVERIFY(log.Sync());
        QVERIFY(log.TakeNotices().value(0).contains("was removed while recording"));
        QVERIFY(log.Append(Reading(t0 + 4, 104)));
        log.Reopen();
        const QList<QByteArray> day = Lines(dir.filePath("2026-12-08.csv")), part = Lines(dir.filePath("2026-12-08-2.csv"));
        QCOMPARE(day.size(), 4); // header, the line since the sync, the next, ""
        QCOMPARE(day[1] + '\n', Csv_Line(Reading(t0 + 3, 103)));
        QCOMPARE(part.size(), 4); // header, t0 - 60, t0 - 59, ""
        QCOMPARE(part[2] + '\n', Csv_Line(Reading(t0 - 59, 41)));
    }

    // A run that ends while the folder cannot be written waits, and is written once it can.
    void recordFileWaitsForTheDisk()
    {
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath("log")).open(QIODevice::WriteOnly)); // a file where the folder goes
        RunRecorder rec(dir.filePath("log"), 1);
        rec.Add(Reading(1796738400, 10));
        QVERIFY(!rec.EndRun() && rec.Waiting() == 1 && rec.LastError().startsWith("cannot write"));
        QVERIFY(!rec.Retry());
        QVERIFY(QFile::remove(dir.filePath("log")));
        QVERIFY(rec.Retry() && !rec.Failing());
        QVERIFY(QFile::exists(dir.filePath("log/2026-12-08_090000.str")));
    }

    void runFiles_data()
    {
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<QByteArray>("serial2"); // of the last reading
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QList<int>>("firstValues"); // the first file's records, PM2.5 x 10
        const qint64 t0 = 1796738400; // 2026-12-08 09:00:00 -05:00
        const QByteArray s = "0123456789ab";
        QTest::newRow("two in one second") << QList<qint64>{t0, t0, t0 + 1} << s << QStringList{"2026-12-08_090000-tvoc.str", "2026-12-08_090000.str"} << QList<int>{101, 102};
        QTest::newRow("5 s gap") << QList<qint64>{t0, t0 + 1, t0 + 6} << s << QStringList{"2026-12-08_090000-tvoc.str", "2026-12-08_090000.str"} << QList<int>{100, 101, 101, 101, 101, 101, 102};
        QTest::newRow("12 s gap") << QList<qint64>{t0, t0 + 1, t0 + 13} << s << QStringList{"2026-12-08_090000-tvoc.str", "2026-12-08_090000.str", "2026-12-08_090013-tvoc.str", "2026-12-08_090013.str"} << QList<int>{100, 101};
        QTest::newRow("other sensor") << QList<qint64>{t0, t0 + 1, t0 + 2} << QByteArray("ba9876543210") << QStringList{"2026-12-08_090000-tvoc.str", "2026-12-08_090000.str", "2026-12-08_090002-tvoc.str", "2026-12-08_090002.str"} << QList<int>{100, 101};
        QTest::newRow("midnight") << QList<qint64>{1796705998, 1796705999, 1796706000} << s << QStringList{"2026-12-07_235958-tvoc.str", "2026-12-07_235958.str", "2026-12-08_000000-tvoc.str", "2026-12-08_000000.str"} << QList<int>{100, 101};
    }
    void runFiles()
    {
        QFETCH(QList<qint64>, times);
        QFETCH(QByteArray, serial2);
        QFETCH(QStringList, files);
        QFETCH(QList<int>, firstValues);
        QTemporaryDir dir;
        {
            RunRecorder rec(dir.path(), 1);
            for (int i = 0; i < times.size(); ++i)
                rec.Add(Reading(times[i], 10 + i / 10.0, 0.25 + i / 1000.0, GasKind::Tvoc, i + 1 < times.size() ? "0123456789ab" : serial2));
            QCOMPARE(rec.CurrentPath(), dir.filePath(files.last()));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), files);
        GRecordDataPro pm, gas;
        QVERIFY(pm.OpenBinFile(dir.filePath(files[1]), 0) && gas.OpenBinFile(dir.filePath(files[0]), 1));
        QCOMPARE(pm.m_StartTime.toSecsSinceEpoch(), times[0]);
        QCOMPARE(gas.m_StartTime.toSecsSinceEpoch(), times[0]);
        QCOMPARE(pm.m_pTrac->used, firstValues.size());
        QCOMPARE(pm.m_pRealData->m_DataCount, firstValues.size());
        for (int i = 0; i < firstValues.size(); ++i) {
            QCOMPARE(int(pm.m_pTrac->records[i].value1), firstValues[i]);
            QCOMPARE(int(pm.m_pTrac->records[i].value2), firstValues[i] + 50);
            QCOMPARE(gas.m_pRealData->m_pValue1[i], (firstValues[i] - 100 + 250) / 1000.0);
        }
    }
};

QTEST_GUILESS_MAIN(TestLoggerFiles)
#include "test_loggerfiles.moc"
