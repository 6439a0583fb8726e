// Inputs that once broke the program, as plain tests. The fuzz targets found them; their raw
// inputs are also replayed from fuzz/regressions by the fuzz_replay_* tests.
#include "grecorddatapro.h"
#include "realdata.h"

#include <QTemporaryDir>
#include <QtTest>
#include <climits>

namespace {
QByteArray Le32(uint32_t v)
{
    QByteArray b;
    for (int i = 0; i < 4; ++i)
        b.append(char(v >> (8 * i)));
    return b;
}

// A version-3 record file: header and `count` records of the given first value.
QByteArray RecordFile(int count, int32_t secPerRecord, uint16_t value)
{
    QByteArray f = "TRAC" + Le32(3) + Le32(uint32_t(count)) + Le32(uint32_t(count)) + Le32(1464862272) + Le32(0)
                   + Le32(uint32_t(secPerRecord));
    for (int i = 0; i < count; ++i)
        f += Le32(0) + Le32(value);
    return f;
}
} // namespace

class TestHostileInput : public QObject {
    Q_OBJECT

private slots:
    // A record file may claim any spacing of its records. Zooming in at the longest one wrapped
    // the next granularity round to a negative number, which then zoomed down to one second per
    // shown point (and is undefined behaviour to begin with).
    void zoomAtTheLongestRecordSpacing_data()
    {
        QTest::addColumn<int>("secPerRecord");
        QTest::addColumn<int>("records");
        QTest::newRow("INT_MAX, empty") << INT_MAX << 0;
        QTest::newRow("INT_MAX, three records") << INT_MAX << 3;
        QTest::newRow("INT_MAX - 1") << INT_MAX - 1 << 2;
        QTest::newRow("a day") << 86400 << 2;
    }
    void zoomAtTheLongestRecordSpacing()
    {
        QFETCH(int, secPerRecord);
        QFETCH(int, records);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("spaced.str");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(RecordFile(records, secPerRecord, 123));
        f.close();

        GRecordDataPro store;
        QVERIFY(store.OpenBinFile(path, 0));
        _SRealData* s = store.m_pRealData;
        QCOMPARE(s->m_DataCount, records);
        store.UpdateStartFields();
        RealData_FitAll(s);
        for (int k = 0; k < 3; ++k) {
            RealData_ZoomIn(s);
            // Never finer than the records themselves.
            QVERIFY2(s->min_show >= secPerRecord, qPrintable(QString::number(s->min_show)));
        }
        RealData_ZoomOut(s);
        QVERIFY(s->min_show >= 1);
        QVERIFY(s->m_ShowCount <= records);
    }
};

QTEST_GUILESS_MAIN(TestHostileInput)
#include "test_hostileinput.moc"
