// The device's stored history: packet decoding, date words, and whole downloads against a device
// played on a pseudo-terminal (packet-index format) or fed straight into the receive FIFO (old
// format, whose requests travel on USB only). Every wait runs on a stepped clock.
#include "linktest.h"
#include "scodeusb.h"

#include <QTimer>
#include <QtTest>
#include <ctime>

namespace {
// 2016-12-07 14:30 as a date word, and that time read in UTC.
const uint32_t kDate = DateWord(2016, 12, 7, 14, 30);
const uint32_t kDateUtc = 1481121000u;

void SetTimeZone(const QByteArray& tz)
{
    qputenv("TZ", tz);
    tzset();
}

unsigned char Decode(SCodeUsb& codec, const Msg& m)
{
    QByteArray bytes = m.message();
    TAG_T_SPM25Data rec;
    return codec.DecodePM25ReadData(0, reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), &rec);
}

// Feeds one whole group (three packets) to the decoder.
void DecodeGroup(SCodeUsb& codec, int group, const uint16_t* values, unsigned char echo = 1,
                 uint32_t date = kDate)
{
    for (int r = 0; r < 3; ++r)
        Decode(codec, HistoryPacket(3 * group + r, echo, values, date, 0));
}

// The sensor's memory as the pty device serves it: one date word per group, an hour apart.
struct Memory {
    QVector<uint16_t> primary;
    QVector<uint16_t> pm10;
    uint16_t announced = 0;
    QSet<int> lost; // packets the device never answers

    static uint32_t GroupDate(int group) { return DateWord(2016, 12, 7 + group / 24, group % 24, 30); }

    QByteArray Answer(const QByteArray& request) const
    {
        if (uint8_t(request[1]) != 0xAD)
            return {};
        const int packet = uint8_t(request[2]) | uint8_t(request[16]) << 8;
        const int kind = uint8_t(request[3]);
        if (lost.contains(packet))
            return {};
        const QVector<uint16_t>& values = kind == 5 ? pm10 : primary;
        const int group = packet / 3;
        uint16_t group12[12];
        for (int k = 0; k < 12; ++k) {
            const int at = group * 12 + k;
            group12[k] = at < values.size() ? values[at] : 0;
        }
        return HistoryPacket(packet, kind == 5 ? 5 : 1, group12, GroupDate(group), announced).wire();
    }
};

QVector<uint16_t> Ramp(int n, int start)
{
    QVector<uint16_t> v;
    for (int i = 0; i < n; ++i)
        v.append(uint16_t(start + i % 1000));
    return v;
}

// A codec whose serial link is a pseudo-terminal served by `memory` on every wait.
struct SerialRig {
    PtyDevice pty;
    SCodeUsb codec;
    SteppedClock clock;
    Memory memory;

    SerialRig()
    {
        if (!pty.ok() || !codec.m_Serial.OpenPort(pty.slaveName()))
            return;
        codec.m_Serial.m_LinkFlag = 1;
        codec.m_TypeCode = 130;
        clock.onSleep = [this](int) {
            pty.serve(codec.m_Serial.m_Port, [this](const QByteArray& r) { return memory.Answer(r); });
        };
    }
    bool ok() const { return codec.m_Serial.m_LinkFlag == 1; }

    QVector<int> RequestedPackets() const
    {
        QVector<int> packets;
        for (const QByteArray& r : pty.requests)
            packets.append(uint8_t(r[2]) | uint8_t(r[16]) << 8);
        return packets;
    }
};

