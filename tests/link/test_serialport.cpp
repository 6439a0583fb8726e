// The serial link: discovery by ids, line settings, request bytes on the wire and the receive
// FIFO that cuts the byte stream into frames and finds its step again after garbage.
#include "gserialport.h"
#include "linktest.h"

#include <QtTest>
#include <termios.h>

Q_DECLARE_METATYPE(QVector<TAG_T_SPortEntry>)

namespace {
QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray Frame(int type, int value)
{
    return Msg(uint8_t(type)).at(3, 1).word(8, uint16_t(value)).wire();
}

// Every frame the FIFO gives for a stream fed in chunks of `chunk` bytes, taking frames after
// each chunk as the poll would.
QList<QByteArray> FramesOf(const QByteArray& stream, int chunk)
{
    GSerialPort port;
    QList<QByteArray> frames;
    unsigned char buf[20];
    for (int at = 0; at < stream.size(); at += chunk) {
        const QByteArray part = stream.mid(at, chunk);
        port.RxAppend(part.constData(), part.size());
        while (port.RxTakeFrame(buf, 20) == 20) {
            if (buf[0] != 0)
                return {QByteArray("position 0 not zero")};
            frames.append(QByteArray(reinterpret_cast<char*>(buf) + 1, 19));
        }
    }
    return frames;
}

// A frame whose checksum byte happens to be 0xAB: a 0xAA just before it looks like a frame too.
QByteArray FrameWithChecksumAB()
{
    const QByteArray f = Msg(0xA5).at(3, 3).at(4, 0xA8).wire();
    Q_ASSERT(uint8_t(f[17]) == 0xAB);
    return f;
}
} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void findBridge_data()
    {
        QTest::addColumn<QVector<TAG_T_SPortEntry>>("ports");
        QTest::addColumn<int>("expected");
        QTest::newRow("none") << QVector<TAG_T_SPortEntry>{} << -1;
        QTest::newRow("first of two bridges")
            << QVector<TAG_T_SPortEntry>{{"ttyS0", 0, 0},
                                         {"ttyUSB0", 0x7524, 0x1A86},
                                         {"ttyUSB1", 0x7523, 0x1A86},
                                         {"ttyUSB2", 0x7523, 0x1A86}}
            << 2;
        QTest::newRow("ids are not mixed") << QVector<TAG_T_SPortEntry>{{"a", 0x7523, 0x1A87},
                                                                        {"b", 0x1A86, 0x7523}}
                                           << -1;
    }
    void findBridge()
    {
        QFETCH(QVector<TAG_T_SPortEntry>, ports);
        QFETCH(int, expected);
        QCOMPARE(GSerialPort::FindBridge(ports), expected);
    }

    void frameCompletedByOneMoreByte()
    {
        GSerialPort port;
        const QByteArray f = Frame(0xA5, 123);
        unsigned char buf[20];
        port.RxAppend(f.constData(), 18);
        QCOMPARE(port.RxTakeFrame(buf, 20), 0);
        QCOMPARE(port.m_RxCount, 18);
        port.RxAppend(f.constData() + 18, 1);
        QCOMPARE(port.RxTakeFrame(buf, 20), 20);
        QCOMPARE(buf[0], uint8_t(0));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buf) + 1, 19), f);
        QCOMPARE(port.m_RxCount, 0);
    }

    void resynchronises_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QList<QByteArray>>("frames");
        const QByteArray a = Frame(0xA5, 1), b = Frame(0xA6, 2), c = Frame(0xA5, 3);
        const QByteArray ab = FrameWithChecksumAB();
        QTest::newRow("in step") << a + b + c << QList<QByteArray>{a, b, c};
        QTest::newRow("garbage before a frame")
            << Bytes({0x00, 0xAB, 0x13, 0xFF}) + a + b << QList<QByteArray>{a, b};
        QTest::newRow("repeated head") << Bytes({0xAA}) + a + Bytes({0xAA, 0xAA}) + b
                                       << QList<QByteArray>{a, b};
        QTest::newRow("stray head in the gap")
            << a + Bytes({0x01, 0xAA, 0x02}) + b + Bytes({0xAA}) + c << QList<QByteArray>{a, b, c};
        QTest::newRow("frame cut short") << a + b.left(7) + c << QList<QByteArray>{a, c};
        QTest::newRow("tail lost") << a.left(18) + b << QList<QByteArray>{b};
        // A stray head whose eighteenth byte is the 0xAB checksum of the frame after it
        QTest::newRow("stray head before checksum 0xAB")
            << Bytes({0xAA}) + ab + a << QList<QByteArray>{ab, a};
        const QByteArray tailInside = Msg(0xA5).at(3, 1).at(14, 0xAB).wire();
        QTest::newRow("stray head, tail inside next frame")
            << a + Bytes({0xAA, 0, 0, 0, 0}) + tailInside + b << QList<QByteArray>{a, tailInside, b};
        // The framer does not verify checksums: a lone frame with a wrong one is delivered
        QByteArray wrongSum = a;
        wrongSum[17] = char(wrongSum[17] + 1);
        QTest::newRow("wrong checksum kept") << wrongSum + b << QList<QByteArray>{wrongSum, b};
        QTest::newRow("only garbage") << QByteArray(100, char(0xAA)) + QByteArray(50, '\0')
                                      << QList<QByteArray>{};
    }
    void resynchronises()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QList<QByteArray>, frames);
        // Whatever the chunking of the stream, the same frames come out.
        for (int chunk = 1; chunk <= 40; ++chunk) {
            const QList<QByteArray> got = FramesOf(stream, chunk);
            if (got != frames) {
                QString text;
                for (const QByteArray& f : got)
                    text += QString::fromLatin1(f.toHex(' ')) + "\n";
                QFAIL(qPrintable(QString("chunk %1 gave %2 frames:\n%3").arg(chunk).arg(got.size()).arg(text)));
            }
        }
    }

    void fifoNeverOverflowsAndRecovers()
    {
        GSerialPort port;
        unsigned char buf[20];
        // A flood of garbage: only the capacity is kept, the rest dropped.
        const QByteArray flood(5000, char(0xAA));
        QCOMPARE(port.RxAppend(flood.constData(), flood.size()), 2000);
        QCOMPARE(port.m_RxCount, 2000);
        QCOMPARE(port.RxAppend(flood.constData(), 1), 0);
        QCOMPARE(port.RxTakeFrame(buf, 20), 0);
        QVERIFY(port.m_RxCount < 19);
        const QByteArray good = Frame(0xA5, 42);
        port.RxAppend(good.constData(), good.size());
        QCOMPARE(port.RxTakeFrame(buf, 20), 20);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buf) + 1, 19), good);

        // More whole frames than fit: what fits is delivered, the link goes on afterwards.
        QByteArray burst;
        for (int i = 0; i < 150; ++i)
            burst += Frame(0xA5, i);
        const int room = 2000 - port.m_RxCount;
        QCOMPARE(port.RxAppend(burst.constData(), burst.size()), room);
        int delivered = 0;
        while (port.RxTakeFrame(buf, 20) == 20) {
            QCOMPARE(int(buf[8] | buf[9] << 8), delivered);
            ++delivered;
        }
        QCOMPARE(delivered, 2000 / 19);
        const QByteArray later = Frame(0xA6, 7);
        port.RxAppend(later.constData(), later.size());
        QCOMPARE(port.RxTakeFrame(buf, 20), 20);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buf) + 1, 19), later);
        QCOMPARE(port.RxAppend(nullptr, 5), 0);
        QCOMPARE(port.RxTakeFrame(buf, 19), 0); // too small a buffer takes nothing
    }

    void lineSettingsAndRequestsOnTheWire()
    {
        PtyDevice pty;
        QVERIFY(pty.ok());
        GSerialPort port;
        QVERIFY(port.OpenPort(pty.slaveName()));

        termios tio{};
        QCOMPARE(tcgetattr(port.m_Port.handle(), &tio), 0);
        QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
        QCOMPARE(cfgetispeed(&tio), speed_t(B9600));
        QCOMPARE(int(tio.c_cflag & CSIZE), int(CS8));
        QVERIFY(!(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS)));
        QVERIFY(!(tio.c_iflag & (IXON | IXOFF)));
        QVERIFY(!(tio.c_lflag & (ICANON | ECHO)));

        struct Case {
            std::function<void()> send;
            QByteArray wire;
        };
        unsigned char msg[20];
        const QByteArray twelve(12, '\0');
        const Case cases[] = {
            {[&] { port.AskDeviceInfo(msg, 20); }, Bytes({0xAA, 0xA6}) + QByteArray(15, '\0') + Bytes({0x00, 0xAB})},
            {[&] { port.AskDeviceSN(msg, 20); }, Bytes({0xAA, 0xB5}) + QByteArray(15, '\0') + Bytes({0x00, 0xAB})},
            {[&] { port.AskHistoryData(300, 1, 0); }, Bytes({0xAA, 0xAD, 0x2C, 0x01}) + twelve + Bytes({0x01, 0x2E, 0xAB})},
            {[&] { port.AskHistoryData(5, 2, 1); }, Bytes({0xAA, 0xAD, 0x05, 0x03}) + twelve + Bytes({0x00, 0x08, 0xAB})},
            {[&] { port.AskHistoryData(5, 2, 0); }, Bytes({0xAA, 0xAD, 0x05, 0x02}) + twelve + Bytes({0x00, 0x07, 0xAB})},
            {[&] { port.AskHistoryData(5, 5, 1); }, Bytes({0xAA, 0xAD, 0x05, 0x05}) + twelve + Bytes({0x00, 0x0A, 0xAB})},
            {[&] { port.AskHistoryData(1004, 1, 1); }, Bytes({0xAA, 0xAD, 0xEC, 0x01}) + twelve + Bytes({0x03, 0xF0, 0xAB})},
            {[&] { port.ClearHistoryData(); }, Bytes({0xAA, 0xAD, 0x00, 0x00, 0x01}) + QByteArray(12, '\0') + Bytes({0x01, 0xAB})},
        };
        for (const Case& c : cases) {
            QCOMPARE(c.wire.size(), 19);
            c.send();
            QVERIFY(port.m_Port.waitForBytesWritten(1000) || port.m_Port.bytesToWrite() == 0);
            QCOMPARE(pty.readFromProgram(19, 2000).toHex(' '), c.wire.toHex(' '));
        }
    }

    void readsFramesFromThePort()
    {
        PtyDevice pty;
        QVERIFY(pty.ok());
        GSerialPort port;
        QVERIFY(port.OpenPort(pty.slaveName()));
        unsigned char buf[20];
        const QByteArray f1 = Frame(0xA5, 11), f2 = Frame(0xA5, 12), f3 = Frame(0xA6, 13);

        pty.writeToProgram(f1.left(18));
        port.m_Port.waitForReadyRead(1000);
        QCOMPARE(port.ReadBufFromPort(buf, 20), 0);
        pty.writeToProgram(f1.mid(18));
        port.m_Port.waitForReadyRead(1000);
        QCOMPARE(port.ReadBufFromPort(buf, 20), 20);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buf), 20), QByteArray(1, '\0') + f1);
        QCOMPARE(port.m_RxCount, 0);

        // 40 bytes at once: one frame per call, then two bytes wait for the rest of theirs.
        pty.writeToProgram(f2 + f3 + f1.left(2));
        while (port.m_Port.bytesAvailable() < 40 && port.m_Port.waitForReadyRead(1000)) {
        }
        QCOMPARE(port.ReadBufFromPort(buf, 20), 20);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buf) + 1, 19), f2);
        QCOMPARE(port.ReadBufFromPort(buf, 20), 20);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buf) + 1, 19), f3);
        memset(buf, 0x77, sizeof buf);
        QCOMPARE(port.ReadBufFromPort(buf, 20), 0);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buf), 20), QByteArray(20, '\0'));
        QCOMPARE(port.m_RxCount, 2);
    }

    void closedPortIsQuiet()
    {
        GSerialPort port;
        unsigned char buf[20];
        QVERIFY(port.AskHistoryData(1, 1, 0));
        QVERIFY(port.ClearHistoryData());
        QCOMPARE(port.ReadBufFromPort(buf, 20), 0);
        QCOMPARE(port.ReadBufFromPort(nullptr, 20), 0);
        QVERIFY(!port.OpenPort("/nonexistent/ttyNone"));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serialport.moc"
