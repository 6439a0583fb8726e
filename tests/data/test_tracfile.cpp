// The record container (appends, refusals, compaction) and the record file (write, read, and
// every kind of damaged or hostile file).
#include "datatesthelpers.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

namespace {
// Header fields (the buffer pointer included) and the leading records of a container, for
// "unchanged" checks.
struct Snapshot {
    _STracFile header;
    QByteArray records;
};

Snapshot Take(const _STracFile* t)
{
    Snapshot s{*t, {}};
    if (t->records)
        s.records = QByteArray(reinterpret_cast<const char*>(t->records), qMin(t->records_capacity, 64) * 8);
    return s;
}

bool Same(const Snapshot& a, const _STracFile* t)
{
    const Snapshot b = Take(t);
    return memcmp(&a.header, &b.header, sizeof a.header) == 0 && a.records == b.records;
}

// A container with three known records that failed reads must leave alone.
Trac KnownContainer()
{
    Trac t(Trac_Create());
    t->channel = 1;
    t->start_time = 12345;
    for (uint16_t i = 0; i < 3; ++i)
        Trac_Add(t.get(), 1, 2, 100 + i, 200 + i, -1);
    return t;
}

// A file's bytes: header of the given version and n records whose value1 is 10 + i.
QByteArray FileBytes(uint32_t version, int32_t count, int32_t used, int records, const char* magic = "TRAC")
{
    QByteArray b(magic, 4);
    b += LE32(version) + LE32(uint32_t(count)) + LE32(uint32_t(used)) + LE32(1700000000u);
    if (version != 1)
        b += LE32(1); // channel
    b += LE32(2);     // sec_per_record
    for (int i = 0; i < records; ++i)
        b += QByteArray::fromHex("01000200") + QByteArray(1, char(10 + i)) + QByteArray(1, 0) + QByteArray::fromHex("0500");
    return b;
}

// The tick (append number) encoded in a record by the compaction runs.
int64_t TickOf(const _STracRecord& r)
{
    return int64_t(r.extra1) << 16 | r.value1;
}
} // namespace

class TestTracFile : public QObject {
    Q_OBJECT

    QTemporaryDir m_Dir;
    QString Path(const QString& name) const { return m_Dir.filePath(name); }

private slots:
    void newContainerAllocatesOnFirstAppend()
    {
        Trac t(Trac_Create());
        QCOMPARE(memcmp(&t->magic, "TRAC", 4), 0);
        QCOMPARE(t->version, 3u);
        QCOMPARE(t->count, 1209712);
        QCOMPARE(t->sec_per_record, 1);
        QVERIFY(!t->records);
        QCOMPARE(Trac_Add(t.get(), 1, 2, 3, 4, -1), 0);
        QVERIFY(t->records);
        QCOMPARE(t->used, 1);
        QCOMPARE(t->next_index, 1);
    }

    void indexedAppendsCountInSeconds()
    {
        Trac t(Trac_Create());
        t->sec_per_record = 2;
        QCOMPARE(Trac_Add(t.get(), 0, 0, 7, 8, 600), 300);
        QCOMPARE(t->used, 301);
        QCOMPARE(t->records[300].value1, uint16_t(7));
        QCOMPARE(Trac_Add(t.get(), 0, 0, 9, 9, 20), 10);
        QCOMPARE(t->used, 11); // the last append decides used
        QCOMPARE(t->next_index, 0);
    }

    void refusedAppendsChangeNothing()
    {
        Trac t(Trac_Create());
        QVERIFY(Trac_Alloc(t.get(), 3));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(Trac_Add(t.get(), 0, 0, uint16_t(i), 0, -1), i);
        const Snapshot before = Take(t.get());
        QCOMPARE(Trac_Add(t.get(), 0, 0, 99, 0, -1), -1);
        QCOMPARE(Trac_Add(t.get(), 0, 0, 99, 0, 3), -1);
        QCOMPARE(Trac_Add(t.get(), 0, 0, 99, 0, -7), -1);
        QVERIFY(Same(before, t.get()));
        QCOMPARE(t->next_index, 3);

        // A fresh container refuses before it allocates anything.
        Trac empty(Trac_Create());
        empty->count = 2;
        QCOMPARE(Trac_Add(empty.get(), 0, 0, 0, 0, 5), -1);
        QVERIFY(!empty->records);
    }

