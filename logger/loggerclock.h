#pragma once
// The logger's two clocks and what the kernel says of the wall clock.
//
// Every time-out, search, retry and silence check runs on the monotonic clock, which never
// steps; the wall clock only stamps readings. A board without a real-time clock boots with a
// wrong wall clock (1970, or the time fake-hwclock saved at the last shutdown) until NTP sets
// it, and the clock may be stepped at any time while the logger runs.
#include <cstdint>

class LoggerClock {
public:
    enum class Sync {
        Synchronised,    // the kernel's clock discipline is not in TIME_ERROR
        NotSynchronised, // TIME_ERROR: nothing has set the clock (yet)
        Unknown,         // the state cannot be read
    };
    virtual ~LoggerClock() = default;
    // Milliseconds on a clock that never steps (its zero means nothing).
    virtual int64_t MonotonicMs() const = 0;
    // Milliseconds since 1970-01-01 00:00 UTC, as the system clock says now.
    virtual int64_t WallMs() const = 0;
    virtual Sync State() const = 0;
};

// The system's clocks: CLOCK_BOOTTIME (monotonic, and it goes on counting while the machine
// sleeps, so a suspend does not look like a step of the wall clock), CLOCK_REALTIME, and
// adjtimex(2) read-only for the synchronisation state.
LoggerClock& Logger_SystemClock();
