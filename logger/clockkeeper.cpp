#include "clockkeeper.h"

#include <cstdlib>

ClockKeeper::ClockKeeper(const LoggerClock& clock, int waitSec) : m_Clock(clock), m_WaitSec(waitSec) {}

void ClockKeeper::Trust(std::vector<LoggerReading>* out)
{
    m_Trusted = true;
    m_OffsetMs = m_Clock.WallMs() - m_Clock.MonotonicMs();
    out->reserve(out->size() + m_Held.size());
    for (LoggerReading& r : m_Held) {
        r.timeMs = r.monoMs + m_OffsetMs;
        r.held = true;
        out->push_back(std::move(r));
    }
    m_Held.clear();
    m_Held.shrink_to_fit();
}

ClockKeeper::Event ClockKeeper::Tick(std::vector<LoggerReading>* out)
{
    Event e;
    if (!m_Started) {
        m_Started = true;
        m_DeadlineMs = m_Clock.MonotonicMs() + int64_t(m_WaitSec) * 1000;
        const LoggerClock::Sync state = m_WaitSec > 0 ? m_Clock.State() : LoggerClock::Sync::Synchronised;
        if (state == LoggerClock::Sync::NotSynchronised) {
            e.kind = Event::Waiting;
            return e;
        }
        Trust(out);
        if (state == LoggerClock::Sync::Unknown)
            e.kind = Event::Unknown;
        return e;
    }
    if (!m_Trusted) {
        const int held = int(m_Held.size());
        if (m_Clock.State() == LoggerClock::Sync::Synchronised)
            e.kind = Event::Synchronised;
        else if (m_HoldFull || m_Clock.MonotonicMs() >= m_DeadlineMs)
            e.kind = Event::GaveUp;
        else
            return e;
        e.holdFull = m_HoldFull;
        e.released = held;
        Trust(out);
        return e;
    }
    // The offset follows the clock; only a jump is a step (a leap second is not).
    const int64_t offset = m_Clock.WallMs() - m_Clock.MonotonicMs();
    if (std::llabs(offset - m_OffsetMs) > kStepMs) {
        e.kind = Event::Stepped;
        e.stepMs = offset - m_OffsetMs;
    }
    m_OffsetMs = offset;
    return e;
}

void ClockKeeper::Add(const LoggerReading& r, std::vector<LoggerReading>* out)
{
    if (m_Trusted) {
        LoggerReading stamped = r;
        stamped.timeMs = r.monoMs + m_OffsetMs;
        out->push_back(stamped);
        return;
    }
    // Never drop a reading for want of a clock: a full hold ends the wait at the next Tick.
    m_Held.push_back(r);
    if (m_Held.size() >= size_t(kMaxHeld))
        m_HoldFull = true;
}

int ClockKeeper::GiveUp(std::vector<LoggerReading>* out)
{
    const int held = int(m_Held.size());
    if (!m_Trusted)
        Trust(out);
    return held;
}

bool ClockKeeper::MarkLastHeld()
{
    if (m_Held.empty())
        return false;
    m_Held.back().endsRun = true;
    return true;
}
