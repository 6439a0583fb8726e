// The text import: the parser over plain text (accepted layout, refused files, rows, limits, any
// prefix of a file) and the window's FileExcelToStr and open command on text files. CTest runs
// it again under a decimal-comma locale (LC_ALL=de_DE.UTF-8), which must not change a single
// record, and under TZ=EST5EDT,M3.2.0,M11.1.0 for the days the clocks change.
#include "modalscript.h"
#include "windowtest.h"

#include "grecorddatapro.h"
#include "textimport.h"
#include "ui_pm2_5.h"

#include <QDir>
#include <QFile>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct TracFree {
    void operator()(_STracFile* t) const { Trac_Destroy(t); }
};
using Trac = std::unique_ptr<_STracFile, TracFree>;

const QByteArray kExample = "Date:2016.06.02-10:11:12\r\n"
                            "Data Count:3\r\n"
                            "\r\n"
                            "number\ttime       \tPM25Value\tPM10Value\t\r\n"
                            "1    \t10:11:12\t12.35       \t20.5\r\n"
                            "2    \t10:11:13\t0.7       \t41\r\n"
                            "3    \t10:11:14\t100       \t6553.4\r\n";

uint32_t LocalSeconds(int y, int mo, int d, int h, int mi, int s)
{
    return uint32_t(QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::LocalTime).toSecsSinceEpoch());
}

// The import of `text` into a fresh container, as a heap copy of exactly its size so that a
// sanitizer sees any read beyond the end.
TextImportResult Import(const QByteArray& text, Trac* out = nullptr)
{
    std::unique_ptr<char[]> copy(new char[size_t(std::max(text.size(), 1))]);
    std::copy(text.begin(), text.end(), copy.get());
    Trac trac(Trac_Create());
    const TextImportResult r = TextImport_Parse(QByteArray::fromRawData(copy.get(), text.size()), trac.get());
    if (out)
        *out = std::move(trac);
    return r;
}