    // Fifteen days of one record per second: the container halves its resolution once after
    // 14 days and every record keeps describing start_time + i x sec_per_record.
    void compactionKeepsEveryRecordOnItsTime()
    {
        Trac t(Trac_Create());
        const int64_t days15 = 15 * 86400;
        for (int64_t tick = 0; tick < days15; ++tick) {
            const int at = Trac_Add(t.get(), uint16_t(tick >> 16), 0, uint16_t(tick), 0, -1);
            if (tick == 1209600) {
                QCOMPARE(at, 604800); // the record that triggered the halving, at its new place
                QCOMPARE(t->sec_per_record, 2);
                QCOMPARE(t->used, 604801);
            }
            if (at < 0)
                QFAIL(qPrintable(QString("append %1 refused").arg(tick)));
        }
        QCOMPARE(t->sec_per_record, 2);
        QCOMPARE(t->used, int(days15 / 2));
        for (int k = 0; k < t->used; ++k) {
            if (TickOf(t->records[k]) != int64_t(k) * 2)
                QFAIL(qPrintable(QString("record %1 holds tick %2").arg(k).arg(TickOf(t->records[k]))));
        }
        for (int k = t->used; k < t->count; ++k) {
            if (t->records[k].value1 != 0 || t->records[k].extra1 != 0)
                QFAIL(qPrintable(QString("record %1 beyond used is stale").arg(k)));
        }
    }

    void indexedAppendPastTheLimitCompactsToo()
    {
        Trac t(Trac_Create());
        for (int i = 0; i < 10; ++i)
            Trac_Add(t.get(), 0, 0, uint16_t(i), 0, i);
        QCOMPARE(Trac_Add(t.get(), 0, 0, 777, 0, 1209650), 604825);
        QCOMPARE(t->sec_per_record, 2);
        QCOMPARE(t->used, 604826);
        QCOMPARE(t->records[4].value1, uint16_t(8));
        QCOMPARE(t->records[5].value1, uint16_t(0)); // nothing of the old resolution is left
        QCOMPARE(t->records[604825].value1, uint16_t(777));
    }

    void writeAndReadBackEqual()
    {
        Trac t = KnownContainer();
        t->sec_per_record = 2;
        const QString path = Path("three.str");
        QCOMPARE(Trac_Write(t.get(), QFile::encodeName(path).constData(), 1), 3);
        QCOMPARE(t->count, 1209712); // the capacity survives the save
        const QByteArray bytes = ReadAll(path);
        QCOMPARE(bytes.size(), 52);
        QCOMPARE(bytes.left(28), QByteArray("TRAC") + LE32(3) + LE32(3) + LE32(3) + LE32(12345) + LE32(1) + LE32(2));
        QCOMPARE(bytes.mid(28, 8), QByteArray::fromHex("010002006400c800")); // 1, 2, 100, 200

        Trac back(Trac_Create());
        QCOMPARE(Trac_Read(back.get(), QFile::encodeName(path).constData()), 3);
        QCOMPARE(back->count, 3);
        QCOMPARE(back->used, 3);
        QCOMPARE(back->start_time, 12345u);
        QCOMPARE(back->channel, 1);
        QCOMPARE(back->sec_per_record, 2);
        QCOMPARE(memcmp(back->records, t->records, 3 * 8), 0);
    }

    void writeRefusals()
    {
        Trac t(Trac_Create());
        const QByteArray path = QFile::encodeName(Path("never.str"));
        QCOMPARE(Trac_Write(t.get(), path.constData(), 0), -1); // nothing used
        QVERIFY(!QFile::exists(Path("never.str")));
        QCOMPARE(t->count, 1209712);
        t->used = 2; // no buffer
        QCOMPARE(Trac_Write(t.get(), path.constData(), 0), -2);
        Trac known = KnownContainer();
        QCOMPARE(Trac_Write(known.get(), QFile::encodeName(Path("no/such/dir.str")).constData(), 0), -1);
        // A write that does not reach the disk is not a success.
        if (QFile::exists("/dev/full"))
            QCOMPARE(Trac_Write(known.get(), "/dev/full", 0), -1);
        // used beyond the buffer never makes the writer read past it.
        known->used = 5000000;
        QCOMPARE(Trac_Write(known.get(), QFile::encodeName(Path("clamped.str")).constData(), 0),
                 known->records_capacity);
    }

    void versionOneAndForeignMagic()
    {
        const QString v1 = Path("v1.str");
        QVERIFY(WriteAll(v1, FileBytes(1, 2, 2, 2)));
        Trac t = KnownContainer();
        QCOMPARE(Trac_Read(t.get(), QFile::encodeName(v1).constData()), 2);
        QCOMPARE(t->channel, 1); // version 1 has none: the container keeps its own
        QCOMPARE(t->sec_per_record, 2);
        QCOMPARE(t->start_time, 1700000000u);
        QCOMPARE(t->records[1].value1, uint16_t(11));
        QCOMPARE(t->records[1].value2, uint16_t(5));
        QCOMPARE(t->next_index, 0);

        const QString foreign = Path("foreign.str");
        QVERIFY(WriteAll(foreign, FileBytes(3, 1, 1, 1, "ABCD")));
        QCOMPARE(Trac_Read(t.get(), QFile::encodeName(foreign).constData()), 1);
        QCOMPARE(t->records[0].value1, uint16_t(10));
    }

