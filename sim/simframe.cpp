#include "simframe.h"

#include <algorithm>
#include <cstring>

uint8_t SimChecksum(const SimMessage& m)
{
    uint8_t sum = 0;
    for (int i = 3; i <= 17; ++i)
        sum = uint8_t(sum + m[i]);
    return sum;
}

SimMessage SimMakeFrame(uint8_t type)
{
    SimMessage m{};
    m[2] = type;
    SimSeal(m);
    return m;
}

void SimSeal(SimMessage& m)
{
    m[1] = kSimHead;
    m[18] = SimChecksum(m);
    m[19] = kSimTail;
}

void SimPutWord(SimMessage& m, int pos, uint16_t value)
{
    m[pos] = uint8_t(value & 0xFF);
    m[pos + 1] = uint8_t(value >> 8);
}

uint16_t SimWord(const SimMessage& m, int pos)
{
    return uint16_t(m[pos] | (m[pos + 1] << 8));
}

SimMessage SimFromWire(const uint8_t* frame19)
{
    SimMessage m{};
    std::memcpy(m.data() + 1, frame19, kSimFrameLen);
    return m;
}

bool SimFrameValid(const SimMessage& m)
{
    return m[1] == kSimHead && m[19] == kSimTail && m[18] == SimChecksum(m);
}

uint32_t SimDateWord(time_t secs)
{
    struct tm t {};
    localtime_r(&secs, &t);
    const int year = std::clamp(t.tm_year + 1900 - 2015, 0, 15);
    const uint32_t b0 = uint32_t(year << 4) | uint32_t(t.tm_mon + 1);
    return b0 | uint32_t(t.tm_mday) << 8 | uint32_t(t.tm_hour) << 16 | uint32_t(t.tm_min) << 24;
}

time_t SimDateWordToTime(uint32_t word)
{
    struct tm t {};
    t.tm_year = int((word >> 4) & 0x0F) + 2015 - 1900;
    t.tm_mon = int(word & 0x0F) - 1;
    t.tm_mday = int((word >> 8) & 0xFF);
    t.tm_hour = int((word >> 16) & 0xFF);
    t.tm_min = int((word >> 24) & 0xFF);
    t.tm_isdst = -1;
    return mktime(&t);
}
