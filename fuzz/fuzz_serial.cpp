// Fuzz target: the serial receive path. Bytes arrive in chunks in the receive buffer of the
// codec's serial link (GSerialPort::RxAppend) and each poll (SCodeUsb::ReadPM25Data on the serial
// link: ReadBufFromPort, RxTakeFrame, the decoder) takes at most one frame, as the window's poll
// does every 200 ms.
//
// Input: one mode byte, then by mode:
//   raw (bit 0 clear): chunks [n][n bytes]; after each chunk 1 + bits 1-2 polls run (a chunk of 0
//     bytes is a poll with nothing new). Frames the framer delivers must be windows of the bytes
//     the buffer kept, in order and without overlap, with head and tail in place.
//   clean (bit 0 set): a second byte seeds the chunk sizes, then records [g][type][15 data bytes]
//     that become a well-formed frame after g & 7 bytes of noise that hold no 0xAA. Every frame of
//     such a stream must come out, unchanged and in order, however the stream is cut.
// When the input ends the polls go on without new bytes until nothing more comes out; a frame
// that is still incomplete stays waiting.
#include "fuzzhelpers.h"

#include "deviceframe.h"
#include "gserialport.h"
#include "scodeusb.h"

#include <QByteArray>
#include <QList>

namespace {
constexpr int kWire = GSerialPort::kFrameLength;
// Enough polls to empty a full receive buffer frame by frame.
constexpr int kDrainPolls = GSerialPort::kRxCapacity / kWire + 2;

struct Link {
    SCodeUsb codec;
    QByteArray kept;      // every byte the receive buffer accepted, in order
    int consumed = 0;     // bytes of `kept` before the end of the last delivered frame
    QList<QByteArray> delivered;

    Link() { codec.m_Serial.m_LinkFlag = 1; }

    void Receive(const unsigned char* bytes, int n)
    {
        const int kept_n = codec.m_Serial.RxAppend(reinterpret_cast<const char*>(bytes), n);
        FUZZ_CHECK(kept_n >= 0 && kept_n <= n);
        kept.append(reinterpret_cast<const char*>(bytes), kept_n);
        FUZZ_CHECK(codec.m_Serial.m_RxCount >= 0 && codec.m_Serial.m_RxCount <= GSerialPort::kRxCapacity);
    }

    // One poll; true when it delivered a frame.
    bool Poll()
    {
        TAG_T_SPM25Data out;
        codec.ReadPM25Data(0, &out);
        FUZZ_CHECK(codec.m_Serial.m_RxCount >= 0 && codec.m_Serial.m_RxCount <= GSerialPort::kRxCapacity);
        if (codec.m_ReadLen == 0)
            return false;
        FUZZ_CHECK(codec.m_ReadLen == kFrameMessageLength);
        const unsigned char* m = codec.m_Message;
        FUZZ_CHECK(m[0] == 0 && m[kFramePosHead] == kFrameHead && m[kFramePosTail] == kFrameTail);
        const QByteArray frame(reinterpret_cast<const char*>(m + 1), kWire);
        // The frame was received as it stands, after the previous one.
        const int at = kept.indexOf(frame, consumed);
        FUZZ_CHECK(at >= 0);
        consumed = at + kWire;
        delivered.append(frame);
        return true;
    }

    void Drain()
    {
        int polls = 0;
        while (Poll())
            FUZZ_CHECK(++polls <= kDrainPolls);
        // Nothing new arrived: the next poll gives nothing either.
        FUZZ_CHECK(!Poll());
    }
};

void RawStream(FuzzReader& in, int pollsPerChunk)
{
    Link link;
    while (!in.empty()) {
        size_t n = 0;
        const unsigned char* chunk = in.Take(in.Byte(), &n);
        link.Receive(chunk, int(n));
        for (int k = 0; k < pollsPerChunk; ++k)
            link.Poll();
    }
    link.Drain();
}

void CleanStream(FuzzReader& in)
{
    uint32_t rng = 0x9E3779B9u ^ in.Byte();
    auto next = [&rng] {
        rng = rng * 1664525u + 1013904223u;
        return rng >> 24;
    };
    QByteArray stream;
    QList<QByteArray> frames;
    while (in.left() >= 2) {
        const int noise = in.Byte() & 7;
        for (int k = 0; k < noise; ++k) {
            const unsigned char b = static_cast<unsigned char>(next());
            stream.append(char(b == kFrameHead ? 0x55 : b));
        }
        unsigned char msg[kFrameMessageLength];
        Frame_Begin(msg, in.Byte());
        size_t got = 0;
        const unsigned char* data = in.Take(15, &got);
        memcpy(msg + 3, data, got);
        Frame_SetCheckSum(msg);
        const QByteArray frame(reinterpret_cast<const char*>(msg + 1), kWire);
        frames.append(frame);
        stream.append(frame);
    }

    Link link;
    for (int at = 0; at < stream.size();) {
        const int n = std::min(int(1 + next() % 64), int(stream.size()) - at);
        link.Receive(reinterpret_cast<const unsigned char*>(stream.constData()) + at, n);
        at += n;
        link.Drain();
    }
    FUZZ_CHECK(link.kept == stream);
    FUZZ_CHECK(link.delivered == frames);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz_Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const FuzzInput input(data, size);
    FuzzReader in(input.data(), input.size());
    const unsigned char mode = in.Byte();
    if (mode & 1)
        CleanStream(in);
    else
        RawStream(in, 1 + ((mode >> 1) & 3));
    return 0;
}
