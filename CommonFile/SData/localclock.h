#pragma once
// Local clock fields of many nearby instants, fast: the text export writes a time for each of
// up to 1.2 million rows, and a full local-time conversion per row would cost more than all the
// rest of the row. The offset from UTC is looked up once per quarter hour and reused while it
// holds, so rows on both sides of a daylight-saving change still get their own offset.
#include <cstdint>

struct LocalClockFields {
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

class LocalClock {
public:
    LocalClockFields At(int64_t secsSinceEpoch);

private:
    int64_t m_From = 0; // the offset holds for [m_From, m_To)
    int64_t m_To = 0;
    int64_t m_Offset = 0;
};
