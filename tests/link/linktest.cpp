#include "linktest.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

Msg::Msg(unsigned char type)
{
    b[kFramePosHead] = kFrameHead;
    b[kFramePosType] = type;
    b[kFramePosTail] = kFrameTail;
}

Msg& Msg::at(int pos, unsigned char value)
{
    b[pos] = value;
    return *this;
}

Msg& Msg::bytes(int pos, std::initializer_list<unsigned char> values)
{
    for (unsigned char v : values)
        b[pos++] = v;
    return *this;
}

Msg& Msg::word(int pos, uint16_t value)
{
    b[pos] = uint8_t(value & 0xFF);
    b[pos + 1] = uint8_t(value >> 8);
    return *this;
}

QByteArray Msg::message() const
{
    unsigned char out[kFrameMessageLength];
    memcpy(out, b, sizeof out);
    Frame_SetCheckSum(out);
    return QByteArray(reinterpret_cast<const char*>(out), kFrameMessageLength);
}

QByteArray Msg::wire() const
{
    return message().mid(1);
}

Msg HistoryPacket(int packet, unsigned char kindEcho, const uint16_t* group, uint32_t dateWord,
                  uint16_t announced)
{
    Msg m(0xAD);
    m.at(3, uint8_t(packet & 0xFF)).at(4, kindEcho).at(17, uint8_t((packet >> 8) & 0x03));
    switch (packet % 3) {
    case 0:
        m.bytes(5, {uint8_t(dateWord), uint8_t(dateWord >> 8), uint8_t(dateWord >> 16),
                    uint8_t(dateWord >> 24)});
        for (int k = 0; k < 3; ++k)
            m.word(9 + 2 * k, group[k]);
        break;
    case 1:
        for (int k = 0; k < 5; ++k)
            m.word(5 + 2 * k, group[3 + k]);
        break;
    default:
        for (int k = 0; k < 4; ++k)
            m.word(5 + 2 * k, group[8 + k]);
        break;
    }
    if (packet == 0)
        m.word(15, announced);
    return m;
}

uint32_t DateWord(int year, int month, int day, int hour, int minute)
{
    return uint32_t(((year - 2015) << 4) | month) | uint32_t(day) << 8 | uint32_t(hour) << 16
           | uint32_t(minute) << 24;
}

SteppedClock::SteppedClock()
{
    Platform_SetNow([this] { return now; });
    Platform_SetSleep([this](int ms) {
        now += ms;
        sleptMs += ms;
        ++sleepCalls;
        if (onSleep)
            onSleep(ms);
    });
}

SteppedClock::~SteppedClock()
{
    Platform_SetSleep({});
    Platform_SetNow({});
}

PtyDevice::PtyDevice()
{
    char name[256] = {};
    if (openpty(&m_Master, &m_Slave, name, nullptr, nullptr) != 0) {
        m_Master = m_Slave = -1;
        return;
    }
    fcntl(m_Master, F_SETFL, fcntl(m_Master, F_GETFL) | O_NONBLOCK);
    m_SlaveName = QString::fromLocal8Bit(name);
}

PtyDevice::~PtyDevice()
{
    if (m_Master >= 0)
        close(m_Master);
    if (m_Slave >= 0)
        close(m_Slave);
}

QByteArray PtyDevice::readFromProgram(int count, int timeoutMs)
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < count) {
        pollfd p{m_Master, POLLIN, 0};
        if (poll(&p, 1, timeoutMs > 0 ? 10 : 0) > 0) {
            char buf[4096];
            const ssize_t n = read(m_Master, buf, sizeof buf);
            if (n > 0) {
                got.append(buf, int(n));
                continue;
            }
        }
        if (timer.elapsed() >= timeoutMs)
            break;
    }
    return got;
}

void PtyDevice::writeToProgram(const QByteArray& bytes)
{
    int before = 0;
    ioctl(m_Slave, FIONREAD, &before);
    int written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(m_Master, bytes.constData() + written, size_t(bytes.size() - written));
        if (n > 0)
            written += int(n);
        else if (errno != EAGAIN && errno != EINTR)
            return;
    }
    // The pty hands bytes over asynchronously: make them visible before the program looks.
    QElapsedTimer timer;
    timer.start();
    int now = 0;
    while (timer.elapsed() < 2000) {
        ioctl(m_Slave, FIONREAD, &now);
        if (now >= before + bytes.size())
            break;
        usleep(50);
    }
}

void PtyDevice::serve(QSerialPort& port, const std::function<QByteArray(const QByteArray&)>& responder)
{
    const qint64 queued = port.bytesToWrite();
    if (queued > 0) {
        port.waitForBytesWritten(1000);
        m_Pending += readFromProgram(int(queued), 2000);
    }
    m_Pending += readFromProgram(1 << 20, 0);
    QByteArray answers;
    while (m_Pending.size() >= 19) {
        const QByteArray request = m_Pending.left(19);
        m_Pending.remove(0, 19);
        requests.append(request);
        answers += responder(request);
    }
    if (!answers.isEmpty())
        writeToProgram(answers);
}
