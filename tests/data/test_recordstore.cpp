// The record stores: live readings with gap filling on a stepped clock, the history
// conversion, the record-file conversion, and a simulated 15-day run.
#include "datatesthelpers.h"
#include "grecorddatapro.h"
#include "platformtime.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
const int64_t kStartMs = 1714557600000LL; // 2024-05-01 10:00:00 UTC

TAG_T_SPM25Data Reading(uint16_t v1, uint16_t v2, uint16_t delta = 0, uint16_t base = 0)
{
    TAG_T_SPM25Data r;
    r.usDelta = delta;
    r.usBase = base;
    r.usValue1 = v1;
    r.usValue2 = v2;
    r.usAux = 99;
    return r;
}

// Sequential appends the container has taken, shared records counted one by one.
int64_t AppendsTaken(const _STracFile* t)
{
    return int64_t(t->next_index) * t->seq_per_record + t->seq_phase;
}
} // namespace

class TestRecordStore : public QObject {
    Q_OBJECT

    int64_t m_NowMs = kStartMs;
    QTemporaryDir m_Dir;

    void Step(int64_t seconds) { m_NowMs += seconds * 1000; }

private slots:
    void initTestCase() { Platform_SetNow([this] { return m_NowMs; }); }
    void cleanupTestCase() { Platform_SetNow({}); }
    void init() { m_NowMs = kStartMs; }

