// The text export under a decimal-comma locale and across daylight-saving changes (the test
// runs with LC_ALL=de_DE.UTF-8 and TZ=Europe/Berlin in a full application, which adopts the
// user's locale the way the program does).
#include "datatesthelpers.h"
#include "textexportexample.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

class TestTextExportLocale : public QObject {
    Q_OBJECT

    QTemporaryDir m_Dir;
    SCodeUsb m_Codec;

    QList<QByteArray> SavedLines(GRecordDataPro& store)
    {
        const QString path = m_Dir.filePath("export.xls");
        if (!store.SaveTextFile(m_Codec, path, 0, 300, 1, nullptr, nullptr))
            return {};
        return ReadAll(path).split('\n');
    }

private slots:
    void exampleIsTheSameUnderADecimalComma()
    {
        char probe[16];
        snprintf(probe, sizeof probe, "%g", 1.5);
        QVERIFY2(QByteArray(probe) == "1,5", "the test needs the de_DE.UTF-8 locale (localedef -i de_DE -f UTF-8 de_DE.UTF-8)");
        GRecordDataPro store;
        FillExampleStore(store);
        const QString path = m_Dir.filePath("example.xls");
        QVERIFY(store.SaveTextFile(m_Codec, path, 0, 300, 2, nullptr, nullptr));
        QCOMPARE(ReadAll(path), ExampleExportBytes());
    }

    void timesFollowDaylightSavingChanges_data()
    {
        QTest::addColumn<qint64>("startUtc");
        QTest::addColumn<QByteArray>("expected");
        // 2024-03-31 01:59:58 CET, clocks go forward at 02:00.
        QTest::newRow("spring") << qint64(1711846798) << QByteArray("01:59:58 01:59:59 03:00:00 03:00:01");
        // 2024-10-27 02:59:58 CEST, clocks go back at 03:00.
        QTest::newRow("autumn") << qint64(1729990798) << QByteArray("02:59:58 02:59:59 02:00:00 02:00:01");
    }
    void timesFollowDaylightSavingChanges()
    {
        QFETCH(qint64, startUtc);
        QFETCH(QByteArray, expected);
        const QDateTime start = QDateTime::fromSecsSinceEpoch(startUtc);
        if (start.offsetFromUtc() == start.addSecs(3600).offsetFromUtc())
            QSKIP("no time zone data for Europe/Berlin");
        GRecordDataPro store;
        store.m_StartTime = start;
        for (int i = 0; i < 4; ++i)
            RealData_Add(store.m_pRealData, 1.25, 0, 1, 0);
        const QList<QByteArray> lines = SavedLines(store);
        QCOMPARE(lines.size(), 3 + 4 + 1);
        QByteArrayList times;
        for (int i = 0; i < 4; ++i) {
            times << lines[3 + i].split('\t').value(1);
            QVERIFY(lines[3 + i].endsWith("\t1.25\r"));
        }
        QCOMPARE(times.join(' '), expected);
    }
};

QTEST_MAIN(TestTextExportLocale)
#include "test_textexport_locale.moc"
