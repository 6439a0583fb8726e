#pragma once
// Gives the live readings their wall-clock times.
//
// Until the kernel says the wall clock is synchronised, readings are held in memory, stamped by
// the monotonic clock only; once it is, each gets its true time: its monotonic stamp plus the
// offset between the two clocks at that moment (which nothing but a step of the wall clock
// changes). If the clock is not synchronised within the wait, or the hold is full, the readings
// are stamped with the clock as it stands. After that, a change of the offset by more than 2 s
// is a step of the wall clock (NTP setting it, a person, fake-hwclock), reported once.
#include "loggerclock.h"
#include "loggerreading.h"

#include <deque>
#include <vector>

class ClockKeeper {
public:
    struct Event {
        enum Kind {
            None,
            Waiting,      // not synchronised at start: readings are held from now
            Synchronised, // it is now: `released` held readings went out with true times
            GaveUp,       // the wait is over (or the hold is full): stamped as the clock stands
            Unknown,      // the kernel cannot say: stamped as the clock stands from the start
            Stepped,      // the wall clock moved by stepMs against the monotonic clock
        };
        Kind kind = None;
        int64_t stepMs = 0;
        int released = 0;
        bool holdFull = false; // GaveUp because the hold was full, not because of the wait
    };

    // waitSec 0: stamp at once, with the clock as it stands.
    ClockKeeper(const LoggerClock& clock, int waitSec);

    // Looks at the clocks (once per poll, before new readings are added). Held readings that
    // can be stamped now go to *out, oldest first.
    Event Tick(std::vector<LoggerReading>* out);
    // A live reading with its monotonic stamp: stamped and appended to *out, or held.
    void Add(const LoggerReading& r, std::vector<LoggerReading>* out);

    // The program ends before the clock is known: the held readings go out stamped with the
    // clock as it stands. Returns how many.
    int GiveUp(std::vector<LoggerReading>* out);
    // Marks the newest held reading as the last of its run (the sensor was lost); false when
    // nothing is held.
    bool MarkLastHeld();

    bool Trusted() const { return m_Trusted; }
    // The wall time on the scale the readings are stamped with (meaningful once Trusted).
    int64_t NowMs() const { return m_Clock.MonotonicMs() + m_OffsetMs; }
    int Held() const { return int(m_Held.size()); }
    int WaitSec() const { return m_WaitSec; }

    // Six hours of one reading a second, and some, at about 100 bytes each.
    enum { kStepMs = 2000, kMaxHeld = 25000 };

private:
    void Trust(std::vector<LoggerReading>* out);

    const LoggerClock& m_Clock;
    const int m_WaitSec;
    bool m_Started = false;
    bool m_Trusted = false;
    bool m_HoldFull = false;
    int64_t m_DeadlineMs = 0; // monotonic
    int64_t m_OffsetMs = 0;   // wall minus monotonic
    std::deque<LoggerReading> m_Held;
};
