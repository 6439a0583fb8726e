#include "simhistory.h"

#include <algorithm>

SimHistory::SimHistory(int capacity)
    : m_Capacity(std::clamp(capacity, 0, kMaxCapacity))
{
}

void SimHistory::Append(const SimHistoryValue& v)
{
    if (m_Capacity == 0)
        return;
    if (int(m_Values.size()) >= m_Capacity)
        m_Values.pop_front();
    m_Values.push_back(v);
}

void SimHistory::Set(const std::vector<SimHistoryValue>& values)
{
    m_Values.clear();
    const size_t skip = values.size() > size_t(m_Capacity) ? values.size() - m_Capacity : 0;
    m_Values.assign(values.begin() + long(skip), values.end());
}

uint16_t SimHistory::Value(int index, SimSeries series) const
{
    if (index < 0 || index >= int(m_Values.size()))
        return 0;
    const SimHistoryValue& v = m_Values[size_t(index)];
    switch (series) {
    case SimSeries::Pm25: return v.pm25;
    case SimSeries::Pm10: return v.pm10;
    case SimSeries::Gas: return v.gas;
    }
    return 0;
}

SimMessage SimHistory::PacketIndexPacket(int packet, SimSeries series, uint8_t echo,
                                         int announced) const
{
    SimMessage m = SimMakeFrame(kSimHistory);
    packet &= 0x3FF;
    m[3] = uint8_t(packet & 0xFF);
    m[4] = echo;
    m[17] = uint8_t((packet >> 8) & 0x03);
    const int group = packet / 3;
    const int first = group * 12;
    switch (packet % 3) {
    case 0: {
        const int last = std::min(first + 11, Count() - 1);
        if (last >= first) {
            const int64_t t = m_Values[size_t(last)].time - kIntervalS;
            const uint32_t word = SimDateWord(time_t(t));
            for (int b = 0; b < 4; ++b)
                m[5 + b] = uint8_t(word >> (8 * b));
        }
        for (int s = 0; s < 3; ++s)
            SimPutWord(m, 9 + 2 * s, Value(first + s, series));
        break;
    }
    case 1:
        for (int s = 0; s < 5; ++s)
            SimPutWord(m, 5 + 2 * s, Value(first + 3 + s, series));
        break;
    case 2:
        for (int s = 0; s < 4; ++s)
            SimPutWord(m, 5 + 2 * s, Value(first + 8 + s, series));
        break;
    }
    if (packet == 0)
        SimPutWord(m, 15, uint16_t(std::clamp(announced < 0 ? Count() : announced, 0, 65535)));
    SimSeal(m);
    return m;
}

SimMessage SimHistory::OldFormatPacket(int packet, int announced) const
{
    SimMessage m = SimMakeFrame(kSimOldHistory);
    packet &= 0xFF;
    const int served = std::min(Count(), kOldFormatMax);
    const int offset = Count() - served;   // the most recent values
    m[3] = uint8_t(packet);
    for (int s = 0; s < 6; ++s) {
        const int i = packet * 6 + s;
        SimPutWord(m, 4 + 2 * s, i < served ? Value(offset + i, SimSeries::Pm25) : 0);
    }
    if (packet == 0)
        SimPutWord(m, 16, uint16_t(std::clamp(announced < 0 ? served : announced, 0, 65535)));
    SimSeal(m);
    return m;
}

SimMessage SimHistory::CountAnswer() const
{
    SimMessage m = SimMakeFrame(kSimHistory);
    m[3] = uint8_t(std::min(255, (Count() + 3) / 4));   // in units of four values
    m[4] = kSimEchoCount;
    SimSeal(m);
    return m;
}