QVector<int> Range(int n)
{
    QVector<int> v;
    for (int i = 0; i < n; ++i)
        v.append(i);
    return v;
}
} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SetTimeZone("UTC0"); }

    void dateWordIsLocalTime_data()
    {
        QTest::addColumn<QByteArray>("tz");
        QTest::addColumn<int>("offsetSec"); // local time minus UTC
        QTest::newRow("UTC") << QByteArray("UTC0") << 0;
        QTest::newRow("UTC+14") << QByteArray("LINT-14") << 14 * 3600;
        QTest::newRow("UTC-9:30") << QByteArray("MART9:30") << -(9 * 3600 + 1800);
    }
    void dateWordIsLocalTime()
    {
        QFETCH(QByteArray, tz);
        QFETCH(int, offsetSec);
        SetTimeZone(tz);
        QCOMPARE(uint8_t(kDate), uint8_t(0x1C));
        QCOMPARE(kDate, 0x1E0E071Cu);
        QCOMPARE(HisTimeToTime_t(kDate), uint32_t(int64_t(kDateUtc) - offsetSec));
        // Fields out of range give some time, and never a crash.
        HisTimeToTime_t(0);
        HisTimeToTime_t(0xFFFFFFFFu);
        SetTimeZone("UTC0");
    }

    void groupKeepsValuesUpToTheLastFilledSlot_data()
    {
        QTest::addColumn<QVector<uint16_t>>("group");
        QTest::addColumn<QVector<uint16_t>>("stored");
        QTest::newRow("gaps kept below the last value")
            << QVector<uint16_t>{10, 11, 12, 0, 0xFFFF, 15, 0, 0, 0, 0, 0, 0}
            << QVector<uint16_t>{10, 11, 12, 0, 0xFFFF, 15};
        QTest::newRow("all zero") << QVector<uint16_t>(12, 0) << QVector<uint16_t>{};
        QTest::newRow("all empty") << QVector<uint16_t>(12, 0xFFFF) << QVector<uint16_t>{};
        QTest::newRow("full") << Ramp(12, 100) << Ramp(12, 100);
        QTest::newRow("only the last slot")
            << QVector<uint16_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7}
            << QVector<uint16_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};
    }
    void groupKeepsValuesUpToTheLastFilledSlot()
    {
        QFETCH(QVector<uint16_t>, group);
        QFETCH(QVector<uint16_t>, stored);
        SCodeUsb codec;
        DecodeGroup(codec, 0, group.constData());
        QCOMPARE(int(codec.m_RealPM25Count), stored.size());
        QCOMPARE(codec.mTimeSecList.size(), stored.size());
        for (int j = 0; j < stored.size(); ++j) {
            QCOMPARE(codec.mp_HistoryData[j], stored[j]);
            // 300 s apart, the last one stamped one interval after the date word
            QCOMPARE(codec.mTimeSecList[j], kDateUtc + 300 - uint32_t(stored.size() - 1 - j) * 300);
        }
        QCOMPARE(codec.mp_HistoryData[stored.size()], uint16_t(0));
    }

    void packetNumbersUseTwoBitsOfPosition17()
    {
        SCodeUsb codec;
        codec.m_5MinutesCount = 24;
        const uint16_t values[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        // 0x102 is the first packet of group 86: it carries the date word.
        Msg first = HistoryPacket(0x102, 1, values, kDate, 0);
        first.at(17, 0xFD); // only bits 0-1 count
        QCOMPARE(int(Decode(codec, first)), 173);
        QCOMPARE(codec.m_GroupTime, kDate);
        QCOMPARE(codec.PM25_hist[2], uint16_t(3));
        Msg second = HistoryPacket(0x103, 1, values, 0, 0);
        second.at(17, 0x05);
        Decode(codec, second);
        QCOMPARE(codec.PM25_hist[3], uint16_t(4));
        QCOMPARE(codec.PM25_hist[7], uint16_t(8));
        QCOMPARE(int(codec.m_RealPM25Count), 0);
        // 0x100 is not packet 0 and announces nothing
        Decode(codec, HistoryPacket(0x100, 1, values, kDate, 0).word(15, 99));
        QCOMPARE(int(codec.m_5MinutesCount), 24);
    }

    void kindEchoes_data()
    {
        QTest::addColumn<int>("echo");
        QTest::addColumn<int>("result");
        QTest::newRow("formaldehyde") << 2 << 173;
        QTest::newRow("tvoc") << 3 << 173;
        QTest::newRow("cleared") << 0xFD << 253;
        QTest::newRow("unknown") << 0x40 << 173;
    }
    void kindEchoes()
    {
        QFETCH(int, echo);
        QFETCH(int, result);
        SCodeUsb codec;
        const uint16_t values[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        for (int packet = 3; packet < 6; ++packet)
            QCOMPARE(int(Decode(codec, HistoryPacket(packet, uint8_t(echo), values, kDate, 0))), result);
        QCOMPARE(int(codec.m_RealPM25Count), 0);
        QCOMPARE(int(codec.m_RealPM10Count), 0);
        QVERIFY(codec.mTimeSecList.isEmpty());
        const uint16_t zeros[12] = {};
        QVERIFY(memcmp(codec.PM25_hist, zeros, sizeof zeros) == 0);
        QVERIFY(memcmp(codec.PM10_hist, zeros, sizeof zeros) == 0);
    }

    void pm10GroupsHaveNoTimeStamps()
    {
        SCodeUsb codec;
        const QVector<uint16_t> values = Ramp(12, 40);
        DecodeGroup(codec, 0, values.constData(), 5, DateWord(2020, 1, 1, 0, 0));
        QCOMPARE(int(codec.m_RealPM10Count), 12);
        QCOMPARE(codec.mp_PM10HistoryData[11], uint16_t(51));
        QCOMPARE(int(codec.m_RealPM25Count), 0);
        QCOMPARE(codec.m_GroupTime, 0u); // the PM10 date word is not kept
        QVERIFY(codec.mTimeSecList.isEmpty());
    }

    void announcedCount_data()
    {
        QTest::addColumn<int>("echo");
        QTest::addColumn<int>("position3");
        QTest::addColumn<int>("announced");
        QTest::addColumn<int>("count");
        QTest::newRow("25 rounds up") << 1 << 0 << 25 << 36;
        QTest::newRow("multiple of 12") << 1 << 0 << 24 << 24;
        QTest::newRow("one") << 5 << 0 << 1 << 12;
        QTest::newRow("none") << 1 << 0 << 0 << 0;
        QTest::newRow("largest does not wrap") << 1 << 0 << 65535 << 65532;
        QTest::newRow("count answer") << 0xFE << 9 << 0 << 36;
    }
    void announcedCount()
    {
        QFETCH(int, echo);
        QFETCH(int, position3);
        QFETCH(int, announced);
        QFETCH(int, count);
        SCodeUsb codec;
        Msg m(0xAD);
        m.at(3, uint8_t(position3)).at(4, uint8_t(echo)).word(15, uint16_t(announced));
        QCOMPARE(int(Decode(codec, m)), 173);
        QCOMPARE(int(codec.m_5MinutesCount), count);
    }

    void appendsStopAtCapacity()
    {
        SCodeUsb codec;
        const QVector<uint16_t> values = Ramp(12, 1);
        const QVector<uint16_t> pm10 = Ramp(12, 1001);
        for (int group = 0; group < 340; ++group) {
            DecodeGroup(codec, group, values.constData(), 1);
            DecodeGroup(codec, group, pm10.constData(), 5);
        }
        QCOMPARE(int(codec.m_RealPM25Count), kHistoryValues);
        QCOMPARE(int(codec.m_RealPM10Count), kHistoryValues);
        QCOMPARE(codec.mTimeSecList.size(), int(kHistoryValues));
        QCOMPARE(codec.mp_HistoryData[kHistoryValues - 1], uint16_t(12));
        QCOMPARE(int(codec.m_5MinutesCount), 0);
        // nothing spilled into the members that follow each array
        QCOMPARE(codec.mp_PM10HistoryData[0], uint16_t(1001));
        QCOMPARE(codec.PM25_hist[0], uint16_t(1));
    }

    void serialDownload_data()
    {
        QTest::addColumn<int>("announced");
        QTest::addColumn<int>("values");
        QTest::addColumn<int>("packets");
        QTest::newRow("25 values") << 25 << 25 << 9;
        QTest::newRow("cut to 4031") << 5000 << 4020 << 1005;
        QTest::newRow("empty memory") << 0 << 0 << 1;
        QTest::newRow("fewer than announced") << 36 << 20 << 9;
    }
    void serialDownload()
    {
        QFETCH(int, announced);
        QFETCH(int, values);
        QFETCH(int, packets);
        SerialRig rig;
        QVERIFY(rig.ok());
        rig.memory.announced = uint16_t(announced);
        rig.memory.primary = Ramp(values, 1);

        QVERIFY(rig.codec.ReadHistoryData(0, 1, 0));
        QCOMPARE(rig.RequestedPackets(), Range(packets));
        QCOMPARE(int(rig.codec.m_RealPM25Count), values);
        QCOMPARE(rig.codec.mTimeSecList.size(), values);
        for (int i = 0; i < values; ++i)
            QCOMPARE(rig.codec.mp_HistoryData[i], rig.memory.primary[i]);
        QCOMPARE(rig.codec.mp_HistoryData[values], uint16_t(0));
        if (values > 12) {
            // each group's last value is stamped one interval after its date word
            const uint32_t group0 = HisTimeToTime_t(Memory::GroupDate(0));
            QCOMPARE(rig.codec.mTimeSecList[11], group0 + 300);
            QCOMPARE(rig.codec.mTimeSecList[0], group0 - 10 * 300);
        }
        if (values >= 24) {
            const uint32_t group1 = HisTimeToTime_t(Memory::GroupDate(1));
            QCOMPARE(rig.codec.mTimeSecList[12], group1 - 10 * 300);
        }
        if (packets > 300) {
            QByteArray expected = Msg(0xAD).at(3, 0x2C).at(4, 1).at(17, 0x01).wire();
            QCOMPARE(rig.pty.requests[300].toHex(' '), expected.toHex(' '));
        }
    }

    void tvocKindOnTheSerialLink()
    {
        SerialRig rig;
        QVERIFY(rig.ok());
        rig.memory.announced = 12;
        rig.memory.primary = Ramp(12, 500);
        QVERIFY(rig.codec.ReadHistoryData(0, 2, 1));
        QCOMPARE(rig.pty.requests.size(), 3);
        QCOMPARE(int(uint8_t(rig.pty.requests[0][3])), 3);
    }

    void unansweredDownloadFails()
    {
        SCodeUsb codec;
        SteppedClock clock;
        codec.m_Serial.m_LinkFlag = 1; // active, port closed: nothing ever answers
        codec.m_TypeCode = 130;
        codec.m_RealPM25Count = 17;
        QVERIFY(!codec.ReadHistoryData(0, 1, 0));
        QCOMPARE(clock.sleepCalls, 50);
        QCOMPARE(clock.sleptMs, int64_t(50 * 30));
        QCOMPARE(int(codec.m_RealPM25Count), 0);

        SCodeUsb usb; // no USB device either
        usb.m_TypeCode = 130;
        QVERIFY(!usb.ReadHistoryData(0, 1, 0));
    }

    void lostPacketsAreSkipped()
    {
        SerialRig rig;
        QVERIFY(rig.ok());
        rig.memory.announced = 36;
        rig.memory.primary = Ramp(36, 1);
        rig.memory.lost = {5}; // the closing packet of group 1
        QVERIFY(rig.codec.ReadHistoryData(0, 1, 0));
        QCOMPARE(rig.RequestedPackets(), Range(9));
        QCOMPARE(int(rig.codec.m_RealPM25Count), 24); // group 1 adds nothing
        QCOMPARE(rig.codec.mp_HistoryData[12], uint16_t(25));
    }

    void aPollMayTakeTheAnswer()
    {
        // On the serial link the window's poll runs during the waits and may read the answer
        // first: the packet is still stored and counts as answered.
        SerialRig rig;
        QVERIFY(rig.ok());
        rig.memory.announced = 25;
        rig.memory.primary = Ramp(25, 1);
        QTimer poll;
        int taken = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            TAG_T_SPM25Data rec;
            if (rig.codec.ReadPM25Data(0, &rec) == 173)
                ++taken;
        });
        poll.start(0);
        QVERIFY(rig.codec.ReadHistoryData(0, 1, 0));
        poll.stop();
        QVERIFY(taken > 0);
        QCOMPARE(int(rig.codec.m_RealPM25Count), 25);
    }

    void arraysHoldOnlyThisDownload()
    {
        SerialRig rig;
        QVERIFY(rig.ok());
        rig.memory.announced = 24;
        rig.memory.primary = Ramp(24, 100);
        rig.memory.pm10 = Ramp(24, 200);

        // PM10 first, then the primary history: both stay, paired by position.
        QVERIFY(rig.codec.ReadHistoryData(0, 5, 0));
        QVERIFY(rig.codec.ReadHistoryData(0, 1, 0));
        QCOMPARE(int(rig.codec.m_RealPM25Count), 24);
        QCOMPARE(int(rig.codec.m_RealPM10Count), 24);
        QCOMPARE(rig.codec.mp_PM10HistoryData[23], uint16_t(223));
        QCOMPARE(rig.codec.mp_HistoryData[23], uint16_t(123));

        // A later, smaller download without PM10: nothing of the earlier one is left.
        rig.memory.announced = 12;
        rig.memory.primary = Ramp(12, 300);
        QVERIFY(rig.codec.ReadHistoryData(0, 1, 0));
        QCOMPARE(int(rig.codec.m_RealPM25Count), 12);
        QCOMPARE(int(rig.codec.m_RealPM10Count), 0);
        QCOMPARE(rig.codec.mp_HistoryData[12], uint16_t(0));
        QCOMPARE(rig.codec.mp_HistoryData[23], uint16_t(0));
        for (int i = 0; i < 24; ++i)
            QCOMPARE(rig.codec.mp_PM10HistoryData[i], uint16_t(0));
        QCOMPARE(rig.codec.mTimeSecList.size(), 12);
    }

    void oldFormatDownload_data()
    {
        QTest::addColumn<int>("announced");
        QTest::addColumn<int>("answered"); // packets the device answers
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVector<int>>("restPackets"); // packets waited for 10 ms apart
        QTest::addColumn<int>("count");
        QTest::newRow("30 values") << 30 << 99 << true << QVector<int>{4} << 30;
        QTest::newRow("24 values, no remainder") << 24 << 99 << true << QVector<int>{} << 24;
        QTest::newRow("capped at 48 packets") << 400 << 99 << true << QVector<int>{48} << 292;
        QTest::newRow("packet 2 unanswered") << 30 << 2 << false << QVector<int>{} << 0;
        QTest::newRow("remainder unanswered") << 30 << 4 << false << QVector<int>{} << 0;
        QTest::newRow("nothing answered") << 30 << 0 << false << QVector<int>{} << 0;
    }
    void oldFormatDownload()
    {
        QFETCH(int, announced);
        QFETCH(int, answered);
        QFETCH(bool, ok);
        QFETCH(QVector<int>, restPackets);
        QFETCH(int, count);
        // The old format asks on USB only; the answers are fed into the receive FIFO in order,
        // one packet whenever the previous one has been taken.
        SCodeUsb codec;
        SteppedClock clock;
        codec.m_Serial.m_LinkFlag = 1;
        codec.m_TypeCode = 3;
        for (uint16_t& v : codec.mp_HistoryData)
            v = 0xBEEF; // left over from an earlier download
        int next = 0;
        QVector<int> shortWaits;
        clock.onSleep = [&](int ms) {
            if (codec.m_Serial.m_RxCount != 0 || next >= answered)
                return;
            Msg m(0xAC);
            m.at(3, uint8_t(next));
            for (int k = 0; k < 6; ++k)
                m.word(4 + 2 * k, uint16_t(6 * next + k + 1));
            if (next == 0)
                m.word(16, uint16_t(announced));
            const QByteArray wire = m.wire();
            codec.m_Serial.RxAppend(wire.constData(), wire.size());
            if (ms == 10)
                shortWaits.append(next);
            ++next;
        };
        QCOMPARE(codec.ReadHistoryData(0, 1, 0), ok);
        QCOMPARE(int(codec.m_RealPM25Count), count);
        if (!ok)
            return;
        QCOMPARE(shortWaits, restPackets);
        for (int i = 0; i < count; ++i)
            QCOMPARE(int(codec.mp_HistoryData[i]), i + 1);
        QVERIFY(codec.mTimeSecList.isEmpty());
        for (int i = 6 * next; i < kHistoryValues; ++i)
            QCOMPARE(codec.mp_HistoryData[i], uint16_t(0));
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "test_history.moc"
