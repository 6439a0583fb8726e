// Byte streams as the serial link receives them, through the receive FIFO and the decoder, and
// damaged USB messages through the decoder: each row states the frames (type and result code)
// that must come out.
//
// How damage is handled, as the rows show it:
// - The framer drops bytes until a head 0xAA with a tail 0xAB eighteen bytes on.
// - Checksums are not verified: the framer only uses them to choose between two overlapping
//   candidates (a stray head before a real frame), and the decoder never looks at them. A lone
//   frame with a wrong checksum is delivered and decoded.
// - A damaged frame that holds a head byte is kept back until enough bytes arrived to tell
//   whether a frame starts at that head; a frame cut short at the end of the input waits for
//   the rest. Neither is lost while the link stays up.
#include "deviceframe.h"
#include "scodeusb.h"

#include <QtTest>

namespace {
QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// A well-formed frame as it travels on the serial wire (positions 1..19), with the given data
// bytes from position 3 on.
QByteArray Frame(int type, std::initializer_list<int> data = {})
{
    unsigned char m[kFrameMessageLength];
    Frame_Begin(m, static_cast<unsigned char>(type));
    int pos = 3;
    for (int v : data)
        m[pos++] = static_cast<unsigned char>(v);
    Frame_SetCheckSum(m);
    return QByteArray(reinterpret_cast<const char*>(m) + 1, 19);
}

QByteArray Reading(int status) { return Frame(0xA5, {status, 0x64, 0, 0x28, 0, 0x5F, 0x01}); }

// Wire offsets of the checksum and the tail.
constexpr int kSum = 17;
constexpr int kTail = 18;

QByteArray WithByte(QByteArray frame, int at, int value)
{
    frame[at] = char(value);
    return frame;
}

struct Outcome {
    QString frames;   // "A5:1 A6:166 ...": type and result code of each frame in order
    int waiting = 0;  // bytes left in the FIFO when the input stopped
};

// Feeds the stream in chunks, polling once per chunk as the 200 ms poll does, then polls until
// nothing more comes out.
Outcome Receive(const QByteArray& stream, int chunk)
{
    SCodeUsb codec;
    codec.m_Serial.m_LinkFlag = 1;
    QStringList frames;
    auto poll = [&] {
        TAG_T_SPM25Data out;
        const unsigned char code = codec.ReadPM25Data(0, &out);
        if (codec.m_ReadLen == 0)
            return false;
        frames << QString("%1:%2").arg(codec.m_Message[kFramePosType], 2, 16, QChar('0')).toUpper().arg(code);
        return true;
    };
    for (int at = 0; at < stream.size(); at += chunk) {
        const QByteArray part = stream.mid(at, chunk);
        codec.m_Serial.RxAppend(part.constData(), part.size());
        poll();
    }
    for (int k = 0; k < 200 && poll(); ++k) {
    }
    return {frames.join(' '), codec.m_Serial.m_RxCount};
}
} // namespace

class TestFrames : public QObject {
    Q_OBJECT

private slots:
    void serialStream_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("frames");
        QTest::addColumn<int>("waiting");

        const QByteArray a5 = Reading(1), a6 = Frame(0xA6, {1, 2, 3, 4, 5, 6, 'L', 'V', '5', '1', 130});
        QTest::newRow("one reading") << a5 << "A5:1" << 0;
        QTest::newRow("leading garbage") << Bytes({0x00, 0x13, 0xAB, 0xFF, 0xA5}) + Reading(3) << "A5:3" << 0;
        QTest::newRow("garbage between answers") << a6 + Bytes({0x01, 0xAB, 0x02}) + a5 << "A6:166 A5:1" << 0;
        QTest::newRow("repeated head bytes")
            << Bytes({0xAA, 0xAA, 0xAA}) + a5 + Bytes({0xAA}) + a6 << "A5:1 A6:166" << 0;
        // Fewer bytes than a frame are not looked at: the noise goes with the next bytes.
        QTest::newRow("only noise") << Bytes({0x00, 0xAB, 0x13, 0x7F, 0xAB, 0xAB}) << "" << 6;
        QTest::newRow("head and tail bytes inside the data")
            << Frame(0xA5, {1, 0xAA, 0xAB, 0xAA, 0xAB}) + a6 << "A5:1 A6:166" << 0;