    // Every prefix of a valid file: short headers give -2, short record areas -3, and a failed
    // read leaves the container exactly as it was.
    void everyFileLengthUpTo64Bytes_data()
    {
        QTest::addColumn<uint32_t>("version");
        QTest::addColumn<int>("header");
        QTest::newRow("version 3") << 3u << 28;
        QTest::newRow("version 1") << 1u << 24;
    }
    void everyFileLengthUpTo64Bytes()
    {
        QFETCH(uint32_t, version);
        QFETCH(int, header);
        const QByteArray full = FileBytes(version, 4, 4, 5); // one record more than announced
        const QString path = Path("prefix.str");
        for (int len = 0; len <= 64; ++len) {
            QVERIFY(WriteAll(path, full.left(len)));
            Trac t = KnownContainer();
            const Snapshot before = Take(t.get());
            const int expected = len < header ? -2 : len < header + 32 ? -3 : 4;
            const int got = Trac_Read(t.get(), QFile::encodeName(path).constData());
            QVERIFY2(got == expected, qPrintable(QString("length %1: %2, expected %3").arg(len).arg(got).arg(expected)));
            if (got < 0)
                QVERIFY2(Same(before, t.get()), qPrintable(QString("length %1 changed the container").arg(len)));
        }
    }

    void hostileHeaders_data()
    {
        QTest::addColumn<int32_t>("count");
        QTest::addColumn<int32_t>("used");
        QTest::addColumn<int>("result");
        QTest::addColumn<int32_t>("usedAfter");
        QTest::newRow("huge count") << int32_t(0x7fffffff) << 1 << -3 << 0;
        QTest::newRow("count of 1.2 million") << 1209712 << 1 << -3 << 0;
        QTest::newRow("negative count") << -1 << 0 << -3 << 0;
        QTest::newRow("used beyond count") << 2 << 1000000 << 2 << 2;
        QTest::newRow("negative used") << 2 << -5 << 2 << 0;
        QTest::newRow("empty") << 0 << 0 << 0 << 0;
    }
    void hostileHeaders()
    {
        QFETCH(int32_t, count);
        QFETCH(int32_t, used);
        QFETCH(int, result);
        QFETCH(int32_t, usedAfter);
        const QString path = Path("hostile.str");
        QVERIFY(WriteAll(path, FileBytes(3, count, used, 2)));
        Trac t = KnownContainer();
        const Snapshot before = Take(t.get());
        QCOMPARE(Trac_Read(t.get(), QFile::encodeName(path).constData()), result);
        if (result < 0) {
            QVERIFY(Same(before, t.get()));
            return;
        }
        QCOMPARE(t->used, usedAfter);
        // Saving again writes what the buffer holds and nothing more.
        const QString again = Path("again.str");
        const int written = Trac_Write(t.get(), QFile::encodeName(again).constData(), 0);
        QCOMPARE(written, usedAfter > 0 ? usedAfter : -1);
        if (written > 0)
            QCOMPARE(ReadAll(again).size(), 28 + 8 * written);
    }

    void randomFilesNeverHurt()
    {
        QRandomGenerator rng(20240501);
        const QString path = Path("random.str");
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes(int(rng.bounded(80)), 0);
            for (char& c : bytes)
                c = char(rng.bounded(256));
            if (round % 3 == 0 && bytes.size() >= 12) // small plausible counts now and then
                bytes.replace(8, 4, LE32(rng.bounded(8)));
            QVERIFY(WriteAll(path, bytes));
            Trac t = KnownContainer();
            const Snapshot before = Take(t.get());
            const int got = Trac_Read(t.get(), QFile::encodeName(path).constData());
            if (got < 0) {
                QVERIFY(got == -2 || got == -3);
                QVERIFY(Same(before, t.get()));
            } else {
                QVERIFY(28 + 8 * int64_t(got) <= bytes.size() || (t->version == 1 && 24 + 8 * got <= bytes.size()));
                QVERIFY(t->used >= 0 && t->used <= t->count);
            }
        }
    }

    void missingFileOrDirectory()
    {
        Trac t = KnownContainer();
        const Snapshot before = Take(t.get());
        QCOMPARE(Trac_Read(t.get(), QFile::encodeName(Path("missing.str")).constData()), -1);
        QCOMPARE(Trac_Read(t.get(), QFile::encodeName(m_Dir.path()).constData()), -1);
        QVERIFY(Same(before, t.get()));
    }
};

QTEST_GUILESS_MAIN(TestTracFile)
#include "test_tracfile.moc"