QByteArray Rows(const QByteArray& head, const QByteArray& rows)
{
    return head + "number\ttime\tPM25\tPM10\n" + rows;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile::remove(path);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

Q_DECLARE_METATYPE(TextImportResult)

class TestMonitorTextImport : public QObject {
    Q_OBJECT

    QTemporaryDir m_Dir;

private slots:
    void initTestCase()
    {
        Vostral_InitResources();
        QVERIFY(m_Dir.isValid());
    }

    // The run under LC_ALL=de_DE.UTF-8 proves something only if the C library really reads
    // numbers with a comma there.
    void localeOfThisRun()
    {
        const QByteArray wanted = qgetenv("LC_ALL");
        if (!wanted.startsWith("de_DE"))
            QSKIP("plain run");
        char probe[16];
        snprintf(probe, sizeof probe, "%g", 1.5);
        QVERIFY2(QByteArray(probe) == "1,5", "the de_DE.UTF-8 locale is not installed");
        QCOMPARE(QLocale::system().decimalPoint(), QChar(','));
    }

    void example()
    {
        Trac t;
        QCOMPARE(Import(kExample, &t), TextImportResult::Ok);
        QCOMPARE(t->used, 3);
        QCOMPARE(t->count, 3);
        QCOMPARE(t->sec_per_record, 1);
        QCOMPARE(t->channel, 0);
        QCOMPARE(t->magic, uint32_t(kTracMagic));
        QCOMPARE(t->start_time, LocalSeconds(2016, 6, 2, 10, 11, 12));
        // Tenths cut toward zero, in single precision: 12.35 -> 123, 0.7 -> 7.
        const uint16_t v1[] = {123, 7, 1000};
        const uint16_t v2[] = {205, 410, 65534};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(t->records[i].value1, v1[i]);
            QCOMPARE(t->records[i].value2, v2[i]);
            QCOMPARE(t->records[i].extra1, uint16_t(0));
            QCOMPARE(t->records[i].extra2, uint16_t(0));
        }
    }

    void refusedFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<TextImportResult>("result");
        const QByteArray head = "Date:2016.06.02-x\nData Count:10\n";
        QTest::newRow("empty") << QByteArray() << TextImportResult::NoDateLine;
        // What the program's own text export writes cannot be imported.
        QTest::newRow("text export") << QByteArray("Data Count:2\r\n\r\nnumber\ttime       \tPM25Value\tPM10Value\t\r\n"
                                                   "1    \t09:30:00\t35.2       \t41\r\n")
                                     << TextImportResult::NoDateLine;
        QTest::newRow("date with a blank") << QByteArray("Date :2016.06.02-\nData Count:1\nnumber\ttime\n1 1:0:0 1 1\n")
                                           << TextImportResult::NoDateLine;
        QTest::newRow("lower case") << QByteArray("date:2016.06.02-\nData Count:1\n") << TextImportResult::NoDateLine;
        QTest::newRow("month 13") << QByteArray("Date:2016.13.02-\nData Count:1\n") << TextImportResult::BadDate;
        QTest::newRow("no day end") << QByteArray("Date:2016.06.02\nData Count:1\n") << TextImportResult::BadDate;
        QTest::newRow("year 1900") << Rows("Date:1900.01.01-\nData Count:1\n", "1 00:00:00 1 1\n")
                                   << TextImportResult::BadDate;
        QTest::newRow("year 2200") << Rows("Date:2200.01.01-\nData Count:1\n", "1 00:00:00 1 1\n")
                                   << TextImportResult::BadDate;
        QTest::newRow("no count line") << QByteArray("Date:2016.06.02-\n\nData Count:1\n") << TextImportResult::NoCountLine;
        QTest::newRow("count only") << QByteArray("Date:2016.06.02-\nData Count") << TextImportResult::NoCountLine;
        QTest::newRow("negative count") << Rows("Date:2016.06.02-\nData Count:-1\n", "1 00:00:00 1 1\n")
                                        << TextImportResult::BadCount;
        QTest::newRow("no header") << QByteArray("Date:2016.06.02-\nData Count:3\nnumber time\n1 10:00:00 1 1\n")
                                   << TextImportResult::NoHeader;
        QTest::newRow("zero count") << Rows("Date:2016.06.02-\nData Count:0\n", "1 10:00:00 1 1\n")
                                    << TextImportResult::NoRecords;
        QTest::newRow("count not a number") << Rows("Date:2016.06.02-\nData Count:many\n", "1 10:00:00 1 1\n")
                                            << TextImportResult::NoRecords;
        QTest::newRow("no rows") << Rows(head, "\n\n") << TextImportResult::NoRecords;
        QTest::newRow("same time") << Rows(head, "1 10:00:00 1 1\n2 10:00:00 2 2\n") << TextImportResult::BadInterval;
        QTest::newRow("backwards") << Rows(head, "1 10:00:05 1 1\n2 10:00:00 2 2\n") << TextImportResult::BadInterval;
        // Not wrapped at midnight.
        QTest::newRow("over midnight") << Rows(head, "1 23:59:59 1 1\n2 00:00:00 2 2\n") << TextImportResult::BadInterval;
        QTest::newRow("absurd clock") << Rows(head, "1 0:0:0 1 1\n2 99999999999:0:0 2 2\n")
                                      << TextImportResult::BadInterval;
    }
    void refusedFiles()
    {
        QFETCH(QByteArray, text);
        QFETCH(TextImportResult, result);
        QCOMPARE(Import(text), result);
    }

    void rows_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("rows");
        QTest::addColumn<int>("used");
        QTest::addColumn<int>("secPerRecord");
        QTest::addColumn<uint32_t>("start");
        QTest::addColumn<QVector<int>>("values"); // value1, value2 of each used record
        const uint32_t ten = LocalSeconds(2016, 6, 2, 10, 0, 0);
        QTest::newRow("five minutes apart, row 7 at index 6")
            << 9 << QByteArray("1\t10:00:00\t1\t2\n2\t10:05:00\t3\t4\n7\t10:30:00\t5\t6\n") << 7 << 300 << ten
            << QVector<int>{10, 20, 30, 40, 0, 0, 0, 0, 0, 0, 0, 0, 50, 60};
        QTest::newRow("row beyond the count is dropped")
            << 3 << QByteArray("1 10:00:00 1 1\n2 10:00:01 2 2\n4 10:00:03 4 4\n") << 2 << 1 << ten
            << QVector<int>{10, 10, 20, 20};
        QTest::newRow("rows that are no rows")
            << 3 << QByteArray("0 10:00:00 9 9\n-1 10:00:00 9 9\nx 1 2 3\n\n   \n1 10:00:00 1 1\nmean 5\n") << 1 << 1
            << ten << QVector<int>{10, 10};
        QTest::newRow("missing fields keep 0") << 3 << QByteArray("1 10:00:00 1.5\n2 10:00:01\n") << 2 << 1 << ten
                                               << QVector<int>{15, 0, 0, 0};
        QTest::newRow("unusable values")
            << 3 << QByteArray("1 10:00:00 -3 nan\n2 10:00:01 1e9 inf\n3 10:00:02 +2.5 abc\n") << 3 << 1 << ten
            << QVector<int>{0, 0, 65535, 65535, 25, 0};
        QTest::newRow("rows out of order are all kept")
            << 3 << QByteArray("3 10:00:20 3 3\n1 10:00:00 1 1\n2 10:00:10 2 2\n") << 3 << 10 << ten
            << QVector<int>{10, 10, 20, 20, 30, 30};
        QTest::newRow("the clock of row 1, a negative second counts 0")
            << 3 << QByteArray("1 7:30:-5 1 1\n") << 1 << 1 << LocalSeconds(2016, 6, 2, 7, 30, 0)
            << QVector<int>{10, 10};
        QTest::newRow("clock beyond a day") << 3 << QByteArray("1 25:00:00 1 1\n") << 1 << 1
                                            << LocalSeconds(2016, 6, 3, 1, 0, 0) << QVector<int>{10, 10};
        QTest::newRow("spaces, CR LF and extra columns")
            << 3 << QByteArray("  1   10:00:00   1.25   2   x y\r\n") << 1 << 1 << ten << QVector<int>{12, 20};
        QTest::newRow("a comma is no decimal point") << 3 << QByteArray("1 10:00:00 12,5 3,7\n") << 1 << 1 << ten
                                                     << QVector<int>{120, 30};
        // Clock-change days, in the run under this zone: the start is the wall clock of its day;
        // 02:30, skipped in spring, is read as 03:30, and 01:30, repeated in autumn, is the first.
        const struct { const char* day; const char* clock; uint32_t utc; } changes[] = {
            {"03.08", "01:30", 1772951400}, {"03.08", "02:30", 1772955000}, {"03.08", "03:30", 1772955000},
            {"03.08", "12:00", 1772985600}, {"11.01", "01:30", 1793511000}, {"11.01", "03:30", 1793521800},
            {"11.01", "12:00", 1793552400}};
        for (const auto& c : changes)
            if (qgetenv("TZ") == "EST5EDT,M3.2.0,M11.1.0")
                QTest::newRow(qPrintable(QString("2026.%1 %2").arg(c.day, c.clock)))
                    << 3 << "Date:2026." + QByteArray(c.day) + "-\n1 " + c.clock + ":00 1 1\n" << 1 << 1 << c.utc
                    << QVector<int>{10, 10};
    }
    void rows()
    {
        QFETCH(int, count);
        QFETCH(QByteArray, rows);
        QFETCH(int, used);
        QFETCH(int, secPerRecord);
        QFETCH(uint32_t, start);
        QFETCH(QVector<int>, values);
        const int ownDate = rows.startsWith("Date:") ? rows.indexOf('\n') + 1 : 0;
        const QByteArray date = ownDate ? rows.left(ownDate) : QByteArray("Date:2016.06.02-10:00:00\n");
        const QByteArray head = date + "Data Count:" + QByteArray::number(count) + " \nother\n";
        Trac t;
        QCOMPARE(Import(Rows(head, rows.mid(ownDate)), &t), TextImportResult::Ok);
        QCOMPARE(t->count, count);
        QCOMPARE(t->used, used);
        QCOMPARE(t->sec_per_record, secPerRecord);
        QCOMPARE(t->start_time, start);
        QCOMPARE(values.size(), 2 * used);
        for (int i = 0; i < used; ++i) {
            QCOMPARE(int(t->records[i].value1), values[2 * i]);
            QCOMPARE(int(t->records[i].value2), values[2 * i + 1]);
        }
    }

    // A huge count line buys no more than the container holds without halving its resolution:
    // rows beyond are refused and the spacing stays what rows 1 and 2 say.
    void largeImportKeepsTheContainerIntact()
    {
        QByteArray rows = "1 00:00:00 1 1\n2 00:00:02 2 2\n";
        rows += QByteArray::number(int(kTextImportMaxRecords)) + " 00:00:00 7 7\n";
        rows += QByteArray::number(int(kTextImportMaxRecords) + 1) + " 00:00:00 9 9\n";
        Trac t;
        QCOMPARE(Import(Rows("Date:2020.01.01-\nData Count:2000000000\n", rows), &t), TextImportResult::Ok);
        QCOMPARE(t->count, int(kTextImportMaxRecords));
        QCOMPARE(t->used, int(kTextImportMaxRecords));
        QCOMPARE(t->sec_per_record, 2);
        QCOMPARE(int(t->records[1].value1), 20);
        QCOMPARE(int(t->records[kTextImportMaxRecords - 1].value1), 70);
        QCOMPARE(t->start_time, LocalSeconds(2020, 1, 1, 0, 0, 0));
    }

    // Every prefix of a valid file, and each byte of it replaced by a few troublesome ones, gives
    // a clear result and never a container that claims more than it holds.
    void anyPrefixOrDamage()
    {
        const QByteArray text = kExample + "7\t10:11:18\t1\t1\n";
        int ok = 0;
        auto check = [&](const QByteArray& damaged) {
            Trac t;
            if (Import(damaged, &t) != TextImportResult::Ok)
                return true;
            ++ok;
            return t->used >= 1 && t->used <= t->count && t->count <= kTextImportMaxRecords && t->sec_per_record >= 1 &&
                   t->records != nullptr;
        };
        for (int n = 0; n <= text.size(); ++n)
            QVERIFY2(check(text.left(n)), qPrintable(QString("prefix of %1 bytes").arg(n)));
        const char replacements[] = {'\0', '\n', '\r', ':', '.', '-', '9', '\t', char(0xFF)};
        for (int i = 0; i < text.size(); ++i) {
            for (char c : replacements) {
                QByteArray damaged = text;
                damaged[i] = c;
                QVERIFY2(check(damaged), qPrintable(QString("byte %1 := %2").arg(i).arg(int(uchar(c)))));
            }
        }
        QVERIFY(ok > 0);
    }

    // The window's import writes the record file next to the text file and leaves it there.
    void fileExcelToStrWritesTheRecordFile()
    {
        std::unique_ptr<PM2_5> w = MakeWindowWithoutSensor();
        const QString path = m_Dir.filePath("a.xls");
        QVERIFY(WriteFile(path, kExample));
        const QString temp = w->FileExcelToStr(path);
        QCOMPARE(temp, path + ".tmp.str");
        Trac t(Trac_Create());
        QCOMPARE(Trac_Read(t.get(), QFile::encodeName(temp).constData()), 3);
        QCOMPARE(t->sec_per_record, 1);
        QCOMPARE(t->start_time, LocalSeconds(2016, 6, 2, 10, 11, 12));
        QCOMPARE(int(t->records[0].value1), 123);
        QCOMPARE(int(t->records[2].value2), 65534);

        // Missing and unreadable files give an empty result.
        QCOMPARE(w->FileExcelToStr(m_Dir.filePath("missing.xls")), QString());
        QCOMPARE(w->FileExcelToStr(m_Dir.path()), QString());
    }

    // An import that cannot be used never hands back a record file, not even a stale one of the
    // same name from an earlier import.
    void refusedImportNeverOpensAStaleFile()
    {
        std::unique_ptr<PM2_5> w = MakeWindowWithoutSensor();
        const QString path = m_Dir.filePath("stale.xls");
        QVERIFY(WriteFile(path, kExample));
        QCOMPARE(w->FileExcelToStr(path), path + ".tmp.str");
        QVERIFY(WriteFile(path, Rows("Date:2016.06.02-\nData Count:3\n", "1 10:00:00 1 1\n2 10:00:00 2 2\n")));
        QCOMPARE(w->FileExcelToStr(path), QString());

        // The temporary file cannot be written (a folder has its name).
        const QString blocked = m_Dir.filePath("blocked.xls");
        QVERIFY(WriteFile(blocked, kExample));
        QVERIFY(QDir(m_Dir.path()).mkdir("blocked.xls.tmp.str"));
        QCOMPARE(w->FileExcelToStr(blocked), QString());
    }

    // The open command on a text file: a window without sensor still has its channels.
    void openCommandShowsTheImport()
    {
        std::unique_ptr<PM2_5> w = MakeWindowWithoutSensor();
        const QString path = m_Dir.filePath("open.xls");
        QVERIFY(WriteFile(path, kExample));
        ModalScript dialogs;
        dialogs.ChooseFile(path);
        w->ui->actionOpen->trigger();
        QCOMPARE(dialogs.Seen().size(), 1);
        GRecordChannel& channel = w->m_RecordData[0];
        QCOMPARE(channel.m_Source, uchar(1));
        QCOMPARE(channel.m_pCurrent, channel.m_pFileData);
        const _SRealData* series = channel.m_pFileData->m_pRealData;
        QCOMPARE(series->m_DataCount, 3);
        // Particulate values of a file are shown as whole numbers.
        QCOMPARE(series->m_pValue1[0], 12.0);
        QCOMPARE(series->m_pValue2[1], 41.0);
        QCOMPARE(series->m_pValue1[2], 100.0);
        QCOMPARE(channel.m_pFileData->m_StartTime, QDateTime(QDate(2016, 6, 2), QTime(10, 11, 12)));
        QCOMPARE(w->m_Plot.mTitleDate, QDateTime(QDate(2016, 6, 2), QTime(10, 11, 15)));
        QVERIFY(!w->ui->actionBinary->isEnabled());
        QVERIFY(!w->ui->actionCollection->isChecked());
    }
};

QTEST_MAIN(TestMonitorTextImport)
#include "test_monitor_textimport.moc"
