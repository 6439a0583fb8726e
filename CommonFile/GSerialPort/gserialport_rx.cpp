// The receive side of the serial link: a bounded FIFO cut into 19-byte frames.
//
// A frame on the wire starts with 0xAA and has its tail 0xAB eighteen bytes on. When the stream
// loses step (a byte lost on the line, noise, a burst that overflowed the FIFO), every byte that
// cannot start such a frame is dropped, so the next good frame is found again. A byte sequence
// that looks like a frame only by chance (a stray 0xAA whose "tail" is a byte inside the real
// frame) is recognised by its wrong checksum when an overlapping candidate with a right checksum
// exists; frames are otherwise delivered as they are, the codec does not verify checksums.
#include "gserialport.h"

#include "deviceframe.h"

#include <QLoggingCategory>
#include <algorithm>
#include <cstring>

namespace {
Q_LOGGING_CATEGORY(lcSerialRx, "vostral.serial", QtInfoMsg)

// FIFO offsets inside one frame (message position - 1).
constexpr int kTailOffset = 18;
constexpr int kSumOffset = 17;

bool HasHeadAndTail(const unsigned char* p)
{
    return p[0] == kFrameHead && p[kTailOffset] == kFrameTail;
}

bool SumMatches(const unsigned char* p)
{
    // p[0] is message position 1: the data are p[2..16], the checksum p[17].
    unsigned char sum = 0;
    for (int k = 2; k <= 16; ++k)
        sum = static_cast<unsigned char>(sum + p[k]);
    return sum == p[kSumOffset];
}
} // namespace

int GSerialPort::RxAppend(const char* data, int n)
{
    if (!data || n <= 0)
        return 0;
    const int kept = std::min(n, kRxCapacity - m_RxCount);
    if (kept > 0) {
        memcpy(m_RxBuf + m_RxCount, data, size_t(kept));
        m_RxCount += kept;
    }
    if (kept < n)
        qCDebug(lcSerialRx) << "receive buffer full, dropped" << n - kept << "bytes";
    return kept;
}

void GSerialPort::RxDrop(int n)
{
    n = std::min(n, m_RxCount);
    if (n <= 0)
        return;
    memmove(m_RxBuf, m_RxBuf + n, size_t(m_RxCount - n));
    m_RxCount -= n;
}

// The start of the frame to deliver for a candidate with head and tail, or -1 when that cannot
// be decided before more bytes arrive.
int GSerialPort::FrameStartAt(int candidate) const
{
    const unsigned char* p = m_RxBuf + candidate;
    if (SumMatches(p))
        return candidate;
    for (int d = 1; d < kFrameLength; ++d) {
        if (p[d] != kFrameHead)
            continue;
        if (candidate + d + kFrameLength > m_RxCount)
            return -1;
        if (HasHeadAndTail(p + d) && SumMatches(p + d))
            return candidate + d;
    }
    return candidate;
}

int GSerialPort::RxTakeFrame(unsigned char* buffer, int length)
{
    if (!buffer || length < kFrameMessageLength)
        return 0;
    int i = 0;
    int start = -1;
    while (start < 0) {
        while (i < m_RxCount && m_RxBuf[i] != kFrameHead)
            ++i;
        if (m_RxCount - i < kFrameLength)
            break; // nothing, or the beginning of a frame that is still arriving
        if (m_RxBuf[i + kTailOffset] != kFrameTail) {
            ++i;
            continue;
        }
        start = FrameStartAt(i);
        if (start < 0)
            break;
    }
    if (start < 0) {
        RxDrop(i);
        return 0;
    }
    buffer[0] = 0;
    memcpy(buffer + 1, m_RxBuf + start, kFrameLength);
    RxDrop(start + kFrameLength);
    return length;
}

int GSerialPort::ReadBufFromPort(unsigned char* buffer, int length)
{
    if (!buffer || length <= 0)
        return 0;
    memset(buffer, 0, size_t(length));

    QByteArray received;
    if (m_Port.isOpen()) {
        received = m_Port.readAll();
        CloseIfHungUp();
    }
    if (received.isEmpty() && m_RxCount == 0)
        return 0;
    RxAppend(received.constData(), received.size());
    if (m_RxCount < kFrameLength)
        return 0;

    if (lcSerialRx().isDebugEnabled()) {
        qCDebug(lcSerialRx, "ReadBufFromPort:mResponse=%d", int(received.size()));
        QByteArray line;
        for (int k = 0; k < std::min(m_RxCount, 2 * kFrameLength); ++k)
            line += QByteArray::number(m_RxBuf[k], 16).rightJustified(2, '0') + ' ';
        qCDebug(lcSerialRx).noquote() << line.trimmed();
    }
    return RxTakeFrame(buffer, length);
}

// A pulled bridge hangs the port up: every read then ends at once with end-of-file or EIO, which
// the port reports as ReadError or ResourceError. Qt keeps watching the dead descriptor, so the
// event loop would spin on it; the port is closed instead (what was received stays in the FIFO).
void GSerialPort::CloseIfHungUp()
{
    const QSerialPort::SerialPortError error = m_Port.error();
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    qCDebug(lcSerialRx) << "the port hung up:" << m_Port.errorString();
    m_Port.close();
    m_HungUp = true;
}
