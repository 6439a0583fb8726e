// The device codec: request bytes, decoding of every answer type, the device identity and the
// model catalogue.
#include "linktest.h"
#include "scodeusb.h"

#include <QtTest>
#include <memory>


namespace {
QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray Zeros(int n)
{
    return QByteArray(n, '\0');
}

unsigned char Decode(SCodeUsb& codec, const Msg& m, TAG_T_SPM25Data* out, int index = 0)
{
    QByteArray bytes = m.message();
    return codec.DecodePM25ReadData(index, reinterpret_cast<unsigned char*>(bytes.data()),
                                    bytes.size(), out);
}
} // namespace

class TestCodec : public QObject {
    Q_OBJECT

private slots:
    void usbRequests_data()
    {
        QTest::addColumn<int>("typeCode");
        QTest::addColumn<int>("packet"); // -1: identity request
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("identity") << -1 << -1 << 0
                                  << Bytes({0x02, 0xAA, 0xA6}) + Zeros(15) + Bytes({0x00, 0xAB});
        // only bits 0-7 of the packet number travel on USB
        QTest::newRow("packet 300") << 130 << 300 << 1
                                    << Bytes({0x02, 0xAA, 0xAD, 0x2C, 0x01}) + Zeros(13)
                                           + Bytes({0x2D, 0xAB});
        QTest::newRow("PM10 kind") << 131 << 7 << 5
                                   << Bytes({0x02, 0xAA, 0xAD, 0x07, 0x05}) + Zeros(13)
                                          + Bytes({0x0C, 0xAB});
        QTest::newRow("old format carries no kind")
            << 3 << 5 << 1 << Bytes({0x02, 0xAA, 0xAC, 0x05}) + Zeros(14) + Bytes({0x05, 0xAB});
        QTest::newRow("type 7 is old format")
            << 7 << 0 << 1 << Bytes({0x02, 0xAA, 0xAC}) + Zeros(15) + Bytes({0x00, 0xAB});
    }
    void usbRequests()
    {
        QFETCH(int, typeCode);
        QFETCH(int, packet);
        QFETCH(int, kind);
        QFETCH(QByteArray, expected);
        unsigned char msg[20];
        memset(msg, 0x55, sizeof msg);
        if (packet < 0)
            SCodeUsb::BuildIdentityRequestUsb(msg);
        else
            SCodeUsb::BuildHistoryRequestUsb(msg, typeCode, packet, kind);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(msg), 20).toHex(' '), expected.toHex(' '));
    }

    void serialIdentityRequestsUseCallersBuffer()
    {
        GSerialPort port; // closed: nothing is written, the message is still built
        unsigned char msg[20];
        memset(msg, 0x55, sizeof msg);
        QVERIFY(port.AskDeviceInfo(msg, 20));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(msg), 20),
                 Bytes({0x00, 0xAA, 0xA6}) + Zeros(15) + Bytes({0x00, 0xAB}));
        QVERIFY(port.AskDeviceSN(msg, 20));
        QCOMPARE(msg[2], uint8_t(0xB5));
        QVERIFY(port.AskDeviceInfo(nullptr, 0)); // no buffer: built in a local one
    }

    void checksumWrapsAndSkipsFraming()
    {
        Msg m(0xA5);
        for (int pos = 3; pos <= 17; ++pos)
            m.at(pos, 0xFF);
        unsigned char* b = m.b;
        b[18] = 0x77;
        SCodeUsb::SetCheckSum(b);
        QCOMPARE(b[18], uint8_t((15 * 0xFF) & 0xFF));
        Msg zero(0xA6);
        SCodeUsb::SetCheckSum(zero.b);
        QCOMPARE(zero.b[18], uint8_t(0));
    }

    void measurement_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("minuend");
        QTest::addColumn<int>("base");
        QTest::addColumn<int>("expectedResult");
        QTest::addColumn<int>("expectedDelta");
        QTest::newRow("delta") << 1 << 100 << 40 << 1 << 60;
        QTest::newRow("no negative delta") << 3 << 40 << 100 << 3 << 0;
        QTest::newRow("equal words") << 3 << 40 << 40 << 3 << 0;
        QTest::newRow("status 0 is no news") << 0 << 500 << 1 << 0 << 499;
        QTest::newRow("formaldehyde") << 0x11 << 2 << 1 << 17 << 1;
        QTest::newRow("tvoc") << 0x21 << 0 << 0 << 33 << 0;
        QTest::newRow("status 166 looks like identity") << 166 << 0 << 0 << 166 << 0;
    }
    void measurement()
    {
        QFETCH(int, status);
        QFETCH(int, minuend);
        QFETCH(int, base);
        QFETCH(int, expectedResult);
        QFETCH(int, expectedDelta);
        SCodeUsb codec;
        TAG_T_SPM25Data rec;
        Msg m(0xA5);
        m.at(3, uint8_t(status)).word(4, uint16_t(minuend)).word(6, uint16_t(base));
        m.word(8, 0x1234).word(10, 0x0BCD).word(12, 0xFEDC);
        QCOMPARE(int(Decode(codec, m, &rec)), expectedResult);
        QCOMPARE(int(rec.usDelta), expectedDelta);
        QCOMPARE(int(rec.usBase), base);
        QCOMPARE(rec.usValue1, uint16_t(0x1234));
        QCOMPARE(rec.usAux, uint16_t(0x0BCD));
        QCOMPARE(rec.usValue2, uint16_t(0xFEDC));
        QVERIFY(codec.m_Devices.isEmpty()); // a reading never creates a device entry
        QCOMPARE(codec.m_TypeCode, -1);
    }

    void framesThatAreNoNewsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("unlisted type") << Msg(0xA7).at(3, 1).word(8, 99).message();
        QTest::newRow("head missing") << Msg(0xA5).at(1, 0xAB).at(3, 1).message();
        QTest::newRow("all zero") << Zeros(20);
    }
    void framesThatAreNoNewsChangeNothing()
    {
        QFETCH(QByteArray, message);
        SCodeUsb codec;
        TAG_T_SPM25Data rec;
        rec.usValue1 = 7;
        QCOMPARE(int(codec.DecodePM25ReadData(0, reinterpret_cast<unsigned char*>(message.data()),
                                              message.size(), &rec)),
                 0);
        QCOMPARE(rec.usValue1, uint16_t(7));
        QVERIFY(codec.m_Devices.isEmpty());
        QCOMPARE(codec.m_TypeCode, -1);
        QCOMPARE(codec.DecodePM25ReadData(0, reinterpret_cast<unsigned char*>(message.data()), 0, &rec),
                 uint8_t(0));
        QCOMPARE(codec.DecodePM25ReadData(0, nullptr, 20, &rec), uint8_t(0));
    }

    void shortMessageIsReadAsZeroPadded()
    {
        // Exactly five bytes on the heap: a read past them would be caught by the sanitizers.
        SCodeUsb codec;
        std::unique_ptr<unsigned char[]> shortMsg(new unsigned char[5]{0x00, 0xAA, 0xA5, 0x03, 0x64});
        TAG_T_SPM25Data rec;
        rec.usValue1 = 9;
        QCOMPARE(int(codec.DecodePM25ReadData(0, shortMsg.get(), 5, &rec)), 3);
        QCOMPARE(rec.usDelta, uint16_t(0x64)); // word 4-5 = 0x0064, base 0
        QCOMPARE(rec.usValue1, uint16_t(0));
        std::unique_ptr<unsigned char[]> identity(new unsigned char[3]{0x00, 0xAA, 0xA6});
        QCOMPARE(int(codec.DecodePM25ReadData(0, identity.get(), 3, &rec)), 166);
        QCOMPARE(codec.m_TypeCode, 0);
    }

    void identityOnSerialLink()
    {
        SCodeUsb codec;
        Msg first(0xA6);
        first.bytes(3, {0x01, 0xAB, 0x00, 0x10, 0x20, 0xFF}).bytes(9, {0xFF, 0xFF, 0xFF, 0xFF}).at(13, 130);
        QCOMPARE(int(Decode(codec, first, nullptr)), 166);
        QCOMPARE(codec.m_Devices.size(), 1);
        QVERIFY(codec.m_Devices[0].m_hDevice == nullptr);
        QCOMPARE(codec.GetDeviceName(0), QByteArray("ffff"));
        QCOMPARE(codec.GetDeviceSN(0), QByteArray("01ab001020ff"));
        QCOMPARE(codec.m_TypeCode, 130);
        QCOMPARE(codec.GetModelName(), QByteArray("LV51"));

        // The second frame updates entry 0 and takes the four bytes as they are.
        Msg second(0xA6);
        second.bytes(9, {0xFF, 'A', 'B', 'C'}).at(13, 20);
        QCOMPARE(int(Decode(codec, second, nullptr)), 166);
        QCOMPARE(codec.m_Devices.size(), 1);
        QCOMPARE(codec.GetDeviceName(0), QByteArray("\xff" "ABC"));
        QCOMPARE(codec.GetDeviceSN(0), QByteArray("000000000000"));
        QCOMPARE(codec.m_TypeCode, 20);

        Msg named(0xA6);
        named.bytes(9, {'R', 'o', 'o', 'm'});
        SCodeUsb fresh;
        Decode(fresh, named, nullptr);
        QCOMPARE(fresh.GetDeviceName(0), QByteArray("Room"));
    }

    void serialNumberSwitchesToNamesFromReadings()
    {
        SCodeUsb codec;
        Decode(codec, Msg(0xA6).bytes(3, {1, 2, 3, 4, 5, 6}).bytes(9, {'a', 'b', 'c', 'd'}), nullptr);
        QCOMPARE(codec.GetDeviceSN(0).size(), 12);

        Msg sn(0xB5);
        sn.bytes(3, {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x00});
        QCOMPARE(int(Decode(codec, sn, nullptr)), 181);
        QCOMPARE(codec.GetDeviceSN(0), QByteArray("0a1b2c3d4e5f00"));
        QCOMPARE(codec.m_IdMode, 4);
        QCOMPARE(codec.GetDeviceName(0), QByteArray("abcd")); // unchanged until a reading

        TAG_T_SPM25Data rec;
        Msg reading(0xA5);
        reading.at(3, 1).bytes(10, {0x1A, 0x2B}).bytes(15, {0x3C, 0x4D});
        QCOMPARE(int(Decode(codec, reading, &rec)), 1);
        QCOMPARE(codec.GetDeviceName(0), QByteArray("1A2B-3C4D"));
        QCOMPARE(rec.usAux, uint16_t(0x2B1A));

        reading.bytes(10, {0x05, 0xE0}).bytes(15, {0x00, 0x0F});
        Decode(codec, reading, &rec);
        QCOMPARE(codec.GetDeviceName(0), QByteArray("05E0-000F"));

        // A reading for an index without an entry updates nothing and does not fail.
        QCOMPARE(int(Decode(codec, reading, &rec, 3)), 1);
        QCOMPARE(codec.m_Devices.size(), 1);
    }

    void serialNumberFirstCreatesEntry()
    {
        SCodeUsb codec;
        QCOMPARE(int(Decode(codec, Msg(0xB5).at(9, 0xEE), nullptr)), 181);
        QCOMPARE(codec.m_Devices.size(), 1);
        QVERIFY(codec.GetDeviceName(0).isEmpty());
        QCOMPARE(codec.GetDeviceSN(0), QByteArray("000000000000ee"));
        // A later identity frame renames the entry instead of adding one.
        Decode(codec, Msg(0xA6).bytes(9, {'w', 'x', 'y', 'z'}), nullptr);
        QCOMPARE(codec.m_Devices.size(), 1);
        QCOMPARE(codec.GetDeviceName(0), QByteArray("wxyz"));
    }

    void parameterSlots()
    {
        SCodeUsb codec;
        for (int slot = 0; slot < 5; ++slot) {
            Msg m(0xA9);
            m.at(4, uint8_t(slot)).word(5, uint16_t(100 + slot)).word(7, uint16_t(0xF000 + slot));
            QCOMPARE(int(Decode(codec, m, nullptr)), 169);
        }
        for (int slot = 0; slot < 5; ++slot) {
            QCOMPARE(int(codec.m_ParamTable[slot][0]), 100 + slot);
            QCOMPARE(int(codec.m_ParamTable[slot][1]), 0xF000 + slot);
        }
        uint16_t before[5][2];
        memcpy(before, codec.m_ParamTable, sizeof before);
        for (int slot : {5, 0xFF}) {
            QCOMPARE(int(Decode(codec, Msg(0xA9).at(4, uint8_t(slot)).word(5, 1).word(7, 1), nullptr)),
                     169);
        }
        QVERIFY(memcmp(before, codec.m_ParamTable, sizeof before) == 0);
    }

    void refusedWithoutDevice()
    {
        SCodeUsb codec;
        unsigned char buf[20];
        memset(buf, 0x5A, sizeof buf);
        for (int index : {-1, 0, 1}) {
            QVERIFY(!codec.IsDeviceReady(index));
            QCOMPARE(codec.ReadData(index, buf, 20), 0);
            QVERIFY(!codec.AskDeviceInfoUsb(index));
            QVERIFY(!codec.AskHistoryDataUsb(index, 0, 1));
            codec.WriteData(index, buf);
            QVERIFY(codec.GetDeviceName(index).isEmpty());
            QVERIFY(codec.GetDeviceSN(index).isEmpty());
        }
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buf), 20), QByteArray(20, 0x5A));
        QCOMPARE(codec.HasUsbDevice(), 0);
        QVERIFY(codec.AskDeviceInfo());
        TAG_T_SPM25Data rec;
        QCOMPARE(int(codec.ReadPM25Data(0, &rec)), 0);
        QCOMPARE(codec.m_ReadLen, 0);
    }

    void pollOnSerialLinkReadsTheFifo()
    {
        SCodeUsb codec;
        codec.m_Serial.m_LinkFlag = 1; // active, port closed: frames come from the FIFO only
        TAG_T_SPM25Data rec;
        QCOMPARE(int(codec.ReadPM25Data(0, &rec)), 0);
        const QByteArray stream = Msg(0xA5).at(3, 3).word(8, 250).word(12, 400).wire()
                                  + Msg(0xA6).bytes(9, {'n', 'a', 'm', 'e'}).at(13, 60).wire();
        codec.m_Serial.RxAppend(stream.constData(), stream.size());
        QCOMPARE(int(codec.ReadPM25Data(0, &rec)), 3);
        QCOMPARE(codec.m_ReadLen, 20);
        QCOMPARE(rec.usValue1, uint16_t(250));
        QCOMPARE(rec.usValue2, uint16_t(400));
        QCOMPARE(int(codec.ReadPM25Data(0, &rec)), 166);
        QCOMPARE(codec.GetModelName(), QByteArray("AQ41"));
        QCOMPARE(codec.GetChannelCount(), 2);
        QCOMPARE(codec.HasUsbDevice(), 1);
        QCOMPARE(int(codec.ReadPM25Data(0, &rec)), 0);
    }

    void catalogue_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("oldFormat");
        struct Row {
            int code;
            const char* name;
            int channels;
        };
        const Row rows[] = {
            {0, "AQ31", 1},        {1, "AQ31", 1},         {2, "AQ31-B", 1},     {3, "AQ31-C", 1},
            {4, "AQ31-D", 1},      {5, "AQ31-WIFI", 1},    {8, "AQ40-S", 1},     {10, "AQ32", 2},
            {20, "AQ33", 2},       {30, "AQ40", 2},        {40, "AQ31-PM10", 1}, {50, "AQ31-F", 1},
            {60, "AQ41", 2},       {100, "AQ31-ZigBee", 1}, {120, "PS21", 1},    {121, "PS22", 2},
            {126, "PS23", 2},      {130, "LV51", 1},       {131, "LV52", 1},     {132, "MV61", 2},
            {150, "MV65-5Z", 1},   {151, "MV65-5W", 1},    {152, "MV65-2Z", 1},  {153, "MV65-2W", 1},
            {155, "MV65-3Z", 1},   {156, "MV65-3W", 1},    {157, "MV65-1W", 1},  {158, "MV65-1Z", 1},
            {159, "MV65-32W", 2},  {160, "MV65-22W", 2},   {161, "MV65-4W", 2},  {255, "AQ31-Text", 1},
            {-1, "error", 2},      {6, "error", 2},        {7, "error", 2},      {9, "error", 2},
            {154, "error", 2},     {256, "error", 2},      {-2, "error", 2},
        };
        for (const Row& r : rows) {
            const int interval = r.code == 2 ? 311 : r.code == 20 ? 297 : 300;
            const bool old = r.code == 0 || r.code == 1 || r.code == 3 || r.code == 7;
            QTest::newRow(qPrintable(QString::number(r.code)))
                << r.code << QString(r.name) << r.channels << interval << old;
        }
    }
    void catalogue()
    {
        QFETCH(int, code);
        QFETCH(QString, name);
        QFETCH(int, channels);
        QFETCH(int, interval);
        QFETCH(bool, oldFormat);
        SCodeUsb codec;
        codec.m_TypeCode = code;
        QCOMPARE(QString(codec.GetModelName()), name);
        QCOMPARE(codec.GetChannelCount(), channels);
        QCOMPARE(codec.GetHistoryInterval(), interval);
        QCOMPARE(SCodeUsb::UsesOldHistoryFormat(code), oldFormat);
    }
};

QTEST_GUILESS_MAIN(TestCodec)
#include "test_codec.moc"
