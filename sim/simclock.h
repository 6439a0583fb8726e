#pragma once
// The simulated sensor's own clock, in milliseconds since 1970-01-01 UTC.
// Real time by default; a test can step it by hand, or hand it any time source (for example the
// program's own replaceable clock) so that device and program agree on "now".
#include <cstdint>
#include <functional>
#include <mutex>

class SimClock {
public:
    int64_t NowMs() const;

    // Stepped mode: time stands at startMs until Advance or Set moves it.
    void SetManual(int64_t startMs);
    void Advance(int64_t ms);
    void Set(int64_t ms);
    // Any other time source; an empty function goes back to real time.
    void SetSource(std::function<int64_t()> source);
    void SetReal() { SetSource({}); }
    bool IsManual() const;
    // Neither stepped nor on another source: the wall clock.
    bool IsRealTime() const;

    static int64_t RealNowMs();

private:
    mutable std::mutex m_Lock;
    bool m_Manual = false;
    int64_t m_ManualMs = 0;
    std::function<int64_t()> m_Source;
};
