#pragma once
// Feeds device frames to a window whose codec reads the serial link, so that PollDevice runs
// its whole dispatch without hardware: the frames go straight into the link's receive FIFO.
#include "pm2_5.h"

#include <QByteArray>
#include <initializer_list>
#include <utility>

// A 19-byte frame as it travels on the serial wire: 0xAA, command, 15 data bytes (message
// positions 3..17), checksum, 0xAB. `bytes` sets message positions.
inline QByteArray DeviceFrame(unsigned char command, std::initializer_list<std::pair<int, int>> bytes)
{
    unsigned char m[20] = {};
    m[1] = 0xAA;
    m[2] = command;
    for (const auto& b : bytes)
        m[b.first] = static_cast<unsigned char>(b.second);
    unsigned sum = 0;
    for (int i = 3; i <= 17; ++i)
        sum += m[i];
    m[18] = static_cast<unsigned char>(sum);
    m[19] = 0xAB;
    return QByteArray(reinterpret_cast<const char*>(m + 1), 19);
}

// A measurement: status (1/3 particulates, 17 formaldehyde, 33 TVOC), first and second value.
inline QByteArray Reading(int status, int value1, int value2 = 0)
{
    return DeviceFrame(0xA5, {{3, status}, {8, value1 & 0xFF}, {9, value1 >> 8}, {12, value2 & 0xFF}, {13, value2 >> 8}});
}

// The identity answer: serial number 01 ab 02 03 04 05, four name bytes, type code.
inline QByteArray Identity(const char name[4], int type)
{
    return DeviceFrame(0xA6, {{3, 0x01}, {4, 0xAB}, {5, 0x02}, {6, 0x03}, {7, 0x04}, {8, 0x05}, {9, name[0]},
                              {10, name[1]}, {11, name[2]}, {12, name[3]}, {13, type}});
}

// Queues one frame on the serial link; false while the link cannot take frames.
inline bool Feed(PM2_5& w, const QByteArray& frame)
{
    w.m_CodeUsb.m_Serial.m_LinkFlag = 1;
    return w.m_CodeUsb.m_Serial.RxAppend(frame.constData(), frame.size()) == frame.size();
}

#define FEED_OR_SKIP(window, frame)                                                                         \
    do {                                                                                                    \
        if (!Feed(window, frame))                                                                           \
            QSKIP("the serial link does not take frames yet");                                              \
    } while (0)