        // Checksums: not verified, only used to choose between overlapping candidates.
        QTest::newRow("wrong checksum, delivered") << WithByte(a5, kSum, 0x00) + a6 << "A5:1 A6:166" << 0;
        const QByteArray sumAB = Frame(0xA5, {3, 0xA8}); // its checksum byte is 0xAB
        QVERIFY(uint8_t(sumAB[kSum]) == 0xAB);
        QTest::newRow("stray head before a frame whose checksum is 0xAB")
            << Bytes({0xAA}) + sumAB + a6 << "A5:3 A6:166" << 0;
        const QByteArray tailInside = Frame(0xA5, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAB});
        QTest::newRow("stray head whose tail lies inside the next frame")
            << a6 + Bytes({0xAA, 0, 0, 0, 0}) + tailInside << "A6:166 A5:1" << 0;

        // Damaged framing.
        QTest::newRow("wrong tail, frame dropped") << WithByte(a5, kTail, 0x00) + a6 << "A6:166" << 0;
        QTest::newRow("head lost, frame dropped") << a5.mid(1) + a6 << "A6:166" << 0;
        QTest::newRow("tail lost, next frame kept") << a5.left(18) + a6 << "A6:166" << 0;
        QTest::newRow("frame cut short in the middle") << a5.left(9) + a6 + Reading(3) << "A6:166 A5:3" << 0;

        // When the input stops.
        QTest::newRow("truncated frame at the end waits") << a5 + a6.left(10) << "A5:1" << 10;
        QTest::newRow("a lone head waits") << a5 + Bytes({0xAA}) << "A5:1" << 1;
        // A damaged frame holding a head byte waits until the candidate at that head can be judged.
        const QByteArray damagedWithHead = WithByte(Frame(0xA5, {1, 0, 0xAA}), kSum, 0x00);
        QTest::newRow("damaged frame with a head inside waits") << damagedWithHead << "" << 19;
        QTest::newRow("... and comes out once more bytes arrived")
            << damagedWithHead + a6 << "A5:1 A6:166" << 0;

        // Every answer type, back to back.
        QByteArray all;
        all += a6;
        all += Frame(0xB5, {1, 2, 3, 4, 5, 6, 7});
        all += Reading(1);
        all += Reading(0x11);
        all += Reading(0x21);
        all += Reading(0);
        all += Frame(0xA9, {0, 2, 0x10, 0, 0x20, 0});
        all += Frame(0xAD, {0, 1, 0x1C, 0x07, 0x0E, 0x1E, 10, 0, 11, 0, 12, 0, 25, 0});
        all += Frame(0xAD, {0, 0xFD});
        all += Frame(0xAC, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 30, 0});
        all += Frame(0xA7);
        all += Reading(166);
        QTest::newRow("interleaved answer types")
            << all << "A6:166 B5:181 A5:1 A5:17 A5:33 A5:0 A9:169 AD:173 AD:253 AC:172 A7:0 A5:166" << 0;
    }
    void serialStream()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QString, frames);
        QFETCH(int, waiting);
        // The outcome must not depend on how the bytes were cut into reads.
        for (int chunk : {1, 2, 7, 18, 19, 20, 64, int(stream.size())}) {
            const Outcome got = Receive(stream, chunk);
            QVERIFY2(got.frames == frames && got.waiting == waiting,
                     qPrintable(QString("chunks of %1: \"%2\", %3 waiting").arg(chunk).arg(got.frames).arg(got.waiting)));
        }
    }

    // Input stops half-way through a frame: the polls give nothing and keep the bytes; the frame
    // comes out whole when the rest arrives.
    void halfFullBufferWhenInputStops()
    {
        SCodeUsb codec;
        codec.m_Serial.m_LinkFlag = 1;
        const QByteArray a5 = Reading(3);
        TAG_T_SPM25Data out;
        codec.m_Serial.RxAppend(a5.constData(), 12);
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(codec.ReadPM25Data(0, &out), uint8_t(0));
            QCOMPARE(codec.m_ReadLen, 0);
            QCOMPARE(codec.m_Serial.m_RxCount, 12);
        }
        codec.m_Serial.RxAppend(a5.constData() + 12, a5.size() - 12);
        QCOMPARE(codec.ReadPM25Data(0, &out), uint8_t(3));
        QCOMPARE(out.usDelta, uint16_t(0x64 - 0x28));
        QCOMPARE(out.usValue1, uint16_t(0x015F));
        QCOMPARE(codec.m_Serial.m_RxCount, 0);
    }

    void usbMessage_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("result");
        const QByteArray a5 = Bytes({0x02}) + Reading(3);
        QTest::newRow("reading") << a5 << 3;
        QTest::newRow("wrong checksum, decoded") << WithByte(a5, 1 + kSum, 0x55) << 3;
        QTest::newRow("wrong tail, decoded") << WithByte(a5, 1 + kTail, 0x00) << 3;
        QTest::newRow("no head") << WithByte(a5, 1, 0xAB) << 0;
        QTest::newRow("nothing read") << QByteArray() << 0;
        QTest::newRow("short read without the status byte") << a5.left(3) << 0;
        QTest::newRow("short read up to the status byte") << a5.left(4) << 3;
        QTest::newRow("identity cut after its type byte") << Bytes({0x02, 0xAA, 0xA6}) << 166;
        QTest::newRow("history with an unknown kind echo") << Bytes({0x02}) + Frame(0xAD, {0, 2}) << 173;
        QTest::newRow("unknown type") << Bytes({0x02}) + Frame(0xEE, {1}) << 0;
    }
    void usbMessage()
    {
        QFETCH(QByteArray, message);
        QFETCH(int, result);
        SCodeUsb codec;
        codec.m_Devices.append(TAG_T_SDeviceInfo());
        // Exactly the bytes read: a short read must not be read past its end.
        std::unique_ptr<unsigned char[]> bytes(new unsigned char[size_t(message.size())]);
        memcpy(bytes.get(), message.constData(), size_t(message.size()));
        TAG_T_SPM25Data out;
        QCOMPARE(int(codec.DecodePM25ReadData(0, bytes.get(), message.size(), &out)), result);
    }
};

QTEST_GUILESS_MAIN(TestFrames)
#include "test_frames.moc"
