// The text export, line by line: headers, padding, number and time formats, the live, file and
// history sources, and failures to write.
#include "datatesthelpers.h"
#include "platformtime.h"
#include "textexportexample.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

namespace {
QList<QByteArray> Lines(const QByteArray& bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}
} // namespace

class TestTextExport : public QObject {
    Q_OBJECT

    QTemporaryDir m_Dir;
    SCodeUsb m_Codec;
    uint16_t m_Pm25[kHistoryValues] = {};
    uint16_t m_Pm10[kHistoryValues] = {};

    // Saves the store and returns the file's bytes.
    QByteArray Save(GRecordDataPro& store, int source, int mode, int interval = 300)
    {
        const QString path = m_Dir.filePath("export.xls");
        if (!store.SaveTextFile(m_Codec, path, source, interval, mode, m_Pm10, m_Pm25))
            return "<failed>";
        return ReadAll(path);
    }

private slots:
    void cleanup() { Platform_SetNow({}); }

    void exampleByteForByte()
    {
        GRecordDataPro store;
        FillExampleStore(store);
        QCOMPARE(Save(store, 0, 2), ExampleExportBytes());
    }

    void oneValueFileStoreWithManyRows()
    {
        GRecordDataPro store;
        const QDateTime start(QDate(2024, 5, 1), QTime(23, 59, 0));
        store.m_StartTime = start;
        store.m_pRealData->m_DataSecUnit = 2;
        const int n = 10001;
        for (int i = 0; i < n; ++i)
            RealData_Add(store.m_pRealData, i % 7, 0, 2, 0);
        const QList<QByteArray> lines = Lines(Save(store, 1, 1));
        QCOMPARE(lines.size(), 3 + n);
        QCOMPARE(lines[0], QByteArray("Data Count:10001\r"));
        QCOMPARE(lines[1], QByteArray("\r"));
        QCOMPARE(lines[2], QByteArray("number\ttime        \tValue\t\r"));
        for (int i = 0; i < n; ++i) {
            const QByteArray& line = lines[3 + i];
            QByteArray number = QByteArray::number(i + 1);
            number += QByteArray(qMax(0, 5 - number.size()), ' ');
            const QByteArray expected = number + '\t' + start.addSecs(2 * i).toString("hh:mm:ss").toLatin1() + '\t'
                                        + QByteArray::number(i % 7) + '\r';
            if (line != expected)
                QFAIL(qPrintable(QString("row %1: '%2', expected '%3'").arg(i + 1).arg(QString(line), QString(expected))));
        }
        QVERIFY(lines[3 + 9998].startsWith("9999 \t"));
        QVERIFY(lines[3 + 9999].startsWith("10000\t"));
    }

    // Values are written as printf's %g would in the C locale.
    void numbersAsPercentG()
    {
        QVector<double> values{0, 12.0, 0.123, 35.2, 41.3, 6553.5, 65.535, 0.001, 123456.7, 1e-5, 1234567, 0.0001};
        QRandomGenerator rng(7);
        for (int i = 0; i < 2000; ++i)
            values << rng.bounded(65536) / (i % 2 ? 10.0 : 1000.0) << rng.generateDouble() * 1e4;
        GRecordDataPro store;
        store.m_StartTime = QDateTime::fromSecsSinceEpoch(0);
        for (double v : values)
            RealData_Add(store.m_pRealData, v, v / 3, 1, 0);
        const QList<QByteArray> lines = Lines(Save(store, 0, 2));
        QCOMPARE(lines.size(), 3 + values.size());
        for (int i = 0; i < values.size(); ++i) {
            const QList<QByteArray> fields = lines[3 + i].chopped(1).split('\t');
            QCOMPARE(fields.size(), 4);
            char first[32], second[32];
            snprintf(first, sizeof first, "%g       ", values[i]);
            snprintf(second, sizeof second, "%g", values[i] / 3);
            QCOMPARE(fields[2], QByteArray(first));
            QCOMPARE(fields[3], QByteArray(second));
        }
    }

    void historyWithTheDevicesOwnTimeStamps()
    {
        m_Codec.m_TypeCode = 130;
        m_Codec.m_RealPM25Count = 3;
        m_Codec.mTimeSecList = {1464862260, 1464862560, 1464862860};
        const uint16_t pm25[] = {123, 5, 1000};
        const uint16_t pm10[] = {456, 0, 1234};
        for (int i = 0; i < 3; ++i) {
            m_Pm25[i] = pm25[i];
            m_Pm10[i] = pm10[i];
        }
        GRecordDataPro store;
        store.SetValueScale(0);
        const QList<QByteArray> lines = Lines(Save(store, 2, 2));
        QCOMPARE(lines.size(), 6);
        const char* values[] = {"12.3       \t45.6", "0.5       \t0", "100       \t123.4"};
        for (int i = 0; i < 3; ++i) {
            const QByteArray stamp =
                QDateTime::fromSecsSinceEpoch(m_Codec.mTimeSecList[i]).toString("MM.dd hh:mm").toLatin1();
            QCOMPARE(lines[3 + i], QByteArray::number(i + 1) + "    \t" + stamp + '\t' + values[i] + '\r');
        }
    }

    void historyCountedBackFromTheTimeOfSaving()
    {
        const int64_t saveMs = 1714557630000LL;
        Platform_SetNow([=] { return saveMs; });
        m_Codec.m_TypeCode = 20;
        m_Codec.m_RealPM25Count = 4;
        for (int i = 0; i < 4; ++i)
            m_Pm25[i] = uint16_t(456 * (i + 1));
        GRecordDataPro store;
        store.SetValueScale(1);
        store.m_pRealData->m_ShowCount = 2; // zoomed: the times still end one interval before now
        const QList<QByteArray> lines = Lines(Save(store, 2, 1, 297));
        QCOMPARE(lines.size(), 7);
        const char* values[] = {"0.456", "0.912", "1.368", "1.824"};
        for (int i = 0; i < 4; ++i) {
            const QDateTime t = QDateTime::fromMSecsSinceEpoch(saveMs).addSecs(-297LL * (4 - i));
            QCOMPARE(lines[3 + i], QByteArray::number(i + 1) + "    \t" + t.toString("hh:mm").toLatin1() + '\t' + values[i] + '\r');
        }
    }

    void emptyStoresWriteTheHeaderOnly()
    {
        GRecordDataPro store;
        QCOMPARE(Save(store, 0, 1), QByteArray("Data Count:0\r\n\r\nnumber\ttime        \tValue\t\r\n"));
        m_Codec.m_RealPM25Count = 0;
        QCOMPARE(Lines(Save(store, 2, 2)).size(), 3);
    }

    void failuresAreReported()
    {
        GRecordDataPro store;
        FillExampleStore(store);
        QVERIFY(!store.SaveTextFile(m_Codec, m_Dir.filePath("no/such/dir.xls"), 0, 300, 2, m_Pm10, m_Pm25));
        if (QFile::exists("/dev/full"))
            QVERIFY(!store.SaveTextFile(m_Codec, "/dev/full", 0, 300, 2, m_Pm10, m_Pm25));
    }
};

QTEST_GUILESS_MAIN(TestTextExport)
#include "test_textexport.moc"