    void gapFilling_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QVector<int>>("firstValues"); // raw first values in the container after the reading
        QTest::newRow("1 s: no midpoint") << 1 << QVector<int>{350, 361};
        QTest::newRow("same second: appended") << 0 << QVector<int>{350, 361};
        QTest::newRow("2 s: one midpoint") << 2 << QVector<int>{350, 355, 361};
        QTest::newRow("3 s: one midpoint") << 3 << QVector<int>{350, 355, 361};
        QTest::newRow("4 s: two midpoints") << 4 << QVector<int>{350, 355, 358, 361};
        QTest::newRow("clock behind: dropped") << -2 << QVector<int>{350};
    }
    void gapFilling()
    {
        QFETCH(int, seconds);
        QFETCH(QVector<int>, firstValues);
        GRecordChannel ch;
        ch.Create();
        ch.StartRealTime();
        ch.AddReading(Reading(350, 400, 7, 8), 0);
        Step(seconds);
        ch.AddReading(Reading(361, 420, 5, 6), 0);

        const _SRealData* s = ch.m_pRealTime->m_pRealData;
        const _STracFile* t = ch.m_pRealTime->m_pTrac;
        QCOMPARE(s->m_DataCount, firstValues.size());
        QCOMPARE(t->used, firstValues.size());
        for (int i = 0; i < firstValues.size(); ++i) {
            QCOMPARE(int(t->records[i].value1), firstValues[i]);
            QCOMPARE(s->m_pValue1[i], firstValues[i] / 10.0);
            QCOMPARE(s->m_pDataSec[i], double(i));
            const bool midpoint = i > 0 && i < firstValues.size() - 1;
            QCOMPARE(int(t->records[i].extra1), midpoint ? 0 : i == 0 ? 7 : 5);
        }
        if (firstValues.size() == 3)
            QCOMPARE(int(t->records[1].value2), 410);
    }

    void gasChannelScalesByAThousand()
    {
        GRecordChannel ch;
        ch.Create();
        ch.StartRealTime();
        ch.AddReading(Reading(456, 0), 1);
        Step(2);
        ch.AddReading(Reading(500, 0), 1);
        const GRecordDataPro* live = ch.m_pRealTime;
        QCOMPARE(live->m_ValueScale, 1000.0);
        QCOMPARE(live->m_pRealData->m_pValue1[0], 0.456);
        QCOMPARE(int(live->m_pTrac->records[1].value1), 478);
        double v1 = 0, v2 = 0;
        RealData_LastValues(live->m_pRealData, &v1, &v2);
        QCOMPARE(v1, 5.0);
    }

    // Fifteen days of one reading per second: the series fills after 14 days, the container
    // halves its resolution and keeps every record on its time, no false gaps are bridged once
    // the series is full, and the value display keeps following the newest reading.
    void fifteenDayRun()
    {
        GRecordChannel ch;
        ch.Create();
        ch.StartRealTime();
        const int64_t readings = 15 * 86400;
        for (int64_t tick = 0; tick < readings; ++tick) {
            ch.AddReading(Reading(uint16_t(tick % 60000), uint16_t(tick / 60000)), 0);
            Step(1);
        }
        const _SRealData* s = ch.m_pRealTime->m_pRealData;
        const _STracFile* t = ch.m_pRealTime->m_pTrac;
        QCOMPARE(s->m_DataCount, 1209600);
        QCOMPARE(s->m_pValue1[1209599], (1209599 % 60000) / 10.0);
        QCOMPARE(AppendsTaken(t), readings);
        QCOMPARE(t->sec_per_record, 2);
        QCOMPARE(t->used, int(readings / 2));
        for (int k = 0; k < t->used; ++k) {
            const int64_t tick = t->records[k].value1 + 60000 * int64_t(t->records[k].value2);
            if (tick != 2 * int64_t(k))
                QFAIL(qPrintable(QString("record %1 holds the reading of second %2").arg(k).arg(tick)));
        }
        double v1 = 0, v2 = 0;
        RealData_LastValues(s, &v1, &v2);
        QCOMPARE(v1, double((readings - 1) % 60000));
        QCOMPARE(v2, double((readings - 1) / 60000));

        // A real gap after the series filled is still bridged in the container.
        Step(3); // the next reading comes 4 s after the last
        ch.AddReading(Reading(0, 0), 0);
        QCOMPARE(AppendsTaken(t), readings + 3);
    }

    void historyIntoTheHistoryStore_data()
    {
        QTest::addColumn<int>("values");
        QTest::addColumn<int>("typeCode");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("showPoints");
        QTest::newRow("287 values") << 287 << 20 << 0 << 300;
        QTest::newRow("288 values") << 288 << 20 << 0 << 288;
        QTest::newRow("own time stamps") << 4032 << 130 << 0 << 4032;
        QTest::newRow("gas") << 12 << 0 << 1 << 300;
    }
    void historyIntoTheHistoryStore()
    {
        QFETCH(int, values);
        QFETCH(int, typeCode);
        QFETCH(int, channel);
        QFETCH(int, showPoints);
        SCodeUsb codec;
        codec.m_RealPM25Count = uint16_t(values);
        for (int i = 0; i < values; ++i) {
            codec.mp_HistoryData[i] = uint16_t(100 + i);
            codec.mp_PM10HistoryData[i] = uint16_t(2 * i + 1);
            codec.mTimeSecList.append(uint32_t(1700000000 + 300 * i));
        }
        GRecordChannel ch;
        ch.Create();
        ch.StartRealTime();
        ch.m_TypeCode = typeCode;
        const QDateTime reference = QDateTime::fromSecsSinceEpoch(1714557600);
        QCOMPARE(int(ch.StoreHistory(codec, channel, reference, 300)), values);

        QCOMPARE(ch.m_pCurrent, ch.m_pHisData);
        QCOMPARE(int(ch.m_Source), 2);
        QCOMPARE(int(ch.m_Live), 0);
        QCOMPARE(ch.m_HisTimes, codec.mTimeSecList);
        const GRecordDataPro* his = ch.m_pHisData;
        const _SRealData* s = his->m_pRealData;
        QCOMPARE(s->m_DataCount, values);
        QCOMPARE(s->m_DataSecUnit, 300);
        QCOMPARE(s->min_show, 300);
        QCOMPARE(s->show_pt_cnt, showPoints);
        QCOMPARE(s->m_ShowCount, qMin(values, showPoints));
        const double scale = channel ? 1000 : 10;
        QCOMPARE(his->m_ValueScale, scale);
        QCOMPARE(s->m_pValue1[values - 1], (100 + values - 1) / scale); // fractions kept
        QCOMPARE(s->m_pValue2[3], 7 / scale);
        QCOMPARE(his->m_pTrac->used, values);
        QCOMPARE(int(his->m_pTrac->records[3].value1), 103);
        QCOMPARE(int(his->m_pTrac->records[3].extra1), 0);
        const qint64 start = his->m_StartTime.toSecsSinceEpoch();
        QCOMPARE(start, typeCode == 130 ? 0 : 1714557600 - 300LL * values);
    }

    void conversionsBelowOneSecondAreRefused()
    {
        SCodeUsb codec;
        codec.m_RealPM25Count = 5;
        GRecordChannel ch;
        ch.Create();
        ch.StartRealTime();
        QCOMPARE(int(ch.StoreHistory(codec, 0, QDateTime::currentDateTime(), 300)), 5);
        ch.SetSource(0, 1);
        QCOMPARE(int(ch.LoadHistory(codec, 0, QDateTime::currentDateTime(), 0, 0, 2)), 0);
        QCOMPARE(int(ch.StoreHistory(codec, 0, QDateTime::currentDateTime(), 0)), 0);
        QCOMPARE(ch.m_pCurrent, ch.m_pRealTime);
        QCOMPARE(int(ch.m_Source), 0);
        QCOMPARE(int(ch.m_Live), 1);
        QCOMPARE(ch.m_pHisData->m_pRealData->m_DataSecUnit, 300);
        QCOMPARE(ch.m_pHisData->m_pRealData->m_DataCount, 5);
        QVERIFY(!ch.m_pHisData->HistoryToRealData(QDateTime::currentDateTime(), 0, 0, 300));

        // A record file whose sec_per_record is 0 or negative.
        for (int32_t spr : {0, -2}) {
            GRecordDataPro store;
            store.m_pTrac->sec_per_record = spr;
            Trac_Add(store.m_pTrac, 0, 0, 1, 1, -1);
            QVERIFY(!store.RecordDataToRealData2(0));
            QCOMPARE(store.m_pRealData->m_DataCount, 0);
            QCOMPARE(store.m_pRealData->m_DataSecUnit, 1);
        }
    }

    void recordFileIntoTheFileStore()
    {
        Trac t(Trac_Create());
        t->sec_per_record = 2;
        t->start_time = 1714557600;
        const uint16_t raw[] = {355, 999, 1000, 2500};
        for (uint16_t v : raw)
            Trac_Add(t.get(), 1, 2, v, uint16_t(v + 1), -1);
        const QString path = m_Dir.filePath("four.str");
        QCOMPARE(Trac_Write(t.get(), QFile::encodeName(path).constData(), 0), 4);

        GRecordDataPro particulate;
        QVERIFY(particulate.OpenBinFile(path, 0));
        const _SRealData* s = particulate.m_pRealData;
        QCOMPARE(s->m_DataCount, 4);
        QCOMPARE(s->m_DataSecUnit, 2);
        QCOMPARE(s->m_pDataSec[3], 6.0);
        QCOMPARE(s->m_pValue1[0], 35.0); // whole numbers after the division
        QCOMPARE(s->m_pValue1[3], 250.0);
        QCOMPARE(s->m_pValue2[1], 100.0);
        QCOMPARE(particulate.m_StartTime.toSecsSinceEpoch(), qint64(1714557600));
        RealData_FitAll(particulate.m_pRealData);
        QCOMPARE(s->min_show, 3); // k + 1 for a short file
        QCOMPARE(s->m_ShowCount, 4);

        GRecordDataPro gas;
        QVERIFY(gas.OpenBinFile(path, 1));
        // Gas values keep their thousandths: 0.999 mg/m3 must not open as 0.
        QCOMPARE(gas.m_pRealData->m_pValue1[0], 0.355);
        QCOMPARE(gas.m_pRealData->m_pValue1[1], 0.999);
        QCOMPARE(gas.m_pRealData->m_pValue1[2], 1.0);
        QCOMPARE(gas.m_pRealData->m_pValue2[3], 2.501);
    }

    void failedOpenLeavesTheStore()
    {
        GRecordDataPro store;
        Trac t(Trac_Create());
        t->start_time = 1714557600;
        Trac_Add(t.get(), 0, 0, 123, 0, -1);
        const QString good = m_Dir.filePath("good.str");
        Trac_Write(t.get(), QFile::encodeName(good).constData(), 0);
        QVERIFY(store.OpenBinFile(good, 0));

        QByteArray zeroSpacing = ReadAll(good);
        zeroSpacing.replace(24, 4, LE32(0));
        const QString bad = m_Dir.filePath("zero.str");
        QVERIFY(WriteAll(bad, zeroSpacing));
        const QString shortFile = m_Dir.filePath("short.str");
        QVERIFY(WriteAll(shortFile, ReadAll(good).left(31)));
        const _STracRecord* buffer = store.m_pTrac->records;
        for (const QString& path : {bad, shortFile, m_Dir.filePath("missing.str")}) {
            QVERIFY(!store.OpenBinFile(path, 0));
            QCOMPARE(store.m_pTrac->records, buffer);
            QCOMPARE(store.m_pTrac->sec_per_record, 1);
            QCOMPARE(store.m_pRealData->m_DataCount, 1);
            QCOMPARE(store.m_pRealData->m_pValue1[0], 12.0);
            QCOMPARE(store.m_StartTime.toSecsSinceEpoch(), qint64(1714557600));
        }
    }

    void liveStoreSavesWhatItGot()
    {
        GRecordChannel ch;
        ch.Create();
        ch.StartRealTime();
        for (int i = 0; i < 5; ++i) {
            ch.AddReading(Reading(uint16_t(300 + i), uint16_t(400 + i), uint16_t(i), 9), 0);
            Step(1);
        }
        GRecordDataPro* live = ch.m_pRealTime;
        live->m_pTrac->start_time = uint32_t(live->m_StartTime.toSecsSinceEpoch());
        const QString path = m_Dir.filePath("live.str");
        QCOMPARE(live->SaveBinFile(path, 1), 5);
        Trac back(Trac_Create());
        QCOMPARE(Trac_Read(back.get(), QFile::encodeName(path).constData()), 5);
        QCOMPARE(back->channel, 1);
        QCOMPARE(back->start_time, uint32_t(kStartMs / 1000));
        QCOMPARE(memcmp(back->records, live->m_pTrac->records, 5 * 8), 0);
        QCOMPARE(int(back->records[4].extra1), 4);
    }
};

QTEST_GUILESS_MAIN(TestRecordStore)
#include "test_recordstore.moc"
