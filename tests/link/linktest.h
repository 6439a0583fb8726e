#pragma once
// Helpers for the device-link tests: device frames, a stepped clock, and a pseudo-terminal that
// plays the device's end of the serial bridge.
#include "deviceframe.h"
#include "platformtime.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>
#include <initializer_list>

class QSerialPort;

// One 20-byte message built position by position; checksum and tail are set on the way out.
struct Msg {
    unsigned char b[kFrameMessageLength] = {};

    explicit Msg(unsigned char type);
    Msg& at(int pos, unsigned char value);
    Msg& bytes(int pos, std::initializer_list<unsigned char> values);
    Msg& word(int pos, uint16_t value);
    // Positions 1..19 as they travel on the serial wire.
    QByteArray wire() const;
    // The whole message with checksum, as a USB read would return it.
    QByteArray message() const;
};

// An 0xAD history answer for packet number `packet` (bits 8-9 in position 17) with the group
// layout of the packet-index format. `group` holds the twelve values of the packet's group.
Msg HistoryPacket(int packet, unsigned char kindEcho, const uint16_t* group, uint32_t dateWord,
                  uint16_t announced);

// The date word of a history group.
uint32_t DateWord(int year, int month, int day, int hour, int minute);

// Replaces Platform_SleepMs / Platform_NowMs for the life of the object.
class SteppedClock {
public:
    SteppedClock();
    ~SteppedClock();
    int64_t now = 1600000000000LL;
    int64_t sleptMs = 0;
    int sleepCalls = 0;
    std::function<void(int ms)> onSleep;
};

// The device end of a pseudo-terminal; the program opens slaveName() with QSerialPort.
class PtyDevice {
public:
    PtyDevice();
    ~PtyDevice();
    bool ok() const { return m_Master >= 0; }
    QString slaveName() const { return m_SlaveName; }

    // Waits up to timeoutMs until the program's side has `count` bytes for the device.
    QByteArray readFromProgram(int count, int timeoutMs);
    // Writes to the program and waits until the bytes are readable on the program's side.
    void writeToProgram(const QByteArray& bytes);

    // Answers the program's requests: flushes what `port` has buffered, cuts what arrived into
    // 19-byte requests, records them and writes the responder's answers back.
    void serve(QSerialPort& port, const std::function<QByteArray(const QByteArray&)>& responder);
    QVector<QByteArray> requests;

private:
    int m_Master = -1;
    int m_Slave = -1;
    QString m_SlaveName;
    QByteArray m_Pending;
};
