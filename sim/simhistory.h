#pragma once
// The sensor's history memory: one value set every 5 minutes, oldest first, and the packets the
// device builds from it for both history formats.
//
// Packet-index format (0xAD): packets come in groups of three holding 12 values; the first packet
// of a group carries the group's date word. The date word is the local time of the group's last
// stored value minus 300 s, so a host that stamps the last value T + 300 and its predecessors
// 300 s apart gets every value's own time back. Packet 0 announces the number of values at 15-16.
// The packet number travels in position 3 (bits 0-7) and position 17 (bits 8-9), so 1024
// packets address at most 341 groups (4092 values).
//
// Old format (0xAC): six values per packet, no dates; packet 0 announces the count at 16-17.
// A one-byte packet number addresses at most 256 packets, so the old format serves the most
// recent 1536 values.
#include "simframe.h"

#include <cstdint>
#include <deque>
#include <vector>

struct SimHistoryValue {
    int64_t time = 0;    // end of the 5-minute period, seconds since 1970-01-01 UTC
    uint16_t pm25 = 0;   // tenths of ug/m3
    uint16_t pm10 = 0;   // tenths of ug/m3
    uint16_t gas = 0;    // thousandths of mg/m3
};

// Which stored series a history request asks for.
enum class SimSeries { Pm25, Pm10, Gas };

class SimHistory {
public:
    static constexpr int kIntervalS = 300;
    static constexpr int kMaxCapacity = 4092;    // what 10-bit packet numbers can address
    static constexpr int kOldFormatMax = 256 * 6;

    explicit SimHistory(int capacity = 4032);

    void Append(const SimHistoryValue& v);   // drops the oldest value when full
    void Clear() { m_Values.clear(); }
    void Set(const std::vector<SimHistoryValue>& values);
    std::vector<SimHistoryValue> Values() const { return {m_Values.begin(), m_Values.end()}; }
    int Count() const { return int(m_Values.size()); }
    int Capacity() const { return m_Capacity; }

    // announced < 0: announce the real count.
    SimMessage PacketIndexPacket(int packet, SimSeries series, uint8_t echo, int announced) const;
    SimMessage OldFormatPacket(int packet, int announced) const;
    SimMessage CountAnswer() const;

private:
    uint16_t Value(int index, SimSeries series) const;

    int m_Capacity;
    std::deque<SimHistoryValue> m_Values;
};
