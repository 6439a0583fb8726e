#include "simclock.h"

#include <chrono>

int64_t SimClock::RealNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t SimClock::NowMs() const
{
    std::function<int64_t()> source;
    {
        std::lock_guard<std::mutex> g(m_Lock);
        if (m_Manual)
            return m_ManualMs;
        source = m_Source;
    }
    // Called outside the lock: the source may itself take locks of its own.
    return source ? source() : RealNowMs();
}

void SimClock::SetManual(int64_t startMs)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Manual = true;
    m_ManualMs = startMs;
}

void SimClock::Advance(int64_t ms)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_ManualMs += ms;
}

void SimClock::Set(int64_t ms)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_ManualMs = ms;
}

void SimClock::SetSource(std::function<int64_t()> source)
{
    std::lock_guard<std::mutex> g(m_Lock);
    m_Manual = false;
    m_Source = std::move(source);
}

bool SimClock::IsManual() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Manual;
}

bool SimClock::IsRealTime() const
{
    std::lock_guard<std::mutex> g(m_Lock);
    return !m_Manual && !m_Source;
}
